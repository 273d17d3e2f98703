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
};

class WriterLarge : public WriterTest, public ::testing::WithParamInterface<LargeCase> {};

// Bytes free for an unprivileged writer on the file system holding path.
int64_t FreeBytes(const std::string& path) {
  struct statvfs fs {};
  return ::statvfs(path.c_str(), &fs) == 0 ? static_cast<int64_t>(fs.f_bavail) * fs.f_frsize : 0;
}

TEST_P(WriterLarge, ZipsThroughZip64AndVerifies) {
  const LargeCase c = GetParam();
  // A stored archive holds every byte for real; a machine short of disk skips.
  const int64_t needed = (c.level == 0 ? c.size : 0) + kGiB;
  if (FreeBytes(tree.Root()) < needed)
    GTEST_SKIP() << "needs " << needed / kGiB << " GiB free in " << tree.Root();
  const std::string big = SparseFile(tree, "big.mdf", c.size);
  const std::string small = tree.File("small.txt", "after the big one");
  const std::string archive = tree.Path("big.zip");
  writer.FilesList = {big};
  if (c.second) writer.FilesList.push_back(small);
  writer.SetZipName(archive);
  writer.PackLevel = c.level;
  ASSERT_EQ(writer.Zip(), c.second ? 2 : 1);
  EXPECT_EQ(percents.back(), 100);

  const ac::Report r = ac::CheckArchive(archive, c.readers);
  ASSERT_TRUE(r.ok) << r.log;
  ASSERT_EQ(r.entries.size(), c.second ? 2u : 1u);
  const ac::Entry& e = r.entries[0];
  EXPECT_EQ(e.name, "big.mdf");
  EXPECT_EQ(e.Num("usize"), static_cast<uint64_t>(c.size));
  EXPECT_EQ(e.Num("extract_version"), 45u);
  EXPECT_EQ(e.Num("create_version"), 45u);
  EXPECT_EQ(e.Num("local_version"), 45u);
  EXPECT_EQ(e.Num("method"), c.level == 0 ? 0u : 8u);
  const uint64_t csize = e.Num("csize");
  // Both sizes in the local header's ZIP64 field, the classic ones all ones.
  EXPECT_EQ(e.Num("local_usize"), 0xFFFFFFFFu);
  EXPECT_EQ(e.Num("local_csize"), 0xFFFFFFFFu);
  std::string localExtra("\x01\x00\x10\x00", 4);
  for (uint64_t v : {static_cast<uint64_t>(c.size), csize})
    for (int i = 0; i < 8; ++i) localExtra.push_back(static_cast<char>(v >> (8 * i)));
  EXPECT_EQ(e.Hex("local_extra"), localExtra);
  EXPECT_EQ(e.Hex("extra"), localExtra);  // reserved in both headers
  if (c.second) {
    const ac::Entry& after = r.entries[1];
    const uint64_t offset = 30 + 7 + 20 + csize;
    EXPECT_EQ(after.Num("offset"), offset);
    EXPECT_EQ(after.Num("extract_version"), 45u);
    std::string offsetExtra("\x01\x00\x08\x00", 4);
    for (int i = 0; i < 8; ++i) offsetExtra.push_back(static_cast<char>(offset >> (8 * i)));
    EXPECT_EQ(after.Hex("extra"), offsetExtra);
    EXPECT_EQ(after.Hex("local_extra"), "");
  }
  EXPECT_TRUE(r.zip64);
  ASSERT_EQ(r.zip64Eocd.size(), 13u);
  EXPECT_EQ(r.zip64Eocd[7], c.second ? 2u : 1u);
  if (!c.second) {
    // local + data + central + ZIP64 end record + locator + end record
    EXPECT_EQ(r.size, 30 + 7 + 20 + csize + 46 + 7 + 20 + 56 + 20 + 22);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, WriterLarge,
    ::testing::Values(LargeCase{"FourGiBLessOne", 4 * kGiB - 1, 0, false, ac::kAllReaders},
                      LargeCase{"FourGiB", 4 * kGiB, 0, false, ac::kAllReaders},
                      LargeCase{"FourGiBAndOneThenASmallFile", 4 * kGiB + 1, 0, true,
                                ac::kAllReaders},
                      LargeCase{"FiveGiBStored", 5 * kGiB, 0, false, ac::kAllReaders},
                      LargeCase{"FiveGiBDeflated", 5 * kGiB, 1, false, ac::kAllReaders}),
    [](const ::testing::TestParamInfo<LargeCase>& p) { return std::string(p.param.label); });

}  // namespace
