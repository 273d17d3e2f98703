// dbzip --update: an archive is left as it is only when it is the one the run
// would write again, and everything else is written as in any run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "DbzipInProcess.h"
#include "TempTree.h"

namespace {

std::string Rows(char tag) {
  std::string s;
  for (int i = 0; s.size() < 300000; ++i) s += tag + std::to_string(i * 7919 % 100003) + "\n";
  s.resize(300000);
  return s;
}

// A file's identity and bytes: what a file left as it is keeps.
struct Kept {
  ino_t inode = 0;
  int64_t writtenNs = 0;  // the last-write time
  std::string bytes;
  bool operator==(const Kept& o) const = default;
};
Kept Look(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {st.st_ino, int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec, ReadAll(path)};
}

class DbzipUpdateTest : public ::testing::Test {
 protected:
  TempTree src, out;
  const std::string db = src.File("a.mdf", Rows('a'));
  const std::string zip = out.Path("a.zip");
};

// Left as it is: no byte, inode or time of the archive or of its earlier
// generation moves, and every printer says unchanged.
TEST_F(DbzipUpdateTest, AnUnchangedDatabaseMovesNoGeneration) {
  EXPECT_TRUE(ParseDbzipArguments({"-u", "s", "o"}).options.update);
  EXPECT_TRUE(ParseDbzipArguments({"--update", "s", "o"}).options.update);
  ASSERT_EQ(Dbzip({"-q", "-6", "--keep", "2", src.Root(), out.Root()}).status, 0);
  ASSERT_EQ(Dbzip({"-q", "-6", "--keep", "2", src.Root(), out.Root()}).status, 0);
  const Kept archive = Look(zip), first = Look(zip + ".1");
  ASSERT_FALSE(first.bytes.empty());

  const Outcome r = Dbzip({"-u", "-6", "--keep", "2", src.Root(), out.Root()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(db + ": unchanged\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 database found, 1 archived (1 unchanged)"), std::string::npos) << r.out;
  const Outcome json = Dbzip({"-u", "-6", "--keep", "2", "--json", src.Root(), out.Root()});
  EXPECT_NE(json.out.find(R"("outcome":"unchanged","reason":null)"), std::string::npos);
  EXPECT_NE(json.out.find(R"("archived":1,"unchanged":1,"not_archived":0)"), std::string::npos);
  EXPECT_TRUE(Look(zip) == archive);
  EXPECT_TRUE(Look(zip + ".1") == first);
  EXPECT_FALSE(std::filesystem::exists(zip + ".2"));
}

// A server may rewrite a page and leave the size and time as they were: the
// CRC-32 of the data read tells, and so does the level the data was coded at
// where the flags are the same (levels 5 and 6).
TEST_F(DbzipUpdateTest, ADatabaseOrLevelThatChangedIsWrittenAgain) {
  ASSERT_EQ(Dbzip({"-q", "-6", src.Root(), out.Root()}).status, 0);
  const auto time = std::filesystem::last_write_time(db);
  std::string changed = Rows('a');
  changed[changed.size() / 2] ^= 1;
  src.File("a.mdf", changed);
  std::filesystem::last_write_time(db, time);
  Outcome r = Dbzip({"-u", "-6", src.Root(), out.Root()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(db + " -> " + out.Path("a.zip") + ": 300000 bytes -> "), std::string::npos)
      << r.out;
  const std::string six = ReadAll(zip);

  r = Dbzip({"-u", "-5", src.Root(), out.Root()});
  EXPECT_NE(r.out.find(db + " -> " + out.Path("a.zip") + ": 300000 bytes -> "), std::string::npos)
      << r.out;
  EXPECT_NE(ReadAll(zip), six);
  EXPECT_NE(Dbzip({"-u", "-5", src.Root(), out.Root()}).out.find(db + ": unchanged"),
            std::string::npos);
}

// With --verify the archive left is decoded too: one whose records hold the
// database but whose data is damaged is written again, told, and takes no
// generation's place. Without it the records alone are read.
TEST_F(DbzipUpdateTest, VerifyWritesADamagedArchiveAgain) {
  ASSERT_EQ(Dbzip({"-q", "--keep", "1", src.Root(), out.Root()}).status, 0);
  const int fd = ::open(zip.c_str(), O_RDWR);
  const off_t at = ::lseek(fd, 0, SEEK_END) / 2;
  unsigned char byte = 0;
  ASSERT_EQ(::pread(fd, &byte, 1, at), 1);
  byte ^= 0x20;
  ASSERT_EQ(::pwrite(fd, &byte, 1, at), 1);
  ::close(fd);
  const std::string damaged = ReadAll(zip);
  EXPECT_NE(Dbzip({"-u", src.Root(), out.Root()}).out.find(db + ": unchanged"), std::string::npos);

  const Outcome plan = Dbzip({"-u", "-T", "-n", src.Root(), out.Root()});
  EXPECT_EQ(plan.status, 1);
  EXPECT_NE(plan.out.find(db + ": would be reported: its archive is damaged and would be written "
                               "again: the entry's data at offset "),
            std::string::npos)
      << plan.out;
  const Outcome r = Dbzip({"-u", "-T", "--keep", "1", src.Root(), out.Root()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(db + ": its archive was damaged and is written again: the entry's data at "
                            "offset "),
            std::string::npos)
      << r.err;
  EXPECT_NE(ReadAll(zip), damaged);
  EXPECT_FALSE(std::filesystem::exists(zip + ".1"));
  EXPECT_EQ(Dbzip({"-u", "-T", src.Root(), out.Root()}).status, 0);
}

// The dry run reads the database and the archive as the run would.
TEST_F(DbzipUpdateTest, TheDryRunSaysWhichAreUnchanged) {
  const std::string other = src.File("b.mdf", Rows('b'));
  ASSERT_EQ(Dbzip({"-q", src.Root(), out.Root()}).status, 0);
  src.File("b.mdf", Rows('c'));
  const Outcome plan = Dbzip({"-u", "-n", src.Root(), out.Root()});
  EXPECT_EQ(plan.status, 0) << plan.err;
  EXPECT_NE(plan.out.find(db + ": unchanged\n"), std::string::npos) << plan.out;
  EXPECT_NE(plan.out.find(other + " -> " + out.Path("b.zip") + "\n"), std::string::npos);
  EXPECT_NE(plan.out.find("2 databases found, 2 would be archived (1 unchanged)\n"),
            std::string::npos);
  EXPECT_NE(
      Dbzip({"-u", "-n", "--json", src.Root(), out.Root()}).out.find(R"("outcome":"unchanged")"),
      std::string::npos);
}

}  // namespace
