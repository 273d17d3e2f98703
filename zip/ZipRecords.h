// The records of a ZIP archive: TZipHeaderInfo serves an entry's local header
// (in front of its data) and its central directory header; TEndCentral is the
// end-of-central-directory record. Both write themselves to a stream and read
// themselves back from an existing archive. All numbers are little-endian.
//
// Sizes, offsets and counts are held in 64 bits. The records keep the classic
// 32-bit (16-bit for counts) fields for every value that fits; a value that
// does not goes to the ZIP64 extended information extra field (entries) or
// to the ZIP64 end of central directory record and its locator.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "Classes.h"
#include "Errors.h"

class TStream;

inline constexpr uint32_t LocalHeaderSignature = 0x04034B50;
inline constexpr uint32_t CentralHeaderSignature = 0x02014B50;
inline constexpr uint32_t EndCentralSignature = 0x06054B50;
inline constexpr uint32_t Zip64EndSignature = 0x06064B50;
inline constexpr uint32_t Zip64LocatorSignature = 0x07064B50;

inline constexpr int LocalHeaderFixedSize = 30;
inline constexpr int CentralHeaderFixedSize = 46;
inline constexpr int EndCentralFixedSize = 22;
inline constexpr int Zip64EndFixedSize = 56;
inline constexpr int Zip64LocatorSize = 20;

// The tag of the ZIP64 extended information extra field.
inline constexpr uint16_t Zip64ExtraTag = 0x0001;
// The version needed to extract (and made by) of an entry that uses ZIP64.
inline constexpr uint16_t Zip64Version = 45;
// From these values on a field holds all ones and the value goes to the ZIP64
// records: readers take all ones as "look there".
inline constexpr int64_t Zip64Limit32 = 0xFFFFFFFF;
inline constexpr int64_t Zip64Limit16 = 0xFFFF;

// General purpose bit 11: the stored name (and comment) are UTF-8.
inline constexpr uint16_t LanguageEncodingFlag = 0x0800;
// The tag of the Info-ZIP Unicode Path extra field: the name in UTF-8 for
// readers that would otherwise take the stored bytes in another code page.
inline constexpr uint16_t UnicodePathExtraTag = 0x7075;

// The little-endian field of 2, 4 or 8 bytes at p.
inline uint16_t Get16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(Get16(p)) | static_cast<uint32_t>(Get16(p + 2)) << 16;
}
inline uint64_t Get64(const uint8_t* p) {
  return static_cast<uint64_t>(Get32(p)) | static_cast<uint64_t>(Get32(p + 4)) << 32;
}

// Raised when a value is too large for the field of the record it goes into.
class EZipFieldOverflow : public EWriteError {
 public:
  using EWriteError::EWriteError;
};

// Clamps the parts of a packed MS-DOS date and time read from an archive to
// usable values (hours to 24, minutes and seconds to 59, years to 2099, month
// 1..12, day at least 1); a value that needed no clamping comes back bit for bit.
uint32_t RepairDosDateTime(uint32_t packed);

class TZipHeaderInfo : public TPersistent {
 public:
  TZipHeaderInfo() { Clear(); }

  uint16_t VersionMadeBy;
  uint16_t VersionNeeded;
  // Bit 11 follows the stored name: SetFileName and SetDirectory set or
  // clear it, and both saves write it as the name requires.
  uint16_t GeneralPurposeFlags;
  uint16_t CompressionMethod;
  uint32_t LastModDateTime;  // time in the low 16 bits, date in the high
  uint32_t CRC32;
  int64_t CompressedSize;
  int64_t UncompressedSize;
  uint16_t ExtraFieldLength;  // extra fields read are skipped: always 0
  uint16_t DiskNumberStart;
  uint16_t InternalAttributes;  // 1 text, 0 binary, 2 not yet known
  uint32_t ExternalAttributes;
  int64_t RelativeOffset;
  int64_t CentralOffset;  // where a read central header came from; never written
  std::array<uint8_t, 2> EntryState;
  // The local header carries both sizes in the ZIP64 extra field (and the
  // classic fields all ones). The central header uses that field only for
  // the values that do not fit their classic fields.
  bool Zip64Sizes;

  // Every field to its initial value: versions 20, method 8, CRC-32
  // 0xFFFFFFFF, internal attributes 1, external attributes 0x20, the rest
  // zero, false or empty.
  void Clear();
  // Copies every field, both names, the comment and the state bytes.
  void CopyFrom(const TZipHeaderInfo& source) { *this = source; }

  const std::string& FileName() const { return fileName_; }
  const std::string& Directory() const { return directory_; }
  const std::string& FileComment() const { return fileComment_; }
  // Nothing changes when the value equals the current one.
  void SetFileName(const std::string& value);
  // Appends the path separator to a non-empty value that lacks one.
  void SetDirectory(const std::string& value);
  // An empty comment is none.
  void SetFileComment(std::string_view value);

  // The name as both headers store it: Directory + FileName with forward
  // slashes, in code page 437, or in UTF-8 when it needs to be. A name that
  // is not plain ASCII also goes, in UTF-8, into a Unicode Path extra field
  // of both headers, which every common reader prefers to the stored bytes.
  const std::string& StoredName() const { return storedName_; }
  bool StoredNameIsUtf8() const { return storedNameUtf8_; }
  // Bytes of the stored name.
  uint32_t FileNameLength() const { return static_cast<uint32_t>(storedName_.size()); }
  uint32_t FileCommentLength() const { return static_cast<uint32_t>(fileComment_.size()); }

  // Whether a size is too large for the local header's classic fields, so
  // that the local header must hold both sizes in its ZIP64 field.
  bool SizesNeedZip64() const { return Zip64Uncompressed() || Zip64Compressed(); }

  int64_t LocalHeaderSize() const;    // 30 + name + extra field
  int64_t CentralHeaderSize() const;  // 46 + name + extra field + comment

  // Records the stream position in RelativeOffset, then writes the local
  // header there; writing again at the same place rewrites the same bytes.
  // Raises EZipFieldOverflow for a size beyond the classic fields without
  // Zip64Sizes.
  void SaveLocalToStream(TStream& stream);
  void SaveCentralToStream(TStream& stream);

  // Read a header at the stream's position. On success the stream is left
  // after the header (for a local header: at the entry's data). On failure
  // (short read, wrong signature) the stream is put back and false returned;
  // the record is then unchanged.
  bool ReadCentralFromStream(TStream& stream);
  bool ReadLocalFromStream(TStream& stream);

 private:
  void UpdateStoredName();
  void SetFromStoredName(std::string_view bytes, bool utf8);
  uint16_t FlagsToWrite() const;
  // Which central fields go to the ZIP64 extra field.
  bool Zip64Uncompressed() const;
  bool Zip64Compressed() const;
  bool Zip64Offset() const;
  int CentralExtraLength() const;
  int LocalExtraLength() const;
  // Raises both versions to the one ZIP64 needs.
  void MarkZip64();

  std::string fileName_;
  std::string directory_;
  std::string fileComment_;
  std::string storedName_;
  bool storedNameUtf8_ = false;
  std::string unicodePathField_;  // the whole extra field, or empty
};

class TEndCentral : public TPersistent {
 public:
  TEndCentral() { Clear(); }

  uint32_t Signature;
  uint16_t ThisDiskNumber;
  uint16_t CentralStartDisk;
  int64_t EntriesThisDisk;
  int64_t TotalEntries;
  int64_t CentralSize;
  int64_t CentralDirOffset;
  int64_t ZipCommentPos;  // where the comment was read from
  bool CommentsChanged;
  // The record came with the ZIP64 end records (set when read). Set on a
  // record to be written, it writes them even when every value fits; the
  // writer leaves it clear, so they appear only when a value does not fit.
  bool Zip64;

  void Clear();
  void CopyFrom(const TEndCentral& source) { *this = source; }

  const std::string& ZipComment() const { return zipComment_; }
  void SetZipComment(std::string_view value) { zipComment_ = value; }
  uint32_t ZipCommentLength() const { return static_cast<uint32_t>(zipComment_.size()); }

  // True when the ZIP64 end records are written.
  bool NeedsZip64() const;
  // The bytes SaveEndToStream writes.
  int64_t EndCentralSize() const;
  // When needed, the ZIP64 end record and its locator; then the 22 fixed
  // bytes in one block, then the comment.
  void SaveEndToStream(TStream& stream);

  // Finds the record near the end of an archive (the last one when several
  // signatures appear) and takes its fields and comment, and the values of
  // the ZIP64 end record when a locator in front of it points at one. False
  // when there is none; the record is then unchanged.
  bool ReadEndFromStream(TStream& stream);

 private:
  // Takes the values of the ZIP64 end record at offset when it is sound.
  void ReadZip64End(TStream& stream, uint64_t offset);

  std::string zipComment_;
};
