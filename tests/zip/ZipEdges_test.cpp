// The writer under awkward conditions: names beyond ASCII and of odd shape,
// modification times outside the MS-DOS range, files that change size while
// they are read, and archives that must not grow ZIP64 records.
#include <unistd.h>

#include "Files.h"
#include "WriterFixture.h"

namespace {

using namespace writer_test;

struct NameCase {
  const char* label;
  std::string onDisk;  // the file's name, as the system gives it
  std::string stored;  // the bytes both headers hold
  bool utf8;           // general purpose bit 11
  std::string read;    // the name the readers report
};

class WriterNames : public WriterTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(WriterNames, EveryReaderReadsTheNameBack) {
  const NameCase c = GetParam();
  const std::string source = tree.File("in/" + c.onDisk, "named " + c.onDisk);
  const std::string archive = tree.Path("names.zip");
  ASSERT_EQ(ZipOne(archive, source, 6), 1);
  const ac::Report r = ac::CheckArchive(archive);
  ASSERT_TRUE(r.ok) << r.log;
  ASSERT_EQ(r.entries.size(), 1u);
  EXPECT_EQ(r.entries[0].rawName, c.stored);
  EXPECT_EQ(r.entries[0].Num("flags") & 0x800, c.utf8 ? 0x800u : 0u);
  EXPECT_EQ(r.entries[0].name, c.read);
  EXPECT_EQ(r.unzipNames, std::vector<std::string>{c.read});
  EXPECT_EQ(r.sevenZipNames, std::vector<std::string>{c.read});
  // bsdtar takes every backslash in a name for a separator.
  std::string forBsdtar = c.read;
  std::replace(forBsdtar.begin(), forBsdtar.end(), '\\', '/');
  EXPECT_EQ(r.bsdtarNames, std::vector<std::string>{forBsdtar});
  EXPECT_EQ(ac::RunProgram({"unzip", "-p", archive}).output, "named " + c.onDisk);

  // Updating the archive with the same file finds its entry by that name.
  SetMTime(source, std::time(nullptr) + 100);
  EXPECT_EQ(ZipOne(archive, source, 6), 1);
  EXPECT_EQ(ac::CheckArchive(archive, ac::kZipfile).entries.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Names, WriterNames,
    ::testing::Values(
        NameCase{"CodePage437", "caf\xC3\xA9.mdf", "caf\x82.mdf", false, "caf\xC3\xA9.mdf"},
        NameCase{"NeedsUtf8", "\xE6\x95\xB0\xE6\x8D\xAE.mdf", "\xE6\x95\xB0\xE6\x8D\xAE.mdf", true,
                 "\xE6\x95\xB0\xE6\x8D\xAE.mdf"},
        // Kept byte for byte; every reader takes it as code page
        // 437, where 0xFF is a no-break space.
        NameCase{"NotUtf8", "bad\xFF.mdf", "bad\xFF.mdf", false, "bad\xC2\xA0.mdf"},
        NameCase{"Longest", std::string(251, 'n') + ".mdf", std::string(251, 'n') + ".mdf", false,
                 std::string(251, 'n') + ".mdf"},
        NameCase{"Backslash", "a\\b.mdf", "a\\b.mdf", false, "a\\b.mdf"}),
    [](const ::testing::TestParamInfo<NameCase>& p) { return std::string(p.param.label); });

class WriterEdges : public WriterTest {};

TEST_F(WriterEdges, TimesOutsideTheMsDosRangeAreClamped) {
  struct Case {
    time_t mtime;
    uint64_t dos;
  };
  const uint64_t latest = uint64_t{(127u << 9) | (12u << 5) | 31u} << 16 | (23u << 11) |
                          (59u << 5) | 29u;           // 2107-12-31 23:59:58
  for (const Case& c : {Case{15638400, 0x00210000},   // 1970-07-01: 1980-01-01 00:00:00
                        Case{7258118400, latest}}) {  // 2200-01-01
    SCOPED_TRACE(c.mtime);
    const std::string source = tree.File("t.mdf", TextBytes(1000));
    SetMTime(source, c.mtime);
    const std::string archive = tree.Path("t.zip");
    DeleteFile(archive);
    ASSERT_EQ(ZipOne(archive, source, 6), 1);
    const ac::Report r = ac::CheckArchive(archive);
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.entries[0].Num("dostime"), c.dos);
    EXPECT_EQ(r.entries[0].Num("local_dostime"), c.dos);
  }
}

TEST_F(WriterEdges, FileThatChangesSizeWhileReadIsRecordedAsRead) {
  struct Case {
    const char* what;
    int level;
    bool grow;
  };
  for (const Case& c : {Case{"grows, stored", 0, true}, Case{"shrinks, stored", 0, false},
                        Case{"grows, deflated", 6, true}, Case{"shrinks, deflated", 6, false}}) {
    SCOPED_TRACE(c.what);
    const std::string source = tree.File("live.mdf", RandomBytes(200000, 3));
    const std::string archive = tree.Path("live.zip");
    DeleteFile(archive);
    percents.clear();
    writer.OnTotalPercentDone = [&](TObject*, int percent) {
      percents.push_back(percent);
      if (percents.size() != 1) return;
      if (c.grow) {
        std::ofstream(source, std::ios::binary | std::ios::app) << RandomBytes(100000, 4);
      } else {
        ASSERT_EQ(::truncate(source.c_str(), 50000), 0);
      }
    };
    ASSERT_EQ(ZipOne(archive, source, c.level), 1);
    const std::string now = ReadAll(source);
    const ac::Report r = ac::CheckArchive(archive);
    ASSERT_TRUE(r.ok) << r.log;
    EXPECT_EQ(r.entries[0].Num("usize"), now.size());
    EXPECT_EQ(r.entries[0].Num("local_usize"), now.size());
    EXPECT_EQ(ac::RunProgram({"unzip", "-p", archive}).output, now);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_LE(percents.back(), 100);
  }
}

// The size of a file when it is opened decides its local header: from all
// ones on, the header holds the ZIP64 sizes from the start. The file shrinks
// once opened, so the decision costs no 4 GiB of reading.
TEST_F(WriterEdges, SizeAtOpenFromAllOnesOnGivesTheLocalHeaderZip64Sizes) {
  for (const int64_t size : {int64_t{0xFFFFFFFE}, int64_t{0xFFFFFFFF}}) {
    SCOPED_TRACE(size);
    const std::string source = tree.File("huge.mdf", "");
    const std::string archive = tree.Path("huge.zip");
    DeleteFile(archive);
    ASSERT_EQ(::truncate(source.c_str(), size), 0);
    writer.OnStartZip = [&](TObject*, const std::string&, TZipHeaderInfo&, bool&) {
      ASSERT_EQ(::truncate(source.c_str(), 5), 0);
    };
    ASSERT_EQ(ZipOne(archive, source, 6), 1);
    const ac::Report r = ac::CheckArchive(archive, ac::kZipfile | ac::kUnzip);
    ASSERT_TRUE(r.ok) << r.log;
    const bool zip64 = size >= 0xFFFFFFFF;
    EXPECT_EQ(r.entries[0].Num("usize"), 5u);
    EXPECT_EQ(r.entries[0].Num("local_version"), zip64 ? 45u : 20u);
    EXPECT_EQ(r.entries[0].Hex("local_extra").size(), zip64 ? 20u : 0u);
    EXPECT_EQ(r.entries[0].Hex("extra"), "");
  }
}

TEST_F(WriterEdges, ArchiveWhoseValuesFitHasNoZip64Record) {
  const std::string source = tree.File("mega.mdf", RandomBytes(1 << 20, 5));
  const std::string archive = tree.Path("mega.zip");
  ASSERT_EQ(ZipOne(archive, source, 6), 1);
  const ac::Report r = ac::CheckArchive(archive);
  ASSERT_TRUE(r.ok) << r.log;
  EXPECT_FALSE(r.zip64);
  EXPECT_EQ(r.entries[0].Num("extract_version"), 20u);
  EXPECT_EQ(r.entries[0].Hex("extra"), "");
  EXPECT_EQ(r.entries[0].Hex("local_extra"), "");
  EXPECT_EQ(static_cast<int64_t>(r.size),
            OneEntryArchiveSize(8, static_cast<int64_t>(r.entries[0].Num("csize"))));
}

}  // namespace
