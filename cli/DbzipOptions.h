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
  std::optional<std::string> mask;  // replaces the type's mask when given
  int jobs = 1;
  bool quiet = false;
  std::string sourceDir;
  std::string outputDir;

  // The mask list the search uses: --mask, else the type's own.
  std::string FileMask() const;
  // Tags are removed for MSDE unless --keep-tags; never for Interbase.
  bool RemoveTags() const { return type == DatabaseType::Msde && !keepTags; }
};

// What the command line asks for.
struct DbzipCommand {
  enum class Kind { Run, Help, Version, UsageError } kind = Kind::Run;
  DbzipOptions options;
  std::string error;  // for UsageError: what was wrong
};

DbzipCommand ParseDbzipArguments(const std::vector<std::string>& args);

extern const char* const kDbzipHelp;
extern const std::string kDbzipVersion;
