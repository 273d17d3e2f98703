// The search limits of each compression level, and the deflate option bits a
// level puts into the entry's general-purpose flags.
#pragma once

#include <array>
#include <cstdint>

namespace deflate_internal {

// One row per PackLevel. Columns:
//  good_len   once the previous match is at least this long, a search follows
//             only a quarter of chain_len links;
//  lazy_len   lazy loop: no new search once the previous match is this long;
//             greedy loop: matches longer than this leave their inner
//             positions out of the hash chains;
//  nice_len   a match at least this long ends the search at once;
//  chain_len  the most chain links one search follows.
struct LevelParams {
  uint16_t good_len;
  uint16_t lazy_len;
  uint16_t nice_len;
  uint16_t chain_len;
};

inline constexpr std::array<LevelParams, 10> kLevelTable = {{
    {0, 0, 0, 0},          // 0: never used, level 0 entries are stored by the writer
    {4, 4, 8, 4},          // 1: greedy
    {4, 5, 16, 8},         // 2: greedy
    {4, 6, 32, 32},        // 3: greedy
    {4, 4, 16, 16},        // 4: lazy
    {8, 16, 32, 32},       // 5: lazy
    {8, 16, 128, 128},     // 6: lazy
    {8, 32, 128, 256},     // 7: lazy
    {32, 128, 258, 1024},  // 8: lazy
    {32, 258, 258, 4096},  // 9: lazy
}};

// Levels up to this one parse greedily; the others lazily.
constexpr int kLastGreedyLevel = 3;

// ZIP's "fast" option bit (levels 1 and 2) and "maximum" option bit (8 and 9).
constexpr uint16_t kFastFlag = 4;
constexpr uint16_t kMaximumFlag = 2;

}  // namespace deflate_internal
