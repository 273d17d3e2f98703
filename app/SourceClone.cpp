#include "SourceClone.h"

#include <cerrno>

#include "File.h"
#include "Files.h"

void TSourceCloner::Reset() {
  std::lock_guard lock(mutex_);
  noClone_.clear();
}

bool TSourceCloner::Take(const std::string& source, const TOutputDir& outDir, TSourceClone& taken) {
  taken = TSourceClone{};
  THandle& clone = taken.handle;
  TFileStamp& stamp = taken.stamp;
  const THandle original = FileOpen(source, TFileAccess::Read);
  // What stands in the way is said by the writer's own open, as without a clone.
  if (original == InvalidHandle) return false;
  struct Closer {
    THandle handle;
    ~Closer() { FileClose(handle); }
  } closer{original};
  if (FileStampOf(original, stamp) != 0) return false;
  {
    std::lock_guard lock(mutex_);
    if (noClone_.count(stamp.id.device) != 0) return false;
  }
  taken.attr = FileGetAttr(source);
  if (taken.attr == faInvalid) return false;
  TOutputDir own;
  const std::string folder = ExtractFilePath(source);
  const bool ownOpen = own.Open(folder.empty() ? "." : folder) == 0;
  // A file written without pause moves its stamp during any clone; a few
  // tries find a moment between writes, so that the time stored is the
  // time of the data. Should none come, the last clone still holds the
  // database between two of its writes, with the time from before it.
  constexpr int kAttempts = 3;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    TFileStamp before;
    if (FileStampOf(original, before) != 0) return false;
    const uint32_t timeBefore = FileDosDateTime(original);
    // Its own folder first; the output folder where the database's own
    // cannot take a file but shares its file system.
    const int ownError = ownOpen ? own.CloneUnnamed(original, clone) : ENOENT;
    if (ownError != 0) {
      // The database's file system can make no clone: not asked again.
      if (ownError == ErrNoClone) {
        std::lock_guard lock(mutex_);
        noClone_.insert(stamp.id.device);
        return false;
      }
      if (!outDir.IsOpen() || outDir.CloneUnnamed(original, clone) != 0) return false;
    }
    TFileStamp after;
    const bool still = FileStampOf(original, after) == 0 && before.SameContentAs(after);
    if (still || attempt == kAttempts) {
      stamp = before;
      taken.time = timeBefore;
      return true;
    }
    FileClose(clone);
    clone = InvalidHandle;
  }
  return false;
}
