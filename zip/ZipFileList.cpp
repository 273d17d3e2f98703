// The writer's file list: turning FilesList into existing plain paths with
// their total size, and the wildcard lists that exclude files or keep them
// uncompressed.
#include <algorithm>
#include <vector>

#include "CodePage.h"
#include "File.h"
#include "Files.h"
#include "Masks.h"
#include "SFolders.h"
#include "Text.h"
#include "ZipWriter.h"

namespace {

constexpr const char* kPatternCharacters = "*?<>|";

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

// The files (no directories) under dir whose names match the pattern's name
// part, in search order; with recurse, those of its sub-directories too.
std::vector<TFilePack> SearchPattern(const std::string& dir, const std::string& name, bool recurse,
                                     bool processMessages) {
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
  std::vector<TFilePack> files;
  for (TFilePack& found : search.FoundFiles) {
    if ((found.Attr & faDirectory) == 0 && mask.MatchName(found.FileName))
      files.push_back(std::move(found));
  }
  std::sort(files.begin(), files.end(), InSearchOrder);
  return files;
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

  for (std::string pattern : patterns) {
    bool recurse = Recurse;
    if (pattern.front() == '|' || pattern.front() == '>') {
      recurse = pattern.front() == '>';
      pattern.erase(0, 1);
    }
    std::string dir = ExtractFilePath(pattern);
    if (dir.empty()) dir = rootDir_;
    // With no directory named at all there is nothing to search: the
    // current directory is not a stand-in for RootDir.
    if (!DirectoryExists(dir)) continue;
    for (const TFilePack& file :
         SearchPattern(dir, ExtractFileName(pattern), recurse, DoProcessMessages)) {
      const std::string path = file.Dir + file.FileName;
      if (MatchesList(path, ExcludeList) || SameFileName(path, ZipName()) ||
          (SkipIfArchiveBitNotSet && (file.Attr & faArchive) == 0) || FreshensNothing(path)) {
        continue;
      }
      FilesList.push_back(path);
      // The search keeps 32 bits of a size; the total needs all of them.
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
  if (!storePaths_) return std::string();
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
