// dbzip: zips every database file of a folder into an archive of its own,
// without a window.
#include <iostream>

#include "Console.h"
#include "DbzipOptions.h"
#include "DbzipRun.h"

int main(int argc, char** argv) {
  const DbzipCommand cmd = ParseDbzipArguments(ConsoleArguments(argc, argv));
  switch (cmd.kind) {
    case DbzipCommand::Kind::Help:
      std::cout << kDbzipHelp;
      return kExitOk;
    case DbzipCommand::Kind::Version:
      std::cout << kDbzipVersion;
      return kExitOk;
    case DbzipCommand::Kind::UsageError:
      std::cerr << "dbzip: " << cmd.error << "\nTry 'dbzip --help' for more information.\n";
      if (cmd.options.json) {
        // A reader that went away makes no other status of a usage error.
        InstallInterruptHandlers();
        std::cout << DbzipNotStartedJson(cmd.options, cmd.foldersGiven, cmd.error, kExitUsage)
                  << std::endl;
      }
      return kExitUsage;
    case DbzipCommand::Kind::Run:
      break;
  }
  InstallInterruptHandlers();
  const bool statusLine = PrepareConsoleOutput();
  const int status = RunDbzip(cmd.options, std::cout, std::cerr, statusLine);
  ConsoleRunEnded();
  return status;
}
