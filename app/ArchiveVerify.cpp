#include "ArchiveVerify.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#endif

#include "Errors.h"
#include "Streams.h"
#include "ZipReader.h"
#include "ZipRecords.h"

namespace {

std::atomic<TBeforeVerify> g_beforeCheck{nullptr};

constexpr size_t kInChunk = size_t{1} << 20;
constexpr size_t kOutChunk = size_t{1} << 20;

std::string Damaged(const std::string& what) {
  return "not archived: the archive written did not read back as written (" + what + ")";
}

// The size bytes of a stored entry at the stream's position: exactly
// expectedSize bytes with CRC-32 expectedCrc. Empty, or what differs.
std::string CheckStored(TStream& stream, int64_t size, int64_t expectedSize, uint32_t expectedCrc) {
  if (size != expectedSize) return "its stored size differs from what was read";
  std::vector<unsigned char> in(kInChunk);
  uLong crc = crc32(0L, Z_NULL, 0);
  for (int64_t left = size; left > 0;) {
    const int64_t want = std::min<int64_t>(left, static_cast<int64_t>(in.size()));
    if (stream.Read(in.data(), want) != want) {
      return stream.Failed() ? "it could not be read: " + stream.ErrorText()
                             : std::string("it is shorter than its records say");
    }
    crc = crc32_z(crc, in.data(), static_cast<size_t>(want));
    left -= want;
  }
  if (static_cast<uint32_t>(crc) != expectedCrc) return "its data differs from what was read";
  return {};
}

// Inflates size compressed bytes from the stream's position, which must
// produce exactly expectedSize bytes with CRC-32 expectedCrc. Empty, or what
// differs.
std::string InflateEntry(TStream& stream, int64_t size, int64_t expectedSize,
                         uint32_t expectedCrc) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return "the decoder could not start";
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
      if (left == 0) return "its data ends early";
      const int64_t want = std::min<int64_t>(left, static_cast<int64_t>(in.size()));
      const int64_t got = stream.Read(in.data(), want);
      if (got != want) {
        return stream.Failed() ? "it could not be read: " + stream.ErrorText()
                               : std::string("it is shorter than its records say");
      }
      left -= got;
      z.next_in = in.data();
      z.avail_in = static_cast<uInt>(got);
    }
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    status = inflate(&z, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) return "its data does not decode";
    const size_t n = out.size() - z.avail_out;
    crc = crc32_z(crc, out.data(), n);
    produced += static_cast<int64_t>(n);
    if (produced > expectedSize) return "its data decodes to more bytes than were read";
  }
  if (left != 0 || z.avail_in != 0) return "data follows the end of its compressed stream";
  if (produced != expectedSize) return "its data decodes to fewer bytes than were read";
  if (static_cast<uint32_t>(crc) != expectedCrc) return "its data differs from what was read";
  return {};
}

}  // namespace

void SetBeforeVerify(TBeforeVerify hook) {
  g_beforeCheck = hook;
}

std::string VerifyArchive(THandle handle, const TZipHeaderInfo& expected, int64_t dataSize) {
  if (const TBeforeVerify hook = g_beforeCheck.load()) hook(handle);
#ifndef _WIN32
  // Written and synced, so the cached pages may go: what follows reads the
  // disk, not the memory the encoder wrote from. Only a hint; some file
  // systems keep their pages.
  ::posix_fadvise(handle, 0, 0, POSIX_FADV_DONTNEED);
  // Read once from start to end: a longer read-ahead keeps the decoder fed.
  ::posix_fadvise(handle, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  TFileStream stream(handle, "archive");
  TEndCentral end;
  TSortedZip entries;
  try {
    entries = ReadZipDirectory(stream, end);
  } catch (const Exception& e) {
    return Damaged("its directory: " + e.Message());
  }
  if (entries.Count() != 1) return Damaged("it does not hold exactly one entry");
  const TZipHeaderInfo& central = *entries[0];
  TZipHeaderInfo local;
  if (stream.Seek(central.RelativeOffset, soFromBeginning) != central.RelativeOffset ||
      !local.ReadLocalFromStream(stream)) {
    return Damaged("its local header is missing");
  }
  if (local.StoredName() != central.StoredName() || local.CRC32 != central.CRC32 ||
      local.CompressedSize != central.CompressedSize ||
      local.UncompressedSize != central.UncompressedSize ||
      local.CompressionMethod != central.CompressionMethod ||
      local.GeneralPurposeFlags != central.GeneralPurposeFlags) {
    return Damaged("its local and central records differ");
  }
  if (central.StoredName() != expected.StoredName()) return Damaged("its name differs");
  if ((central.CompressionMethod != 8 && central.CompressionMethod != 0) ||
      central.CompressionMethod != expected.CompressionMethod) {
    return Damaged("its method differs");
  }
  if (central.UncompressedSize != dataSize ||
      central.UncompressedSize != expected.UncompressedSize ||
      central.CompressedSize != expected.CompressedSize || central.CRC32 != expected.CRC32) {
    return Damaged("its sizes or CRC-32 differ from what was read");
  }
  if (std::string problem =
          central.CompressionMethod == 0
              ? CheckStored(stream, central.CompressedSize, dataSize, expected.CRC32)
              : InflateEntry(stream, central.CompressedSize, dataSize, expected.CRC32);
      !problem.empty()) {
    return Damaged(problem);
  }
  return {};
}
