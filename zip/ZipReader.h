// Reading the directory of an existing archive: the end record, then every
// central header it announces, into a list in archive order.
#pragma once

#include "Errors.h"
#include "SortedZip.h"
#include "ZipRecords.h"

class TStream;

// No end record was found: the file is not a whole archive.
class EIncompleteZip : public Exception {
 public:
  EIncompleteZip() : Exception("Incomplete Zip File") {}
};

// The central directory is not where the end record says, or is broken.
class EBadZipFile : public Exception {
 public:
  EBadZipFile() : Exception("Not a valid zip file!") {}
};

// Reads the end record into end and returns one record per central header,
// in archive order (an owning ByNone list). Raises EIncompleteZip when there
// is no end record and EBadZipFile when the directory does not hold the
// entries the end record counts, or two of them claim the same local header.
TSortedZip ReadZipDirectory(TStream& archive, TEndCentral& end);
