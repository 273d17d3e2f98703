// The writer's file list: turning FilesList into existing plain paths with
// their total size, and the wildcard lists that exclude files or keep them
// uncompressed.
#include <algorithm>
#include <filesystem>

#include "CodePage.h"
#include "File.h"
#include "FileSearch.h"
#include "Files.h"
#include "FsPath.h"
#include "Masks.h"
#include "Text.h"
#include "ZipWriter.h"

namespace {

constexpr const char* kPatternCharacters = "*?<>|";

// What a directory lookup of a plain entry reports.
struct TLookup {
  bool found = false;
  int64_t size = 0;
  uint32_t attr = 0;
};

TLookup LookUp(const std::string& path) {
  TLookup result;
  result.attr = FileGetAttr(path);
  if (result.attr == faInvalid) return result;
  result.found = true;
  std::error_code error;
  const auto size = std::filesystem::file_size(FsPath(path), error);
  if (!error) result.size = static_cast<int64_t>(size);
  return result;
}

}  // namespace

void TZipWriter::ExpandFileList() {
  totalBytes_ = 0;
  bytesDone_ = 0;
  std::vector<std::string> patterns;
  size_t index = 0;
  while (index < FilesList.size()) {
    std::string& entry = FilesList[index];
    const auto drop = [&] { FilesList.erase(FilesList.begin() + static_cast<ptrdiff_t>(index)); };
    if (!LiteralNames && entry.find_first_of(kPatternCharacters) != std::string::npos) {
      patterns.push_back(entry);
      drop();
      continue;
    }
    if (entry.find(PathDelim) == std::string::npos) entry = rootDir_ + entry;
    if (MatchesList(entry, ExcludeList)) {
      drop();
      continue;
    }
    const TLookup found = LookUp(entry);
    if (!found.found) {
      const std::string missing = entry;
      drop();
      if (OnNoSuchFile) OnNoSuchFile(this, missing);
      continue;
    }
    if ((SkipIfArchiveBitNotSet && (found.attr & faArchive) == 0) || FreshensNothing(entry)) {
      drop();
      continue;
    }
    totalBytes_ += found.size;
    ++index;
  }

  for (std::string pattern : patterns) {
    bool recurse = Recurse;
    if (pattern.front() == '|' || pattern.front() == '>') {
      recurse = pattern.front() == '>';
      pattern.erase(0, 1);
    }
    std::string dir = ExtractFilePath(pattern);
    if (dir.empty()) dir = rootDir_;
    if (!dir.empty() && !DirectoryExists(dir)) continue;
    const TMask mask(ExtractFileName(pattern));
    SearchFiles(dir, mask, recurse, [&](const TFoundFile& file) {
      if (MatchesList(file.Path, ExcludeList) || SameFileName(file.Path, ZipName()) ||
          (SkipIfArchiveBitNotSet && (file.Attr & faArchive) == 0) || FreshensNothing(file.Path)) {
        return;
      }
      FilesList.push_back(file.Path);
      totalBytes_ += file.Size;
    });
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
  if (!storePaths_) return std::string();
  std::string dir = ExtractFilePath(path);
  if (relativePaths_) {
    if (!rootDir_.empty() && dir.size() >= rootDir_.size() &&
        SameFileName(dir.substr(0, rootDir_.size()), rootDir_)) {
      dir.erase(0, rootDir_.size());
    }
  } else if (!storeVolumes_) {
    dir.erase(0, std::min<size_t>(dir.size(), DrivePartLength));
  }
  // A stored name never starts at the root, so no reader extracts it
  // outside its target directory (POSIX has no volume to keep there).
  while (!dir.empty() && dir.front() == PathDelim) dir.erase(0, 1);
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
