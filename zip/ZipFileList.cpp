// The writer's file list: turning FilesList into existing plain paths with
// their total size, and the wildcard lists that exclude files or keep them
// uncompressed.
#include <algorithm>
#include <vector>

#include "CodePage.h"
#include "File.h"
#include "Files.h"
#include "Masks.h"
#include "Text.h"
#include "WriterServices.h"
#include "ZipWriter.h"

namespace {

constexpr const char* kPatternCharacters = "*?<>|";

}  // namespace

void TZipWriter::ExpandFileList() {
  totalBytes_ = 0;
  bytesDone_ = 0;
  std::vector<std::string> patterns;
  size_t index = 0;
  while (index < FilesList.size()) {
    std::string& entry = FilesList[index];
    const auto drop = [&] { FilesList.erase(FilesList.begin() + static_cast<ptrdiff_t>(index)); };
    if (!run_.literalNames && entry.find_first_of(kPatternCharacters) != std::string::npos) {
      patterns.push_back(entry);
      drop();
      continue;
    }
    if (entry.find(PathDelim) == std::string::npos) entry = rootDir_ + entry;
    if (MatchesList(entry, ExcludeList)) {
      drop();
      continue;
    }
    const TFileStatus found = FileStatusOf(entry);
    if (!found.Exists()) {
      const std::string missing = entry;
      drop();
      if (OnNoSuchFile) OnNoSuchFile(this, missing);
      continue;
    }
    if ((SkipIfArchiveBitNotSet && (found.Attr & faArchive) == 0) || FreshensNothing(entry)) {
      drop();
      continue;
    }
    totalBytes_ += found.Size;
    ++index;
  }

  // The program installs the search; without it a pattern finds nothing.
  const TPatternSearch& search = PatternSearch();
  for (std::string pattern : patterns) {
    if (!search) break;
    bool recurse = run_.recurse;
    if (pattern.front() == '|' || pattern.front() == '>') {
      recurse = pattern.front() == '>';
      pattern.erase(0, 1);
    }
    std::string dir = ExtractFilePath(pattern);
    if (dir.empty()) dir = rootDir_;
    // With no directory named at all there is nothing to search: the
    // current directory is not a stand-in for RootDir.
    if (!DirectoryExists(dir)) continue;
    for (const TPatternFile& file :
         search(dir, ExtractFileName(pattern), recurse, DoProcessMessages)) {
      const std::string& path = file.Path;
      if (MatchesList(path, ExcludeList) || SameFileName(path, ZipName()) ||
          (SkipIfArchiveBitNotSet && (file.Attr & faArchive) == 0) || FreshensNothing(path)) {
        continue;
      }
      FilesList.push_back(path);
      // The search reports no size: the total takes the file's own.
      totalBytes_ += FileStatusOf(path).Size;
    }
  }
}

bool TZipWriter::MatchesList(const std::string& path, const std::vector<std::string>& list) const {
  if (list.empty()) return false;
  const std::string name = LowerCaseAscii(ExtractFileName(path));
  const std::string whole = LowerCaseAscii(path);
  for (const std::string& item : list) {
    const std::string pattern = LowerCaseAscii(item);
    const TMask mask(pattern);
    if (mask.MatchName(pattern.find(PathDelim) != std::string::npos ? whole : name)) return true;
  }
  return false;
}

std::string TZipWriter::StoredDirectory(const std::string& path) const {
  if (!run_.storePaths) return std::string();
  std::string dir = ExtractFilePath(path);
  if (relativePaths_) {
    // RootDir is a prefix of text, whatever case the file system gives it.
    if (!rootDir_.empty() &&
        SameTextAscii(std::string_view(dir).substr(0, rootDir_.size()), rootDir_)) {
      dir.erase(0, rootDir_.size());
    }
  } else if (!storeVolumes_) {
    // The drive and the root go; StoreVolumes keeps both.
    dir.erase(0, std::min<size_t>(dir.size(), DrivePartLength));
    if (!dir.empty() && dir.front() == PathDelim) dir.erase(0, 1);
  }
  return dir;
}

std::string TZipWriter::ReadBackName(const std::string& name) {
  // A name that is not UTF-8 is stored byte for byte and read back in its
  // code page 437 reading; every other name comes back as it was.
  const TOemName stored = AnsiToOem(name);
  return OemToAnsi(stored.bytes, stored.utf8);
}

std::string TZipWriter::StoredName(const std::string& path) const {
  return ReadBackName(StoredDirectory(path) + ExtractFileName(path));
}

bool TZipWriter::HoldsEntry(const TSortedZip& entries, const std::string& name) {
  return std::any_of(entries.begin(), entries.end(), [&](const TZipHeaderInfo* entry) {
    return SameTextAscii(ReadBackName(entry->Directory() + entry->FileName()), name);
  });
}

bool TZipWriter::FreshensNothing(const std::string& path) const {
  return ZipAction == TZipAction::zaFreshen &&
         ArchiveEntries().FindName(StoredName(path)) == nullptr;
}
