#include "ZipReader.h"

#include <memory>

#include "Streams.h"

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
