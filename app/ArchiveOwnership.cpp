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

TClaimCheck CheckOurs(const TOutputDir& dir, const std::string& name, const std::string& entryName,
                      TOursRule rule, const TFileId& twinA, const TFileId& twinB) {
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

  const THandle handle = dir.OpenForReadingAt(name);
  if (handle == InvalidHandle) {
    const int error = errno;
    if (error == ErrNotRegularFile || error == ELOOP || error == EISDIR)
      return NotOurs(verdict, "not a regular file");
    return Unreadable(verdict, error);
  }
  struct Closer {
    THandle handle;
    ~Closer() { FileClose(handle); }
  } closer{handle};
  TFileStamp opened;
  if (const int error = FileStampOf(handle, opened); error != 0) return Unreadable(verdict, error);
  if (!(opened.id == entry.stamp.id))
    return NotOurs(verdict, "a file that changed while looked at");

  int error = 0;
  bool ours = false;
  if (strict) {
    TZipHeaderInfo expected;
    expected.SetFileName(entryName);
    ours = HoldsOnly(handle, expected.StoredName(), error);
  } else {
    ours = BeginsLikeAZip(handle, error);
  }
  if (ours) {
    verdict.verdict = TClaim::Ours;
    return verdict;
  }
  // An archive of ours that merely cannot be read now is not foreign: the
  // system's reason says what stands in the way.
  if (error != 0) return Unreadable(verdict, error);
  return NotOurs(verdict, strict ? "not an archive of this database" : "not a ZIP archive");
}
