// The parallel encoder's runs: a stretch of the entry's input parsed with
// the single-threaded loops' steps (ParseSteps.h), the symbols recorded in
// the run's buffers instead of the block coder's, no block ends, and the
// run's control asked at the start of each turn from its next event on. Also
// how a parse's hash chains are built without parsing: before a run's start,
// and for the ordinary loop that finishes the entry after the splice.
#include "ParseRun.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <type_traits>
#include <utility>

#include "ChainWalk.h"
#include "Checks.h"
#include "LevelTable.h"
#include "ParseSteps.h"
#include "Window.h"

namespace deflate_internal {
namespace {

// A segment's run, recorded through a cursor held in registers (the greedy
// runs); kRecord false parses turns for their chains only.
template <bool kRecord, bool kTally>
struct CursorSink {
  SymbolCursor& at;
  RunControl& control;
  uint64_t base;  // input offset of window position 0
  bool literal(unsigned, uint8_t c) {
    if constexpr (kRecord) at.literal<kTally>(c);
    return false;
  }
  bool match(unsigned, unsigned dist, unsigned lc) {
    if constexpr (kRecord) at.match<kTally>(dist, lc);
    return false;
  }
  // Window positions [from, to), reported unless nobody compares them.
  void skipped(unsigned from, unsigned to) {
    if (base + to > control.skip_floor) control.skipped(SkipSpan{base + from, base + to});
  }
  void end_block() {}
};

// A segment's run, recorded straight into its buffers (the lazy runs).
struct RunSink {
  SymbolRun& out;
  bool literal(unsigned, uint8_t c) {
    out.literal(c);
    return false;
  }
  bool match(unsigned, unsigned dist, unsigned lc) {
    out.match(dist, lc);
    return false;
  }
  void skipped(unsigned, unsigned) {}
  void end_block() {}
};

template <int kLevel>
void greedy_run(EncoderState& s, RunControl& control) {
  constexpr bool kTally = runs_tallied(kLevelTable[kLevel]);
  SymbolRun& out = *control.out;
  DEFLATE_CHECK(out.tallied == kTally, "run tallied unlike its level");
  s.prior_len = kMinMatch - 1;
  unsigned len = 0;
  for (;;) {
    if (s.window_base + s.cur_pos >= control.next_event) {
      const ParseMark mark{kMinMatch - 1, 0, false, static_cast<uint32_t>(out.count),
                           static_cast<uint32_t>(out.matches)};
      if (!control.event(s.window_base + s.cur_pos, mark)) return;
    }
    // The turns up to the next event or the next refill.
    const uint64_t base = s.window_base;
    ParseRegs g(s);
    SymbolCursor at = out.cursor();
    // Turns before record_from are parsed for their chains only.
    const auto turns = [&](auto record) {
      constexpr bool kRecord = decltype(record)::value;
      const uint64_t end_at =
          kRecord ? control.next_event : std::min(control.next_event, control.record_from);
      CursorSink<kRecord, kTally> sink{at, control, base};
      do {
        greedy_step<kLevel>(s, g, len, sink);
      } while (g.look >= kMinLookahead && base + g.cur < end_at);
    };
    if (base + g.cur >= control.record_from) {
      turns(std::true_type{});
    } else {
      turns(std::false_type{});
    }
    g.store(s);
    out.advance_to(at);
    if (s.lookahead < kMinLookahead) refill_window(s);
  }
}

template <int kLevel>
void lazy_run(EncoderState& s, RunControl& control) {
  SymbolRun& out = *control.out;
  RunSink sink{out};
  unsigned len = s.resume_len;
  bool pending = s.resume_pending;
  for (;;) {
    const uint64_t base = s.window_base;
    if (base + s.cur_pos >= control.next_event) {
      const ParseMark mark{
          static_cast<uint16_t>(len),
          static_cast<uint16_t>(len >= kMinMatch ? (s.cur_pos - s.match_pos) & 0xFFFF : 0), pending,
          static_cast<uint32_t>(out.count), static_cast<uint32_t>(out.matches)};
      if (!control.event(base + s.cur_pos, mark)) return;
    }
    // The turns up to the next event or the next refill.
    ParseRegs g(s);
    const uint64_t event_at = control.next_event;
    do {
      lazy_step<kLevel>(s, g, len, pending, sink);
    } while (g.look >= kMinLookahead && base + g.cur < event_at);
    g.store(s);
    if (s.lookahead < kMinLookahead) refill_window(s);
  }
}

template <int kLevel>
void run_level(EncoderState& s, RunControl& control) {
  if constexpr (kLevelTable[kLevel].parse == Parse::kLazy) {
    lazy_run<kLevel>(s, control);
  } else {
    greedy_run<kLevel>(s, control);
  }
}

using RunLoop = void (*)(EncoderState&, RunControl&);

template <size_t... kIndex>
constexpr std::array<RunLoop, sizeof...(kIndex)> make_run_loops(std::index_sequence<kIndex...>) {
  return {run_level<static_cast<int>(kIndex) + 1>...};
}

constexpr auto kRunLoops = make_run_loops(std::make_index_sequence<kLevelTable.size() - 1>());

template <Stride kStride>
void insert_range(EncoderState& s, unsigned from, unsigned to, const std::vector<SkipSpan>& skips) {
  size_t k = 0;
  bool in_step = false;
  for (unsigned p = from; p < to; ++p) {
    const uint64_t off = s.window_base + p;
    while (k < skips.size() && skips[k].end <= off) ++k;
    if (k < skips.size() && skips[k].begin <= off) {
      in_step = false;
      continue;
    }
    if (!in_step) {
      // As the greedy loop restarts the key after a long match.
      s.hash_key = s.window[p];
      roll_hash(s, s.window[p + 1]);
      in_step = true;
    }
    insert_position<kStride>(s, p);
  }
}

}  // namespace

void start_run(EncoderState& s, uint64_t start, unsigned insert_only) {
  std::memset(s.head_table, 0, kWindowHalf * sizeof s.head_table[0]);
  load_row(s);
  s.cur_pos = 0;
  s.block_origin = 0;
  s.window_base = start;
  s.resume_len = kMinMatch - 1;
  s.resume_pending = false;
  s.match_pos = 0;
  s.input_done = false;
  s.lookahead = read_input(s, s.window, kWindowHalf);
  refill_window(s);
  DEFLATE_CHECK(s.lookahead >= insert_only + kMinLookahead, "run without input");
  if (insert_only == 0) {
    s.hash_key = 0;
    roll_hash(s, s.window[0]);
    roll_hash(s, s.window[1]);
    return;
  }
  const std::vector<SkipSpan> none;
  if (kLevelTable[s.PackLevel].stride == Stride::kEight) {
    insert_range<Stride::kEight>(s, 0, insert_only, none);
  } else {
    insert_range<Stride::kFour>(s, 0, insert_only, none);
  }
  s.cur_pos = insert_only;
  s.lookahead -= insert_only;
  if (s.lookahead < kMinLookahead) refill_window(s);
}

void run_parse(EncoderState& s, RunControl& control) {
  kRunLoops[static_cast<size_t>(s.PackLevel) - 1](s, control);
}

void rebuild_chains(EncoderState& s, unsigned from, unsigned to,
                    const std::vector<SkipSpan>& skips) {
  if (kLevelTable[s.PackLevel].stride == Stride::kEight) {
    insert_range<Stride::kEight>(s, from, to, skips);
  } else {
    insert_range<Stride::kFour>(s, from, to, skips);
  }
  s.hash_key = s.window[to];
  roll_hash(s, s.window[to + 1]);
}

}  // namespace deflate_internal
