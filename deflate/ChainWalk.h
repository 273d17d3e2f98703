// The chain walk: the hash chains that lead from a position to the earlier
// positions whose three bytes hash alike, and the search along them for the
// longest match. Positions are window offsets; position 0 doubles as "no
// position", so the string at offset 0 is never a candidate. The window
// keeps 262 bytes of lookahead while input remains, which lets the search
// compare whole 258-byte spans without bounds checks; matches found past the
// valid input are cut to lookahead by the callers.
//
// Each position's record holds its next four successors on its chain (and,
// with Stride::kEight, a jump to the eighth), so that one wait for a load
// takes the walk four or eight links on.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "Checks.h"
#include "EncoderState.h"
#include "LevelTable.h"

namespace deflate_internal {

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

// The rolling key after byte c: over three bytes it is the hash of a position.
inline unsigned roll_key(unsigned key, uint8_t c) {
  return ((key << kHashShift) ^ c) & kHashMask;
}

inline void roll_hash(EncoderState& s, uint8_t c) {
  s.hash_key = roll_key(s.hash_key, c);
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

}  // namespace deflate_internal
