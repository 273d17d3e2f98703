// The block coder: records the match finder's literals and matches in the
// symbol buffers, asks for a block end when the buffers fill up (or, where
// the level's row allows it, when the block already looks well compressed),
// and writes each block in the cheapest of the stored, fixed-code and
// dynamic-code forms.
#pragma once

#include <cstdint>

#include "Checks.h"
#include "CodeTables.h"
#include "EncoderState.h"

namespace deflate_internal {

// Fills the tree descriptors and clears the bit writer and the first block.
void ct_init(EncoderState& s);

// Ends the current block: writes it and returns total_bits / 8. data is the
// block's input in the window, or null once its start has left the window.
uint64_t finish_block(EncoderState& s, const uint8_t* data, uint32_t stored_len, bool last);

// Records a literal (dist 0, lc the byte) or a match (dist 1..32,506, lc its
// length - 3); returns true when the block should end now.
//
// A match sets its kind bit straight in sym_kinds, which each block starts
// cleared, and a literal leaves its bit 0: no group of eight symbols has to
// be closed, so there is no branch on the symbol count, which every eighth
// symbol would mispredict.
// kEarlyEnd is the level row's early_end (s.early_end): a parse made for its
// level passes it as a constant.
template <bool kEarlyEnd>
inline bool ct_tally_as(EncoderState& s, unsigned dist, unsigned lc) {
  const unsigned n = s.sym_count++;
  s.sym_bytes[n] = static_cast<uint8_t>(lc);
  if (dist == 0) {
    ++s.lit_tree[lc].fc;
  } else {
    --dist;
    DEFLATE_CHECK(dist < kMaxDist && lc <= 255 && d_code(dist) < kDistSymbols,
                  "ct_tally: bad match");
    ++s.lit_tree[kLiterals + 1 + kTables.len_code_of[lc]].fc;
    ++s.dist_tree[d_code(dist)].fc;
    s.sym_dists[s.dist_count++] = static_cast<uint16_t>(dist);
    s.sym_kinds[n >> 3] = static_cast<uint8_t>(s.sym_kinds[n >> 3] | (1u << (n & 7)));
  }
  if (kEarlyEnd && (s.sym_count & 0xFFF) == 0) {
    // A block that already codes to under half its input, with mostly
    // literals, ends early so the next one gets trees of its own.
    uint32_t out_length = s.sym_count * 8u;
    for (int dcode = 0; dcode < kDistSymbols; ++dcode) {
      out_length += s.dist_tree[dcode].fc * (5u + kExtraDistBits[dcode]);
    }
    out_length >>= 3;
    const int32_t in_length = static_cast<int32_t>(s.cur_pos) - s.block_origin;
    if (s.dist_count < s.sym_count / 2 && static_cast<int64_t>(out_length) < in_length / 2) {
      return true;
    }
  }
  return s.sym_count == kMaxBlockSymbols || s.dist_count == kMaxBlockMatches;
}

inline bool ct_tally(EncoderState& s, unsigned dist, unsigned lc) {
  return s.early_end ? ct_tally_as<true>(s, dist, lc) : ct_tally_as<false>(s, dist, lc);
}

}  // namespace deflate_internal
