#include "DbzipOptions.h"

#include <charconv>

#include "Version.h"

const char* const kDbzipHelp =
    "Usage: dbzip [OPTIONS] SOURCE_DIR OUTPUT_DIR\n"
    "Zip every database file found in SOURCE_DIR into an archive of its own in\n"
    "OUTPUT_DIR, as the Tamblewick Remote Database Zipper window does.\n"
    "\n"
    "  -t, --type TYPE      msde (files *.mdf, the default) or interbase (*.gdb)\n"
    "  -r, --recursive      search the sub-directories too\n"
    "  -l, --level N        compression level, 9 (highest, the default) to 1 (fastest)\n"
    "  -k, --keep-tags      MSDE: keep the tags QRN_ and _dat in archive names\n"
    "  -m, --mask LIST      comma-separated file masks, replacing the type's mask\n"
    "  -j, --jobs N         zip up to N databases at once (default 1)\n"
    "  -q, --quiet          print only errors\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "\n"
#ifdef _WIN32
    "Example: dbzip -r -l 6 C:\\Data\\Databases D:\\Backup\n"
#else
    "Example: dbzip -r -l 6 /srv/databases /var/backups/databases\n"
#endif
    "\n"
    "Exit status: 0 when every database found was archived, 1 when some were not\n"
    "or a run error stopped the run, 2 for a usage error, 130 when interrupted.\n";

const std::string kDbzipVersion =
    std::string("dbzip (Tamblewick Remote Database Zipper) ") + kProductVersion + "\n";

std::string DbzipOptions::FileMask() const {
  if (mask) return *mask;
  return type == DatabaseType::Msde ? "*.mdf" : "*.gdb";
}

namespace {

bool ParseInt(const std::string& text, int low, int high, int& value) {
  int v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < low || v > high) return false;
  value = v;
  return true;
}

DbzipCommand Usage(std::string error) {
  DbzipCommand c;
  c.kind = DbzipCommand::Kind::UsageError;
  c.error = std::move(error);
  return c;
}

}  // namespace

DbzipCommand ParseDbzipArguments(const std::vector<std::string>& args) {
  DbzipCommand cmd;
  DbzipOptions& o = cmd.options;
  std::vector<std::string> operands;
  bool help = false, version = false;

  // Applies one option; value is set for the options that take one.
  auto apply = [&](char opt, const std::string& value) -> std::string {
    switch (opt) {
      case 't':
        if (value == "msde")
          o.type = DatabaseType::Msde;
        else if (value == "interbase")
          o.type = DatabaseType::Interbase;
        else
          return "invalid database type '" + value + "' (msde or interbase)";
        return {};
      case 'l':
        return ParseInt(value, 1, 9, o.level) ? "" : "invalid level '" + value + "' (1 to 9)";
      case 'm':
        o.mask = value;
        return {};
      case 'j':
        return ParseInt(value, 1, 256, o.jobs) ? "" : "invalid job count '" + value + "'";
      case 'r':
        o.recursive = true;
        return {};
      case 'k':
        o.keepTags = true;
        return {};
      case 'q':
        o.quiet = true;
        return {};
      case 'h':
        help = true;
        return {};
      case 'V':
        version = true;
        return {};
    }
    return "invalid option";
  };
  auto takesValue = [](char opt) { return opt == 't' || opt == 'l' || opt == 'm' || opt == 'j'; };
  static const std::pair<const char*, char> longNames[] = {
      {"type", 't'}, {"recursive", 'r'}, {"level", 'l'}, {"keep-tags", 'k'}, {"mask", 'm'},
      {"jobs", 'j'}, {"quiet", 'q'},     {"help", 'h'},  {"version", 'V'}};

  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      operands.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg.rfind("--", 0) == 0) {
      const auto eq = arg.find('=');
      const std::string name = arg.substr(2, eq == std::string::npos ? eq : eq - 2);
      char opt = 0;
      for (const auto& [longName, shortName] : longNames)
        if (name == longName) opt = shortName;
      if (opt == 0) return Usage("unrecognized option '--" + name + "'");
      std::string value;
      if (takesValue(opt)) {
        if (eq != std::string::npos)
          value = arg.substr(eq + 1);
        else if (i + 1 < args.size())
          value = args[++i];
        else
          return Usage("option '--" + name + "' requires an argument");
      } else if (eq != std::string::npos) {
        return Usage("option '--" + name + "' doesn't allow an argument");
      }
      if (auto e = apply(opt, value); !e.empty()) return Usage(e);
    } else {
      // Short options, possibly bundled (-rq); a value may be attached (-l6).
      for (size_t k = 1; k < arg.size(); ++k) {
        const char opt = arg[k];
        if (std::string("tlmjrkqhV").find(opt) == std::string::npos)
          return Usage(std::string("invalid option -- '") + opt + "'");
        std::string value;
        if (takesValue(opt)) {
          if (k + 1 < arg.size())
            value = arg.substr(k + 1);
          else if (i + 1 < args.size())
            value = args[++i];
          else
            return Usage(std::string("option requires an argument -- '") + opt + "'");
          k = arg.size();
        }
        if (auto e = apply(opt, value); !e.empty()) return Usage(e);
      }
    }
  }

  if (help) {
    cmd.kind = DbzipCommand::Kind::Help;
  } else if (version) {
    cmd.kind = DbzipCommand::Kind::Version;
  } else if (operands.size() != 2) {
    return Usage(operands.size() < 2 ? "missing SOURCE_DIR or OUTPUT_DIR" : "too many operands");
  } else {
    o.sourceDir = operands[0];
    o.outputDir = operands[1];
  }
  return cmd;
}
