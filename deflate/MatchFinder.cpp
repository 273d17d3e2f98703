// Window, hash chains and parsing. Positions are window offsets; position 0
// doubles as "no position", so the string at offset 0 is never a candidate.
// The window keeps 262 bytes of lookahead while input remains, which lets the
// search compare whole 258-byte spans without bounds checks; matches found
// past the valid input are cut to lookahead by the callers.
#include "MatchFinder.h"

#include <array>
#include <bit>
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
#include "Checks.h"
#include "LevelTable.h"
#include "ParseRun.h"

namespace deflate_internal {
namespace {

inline unsigned load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Index of the first differing byte of two 8-byte loads (x is their xor, not 0).
inline unsigned first_difference(uint64_t x) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<unsigned>(std::countr_zero(x)) / 8;
  } else {
    return static_cast<unsigned>(std::countl_zero(x)) / 8;
  }
}

// Reads input into the window; returns the count as the encoder takes it. A
// host that claims more than it was asked for is not believed.
inline unsigned read_input(EncoderState& s, uint8_t* buffer, unsigned count) {
  const unsigned placed = s.host->ReadInput(buffer, count);
  const unsigned n = (placed < count ? placed : count) & 0xFFFF;
  s.bytes_read += n == 0xFFFF ? 0 : n;
  return n;
}

inline void roll_hash(EncoderState& s, uint8_t c) {
  s.hash_key = ((s.hash_key << kHashShift) ^ c) & kHashMask;
}

// The chains and their heads, as a loop keeps them in registers.
struct ChainTables {
  uint16_t* head;
  ChainRecord* chains;
  JumpRecord* jumps;
};

inline ChainTables tables_of(const EncoderState& s) {
  return {s.head_table, s.chains, s.jump_chains};
}

// The four successors of position p's record, as the stride keeps them.
template <Stride kStride>
inline uint16_t* successors(const ChainTables& t, unsigned p) {
  if constexpr (kStride == Stride::kFour) {
    return t.chains[p & kWindowMask].next;
  } else {
    return t.jumps[p & kWindowMask].next;
  }
}

// Puts position p, whose hash is key, at the head of its chain and returns
// the previous head. p's record is the old head followed by the first three
// successors of the old head's record; p's eighth successor is the fourth
// one's fourth.
template <Stride kStride>
inline unsigned link_position(const ChainTables& t, unsigned key, unsigned p) {
  const unsigned h = t.head[key];
  // The old head's record moved up one place, with the old head in front:
  // one shift of the record as a word.
  uint64_t older;
  std::memcpy(&older, successors<kStride>(t, h), sizeof older);
  const uint64_t mine = std::endian::native == std::endian::little
                            ? (older << 16) | h
                            : (older >> 16) | (uint64_t{h} << 48);
  std::memcpy(successors<kStride>(t, p), &mine, sizeof mine);
  if constexpr (kStride == Stride::kEight) {
    JumpRecord& rec = t.jumps[p & kWindowMask];
    rec.jump = t.jumps[rec.next[3] & kWindowMask].next[3];
  }
  t.head[key] = static_cast<uint16_t>(p);
  return h;
}

// Adds position p to its hash chain; returns the previous head of the chain.
template <Stride kStride>
inline unsigned insert_position(EncoderState& s, unsigned p) {
  roll_hash(s, s.window[p + 2]);
  return link_position<kStride>(tables_of(s), s.hash_key, p);
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

// Length of the match between the strings at scan and match whose first three
// bytes are known to agree: the offset of the first differing byte, at most
// 258. Comparing offsets 3..258 a word at a time reads exactly the bytes that a
// pairwise comparison (pairs 3-4 .. 257-258, counting one more when a pair's
// first byte agrees) reads, and gives the same length.
inline unsigned match_length(const uint8_t* scan, const uint8_t* match) {
  // Offsets 3..258 are exactly 32 eight-byte words.
  for (unsigned off = 3; off < kMaxMatch + 1; off += 8) {
    const uint64_t x = load64(scan + off) ^ load64(match + off);
    if (x != 0) return off + first_difference(x);
  }
  return kMaxMatch;
}

// Follows the chain from candidate and returns the longest match length found
// above prior_len, setting match_pos to its start; the nearest of equally long
// candidates wins. Returns prior_len, match_pos untouched, if none is longer.
//
// The chain is read four links at a time from the records. A record's k-th
// successor is what following k links gives: the links it was copied from
// are only overwritten when a position 32,768 further on is inserted, and a
// position that old lies below limit, where the walk stops before using
// anything read through it. The same holds for the jumps, which are only used
// once the seven positions before them have been seen above limit.
template <int kLevel>
unsigned find_longest_match(EncoderState& s, unsigned candidate) {
  constexpr LevelParams kRow = kLevelTable[kLevel];
  constexpr Stride kStride = kRow.stride;
  // The greedy loop's prior_len is always 2; as a constant it settles the
  // chain count at compile time.
  const unsigned prior_len = kRow.parse == Parse::kGreedy ? kMinMatch - 1 : s.prior_len;
  unsigned chain = kRow.chain_len;
  if (prior_len >= kRow.good_len) chain >>= 2;
  unsigned best = prior_len;
  unsigned best_pos = s.match_pos;
  constexpr unsigned nice = kRow.nice_len;
  const unsigned limit = s.cur_pos > kMaxDist ? s.cur_pos - kMaxDist : 0;
  const uint8_t* const window = s.window;
  const ChainRecord* const chains = s.chains;
  const uint8_t* const scan = window + s.cur_pos;
  const unsigned scan_start = load16(scan);
  unsigned scan_end = load16(scan + best - 1);
  DEFLATE_CHECK(s.cur_pos <= 2 * kWindowHalf - kMinLookahead, "Insufficient lookahead");
  DEFLATE_CHECK(s.cur_pos + kMaxMatch < 2 * kWindowHalf, "Wild Scan");

  // Measures candidate m; true when the search is over.
  const auto found_nice = [&](unsigned m) {
    DEFLATE_CHECK(m < s.cur_pos, "No Future");
    const uint8_t* const match = window + m;
    // Equal hashes and equal first two bytes imply an equal third byte.
    if (load16(match + best - 1) != scan_end || load16(match) != scan_start) return false;
    const unsigned len = match_length(scan, match);
    if (len <= best) return false;
    best_pos = m;
    best = len;
    if (best >= nice) return true;
    scan_end = load16(scan + best - 1);
    return false;
  };
  // A successor is a candidate while it lies above limit and the chain count,
  // decremented first, is not used up; true when the walk ends at c. (Each
  // successor is passed as a value of its own: read back from the record
  // instead, GCC waits for the loads.)
  const auto ends_walk = [&](unsigned c) { return c <= limit || --chain == 0 || found_nice(c); };
  unsigned m = candidate;
  if (found_nice(m)) {
    // done
  } else if constexpr (kStride == Stride::kFour) {
    for (;;) {
      const ChainRecord r = chains[m & kWindowMask];
      if (ends_walk(r.next[0]) || ends_walk(r.next[1]) || ends_walk(r.next[2]) ||
          ends_walk(r.next[3])) {
        break;
      }
      m = r.next[3];
    }
  } else {
    // r holds the next four candidates and jump the eighth; the records of
    // the fifth to eighth and of the ninth to twelfth are loaded at once.
    const JumpRecord* const jump_chains = s.jump_chains;
    ChainRecord r;
    std::memcpy(&r, jump_chains[m & kWindowMask].next, sizeof r);
    unsigned jump = jump_chains[m & kWindowMask].jump;
    for (;;) {
      ChainRecord r2;
      std::memcpy(&r2, jump_chains[r.next[3] & kWindowMask].next, sizeof r2);
      ChainRecord r3;
      std::memcpy(&r3, jump_chains[jump & kWindowMask].next, sizeof r3);
      const unsigned jump3 = jump_chains[jump & kWindowMask].jump;
      if (ends_walk(r.next[0]) || ends_walk(r.next[1]) || ends_walk(r.next[2]) ||
          ends_walk(r.next[3]) || ends_walk(r2.next[0]) || ends_walk(r2.next[1]) ||
          ends_walk(r2.next[2]) || ends_walk(r2.next[3])) {
        break;
      }
      r = r3;
      jump = jump3;
    }
  }
  s.match_pos = best_pos;
  return best;
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

// Asks for the head of the chain two positions on, and for the record of
// the head one position on, before they are needed: a turn spends most of
// its time waiting for those two loads.
template <Stride kStride>
__attribute__((always_inline)) inline void prefetch_next(const uint8_t* window,
                                                         const ChainTables& t, unsigned hash_key,
                                                         unsigned cur_pos) {
  const unsigned key = ((hash_key << kHashShift) ^ window[cur_pos + 2]) & kHashMask;
  const unsigned key1 = ((key << kHashShift) ^ window[cur_pos + 3]) & kHashMask;
  const unsigned key2 = ((key1 << kHashShift) ^ window[cur_pos + 4]) & kHashMask;
  __builtin_prefetch(&t.head[key2]);
  if constexpr (kStride == Stride::kFour) {
    __builtin_prefetch(&t.chains[t.head[key1] & kWindowMask]);
  } else {
    __builtin_prefetch(&t.jumps[t.head[key1] & kWindowMask]);
  }
}

template <Stride kStride>
__attribute__((always_inline)) inline void prefetch_next(const EncoderState& s) {
  prefetch_next<kStride>(s.window, tables_of(s), s.hash_key, s.cur_pos);
}

// The search step of the greedy parse at cur_pos: inserts the position and
// returns the match length there, or len unchanged when no search is made.
template <int kLevel>
__attribute__((always_inline)) inline unsigned greedy_search(EncoderState& s, unsigned len) {
  prefetch_next<kLevelTable[kLevel].stride>(s);
  const unsigned head = insert_position<kLevelTable[kLevel].stride>(s, s.cur_pos);
  if (head != 0 && s.cur_pos - head <= kMaxDist) {
    len = find_longest_match<kLevel>(s, head);
    if (len > s.lookahead) len = s.lookahead;
  }
  return len;
}

// The search step of the lazy parse at cur_pos, once prior_len holds the
// previous position's match: inserts the position and returns the match
// length there (kMinMatch - 1 for none, or for a far 3-byte match).
template <int kLevel>
__attribute__((always_inline)) inline unsigned lazy_search(EncoderState& s) {
  constexpr LevelParams kRow = kLevelTable[kLevel];
  prefetch_next<kRow.stride>(s);
  const unsigned head = insert_position<kRow.stride>(s, s.cur_pos);
  unsigned len = kMinMatch - 1;
  if (head != 0 && s.prior_len < kRow.lazy_len && s.cur_pos - head <= kMaxDist) {
    len = find_longest_match<kLevel>(s, head);
    if (len > s.lookahead) len = s.lookahead;
    if (len == kMinMatch && s.cur_pos - s.match_pos > kTooFar) len = kMinMatch - 1;
  }
  return len;
}

// The parsing loops, made once per level so that the level's row is constant.
template <int kLevel>
uint64_t greedy_loop(EncoderState& s) {
  constexpr LevelParams kRow = kLevelTable[kLevel];
  s.prior_len = kMinMatch - 1;
  unsigned len = 0;  // keeps its value (below 3) when no search is made
  while (s.lookahead != 0) {
    len = greedy_search<kLevel>(s, len);
    bool flush;
    if (len >= kMinMatch) {
      flush = ct_tally(s, s.cur_pos - s.match_pos, len - kMinMatch);
      s.lookahead -= len;
      if (len <= kRow.lazy_len) {
        for (unsigned p = s.cur_pos + 1; p < s.cur_pos + len; ++p)
          insert_position<kRow.stride>(s, p);
        s.cur_pos += len;
      } else {
        // Long matches are not hashed inside; restart the key after them.
        s.cur_pos += len;
        s.hash_key = s.window[s.cur_pos];
        roll_hash(s, s.window[s.cur_pos + 1]);
      }
      len = 0;
    } else {
      flush = ct_tally(s, 0, s.window[s.cur_pos]);
      --s.lookahead;
      ++s.cur_pos;
    }
    if (flush) {
      close_block(s, false);
      s.block_origin = static_cast<int32_t>(s.cur_pos);
    }
    if (s.lookahead < kMinLookahead) refill_window(s);
  }
  return close_block(s, true);
}

template <int kLevel>
uint64_t lazy_loop(EncoderState& s) {
  constexpr LevelParams kRow = kLevelTable[kLevel];
  unsigned len = s.resume_len;
  bool pending = s.resume_pending;  // a literal at cur_pos - 1 awaits the next search
  while (s.lookahead != 0) {
    s.prior_len = len;
    const unsigned prior_pos = s.match_pos;
    len = lazy_search<kLevel>(s);
    if (s.prior_len >= kMinMatch && len <= s.prior_len) {
      // The previous position's match stands.
      const bool flush = ct_tally(s, s.cur_pos - 1 - prior_pos, s.prior_len - kMinMatch);
      s.lookahead -= s.prior_len - 1;
      const unsigned end = s.cur_pos + s.prior_len - 2;
      for (unsigned p = s.cur_pos + 1; p <= end; ++p) insert_position<kRow.stride>(s, p);
      s.cur_pos += s.prior_len - 1;
      pending = false;
      len = kMinMatch - 1;
      if (flush) {
        close_block(s, false);
        s.block_origin = static_cast<int32_t>(s.cur_pos);
      }
    } else if (pending) {
      if (ct_tally(s, 0, s.window[s.cur_pos - 1])) {
        close_block(s, false);
        s.block_origin = static_cast<int32_t>(s.cur_pos);
      }
      ++s.cur_pos;
      --s.lookahead;
    } else {
      pending = true;
      ++s.cur_pos;
      --s.lookahead;
    }
    DEFLATE_CHECK(s.cur_pos <= s.bytes_read && s.lookahead <= s.bytes_read,
                  "a bit too far - deflate");
    if (s.lookahead < kMinLookahead) refill_window(s);
  }
  if (pending) ct_tally(s, 0, s.window[s.cur_pos - 1]);
  return close_block(s, true);
}

}  // namespace

namespace {

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

// Runs for the parallel encoder. Their turns are those of the loops above,
// symbol for symbol; only the recording differs, and the control's event
// comes at the start of a turn.
namespace {

template <int kLevel>
void greedy_run(EncoderState& s, RunControl& control) {
  constexpr LevelParams kRow = kLevelTable[kLevel];
  constexpr Stride kStride = kRow.stride;
  constexpr bool kTally = runs_tallied(kRow);
  constexpr unsigned kLazyLen = kRow.lazy_len;
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
    // The turns up to the next event or the next refill, with the parse's
    // state in locals: kept in s, every byte stored would make the compiler
    // load all of it again.
    const uint8_t* const window = s.window;
    const ChainTables tables = tables_of(s);
    const uint64_t base = s.window_base;
    const uint64_t event_at = control.next_event;
    const uint64_t skip_floor = control.skip_floor;
    SymbolCursor at = out.cursor();
    unsigned cur = s.cur_pos;
    unsigned look = s.lookahead;
    unsigned key = s.hash_key;
    const auto insert = [&](unsigned p) {
      key = ((key << kHashShift) ^ window[p + 2]) & kHashMask;
      return link_position<kStride>(tables, key, p);
    };
    // Turns before record_from are parsed for their chains only.
    const auto turns = [&](auto record) {
      constexpr bool kRecord = decltype(record)::value;
      const uint64_t end_at = kRecord ? event_at : std::min(event_at, control.record_from);
      do {
        prefetch_next<kStride>(window, tables, key, cur);
        const unsigned head = insert(cur);
        if (head != 0 && cur - head <= kMaxDist) {
          s.cur_pos = cur;
          len = find_longest_match<kLevel>(s, head);
          if (len > look) len = look;
        }
        if (len >= kMinMatch) {
          if constexpr (kRecord) at.match<kTally>(cur - s.match_pos, len - kMinMatch);
          look -= len;
          if (len <= kLazyLen) {
            for (unsigned p = cur + 1; p < cur + len; ++p) insert(p);
            cur += len;
          } else {
            if (base + cur + len > skip_floor)
              control.skipped(SkipSpan{base + cur + 1, base + cur + len});
            cur += len;
            // Long matches are not hashed inside; the key restarts after them.
            key = ((unsigned{window[cur]} << kHashShift) ^ window[cur + 1]) & kHashMask;
          }
          len = 0;
        } else {
          if constexpr (kRecord) at.literal<kTally>(window[cur]);
          --look;
          ++cur;
        }
      } while (look >= kMinLookahead && base + cur < end_at);
    };
    if (base + cur >= control.record_from) {
      turns(std::true_type{});
    } else {
      turns(std::false_type{});
    }
    s.cur_pos = cur;
    s.lookahead = look;
    s.hash_key = key;
    out.advance_to(at);
    if (s.lookahead < kMinLookahead) refill_window(s);
  }
}

template <int kLevel>
void lazy_run(EncoderState& s, RunControl& control) {
  constexpr LevelParams kRow = kLevelTable[kLevel];
  SymbolRun& out = *control.out;
  unsigned len = s.resume_len;
  bool pending = s.resume_pending;
  for (;;) {
    const uint64_t pos = s.window_base + s.cur_pos;
    if (pos >= control.next_event) {
      const ParseMark mark{
          static_cast<uint16_t>(len),
          static_cast<uint16_t>(len >= kMinMatch ? (s.cur_pos - s.match_pos) & 0xFFFF : 0), pending,
          static_cast<uint32_t>(out.count), static_cast<uint32_t>(out.matches)};
      if (!control.event(pos, mark)) return;
    }
    s.prior_len = len;
    const unsigned prior_pos = s.match_pos;
    len = lazy_search<kLevel>(s);
    if (s.prior_len >= kMinMatch && len <= s.prior_len) {
      out.match(s.cur_pos - 1 - prior_pos, s.prior_len - kMinMatch);
      s.lookahead -= s.prior_len - 1;
      const unsigned end = s.cur_pos + s.prior_len - 2;
      for (unsigned p = s.cur_pos + 1; p <= end; ++p) insert_position<kRow.stride>(s, p);
      s.cur_pos += s.prior_len - 1;
      pending = false;
      len = kMinMatch - 1;
    } else if (pending) {
      out.literal(s.window[s.cur_pos - 1]);
      ++s.cur_pos;
      --s.lookahead;
    } else {
      pending = true;
      ++s.cur_pos;
      --s.lookahead;
    }
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
