#include "ZipReader.h"

#include <memory>

#include "BufferStream.h"
#include "File.h"
#include "Files.h"
#include "Streams.h"
#include "Text.h"

TSortedZip ReadZipDirectory(TStream& archive, TEndCentral& end) {
  TEndCentral found;
  if (!found.ReadEndFromStream(archive)) throw EIncompleteZip();
  if (archive.Seek(found.CentralDirOffset, soFromBeginning) != found.CentralDirOffset) {
    throw EBadZipFile();
  }
  TSortedZip entries(TZipSortMode::ByNone, TDuplicates::Error, TOwnership::Owning);
  // A directory with fewer headers than counted would drop entries on update.
  for (int64_t i = 0; i < found.TotalEntries; ++i) {
    auto entry = std::make_unique<TZipHeaderInfo>();
    if (!entry->ReadCentralFromStream(archive)) throw EBadZipFile();
    try {
      entries.Add(entry.get());
    } catch (const EListError&) {
      throw EBadZipFile();
    }
    entry.release();
  }
  end.CopyFrom(found);
  return entries;
}

TZipReader::TZipReader() = default;
TZipReader::~TZipReader() = default;

void TZipReader::SetZipName(const std::string& value) {
  if (SameFileName(value, zipName_)) return;
  zipName_ = value;
  ForgetArchive();
  CloseArchiveStream();
}

void TZipReader::ForgetArchive() {
  archiveEntries_.Clear();
  endCentral_.Clear();
  holding_ = false;
  stamp_ = {};
  numberOfDisks_ = 0;
}

void TZipReader::CloseArchiveStream() {
  zipStream_.reset();
}

bool TZipReader::StampOf(const std::string& path, TFileStamp& stamp) {
  const TFileStatus status = FileStatusOf(path);
  stamp.time = status.WriteTimeNs;
  stamp.size = status.Size;
  return status.Exists();
}

void TZipReader::LoadArchiveDirectory() {
  if (!zipStream_)
    zipStream_ = std::make_unique<TBufferedFileStream>(zipName_, fmOpenReadDenyWrite);
  TFileStamp now;
  if (holding_ && StampOf(zipName_, now) && now == stamp_) return;
  TEndCentral end;
  TSortedZip entries = ReadZipDirectory(*zipStream_, end);
  HoldArchive(std::move(entries), end, 1);
}

void TZipReader::HoldArchive(TSortedZip entries, const TEndCentral& end, int disks) {
  archiveEntries_ = std::move(entries);
  endCentral_.CopyFrom(end);
  numberOfDisks_ = disks;
  holding_ = StampOf(zipName_, stamp_);
}
