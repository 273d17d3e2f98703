// The reading side of the archive records on arbitrary bytes: the end-record
// search, the central directory and the local headers it points at, through
// the buffered stream. Nothing may crash or read out of bounds, and every
// record read must write back to bytes that read as the same record.
#include <cstdint>
#include <vector>

#include "BufferStream.h"
#include "ZipReader.h"

namespace {

void CheckRewrite(TZipHeaderInfo& record) {
  TMemoryStream out;
  try {
    record.SaveCentralToStream(out);
  } catch (const EZipFieldOverflow&) {
    return;  // a value the classic fields cannot hold; refused, not cut short
  }
  out.Seek(0, soFromBeginning);
  TZipHeaderInfo again;
  if (!again.ReadCentralFromStream(out) || again.StoredName() != record.StoredName() ||
      again.CRC32 != record.CRC32 || again.CompressedSize != record.CompressedSize ||
      again.FileComment() != record.FileComment()) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream memory(std::vector<uint8_t>(data, data + size));
  TBufferStream stream(&memory);
  try {
    TEndCentral end;
    TSortedZip entries = ReadZipDirectory(stream, end);
    for (TZipHeaderInfo* entry : entries) {
      CheckRewrite(*entry);
      stream.Seek(entry->RelativeOffset, soFromBeginning);
      TZipHeaderInfo local;
      if (local.ReadLocalFromStream(stream) && local.RelativeOffset != entry->RelativeOffset) {
        __builtin_trap();
      }
    }
  } catch (const Exception&) {
    // Incomplete or invalid archives are refused with the system's errors.
  }
  // Headers read one after another from the start, as a scan would; a size
  // that leads past any position is refused with "Seek error".
  memory.Seek(0, soFromBeginning);
  TBufferStream scan(&memory);
  TZipHeaderInfo record;
  try {
    while (record.ReadLocalFromStream(scan)) {
      scan.Seek(record.CompressedSize, soFromCurrent);
    }
  } catch (const Exception&) {
  }
  return 0;
}
