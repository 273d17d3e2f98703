#include "PatternSearch.h"

#include <algorithm>
#include <utility>

#include "Files.h"
#include "Masks.h"
#include "SFolders.h"

namespace {

// Files of a directory before its sub-directories, each in name order: the
// separator sorts before every other character.
bool InSearchOrder(const TFilePack& a, const TFilePack& b) {
  const auto key = [](char c) { return c == PathDelim ? -1 : static_cast<unsigned char>(c); };
  if (a.Dir != b.Dir) {
    return std::lexicographical_compare(a.Dir.begin(), a.Dir.end(), b.Dir.begin(), b.Dir.end(),
                                        [&](char x, char y) { return key(x) < key(y); });
  }
  return a.FileName < b.FileName;
}

}  // namespace

std::vector<TPatternFile> SearchPatternFiles(const std::string& dir, const std::string& name,
                                             bool recurse, bool processMessages) {
  TSearchFolders search;
  // The folder search splits its mask at commas and trims spaces: a name that
  // holds either is matched here alone.
  const bool plain = !name.empty() && name.find(',') == std::string::npos && name.front() != ' ' &&
                     name.back() != ' ';
  search.FileMask = plain ? name : "*";
  search.ScanOptions = TScanOptions::soSpecifiedDir;
  search.ScanDir = dir;
  search.DoRecursive = recurse;
  search.Messages = processMessages;
  search.Scan();
  const TMask mask(name);
  std::vector<TFilePack> found;
  for (TFilePack& file : search.FoundFiles) {
    if ((file.Attr & faDirectory) == 0 && mask.MatchName(file.FileName))
      found.push_back(std::move(file));
  }
  std::sort(found.begin(), found.end(), InSearchOrder);
  std::vector<TPatternFile> files;
  files.reserve(found.size());
  for (const TFilePack& file : found) files.push_back({file.Dir + file.FileName, file.Attr});
  return files;
}
