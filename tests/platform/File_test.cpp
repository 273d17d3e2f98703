// The file primitives and the archive-name code page.
#include "File.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "CodePage.h"
#include "DirList.h"
#include "Files.h"
#include "TempTree.h"
#include "Utf8.h"

namespace {

std::string TempDir() {
  return MakeTempDir();
}

void Touch(const std::string& path, const std::string& content = "") {
  const THandle h = FileCreate(path);
  ASSERT_NE(h, InvalidHandle);
  EXPECT_EQ(FileWrite(h, content.data(), static_cast<int64_t>(content.size())).count,
            static_cast<int64_t>(content.size()));
  EXPECT_EQ(FileClose(h), 0);
}

}  // namespace

TEST(File, AttributesFollowKindOwnerWriteAndDotNames) {
  const std::string dir = TempDir();
  Touch(dir + "plain");
  Touch(dir + ".hidden");
  Touch(dir + "locked");
  ::chmod((dir + "locked").c_str(), 0444);
  ::mkdir((dir + "sub").c_str(), 0755);
  ::symlink((dir + "nowhere").c_str(), (dir + "dangling").c_str());
  EXPECT_EQ(FileGetAttr(dir + "plain"), faArchive);
  EXPECT_EQ(FileGetAttr(dir + ".hidden"), faArchive | faHidden);
  EXPECT_EQ(FileGetAttr(dir + "locked"), faArchive | faReadOnly);
  EXPECT_EQ(FileGetAttr(dir + "sub"), faDirectory);
  EXPECT_NE(FileGetAttr(dir + "dangling"), faInvalid);  // the link itself
  EXPECT_EQ(FileGetAttr(dir + "missing"), faInvalid);
}

TEST(File, StatusByNameIsWhatTheListingReports) {
  const std::string dir = TempDir();
  Touch(dir + "plain", "twelve bytes");
  Touch(dir + ".hidden", "x");
  ::mkdir((dir + "sub").c_str(), 0755);
  ::symlink((dir + "nowhere").c_str(), (dir + "dangling").c_str());
  ::symlink((dir + "plain").c_str(), (dir + "link").c_str());
  // Beyond 4 GiB without taking the space.
  const std::string big = dir + "big";
  Touch(big);
  ASSERT_EQ(::truncate(big.c_str(), (int64_t{5} << 30) + 3), 0);
  const timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimes(big.c_str(), old), 0);

  int seen = 0;
  for (TDirList list(dir); list.Next();) {
    const std::string name(list.Name());
    if (name == "." || name == "..") continue;
    SCOPED_TRACE(name);
    const TDirEntryInfo& listed = list.Describe();
    const TFileStatus status = FileStatusOf(dir + name);
    EXPECT_TRUE(status.Exists());
    EXPECT_EQ(status.Attr, listed.Attr);
    EXPECT_EQ(status.Size, listed.Size);
    EXPECT_EQ(status.Time, listed.Time);
    ++seen;
  }
  EXPECT_EQ(seen, 6);
  EXPECT_EQ(FileStatusOf(big).Size, (int64_t{5} << 30) + 3);
  EXPECT_EQ(FileStatusOf(dir + "link").Size, 12);
  EXPECT_EQ(FileStatusOf(dir + "sub").Size, 0);
  EXPECT_EQ(FileStatusOf(big).Time, DosDateTimeFromUnix(1000000000));
  EXPECT_FALSE(FileStatusOf(dir + "missing").Exists());
  EXPECT_FALSE(FileStatusOf("").Exists());

  // A rewrite within the same second still shows in the precise time.
  const int64_t before = FileStatusOf(dir + "plain").WriteTimeNs;
  const std::chrono::sys_time<std::chrono::nanoseconds> later{
      std::chrono::nanoseconds{int64_t{1000000000} * 1000000000 + 5}};
  std::filesystem::last_write_time(dir + "plain", std::chrono::file_clock::from_sys(later));
  EXPECT_NE(FileStatusOf(dir + "plain").WriteTimeNs, before);
  EXPECT_EQ(FileStatusOf(dir + "plain").WriteTimeNs, int64_t{1000000000} * 1000000000 + 5);
}

TEST(File, CreateTruncatesReadSeekAndSize) {
  const std::string path = TempDir() + "f";
  Touch(path, "0123456789");
  Touch(path, "abc");
  const THandle h = FileOpen(path, TFileAccess::Read);
  ASSERT_NE(h, InvalidHandle);
  EXPECT_EQ(FileSizeOf(h), 3);
  EXPECT_EQ(FileSeek(h, 1, 0), 1);
  char buffer[10];
  const TFileIo io = FileRead(h, buffer, 10);
  EXPECT_EQ(io.count, 2);
  EXPECT_EQ(io.error, 0);  // the end, not an error
  EXPECT_EQ(FileSeek(h, -1, 2), 2);
  EXPECT_EQ(FileSeek(h, 0, 7), -1);
  const TFileIo denied = FileWrite(h, "x", 1);
  EXPECT_EQ(denied.count, 0);
  EXPECT_EQ(denied.error, EBADF);
  FileClose(h);
  EXPECT_EQ(FileOpen(TempDir(), TFileAccess::Read), InvalidHandle);
  EXPECT_EQ(errno, EISDIR);
}

// Reading only regular files means never opening anything else: opening is
// an act for a device (a tape rewinds) or a FIFO (a waiting writer goes on),
// and a name can change from a regular file to such a file at any moment.
TEST(File, ReadingNeverOpensWhatIsNotARegularFile) {
  const std::string dir = TempDir();
  const std::string fifo = dir + "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_symlink(fifo, dir + "db.mdf");
  // This writer waits until someone opens the FIFO for reading.
  auto writer = std::async(std::launch::async, [&] { return ::open(fifo.c_str(), O_WRONLY); });
  ASSERT_EQ(writer.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);

  EXPECT_EQ(FileOpen(dir + "db.mdf", TFileAccess::Read), InvalidHandle);
  EXPECT_EQ(errno, ErrNotRegularFile);
  EXPECT_EQ(writer.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
      << "the FIFO was opened";

  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  const int written = writer.get();
  EXPECT_GE(written, 0);
  ::close(written);
  ::close(reader);
  // A regular file behind a link is still read.
  Touch(dir + "real", "rows");
  std::filesystem::create_symlink(dir + "real", dir + "linked.mdf");
  const THandle h = FileOpen(dir + "linked.mdf", TFileAccess::Read);
  ASSERT_NE(h, InvalidHandle);
  EXPECT_EQ(FileSizeOf(h), 4);
  FileClose(h);
}

TEST(File, LastWriteTimeAsLocalDosDateTime) {
  const std::string path = TempDir() + "dated";
  Touch(path);
  struct tm when {};
  when.tm_year = 2024 - 1900, when.tm_mon = 6, when.tm_mday = 15;
  when.tm_hour = 10, when.tm_min = 20, when.tm_sec = 31, when.tm_isdst = -1;
  const struct timeval times[2] = {{std::mktime(&when), 0}, {std::mktime(&when), 0}};
  ASSERT_EQ(::utimes(path.c_str(), times), 0);
  const THandle h = FileOpen(path, TFileAccess::Read);
  // 2024-07-15 10:20:30 (two-second resolution)
  EXPECT_EQ(FileDosDateTime(h), (44u << 9 | 7u << 5 | 15u) << 16 | 10u << 11 | 20u << 5 | 15u);
  FileClose(h);
  EXPECT_EQ(FileDosDateTime(InvalidHandle), 0xFFFFFFFFu);
}

TEST(File, TemporaryFilesAndCopies) {
  const std::string dir = TempDir();
  EXPECT_EQ(GetTempDir(dir.substr(0, dir.size() - 1)), dir);
  EXPECT_EQ(GetTempDir(dir + "missing").back(), '/');
  const std::string temp = CreateTempFile(dir, "zip");
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(ExtractFileName(temp).substr(0, 3), "zip");
  EXPECT_TRUE(FileExists(temp));
  EXPECT_NE(CreateTempFile(dir, "zip"), temp);
  EXPECT_TRUE(CreateTempFile(dir + "missing/", "zip").empty());

  const std::string big(200000, 'q');
  Touch(temp, big);
  EXPECT_EQ(CopyFileContents(temp, dir + "copy"), 200000);
  const THandle h = FileOpen(dir + "copy", TFileAccess::Read);
  EXPECT_EQ(FileSizeOf(h), 200000);
  FileClose(h);
  EXPECT_EQ(CopyFileContents(dir + "absent", dir + "copy2"), -1);
  EXPECT_FALSE(FileExists(dir + "copy2"));
  {  // A copy the system stops part way leaves nothing behind.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    const int64_t copied = CopyFileContents(temp, dir + "cut");
    const int error = errno;
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(copied, -1);
    EXPECT_EQ(error, EFBIG);
    EXPECT_FALSE(FileExists(dir + "cut"));
  }
}

TEST(CodePage, EveryCodePage437ByteSurvivesTheRoundTrip) {
  for (int b = 1; b < 256; ++b) {
    const std::string oem(1, static_cast<char>(b));
    const std::string ansi = OemToAnsi(oem, false);
    EXPECT_TRUE(IsValidUtf8(ansi));
    const TOemName back = AnsiToOem(ansi);
    EXPECT_EQ(back.bytes, oem) << b;
    EXPECT_FALSE(back.utf8);
  }
  EXPECT_EQ(OemToAnsi("\x82", false), "\xC3\xA9");  // é
  EXPECT_EQ(OemToAnsi("\xC3\xA9", true), "\xC3\xA9");
}

// The one coder both the archive names and the Windows boundary use: every
// code point comes back, surrogates only when they are asked to.
TEST(CodePage, Utf8CoderRoundTripsEveryCodePoint) {
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    std::string bytes;
    AppendUtf8(bytes, cp);
    const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    size_t pos = 0;
    const auto kept = NextUtf8(bytes, pos, TSurrogates::Kept);
    ASSERT_TRUE(kept && *kept == cp && pos == bytes.size())
        << std::hex << static_cast<uint32_t>(cp);
    pos = 0;
    ASSERT_EQ(NextUtf8(bytes, pos).has_value(), !surrogate)
        << std::hex << static_cast<uint32_t>(cp);
    ASSERT_EQ(pos, surrogate ? 0u : bytes.size());
  }
}

TEST(CodePage, Utf8IsRecognisedStrictly) {
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));   // U+1F600
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong "/"
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // a surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xE2\x82"));          // cut short
  // A character beyond code page 437 after a malformed one: byte for byte.
  const TOemName mixed = AnsiToOem("\xC5\x81\xFF");
  EXPECT_EQ(mixed.bytes, "\xC5\x81\xFF");
  EXPECT_FALSE(mixed.utf8);
  const TOemName emoji = AnsiToOem("a\xF0\x9F\x98\x80");
  EXPECT_TRUE(emoji.utf8);
  EXPECT_EQ(emoji.bytes, "a\xF0\x9F\x98\x80");
}
