// The proof that an archive, as it lies on the disk, holds the database that
// was read: read back through the descriptor it was written with, every
// record compared with what the writer wrote, and the data decoded by zlib, a
// decoder independent of our encoder.
#pragma once

#include <cstdint>
#include <string>

#include "File.h"

class TStream;
class TZipWriter;

// What the records of a sound archive of one entry say.
struct TArchiveFacts {
  std::string storedName;  // the name's bytes as both headers hold them
  uint16_t method = 0;
  uint16_t flags = 0;    // general purpose, as both headers hold them
  uint32_t dosTime = 0;  // modification time and date, as both headers hold them
  uint32_t externalAttributes = 0;
  uint32_t crc = 0;
  int64_t compressedSize = 0;
  int64_t uncompressedSize = 0;
  int64_t dataOffset = 0;     // where the entry's data starts
  int64_t centralOffset = 0;  // where the central directory starts, right after the data
  int64_t size = 0;           // of the whole archive
};

// Checks, without knowing what was written, that archive holds exactly one
// entry in records that agree with each other and with where they lie: the
// local header at the start, its data, the central header, the ZIP64 end
// record and locator when present, the end record and its comment, with
// nothing between or after them; every disk number 0 and both counts 1; and
// data that decodes to exactly the size and CRC-32 the records give. Empty
// when it is sound, with facts filled; else what is wrong: the record, the
// field and its offset.
std::string CheckArchive(TStream& archive, TArchiveFacts& facts);
// CheckArchive without the data: the records alone, which a few reads near
// the start and the end of the archive give.
std::string CheckArchiveRecords(TStream& archive, TArchiveFacts& facts);

// Checks the archive the writer has just written into the file open at
// handle: CheckArchive, then every byte of it outside the entry's data equal
// to the writer's WrittenRecords() and the file exactly as long, and the
// entry's name, method, sizes and CRC-32 those of the writer's entry with
// dataSize bytes read. The file is first dropped from the cache where the
// system allows, so that the bytes come from the disk. Empty when it holds;
// else what is wrong, as the report's text.
std::string VerifyArchive(THandle handle, const TZipWriter& writer, int64_t dataSize);

// Tests: called with the archive's handle just before it is read back.
using TBeforeVerify = void (*)(THandle handle);
void SetBeforeVerify(TBeforeVerify hook);
