#include "ZipRecords.h"

#include <algorithm>
#include <vector>

#include "CodePage.h"
#include "Crc32.h"
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

uint64_t Fit64(int64_t value, const char* field) {
  if (value < 0) {
    throw EZipFieldOverflow(FormatMessage("Value too large for the archive field %s", {field}));
  }
  return static_cast<uint64_t>(value);
}

// A classic field of a record that has its ZIP64 counterpart: all ones from
// the limit on.
uint32_t Classic32(int64_t value, const char* field) {
  return value >= Zip64Limit32 ? 0xFFFFFFFFu : Fit32(value, field);
}
uint16_t Classic16(int64_t value, const char* field) {
  return value >= Zip64Limit16 ? 0xFFFF : Fit16(value, field);
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
  void U64(uint64_t v) {
    U32(static_cast<uint32_t>(v));
    U32(static_cast<uint32_t>(v >> 32));
  }
  void U8(uint8_t v) { bytes_.push_back(v); }
  void Append(const std::string& s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); }
  std::string String() const { return std::string(bytes_.begin(), bytes_.end()); }
  void WriteTo(TStream& stream) const {
    stream.Write(bytes_.data(), static_cast<int64_t>(bytes_.size()));
  }

 private:
  std::vector<uint8_t> bytes_;
};

// The data of the ZIP64 field among a header's extra fields; false when there
// is none or the list is cut short.
bool FindZip64Field(const std::string& extra, std::string_view& data) {
  const auto* p = reinterpret_cast<const uint8_t*>(extra.data());
  size_t pos = 0;
  while (pos + 4 <= extra.size()) {
    const uint16_t tag = Get16(p + pos);
    const size_t size = Get16(p + pos + 2);
    if (pos + 4 + size > extra.size()) return false;
    if (tag == Zip64ExtraTag) {
      data = std::string_view(extra).substr(pos + 4, size);
      return true;
    }
    pos += 4 + size;
  }
  return false;
}

// Takes the 64-bit values of the fields whose classic value was all ones, in
// the field's fixed order (uncompressed size, compressed size, offset);
// false when the ZIP64 field lacks one of them.
bool TakeZip64Values(const std::string& extra, std::initializer_list<int64_t*> wanted) {
  std::string_view data;
  bool found = false;
  size_t at = 0;
  for (int64_t* field : wanted) {
    if (field == nullptr) continue;
    if (!found && !(found = FindZip64Field(extra, data))) return false;
    if (at + 8 > data.size()) return false;
    const uint64_t value = Get64(reinterpret_cast<const uint8_t*>(data.data()) + at);
    if (value > static_cast<uint64_t>(INT64_MAX)) return false;
    *field = static_cast<int64_t>(value);
    at += 8;
  }
  return true;
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
  Zip64Sizes = false;
  fileName_.clear();
  directory_.clear();
  fileComment_.clear();
  storedName_.clear();
  storedNameUtf8_ = false;
  unicodePathField_.clear();
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

  // Readers disagree on names beyond ASCII (some take every name of an
  // MS-DOS archive as code page 437, some as raw bytes), but all of them
  // take this field. A name that is not UTF-8 is given in its code page 437
  // reading, the one its header announces.
  unicodePathField_.clear();
  const bool ascii = std::all_of(storedName_.begin(), storedName_.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) return;
  const std::string unicode = storedNameUtf8_ ? storedName_ : OemToAnsi(storedName_, false);
  // Room is left for the ZIP64 field in the same 16-bit length.
  constexpr size_t kMaxUnicodeName = 0xFFFF - 28 - 9;
  if (unicode.size() > kMaxUnicodeName) return;
  LeBytes field(9 + unicode.size());
  field.U16(UnicodePathExtraTag);
  field.U16(static_cast<uint16_t>(5 + unicode.size()));
  field.U8(1);  // version of the field
  field.U32(Crc32(storedName_.data(), storedName_.size()));
  field.Append(unicode);
  unicodePathField_ = field.String();
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

// The central header is written once the values are final: only a value
// that does not fit its classic field goes to the ZIP64 field.
bool TZipHeaderInfo::Zip64Uncompressed() const {
  return UncompressedSize >= Zip64Limit32;
}
bool TZipHeaderInfo::Zip64Compressed() const {
  return CompressedSize >= Zip64Limit32;
}
bool TZipHeaderInfo::Zip64Offset() const {
  return RelativeOffset >= Zip64Limit32;
}

int TZipHeaderInfo::CentralExtraLength() const {
  const int values = int{Zip64Uncompressed()} + int{Zip64Compressed()} + int{Zip64Offset()};
  return (values == 0 ? 0 : 4 + 8 * values) + static_cast<int>(unicodePathField_.size());
}

int TZipHeaderInfo::LocalExtraLength() const {
  return (Zip64Sizes ? 20 : 0) + static_cast<int>(unicodePathField_.size());
}

void TZipHeaderInfo::MarkZip64() {
  VersionNeeded = std::max(VersionNeeded, Zip64Version);
  // The high byte names the host system; the low byte is the version.
  if ((VersionMadeBy & 0xFF) < Zip64Version) {
    VersionMadeBy = static_cast<uint16_t>((VersionMadeBy & 0xFF00) | Zip64Version);
  }
}

int64_t TZipHeaderInfo::LocalHeaderSize() const {
  return LocalHeaderFixedSize + int64_t{FileNameLength()} + LocalExtraLength();
}

int64_t TZipHeaderInfo::CentralHeaderSize() const {
  return CentralHeaderFixedSize + int64_t{FileNameLength()} + CentralExtraLength() +
         FileCommentLength();
}

void TZipHeaderInfo::SaveLocalToStream(TStream& stream) {
  RelativeOffset = stream.Position();
  // An entry that starts beyond 4 GiB needs ZIP64 in its central header;
  // its local header announces the same version.
  if (Zip64Sizes || Zip64Offset()) MarkZip64();
  GeneralPurposeFlags = FlagsToWrite();
  LeBytes rec(LocalHeaderFixedSize + storedName_.size() + 20);
  rec.U32(LocalHeaderSignature);
  rec.U16(VersionNeeded);
  rec.U16(GeneralPurposeFlags);
  rec.U16(CompressionMethod);
  rec.U16(static_cast<uint16_t>(LastModDateTime));
  rec.U16(static_cast<uint16_t>(LastModDateTime >> 16));
  rec.U32(CRC32);
  if (Zip64Sizes) {
    rec.U32(0xFFFFFFFFu);
    rec.U32(0xFFFFFFFFu);
  } else {
    rec.U32(Fit32(CompressedSize, "compressed size"));
    rec.U32(Fit32(UncompressedSize, "uncompressed size"));
  }
  rec.U16(Fit16(FileNameLength(), "file name length"));
  rec.U16(static_cast<uint16_t>(LocalExtraLength()));
  rec.Append(storedName_);
  if (Zip64Sizes) {
    // The local header holds both sizes, whichever of them is large.
    rec.U16(Zip64ExtraTag);
    rec.U16(16);
    rec.U64(Fit64(UncompressedSize, "uncompressed size"));
    rec.U64(Fit64(CompressedSize, "compressed size"));
  }
  rec.Append(unicodePathField_);
  rec.WriteTo(stream);
}

void TZipHeaderInfo::SaveCentralToStream(TStream& stream) {
  const bool bigUncompressed = Zip64Uncompressed();
  const bool bigCompressed = Zip64Compressed();
  const bool bigOffset = Zip64Offset();
  // An entry whose local header holds the ZIP64 sizes needs that version to
  // be extracted, whatever its central header holds.
  if (Zip64Sizes || bigUncompressed || bigCompressed || bigOffset) MarkZip64();
  GeneralPurposeFlags = FlagsToWrite();
  LeBytes rec(CentralHeaderFixedSize + storedName_.size() + 28 + fileComment_.size());
  rec.U32(CentralHeaderSignature);
  rec.U16(VersionMadeBy);
  rec.U16(VersionNeeded);
  rec.U16(GeneralPurposeFlags);
  rec.U16(CompressionMethod);
  rec.U16(static_cast<uint16_t>(LastModDateTime));
  rec.U16(static_cast<uint16_t>(LastModDateTime >> 16));
  rec.U32(CRC32);
  rec.U32(bigCompressed ? 0xFFFFFFFFu : Fit32(CompressedSize, "compressed size"));
  rec.U32(bigUncompressed ? 0xFFFFFFFFu : Fit32(UncompressedSize, "uncompressed size"));
  rec.U16(Fit16(FileNameLength(), "file name length"));
  rec.U16(static_cast<uint16_t>(CentralExtraLength()));
  rec.U16(Fit16(FileCommentLength(), "file comment length"));
  rec.U16(DiskNumberStart);
  rec.U16(InternalAttributes);
  rec.U32(ExternalAttributes);
  rec.U32(bigOffset ? 0xFFFFFFFFu : Fit32(RelativeOffset, "relative offset of local header"));
  rec.Append(storedName_);
  if (bigUncompressed || bigCompressed || bigOffset) {
    // Only the values whose classic field holds all ones, in this order.
    rec.U16(Zip64ExtraTag);
    rec.U16(
        static_cast<uint16_t>(8 * (int{bigUncompressed} + int{bigCompressed} + int{bigOffset})));
    if (bigUncompressed) rec.U64(Fit64(UncompressedSize, "uncompressed size"));
    if (bigCompressed) rec.U64(Fit64(CompressedSize, "compressed size"));
    if (bigOffset) rec.U64(Fit64(RelativeOffset, "relative offset of local header"));
  }
  rec.Append(unicodePathField_);
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
  const bool bigUncompressed = Get32(h + 24) == 0xFFFFFFFFu;
  const bool bigCompressed = Get32(h + 20) == 0xFFFFFFFFu;
  if (!TakeZip64Values(extra, {bigUncompressed ? &rec.UncompressedSize : nullptr,
                               bigCompressed ? &rec.CompressedSize : nullptr,
                               Get32(h + 42) == 0xFFFFFFFFu ? &rec.RelativeOffset : nullptr})) {
    stream.Seek(start, soFromBeginning);
    return false;
  }
  rec.Zip64Sizes = bigUncompressed || bigCompressed;
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
  const bool bigUncompressed = Get32(h + 22) == 0xFFFFFFFFu;
  const bool bigCompressed = Get32(h + 18) == 0xFFFFFFFFu;
  if (!TakeZip64Values(extra, {bigUncompressed ? &rec.UncompressedSize : nullptr,
                               bigCompressed ? &rec.CompressedSize : nullptr})) {
    stream.Seek(start, soFromBeginning);
    return false;
  }
  rec.Zip64Sizes = bigUncompressed || bigCompressed;
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
  Zip64 = false;
  zipComment_.clear();
}

bool TEndCentral::NeedsZip64() const {
  return Zip64 || EntriesThisDisk >= Zip64Limit16 || TotalEntries >= Zip64Limit16 ||
         CentralSize >= Zip64Limit32 || CentralDirOffset >= Zip64Limit32;
}

int64_t TEndCentral::EndCentralSize() const {
  return EndCentralFixedSize + int64_t{ZipCommentLength()} +
         (NeedsZip64() ? Zip64EndFixedSize + Zip64LocatorSize : 0);
}

void TEndCentral::SaveEndToStream(TStream& stream) {
  LeBytes rec(Zip64EndFixedSize + Zip64LocatorSize + EndCentralFixedSize);
  if (NeedsZip64()) {
    const int64_t at = stream.Position();
    rec.U32(Zip64EndSignature);
    rec.U64(Zip64EndFixedSize - 12);  // the size of what follows this field
    rec.U16(Zip64Version);
    rec.U16(Zip64Version);
    rec.U32(ThisDiskNumber);
    rec.U32(CentralStartDisk);
    rec.U64(Fit64(EntriesThisDisk, "entries on this disk"));
    rec.U64(Fit64(TotalEntries, "total entries"));
    rec.U64(Fit64(CentralSize, "size of the central directory"));
    rec.U64(Fit64(CentralDirOffset, "offset of the central directory"));
    rec.U32(Zip64LocatorSignature);
    rec.U32(ThisDiskNumber);
    rec.U64(Fit64(at, "offset of the ZIP64 end record"));
    rec.U32(uint32_t{ThisDiskNumber} + 1);
  }
  rec.U32(Signature);
  rec.U16(ThisDiskNumber);
  rec.U16(CentralStartDisk);
  rec.U16(Classic16(EntriesThisDisk, "entries on this disk"));
  rec.U16(Classic16(TotalEntries, "total entries"));
  rec.U32(Classic32(CentralSize, "size of the central directory"));
  rec.U32(Classic32(CentralDirOffset, "offset of the central directory"));
  rec.U16(Fit16(ZipCommentLength(), "comment length"));
  rec.WriteTo(stream);
  if (!zipComment_.empty()) {
    stream.Write(zipComment_.data(), static_cast<int64_t>(zipComment_.size()));
  }
}

void TEndCentral::ReadZip64End(TStream& stream, uint64_t offset) {
  // A record that is not there, or holds impossible values, is ignored: the
  // classic values then stand, and a directory they do not describe is
  // refused when it is read.
  uint8_t r[Zip64EndFixedSize];
  if (offset > static_cast<uint64_t>(INT64_MAX)) return;
  const auto at = static_cast<int64_t>(offset);
  if (stream.Seek(at, soFromBeginning) != at ||
      stream.Read(r, Zip64EndFixedSize) != Zip64EndFixedSize || Get32(r) != Zip64EndSignature) {
    return;
  }
  const uint64_t values[] = {Get64(r + 24), Get64(r + 32), Get64(r + 40), Get64(r + 48)};
  for (uint64_t v : values) {
    if (v > static_cast<uint64_t>(INT64_MAX)) return;
  }
  EntriesThisDisk = static_cast<int64_t>(values[0]);
  TotalEntries = static_cast<int64_t>(values[1]);
  CentralSize = static_cast<int64_t>(values[2]);
  CentralDirOffset = static_cast<int64_t>(values[3]);
  Zip64 = true;
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
    Zip64 = false;
    if (pos >= Zip64LocatorSize && Get32(p - Zip64LocatorSize) == Zip64LocatorSignature) {
      ReadZip64End(stream, Get64(p - Zip64LocatorSize + 8));
    }
    return true;
  }
  return false;
}
