// dbzip: zips every database file of a folder into an archive of its own,
// without a window.
#include <iostream>

#include "Console.h"
#include "DbzipCheck.h"
#include "DbzipOptions.h"
#include "DbzipRun.h"
#include "PrintedName.h"

int main(int argc, char** argv) {
  const DbzipCommand cmd = ParseDbzipArguments(ConsoleArguments(argc, argv));
  switch (cmd.kind) {
    case DbzipCommand::Kind::Help:
      std::cout << kDbzipHelp;
      return kExitOk;
    case DbzipCommand::Kind::Version:
      std::cout << kDbzipVersion;
      return kExitOk;
    case DbzipCommand::Kind::UsageError: {
      // The error quotes what was typed: a value holding a newline must not
      // forge a line.
      const std::string error = EscapeControls(cmd.error);
      std::cerr << "dbzip: " << error << "\nTry 'dbzip --help' for more information.\n";
      if (cmd.options.json) {
        // A reader that went away makes no other status of a usage error.
        InstallInterruptHandlers();
        std::cout << (cmd.options.check
                          ? DbzipCheckNotStartedJson(cmd.options, cmd.foldersGiven, error,
                                                     kExitUsage)
                          : DbzipNotStartedJson(cmd.options, cmd.foldersGiven, error, kExitUsage))
                  << std::endl;
      }
      return kExitUsage;
    }
    case DbzipCommand::Kind::Run:
      break;
  }
  InstallInterruptHandlers();
  const bool statusLine = PrepareConsoleOutput();
  // A check prints a line per archive as it is read and draws no status line.
  const int status = cmd.options.check ? CheckDbzip(cmd.options, std::cout, std::cerr)
                                       : RunDbzip(cmd.options, std::cout, std::cerr, statusLine);
  ConsoleRunEnded();
  return status;
}
