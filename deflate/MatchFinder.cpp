// The match finder's set-up and the single-threaded parsing loops, the
// greedy one and the lazy one, each made once per level from the steps of
// ParseSteps.h with the block coder's tally as their sink. The window they
// parse in is Window.cpp's; the chain walk that finds the matches is in
// ChainWalk.h.
#include "MatchFinder.h"

#include <array>
#include <cstring>
#include <utility>

#include "BlockCoder.h"
#include "BlockPipeline.h"
#include "ChainWalk.h"
#include "Checks.h"
#include "LevelTable.h"
#include "ParseSteps.h"
#include "Window.h"

namespace deflate_internal {

void start_matching(EncoderState& s) {
  std::memset(s.head_table, 0, kWindowHalf * sizeof s.head_table[0]);
  load_row(s);
  *s.entry.GeneralPurposeFlags |= kLevelTable[s.PackLevel].flag_bits;
  s.cur_pos = 0;
  s.block_origin = 0;
  s.window_base = 0;
  s.resume_len = kMinMatch - 1;
  s.resume_pending = false;
  s.lookahead = read_input(s, s.window, kWindowHalf);
  if (s.lookahead == 0 || s.lookahead == 0xFFFF) {
    s.input_done = true;
    s.lookahead = 0;
    return;
  }
  s.input_done = false;
  if (s.lookahead < kMinLookahead) refill_window(s);
  s.hash_key = 0;
  roll_hash(s, s.window[0]);
  roll_hash(s, s.window[1]);
}

namespace {

uint64_t close_block(EncoderState& s, bool last) {
  const uint8_t* data = s.block_origin >= 0 ? s.window + s.block_origin : nullptr;
  const auto stored_len = static_cast<uint32_t>(static_cast<int64_t>(s.cur_pos) - s.block_origin);
  if (s.aside != nullptr) return s.aside->close_block(s, data, stored_len, last);
  return finish_block(s, data, stored_len, last);
}

// The block coder's tally, for the single-threaded encoder, made for the
// level's early_end. An early block end measures the block's input up to
// s.cur_pos: the turn's position, which the parse holds in a register, is
// stored there first (a block end proper has the parse store its state).
template <bool kEarlyEnd>
struct TallySink {
  EncoderState& s;
  bool literal(unsigned cur, uint8_t c) {
    if constexpr (kEarlyEnd) s.cur_pos = cur;
    return ct_tally_as<kEarlyEnd>(s, 0, c);
  }
  bool match(unsigned cur, unsigned dist, unsigned lc) {
    if constexpr (kEarlyEnd) s.cur_pos = cur;
    return ct_tally_as<kEarlyEnd>(s, dist, lc);
  }
  void skipped(unsigned, unsigned) {}
  void end_block() {
    close_block(s, false);
    s.block_origin = static_cast<int32_t>(s.cur_pos);
  }
};

// The single-threaded loops, made once per level so that the level's row is
// constant; they drive the steps and refill the window.
template <int kLevel>
uint64_t greedy_loop(EncoderState& s) {
  s.prior_len = kMinMatch - 1;
  TallySink<kLevelTable[kLevel].early_end> sink{s};
  unsigned len = 0;
  while (s.lookahead != 0) {
    ParseRegs g(s);
    do {
      greedy_step<kLevel>(s, g, len, sink);
    } while (g.look >= kMinLookahead);
    g.store(s);
    refill_window(s);
  }
  return close_block(s, true);
}

template <int kLevel>
uint64_t lazy_loop(EncoderState& s) {
  TallySink<kLevelTable[kLevel].early_end> sink{s};
  unsigned len = s.resume_len;
  bool pending = s.resume_pending;
  while (s.lookahead != 0) {
    ParseRegs g(s);
    do {
      lazy_step<kLevel>(s, g, len, pending, sink);
      DEFLATE_CHECK(g.cur <= s.bytes_read && g.look <= s.bytes_read, "a bit too far - deflate");
    } while (g.look >= kMinLookahead);
    g.store(s);
    refill_window(s);
  }
  if (pending) ct_tally(s, 0, s.window[s.cur_pos - 1]);
  return close_block(s, true);
}

// The loop of a level, as its row names it.
template <int kLevel>
uint64_t parse_level(EncoderState& s) {
  if constexpr (kLevelTable[kLevel].parse == Parse::kLazy) {
    return lazy_loop<kLevel>(s);
  } else {
    return greedy_loop<kLevel>(s);
  }
}

using ParseLoop = uint64_t (*)(EncoderState&);

// Entry L - 1 is the loop of level L.
template <size_t... kIndex>
constexpr std::array<ParseLoop, sizeof...(kIndex)> make_loops(std::index_sequence<kIndex...>) {
  return {parse_level<static_cast<int>(kIndex) + 1>...};
}

constexpr auto kLoops = make_loops(std::make_index_sequence<kLevelTable.size() - 1>());

}  // namespace

uint64_t parse(EncoderState& s) {
  return kLoops[static_cast<size_t>(s.PackLevel) - 1](s);
}

}  // namespace deflate_internal
