// dbzip's --verify and --keep, in the program's own process so that a test
// seam can damage an archive between its write and its read-back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ArchiveVerify.h"
#include "DbzipInProcess.h"
#include "TempTree.h"

namespace {

// Rows of text that compress into a stream with no spare bit in its middle.
std::string Rows(char tag) {
  std::string s;
  for (int i = 0; s.size() < 300000; ++i) s += tag + std::to_string(i * 7919 % 100003) + "\n";
  return s;
}

void FlipMiddleByte(THandle handle) {
  const off_t at = ::lseek(handle, 0, SEEK_END) / 2;
  unsigned char byte = 0;
  if (::pread(handle, &byte, 1, at) != 1) std::abort();
  byte ^= 0x20;
  if (::pwrite(handle, &byte, 1, at) != 1) std::abort();
}

TEST(DbzipKeepTest, OptionsAreParsedAndRefused) {
  DbzipCommand c = ParseDbzipArguments({"-T", "--keep", "3", "-k", "s", "o"});
  ASSERT_EQ(c.kind, DbzipCommand::Kind::Run) << c.error;
  EXPECT_TRUE(c.options.verify);
  EXPECT_EQ(c.options.keep, 3);
  EXPECT_TRUE(c.options.keepTags);
  c = ParseDbzipArguments({"--verify", "--keep=0", "--keep-t", "s", "o"});
  EXPECT_TRUE(c.options.verify && c.options.keepTags);
  EXPECT_EQ(c.options.keep, 0);
  EXPECT_EQ(ParseDbzipArguments({"--keep", "x", "s", "o"}).error, "invalid count to keep 'x'");
  EXPECT_EQ(ParseDbzipArguments({"--keep", "1000", "s", "o"}).kind, DbzipCommand::Kind::UsageError);
  EXPECT_EQ(ParseDbzipArguments({"--kee", "s", "o"}).error, "option '--kee' is ambiguous");
}

// An archive damaged on its way to the disk replaces nothing and fails the
// run; the dry run says what a run would move; a foreign file in the chain
// fails the dry run as it fails the run.
TEST(DbzipKeepTest, ADamagedArchiveKeepsTheOldOnesAndTheDryRunForetellsTheMoves) {
  TempTree src, out;
  src.File("a.mdf", Rows('a'));
  ASSERT_EQ(Dbzip({"-q", "-T", "--keep", "1", src.Root(), out.Root()}).status, 0);
  src.File("a.mdf", Rows('b'));
  ASSERT_EQ(Dbzip({"-q", "-T", "--keep", "1", src.Root(), out.Root()}).status, 0);
  const std::string newest = ReadAll(out.Path("a.zip")), older = ReadAll(out.Path("a.zip.1"));
  ASSERT_NE(newest, older);

  src.File("a.mdf", Rows('c'));
  SetBeforeVerify(FlipMiddleByte);
  const Outcome damaged = Dbzip({"-q", "-T", "--keep", "1", src.Root(), out.Root()});
  SetBeforeVerify(nullptr);
  EXPECT_EQ(damaged.status, 1);
  EXPECT_NE(damaged.err.find(src.Path("a.mdf") + ": not archived: the archive written did not "
                                                 "read back as written"),
            std::string::npos)
      << damaged.err;
  EXPECT_EQ(ReadAll(out.Path("a.zip")), newest);
  EXPECT_EQ(ReadAll(out.Path("a.zip.1")), older);
  EXPECT_FALSE(std::filesystem::exists(out.Path("a.zip.2")));

  const Outcome plan = Dbzip({"-n", "--keep", "2", src.Root(), out.Root()});
  EXPECT_EQ(plan.status, 0) << plan.err;
  EXPECT_EQ(plan.out, src.Path("a.mdf") + " -> " + out.Path("a.zip") + "\n" + out.Path("a.zip.1") +
                          " would become " + out.Path("a.zip.2") + "\n" + out.Path("a.zip") +
                          " would become " + out.Path("a.zip.1") +
                          "\n1 database found, 1 would be archived\n");
  out.File("a.zip.1", "not an archive");
  const Outcome refused = Dbzip({"-n", "--keep", "2", src.Root(), out.Root()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find(src.Path("a.mdf") +
                             ": would be reported: the archive it replaces "
                             "is not kept: " +
                             out.Path("a.zip.1") + " is not an archive of this database"),
            std::string::npos)
      << refused.out;
  const Outcome again = Dbzip({"-q", "--keep", "2", src.Root(), out.Root()});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(ReadAll(out.Path("a.zip.1")), "not an archive");
}

}  // namespace
