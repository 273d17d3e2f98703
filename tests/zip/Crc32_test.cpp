// The CRC-32 the writer keeps: the check value of the standard, and the same
// register as the byte-at-a-time table method whatever the length, the
// alignment and the way the data is split into blocks.
#include "Crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

uint32_t BytewiseUpdate(uint32_t reg, const uint8_t* p, size_t n) {
  while (n-- > 0) {
    reg ^= *p++;
    for (int bit = 0; bit < 8; ++bit) reg = (reg >> 1) ^ ((reg & 1) ? 0xEDB88320u : 0);
  }
  return reg;
}

TEST(Crc32, KnownValues) {
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32("", 0), 0u);
  EXPECT_EQ(Crc32("a", 1), 0xE8B7BE43u);
  const std::string fox = "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(Crc32(fox.data(), fox.size()), 0x414FA339u);
}

TEST(Crc32, AgreesWithTheBytewiseMethodAtEveryLengthAndAlignment) {
  std::mt19937 gen(42);
  std::vector<uint8_t> data(1200);
  for (auto& b : data) b = static_cast<uint8_t>(gen());
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t length = 0; length + offset <= 300; ++length) {
      const uint32_t want = BytewiseUpdate(0xFFFFFFFFu, data.data() + offset, length);
      ASSERT_EQ(Crc32Update(0xFFFFFFFFu, data.data() + offset, length), want)
          << offset << "+" << length;
    }
  }
  // Split at every point: the register carries across calls.
  const uint32_t whole = Crc32Update(0xFFFFFFFFu, data.data(), data.size());
  for (size_t split = 0; split <= data.size(); split += 37) {
    const uint32_t first = Crc32Update(0xFFFFFFFFu, data.data(), split);
    EXPECT_EQ(Crc32Update(first, data.data() + split, data.size() - split), whole) << split;
  }
  EXPECT_EQ(whole, BytewiseUpdate(0xFFFFFFFFu, data.data(), data.size()));
}

}  // namespace
