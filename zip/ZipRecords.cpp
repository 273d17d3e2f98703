#include "ZipRecords.h"

#include <algorithm>
#include <vector>

#include "CodePage.h"
#include "Files.h"
#include "Streams.h"

namespace {

// ZIP64 readers take an all-ones field as "look in the ZIP64 record", so the
// classic fields stop one short of it.
constexpr int64_t kMax32 = 0xFFFFFFFE;
constexpr int64_t kMax16 = 0xFFFE;

uint32_t Fit32(int64_t value, const char* field) {
  if (value < 0 || value > kMax32) {
    throw EZipFieldOverflow(FormatMessage("Value too large for the archive field %s", {field}));
  }
  return static_cast<uint32_t>(value);
}

uint16_t Fit16(int64_t value, const char* field) {
  if (value < 0 || value > kMax16) {
    throw EZipFieldOverflow(FormatMessage("Value too large for the archive field %s", {field}));
  }
  return static_cast<uint16_t>(value);
}

class LeBytes {
 public:
  explicit LeBytes(size_t reserve) { bytes_.reserve(reserve); }
  void U16(uint16_t v) {
    bytes_.push_back(static_cast<uint8_t>(v));
    bytes_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
  }
  void Append(const std::string& s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); }
  void WriteTo(TStream& stream) const {
    stream.Write(bytes_.data(), static_cast<int64_t>(bytes_.size()));
  }

 private:
  std::vector<uint8_t> bytes_;
};

uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(Get16(p)) | static_cast<uint32_t>(Get16(p + 2)) << 16;
}

// Reads exactly count bytes into out; false on a short read.
bool ReadExactly(TStream& stream, std::string& out, size_t count) {
  out.resize(count);
  return stream.Read(out.data(), static_cast<int64_t>(count)) == static_cast<int64_t>(count);
}

}  // namespace

uint32_t RepairDosDateTime(uint32_t packed) {
  const uint32_t time = packed & 0xFFFF;
  const uint32_t date = packed >> 16;
  uint32_t hour = time >> 11;
  uint32_t minute = time >> 5 & 0x3F;
  uint32_t second = (time & 0x1F) * 2;
  uint32_t year = (date >> 9) + 1980;
  uint32_t month = date >> 5 & 0x0F;
  uint32_t day = date & 0x1F;
  bool clamped = false;
  const auto clamp = [&clamped](uint32_t& part, uint32_t low, uint32_t high) {
    if (part < low) part = low, clamped = true;
    if (part > high) part = high, clamped = true;
  };
  clamp(hour, 0, 24);
  clamp(minute, 0, 59);
  clamp(second, 0, 59);
  clamp(year, 1980, 2099);
  clamp(month, 1, 12);
  clamp(day, 1, 31);
  if (!clamped) return packed;
  return ((year - 1980) << 9 | month << 5 | day) << 16 | hour << 11 | minute << 5 | second / 2;
}

// --- TZipHeaderInfo ---

void TZipHeaderInfo::Clear() {
  VersionMadeBy = 20;
  VersionNeeded = 20;
  GeneralPurposeFlags = 0;
  CompressionMethod = 8;
  LastModDateTime = 0;
  CRC32 = 0xFFFFFFFF;
  CompressedSize = 0;
  UncompressedSize = 0;
  ExtraFieldLength = 0;
  DiskNumberStart = 0;
  InternalAttributes = 1;
  ExternalAttributes = 0x20;
  RelativeOffset = 0;
  CentralOffset = 0;
  EntryState = {0, 0};
  fileName_.clear();
  directory_.clear();
  fileComment_.clear();
  storedName_.clear();
  storedNameUtf8_ = false;
}

void TZipHeaderInfo::SetFileName(const std::string& value) {
  if (value == fileName_) return;
  fileName_ = value;
  UpdateStoredName();
}

void TZipHeaderInfo::SetDirectory(const std::string& value) {
  if (value == directory_) return;
  directory_ = value;
  if (!directory_.empty() && directory_.back() != PathDelim) directory_ += PathDelim;
  UpdateStoredName();
}

void TZipHeaderInfo::SetFileComment(std::string_view value) {
  fileComment_ = value;
}

void TZipHeaderInfo::UpdateStoredName() {
  std::string joined = directory_ + fileName_;
  std::replace(joined.begin(), joined.end(), PathDelim, '/');
  TOemName oem = AnsiToOem(joined);
  storedName_ = std::move(oem.bytes);
  storedNameUtf8_ = oem.utf8;
  GeneralPurposeFlags = FlagsToWrite();
}

void TZipHeaderInfo::SetFromStoredName(std::string_view bytes, bool utf8) {
  std::string name = OemToAnsi(bytes, utf8);
  std::replace(name.begin(), name.end(), '/', PathDelim);
  const size_t split = name.find_last_of(PathDelim);
  const size_t nameStart = split == std::string::npos ? 0 : split + 1;
  directory_ = name.substr(0, nameStart);
  fileName_ = name.substr(nameStart);
  UpdateStoredName();
}

uint16_t TZipHeaderInfo::FlagsToWrite() const {
  return static_cast<uint16_t>((GeneralPurposeFlags & ~LanguageEncodingFlag) |
                               (storedNameUtf8_ ? LanguageEncodingFlag : 0));
}

int64_t TZipHeaderInfo::LocalHeaderSize() const {
  return LocalHeaderFixedSize + int64_t{FileNameLength()} + ExtraFieldLength;
}

int64_t TZipHeaderInfo::CentralHeaderSize() const {
  return CentralHeaderFixedSize + int64_t{FileNameLength()} + ExtraFieldLength +
         FileCommentLength();
}

void TZipHeaderInfo::SaveLocalToStream(TStream& stream) {
  RelativeOffset = stream.Position();
  GeneralPurposeFlags = FlagsToWrite();
  LeBytes rec(LocalHeaderFixedSize + storedName_.size());
  rec.U32(LocalHeaderSignature);
  rec.U16(VersionNeeded);
  rec.U16(GeneralPurposeFlags);
  rec.U16(CompressionMethod);
  rec.U16(static_cast<uint16_t>(LastModDateTime));
  rec.U16(static_cast<uint16_t>(LastModDateTime >> 16));
  rec.U32(CRC32);
  rec.U32(Fit32(CompressedSize, "compressed size"));
  rec.U32(Fit32(UncompressedSize, "uncompressed size"));
  rec.U16(Fit16(FileNameLength(), "file name length"));
  rec.U16(ExtraFieldLength);
  rec.Append(storedName_);
  rec.WriteTo(stream);
}

void TZipHeaderInfo::SaveCentralToStream(TStream& stream) {
  GeneralPurposeFlags = FlagsToWrite();
  LeBytes rec(CentralHeaderFixedSize + storedName_.size() + fileComment_.size());
  rec.U32(CentralHeaderSignature);
  rec.U16(VersionMadeBy);
  rec.U16(VersionNeeded);
  rec.U16(GeneralPurposeFlags);
  rec.U16(CompressionMethod);
  rec.U16(static_cast<uint16_t>(LastModDateTime));
  rec.U16(static_cast<uint16_t>(LastModDateTime >> 16));
  rec.U32(CRC32);
  rec.U32(Fit32(CompressedSize, "compressed size"));
  rec.U32(Fit32(UncompressedSize, "uncompressed size"));
  rec.U16(Fit16(FileNameLength(), "file name length"));
  rec.U16(ExtraFieldLength);
  rec.U16(Fit16(FileCommentLength(), "file comment length"));
  rec.U16(DiskNumberStart);
  rec.U16(InternalAttributes);
  rec.U32(ExternalAttributes);
  rec.U32(Fit32(RelativeOffset, "relative offset of local header"));
  rec.Append(storedName_);
  rec.Append(fileComment_);
  rec.WriteTo(stream);
}

bool TZipHeaderInfo::ReadCentralFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t h[CentralHeaderFixedSize];
  std::string name, extra, comment;
  if (stream.Read(h, sizeof h) != static_cast<int64_t>(sizeof h) ||
      Get32(h) != CentralHeaderSignature || !ReadExactly(stream, name, Get16(h + 28)) ||
      !ReadExactly(stream, extra, Get16(h + 30)) || !ReadExactly(stream, comment, Get16(h + 32))) {
    stream.Seek(start, soFromBeginning);
    return false;
  }
  TZipHeaderInfo rec;
  rec.VersionMadeBy = Get16(h + 4);
  rec.VersionNeeded = Get16(h + 6);
  rec.GeneralPurposeFlags = Get16(h + 8);
  rec.CompressionMethod = Get16(h + 10);
  rec.LastModDateTime = RepairDosDateTime(Get32(h + 12));
  rec.CRC32 = Get32(h + 16);
  rec.CompressedSize = Get32(h + 20);
  rec.UncompressedSize = Get32(h + 24);
  rec.DiskNumberStart = Get16(h + 34);
  rec.InternalAttributes = Get16(h + 36);
  rec.ExternalAttributes = Get32(h + 38);
  rec.RelativeOffset = Get32(h + 42);
  rec.CentralOffset = start;
  // The extra field is skipped, not kept, so nothing may announce it.
  rec.ExtraFieldLength = 0;
  rec.SetFromStoredName(name, (rec.GeneralPurposeFlags & LanguageEncodingFlag) != 0);
  rec.SetFileComment(comment);
  *this = std::move(rec);
  return true;
}

bool TZipHeaderInfo::ReadLocalFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t h[LocalHeaderFixedSize];
  std::string name, extra;
  if (stream.Read(h, sizeof h) != static_cast<int64_t>(sizeof h) ||
      Get32(h) != LocalHeaderSignature || !ReadExactly(stream, name, Get16(h + 26)) ||
      !ReadExactly(stream, extra, Get16(h + 28))) {
    stream.Seek(start, soFromBeginning);
    return false;
  }
  TZipHeaderInfo rec;
  rec.VersionMadeBy = 0;
  rec.VersionNeeded = Get16(h + 4);
  rec.GeneralPurposeFlags = Get16(h + 6);
  rec.CompressionMethod = Get16(h + 8);
  rec.LastModDateTime = RepairDosDateTime(Get32(h + 10));
  rec.CRC32 = Get32(h + 14);
  rec.CompressedSize = Get32(h + 18);
  rec.UncompressedSize = Get32(h + 22);
  rec.InternalAttributes = 0;
  rec.ExternalAttributes = 0;
  rec.RelativeOffset = start;
  rec.ExtraFieldLength = 0;
  rec.SetFromStoredName(name, (rec.GeneralPurposeFlags & LanguageEncodingFlag) != 0);
  *this = std::move(rec);
  return true;
}

// --- TEndCentral ---

void TEndCentral::Clear() {
  Signature = EndCentralSignature;
  ThisDiskNumber = 0;
  CentralStartDisk = 0;
  EntriesThisDisk = 0;
  TotalEntries = 0;
  CentralSize = 0;
  CentralDirOffset = 0;
  ZipCommentPos = 0;
  CommentsChanged = false;
  zipComment_.clear();
}

void TEndCentral::SaveEndToStream(TStream& stream) {
  LeBytes rec(EndCentralFixedSize);
  rec.U32(Signature);
  rec.U16(ThisDiskNumber);
  rec.U16(CentralStartDisk);
  rec.U16(Fit16(EntriesThisDisk, "entries on this disk"));
  rec.U16(Fit16(TotalEntries, "total entries"));
  rec.U32(Fit32(CentralSize, "size of the central directory"));
  rec.U32(Fit32(CentralDirOffset, "offset of the central directory"));
  rec.U16(Fit16(ZipCommentLength(), "comment length"));
  rec.WriteTo(stream);
  if (!zipComment_.empty()) {
    stream.Write(zipComment_.data(), static_cast<int64_t>(zipComment_.size()));
  }
}

bool TEndCentral::ReadEndFromStream(TStream& stream) {
  // The search covers the last 0xFFF8 bytes: the record and a comment of
  // nearly the longest length a record can announce.
  constexpr int64_t kSearchWindow = 0xFFF8;
  const int64_t size = stream.Size();
  if (size < EndCentralFixedSize) return false;
  const int64_t tailStart = size - std::min(size, kSearchWindow);
  std::vector<uint8_t> tail(static_cast<size_t>(size - tailStart));
  if (stream.Seek(tailStart, soFromBeginning) != tailStart) return false;
  const int64_t got =
      std::max<int64_t>(stream.Read(tail.data(), static_cast<int64_t>(tail.size())), 0);
  for (int64_t pos = got - EndCentralFixedSize; pos >= 0; --pos) {
    const uint8_t* p = tail.data() + pos;
    if (p[0] != 'P' || Get32(p) != EndCentralSignature) continue;
    Signature = Get32(p);
    ThisDiskNumber = Get16(p + 4);
    CentralStartDisk = Get16(p + 6);
    EntriesThisDisk = Get16(p + 8);
    TotalEntries = Get16(p + 10);
    CentralSize = Get32(p + 12);
    CentralDirOffset = Get32(p + 16);
    // A comment that claims more than the file holds keeps what is there.
    const int64_t available = got - pos - EndCentralFixedSize;
    const int64_t length = std::min<int64_t>(Get16(p + 20), available);
    zipComment_.assign(reinterpret_cast<const char*>(p) + EndCentralFixedSize,
                       static_cast<size_t>(length));
    ZipCommentPos = tailStart + pos + EndCentralFixedSize;
    CommentsChanged = false;
    return true;
  }
  return false;
}
