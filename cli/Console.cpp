#include "Console.h"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "DbzipRun.h"

namespace {
extern "C" void OnInterrupt(int signal) {
  // The first signal names the run's end: 128 + its number, as shells and
  // service managers read an exit status.
  int none = 0;
  g_dbzipSignal.compare_exchange_strong(none, signal);
  g_dbzipInterrupted = true;
}
}  // namespace

std::vector<std::string> ConsoleArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

bool PrepareConsoleOutput() {
  const char* term = std::getenv("TERM");
  return ::isatty(STDERR_FILENO) == 1 && (term == nullptr || std::strcmp(term, "dumb") != 0);
}

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // A write to a slow pipe goes on after the signal instead of failing.
  action.sa_flags = SA_RESTART;
  // A signal ignored by whoever started dbzip stays ignored: nohup's SIGHUP,
  // a shell's SIGINT for a background job, the SIGPIPE that systemd and many
  // programs ignore, so that a closed pipe is a write error (EPIPE) instead.
  const auto handle = [&action](int number) {
    struct sigaction inherited {};
    if (sigaction(number, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) return;
    sigaction(number, &action, nullptr);
  };
  handle(SIGINT);
  handle(SIGTERM);
  // A closed terminal ends the run the same way: the archive being written is
  // removed and the previous one kept.
  handle(SIGHUP);
  // So does a reader of the results that went away (dbzip | head): the run
  // cleans up instead of dying with an archive half written.
  handle(SIGPIPE);
  // A file-size limit then shows as a write error that names the archive,
  // instead of killing the process with the archive half written.
  signal(SIGXFSZ, SIG_IGN);
}

void ConsoleRunEnded() {}
