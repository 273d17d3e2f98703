// Archives of files at and beyond 4 GiB, made from sparse files so that no
// real data is stored: the ZIP64 records, checked by the independent
// readers. Each case takes a good part of a minute (label `large`).
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "Files.h"
#include "WriterFixture.h"

namespace {

using namespace writer_test;

constexpr int64_t kGiB = int64_t{1} << 30;

// A file of size zero bytes that takes no disk space.
std::string SparseFile(const TempTree& tree, const std::string& name, int64_t size) {
  const std::string path = tree.Path(name);
  const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::ftruncate(fd, size), 0);
  ::close(fd);
  return path;
}

struct LargeCase {
  const char* label;
  int64_t size;
  int level;
  bool second;       // a small file follows, so its entry starts beyond 4 GiB
  unsigned readers;  // which readers verify the data
  int64_t grownTo;   // when not 0, the file grows to this size after the first read
};

class WriterLarge : public WriterTest, public ::testing::WithParamInterface<LargeCase> {};

// Bytes free for an unprivileged writer on the file system holding path.
int64_t FreeBytes(const std::string& path) {
  struct statvfs fs {};
  return ::statvfs(path.c_str(), &fs) == 0 ? static_cast<int64_t>(fs.f_bavail) * fs.f_frsize : 0;
}

std::string Le64(uint64_t v) {
  std::string out;
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
  return out;
}

// The ZIP64 field holding the given values, or nothing when there are none.
std::string Zip64Field(std::initializer_list<uint64_t> values) {
  if (values.size() == 0) return "";
  std::string field("\x01\x00", 2);
  field.push_back(static_cast<char>(8 * values.size()));
  field.push_back('\0');
  for (uint64_t v : values) field += Le64(v);
  return field;
}

constexpr uint64_t kAllOnes = 0xFFFFFFFF;

// An entry's records use ZIP64 only where a value does not fit: the local
// header when the file was 4 GiB or more when opened, or its data turned out
// not to fit; the central header for the values that do not fit; the end
// records when the central directory starts beyond 4 GiB.
TEST_P(WriterLarge, UsesZip64OnlyWhereAValueDoesNotFit) {
  const LargeCase c = GetParam();
  // A stored archive holds every byte for real; a machine short of disk skips.
  const int64_t finalSize = c.grownTo != 0 ? c.grownTo : c.size;
  const int64_t needed = (c.level == 0 ? finalSize : 0) + kGiB;
  if (FreeBytes(tree.Root()) < needed)
    GTEST_SKIP() << "needs " << needed / kGiB << " GiB free in " << tree.Root();
  const std::string big = SparseFile(tree, "big.mdf", c.size);
  const std::string small = tree.File("small.txt", "after the big one");
  const std::string archive = tree.Path("big.zip");
  if (c.grownTo != 0) {
    writer.OnTotalPercentDone = [&](TObject*, int percent) {
      if (percents.empty()) {
        EXPECT_EQ(::truncate(big.c_str(), c.grownTo), 0);
      }
      percents.push_back(percent);
    };
  }
  writer.FilesList = {big};
  if (c.second) writer.FilesList.push_back(small);
  writer.SetZipName(archive);
  writer.PackLevel = c.level;
  ASSERT_EQ(writer.Zip(), c.second ? 2 : 1);
  if (c.grownTo == 0) {
    EXPECT_EQ(percents.back(), 100);
  }

  const ac::Report r = ac::CheckArchive(archive, c.readers);
  ASSERT_TRUE(r.ok) << r.log;
  ASSERT_EQ(r.entries.size(), c.second ? 2u : 1u);
  const ac::Entry& e = r.entries[0];
  EXPECT_EQ(e.name, "big.mdf");
  const auto usize = static_cast<uint64_t>(finalSize);
  EXPECT_EQ(e.Num("usize"), usize);
  EXPECT_EQ(e.Num("method"), c.level == 0 ? 0u : 8u);
  const uint64_t csize = e.Num("csize");

  const bool localZip64 = usize >= kAllOnes || csize >= kAllOnes;
  const unsigned version = localZip64 ? 45u : 20u;
  EXPECT_EQ(e.Num("extract_version"), version);
  EXPECT_EQ(e.Num("create_version"), version);
  EXPECT_EQ(e.Num("local_version"), version);
  // The local header holds both sizes in its ZIP64 field, or neither.
  EXPECT_EQ(e.Num("local_usize"), localZip64 ? kAllOnes : usize);
  EXPECT_EQ(e.Num("local_csize"), localZip64 ? kAllOnes : csize);
  EXPECT_EQ(e.Hex("local_extra"), localZip64 ? Zip64Field({usize, csize}) : "");
  // The central header holds only the values that do not fit.
  std::string centralExtra;
  if (usize >= kAllOnes && csize >= kAllOnes)
    centralExtra = Zip64Field({usize, csize});
  else if (usize >= kAllOnes)
    centralExtra = Zip64Field({usize});
  else if (csize >= kAllOnes)
    centralExtra = Zip64Field({csize});
  EXPECT_EQ(e.Hex("extra"), centralExtra);

  const uint64_t localSize = 30 + 7 + (localZip64 ? 20 : 0);
  uint64_t centralStart = localSize + csize;
  uint64_t centralSize = 46 + 7 + centralExtra.size();
  if (c.second) {
    const ac::Entry& after = r.entries[1];
    const uint64_t offset = centralStart;
    EXPECT_EQ(after.Num("offset"), offset);
    EXPECT_EQ(after.Num("extract_version"), 45u);
    EXPECT_EQ(after.Num("local_version"), 45u);
    EXPECT_EQ(after.Hex("extra"), Zip64Field({offset}));
    EXPECT_EQ(after.Hex("local_extra"), "");
    centralStart += 30 + 9 + after.Num("csize");
    centralSize += 46 + 9 + 12;
  }
  const bool endZip64 = centralStart >= kAllOnes;
  EXPECT_EQ(r.zip64, endZip64);
  ASSERT_EQ(r.eocd.size(), 6u);
  EXPECT_EQ(r.eocd[2], centralSize);
  EXPECT_EQ(r.eocd[3], endZip64 ? kAllOnes : centralStart);
  if (endZip64) {
    ASSERT_EQ(r.zip64Eocd.size(), 13u);
    EXPECT_EQ(r.zip64Eocd[7], c.second ? 2u : 1u);
    EXPECT_EQ(r.zip64Eocd[9], centralStart);
  }
  EXPECT_EQ(r.size, centralStart + centralSize + (endZip64 ? 56 + 20 : 0) + 22);
}

// The largest size whose deflated entry may still fit the classic fields.
constexpr int64_t kLargestClassic = 4 * kGiB - 2;

INSTANTIATE_TEST_SUITE_P(
    Sizes, WriterLarge,
    ::testing::Values(LargeCase{"FourGiBLessOne", 4 * kGiB - 1, 0, false, ac::kAllReaders, 0},
                      LargeCase{"FourGiB", 4 * kGiB, 0, false, ac::kAllReaders, 0},
                      LargeCase{"FourGiBAndOneThenASmallFile", 4 * kGiB + 1, 0, true,
                                ac::kAllReaders, 0},
                      LargeCase{"FiveGiBStored", 5 * kGiB, 0, false, ac::kAllReaders, 0},
                      LargeCase{"FiveGiBDeflated", 5 * kGiB, 1, false, ac::kAllReaders, 0},
                      // Deflated to a few megabytes: nothing about it needs ZIP64.
                      LargeCase{"LargestClassicDeflated", kLargestClassic, 1, false,
                                ac::kZipfile | ac::kUnzip, 0},
                      // Opened below 4 GiB and read beyond it: the local header written
                      // without the ZIP64 sizes grows to hold them, and the data moves up.
                      LargeCase{"GrowsPastFourGiBWhileRead", kLargestClassic - kGiB, 1, false,
                                ac::kZipfile | ac::kUnzip, 4 * kGiB + 4096}),
    [](const ::testing::TestParamInfo<LargeCase>& p) { return std::string(p.param.label); });

}  // namespace
