// Command-line options of dbzip, the headless companion of the window program.
#pragma once

#include <optional>
#include <string>
#include <vector>

enum class DatabaseType { Msde, Interbase };

struct DbzipOptions {
  DatabaseType type = DatabaseType::Msde;
  bool recursive = false;
  int level = 9;
  bool keepTags = false;
  std::optional<std::string> mask;     // replaces the type's mask when given
  std::optional<std::string> exclude;  // masks of files that are not databases
  int jobs = 1;                        // 0: one per core
  bool json = false;                   // JSON Lines on standard output
  bool dryRun = false;                 // list what a run would do, write nothing
  bool verify = false;  // read each archive back and decode it before it replaces the old one
  int keep = 0;         // earlier archives kept beside each new one
  bool update = false;  // leave an archive that already holds its database as it stands
  bool quiet = false;
  bool allowEmpty = false;  // finding no database is no failure
  bool wait = false;        // another run into the output folder is waited for
  bool tree = false;        // archives in the source's folders below the output folder
  bool clone = true;        // read each database from a clone where its file system makes one
  std::string sourceDir;
  std::string outputDir;
  // --check: read the archives stored in checkDir (and with recursive its
  // sub-folders), write nothing.
  bool check = false;
  std::string checkDir;

  // The mask list the search uses: --mask, else the type's own.
  std::string FileMask() const;
  // Tags are removed for MSDE unless --keep-tags; never for Interbase.
  bool RemoveTags() const { return type == DatabaseType::Msde && !keepTags; }
};

// What the command line asks for.
struct DbzipCommand {
  enum class Kind { Run, Help, Version, UsageError } kind = Kind::Run;
  // For UsageError, every option read (--json among them, wherever it
  // stands) and both folders when two operands were given.
  DbzipOptions options;
  // Both operands were read into the options (with --check, its one folder).
  bool foldersGiven = false;
  std::string error;  // for UsageError: the first thing that was wrong
};

// Parses the arguments after the program's name, GNU style (getopt_long):
// bundled short options, unambiguous prefixes of long ones, options after the
// operands, "--" ending them. On Windows "/?" before "--" asks for the help.
DbzipCommand ParseDbzipArguments(const std::vector<std::string>& args);

// Why dbzip refuses a mask list: the fault and the character at fault counted
// in the whole list as typed; empty when every mask of it compiles.
std::string MaskListProblem(const std::string& fileMask);

extern const char* const kDbzipHelp;
extern const std::string kDbzipVersion;
