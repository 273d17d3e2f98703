#include "DbzipHints.h"

#include <string_view>

#include "DirList.h"
#include "Masks.h"

namespace {

// The short options that take no value: a bundle of them may end in 'k'.
constexpr std::string_view kFlagLetters = "rknTqhV123456789";

// Whether arg asks for --keep-tags as its last option, with no value after it.
bool EndsWithKeepTags(std::string_view arg) {
  if (arg.substr(0, 2) == "--") {
    // --keep itself is the count; a longer prefix of --keep-tags is the tags.
    const std::string_view name = arg.substr(2);
    return name.size() > 4 && std::string_view("keep-tags").substr(0, name.size()) == name;
  }
  if (arg.size() < 2 || arg[0] != '-') return false;
  for (const char c : arg.substr(1))
    if (kFlagLetters.find(c) == std::string_view::npos) return false;
  return arg.back() == 'k';
}

bool LooksLikeNumber(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// The look for databases in sub-folders stays small whatever the tree: a
// huge or deep tree ends it unanswered rather than keep the user waiting.
constexpr int kMaxDepth = 4;
constexpr int kMaxEntries = 10000;

struct Probe {
  const TMaskList& wanted;
  const TMaskList& excluded;
  int entriesLeft = kMaxEntries;

  // Whether a name the search would take lies in folder (depth levels below
  // the source folder) or below it; the source folder's own files are not
  // looked at, since the run already did.
  bool Finds(TDirList& folder, int depth) {
    while (folder.Next()) {
      if (--entriesLeft < 0) return false;
      const std::string_view name = folder.Name();
      if (name == "." || name == "..") continue;
      if (depth > 0 && wanted.Matches(name) && !excluded.Matches(name)) return true;
      // Never through a link: it may lead anywhere, or back into the tree.
      if (depth < kMaxDepth && folder.IsDirectory() && !folder.IsLinkToDirectory()) {
        TDirList sub(folder, name);
        if (Finds(sub, depth + 1)) return true;
      }
    }
    return false;
  }
};

}  // namespace

std::string KeepTagsHint(const std::vector<std::string>& args) {
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--") break;
    if (EndsWithKeepTags(args[i]) && LooksLikeNumber(args[i + 1]))
      return " (-k is --keep-tags; to keep earlier archives use --keep N)";
  }
  return {};
}

std::string SubfolderHint(const DbzipOptions& options) {
  if (options.recursive) return {};
  try {
    const TMaskList wanted(options.FileMask());
    const TMaskList excluded(options.exclude.value_or(""));
    Probe probe{wanted, excluded};
    TDirList source(options.sourceDir);
    if (probe.Finds(source, 0)) return "; databases lie in its sub-folders: use -r";
  } catch (const EMaskError&) {
    // The masks were checked before the run; a hint is never worth a failure.
  }
  return {};
}
