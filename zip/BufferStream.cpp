#include "BufferStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Errors.h"

TBufferStream::TBufferStream(TStream* inner) : inner_(inner), buffer_(new uint8_t[BufferSize]) {}

TBufferStream::~TBufferStream() {
  FlushPending();
}

int64_t TBufferStream::LogicalPosition() {
  const int64_t inner = inner_->Position();
  if (inner < 0) return -1;
  switch (mode_) {
    case TBufferMode::Reading:
      return inner - (limit_ - cursor_);
    case TBufferMode::Writing:
      return inner + cursor_;
    case TBufferMode::Neutral:
      break;
  }
  return inner;
}

bool TBufferStream::RefillBuffer() {
  const int64_t got = std::max<int64_t>(inner_->Read(buffer_.get(), BufferSize), 0);
  cursor_ = 0;
  limit_ = static_cast<int32_t>(got);
  mode_ = got > 0 ? TBufferMode::Reading : TBufferMode::Neutral;
  BufferRefilled();
  return got > 0;
}

bool TBufferStream::FlushPending() {
  // Only a writing buffer holds bytes of the caller; flushing a reading one
  // would write back what was read.
  if (mode_ != TBufferMode::Writing) return true;
  const int32_t pending = cursor_;
  const int64_t written = std::max<int64_t>(inner_->Write(buffer_.get(), pending), 0);
  flushed_ = written;
  cursor_ = 0;
  mode_ = TBufferMode::Neutral;
  BufferFlushed();
  const bool complete = written == pending;
  if (!complete && !inner_->Failed()) NoteFailure(ENOSPC, "Stream write error");
  return complete;
}

int64_t TBufferStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (mode_ != TBufferMode::Reading) {
    FlushPending();
    // Whatever the buffer held was written or is gone; start empty.
    cursor_ = limit_ = 0;
  }
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t total = 0;
  while (count > 0) {
    if (cursor_ == limit_ && !RefillBuffer()) break;
    const int64_t n = std::min<int64_t>(count, limit_ - cursor_);
    std::memcpy(out + total, buffer_.get() + cursor_, static_cast<size_t>(n));
    cursor_ += static_cast<int32_t>(n);
    total += n;
    count -= n;
  }
  return total;
}

int64_t TBufferStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (mode_ != TBufferMode::Writing) {
    if (mode_ == TBufferMode::Reading) {
      // Bytes read ahead are dropped; writing goes on at the logical position.
      const int64_t position = LogicalPosition();
      if (position < 0 || inner_->Seek(position, soFromBeginning) != position) {
        if (!inner_->Failed()) NoteFailure(EINVAL, "Seek error");
        return 0;
      }
    }
    cursor_ = 0;
    limit_ = BufferSize;
    mode_ = TBufferMode::Neutral;
  }
  const auto* in = static_cast<const uint8_t*>(buffer);
  int64_t taken = 0;
  while (count > 0) {
    const int64_t n = std::min<int64_t>(count, limit_ - cursor_);
    std::memcpy(buffer_.get() + cursor_, in + taken, static_cast<size_t>(n));
    cursor_ += static_cast<int32_t>(n);
    taken += n;
    count -= n;
    mode_ = TBufferMode::Writing;
    if (cursor_ == limit_) {
      const int32_t pending = cursor_;
      if (!FlushPending()) {
        // The bytes of this call that the failed flush lost were not taken.
        return std::max<int64_t>(taken - (pending - flushed_), 0);
      }
    }
  }
  return taken;
}

int64_t TBufferStream::Seek(int64_t offset, int origin) {
  const int64_t current = LogicalPosition();
  int64_t target = 0;
  bool bad = current < 0;
  switch (origin) {
    case soFromBeginning:
      target = offset;
      break;
    case soFromCurrent:
      bad = bad || __builtin_add_overflow(current, offset, &target);
      break;
    case soFromEnd: {
      // A positive offset counts back from the end just as a negative one.
      const uint64_t back = offset < 0 ? 0 - static_cast<uint64_t>(offset) : offset;
      const int64_t size = std::max(inner_->Size(), current);
      bad = bad || back > static_cast<uint64_t>(size);
      target = bad ? 0 : size - static_cast<int64_t>(back);
      break;
    }
    default:
      throw Exception(FormatMessage("Invalid seek origin (%d)", {std::to_string(origin)}));
  }
  if (bad || target < 0) throw Exception("Seek error");
  if (target == current) return target;
  if (!FlushPending()) throw Exception("Seek error");
  cursor_ = kNoCursor;
  mode_ = TBufferMode::Neutral;
  if (inner_->Seek(target, soFromBeginning) != target) throw Exception("Seek error");
  return target;
}

int64_t TBufferStream::Size() {
  const int64_t position = LogicalPosition();
  return std::max(inner_->Size(), position);
}

void TBufferStream::UnreadByte(uint8_t byte) {
  if (mode_ != TBufferMode::Reading || cursor_ <= 0) throw EStreamError("Putback overflow");
  buffer_[--cursor_] = byte;
}

bool TBufferStream::Failed() const {
  return TStream::Failed() || inner_->Failed();
}

int TBufferStream::ErrorCode() const {
  return TStream::Failed() ? TStream::ErrorCode() : inner_->ErrorCode();
}

std::string TBufferStream::ErrorText() const {
  return TStream::Failed() ? TStream::ErrorText() : inner_->ErrorText();
}

void TBufferStream::BufferRefilled() {
  if (OnBufferRefilled) OnBufferRefilled(this);
}

void TBufferStream::BufferFlushed() {
  if (OnBufferFlushed) OnBufferFlushed(this);
}

// --- TBufferedFileStream ---

TBufferedFileStream::TBufferedFileStream(const std::string& fileName, uint16_t mode)
    : TBufferedFileStream(std::make_unique<TFileStream>(fileName, mode)) {}

TBufferedFileStream::TBufferedFileStream(THandle handle, const std::string& fileName)
    : TBufferedFileStream(std::make_unique<TFileStream>(handle, fileName)) {}

TBufferedFileStream::TBufferedFileStream(std::unique_ptr<TFileStream> file)
    : TBufferStream(file.get()), file_(std::move(file)) {}

// The base destructor would flush into a file already closed; flush here.
TBufferedFileStream::~TBufferedFileStream() {
  Close();
}

bool TBufferedFileStream::Close() {
  FlushPending();
  file_->Close();
  return !Failed();
}
