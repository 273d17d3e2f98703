// The stream family: the abstract TStream (read, write, seek, position, size,
// 64-bit throughout), the unbuffered TFileStream on a named file and the
// TMemoryStream over a block of bytes.
//
// A stream remembers the first transfer error it met (a short write to a full
// disk, an I/O error while reading). Read and Write never raise for these, so
// a short count alone cannot tell a read error from the end of the data:
// Failed() can.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Classes.h"
#include "File.h"

// Seek origins.
inline constexpr int soFromBeginning = 0;
inline constexpr int soFromCurrent = 1;
inline constexpr int soFromEnd = 2;

// File open modes: the access in the low bits, the sharing wish above it.
// POSIX has no sharing modes; they are accepted and mean plain read access.
inline constexpr uint16_t fmOpenRead = 0x0000;
inline constexpr uint16_t fmOpenWrite = 0x0001;
inline constexpr uint16_t fmOpenReadWrite = 0x0002;
inline constexpr uint16_t fmShareDenyWrite = 0x0020;
inline constexpr uint16_t fmShareDenyNone = 0x0040;
// A new file, or an existing one truncated, for reading and writing.
inline constexpr uint16_t fmCreate = 0xFFFF;
// Read-only while other programs may read and write the file (input files).
inline constexpr uint16_t fmOpenReadShared = fmOpenRead | fmShareDenyNone;
// Read-only while other programs may read but not write it (existing archives).
inline constexpr uint16_t fmOpenReadDenyWrite = fmOpenRead | fmShareDenyWrite;

class TStream : public TObject {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Copies up to count bytes into buffer; fewer only at the end of the data
  // or after an error (see Failed).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Takes up to count bytes from buffer; fewer only after an error.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves to offset from the origin (soFrom...) and returns the new position.
  virtual int64_t Seek(int64_t offset, int origin) = 0;
  // Default: remembers the position, seeks to the end and back.
  virtual int64_t Size();

  int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t position) { Seek(position, soFromBeginning); }

  // True once a read or write met an error; stays true.
  virtual bool Failed() const { return failed_; }
  // The first error: its number (0 when it had none) and its text.
  virtual int ErrorCode() const { return errorCode_; }
  virtual std::string ErrorText() const { return errorText_; }

 protected:
  // Records a failure; only the first one is kept.
  void NoteFailure(int code, std::string text);

 private:
  bool failed_ = false;
  int errorCode_ = 0;
  std::string errorText_;
};

// A named file, read and written directly through the platform's calls.
class TFileStream : public TStream {
 public:
  // Opens or creates the file by mode; raises EFCreateError "Cannot create
  // file %s" or EFOpenError "Cannot open file %s" when it cannot.
  TFileStream(const std::string& fileName, uint16_t mode);
  // Reads and writes a file the caller opened, keeps and closes; fileName is
  // the name its messages give.
  TFileStream(THandle handle, const std::string& fileName);
  ~TFileStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  // -1 (and a recorded failure) when the platform refuses the position.
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override;

  // Closes the file now (a caller's handle is only let go); false (and a
  // recorded failure) when the platform reported an error on closing. Later
  // transfers fail.
  bool Close();

  THandle Handle() const { return handle_; }
  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
  THandle handle_ = InvalidHandle;
  bool ownsHandle_ = true;
};

// A stream over bytes held in memory. Writing past the end grows it; a seek
// may go past the end, and a write there fills the gap with zeros.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  // -1 (and a recorded failure) for a position before the start.
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }

  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  int64_t position_ = 0;
};

// The position a seek asks for, or -1 when it cannot be computed (overflow).
// Raises Exception "Invalid seek origin (%d)" for an unknown origin.
int64_t SeekTarget(int64_t offset, int origin, int64_t current, int64_t size);
