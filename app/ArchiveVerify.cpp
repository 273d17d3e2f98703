#include "ArchiveVerify.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#endif

#include "Errors.h"
#include "Streams.h"
#include "ZipRecords.h"
#include "ZipWriter.h"

namespace {

std::atomic<TBeforeVerify> g_beforeCheck{nullptr};

constexpr size_t kInChunk = size_t{1} << 20;
constexpr size_t kOutChunk = size_t{1} << 20;
constexpr uint64_t kOnes16 = 0xFFFF;
constexpr uint64_t kOnes32 = 0xFFFFFFFF;
// Bits 1 and 2 (the deflate level's hint) and 11 (a UTF-8 name): any other
// flag asks for encryption, a data descriptor or more that no entry of ours has.
constexpr uint64_t kPlainFlags = 0x0806;

std::string Damaged(const std::string& what) {
  return "not archived: the archive written did not read back as written (" + what + ")";
}

std::string Hex(uint64_t value) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), digits[value & 15]);
    value >>= 4;
  } while (value != 0);
  return "0x" + text;
}

// Bytes read from the archive at offset, with the name the report gives them.
struct TRecord {
  explicit TRecord(const char* recordName) : name(recordName) {}

  const char* name;
  int64_t at = 0;
  std::string bytes;

  // The little-endian value of width (2, 4 or 8) bytes at i.
  uint64_t Le(size_t i, int width) const {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + i;
    return width == 2 ? Get16(p) : width == 4 ? Get32(p) : Get64(p);
  }
  std::string Where(const char* field, size_t i) const {
    return std::string(name) + "'s " + field + " at offset " + std::to_string(at + int64_t(i));
  }
};

// Reads count bytes at at into record; empty, or why they could not be read.
std::string ReadRecord(TStream& archive, TRecord& record, int64_t at, size_t count) {
  record.at = at;
  record.bytes.resize(count);
  if (at >= 0 && archive.Seek(at, soFromBeginning) == at &&
      archive.Read(record.bytes.data(), int64_t(count)) == int64_t(count)) {
    return {};
  }
  if (archive.Failed()) return "it could not be read: " + archive.ErrorText();
  return "the archive ends inside " + std::string(record.name) + " at offset " + std::to_string(at);
}

std::string NoSignature(const TRecord& record, uint32_t signature) {
  if (record.Le(0, 4) == signature) return {};
  return std::string(record.name) + " at offset " + std::to_string(record.at) +
         " lacks its signature";
}

struct TField {
  const char* name;
  size_t at;
  int width;
  uint64_t want;
};

// The first of the record's fields that does not hold its wanted value.
std::string FirstWrong(const TRecord& record, std::initializer_list<TField> fields) {
  for (const TField& f : fields) {
    if (const uint64_t value = record.Le(f.at, f.width); value != f.want) {
      return record.Where(f.name, f.at) + " is " + std::to_string(value) + ", not " +
             std::to_string(f.want);
    }
  }
  return {};
}

// The fields of an extra block that a header of ours may hold.
struct TExtra {
  bool hasZip64 = false;
  size_t zip64At = 0;  // where its data starts, in the record
  std::string zip64;
  std::string unicodePath;  // the whole field, or empty
};

// Splits the extra block of record from start to end; empty, or what is
// wrong with it.
std::string ReadExtra(const TRecord& record, size_t start, size_t end, TExtra& extra) {
  for (size_t pos = start; pos < end;) {
    if (pos + 4 > end || pos + 4 + record.Le(pos + 2, 2) > end) {
      return record.Where("extra field", pos) + " runs past the end of its extra fields";
    }
    const uint64_t tag = record.Le(pos, 2);
    const size_t size = record.Le(pos + 2, 2);
    const bool zip64 = tag == Zip64ExtraTag, unicode = tag == UnicodePathExtraTag;
    if ((zip64 && extra.hasZip64) || (unicode && !extra.unicodePath.empty())) {
      return record.Where("extra field", pos) + " repeats a field it has";
    }
    if (zip64) {
      extra.hasZip64 = true;
      extra.zip64At = pos + 4;
      extra.zip64 = record.bytes.substr(pos + 4, size);
    }
    if (unicode) extra.unicodePath = record.bytes.substr(pos, 4 + size);
    pos += 4 + size;
  }
  return {};
}

// The values of the ZIP64 field for the count classic fields that hold all
// ones, in the field's order; empty, or what is wrong with it.
std::string Zip64Values(const TRecord& record, const TExtra& extra, int count,
                        std::vector<uint64_t>& values) {
  if (count == 0 && !extra.hasZip64) return {};
  if (count == 0) {
    return record.Where("ZIP64 field", extra.zip64At) + " holds values no field calls for";
  }
  if (!extra.hasZip64) return std::string(record.name) + " has no ZIP64 field for its values";
  if (extra.zip64.size() != size_t(8) * count) {
    return record.Where("ZIP64 field", extra.zip64At) + " is " +
           std::to_string(extra.zip64.size()) + " bytes, not " + std::to_string(8 * count);
  }
  for (int i = 0; i < count; ++i) {
    const uint64_t value = record.Le(extra.zip64At + 8 * size_t(i), 8);
    if (value > uint64_t{INT64_MAX}) {
      return record.Where("ZIP64 field", extra.zip64At + 8 * size_t(i)) + " is too large";
    }
    values.push_back(value);
  }
  return {};
}

// A Unicode Path field, when there is one, carries the CRC-32 of the stored
// name it stands for.
std::string UnicodePathOf(const TRecord& record, const TExtra& extra, const std::string& name) {
  if (extra.unicodePath.empty()) return {};
  const auto* p = reinterpret_cast<const uint8_t*>(extra.unicodePath.data());
  const uLong crc =
      crc32_z(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(name.data()), name.size());
  if (extra.unicodePath.size() >= 9 && p[4] == 1 && Get32(p + 5) == static_cast<uint32_t>(crc)) {
    return {};
  }
  return std::string(record.name) + "'s Unicode path field does not belong to its name";
}

// Reads size stored bytes at the stream's position, which must be exactly
// expectedSize bytes with CRC-32 expectedCrc. Empty, or what differs.
std::string CheckStored(TStream& stream, int64_t size, int64_t expectedSize, uint32_t expectedCrc) {
  if (size != expectedSize) return "is stored, yet its sizes differ";
  std::vector<unsigned char> in(kInChunk);
  uLong crc = crc32(0L, Z_NULL, 0);
  for (int64_t left = size; left > 0;) {
    const int64_t want = std::min<int64_t>(left, static_cast<int64_t>(in.size()));
    if (stream.Read(in.data(), want) != want) {
      return stream.Failed() ? "could not be read: " + stream.ErrorText()
                             : std::string("is shorter than its records say");
    }
    crc = crc32_z(crc, in.data(), static_cast<size_t>(want));
    left -= want;
  }
  if (static_cast<uint32_t>(crc) != expectedCrc) return "does not have its CRC-32";
  return {};
}

// Inflates size compressed bytes from the stream's position, which must
// produce exactly expectedSize bytes with CRC-32 expectedCrc. Empty, or what
// differs.
std::string InflateEntry(TStream& stream, int64_t size, int64_t expectedSize,
                         uint32_t expectedCrc) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return "could not be decoded: the decoder did not start";
  struct End {
    z_stream& z;
    ~End() { inflateEnd(&z); }
  } end{z};
  std::vector<unsigned char> in(kInChunk), out(kOutChunk);
  uLong crc = crc32(0L, Z_NULL, 0);
  int64_t produced = 0, left = size;
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    if (z.avail_in == 0) {
      if (left == 0) return "ends before its deflate stream does";
      const int64_t want = std::min<int64_t>(left, static_cast<int64_t>(in.size()));
      const int64_t got = stream.Read(in.data(), want);
      if (got != want) {
        return stream.Failed() ? "could not be read: " + stream.ErrorText()
                               : std::string("is shorter than its records say");
      }
      left -= got;
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(got);
    }
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    status = inflate(&z, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) return "does not decode";
    const size_t n = out.size() - z.avail_out;
    crc = crc32_z(crc, out.data(), n);
    produced += static_cast<int64_t>(n);
    if (produced > expectedSize) return "decodes to more bytes than its records say";
  }
  if (left != 0 || z.avail_in != 0) return "goes on after the end of its deflate stream";
  if (produced != expectedSize) return "decodes to fewer bytes than its records say";
  if (static_cast<uint32_t>(crc) != expectedCrc) return "does not have its CRC-32";
  return {};
}

// What the records read so far say, for the steps that read the next ones.
struct TRecordsRead {
  int64_t size = 0;  // of the whole archive
  TRecord end{"the end record"};
  TRecord locator{"the ZIP64 end locator"};
  TRecord end64{"the ZIP64 end record"};
  bool zip64 = false;      // the locator is there, and with it the ZIP64 end record
  int64_t centralEnd = 0;  // where the record after the central directory starts
  uint64_t centralSize = 0, centralOffset = 0;
  TRecord central{"the central header"};
  std::string name;
  TExtra centralExtra;
  uint64_t compressed = 0, uncompressed = 0;
  uint64_t localSize = 0;  // of the local header, where the data starts
};

// With the ZIP64 end records a classic field of the end record may hold all
// ones instead of its value.
uint64_t Classic(const TRecordsRead& read, size_t at, int width, uint64_t want) {
  const uint64_t ones = width == 2 ? kOnes16 : kOnes32;
  return read.zip64 && read.end.Le(at, width) == ones ? ones : want;
}

// The end record is the last one whose comment runs exactly to the end.
std::string FindEndRecord(TStream& archive, TRecordsRead& read) {
  const int64_t size = read.size = archive.Size();
  if (size < EndCentralFixedSize) return "it is too short to be an archive";
  TRecord tail{"the end"};
  const int64_t window = std::min<int64_t>(size, EndCentralFixedSize + int64_t{kOnes16});
  if (std::string problem = ReadRecord(archive, tail, size - window, size_t(window));
      !problem.empty()) {
    return problem;
  }
  int64_t endAt = -1, misfit = -1;
  for (int64_t pos = window - EndCentralFixedSize; pos >= 0 && endAt < 0; --pos) {
    if (tail.Le(size_t(pos), 4) != EndCentralSignature) continue;
    if (int64_t(tail.Le(size_t(pos) + 20, 2)) == window - pos - EndCentralFixedSize) {
      endAt = tail.at + pos;
    } else if (misfit < 0) {
      misfit = tail.at + pos;
    }
  }
  if (endAt < 0 && misfit < 0) return "it has no end record";
  TRecord& end = read.end;
  end.at = endAt < 0 ? misfit : endAt;
  end.bytes = tail.bytes.substr(size_t(end.at - tail.at), EndCentralFixedSize);
  if (endAt < 0) {
    return end.Where("comment length", 20) + " is " + std::to_string(end.Le(20, 2)) +
           ", but the bytes that follow it are " +
           std::to_string(size - misfit - EndCentralFixedSize);
  }
  return {};
}

// The end record's disks and counts; whether the ZIP64 end locator is there.
std::string CheckEndRecord(TStream& archive, TRecordsRead& read) {
  const int64_t endAt = read.end.at;
  read.zip64 =
      endAt >= Zip64LocatorSize &&
      ReadRecord(archive, read.locator, endAt - Zip64LocatorSize, Zip64LocatorSize).empty() &&
      read.locator.Le(0, 4) == Zip64LocatorSignature;
  if (std::string problem =
          FirstWrong(read.end, {{"number of this disk", 4, 2, 0},
                                {"disk where the central directory starts", 6, 2, 0},
                                {"entries on this disk", 8, 2, Classic(read, 8, 2, 1)},
                                {"total entries", 10, 2, Classic(read, 10, 2, 1)}});
      !problem.empty()) {
    return problem;
  }
  read.centralEnd = endAt;
  read.centralSize = read.end.Le(12, 4);
  read.centralOffset = read.end.Le(16, 4);
  return {};
}

// The ZIP64 end locator and record, when the locator is there: the central
// directory's size and offset are then the ZIP64 end record's.
std::string CheckZip64End(TStream& archive, TRecordsRead& read) {
  if (!read.zip64) return {};
  const int64_t end64At = read.locator.at - Zip64EndFixedSize;
  if (end64At < 0) return "there is no room for the ZIP64 end record before its locator";
  if (std::string problem =
          FirstWrong(read.locator, {{"disk of the ZIP64 end record", 4, 4, 0},
                                    {"offset of the ZIP64 end record", 8, 8, uint64_t(end64At)},
                                    {"number of disks", 16, 4, 1}});
      !problem.empty()) {
    return problem;
  }
  TRecord& end64 = read.end64;
  if (std::string problem = ReadRecord(archive, end64, end64At, Zip64EndFixedSize);
      !problem.empty()) {
    return problem;
  }
  if (std::string problem = NoSignature(end64, Zip64EndSignature); !problem.empty()) {
    return problem;
  }
  if (std::string problem =
          FirstWrong(end64, {{"record size", 4, 8, Zip64EndFixedSize - 12},
                             {"number of this disk", 16, 4, 0},
                             {"disk where the central directory starts", 20, 4, 0},
                             {"entries on this disk", 24, 8, 1},
                             {"total entries", 32, 8, 1}});
      !problem.empty()) {
    return problem;
  }
  read.centralEnd = end64At;
  read.centralSize = end64.Le(40, 8);
  read.centralOffset = end64.Le(48, 8);
  return {};
}

// The central directory ends where the next record starts, and the end record
// says where it lies.
std::string CheckDirectorySpan(TStream&, TRecordsRead& read) {
  const uint64_t centralSize = read.centralSize, centralOffset = read.centralOffset;
  if (centralOffset > uint64_t(read.centralEnd) ||
      centralSize != uint64_t(read.centralEnd) - centralOffset) {
    // The record the directory's size and offset come from.
    const TRecord& sizes = read.zip64 ? read.end64 : read.end;
    return sizes.Where("central directory size and offset", read.zip64 ? 40 : 12) +
           " put its end at " + std::to_string(centralOffset + centralSize) +
           ", but the next record starts at " + std::to_string(read.centralEnd);
  }
  return FirstWrong(read.end,
                    {{"central directory size", 12, 4, Classic(read, 12, 4, centralSize)},
                     {"central directory offset", 16, 4, Classic(read, 16, 4, centralOffset)}});
}

// The central header: the whole directory, of one plain entry whose local
// header is at the start.
std::string CheckCentralHeader(TStream& archive, TRecordsRead& read) {
  TRecord& central = read.central;
  if (std::string problem =
          ReadRecord(archive, central, int64_t(read.centralOffset), CentralHeaderFixedSize);
      !problem.empty()) {
    return problem;
  }
  if (std::string problem = NoSignature(central, CentralHeaderSignature); !problem.empty()) {
    return problem;
  }
  const uint64_t nameLength = central.Le(28, 2), extraLength = central.Le(30, 2);
  const uint64_t headerSize = CentralHeaderFixedSize + nameLength + extraLength + central.Le(32, 2);
  if (headerSize != read.centralSize) {
    return central.Where("name, extra field and comment lengths", 28) + " make it " +
           std::to_string(headerSize) + " bytes, but the central directory is " +
           std::to_string(read.centralSize);
  }
  if (std::string problem = ReadRecord(archive, central, central.at, size_t(headerSize));
      !problem.empty()) {
    return problem;
  }
  read.name = central.bytes.substr(CentralHeaderFixedSize, nameLength);
  std::vector<uint64_t> big;
  const bool bigUncompressed = central.Le(24, 4) == kOnes32;
  const bool bigCompressed = central.Le(20, 4) == kOnes32;
  const bool bigOffset = central.Le(42, 4) == kOnes32;
  if (std::string problem =
          ReadExtra(central, CentralHeaderFixedSize + nameLength,
                    CentralHeaderFixedSize + nameLength + extraLength, read.centralExtra);
      !problem.empty()) {
    return problem;
  }
  if (std::string problem =
          Zip64Values(central, read.centralExtra,
                      int{bigUncompressed} + int{bigCompressed} + int{bigOffset}, big);
      !problem.empty()) {
    return problem;
  }
  size_t next = 0;
  read.uncompressed = bigUncompressed ? big[next++] : central.Le(24, 4);
  read.compressed = bigCompressed ? big[next++] : central.Le(20, 4);
  const uint64_t localOffset = bigOffset ? big[next++] : central.Le(42, 4);
  if (localOffset != 0) {
    return central.Where("offset of the local header", 42) + " is " + std::to_string(localOffset) +
           ", not 0";
  }
  if (std::string problem = FirstWrong(central, {{"disk number start", 34, 2, 0}});
      !problem.empty()) {
    return problem;
  }
  if ((central.Le(8, 2) & ~kPlainFlags) != 0) {
    return central.Where("flags", 8) + " are " + Hex(central.Le(8, 2)) +
           ", which ask for more than a plain entry";
  }
  if (const uint64_t method = central.Le(10, 2); method != 0 && method != 8) {
    return central.Where("compression method", 10) + " is " + std::to_string(method) +
           ", neither stored (0) nor deflated (8)";
  }
  return UnicodePathOf(central, read.centralExtra, read.name);
}

// The local header, at the start, as the central header describes it.
std::string CheckLocalHeader(TStream& archive, TRecordsRead& read) {
  const TRecord& central = read.central;
  TRecord local{"the local header"};
  if (std::string problem = ReadRecord(archive, local, 0, LocalHeaderFixedSize); !problem.empty()) {
    return problem;
  }
  if (std::string problem = NoSignature(local, LocalHeaderSignature); !problem.empty()) {
    return problem;
  }
  read.localSize = LocalHeaderFixedSize + local.Le(26, 2) + local.Le(28, 2);
  if (std::string problem = ReadRecord(archive, local, 0, size_t(read.localSize));
      !problem.empty()) {
    return problem;
  }
  TExtra localExtra;
  if (std::string problem =
          ReadExtra(local, LocalHeaderFixedSize + local.Le(26, 2), local.bytes.size(), localExtra);
      !problem.empty()) {
    return problem;
  }
  // A local header that needs ZIP64 holds both sizes in its field.
  const bool localZip64 = local.Le(18, 4) == kOnes32 || local.Le(22, 4) == kOnes32;
  if (localZip64 && local.Le(18, 4) != local.Le(22, 4)) {
    return local.Where("sizes", 18) + " hold all ones for one size only, not for both";
  }
  std::vector<uint64_t> localBig;
  if (std::string problem = Zip64Values(local, localExtra, localZip64 ? 2 : 0, localBig);
      !problem.empty()) {
    return problem;
  }
  const uint64_t localUncompressed = localZip64 ? localBig[0] : local.Le(22, 4);
  const uint64_t localCompressed = localZip64 ? localBig[1] : local.Le(18, 4);
  struct TPair {
    const char* field;
    size_t localAt, centralAt;
    int width;
  };
  for (const TPair& f :
       {TPair{"version needed to extract", 4, 6, 2}, TPair{"flags", 6, 8, 2},
        TPair{"compression method", 8, 10, 2}, TPair{"modification time and date", 10, 12, 4},
        TPair{"CRC-32", 14, 16, 4}}) {
    const uint64_t mine = local.Le(f.localAt, f.width), theirs = central.Le(f.centralAt, f.width);
    if (mine != theirs) {
      return local.Where(f.field, f.localAt) + " is " + Hex(mine) +
             ", but the central header's is " + Hex(theirs);
    }
  }
  if (localUncompressed != read.uncompressed || localCompressed != read.compressed) {
    return local.Where("sizes", 18) + " are " + std::to_string(localCompressed) + " and " +
           std::to_string(localUncompressed) + ", but the central header's are " +
           std::to_string(read.compressed) + " and " + std::to_string(read.uncompressed);
  }
  if (local.bytes.compare(LocalHeaderFixedSize, local.Le(26, 2), read.name) != 0) {
    return local.Where("name", LocalHeaderFixedSize) + " differs from the central header's";
  }
  if (localExtra.unicodePath != read.centralExtra.unicodePath) {
    return std::string(local.name) + "'s Unicode path field differs from the central header's";
  }
  if ((localZip64 || read.centralExtra.hasZip64) && central.Le(6, 2) < Zip64Version) {
    return central.Where("version needed to extract", 6) + " is " +
           std::to_string(central.Le(6, 2)) + ", too low for its ZIP64 field";
  }
  return {};
}

// The data fills the space between the local header and the directory.
std::string CheckDataSpan(TStream&, TRecordsRead& read) {
  if (read.compressed > uint64_t{INT64_MAX} || read.uncompressed > uint64_t{INT64_MAX} ||
      read.localSize > read.centralOffset ||
      read.compressed != read.centralOffset - read.localSize) {
    return "the entry's data from offset " + std::to_string(read.localSize) + " is " +
           std::to_string(read.compressed) + " bytes, but the central directory starts at " +
           std::to_string(read.centralOffset);
  }
  return {};
}

// Reads the records from the end backwards, each step trusting only what the
// ones before it checked.
std::string CheckRecords(TStream& archive, TArchiveFacts& facts) {
  using TStep = std::string (*)(TStream&, TRecordsRead&);
  TRecordsRead read;
  for (const TStep step : {FindEndRecord, CheckEndRecord, CheckZip64End, CheckDirectorySpan,
                           CheckCentralHeader, CheckLocalHeader, CheckDataSpan}) {
    if (std::string problem = step(archive, read); !problem.empty()) return problem;
  }
  facts.storedName = read.name;
  facts.method = static_cast<uint16_t>(read.central.Le(10, 2));
  facts.flags = static_cast<uint16_t>(read.central.Le(8, 2));
  facts.dosTime = static_cast<uint32_t>(read.central.Le(12, 4));
  facts.externalAttributes = static_cast<uint32_t>(read.central.Le(38, 4));
  facts.crc = static_cast<uint32_t>(read.central.Le(16, 4));
  facts.compressedSize = int64_t(read.compressed);
  facts.uncompressedSize = int64_t(read.uncompressed);
  facts.dataOffset = int64_t(read.localSize);
  facts.centralOffset = int64_t(read.centralOffset);
  facts.size = read.size;
  return {};
}

}  // namespace

void SetBeforeVerify(TBeforeVerify hook) {
  g_beforeCheck = hook;
}

std::string CheckArchive(TStream& archive, TArchiveFacts& facts) {
  facts = {};
  TArchiveFacts found;
  if (std::string problem = CheckArchiveRecords(archive, found); !problem.empty()) return problem;
  try {
    if (archive.Seek(found.dataOffset, soFromBeginning) != found.dataOffset) {
      return "it could not be read: " + archive.ErrorText();
    }
    if (std::string problem =
            found.method == 0
                ? CheckStored(archive, found.compressedSize, found.uncompressedSize, found.crc)
                : InflateEntry(archive, found.compressedSize, found.uncompressedSize, found.crc);
        !problem.empty()) {
      return "the entry's data at offset " + std::to_string(found.dataOffset) + " " + problem;
    }
  } catch (const Exception& e) {
    return "it could not be read: " + e.Message();
  }
  facts = std::move(found);
  return {};
}

std::string CheckArchiveRecords(TStream& archive, TArchiveFacts& facts) {
  facts = {};
  TArchiveFacts found;
  try {
    if (std::string problem = CheckRecords(archive, found); !problem.empty()) return problem;
  } catch (const Exception& e) {
    return "it could not be read: " + e.Message();
  }
  facts = std::move(found);
  return {};
}

std::string VerifyArchive(THandle handle, const TZipWriter& writer, int64_t dataSize) {
  if (const TBeforeVerify hook = g_beforeCheck.load()) hook(handle);
  const std::vector<TWrittenRecord>& written = writer.WrittenRecords();
  if (writer.ArchiveEntries().Count() != 1 || written.size() != 2) {
    return "not archived: the archive written could not be verified";
  }
#ifndef _WIN32
  // Written and synced, so the cached pages may go: what follows reads the
  // disk, not the memory the encoder wrote from. Only a hint; some file
  // systems keep their pages.
  ::posix_fadvise(handle, 0, 0, POSIX_FADV_DONTNEED);
  // The data is read once from start to end: a longer read-ahead keeps the
  // decoder fed.
  ::posix_fadvise(handle, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  TFileStream stream(handle, "archive");
  TArchiveFacts facts;
  if (std::string problem = CheckArchive(stream, facts); !problem.empty()) {
    return Damaged(problem);
  }
  // Every byte outside the data is a record the writer wrote, and the same.
  const TWrittenRecord &local = written[0], &tail = written[1];
  const int64_t writtenSize = tail.offset + int64_t(tail.bytes.size());
  if (facts.size != writtenSize) {
    return Damaged("it is " + std::to_string(facts.size) + " bytes, but " +
                   std::to_string(writtenSize) + " were written");
  }
  if (local.offset != 0 || int64_t(local.bytes.size()) != facts.dataOffset ||
      tail.offset != facts.centralOffset) {
    return Damaged("its data is not where it was written");
  }
  for (const auto& [record, name] : {std::pair{&local, "the local header"},
                                     std::pair{&tail, "the central directory or end record"}}) {
    TRecord read{name};
    if (std::string problem = ReadRecord(stream, read, record->offset, record->bytes.size());
        !problem.empty()) {
      return Damaged(problem);
    }
    const auto differ = std::mismatch(read.bytes.begin(), read.bytes.end(), record->bytes.begin());
    if (differ.first != read.bytes.end()) {
      return Damaged(std::string(name) + " differs from what was written at offset " +
                     std::to_string(record->offset + (differ.first - read.bytes.begin())));
    }
  }
  // And the records written are those of the database as it was read.
  const TZipHeaderInfo& expected = *writer.ArchiveEntries()[0];
  if (facts.storedName != expected.StoredName()) return Damaged("its name differs");
  if (facts.method != expected.CompressionMethod) return Damaged("its method differs");
  if (facts.uncompressedSize != dataSize || facts.uncompressedSize != expected.UncompressedSize ||
      facts.compressedSize != expected.CompressedSize || facts.crc != expected.CRC32) {
    return Damaged("its sizes or CRC-32 differ from what was read");
  }
  return {};
}
