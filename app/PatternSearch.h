// The folder search behind the archive writer's pattern entries: what a
// program installs with SetPatternSearch (WriterServices.h) for FilesList
// entries such as "dir/*.mdf" to find files.
#pragma once

#include <string>
#include <vector>

#include "WriterServices.h"

// The files (no directories) in dir whose names match the mask name, files
// of a directory before its sub-directories and each in name order; with
// recurse, those of its sub-directories too. Raises the mask error for an
// invalid mask.
std::vector<TPatternFile> SearchPatternFiles(const std::string& dir, const std::string& name,
                                             bool recurse, bool processMessages);
