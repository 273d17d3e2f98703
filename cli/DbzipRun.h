// One dbzip run: the window program's run, driven from the command line,
// optionally several databases at once, told on the standard streams.
#pragma once

#include <atomic>
#include <ostream>
#include <string>

#include "DbzipJson.h"
#include "DbzipOptions.h"

// The run's one cancel token: the signal handlers set it to end the run (the
// archive being written is deleted and the run returns 128 + the signal's
// number, the one they store in g_dbzipSignal; 130 when none is stored).
extern std::atomic<bool> g_dbzipInterrupted;
extern std::atomic<int> g_dbzipSignal;

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNotAllArchived = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNothingFound = 3;
inline constexpr int kExitInterrupted = 130;  // by SIGINT or Ctrl-C

// Why dir cannot be a folder dbzip works on, in the system's words where it
// gave some ("not a directory" else); empty when it can.
std::string DbzipFolderProblem(const std::string& dir);
// The exit status of a run the signal handlers ended: 128 + the signal's
// number, 130 when none is stored.
int DbzipInterruptedStatus();

// The jobs asked for, -j 0 as make and xz take it: one per processor.
int DbzipJobs(const DbzipOptions& options);

class ResultOut;
// The exit status once the results are told: status, unless they never
// reached standard output (a full disk, a closed pipe), which err is told of
// and which fails a run that had gone well.
int DbzipStatusWritten(const ResultOut& results, int status, std::ostream& err);

// Runs dbzip with parsed options: results go to out, diagnostics to err, and
// with statusLine a line redrawn in place on err shows the databases being
// zipped and the run's progress (else out gets a line as each starts). cancel
// ends it. Returns the exit status.
int RunDbzip(const DbzipOptions& options, std::ostream& out, std::ostream& err, bool statusLine,
             const std::atomic<bool>& cancel = g_dbzipInterrupted);
