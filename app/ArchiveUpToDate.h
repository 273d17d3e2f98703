// Whether an archive already on the disk holds a database exactly as a run
// would write it again, so that dbzip --update can leave it as it is. The
// database is read whole for its CRC-32: a database server may rewrite a file
// without moving its time, so its time and size alone prove nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "File.h"

// What the writer takes from a database besides its data.
struct TDatabaseLook {
  std::string fileName;  // the name its entry takes
  uint32_t dosTime = 0;  // its last write as the entry records it
  uint32_t attr = 0;     // its attributes as the entry records them
};

enum class TUpToDate {
  Yes,      // the archive holds the database as it would be written
  No,       // anything else: it is written again as in any run
  Damaged,  // its records hold the database, but its data does not decode to it
};

// Whether the archive's data is decoded too, or its records alone are read.
enum class TDecode { RecordsOnly, Data };

struct TUpToDateAnswer {
  TUpToDate verdict = TUpToDate::No;
  std::string damage;       // for Damaged: what the check found
  int64_t bytesRead = 0;    // of the database, when it was read
  int64_t archiveSize = 0;  // of the archive, when its records were sound
};

// Whether the archive open at archive is the one the writer would write at
// level from the database open at data (read from where its offset stands
// to its end; look gives the rest): one entry, in records that pass
// CheckArchiveRecords, with the stored name, size, CRC-32, time,
// attributes, method and flags the writer gives it, and data that starts
// with what the encoder writes for the database's first bytes at level (the
// flags tell only three classes of level apart). With decode, the data is
// decoded too: Damaged when all else holds but it does not decode. The
// database is read only when its records could match; one that changes
// while it is read is not up to date. Raises EUserCanceled at its next read
// once cancel is set.
TUpToDateAnswer ArchiveUpToDate(THandle archive, THandle data, const TDatabaseLook& look, int level,
                                TDecode decode, const std::atomic<bool>& cancel);
