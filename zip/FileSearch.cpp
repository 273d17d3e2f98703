#include "FileSearch.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "DirList.h"
#include "Files.h"
#include "Masks.h"

void SearchFiles(const std::string& dir, const TMask& mask, bool recurse,
                 const TFoundFileEvent& found) {
  std::vector<TFoundFile> files;
  std::vector<std::string> subdirs;
  {
    TDirList list(dir.empty() ? std::string(".") : dir);
    while (list.Next()) {
      const std::string_view name = list.Name();
      if (name == "." || name == "..") continue;
      if (list.IsDirectory()) {
        if (recurse && !list.IsLinkToDirectory()) subdirs.emplace_back(name);
        continue;
      }
      if (!mask.MatchName(name)) continue;
      const TDirEntryInfo& info = list.Describe();
      files.push_back({dir + std::string(name), info.Size, info.Attr});
    }
  }
  std::sort(files.begin(), files.end(),
            [](const TFoundFile& a, const TFoundFile& b) { return a.Path < b.Path; });
  std::sort(subdirs.begin(), subdirs.end());
  for (const TFoundFile& file : files) found(file);
  for (const std::string& sub : subdirs) SearchFiles(dir + sub + PathDelim, mask, recurse, found);
}
