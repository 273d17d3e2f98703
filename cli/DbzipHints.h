// Hints dbzip adds to a message when what was typed most likely meant
// something else: they point at the option that was wanted.
#pragma once

#include <string>
#include <vector>

#include "DbzipOptions.h"

// For "too many operands": when -k (--keep-tags) stood just before a number,
// as one who meant --keep N types it, the hint that says so, starting with a
// space; empty otherwise.
std::string KeepTagsHint(const std::vector<std::string>& args);

// For "no database found" in a run that was not recursive: when a bounded
// look into the source folder's sub-folders (never through a link) finds a
// name the run would have taken, the hint to use -r, starting with "; ";
// empty otherwise.
std::string SubfolderHint(const DbzipOptions& options);
