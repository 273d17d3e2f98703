// dbzip: zips every database file of a folder into an archive of its own,
// without a window.
#include <unistd.h>

#include <csignal>
#include <iostream>

#include "DbzipOptions.h"
#include "DbzipRun.h"

namespace {
extern "C" void OnInterrupt(int) { g_dbzipInterrupted = true; }
}  // namespace

int main(int argc, char** argv) {
  const DbzipCommand cmd = ParseDbzipArguments(std::vector<std::string>(argv + 1, argv + argc));
  switch (cmd.kind) {
    case DbzipCommand::Kind::Help:
      std::cout << kDbzipHelp;
      return kExitOk;
    case DbzipCommand::Kind::Version:
      std::cout << kDbzipVersion;
      return kExitOk;
    case DbzipCommand::Kind::UsageError:
      std::cerr << "dbzip: " << cmd.error << "\nTry 'dbzip --help' for more information.\n";
      return kExitUsage;
    case DbzipCommand::Kind::Run:
      break;
  }
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A closed terminal ends the run the same way: the archive being written is
  // removed and the previous one kept.
  sigaction(SIGHUP, &action, nullptr);
  // A file-size limit then shows as a write error that names the archive,
  // instead of killing the process with the archive half written.
  signal(SIGXFSZ, SIG_IGN);
  return RunDbzip(cmd.options, std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1);
}
