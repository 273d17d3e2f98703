#include "StoredArchives.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <utility>

#ifndef _WIN32
#include <fcntl.h>
#endif

#include "ArchiveOwnership.h"
#include "ArchiveVerify.h"
#include "DirList.h"
#include "Errors.h"
#include "Files.h"
#include "Streams.h"
#include "ZipReader.h"
#include "ZipRecords.h"

namespace {

constexpr char kArchiveSuffix[] = ".zip";
constexpr size_t kArchiveSuffixLength = sizeof kArchiveSuffix - 1;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The suffix ".zip" at at in name, as the system's names compare.
bool ZipSuffixAt(const std::string& name, size_t at) {
#ifdef _WIN32
  for (size_t i = 0; i < kArchiveSuffixLength; ++i) {
    char c = name[at + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kArchiveSuffix[i]) return false;
  }
  return true;
#else
  return name.compare(at, kArchiveSuffixLength, kArchiveSuffix) == 0;
#endif
}

// Where a generation's number starts in name (NAME.zip.N), else npos.
size_t GenerationAt(const std::string& name) {
  size_t digits = name.size();
  while (digits > 0 && IsDigit(name[digits - 1])) --digits;
  if (digits == name.size() || digits < kArchiveSuffixLength + 1 || name[digits - 1] != '.')
    return std::string::npos;
  return ZipSuffixAt(name, digits - 1 - kArchiveSuffixLength) ? digits : std::string::npos;
}

// A run's temporary: NAME.zip.tzw- or .tzk- and six lower-case letters or
// digits, cut short or not.
bool IsRunTemporary(const std::string& name) {
  constexpr size_t kTail = 5 + 6;
  if (name.size() <= kTail) return false;
  const size_t at = name.size() - kTail;
  if (name.compare(at, 5, ".tzw-") != 0 && name.compare(at, 5, ".tzk-") != 0) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(at + 5), name.end(),
                     [](char c) { return IsDigit(c) || (c >= 'a' && c <= 'z'); });
}

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == PathDelim) return folder + name;
  return folder + PathDelim + name;
}

// Reads a stream for CheckArchive until cancel is set, then as if the file
// ended in error: a long archive stops within one read.
class TCancelledRead : public TStream {
 public:
  TCancelledRead(TStream& inner, const std::atomic<bool>& cancel)
      : inner_(inner), cancel_(cancel) {}

  int64_t Read(void* buffer, int64_t count) override {
    if (!cancel_) return inner_.Read(buffer, count);
    NoteFailure(0, "interrupted");
    return 0;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, int origin) override { return inner_.Seek(offset, origin); }
  int64_t Size() override { return inner_.Size(); }
  bool Failed() const override { return TStream::Failed() || inner_.Failed(); }
  std::string ErrorText() const override {
    return inner_.Failed() ? inner_.ErrorText() : TStream::ErrorText();
  }

 private:
  TStream& inner_;
  const std::atomic<bool>& cancel_;
};

// Why a file whose records read as a ZIP archive is not one of ours: they
// hold together from the first central header to the end of the file, yet
// count other than one entry, or one in a folder. Empty when they do not
// read so: a damaged archive of ours (a count of 0 read from a flipped bit
// leaves its central header unaccounted for).
std::string ForeignForm(TStream& archive) {
  try {
    TEndCentral end;
    const TSortedZip entries = ReadZipDirectory(archive, end);
    const int64_t directoryEnd = end.CentralDirOffset + end.CentralSize;
    const bool sound = end.ThisDiskNumber == 0 && end.CentralStartDisk == 0 &&
                       end.EntriesThisDisk == end.TotalEntries &&
                       archive.Position() == directoryEnd &&
                       (end.Zip64 || directoryEnd == end.ZipCommentPos - EndCentralFixedSize) &&
                       end.ZipCommentPos + end.ZipCommentLength() == archive.Size();
    if (!sound) return {};
    if (entries.Count() != 1)
      return "a ZIP archive of " + std::to_string(entries.Count()) + " entries";
    if (entries[0]->StoredName().find('/') != std::string::npos)
      return "a ZIP archive whose entry is in a folder";
  } catch (const Exception&) {
  }
  return {};
}

class TSurveyor {
 public:
  TSurveyor(bool recursive, const std::atomic<bool>& cancel)
      : recursive_(recursive), cancel_(cancel) {}

  void Folder(const std::string& path, const TOutputDir& dir, TDirList& list, const TFileId& id) {
    const size_t folder = survey_.folders.size();
    survey_.folders.push_back({path, id});
    std::vector<std::string> names;
    while (list.Next()) {
      const std::string name(list.Name());
      if (name != "." && name != "..") names.push_back(name);
    }
    if (list.Error() != 0) Unlisted(path, list.Error());
    std::sort(names.begin(), names.end(), StoredNameBefore);

    // Two names of one chain that hold one file are the move a stopped run
    // left half done: each counts as one name, as the run counts it.
    std::map<std::pair<std::string, std::pair<uint64_t, uint64_t>>, int> chains;
    const auto chainKey = [&names](size_t i, const TEntryStatus& s) {
      return std::make_pair(ChainOf(names[i]), std::make_pair(s.stamp.id.device, s.stamp.id.index));
    };
    // Only an archive of two links can be one.
    const auto twinned = [&names](size_t i, const TEntryStatus& s) {
      return s.kind == TEntryKind::Regular && s.stamp.links == 2 && IsStoredArchiveName(names[i]);
    };
    std::vector<TEntryStatus> status(names.size());
    for (size_t i = 0; i < names.size() && !cancel_; ++i) {
      status[i] = dir.StatusAt(names[i]);
      if (twinned(i, status[i])) ++chains[chainKey(i, status[i])];
    }
    for (size_t i = 0; i < names.size() && !cancel_; ++i) {
      TStoredEntry entry;
      entry.path = Join(path, names[i]);
      entry.name = names[i];
      entry.folder = folder;
      const TEntryStatus& s = status[i];
      if (IsRunTemporary(names[i])) {
        entry.kind = TStoredKind::Temporary;
      } else if (s.kind == TEntryKind::Directory) {
        if (recursive_) {
          SubFolder(entry.path, list, names[i], s.stamp.id);
          continue;
        }
        entry.reason = "a folder";
      } else if (s.kind == TEntryKind::Link) {
        entry.reason = "a link";
      } else if (IsStoredArchiveName(names[i])) {
        entry.kind = TStoredKind::Archive;
        if (twinned(i, s)) {
          const auto twin = chains.find(chainKey(i, s));
          if (twin != chains.end() && twin->second == 2) entry.twin = s.stamp.id;
        }
      } else {
        entry.reason = "not named as an archive";
      }
      survey_.entries.push_back(std::move(entry));
    }
  }

  TStoredSurvey Take() { return std::move(survey_); }

 private:
  static std::string ChainOf(const std::string& name) {
    const size_t at = GenerationAt(name);
    return at == std::string::npos ? name : name.substr(0, at - 1);
  }

  void Unlisted(const std::string& path, int error) {
    TStoredEntry entry;
    entry.path = path;
    entry.kind = TStoredKind::Unlisted;
    entry.reason = "could not be listed: " + SysErrorMessage(error);
    survey_.entries.push_back(std::move(entry));
  }

  // The folder name of parent, listed without following a link, and known
  // by the id it had when it was looked at, so that a link put in its place
  // meanwhile is never gone through.
  void SubFolder(const std::string& path, TDirList& parentList, const std::string& name,
                 const TFileId& id) {
    TDirList list(parentList, name);
    TOutputDir dir;
    int error = list.Error() != 0 ? list.Error() : dir.Open(path);
    if (error == 0 && !(dir.StatusAt(".").stamp.id == id)) error = ErrNameTaken;
    if (error != 0) return Unlisted(path, error);
    Folder(path, dir, list, id);
  }

  const bool recursive_;
  const std::atomic<bool>& cancel_;
  TStoredSurvey survey_;
};

}  // namespace

bool IsStoredArchiveName(const std::string& name) {
  if (GenerationAt(name) != std::string::npos) return true;
  return name.size() >= kArchiveSuffixLength &&
         ZipSuffixAt(name, name.size() - kArchiveSuffixLength);
}

bool StoredNameBefore(const std::string& a, const std::string& b) {
  const size_t ga = GenerationAt(a), gb = GenerationAt(b);
  const std::string_view stemA =
      std::string_view(a).substr(0, ga == std::string::npos ? a.size() : ga - 1);
  const std::string_view stemB =
      std::string_view(b).substr(0, gb == std::string::npos ? b.size() : gb - 1);
  if (stemA != stemB) return stemA < stemB;
  if ((ga == std::string::npos) != (gb == std::string::npos)) return ga == std::string::npos;
  if (ga == std::string::npos) return false;
  // Numbers of any length: the shorter is the smaller, once leading zeros go.
  auto number = [](const std::string& s, size_t at) {
    const size_t first = std::min(s.find_first_not_of('0', at), s.size());
    return std::string_view(s).substr(first);
  };
  const std::string_view na = number(a, ga), nb = number(b, gb);
  if (na.size() != nb.size()) return na.size() < nb.size();
  return na != nb ? na < nb : a < b;
}

TStoredSurvey SurveyStored(const std::string& root, const TOutputDir& dir, bool recursive,
                           const std::atomic<bool>& cancel) {
  TSurveyor surveyor(recursive, cancel);
  TDirList list(root);
  const TFileId id = dir.StatusAt(".").stamp.id;
  surveyor.Folder(root, dir, list, id);
  return surveyor.Take();
}

TArchiveCheck CheckStoredArchive(const TOutputDir& dir, const TStoredEntry& entry,
                                 const std::atomic<bool>& cancel) {
  const auto start = std::chrono::steady_clock::now();
  TArchiveCheck check;
  THandle handle = InvalidHandle;
  const TClaimCheck claim = OpenToClaim(dir, entry.name, TOursRule::Strict, handle, entry.twin);
  switch (claim.verdict) {
    case TClaim::Absent:
      check.verdict = TCheckVerdict::Gone;
      return check;
    case TClaim::NotOurs:
      check.verdict = TCheckVerdict::NotOurs;
      check.reason = claim.what;
      return check;
    case TClaim::Unreadable:
      check.verdict = TCheckVerdict::Unreadable;
      check.reason = claim.what;
      return check;
    case TClaim::Ours:
      break;
  }
  check.bytes = claim.stamp.size;
#ifndef _WIN32
  // What is checked is the disk, not the pages a recent run left in memory;
  // then one read from start to end, with a long read-ahead. Hints only.
  ::posix_fadvise(handle, 0, 0, POSIX_FADV_DONTNEED);
  ::posix_fadvise(handle, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  {
    TFileStream file(handle, entry.path);
    TCancelledRead stream(file, cancel);
    TArchiveFacts facts;
    const std::string problem = CheckArchive(stream, facts);
    if (cancel) {
      check.verdict = TCheckVerdict::Interrupted;
    } else if (problem.empty()) {
      check.verdict = facts.storedName.find('/') == std::string::npos ? TCheckVerdict::Whole
                                                                      : TCheckVerdict::NotOurs;
      if (check.verdict == TCheckVerdict::NotOurs)
        check.reason = "a ZIP archive whose entry is in a folder";
    } else if (stream.Failed()) {
      check.verdict = TCheckVerdict::Unreadable;
      check.reason = problem;
    } else if (std::string foreign = ForeignForm(file); !foreign.empty()) {
      check.verdict = TCheckVerdict::NotOurs;
      check.reason = std::move(foreign);
    } else {
      check.verdict = TCheckVerdict::Damaged;
      check.reason = problem;
    }
  }
  FileClose(handle);
  check.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return check;
}
