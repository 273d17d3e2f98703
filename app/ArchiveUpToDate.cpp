#include "ArchiveUpToDate.h"

#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#endif

#include "ArchiveVerify.h"
#include "Crc32.h"
#include "EntryCoding.h"
#include "Errors.h"
#include "FileOutput.h"
#include "Streams.h"
#include "ZipRecords.h"

namespace {

// Large reads keep the disk streaming; the CRC-32 keeps up with any disk.
constexpr size_t kReadChunk = size_t{1} << 20;
// The bytes of the entry's data that the encoder is run for: enough to tell
// the level apart (levels 3 to 7 give the same flags), a few milliseconds.
constexpr size_t kCodedBytes = size_t{16} << 10;

// Reads a database from its offset to its end once, for the encoder's probe
// first, then for the rest; keeps its CRC-32 and count.
class TDatabaseRead {
 public:
  TDatabaseRead(THandle data, const std::atomic<bool>& cancel) : data_(data), cancel_(cancel) {}
  size_t Read(uint8_t* buffer, size_t count) {
    // A database of gigabytes on a slow disk takes a while.
    if (cancel_.load(std::memory_order_relaxed)) throw EUserCanceled("User Aborted Operation");
    if (error_ != 0) return 0;
    const TFileIo io = FileRead(data_, buffer, static_cast<int64_t>(count));
    error_ = io.error;
    crc_ = Crc32Update(crc_, buffer, static_cast<size_t>(io.count));
    bytes_ += io.count;
    return static_cast<size_t>(io.count);
  }
  // Reads what is left.
  void ReadToEnd() {
    std::vector<uint8_t> buffer(kReadChunk);
    while (Read(buffer.data(), buffer.size()) != 0) {
    }
  }
  int Error() const { return error_; }
  int64_t Bytes() const { return bytes_; }
  uint32_t Crc() const { return ~crc_; }

 private:
  THandle data_;
  const std::atomic<bool>& cancel_;
  uint32_t crc_ = Crc32Preset;
  int64_t bytes_ = 0;
  int error_ = 0;
};

// Whether the archive's data starts with head (is head, when whole).
bool DataStartsWith(TStream& archive, const TArchiveFacts& facts, const std::string& head,
                    bool whole) {
  const auto size = static_cast<int64_t>(head.size());
  if (whole ? facts.compressedSize != size : facts.compressedSize < size) return false;
  std::string bytes(head.size(), '\0');
  return archive.Seek(facts.dataOffset, soFromBeginning) == facts.dataOffset &&
         archive.Read(bytes.data(), size) == size && bytes == head;
}

}  // namespace

TUpToDateAnswer ArchiveUpToDate(THandle archive, THandle data, const TDatabaseLook& look, int level,
                                TDecode decode, const std::atomic<bool>& cancel) {
  TUpToDateAnswer answer;
  TFileStream stream(archive, "archive");
  TArchiveFacts facts;
  if (!CheckArchiveRecords(stream, facts).empty()) return answer;
  answer.archiveSize = facts.size;
  TFileStamp database;
  if (FileStampOf(data, database) != 0) return answer;
  // What the records can be compared with before a byte of the database is
  // read: a database that changed is seldom read for nothing.
  TZipHeaderInfo named;
  named.SetFileName(look.fileName);
  if (facts.storedName != named.StoredName() || facts.uncompressedSize != database.size ||
      facts.dosTime != look.dosTime || facts.externalAttributes != look.attr) {
    return answer;
  }
#ifndef _WIN32
  ::posix_fadvise(data, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  TDatabaseRead read(data, cancel);
  const TEntryCoding coding = WriterCoding(
      look.fileName, level, [&](uint8_t* buffer, size_t count) { return read.Read(buffer, count); },
      kCodedBytes);
  read.ReadToEnd();
  answer.bytesRead = read.Bytes();
  // A live database rewrites its pages in place: the same size is no proof.
  TFileStamp after;
  if (read.Error() != 0 || FileStampOf(data, after) != 0 || !database.SameContentAs(after) ||
      read.Bytes() != facts.uncompressedSize || read.Crc() != facts.crc ||
      facts.method != coding.method || facts.flags != coding.flags) {
    return answer;
  }
  // Damage is told before the data is compared: a broken start would
  // otherwise pass for a level that differs.
  if (decode == TDecode::Data) {
#ifndef _WIN32
    // The data is read once from start to end.
    ::posix_fadvise(archive, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    TArchiveFacts decoded;
    if (std::string problem = CheckArchive(stream, decoded); !problem.empty()) {
      answer.verdict = TUpToDate::Damaged;
      answer.damage = std::move(problem);
      return answer;
    }
  }
  try {
    if (!DataStartsWith(stream, facts, coding.dataHead, coding.wholeData)) return answer;
  } catch (const Exception&) {
    return answer;
  }
  answer.verdict = TUpToDate::Yes;
  return answer;
}
