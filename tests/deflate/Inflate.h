// A small, strict raw-deflate decoder for tests and fuzzing. Besides the data
// it records what each block was made of (type, symbols, code lengths, bit
// span) so tests can check properties of the encoder's choices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace inflate {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class BlockType { kStored = 0, kFixed = 1, kDynamic = 2 };

// One literal (length 0) or match of a coded block.
struct Symbol {
  uint16_t length;    // 0 for a literal, else 3..258
  uint16_t distance;  // 1..32768 for a match
  uint8_t literal;
};

struct Block {
  BlockType type;
  bool final;
  uint64_t bit_begin;  // position of the block's first header bit
  uint64_t bit_end;    // position just after its last bit (before any padding)
  size_t out_begin;    // the block's bytes in the decoded data
  size_t out_end;
  std::vector<Symbol> symbols;  // coded blocks, without the end-of-block symbol
  // Dynamic blocks: counts from the header and the code lengths it sent.
  int hlit = 0;
  int hdist = 0;
  int hclen = 0;
  std::vector<uint8_t> lit_lengths;   // hlit entries
  std::vector<uint8_t> dist_lengths;  // hdist entries
  std::vector<uint8_t> cl_lengths;    // 19 entries, by symbol
  std::vector<uint32_t> cl_counts;    // 19 entries: how often each code-length symbol came
  bool complete_codes = true;         // every code set of the block is complete
};

struct Result {
  std::vector<uint8_t> data;
  std::vector<Block> blocks;
  uint64_t bits_used = 0;  // up to the end of the final block
};

// Decodes a whole raw deflate stream; throws Error on any malformed input,
// on a stream that ends early, and on bytes left after the final block.
// With record false, symbols are not kept (blocks still are).
Result Inflate(const uint8_t* data, size_t size, bool record = true);

inline Result Inflate(const std::vector<uint8_t>& data, bool record = true) {
  return Inflate(data.data(), data.size(), record);
}

// The symbol that codes a match length (257..285) or distance (0..29), and
// how many extra bits follow it.
struct CodeInfo {
  int symbol;
  int extra_bits;
};
CodeInfo LengthCodeOf(unsigned length);
CodeInfo DistanceCodeOf(unsigned distance);
// Length of a literal/length symbol's fixed code.
int FixedLitLength(int symbol);
constexpr int kFixedDistLength = 5;

// The symbol that starts at input position pos, if one does.
inline const Symbol* SymbolAt(const std::vector<Symbol>& symbols, size_t pos) {
  size_t at = 0;
  for (const auto& s : symbols) {
    if (at == pos) return &s;
    at += s.length == 0 ? 1 : s.length;
  }
  return nullptr;
}

}  // namespace inflate
