// The state of one encoder run (one entry): the bit writer, the counters of
// the current block's symbols, the three dynamic trees with the tree
// builder's scratch, and the match finder's position in the window. It lives
// on the stack of deflate(); the large buffers belong to the archive writer.
#pragma once

#include <cstdint>

#include "CodeTables.h"
#include "Deflate.h"

namespace deflate_internal {

using ChainRecord = DeflateChainRecord;
using JumpRecord = DeflateJumpRecord;

// Window geometry and match limits.
constexpr unsigned kWindowHalf = 32768;
constexpr unsigned kWindowMask = kWindowHalf - 1;
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 258;
constexpr unsigned kMinLookahead = kMaxMatch + kMinMatch + 1;   // 262
constexpr unsigned kMaxDist = kWindowHalf - kMinLookahead;      // 32,506
constexpr unsigned kSlideAt = 2 * kWindowHalf - kMinLookahead;  // 65,274
constexpr unsigned kTooFar = 4096;  // a 3-byte match farther back is not worth it (lazy)
constexpr unsigned kHashMask = 0x7FFF;
constexpr int kHashShift = 5;

// Block limits of the symbol buffers.
constexpr unsigned kMaxBlockSymbols = 32767;
constexpr unsigned kMaxBlockMatches = 32768;
constexpr unsigned kOutBufSize = 1024;
// A block's coder hands the output buffer over only after this many symbols.
constexpr unsigned kSymbolsPerLook = 64;

// A tree node: frequency, then code, in the first field; parent node, then
// code length, in the second.
struct TreeNode {
  uint16_t fc;
  uint16_t dl;
};

// How to build and cost one dynamic tree.
struct TreeParams {
  TreeNode* tree;
  const Code* fixed_tree;     // the fixed codes of the alphabet, or none
  const uint8_t* extra_bits;  // extra-bit counts, from extra_base on
  int extra_base;             // first symbol with extra bits
  int elems;                  // symbols of the alphabet
  int max_length;             // longest allowed code
  int top_symbol;             // largest symbol of the block with a code
};

class BlockPipeline;

struct EncoderState {
  // The archive writer and the current entry.
  DeflateHost* host;
  BlockPipeline* aside;  // codes finished blocks on a second thread, or null
  DeflateEntryFields entry;
  int PackLevel;
  uint8_t* window;
  uint16_t* head_table;
  ChainRecord* chains;      // the hash chains of a row with Stride::kFour
  JumpRecord* jump_chains;  // those of a row with Stride::kEight
  uint8_t* sym_bytes;
  uint16_t* sym_dists;
  uint8_t* sym_kinds;

  // Bit writer. Bits are gathered in a wide accumulator and leave it as whole
  // little-endian bytes, so the byte stream is that of a 16-bit bit buffer.
  uint64_t bit_buf;
  int bit_count;
  unsigned out_len;
  uint64_t total_bits;  // bits of the entry so far, as costed by the block coder
  // Room for the symbols a block's coder writes between two looks at the
  // buffer (six bytes each at most), and for a word stored at its last byte.
  uint8_t out_buf[kOutBufSize + 6 * kSymbolsPerLook + 16];

  // Symbols of the current block.
  unsigned sym_count;
  unsigned dist_count;

  // Trees and the tree builder's scratch.
  TreeNode lit_tree[kHeapSize];
  TreeNode dist_tree[2 * kDistSymbols + 1];
  TreeNode cl_tree[2 * kClSymbols + 1];
  TreeParams lit_desc;
  TreeParams dist_desc;
  TreeParams cl_desc;
  int heap[kHeapSize];  // the nodes in the order they left the tree builder's heap
  int heap_max;         // where that order starts; it grows down from the top
  uint16_t len_counts[kMaxBits + 1];
  int32_t opt_bits;    // dynamic coding of the block plus its tree description
  int32_t fixed_bits;  // fixed coding of the block

  // Match finder.
  unsigned cur_pos;    // window position of the next byte to encode
  unsigned lookahead;  // valid input bytes at and after cur_pos
  unsigned match_pos;  // start of the longest match of the last search
  int32_t block_origin;
  unsigned hash_key;
  bool input_done;
  bool early_end;  // the level's row lets blocks end early
  unsigned prior_len;
  unsigned good_len;
  unsigned lazy_len;
  unsigned chain_len;
  unsigned nice_len;
  uint64_t bytes_read;   // everything ReadInput delivered, for the checks
  uint64_t window_base;  // input offset of window position 0: 32,768 times the slides
  // The lazy loop's state when it starts: the previous position's match
  // length (2: none) and whether a literal awaits its decision. A fresh entry
  // starts with 2 and false; a run taken over from parallel parsing, with
  // the state it had reached.
  unsigned resume_len;
  bool resume_pending;
};

}  // namespace deflate_internal
