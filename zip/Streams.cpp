#include "Streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Errors.h"

int64_t TStream::Size() {
  const int64_t position = Seek(0, soFromCurrent);
  const int64_t size = Seek(0, soFromEnd);
  Seek(position, soFromBeginning);
  return size;
}

void TStream::NoteFailure(int code, std::string text) {
  if (failed_) return;
  failed_ = true;
  errorCode_ = code;
  errorText_ = std::move(text);
}

int64_t SeekTarget(int64_t offset, int origin, int64_t current, int64_t size) {
  int64_t target = 0;
  bool overflow = false;
  switch (origin) {
    case soFromBeginning:
      target = offset;
      break;
    case soFromCurrent:
      overflow = __builtin_add_overflow(current, offset, &target);
      break;
    case soFromEnd:
      overflow = __builtin_add_overflow(size, offset, &target);
      break;
    default:
      throw Exception(FormatMessage("Invalid seek origin (%d)", {std::to_string(origin)}));
  }
  return overflow ? -1 : target;
}

// --- TFileStream ---

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : fileName_(fileName) {
  if (mode == fmCreate) {
    handle_ = FileCreate(fileName);
    if (handle_ == InvalidHandle)
      throw EFCreateError(FormatMessage("Cannot create file %s", {fileName}), errno);
    return;
  }
  const int access = mode & 0x000F;
  handle_ = FileOpen(fileName, access == fmOpenWrite       ? TFileAccess::Write
                               : access == fmOpenReadWrite ? TFileAccess::ReadWrite
                                                           : TFileAccess::Read);
  if (handle_ == InvalidHandle) {
    throw EFOpenError(FormatMessage("Cannot open file %s", {fileName}), errno);
  }
}

TFileStream::TFileStream(THandle handle, const std::string& fileName)
    : fileName_(fileName), handle_(handle), ownsHandle_(false) {}

TFileStream::~TFileStream() {
  Close();
}

bool TFileStream::Close() {
  if (handle_ == InvalidHandle) return !Failed();
  const int error = ownsHandle_ ? FileClose(handle_) : 0;
  handle_ = InvalidHandle;
  if (error != 0) {
    NoteFailure(error, "Cannot write file " + fileName_ + ": " + SysErrorMessage(error));
    return false;
  }
  return !Failed();
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const TFileIo io = FileRead(handle_, buffer, count);
  if (io.error != 0) {
    NoteFailure(io.error, "Cannot read file " + fileName_ + ": " + SysErrorMessage(io.error));
  }
  return io.count;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const TFileIo io = FileWrite(handle_, buffer, count);
  if (io.error != 0) {
    NoteFailure(io.error, "Cannot write file " + fileName_ + ": " + SysErrorMessage(io.error));
  }
  return io.count;
}

int64_t TFileStream::Seek(int64_t offset, int origin) {
  if (origin < soFromBeginning || origin > soFromEnd) {
    throw Exception(FormatMessage("Invalid seek origin (%d)", {std::to_string(origin)}));
  }
  const int64_t position = FileSeek(handle_, offset, origin);
  if (position < 0) {
    const int error = errno;
    NoteFailure(error, "Cannot seek in file " + fileName_ + ": " + SysErrorMessage(error));
  }
  return position;
}

int64_t TFileStream::Size() {
  return FileSizeOf(handle_);
}

// --- TMemoryStream ---

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  const int64_t size = Size();
  if (count <= 0 || position_ >= size) return 0;
  const int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, bytes_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const auto end = static_cast<size_t>(position_ + count);
  if (end > bytes_.size()) bytes_.resize(end);
  std::memcpy(bytes_.data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, int origin) {
  const int64_t target = SeekTarget(offset, origin, position_, Size());
  if (target < 0) {
    NoteFailure(EINVAL, "Seek before the start of a memory stream");
    return -1;
  }
  position_ = target;
  return target;
}
