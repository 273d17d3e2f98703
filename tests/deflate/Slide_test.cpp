// The window slide's rule on a table of positions, whatever width of
// instructions the processor gives it: every position moves down by 32,768
// and those that leave the window become 0.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "MatchFinder.h"

namespace {

uint16_t Slid(uint16_t v) {
  return static_cast<uint16_t>(v >= 32768 ? v - 32768 : 0);
}

// Sizes on and beside the 16- and 32-byte groups, and the tables' real size;
// values on both sides of the window's halfway point in every lane.
TEST(DeflateSlide, EveryPositionMovesDownOrLeaves) {
  const uint16_t edges[] = {0, 1, 2, 32767, 32768, 32769, 40000, 65534, 65535};
  for (const size_t entries : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{15}, size_t{16},
                               size_t{17}, size_t{33}, size_t{32768}}) {
    // One guard entry after the table must stay as it is.
    std::vector<uint16_t> table(entries + 1);
    for (size_t i = 0; i < table.size(); ++i) {
      table[i] = static_cast<uint16_t>(edges[i % 9] + (i / 9) * 0x1234u);
    }
    const std::vector<uint16_t> before = table;
    deflate_internal::slide_positions(table.data(), entries * sizeof table[0]);
    for (size_t i = 0; i < entries; ++i) {
      ASSERT_EQ(table[i], Slid(before[i])) << "entry " << i << " of " << entries;
    }
    EXPECT_EQ(table[entries], before[entries]) << "guard after " << entries;
  }
}

}  // namespace
