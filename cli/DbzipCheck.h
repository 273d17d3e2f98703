// dbzip --check: every archive of ours stored in a folder read back and
// decoded, several at once with --jobs, each told whole or damaged in the
// order of its name as soon as it and those before it are read, then a
// summary; plain lines or, with --json, JSON Lines. It writes nothing.
#pragma once

#include <atomic>
#include <ostream>
#include <string>

#include "DbzipOptions.h"
#include "DbzipRun.h"

// Checks options.checkDir: results to out, diagnostics to err; cancel ends
// it between two reads. Returns the exit status: 0 when every archive is
// whole, 1 when one is damaged or unreadable or a folder could not be
// listed, 2 when the folder is not one, 3 when no archive was found (0 with
// allowEmpty), 128 + the signal's number when interrupted.
int CheckDbzip(const DbzipOptions& options, std::ostream& out, std::ostream& err,
               const std::atomic<bool>& cancel = g_dbzipInterrupted);

// The --json summary of a check refused before it started: "end"
// "not-started", error as standard error words it, the folder when it was
// given (else null), no counts, and its exit status.
std::string DbzipCheckNotStartedJson(const DbzipOptions& options, bool dirGiven,
                                     const std::string& error, int status);
