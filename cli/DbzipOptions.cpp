#include "DbzipOptions.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "DbzipHints.h"
#include "Masks.h"
#include "Version.h"

const char* const kDbzipHelp =
    "Usage: dbzip [OPTIONS] SOURCE_DIR OUTPUT_DIR\n"
    "       dbzip --check [-r] [-j N] [-q] [--json] [--allow-empty] DIR\n"
    "Zip every database file found in SOURCE_DIR into an archive of its own in\n"
    "OUTPUT_DIR, as the Tamblewick Remote Database Zipper window does; or check\n"
    "the archives already stored in DIR.\n"
    "\n"
    "  -t, --type TYPE      msde (files *.mdf, the default) or interbase (*.gdb),\n"
    "                       in any case\n"
    "  -r, --recursive      search the sub-directories too\n"
    "  -l, --level N        compression level, 9 (highest, the default) to 1 (fastest)\n"
    "  -1 ... -9            the same as --level 1 ... --level 9\n"
    "  -k, --keep-tags      MSDE: keep the tags QRN_ and _dat in archive names\n"
    "  -m, --mask LIST      comma-separated file masks, replacing the type's mask\n"
    "  -x, --exclude LIST   comma-separated masks of files to leave out\n"
    "  -j, --jobs N         zip up to N databases at once (default 1; 0: one per\n"
    "                       processor)\n"
    "  -n, --dry-run        list each database with the archive it would get, and\n"
    "                       what would be skipped and why; write nothing\n"
    "  -T, --verify         read each archive back from the disk and decode it\n"
    "                       before it replaces the old one\n"
    "      --keep N         keep the N previous archives as NAME.zip.1 (newest)\n"
    "                       to NAME.zip.N beside the new NAME.zip (0 to 999)\n"
    "  -u, --update         leave an archive that already holds its database as it\n"
    "                       would be written again (the database is still read\n"
    "                       whole for its CRC-32); reported as unchanged\n"
    "  -q, --quiet          print only errors\n"
    "      --json           print one JSON object per database and one for the\n"
    "                       summary on standard output, one per line\n"
    "      --allow-empty    finding no database is no failure (exit status 0)\n"
    "      --no-clone       read each database directly, not from a clone taken at\n"
    "                       one instant where its file system can make one\n"
    "      --tree           put each archive in the folder below OUTPUT_DIR that its\n"
    "                       database has below SOURCE_DIR, made as needed\n"
    "      --wait           wait for another run writing into OUTPUT to end, not\n"
    "                       fail at once\n"
    "      --check          read every archive stored in DIR (NAME.zip and NAME.zip.N;\n"
    "                       with -r, in its sub-folders too) and decode it, and tell\n"
    "                       each whole or damaged; write nothing. Takes -r, -j, -q,\n"
    "                       --json and --allow-empty\n"
#ifdef _WIN32
    "  -h, --help, /?       show this help and exit\n"
#else
    "  -h, --help           show this help and exit\n"
#endif
    "  -V, --version        show the version and exit\n"
    "\n"
#ifdef _WIN32
    "Examples: dbzip -r -l 6 C:\\Data\\Databases D:\\Backup\n"
    "          dbzip --check -r -j 0 D:\\Backup\n"
    "\n"
    "Restore: NAME.zip is the newest archive, NAME.zip.1 (with --keep) the one\n"
    "before: tar -xf ARCHIVE -C FOLDER extracts one. See RESTORE in the manual.\n"
#else
    "Examples: dbzip -r -l 6 /srv/databases /var/backups/databases\n"
    "          dbzip --check -r -j 0 /var/backups/databases\n"
    "\n"
    "Restore: NAME.zip is the newest archive, NAME.zip.1 (with --keep) the one\n"
    "before: check one with unzip -t, extract it with unzip -d FOLDER ARCHIVE.\n"
    "See RESTORE in man dbzip.\n"
#endif
    "\n"
    "Names that hold control characters, bytes that are not UTF-8, a quote, \": \"\n"
    "or \" -> \" are printed quoted as a shell reads them: 'a'$'\\n''b'.\n"
    "\n"
    "Exit status: 0 when every database found was archived, 1 when some were not\n"
    "(or, with --dry-run, would not be) or a run error stopped the run, 2 for a\n"
    "usage error, 3 when no database was found (0 with --allow-empty), 130 when\n"
#ifdef _WIN32
    "interrupted by Ctrl-C: the archive being written was deleted, and those\n"
    "archived before are in place and listed.\n"
#else
    "interrupted by Ctrl-C (143 by SIGTERM, 129 by SIGHUP, 141 by SIGPIPE): the\n"
    "archive being written was deleted, and those archived before are in place\n"
    "and listed.\n"
#endif
    "With --check: 0 when every archive is whole, 1 when any is damaged or cannot\n"
    "be read, 3 when none was found (0 with --allow-empty).\n";

const std::string kDbzipVersion =
    std::string("dbzip (Tamblewick Remote Database Zipper) ") + kProductVersion + "\n";

std::string DbzipOptions::FileMask() const {
  if (mask) return *mask;
  return type == DatabaseType::Msde ? "*.mdf" : "*.gdb";
}

namespace {

// ASCII letters compared without regard to case.
bool SameWord(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char c = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    if (c != b[i]) return false;
  }
  return true;
}

bool ParseInt(const std::string& text, int low, int high, int& value) {
  int v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < low || v > high) return false;
  value = v;
  return true;
}

// Long options without a short form take values past any character.
constexpr int kAllowEmpty = 256;
constexpr int kJson = 257;
constexpr int kNoClone = 258;
constexpr int kKeep = 259;
constexpr int kWait = 260;
constexpr int kCheck = 261;
constexpr int kTree = 262;

// The options; a leading ':' has getopt_long tell a missing argument apart.
// The digits are zip's and gzip's levels.
constexpr char kShortOptions[] = ":t:rl:km:x:j:nTuqhV123456789";
const option kLongOptions[] = {{"type", required_argument, nullptr, 't'},
                               {"recursive", no_argument, nullptr, 'r'},
                               {"level", required_argument, nullptr, 'l'},
                               {"keep-tags", no_argument, nullptr, 'k'},
                               {"mask", required_argument, nullptr, 'm'},
                               {"exclude", required_argument, nullptr, 'x'},
                               {"jobs", required_argument, nullptr, 'j'},
                               {"dry-run", no_argument, nullptr, 'n'},
                               {"verify", no_argument, nullptr, 'T'},
                               {"keep", required_argument, nullptr, kKeep},
                               {"quiet", no_argument, nullptr, 'q'},
                               {"allow-empty", no_argument, nullptr, kAllowEmpty},
                               {"json", no_argument, nullptr, kJson},
                               {"no-clone", no_argument, nullptr, kNoClone},
                               {"wait", no_argument, nullptr, kWait},
                               {"check", no_argument, nullptr, kCheck},
                               {"tree", no_argument, nullptr, kTree},
                               {"update", no_argument, nullptr, 'u'},
                               {"help", no_argument, nullptr, 'h'},
                               {"version", no_argument, nullptr, 'V'},
                               {nullptr, 0, nullptr, 0}};

bool TakesValue(int opt) {
  for (const option* o = kLongOptions; o->name != nullptr; ++o)
    if (o->val == opt) return o->has_arg == required_argument;
  return false;
}

// What getopt_long refused, worded as the GNU C library words it whichever
// library did the parsing (the Windows runtime's words differ), so that the
// messages are the same everywhere. element is the argument that held the
// refused option, kind the ':' or '?' getopt_long returned.
std::string Refusal(int kind, int opt, const std::string& element) {
  // A character that is no option of ours is a short option, even when the
  // element before its bundle was a long one.
  // (Long options without a short form are past any character.)
  const bool unknownShort =
      kind == '?' && opt > 0 && opt < 256 && std::strchr(kShortOptions, opt) == nullptr;
  if (!unknownShort && element.rfind("--", 0) == 0) {
    const std::string name = element.substr(2, element.find('=') - 2);
    if (opt != 0 && !TakesValue(opt)) return "option '--" + name + "' doesn't allow an argument";
    if (kind == ':') return "option '--" + name + "' requires an argument";
    int matches = 0;
    for (const option* o = kLongOptions; o->name != nullptr; ++o)
      if (std::strncmp(o->name, name.c_str(), name.size()) == 0) ++matches;
    if (matches > 1) return "option '--" + name + "' is ambiguous";
    return "unrecognized option '--" + name + "'";
  }
  if (kind == ':') return std::string("option requires an argument -- '") + char(opt) + "'";
  return std::string("invalid option -- '") + char(opt) + "'";
}

}  // namespace

namespace {

// What the options read so far say. The first fault is the one reported; the
// options after it are still read, so that a usage error is told as JSON when
// --json comes later.
struct TParse {
  explicit TParse(DbzipOptions& options) : o(options) {}
  DbzipOptions& o;
  bool help = false, version = false;
  std::string error;
  // The first option given that only a run of the archiver takes: --check
  // refuses it rather than leave the user believing it did something.
  std::string runOnly;

  void Fail(std::string text) {
    if (error.empty()) error = std::move(text);
  }
  void ForRun(const char* name) {
    if (runOnly.empty()) runOnly = name;
  }
};

// An option that takes a value; false when opt is none of them.
bool TakeValueOption(TParse& p, int opt, const std::string& value) {
  DbzipOptions& o = p.o;
  switch (opt) {
    case 't':
      p.ForRun("--type");
      if (SameWord(value, "msde"))
        o.type = DatabaseType::Msde;
      else if (SameWord(value, "interbase"))
        o.type = DatabaseType::Interbase;
      else
        p.Fail("invalid database type '" + value + "' (msde or interbase)");
      return true;
    case 'l':
      p.ForRun("--level");
      if (!ParseInt(value, 1, 9, o.level)) p.Fail("invalid level '" + value + "' (1 to 9)");
      return true;
    case 'm':
      p.ForRun("--mask");
      // A list of no mask would find nothing and report success.
      if (SplitFileMask(value).empty()) p.Fail("empty mask '" + value + "'");
      o.mask = value;
      return true;
    case 'x':
      p.ForRun("--exclude");
      // An empty list leaves nothing out, which is what it says.
      o.exclude = value;
      return true;
    case 'j':
      if (!ParseInt(value, 0, 256, o.jobs)) p.Fail("invalid job count '" + value + "'");
      return true;
    case kKeep:
      p.ForRun("--keep");
      if (!ParseInt(value, 0, 999, o.keep)) p.Fail("invalid count to keep '" + value + "'");
      return true;
    default:
      return false;
  }
}

// An option without a value; false when opt is none of them.
bool TakeFlag(TParse& p, int opt) {
  DbzipOptions& o = p.o;
  switch (opt) {
    case 'r':
      o.recursive = true;
      break;
    case 'k':
      p.ForRun("--keep-tags");
      o.keepTags = true;
      break;
    case 'n':
      p.ForRun("--dry-run");
      o.dryRun = true;
      break;
    case 'T':
      p.ForRun("--verify");
      o.verify = true;
      break;
    case 'u':
      o.update = true;
      break;
    case 'q':
      o.quiet = true;
      break;
    case kAllowEmpty:
      o.allowEmpty = true;
      break;
    case kWait:
      p.ForRun("--wait");
      o.wait = true;
      break;
    case kTree:
      p.ForRun("--tree");
      o.tree = true;
      break;
    case kNoClone:
      p.ForRun("--no-clone");
      o.clone = false;
      break;
    case kCheck:
      o.check = true;
      break;
    case kJson:
      o.json = true;
      break;
    case 'h':
      p.help = true;
      break;
    case 'V':
      p.version = true;
      break;
    default:
      if (opt < '1' || opt > '9') return false;
      p.ForRun("--level");
      o.level = opt - '0';
  }
  return true;
}

// The operands, and the faults only the whole command line shows; then the
// kind of command it is.
void Conclude(DbzipCommand& cmd, TParse& p, const std::vector<std::string>& operands,
              const std::vector<std::string>& args) {
  DbzipOptions& o = cmd.options;
  const size_t wanted = o.check ? 1 : 2;
  if (p.error.empty() && !p.help && !p.version) {
    if (o.check && !p.runOnly.empty())
      p.error = "option '" + p.runOnly + "' cannot be used with --check";
    else if (operands.size() != wanted)
      p.error = operands.size() <= wanted
                    ? (o.check ? "missing DIR" : "missing SOURCE_DIR or OUTPUT_DIR")
                : o.check ? "too many operands: --check takes one DIR"
                          : "too many operands" + KeepTagsHint(args);
  }
  if (operands.size() == wanted) {
    if (o.check) {
      o.checkDir = operands[0];
    } else {
      o.sourceDir = operands[0];
      o.outputDir = operands[1];
    }
    cmd.foldersGiven = true;
  }
  if (!p.error.empty()) {
    cmd.kind = DbzipCommand::Kind::UsageError;
    cmd.error = std::move(p.error);
  } else if (p.help) {
    cmd.kind = DbzipCommand::Kind::Help;
  } else if (p.version) {
    cmd.kind = DbzipCommand::Kind::Version;
  }
}

}  // namespace

DbzipCommand ParseDbzipArguments(const std::vector<std::string>& args) {
  DbzipCommand cmd;
#ifdef _WIN32
  // Windows programs answer "/?" with their help; a folder cannot be named so.
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "/?") {
      cmd.kind = DbzipCommand::Kind::Help;
      return cmd;
    }
  }
#endif

  // getopt_long may reorder its argv (options before operands), so it gets
  // copies; the first element stands for the program's name.
  std::vector<std::string> texts;
  texts.reserve(args.size() + 1);
  texts.push_back("dbzip");
  texts.insert(texts.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& t : texts) argv.push_back(t.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(texts.size());

  // 0 starts getopt_long afresh (each call parses a new list); its own
  // messages are off, ours follow.
  optind = 0;
  opterr = 0;
  TParse p(cmd.options);
  for (;;) {
    const int opt = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, nullptr);
    if (opt == -1) break;
    const std::string value = optarg != nullptr ? optarg : "";
    if (TakeValueOption(p, opt, value) || TakeFlag(p, opt)) continue;
    // The refused element is the last one getopt_long moved past, or for a
    // short option inside a bundle the one it is still reading.
    const int at = std::min(std::max(optind - 1, 1), argc - 1);
    const std::string element = at >= 1 && at < argc ? argv[static_cast<size_t>(at)] : "";
    p.Fail(Refusal(opt, optopt, element));
  }
  const std::vector<std::string> operands(argv.begin() + std::min(optind, argc),
                                          argv.begin() + argc);
  Conclude(cmd, p, operands, args);
  return cmd;
}

std::string MaskListProblem(const std::string& fileMask) {
  // Each item sits in the list after the previous one, past spaces and
  // commas, which no item begins with: searching on from there finds it.
  size_t from = 0;
  for (const std::string& item : SplitFileMask(fileMask)) {
    const size_t offset = fileMask.find(item, from);
    from = offset + item.size();
    // Masks match names within a folder: one with a folder in it would
    // silently find nothing.
#ifdef _WIN32
    const size_t separator = item.find_first_of("/\\");
#else
    const size_t separator = item.find('/');
#endif
    if (separator != std::string::npos) {
      return "invalid mask '" + fileMask + "' at character " +
             std::to_string(offset + separator + 1) +
             ": a path separator (masks match file names, not paths)";
    }
    try {
      // The window takes a reversed range as the empty range it is; here it
      // would quietly leave databases unfound, so it is refused.
      if (const size_t at = TMask(item).ReversedRangeAt(); at != 0) {
        return "invalid mask '" + fileMask + "' at character " + std::to_string(offset + at) +
               ": a range whose end comes before its start";
      }
    } catch (const EMaskError& e) {
      const char* fault = "";
      switch (e.Fault) {
        case EMaskError::TFault::UnclosedSet:
          fault = "a set '[' without its closing ']'";
          break;
        case EMaskError::TFault::EmptySet:
          fault = "an empty set";
          break;
        case EMaskError::TFault::RangeFirst:
          fault = "a range '-' with no character before it";
          break;
        case EMaskError::TFault::TooManyStars:
          fault = "more than 30 '*' groups in one mask";
          break;
      }
      return "invalid mask '" + fileMask + "' at character " + std::to_string(offset + e.At) +
             ": " + fault;
    }
  }
  return {};
}
