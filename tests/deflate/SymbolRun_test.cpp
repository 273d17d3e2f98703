// A run's symbol buffers as the parallel encoder's threads fill them: the
// counts of each piece, where each piece starts, and the kind bits, through
// growth between turns, forgetting the lead and reuse from the spare pool.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "ParseRun.h"

namespace {

using deflate_internal::kLitLenCodes;
using deflate_internal::kPieceSymbols;
using deflate_internal::kTallyCodes;
using deflate_internal::SymbolCursor;
using deflate_internal::SymbolRun;

struct Symbol {
  bool match;
  unsigned dist;  // 1..32,768 for a match
  unsigned lc;    // literal byte, or length - 3
};

// Records symbols in batches, making room between them as the segment runner does.
std::vector<Symbol> Record(SymbolRun& run, size_t total, std::mt19937& rng) {
  std::vector<Symbol> symbols;
  while (symbols.size() < total) {
    if (run.room() < 4096) run.reserve_more(run.capacity);
    SymbolCursor at = run.cursor();
    for (size_t n = std::min<size_t>(1 + rng() % 3000, run.room()); n > 0 && symbols.size() < total;
         --n) {
      const Symbol s{rng() % 3 == 0, 1 + static_cast<unsigned>(rng() % 32768),
                     static_cast<unsigned>(rng() % 256)};
      if (s.match) {
        at.match<true>(s.dist, s.lc);
      } else {
        at.literal<true>(static_cast<uint8_t>(s.lc));
      }
      symbols.push_back(s);
    }
    run.advance_to(at);
  }
  return symbols;
}

void ExpectKindBitsClearFrom(const SymbolRun& run, size_t from) {
  for (size_t n = from; n < run.capacity; ++n) ASSERT_FALSE(run.is_match(n)) << n;
}

TEST(DeflateSymbolRun, PiecesCountWhatWasRecordedThroughGrowthAndReuse) {
  std::mt19937 rng(7);
  SymbolRun run;
  // Room for less than a piece: the run grows several times while it records.
  run.reset(1000, true);
  const std::vector<Symbol> symbols = Record(run, 9 * kPieceSymbols + 77, rng);
  ASSERT_EQ(run.count, symbols.size());
  uint32_t covered = 0;
  size_t matches = 0;
  size_t dx = 0;
  for (size_t piece = 0; piece <= run.count / kPieceSymbols; ++piece) {
    SCOPED_TRACE(piece);
    EXPECT_EQ(run.starts[piece].covered, covered);
    EXPECT_EQ(run.starts[piece].matches, matches);
    std::vector<unsigned> counts(kTallyCodes);
    const size_t end = std::min(run.count, (piece + 1) * kPieceSymbols);
    for (size_t n = piece * kPieceSymbols; n < end; ++n) {
      const Symbol& s = symbols[n];
      ASSERT_EQ(run.is_match(n), s.match) << n;
      ASSERT_EQ(run.bytes[n], s.lc) << n;
      if (s.match) {
        ASSERT_EQ(run.dists[dx++], s.dist - 1) << n;
        ++counts[deflate_internal::kLiterals + 1 + deflate_internal::kTables.len_code_of[s.lc]];
        ++counts[kLitLenCodes + deflate_internal::d_code(s.dist - 1)];
        covered += s.lc + 3;
        ++matches;
      } else {
        ++counts[s.lc];
        covered += 1;
      }
    }
    for (unsigned c = 0; c < kTallyCodes; ++c) {
      ASSERT_EQ(run.tallies[piece * kTallyCodes + c], counts[c]) << "code " << c;
    }
  }
  EXPECT_EQ(run.covered, covered);
  ExpectKindBitsClearFrom(run, run.count);

  // The lead is forgotten: the next symbols start the first piece afresh.
  run.forget();
  ExpectKindBitsClearFrom(run, 0);
  Record(run, 3, rng);
  EXPECT_EQ(run.count, 3u);
  EXPECT_EQ(run.starts[0].covered, 0u);
  unsigned codes = 0;  // each symbol counts one literal/length code
  for (unsigned c = 0; c < kLitLenCodes; ++c) codes += run.tallies[c];
  EXPECT_EQ(codes, 3u);

  // A spare run, moved out of the pool, comes back clear for either use.
  SymbolRun spare = std::move(run);
  spare.reset(500, false);
  EXPECT_FALSE(spare.tallied);
  EXPECT_EQ(spare.count, 0u);
  ExpectKindBitsClearFrom(spare, 0);
  spare.reset(500, true);
  ExpectKindBitsClearFrom(spare, 0);
  EXPECT_EQ(spare.starts[0].covered, 0u);
  for (unsigned c = 0; c < kTallyCodes; ++c) EXPECT_EQ(spare.tallies[c], 0u);
}

}  // namespace
