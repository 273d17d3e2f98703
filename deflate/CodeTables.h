// Constant tables of the deflate format: extra-bit counts, the maps from match
// lengths and distances to their codes, and the fixed Huffman codes. All are
// computed at compile time, so every encoder in every thread shares them.
#pragma once

#include <array>
#include <cstdint>

namespace deflate_internal {

constexpr int kLengthCodes = 29;                // length symbols 257..285
constexpr int kLiterals = 256;                  // literal symbols 0..255
constexpr int kEndBlock = 256;                  // end-of-block symbol
constexpr int kLitSymbols = 286;                // literal/length alphabet
constexpr int kDistSymbols = 30;                // distance alphabet
constexpr int kClSymbols = 19;                  // code-length alphabet
constexpr int kMaxBits = 15;                    // longest literal/length or distance code
constexpr int kMaxClBits = 7;                   // longest code-length code
constexpr int kHeapSize = 2 * kLitSymbols + 1;  // 573 nodes: leaves plus internal nodes
constexpr int kFixedLitSymbols = 288;

constexpr int kRep3To6 = 16;      // repeat the previous length 3..6 times (2 extra bits)
constexpr int kRepz3To10 = 17;    // repeat a zero length 3..10 times (3 extra bits)
constexpr int kRepz11To138 = 18;  // repeat a zero length 11..138 times (7 extra bits)

constexpr std::array<uint8_t, kLengthCodes> kExtraLenBits = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint8_t, kDistSymbols> kExtraDistBits = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                              4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                              9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<uint8_t, kClSymbols> kExtraClBits = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                          0, 0, 0, 0, 0, 0, 2, 3, 7};
// The order in which the code-length code lengths are sent.
constexpr std::array<uint8_t, kClSymbols> kClOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                      11, 4,  12, 3, 13, 2, 14, 1, 15};

// The low n bits of code in reverse order (n = 1..15).
constexpr unsigned reverse_bits(unsigned code, int n) {
  unsigned result = 0;
  do {
    result |= code & 1;
    code >>= 1;
    result <<= 1;
  } while (--n > 0);
  return result >> 1;
}

// A code as the block writer sends it: already bit-reversed, and its length.
struct Code {
  uint16_t code;
  uint16_t len;
};

struct CodeTables {
  uint8_t len_code_of[256];          // match length - 3 -> length code 0..28
  uint8_t len_base[kLengthCodes];    // smallest length - 3 of each length code
  uint8_t dist_code_of[512];         // see d_code
  uint16_t dist_base[kDistSymbols];  // smallest distance - 1 of each distance code
  Code fixed_lit_tree[kFixedLitSymbols];
  Code fixed_dist_tree[kDistSymbols];
  bool length_cover_ok;  // length codes 0..27 cover exactly 256 lengths
  bool dist_cover_ok;    // distance codes 0..15 cover exactly 256 distances
  bool far_cover_ok;     // distance codes 16..29 fill the second half of dist_code_of
};

constexpr CodeTables MakeCodeTables() {
  CodeTables t{};
  int length = 0;
  for (int code = 0; code < kLengthCodes - 1; ++code) {
    t.len_base[code] = static_cast<uint8_t>(length);
    for (int n = 0; n < (1 << kExtraLenBits[code]); ++n) {
      t.len_code_of[length++] = static_cast<uint8_t>(code);
    }
  }
  t.length_cover_ok = length == 256;
  // Length 258 has a code of its own; 3 + 255 is also reached by code 27.
  t.len_code_of[255] = kLengthCodes - 1;
  t.len_base[kLengthCodes - 1] = 255;

  int dist = 0;
  for (int code = 0; code < 16; ++code) {
    t.dist_base[code] = static_cast<uint16_t>(dist);
    for (int n = 0; n < (1 << kExtraDistBits[code]); ++n) {
      t.dist_code_of[dist++] = static_cast<uint8_t>(code);
    }
  }
  t.dist_cover_ok = dist == 256;
  dist >>= 7;
  for (int code = 16; code < kDistSymbols; ++code) {
    t.dist_base[code] = static_cast<uint16_t>(dist << 7);
    for (int n = 0; n < (1 << (kExtraDistBits[code] - 7)); ++n) {
      t.dist_code_of[256 + dist++] = static_cast<uint8_t>(code);
    }
  }
  t.far_cover_ok = 256 + dist == 512;

  uint16_t len_counts[kMaxBits + 1] = {};
  for (int n = 0; n < kFixedLitSymbols; ++n) {
    const int len = n <= 143 ? 8 : n <= 255 ? 9 : n <= 279 ? 7 : 8;
    t.fixed_lit_tree[n].len = static_cast<uint16_t>(len);
    ++len_counts[len];
  }
  uint16_t next_code[kMaxBits + 1] = {};
  unsigned code = 0;
  for (int bits = 1; bits <= kMaxBits; ++bits) {
    code = ((code + len_counts[bits - 1]) << 1) & 0xFFFF;
    next_code[bits] = static_cast<uint16_t>(code);
  }
  for (int n = 0; n < kFixedLitSymbols; ++n) {
    const int len = t.fixed_lit_tree[n].len;
    t.fixed_lit_tree[n].code = static_cast<uint16_t>(reverse_bits(next_code[len]++, len));
  }
  for (int n = 0; n < kDistSymbols; ++n) {
    t.fixed_dist_tree[n] = Code{static_cast<uint16_t>(reverse_bits(n, 5)), 5};
  }
  return t;
}

inline constexpr CodeTables kTables = MakeCodeTables();

static_assert(kTables.length_cover_ok, "ct_init: length <> 256");
static_assert(kTables.dist_cover_ok, "ct_init: dist <> 256");
static_assert(kTables.far_cover_ok, "ct_init: 256+dist <> 512");

// The distance code of a distance minus 1 (0..32,767). The table index is
// chosen before the one load, which compiles to a conditional move: near and
// far distances alternate too unpredictably for a branch.
inline unsigned d_code(unsigned dist) {
  const unsigned far = 256 + (dist >> 7);
  return kTables.dist_code_of[dist < 256 ? dist : far];
}

}  // namespace deflate_internal
