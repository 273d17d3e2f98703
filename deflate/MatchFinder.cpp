// The match finder's window and the parsing loops: input flows through
// ReadInput into the sliding window, and the greedy or the lazy step (each
// written once, over where its symbols go) turns it into literals and
// matches for the block coder or for a segment's run. The chain walk that
// finds the matches is in ChainWalk.h.
#include "MatchFinder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <type_traits>
#include <utility>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define DEFLATE_AVX2_SLIDE 1
#endif

#include "BlockCoder.h"
#include "BlockPipeline.h"
#include "ChainWalk.h"
#include "Checks.h"
#include "LevelTable.h"
#include "ParseRun.h"

namespace deflate_internal {
namespace {

// Reads input into the window; returns the count as the encoder takes it. A
// host that claims more than it was asked for is not believed.
inline unsigned read_input(EncoderState& s, uint8_t* buffer, unsigned count) {
  const unsigned placed = s.host->ReadInput(buffer, count);
  const unsigned n = (placed < count ? placed : count) & 0xFFFF;
  s.bytes_read += n == 0xFFFF ? 0 : n;
  return n;
}

#if DEFLATE_AVX2_SLIDE
// Sixteen entries at a time, for processors with AVX2 (chosen at run time);
// returns the bytes done, the whole 32-byte groups.
__attribute__((target("avx2"))) size_t slide_positions_avx2(void* table, size_t bytes) {
  auto* const v = static_cast<__m256i*>(table);
  const __m256i half = _mm256_set1_epi16(static_cast<int16_t>(0x8000));
  for (size_t i = 0; i < bytes / 32; ++i) {
    _mm256_storeu_si256(v + i, _mm256_subs_epu16(_mm256_loadu_si256(v + i), half));
  }
  return bytes / 32 * 32;
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

}  // namespace

// A saturating subtraction of 32,768 is exactly the slide's rule, sixteen
// entries at a time with AVX2, eight with SSE2 (which every x86-64 processor
// has), and one at a time for what is left.
void slide_positions(void* table, size_t bytes) {
  auto* const p = static_cast<unsigned char*>(table);
  size_t done = 0;
#if DEFLATE_AVX2_SLIDE
  if (HasAvx2()) done = slide_positions_avx2(p, bytes);
#endif
#if defined(__SSE2__)
  const __m128i half = _mm_set1_epi16(static_cast<int16_t>(0x8000));
  for (; done + 16 <= bytes; done += 16) {
    auto* const v = reinterpret_cast<__m128i*>(p + done);
    _mm_storeu_si128(v, _mm_subs_epu16(_mm_loadu_si128(v), half));
  }
#endif
  for (; done + 2 <= bytes; done += 2) {
    uint16_t v;
    std::memcpy(&v, p + done, 2);
    v = static_cast<uint16_t>(v >= kWindowHalf ? v - kWindowHalf : 0);
    std::memcpy(p + done, &v, 2);
  }
}

namespace {

void slide_window(EncoderState& s) {
  std::memcpy(s.window, s.window + kWindowHalf, kWindowHalf);
  s.match_pos = (s.match_pos - kWindowHalf) & 0xFFFF;
  s.cur_pos -= kWindowHalf;
  s.block_origin -= static_cast<int32_t>(kWindowHalf);
  s.window_base += kWindowHalf;
  slide_positions(s.head_table, kWindowHalf * sizeof s.head_table[0]);
  if (kLevelTable[s.PackLevel].stride == Stride::kEight) {
    slide_positions(s.jump_chains, kWindowHalf * sizeof s.jump_chains[0]);
  } else {
    slide_positions(s.chains, kWindowHalf * sizeof s.chains[0]);
  }
}

// Brings lookahead up to 262 bytes unless the input has ended, sliding the
// window once the position has passed 65,274 (also after the end of input).
void refill_window(EncoderState& s) {
  do {
    unsigned free = (2 * kWindowHalf - s.lookahead - s.cur_pos) & 0xFFFF;
    if (free == 0xFFFF) {
      // 65,535 would read as the end-of-input answer; ask for one byte less.
      free = 0xFFFE;
    } else if (s.cur_pos >= kSlideAt) {
      slide_window(s);
      free += kWindowHalf;
    }
    if (s.input_done) return;
    DEFLATE_CHECK(free >= 2, "more < 2");
    const unsigned n = read_input(s, s.window + s.cur_pos + s.lookahead, free);
    if (n == 0 || n == 0xFFFF) {
      s.input_done = true;
    } else {
      s.lookahead += n;
    }
  } while (s.lookahead < kMinLookahead && !s.input_done);
}

uint64_t close_block(EncoderState& s, bool last) {
  const uint8_t* data = s.block_origin >= 0 ? s.window + s.block_origin : nullptr;
  const auto stored_len = static_cast<uint32_t>(static_cast<int64_t>(s.cur_pos) - s.block_origin);
  if (s.aside != nullptr) return s.aside->close_block(s, data, stored_len, last);
  return finish_block(s, data, stored_len, last);
}

}  // namespace

namespace {

void load_row(EncoderState& s) {
  const LevelParams& row = kLevelTable[s.PackLevel];
  s.lazy_len = row.lazy_len;
  s.good_len = row.good_len;
  s.nice_len = row.nice_len;
  s.chain_len = row.chain_len;
  s.early_end = row.early_end;
}

}  // namespace

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

#define DEFLATE_ALWAYS_INLINE __attribute__((always_inline)) inline

// Where a parse's symbols go. literal and match are given the position of the
// turn and answer whether the block should end now; only the block coder's
// tally ever says so, and then end_block closes the block at s.cur_pos.
// skipped hears of the positions a long greedy match leaves out of the chains.
//
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

// Runs for the parallel encoder: the same steps, with the symbols going to
// the run, and the control's event at the start of a turn.
namespace {

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
