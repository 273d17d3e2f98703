#include "ArchiveOwnership.h"

#include <cerrno>
#include <cstring>

#include "File.h"
#include "Streams.h"
#include "ZipReader.h"
#include "ZipRecords.h"

namespace {

TClaimCheck NotOurs(TClaimCheck verdict, const char* what) {
  verdict.verdict = TClaim::NotOurs;
  verdict.what = what;
  return verdict;
}

TClaimCheck Unreadable(TClaimCheck verdict, int error) {
  verdict.verdict = TClaim::Unreadable;
  verdict.error = error;
  verdict.what = SysErrorMessage(error);
  return verdict;
}

// True when the open file begins like a ZIP archive (a local header, or the
// end record of an empty archive), or holds nothing at all.
bool BeginsLikeAZip(THandle handle, int& error) {
  unsigned char head[4] = {};
  const TFileIo io = FileRead(handle, head, sizeof head);
  error = io.error;
  if (io.error != 0) return false;
  if (io.count == 0) return true;
  if (io.count < 4) return false;
  return std::memcmp(head, "PK\x03\x04", 4) == 0 || std::memcmp(head, "PK\x05\x06", 4) == 0;
}

// True when the open file's records read as an archive of one entry stored
// under storedName; a read that fails leaves its error.
bool HoldsOnly(THandle handle, const std::string& storedName, int& error) {
  error = 0;
  TFileStream stream(handle, "archive");
  try {
    TEndCentral end;
    const TSortedZip entries = ReadZipDirectory(stream, end);
    return entries.Count() == 1 && entries[0]->StoredName() == storedName;
  } catch (const Exception& e) {
    error = e.OsError();
    return false;
  }
}

}  // namespace

TClaimCheck OpenToClaim(const TOutputDir& dir, const std::string& name, TOursRule rule,
                        THandle& handle, const TFileId& twinA, const TFileId& twinB) {
  handle = InvalidHandle;
  TClaimCheck verdict;
  const TEntryStatus entry = dir.StatusAt(name);
  if (entry.kind == TEntryKind::None) {
    return entry.absent ? verdict : Unreadable(verdict, entry.error);
  }
  verdict.stamp = entry.stamp;
  if (entry.kind == TEntryKind::Link) return NotOurs(verdict, "a link");
  if (entry.kind != TEntryKind::Regular) return NotOurs(verdict, "not a regular file");
  const bool strict = rule == TOursRule::Strict;
  if (strict && !entry.stamp.mine) return NotOurs(verdict, "another user's file");
  const bool twin = entry.stamp.links == 2 && ((twinA.Valid() && twinA == entry.stamp.id) ||
                                               (twinB.Valid() && twinB == entry.stamp.id));
  if (strict && entry.stamp.links != 1 && !twin) return NotOurs(verdict, "a file with other names");

  const THandle opened = dir.OpenForReadingAt(name);
  if (opened == InvalidHandle) {
    const int error = errno;
    if (error == ErrNotRegularFile || error == ELOOP || error == EISDIR)
      return NotOurs(verdict, "not a regular file");
    return Unreadable(verdict, error);
  }
  TFileStamp stamp;
  if (const int error = FileStampOf(opened, stamp); error != 0) {
    FileClose(opened);
    return Unreadable(verdict, error);
  }
  if (!(stamp.id == entry.stamp.id)) {
    FileClose(opened);
    return NotOurs(verdict, "a file that changed while looked at");
  }
  handle = opened;
  verdict.verdict = TClaim::Ours;
  return verdict;
}

TClaimCheck CheckOurs(const TOutputDir& dir, const std::string& name, const std::string& entryName,
                      TOursRule rule, const TFileId& twinA, const TFileId& twinB) {
  THandle handle = InvalidHandle;
  TClaimCheck verdict = OpenToClaim(dir, name, rule, handle, twinA, twinB);
  if (verdict.verdict != TClaim::Ours) return verdict;
  struct Closer {
    THandle handle;
    ~Closer() { FileClose(handle); }
  } closer{handle};

  const bool strict = rule == TOursRule::Strict;
  int error = 0;
  bool ours = false;
  if (strict) {
    TZipHeaderInfo expected;
    expected.SetFileName(entryName);
    ours = HoldsOnly(handle, expected.StoredName(), error);
  } else {
    ours = BeginsLikeAZip(handle, error);
  }
  if (ours) return verdict;
  // An archive of ours that merely cannot be read now is not foreign: the
  // system's reason says what stands in the way.
  if (error != 0) return Unreadable(verdict, error);
  return NotOurs(verdict, strict ? "not an archive of this database" : "not a ZIP archive");
}
