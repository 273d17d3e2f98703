// Where a match search stops: the chain count of each level, counted across
// the groups of links the walk reads at a time, and the runs of one byte value
// that fill database pages, against a plain walk of the same rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DeflateTestSupport.h"
#include "Inflate.h"

namespace {

using deflate_test::Bytes;

struct LevelRow {
  unsigned good_len, lazy_len, nice_len, chain_len;
};
constexpr LevelRow kRows[10] = {{0, 0, 0, 0},        {4, 4, 8, 4},      {4, 5, 16, 8},
                                {4, 6, 32, 32},      {4, 4, 16, 16},    {8, 16, 32, 32},
                                {8, 16, 128, 128},   {8, 32, 128, 256}, {32, 128, 258, 1024},
                                {32, 258, 258, 4096}};

unsigned HashOf(const uint8_t* p) {
  return ((p[0] << 10) ^ (p[1] << 5) ^ p[2]) & 0x7FFF;
}

std::vector<inflate::Symbol> SymbolsOf(const Bytes& input, int level) {
  const deflate_test::Compressed out = deflate_test::Compress(input, level);
  EXPECT_EQ(out.method, 8);
  const inflate::Result r = inflate::Inflate(out.bytes);
  EXPECT_EQ(r.data, input);
  std::vector<inflate::Symbol> all;
  for (const auto& b : r.blocks) all.insert(all.end(), b.symbols.begin(), b.symbols.end());
  return all;
}

// "XYZabcd" once, then count - 1 copies of "XYZ" between other bytes, then
// "XYZabcd" again at probe: searching there, the chain of "XYZ" holds the
// copies nearest first and the long match last, as its count-th candidate.
// No other string before probe shares the hash of "XYZ", and (for the greedy
// levels, which skip the inside of long matches) no repeat covers an "XYZ".
struct ChainInput {
  Bytes bytes;
  size_t first = 0;
  size_t probe = 0;
};

ChainInput ChainOf(unsigned count) {
  ChainInput in;
  Bytes& b = in.bytes;
  b.push_back('#');
  in.first = b.size();
  for (char c : std::string("XYZabcd!")) b.push_back(static_cast<uint8_t>(c));
  for (unsigned i = 1; i < count; ++i) {
    b.push_back(static_cast<uint8_t>(0x80 + i % 40));
    b.insert(b.end(), {'X', 'Y', 'Z'});
    b.push_back(static_cast<uint8_t>(0xC0 + i % 40));
  }
  b.push_back('$');
  in.probe = b.size();
  for (char c : std::string("XYZabcd%")) b.push_back(static_cast<uint8_t>(c));
  b.insert(b.end(), 3000, '~');  // coded, not stored
  return in;
}

TEST(DeflateSearch, ChainCountEndsTheWalkAtItsLastLink) {
  for (int level = 1; level <= 9; ++level) {
    const unsigned chain = kRows[level].chain_len;
    // Either side of the count, where the walk's groups of four and eight
    // links begin and end.
    for (unsigned count : {chain - 1, chain, chain + 1}) {
      SCOPED_TRACE("level " + std::to_string(level) + ", long match is candidate " +
                   std::to_string(count));
      const ChainInput in = ChainOf(count);
      const unsigned key = HashOf(&in.bytes[in.probe]);
      unsigned same_hash = 0;
      for (size_t p = 0; p < in.probe; ++p) same_hash += HashOf(&in.bytes[p]) == key;
      ASSERT_EQ(same_hash, count);

      const auto symbols = SymbolsOf(in.bytes, level);
      const inflate::Symbol* s = inflate::SymbolAt(symbols, in.probe);
      ASSERT_NE(s, nullptr);
      const bool long_match = s->length == 7 && s->distance == in.probe - in.first;
      EXPECT_EQ(long_match, count <= chain);
    }
  }
}

// "XYZabcd" once, then "XYZabcd" again `distance` further on, with `copies`
// copies of "XYZ" in between near the second: searching at probe, the chain
// of "XYZ" holds the copies nearest first and the far match last.
ChainInput FarOf(unsigned copies, size_t distance) {
  ChainInput in;
  Bytes& b = in.bytes;
  b.push_back('#');
  in.first = b.size();
  for (char c : std::string("XYZabcd!")) b.push_back(static_cast<uint8_t>(c));
  b.insert(b.end(), in.first + distance - 5 * copies - 1 - b.size(), '~');
  for (unsigned i = 0; i < copies; ++i) {
    b.push_back(static_cast<uint8_t>(0x80 + i));
    b.insert(b.end(), {'X', 'Y', 'Z'});
    b.push_back(static_cast<uint8_t>(0xC0 + i));
  }
  b.push_back('$');
  in.probe = b.size();
  for (char c : std::string("XYZabcd%")) b.push_back(static_cast<uint8_t>(c));
  b.insert(b.end(), 3000, '~');
  return in;
}

// A match reaches back 32,506 bytes from the chain's head and 32,505 from a
// link behind it; the walk ends at the first link out of reach, wherever that
// falls among the links it reads at a time, and never finds what lies beyond.
TEST(DeflateSearch, ReachEndsTheWalkWhereverItFalls) {
  constexpr size_t kHeadReach = 32506;
  for (int level = 1; level <= 9; ++level) {
    for (unsigned copies = 0; copies < std::min(18u, kRows[level].chain_len); ++copies) {
      const size_t reach = copies == 0 ? kHeadReach : kHeadReach - 1;
      for (size_t distance : {reach, reach + 1}) {
        SCOPED_TRACE("level " + std::to_string(level) + ", " + std::to_string(copies) +
                     " nearer copies, distance " + std::to_string(distance));
        const ChainInput in = FarOf(copies, distance);
        ASSERT_EQ(in.probe - in.first, distance);
        const unsigned key = HashOf(&in.bytes[in.probe]);
        unsigned same_hash = 0;
        for (size_t p = 0; p < in.probe; ++p) same_hash += HashOf(&in.bytes[p]) == key;
        ASSERT_EQ(same_hash, copies + 1);

        const auto symbols = SymbolsOf(in.bytes, level);
        const inflate::Symbol* s = inflate::SymbolAt(symbols, in.probe);
        ASSERT_NE(s, nullptr);
        const bool far_match = s->length == 7 && s->distance == distance;
        EXPECT_EQ(far_match, distance <= reach);
      }
    }
  }
}

// A plain walk of the lazy levels' rules at one position, over the window as
// it stands when nothing has slid: the chain of the position's hash nearest
// first, limit, chain count (a quarter after a good match), nice_len, the
// first of the longest kept.
unsigned PlainSearch(const Bytes& w, size_t cur, unsigned prior, const LevelRow& row,
                     size_t* match_pos) {
  unsigned chain = prior >= row.good_len ? row.chain_len >> 2 : row.chain_len;
  unsigned best = prior;
  const unsigned key = HashOf(&w[cur]);
  for (size_t m = cur; m-- > 1 && chain > 0;) {
    if (HashOf(&w[m]) != key) continue;
    --chain;
    unsigned len = 0;
    while (len < 258 && cur + len < w.size() && w[m + len] == w[cur + len]) ++len;
    if (len > best) {
      best = len;
      *match_pos = m;
      if (best >= row.nice_len) break;
    }
  }
  return best;
}

// Pages of small integers: runs of zeros of every length between the bytes
// that count, some long enough for whole matches, and the same run lengths
// again and again.
Bytes ZeroRunPages(size_t n) {
  Bytes out;
  uint32_t x = 7;
  while (out.size() < n) {
    x = x * 1103515245 + 12345;
    const unsigned kind = (x >> 16) % 16;
    if (kind < 10) {
      out.push_back(static_cast<uint8_t>(1 + (x >> 8) % 6));  // a small value
      out.insert(out.end(), 3 + (x >> 4) % 6, 0);
    } else if (kind < 15) {
      out.push_back(static_cast<uint8_t>(x >> 24 | 1));
      out.push_back(static_cast<uint8_t>(x >> 12 | 1));
    } else {
      out.insert(out.end(), 20 + (x >> 3) % 300, 0);  // free space
    }
  }
  out.resize(n);
  return out;
}

// Every match of the lazy levels over zero runs, checked against the plain
// walk: runs are where most candidates share the first bytes and differ only
// in how far the zeros go on.
TEST(DeflateSearch, ZeroRunsFindWhatAPlainWalkFinds) {
  const Bytes input = ZeroRunPages(30000);  // no slide: positions are input offsets
  for (int level : {4, 6, 9}) {
    SCOPED_TRACE("level " + std::to_string(level));
    const auto symbols = SymbolsOf(input, level);
    size_t at = 0;
    unsigned checked = 0;
    for (const auto& s : symbols) {
      // A match at `at` was chosen over the lazy step: no longer match starts
      // one byte later, and it is what the plain walk finds at `at` when the
      // position before matched less (a search with prior 2).
      if (s.length != 0 && at > 0 && at + 262 < input.size()) {
        size_t pos = 0;
        const unsigned len = PlainSearch(input, at, 2, kRows[level], &pos);
        if (len >= 4 && len == s.length) {
          EXPECT_EQ(s.distance, at - pos) << "at " << at;
          ++checked;
        }
      }
      at += s.length == 0 ? 1 : s.length;
    }
    EXPECT_GT(checked, 100u);
  }
}

}  // namespace
