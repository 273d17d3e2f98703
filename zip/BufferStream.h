// One 8192-byte buffer in front of another stream, so that the many small
// reads and writes of the compressor and the header code reach the file in
// blocks. TBufferedFileStream opens a named file itself and owns it, or
// works on a handle its caller keeps.
//
// The buffer is neutral (holds nothing), reading (holds bytes not yet handed
// out) or writing (holds bytes not yet flushed). Every seek that moves the
// position flushes pending bytes first and leaves the buffer neutral; a seek
// to the current position changes nothing, so asking for the position never
// flushes or discards.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Streams.h"

inline constexpr int32_t BufferSize = 8192;

enum class TBufferMode : uint8_t { Neutral = 0, Reading = 1, Writing = 2 };

using TBufferEvent = std::function<void(TObject* Sender)>;

class TBufferStream : public TStream {
 public:
  // The inner stream is not owned and must outlive this one.
  explicit TBufferStream(TStream* inner);
  // Flushes pending bytes; a failure here cannot be reported (call
  // FlushPending first and look at Failed when it matters).
  ~TBufferStream() override;

  // Fewer than count only at the end of the inner stream or after its error.
  int64_t Read(void* buffer, int64_t count) override;
  // Fewer than count when a flush could not write everything (disk full);
  // the failure is recorded, nothing is raised.
  int64_t Write(const void* buffer, int64_t count) override;
  // Origin 2 counts back from the logical end by the absolute value of
  // offset. Raises Exception "Invalid seek origin (%d)" for an unknown origin
  // and "Seek error" when pending bytes cannot be flushed or the position is
  // refused.
  int64_t Seek(int64_t offset, int origin) override;
  // The logical size: the larger of the inner size and the logical position.
  // Moves nothing and flushes nothing.
  int64_t Size() override;

  // Reads up to a buffer's worth from the inner stream; whether any came.
  virtual bool RefillBuffer();
  // Writes the pending bytes in one call; whether all of them were taken.
  // Nothing to do (true) unless the buffer is writing.
  virtual bool FlushPending();
  // Puts one byte back so that the next read returns it. Raises EStreamError
  // "Putback overflow" when no byte read from the buffer is there to replace.
  virtual void UnreadByte(uint8_t byte);

  bool Failed() const override;
  int ErrorCode() const override;
  std::string ErrorText() const override;

  TBufferMode Mode() const { return mode_; }

  // Called after every refill and every flush when set.
  TBufferEvent OnBufferRefilled;
  TBufferEvent OnBufferFlushed;

 protected:
  virtual void BufferRefilled();
  virtual void BufferFlushed();
  TStream* Inner() const { return inner_; }

 private:
  static constexpr int32_t kNoCursor = -1;

  // The inner position less the bytes not yet handed out, or plus the bytes
  // not yet flushed.
  int64_t LogicalPosition();

  TStream* inner_;
  std::unique_ptr<uint8_t[]> buffer_;
  int32_t cursor_ = kNoCursor;  // next byte to hand out or to fill
  int32_t limit_ = BufferSize;  // end of valid bytes (reading) or of the buffer
  TBufferMode mode_ = TBufferMode::Neutral;
  int64_t flushed_ = 0;  // bytes the last flush delivered
};

class TBufferedFileStream : public TBufferStream {
 public:
  // Opens fileName with mode (fmCreate, fmOpenReadShared...); raises
  // EFCreateError "Cannot create file %s" or EFOpenError "Cannot open file %s".
  TBufferedFileStream(const std::string& fileName, uint16_t mode);
  // Over a file the caller opened and closes itself; fileName names it in
  // messages.
  TBufferedFileStream(THandle handle, const std::string& fileName);
  // Flushes, then closes the file.
  ~TBufferedFileStream() override;

  // Flushes pending bytes and closes the file; false when anything written
  // or read through this stream failed, the close included.
  bool Close();

  // The operating-system handle of the open file.
  THandle FileHandle() const { return file_->Handle(); }

 private:
  explicit TBufferedFileStream(std::unique_ptr<TFileStream> file);

  std::unique_ptr<TFileStream> file_;
};
