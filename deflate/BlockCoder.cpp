// Block coding: choosing among stored, fixed-code and dynamic-code blocks by
// their exact cost in bytes, writing the recorded symbols with the chosen
// codes, and the entry-level decisions taken on the way (text or binary, and
// storing a whole entry that does not compress).
#include "BlockCoder.h"

#include <cstring>

#include "BitWriter.h"
#include "TreeBuilder.h"

namespace deflate_internal {

namespace {

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kAttrBinary = 0;
constexpr uint16_t kAttrText = 1;
constexpr uint16_t kAttrUnknown = 2;

enum BlockType : unsigned { kStoredBlock = 0, kFixedBlock = 1, kDynamicBlock = 2 };

void reset_block(EncoderState& s) {
  for (int n = 0; n < kLitSymbols; ++n) s.lit_tree[n].fc = 0;
  for (int n = 0; n < kDistSymbols; ++n) s.dist_tree[n].fc = 0;
  for (int n = 0; n < kClSymbols; ++n) s.cl_tree[n].fc = 0;
  s.lit_tree[kEndBlock].fc = 1;
  s.opt_bits = 0;
  s.fixed_bits = 0;
  // The next block's kind bits start cleared: those of the block just
  // written are wiped here, and deflate() wipes the whole map for each entry.
  if (s.sym_count != 0) std::memset(s.sym_kinds, 0, (s.sym_count + 7) / 8);
  s.sym_count = 0;
  s.dist_count = 0;
}

// Binary when bytes 0..6 and 128..255 make up more than a fifth of the
// literals; decided on the entry's first block only.
void classify_text(EncoderState& s) {
  unsigned binary = 0;
  unsigned ascii = 0;
  for (int n = 0; n < 7; ++n) binary += s.lit_tree[n].fc;
  for (int n = 7; n < 128; ++n) ascii += s.lit_tree[n].fc;
  for (int n = 128; n < kLiterals; ++n) binary += s.lit_tree[n].fc;
  *s.entry.InternalAttributes = binary > ascii / 4 ? kAttrBinary : kAttrText;
}

inline unsigned code_of(const TreeNode& node) {
  return node.fc;
}
inline unsigned len_of(const TreeNode& node) {
  return node.dl;
}
inline unsigned code_of(const Code& code) {
  return code.code;
}
inline unsigned len_of(const Code& code) {
  return code.len;
}

// A code with its extra bits appended, ready for BitSink.
struct CodeBits {
  uint32_t bits;
  uint32_t length;
};

// Writes the block's symbols with the given codes, then the end-of-block code.
//
// Each symbol goes out as one append: its literal or length code (with the
// length's extra bits) and, for a match, the distance code and its extra bits
// after it, up to 48 bits. The codes come from tables made once per block,
// and a literal takes the same path as a match with its distance part masked
// to nothing, since literals and matches alternate too unpredictably for a
// branch between them.
template <typename Node>
void compress_block(EncoderState& s, const Node* ltree, const Node* dtree) {
  // Literal codes at 0..255, then the code and extra bits of each match
  // length (length - 3 = lc) at 256 + lc.
  // (Symbols the block does not use may hold no length or, just above the
  // last used one, the 0xFFFF guard of the tree writer; their entries are
  // never sent and are made harmless.)
  const auto length_of = [](const Node& node) {
    return len_of(node) <= kMaxBits ? len_of(node) : 0u;
  };
  CodeBits heads[512];
  for (unsigned lc = 0; lc < 256; ++lc) {
    heads[lc] = CodeBits{code_of(ltree[lc]), length_of(ltree[lc])};
    const unsigned code = kTables.len_code_of[lc];
    const Node& node = ltree[code + kLiterals + 1];
    heads[256 + lc] = CodeBits{code_of(node) | ((lc - kTables.len_base[code]) << length_of(node)),
                               length_of(node) + kExtraLenBits[code]};
  }
  // For each index of the distance-code map (see d_code): the code of the
  // distances it covers, its length, their extra-bit count and first distance.
  struct DistanceCode {
    uint16_t code;
    uint8_t length;
    uint8_t extra;
    uint32_t base;
  };
  DistanceCode distances[512];
  for (unsigned i = 0; i < 512; ++i) {
    const unsigned code = kTables.dist_code_of[i];
    distances[i] = DistanceCode{static_cast<uint16_t>(code_of(dtree[code])),
                                static_cast<uint8_t>(length_of(dtree[code])), kExtraDistBits[code],
                                kTables.dist_base[code]};
  }

  BitSink out(s);
  out.drain();
  const uint8_t* const sym_bytes = s.sym_bytes;
  const uint16_t* const sym_dists = s.sym_dists;
  const uint8_t* const sym_kinds = s.sym_kinds;
  const unsigned count = s.sym_count;
  unsigned dx = 0;
  // The buffer is handed over between stretches of symbols, so that no call
  // inside a stretch makes the compiler keep its counters on the stack.
  for (unsigned lx = 0; lx < count; out.hand_over_full()) {
    const unsigned stretch_end = count - lx > kSymbolsPerLook ? lx + kSymbolsPerLook : count;
    for (; lx < stretch_end; ++lx) {
      // The kind bit read anew for each symbol: cheaper than a branch that
      // every eighth symbol mispredicts.
      const unsigned is_match = (sym_kinds[lx >> 3] >> (lx & 7)) & 1;
      const CodeBits head = heads[sym_bytes[lx] | (is_match << 8)];
      // The next distance (for a literal an unused one, kept in range).
      const unsigned dist = sym_dists[dx] & kWindowMask;
      dx += is_match;
      DEFLATE_CHECK(!is_match || d_code(dist) < kDistSymbols, "bad d_code-compress_block");
      const DistanceCode d = distances[dist < 256 ? dist : 256 + (dist >> 7)];
      const uint64_t keep = 0 - static_cast<uint64_t>(is_match);
      const uint64_t dist_bits = (d.code | (uint64_t{dist - d.base} << d.length)) & keep;
      const unsigned dist_length = (d.length + d.extra) & static_cast<unsigned>(keep);
      out.put_and_keep(head.bits | (dist_bits << head.length),
                       static_cast<int>(head.length + dist_length));
    }
  }
  out.put(code_of(ltree[kEndBlock]), static_cast<int>(len_of(ltree[kEndBlock])));
}

void send_block_header(EncoderState& s, BlockType type, bool last) {
  send_bits(s, type * 2 + (last ? 1 : 0), 3);
}

}  // namespace

void ct_init(EncoderState& s) {
  s.lit_desc = TreeParams{s.lit_tree,
                          kTables.fixed_lit_tree,
                          kExtraLenBits.data(),
                          kLiterals + 1,
                          kLitSymbols,
                          kMaxBits,
                          0};
  s.dist_desc = TreeParams{
      s.dist_tree, kTables.fixed_dist_tree, kExtraDistBits.data(), 0, kDistSymbols, kMaxBits, 0};
  s.cl_desc = TreeParams{s.cl_tree, nullptr, kExtraClBits.data(), 0, kClSymbols, kMaxClBits, 0};
  s.total_bits = 0;
  s.bit_buf = 0;
  s.bit_count = 0;
  reset_block(s);
}

uint64_t finish_block(EncoderState& s, const uint8_t* data, uint32_t stored_len, bool last) {
  if (*s.entry.InternalAttributes == kAttrUnknown) classify_text(s);

  build_code_tree(s, s.lit_desc);
  build_code_tree(s, s.dist_desc);
  const int n_cl = build_cl_tree(s);

  // Costs in whole bytes, each with its 3-bit block header.
  int64_t opt_bytes = (static_cast<int64_t>(s.opt_bits) + 3 + 7) >> 3;
  const int64_t fixed_bytes = (static_cast<int64_t>(s.fixed_bits) + 3 + 7) >> 3;
  if (fixed_bytes <= opt_bytes) opt_bytes = fixed_bytes;

  if (stored_len <= opt_bytes && last && s.total_bits == 0 && data != nullptr) {
    // The entry is one block that does not compress: keep it as it is.
    write_stored(s, data, stored_len, StoredHeader::kWithout);
    s.total_bits = static_cast<uint64_t>(stored_len) * 8;
    *s.entry.CompressionMethod = kMethodStored;
  } else if (int64_t{stored_len} + 4 <= opt_bytes && data != nullptr) {
    send_block_header(s, kStoredBlock, last);
    s.total_bits =
        ((s.total_bits + 3 + 7) & ~uint64_t{7}) + (static_cast<uint64_t>(stored_len) + 4) * 8;
    write_stored(s, data, stored_len, StoredHeader::kWith);
  } else if (fixed_bytes == opt_bytes) {
    send_block_header(s, kFixedBlock, last);
    compress_block(s, kTables.fixed_lit_tree, kTables.fixed_dist_tree);
    s.total_bits += 3 + static_cast<uint64_t>(s.fixed_bits);
  } else {
    send_block_header(s, kDynamicBlock, last);
    send_all_trees(s, s.lit_desc.top_symbol + 1, s.dist_desc.top_symbol + 1, n_cl + 1);
    compress_block(s, s.lit_tree, s.dist_tree);
    s.total_bits += 3 + static_cast<uint64_t>(s.opt_bits);
  }
  reset_block(s);

  if (last) {
    // Leaves no trace of this entry for the next one's reads past its input.
    std::memset(s.window, 0, 2 * kWindowHalf - 1);
    align_to_byte(s);
    s.total_bits += 7;
  }
  return s.total_bits >> 3;
}

}  // namespace deflate_internal
