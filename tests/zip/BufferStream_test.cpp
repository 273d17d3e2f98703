// The buffered stream seen from its inner stream: when blocks reach it, what
// a seek flushes, and how failures surface.
#include "BufferStream.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "Errors.h"
#include "TempTree.h"

namespace {

// A memory stream that records every write reaching it and can play a full
// disk: it takes at most `room` bytes in all.
class RecordingStream : public TMemoryStream {
 public:
  std::vector<int64_t> writes;
  int64_t room = INT64_MAX;
  bool reportFailure = false;

  int64_t Write(const void* buffer, int64_t count) override {
    writes.push_back(count);
    const int64_t n = std::min(count, room);
    room -= n;
    if (n < count && reportFailure) NoteFailure(ENOSPC, "disk full");
    return TMemoryStream::Write(buffer, n);
  }
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 0) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed);
  return bytes;
}

std::string TempDir() {
  return MakeTempDir();
}

void WriteFile(const std::string& path, const std::string& content) {
  TFileStream file(path, fmCreate);
  ASSERT_EQ(file.Write(content.data(), static_cast<int64_t>(content.size())),
            static_cast<int64_t>(content.size()));
}

}  // namespace

// 20000 bytes written in one call reach the inner stream as two full blocks;
// the rest waits for whatever comes next that needs it.
TEST(BufferStreamWrite, LargeWriteGoesOutInBlocksAndTheRestAtTheNextTrigger) {
  enum Trigger { MovingSeek, Read, Destruction };
  for (Trigger trigger : {MovingSeek, Read, Destruction}) {
    SCOPED_TRACE(trigger);
    RecordingStream inner;
    const auto data = Pattern(20000);
    {
      TBufferStream stream(&inner);
      ASSERT_EQ(stream.Write(data.data(), 20000), 20000);
      EXPECT_EQ(inner.writes, (std::vector<int64_t>{8192, 8192}));
      if (trigger == MovingSeek) stream.Seek(0, soFromBeginning);
      if (trigger == Read) {
        uint8_t byte;
        EXPECT_EQ(stream.Read(&byte, 1), 0);  // at the end: nothing to read
      }
      if (trigger != Destruction) {
        EXPECT_EQ(inner.writes, (std::vector<int64_t>{8192, 8192, 3616}));
      }
    }
    EXPECT_EQ(inner.writes, (std::vector<int64_t>{8192, 8192, 3616}));
    EXPECT_EQ(inner.Bytes(), data);
  }
}

TEST(BufferStreamWrite, PositionAndSizeWhilePendingWriteNothing) {
  RecordingStream inner;
  TBufferStream stream(&inner);
  const auto data = Pattern(8192 + 100);
  stream.Write(data.data(), static_cast<int64_t>(data.size()));
  ASSERT_EQ(inner.writes.size(), 1u);
  EXPECT_EQ(stream.Position(), inner.Position() + 100);
  EXPECT_EQ(stream.Size(), 8292);
  EXPECT_EQ(stream.Seek(0, soFromCurrent), 8292);
  EXPECT_EQ(stream.Seek(8292, soFromBeginning), 8292);
  EXPECT_EQ(inner.writes.size(), 1u);
  EXPECT_EQ(stream.Mode(), TBufferMode::Writing);
}

TEST(BufferStreamWrite, RewritingAHeaderChangesOnlyTheHeader) {
  const std::string dir = TempDir();
  const std::string path = dir + "archive.bin";
  auto expected = Pattern(50000);
  const auto header = Pattern(30, 99);
  {
    TBufferedFileStream stream(path, fmCreate);
    stream.Write(expected.data(), 20000);
    stream.Write(expected.data() + 20000, 30000);
    const int64_t end = stream.Position();
    ASSERT_EQ(stream.Seek(1000, soFromBeginning), 1000);
    stream.Write(header.data(), 30);
    ASSERT_EQ(stream.Seek(end, soFromBeginning), 50000);
    stream.Write("tail", 4);
  }
  std::copy(header.begin(), header.end(), expected.begin() + 1000);
  expected.insert(expected.end(), {'t', 'a', 'i', 'l'});
  TBufferedFileStream check(path, fmOpenReadShared);
  std::vector<uint8_t> got(60000);
  ASSERT_EQ(check.Read(got.data(), 60000), 50004);
  got.resize(50004);
  EXPECT_EQ(got, expected);
}

TEST(BufferStreamSeek, FromTheEndCountsBackwardsWhateverTheSign) {
  RecordingStream inner;
  TBufferStream stream(&inner);
  const auto data = Pattern(100);
  stream.Write(data.data(), 100);  // all of it still pending
  EXPECT_EQ(stream.Seek(10, soFromEnd), 90);
  stream.Write(data.data(), 50);  // grows the logical end to 140
  EXPECT_EQ(stream.Seek(-10, soFromEnd), 130);
  EXPECT_EQ(stream.Seek(0, soFromEnd), 140);
}

TEST(BufferStreamSeek, ErrorsCarryTheirTexts) {
  RecordingStream inner;
  TBufferStream stream(&inner);
  try {
    stream.Seek(0, 3);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid seek origin (3)");
  }
  try {
    stream.Seek(-1, soFromBeginning);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Seek error");
  }
  // Pending bytes that cannot be written stop a seek.
  inner.room = 10;
  stream.Write("0123456789abcdef", 16);
  try {
    stream.Seek(0, soFromBeginning);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Seek error");
  }
  EXPECT_TRUE(stream.Failed());
}

TEST(BufferStreamRead, ShortFileReturnsWhatThereIsThenNothing) {
  const std::string path = TempDir() + "five";
  WriteFile(path, "12345");
  TBufferedFileStream stream(path, fmOpenReadShared);
  char buffer[100];
  EXPECT_EQ(stream.Read(buffer, 100), 5);
  EXPECT_EQ(std::string(buffer, 5), "12345");
  EXPECT_EQ(stream.Read(buffer, 100), 0);
  EXPECT_FALSE(stream.Failed());
  EXPECT_EQ(stream.Size(), 5);
}

TEST(BufferStreamRead, ReadsAcrossRefillsAndKeepsTheLogicalPosition) {
  RecordingStream inner;
  const auto data = Pattern(20000);
  inner.Write(data.data(), 20000);
  inner.Seek(0, soFromBeginning);
  TBufferStream stream(&inner);
  std::vector<uint8_t> got(20000);
  EXPECT_EQ(stream.Read(got.data(), 3), 3);
  EXPECT_EQ(stream.Position(), 3);
  EXPECT_EQ(stream.Read(got.data() + 3, 19997), 19997);
  EXPECT_EQ(got, data);
  // Origin 2 and 1 from a reading buffer.
  EXPECT_EQ(stream.Seek(5, soFromEnd), 19995);
  uint8_t byte;
  stream.Read(&byte, 1);
  EXPECT_EQ(byte, data[19995]);
  EXPECT_EQ(stream.Seek(-2, soFromCurrent), 19994);
  stream.Read(&byte, 1);
  EXPECT_EQ(byte, data[19994]);
}

TEST(BufferStreamRead, UnreadByteComesBackOnTheNextRead) {
  TMemoryStream inner(std::vector<uint8_t>{'a', 'b', 'c'});
  TBufferStream stream(&inner);
  try {
    stream.UnreadByte('x');
    FAIL();
  } catch (const EStreamError& e) {
    EXPECT_EQ(e.Message(), "Putback overflow");
  }
  char c;
  stream.Read(&c, 1);
  stream.UnreadByte('z');
  EXPECT_EQ(stream.Position(), 0);
  char got[3];
  ASSERT_EQ(stream.Read(got, 3), 3);
  EXPECT_EQ(std::string(got, 3), "zbc");
}

// Switching direction without a seek still reads and writes at the logical
// position, and never hands out or writes back stale buffer bytes.
TEST(BufferStreamMixed, DirectionChangesWithoutASeekStayAtTheLogicalPosition) {
  {  // A read right after a write of exactly one block.
    RecordingStream inner;
    TBufferStream stream(&inner);
    const auto data = Pattern(8192);
    stream.Write(data.data(), 8192);
    uint8_t byte;
    EXPECT_EQ(stream.Read(&byte, 1), 0);
  }
  {  // A write after reads that met the end appends.
    TMemoryStream inner(std::vector<uint8_t>{'a', 'b'});
    {
      TBufferStream stream(&inner);
      char got[4];
      EXPECT_EQ(stream.Read(got, 4), 2);
      EXPECT_EQ(stream.Write("cd", 2), 2);
    }
    EXPECT_EQ(inner.Bytes(), (std::vector<uint8_t>{'a', 'b', 'c', 'd'}));
  }
  {  // A write in the middle of buffered reads overwrites there.
    TMemoryStream inner(std::vector<uint8_t>{'a', 'b', 'c', 'd', 'e'});
    {
      TBufferStream stream(&inner);
      char got[2];
      stream.Read(got, 2);
      stream.Write("X", 1);
      EXPECT_EQ(stream.Position(), 3);
    }
    EXPECT_EQ(inner.Bytes(), (std::vector<uint8_t>{'a', 'b', 'X', 'd', 'e'}));
  }
}

// A file the system lets grow to 4096 bytes only, for as long as it lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit saved_{};
  void (*oldHandler_)(int);
};

TEST(BufferStreamFailure, ShortWriteOfTheSystemIsRecorded) {
  const auto data = Pattern(10000);
  std::vector<std::string> targets = {TempDir() + "limited"};
  if (::access("/dev/full", W_OK) == 0) targets.push_back("/dev/full");
  for (const auto& path : targets) {
    SCOPED_TRACE(path);
    FileSizeLimit limit(4096);
    TBufferedFileStream stream(path, fmCreate);
    EXPECT_LT(stream.Write(data.data(), 10000), 10000);
    EXPECT_TRUE(stream.Failed());
    EXPECT_TRUE(stream.ErrorCode() == ENOSPC || stream.ErrorCode() == EFBIG);
    EXPECT_NE(stream.ErrorText().find(path), std::string::npos);
    EXPECT_FALSE(stream.Close());
  }
}

TEST(BufferStreamFailure, WriteCountsOnlyWhatAFailedFlushDidNotLose) {
  RecordingStream inner;
  inner.room = 8000;
  TBufferStream stream(&inner);
  const auto data = Pattern(10000);
  stream.Write(data.data(), 100);                    // pending, accepted
  EXPECT_EQ(stream.Write(data.data(), 9900), 7900);  // the block loses 192
  EXPECT_TRUE(stream.Failed());
  EXPECT_EQ(stream.ErrorText(), "Stream write error");
  // The inner stream's own reason wins over the buffer's.
  RecordingStream reporting;
  reporting.room = 0;
  reporting.reportFailure = true;
  TBufferStream second(&reporting);
  second.Write(data.data(), 9000);
  EXPECT_EQ(second.ErrorText(), "disk full");
}

TEST(BufferStreamFailure, ReadErrorIsNotTheEndOfFile) {
  // Reading address 0 of the process's own memory fails with EIO.
  TBufferedFileStream broken("/proc/self/mem", fmOpenReadShared);
  char buffer[16];
  EXPECT_EQ(broken.Read(buffer, 16), 0);
  EXPECT_TRUE(broken.Failed());
  EXPECT_EQ(broken.ErrorCode(), EIO);

  const std::string path = TempDir() + "empty";
  WriteFile(path, "");
  TBufferedFileStream empty(path, fmOpenReadShared);
  EXPECT_EQ(empty.Read(buffer, 16), 0);
  EXPECT_FALSE(empty.Failed());
}

TEST(BufferedFileStream, OpenFailuresRaiseWithTheFileName) {
  const std::string dir = TempDir();
  try {
    TBufferedFileStream s(dir + "missing/x.zip", fmCreate);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file " + dir + "missing/x.zip");
  }
  try {
    TBufferedFileStream s(dir + "absent.mdf", fmOpenReadShared);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file " + dir + "absent.mdf");
  }
  // A directory is not a file to read.
  EXPECT_THROW(TBufferedFileStream(dir, fmOpenReadDenyWrite), EFOpenError);
}

TEST(BufferedFileStream, CreateTruncatesAndHooksFire) {
  const std::string path = TempDir() + "t";
  WriteFile(path, "old content that is longer");
  int refills = 0, flushes = 0;
  {
    TBufferedFileStream stream(path, fmCreate);
    stream.OnBufferFlushed = [&](TObject*) { ++flushes; };
    stream.OnBufferRefilled = [&](TObject*) { ++refills; };
    stream.Write("new", 3);
    EXPECT_EQ(stream.Size(), 3);
    EXPECT_TRUE(stream.Close());
  }
  EXPECT_EQ(flushes, 1);
  TBufferedFileStream check(path, fmOpenReadShared);
  check.OnBufferRefilled = [&](TObject*) { ++refills; };
  char got[8];
  EXPECT_EQ(check.Read(got, 8), 3);
  EXPECT_EQ(refills, 2);  // one with the bytes, one finding the end
  EXPECT_GE(check.FileHandle(), 0);
}
