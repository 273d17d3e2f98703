// The parse's two turns, each written once: the greedy step (a match found
// is taken at once) and the lazy step (it is held back one position in case
// the next one starts a longer match). Where the symbols go is the caller's
// sink: the block coder's tally for the single-threaded loops
// (MatchFinder.cpp), a run's buffers for the parallel encoder's runs. The
// steps are forced inline so that each loop, made once per level, keeps the
// level's row constant and the parse's position in registers.
#pragma once

#include <cstdint>

#include "ChainWalk.h"
#include "EncoderState.h"
#include "LevelTable.h"

#define DEFLATE_ALWAYS_INLINE __attribute__((always_inline)) inline

namespace deflate_internal {

// Loads the level row's search limits into s, where the chain walk reads
// them.
inline void load_row(EncoderState& s) {
  const LevelParams& row = kLevelTable[s.PackLevel];
  s.lazy_len = row.lazy_len;
  s.good_len = row.good_len;
  s.nice_len = row.nice_len;
  s.chain_len = row.chain_len;
  s.early_end = row.early_end;
}

// A parse's position, held in registers for a stretch of turns: kept in s,
// every byte stored would make the compiler load all of it again.
struct ParseRegs {
  const uint8_t* window;
  ChainTables tables;
  unsigned cur;
  unsigned look;
  unsigned key;

  explicit ParseRegs(const EncoderState& s)
      : window(s.window),
        tables(tables_of(s)),
        cur(s.cur_pos),
        look(s.lookahead),
        key(s.hash_key) {}
  void store(EncoderState& s) const {
    s.cur_pos = cur;
    s.lookahead = look;
    s.hash_key = key;
  }
};

// Both steps hand their symbols to a sink, where a parse's symbols go:
// literal and match are given the position of the turn and answer whether
// the block should end now; only the block coder's tally ever says so, and
// then end_block closes the block at s.cur_pos. skipped hears of the
// positions a long greedy match leaves out of the chains.
//
// One turn of the greedy parse at g.cur: insert the position, search, and
// take the match found at once, or the literal. len is the last search's
// result, which keeps its value (below 3) when no search is made.
template <int kLevel, class Sink>
DEFLATE_ALWAYS_INLINE void greedy_step(EncoderState& s, ParseRegs& g, unsigned& len, Sink& sink) {
  constexpr LevelParams kRow = kLevelTable[kLevel];
  constexpr Stride kStride = kRow.stride;
  const auto insert = [&](unsigned p) {
    g.key = roll_key(g.key, g.window[p + 2]);
    return link_position<kStride>(g.tables, g.key, p);
  };
  prefetch_next<kStride>(g.window, g.tables, g.key, g.cur);
  const unsigned head = insert(g.cur);
  if (head != 0 && g.cur - head <= kMaxDist) {
    s.cur_pos = g.cur;
    len = find_longest_match<kLevel>(s, head);
    if (len > g.look) len = g.look;
  }
  bool flush;
  if (len >= kMinMatch) {
    flush = sink.match(g.cur, g.cur - s.match_pos, len - kMinMatch);
    g.look -= len;
    if (len <= kRow.lazy_len) {
      for (unsigned p = g.cur + 1; p < g.cur + len; ++p) insert(p);
      g.cur += len;
    } else {
      // Long matches are not hashed inside; the key restarts after them.
      sink.skipped(g.cur + 1, g.cur + len);
      g.cur += len;
      g.key = roll_key(g.window[g.cur], g.window[g.cur + 1]);
    }
    len = 0;
  } else {
    flush = sink.literal(g.cur, g.window[g.cur]);
    --g.look;
    ++g.cur;
  }
  if (flush) {
    g.store(s);
    sink.end_block();
  }
}

// One turn of the lazy parse at g.cur. len is the previous position's match
// (2: none) and pending says a literal at g.cur - 1 awaits this turn: the
// previous match stands unless this position has a longer one.
template <int kLevel, class Sink>
DEFLATE_ALWAYS_INLINE void lazy_step(EncoderState& s, ParseRegs& g, unsigned& len, bool& pending,
                                     Sink& sink) {
  constexpr LevelParams kRow = kLevelTable[kLevel];
  constexpr Stride kStride = kRow.stride;
  const auto insert = [&](unsigned p) {
    g.key = roll_key(g.key, g.window[p + 2]);
    return link_position<kStride>(g.tables, g.key, p);
  };
  const unsigned prior_len = len;
  const unsigned prior_pos = s.match_pos;
  // The search at g.cur: none once the previous match is lazy_len long, and
  // a 3-byte match too far back counts as none.
  prefetch_next<kStride>(g.window, g.tables, g.key, g.cur);
  const unsigned head = insert(g.cur);
  len = kMinMatch - 1;
  if (head != 0 && prior_len < kRow.lazy_len && g.cur - head <= kMaxDist) {
    s.cur_pos = g.cur;
    s.prior_len = prior_len;
    len = find_longest_match<kLevel>(s, head);
    if (len > g.look) len = g.look;
    if (len == kMinMatch && g.cur - s.match_pos > kTooFar) len = kMinMatch - 1;
  }
  if (prior_len >= kMinMatch && len <= prior_len) {
    const bool flush = sink.match(g.cur, g.cur - 1 - prior_pos, prior_len - kMinMatch);
    g.look -= prior_len - 1;
    const unsigned end = g.cur + prior_len - 2;
    for (unsigned p = g.cur + 1; p <= end; ++p) insert(p);
    g.cur += prior_len - 1;
    pending = false;
    len = kMinMatch - 1;
    if (flush) {
      g.store(s);
      sink.end_block();
    }
  } else if (pending) {
    if (sink.literal(g.cur, g.window[g.cur - 1])) {
      g.store(s);
      sink.end_block();
    }
    ++g.cur;
    --g.look;
  } else {
    pending = true;
    ++g.cur;
    --g.look;
  }
}

}  // namespace deflate_internal
