// Everything a compression level decides, as one row of a table: the search
// limits, the parsing loop, how the hash chains are laid out, whether blocks
// may end early, and the deflate option bits the level puts into the entry's
// general-purpose flags. The code reads the row; no level is named elsewhere.
#pragma once

#include <array>
#include <cstdint>

namespace deflate_internal {

// Greedy: a match found is taken at once. Lazy: it is held back one position
// in case the next one starts a longer match.
enum class Parse : uint8_t { kGreedy, kLazy };

// How far one wait for a load takes a chain walk: four links (the records),
// or eight (the records and the jumps, which cost an extra load per insert
// and pay off only for long walks).
enum class Stride : uint8_t { kFour, kEight };

// One row per PackLevel. Columns:
//  good_len   once the previous match is at least this long, a search follows
//             only a quarter of chain_len links;
//  lazy_len   lazy loop: no new search once the previous match is this long;
//             greedy loop: matches longer than this leave their inner
//             positions out of the hash chains;
//  nice_len   a match at least this long ends the search at once;
//  chain_len  the most chain links one search follows;
//  parse      the parsing loop;
//  stride     the layout of the hash chains;
//  early_end  a block that already looks well compressed may end after
//             4,096, 8,192, ... symbols;
//  flag_bits  ORed into the entry's general-purpose flags: ZIP's "fast"
//             option (4) or its "maximum" option (2).
struct LevelParams {
  uint16_t good_len;
  uint16_t lazy_len;
  uint16_t nice_len;
  uint16_t chain_len;
  Parse parse;
  Stride stride;
  bool early_end;
  uint16_t flag_bits;
};

constexpr Parse kGreedy = Parse::kGreedy;
constexpr Parse kLazy = Parse::kLazy;
constexpr Stride kFour = Stride::kFour;
constexpr Stride kEight = Stride::kEight;

inline constexpr std::array<LevelParams, 10> kLevelTable = {{
    // Row 0 is never used: level 0 entries are stored by the writer.
    {0, 0, 0, 0, kGreedy, kFour, false, 0},
    {4, 4, 8, 4, kGreedy, kFour, false, 4},
    {4, 5, 16, 8, kGreedy, kFour, false, 4},
    {4, 6, 32, 32, kGreedy, kFour, true, 0},
    {4, 4, 16, 16, kLazy, kFour, true, 0},
    {8, 16, 32, 32, kLazy, kFour, true, 0},
    {8, 16, 128, 128, kLazy, kEight, true, 0},
    {8, 32, 128, 256, kLazy, kEight, true, 0},
    {32, 128, 258, 1024, kLazy, kEight, true, 2},
    {32, 258, 258, 4096, kLazy, kEight, true, 2},
}};

}  // namespace deflate_internal
