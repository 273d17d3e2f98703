// WriterCoding against the writer itself: for every level and for data that
// compresses, does not, or sits at the edge of what the encoder keeps stored,
// the method, flags and first data bytes it tells are the archive's, however
// many threads the writer codes with.
#include "EntryCoding.h"

#include <cstring>

#include "WriterFixture.h"

namespace {

using namespace writer_test;

uint32_t Le(const std::string& b, size_t at, int width) {
  uint32_t v = 0;
  for (int k = width - 1; k >= 0; --k) v = v << 8 | static_cast<uint8_t>(b[at + size_t(k)]);
  return v;
}

class EntryCodingTest : public WriterTest {};

TEST_F(EntryCodingTest, TellsWhatTheWriterWrites) {
  const struct {
    const char* name;
    std::string data;
  } cases[] = {
      {"empty.mdf", ""},
      {"text.mdf", TextBytes(3000)},
      {"random.mdf", RandomBytes(3000)},
      {"window.mdf", RandomBytes(size_t{1} << 16)},
      {"beyond.mdf", RandomBytes((size_t{1} << 16) + 1)},
      {"long.mdf", TextBytes(400000) + RandomBytes(200000)},
      // Beyond code page 437: bit 11.
      {"\xe2\x82\xac.mdf", TextBytes(100)},
  };
  for (const auto& c : cases) {
    const std::string source = tree.File(c.name, c.data);
    for (int level = 0; level <= 9; ++level) {
      SCOPED_TRACE(std::string(c.name) + " at level " + std::to_string(level));
      // The run's writers use threads; the probe runs on one.
      writer.Threads = level % 2 == 0 ? 2 : 0;
      writer.SecondThread = level % 3 == 0;
      const std::string archive = tree.Path("a.zip");
      std::filesystem::remove(archive);
      ASSERT_EQ(ZipOne(archive, source, level), 1);
      const std::string zip = ReadAll(archive);
      const size_t dataAt = 30 + Le(zip, 26, 2) + Le(zip, 28, 2);
      const std::string data = zip.substr(dataAt, Le(zip, 18, 4));

      size_t at = 0, calls = 0;
      const TEntryCoding coding = WriterCoding(
          c.name, level,
          [&](uint8_t* buffer, size_t count) {
            ++calls;
            const size_t n = std::min(count, c.data.size() - at);
            std::memcpy(buffer, c.data.data() + at, n);
            at += n;
            return n;
          },
          1024);
      EXPECT_EQ(coding.method, Le(zip, 8, 2));
      EXPECT_EQ(coding.flags, Le(zip, 6, 2));
      if (level == 0) {
        EXPECT_EQ(calls, 0u);
        continue;
      }
      ASSERT_LE(coding.dataHead.size(), data.size());
      EXPECT_EQ(data.compare(0, coding.dataHead.size(), coding.dataHead), 0);
      EXPECT_EQ(coding.wholeData, coding.dataHead.size() == data.size());
      // Enough to tell levels apart, without coding all of a long entry.
      if (c.data.size() > 300000) {
        EXPECT_GE(coding.dataHead.size(), 1024u);
        EXPECT_LT(at, c.data.size());
      }
    }
  }
}

}  // namespace
