// One dbzip run: the search, the archive naming and the archive writer of the
// window program, driven from the command line, optionally several at once.
#pragma once

#include <atomic>
#include <ostream>

#include "DbzipOptions.h"

// Set (from a signal handler) to end the run: the archive being written is
// deleted and the run returns 130.
extern std::atomic<bool> g_dbzipInterrupted;

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNotAllArchived = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

// Runs dbzip with parsed options: results go to out, diagnostics to err, and
// with statusLine a line redrawn in place on err shows the databases being
// zipped (else out gets a line as each starts). Returns the exit status.
int RunDbzip(const DbzipOptions& options, std::ostream& out, std::ostream& err, bool statusLine);
