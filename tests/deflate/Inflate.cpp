// Raw deflate decoding after RFC 1951: canonical Huffman codes decoded a bit
// at a time, which is slow but short enough to trust. Stricter than the
// format requires where our encoder promises more: padding bits must be zero
// and nothing may follow the final block.
#include "Inflate.h"

#include <array>
#include <string>

namespace inflate {
namespace {

constexpr int kMaxBits = 15;

constexpr std::array<uint16_t, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                  15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                  67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint16_t, 30> kDistBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<uint8_t, 30> kDistExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<uint8_t, 19> kClOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                              11, 4,  12, 3, 13, 2, 14, 1, 15};

class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  unsigned Bit() {
    if (pos_ >= size_ * 8) throw Error("stream ends early");
    const unsigned bit = (data_[pos_ >> 3] >> (pos_ & 7)) & 1;
    ++pos_;
    return bit;
  }
  // n bits, the first read as the least significant.
  unsigned Bits(int n) {
    unsigned value = 0;
    for (int i = 0; i < n; ++i) value |= Bit() << i;
    return value;
  }
  void AlignToByte() {
    while ((pos_ & 7) != 0) {
      if (Bit() != 0) throw Error("nonzero padding bits");
    }
  }
  uint64_t Position() const { return pos_; }
  const uint8_t* BytePointer() const { return data_ + (pos_ >> 3); }
  size_t BytesLeft() const { return size_ - static_cast<size_t>(pos_ >> 3); }
  void SkipBytes(size_t n) { pos_ += 8 * static_cast<uint64_t>(n); }

 private:
  const uint8_t* data_;
  size_t size_;
  uint64_t pos_ = 0;
};

// A canonical Huffman code from its code lengths.
class Huffman {
 public:
  // Throws when the lengths over-subscribe the code space.
  explicit Huffman(const std::vector<uint8_t>& lengths) {
    for (uint8_t len : lengths) ++counts_[len];
    counts_[0] = 0;
    int left = 1;
    for (int len = 1; len <= kMaxBits; ++len) {
      left <<= 1;
      left -= counts_[len];
      if (left < 0) throw Error("over-subscribed code lengths");
    }
    complete_ = left == 0;
    empty_ = left == (1 << kMaxBits);
    std::array<int, kMaxBits + 2> offset{};
    for (int len = 1; len <= kMaxBits; ++len) offset[len + 1] = offset[len] + counts_[len];
    symbols_.resize(lengths.size());
    for (size_t n = 0; n < lengths.size(); ++n) {
      if (lengths[n] != 0) symbols_[offset[lengths[n]]++] = static_cast<uint16_t>(n);
    }
  }

  int Decode(BitReader& in) const {
    if (empty_) throw Error("symbol from an empty code");
    int code = 0;   // the bits read so far, first bit most significant
    int first = 0;  // first code of the current length
    int index = 0;  // its place in symbols_
    for (int len = 1; len <= kMaxBits; ++len) {
      code |= static_cast<int>(in.Bit());
      const int count = counts_[len];
      if (code - first < count) return symbols_[index + code - first];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    throw Error("invalid code");
  }

  bool Complete() const { return complete_; }

 private:
  std::array<int, kMaxBits + 1> counts_{};
  std::vector<uint16_t> symbols_;
  bool complete_ = false;
  bool empty_ = false;
};

void DecodeSymbols(BitReader& in, const Huffman& lit, const Huffman& dist, Result& result,
                   Block& block, bool record) {
  for (;;) {
    const int symbol = lit.Decode(in);
    if (symbol < 256) {
      result.data.push_back(static_cast<uint8_t>(symbol));
      if (record) block.symbols.push_back(Symbol{0, 0, static_cast<uint8_t>(symbol)});
      continue;
    }
    if (symbol == 256) return;
    if (symbol > 285) throw Error("invalid length symbol " + std::to_string(symbol));
    const int lcode = symbol - 257;
    const unsigned length = kLengthBase[lcode] + in.Bits(kLengthExtra[lcode]);
    const int dcode = dist.Decode(in);
    if (dcode > 29) throw Error("invalid distance symbol " + std::to_string(dcode));
    const unsigned distance = kDistBase[dcode] + in.Bits(kDistExtra[dcode]);
    if (distance > result.data.size()) throw Error("distance reaches before the data");
    const size_t from = result.data.size() - distance;
    for (unsigned i = 0; i < length; ++i) result.data.push_back(result.data[from + i]);
    if (record) {
      block.symbols.push_back(
          Symbol{static_cast<uint16_t>(length), static_cast<uint16_t>(distance), 0});
    }
  }
}

void ReadDynamicHeader(BitReader& in, Block& block, std::vector<uint8_t>& lit_lengths,
                       std::vector<uint8_t>& dist_lengths) {
  block.hlit = static_cast<int>(in.Bits(5)) + 257;
  block.hdist = static_cast<int>(in.Bits(5)) + 1;
  block.hclen = static_cast<int>(in.Bits(4)) + 4;
  if (block.hlit > 286 || block.hdist > 30) throw Error("too many codes");
  block.cl_lengths.assign(19, 0);
  for (int i = 0; i < block.hclen; ++i) {
    block.cl_lengths[kClOrder[i]] = static_cast<uint8_t>(in.Bits(3));
  }
  const Huffman cl(block.cl_lengths);
  if (!cl.Complete()) block.complete_codes = false;

  block.cl_counts.assign(19, 0);
  std::vector<uint8_t> lengths;
  const size_t total = static_cast<size_t>(block.hlit + block.hdist);
  while (lengths.size() < total) {
    const int symbol = cl.Decode(in);
    ++block.cl_counts[symbol];
    if (symbol < 16) {
      lengths.push_back(static_cast<uint8_t>(symbol));
      continue;
    }
    uint8_t value = 0;
    unsigned repeat = 0;
    if (symbol == 16) {
      if (lengths.empty()) throw Error("repeat without a previous length");
      value = lengths.back();
      repeat = 3 + in.Bits(2);
    } else if (symbol == 17) {
      repeat = 3 + in.Bits(3);
    } else {
      repeat = 11 + in.Bits(7);
    }
    if (lengths.size() + repeat > total) throw Error("code lengths overrun");
    lengths.insert(lengths.end(), repeat, value);
  }
  lit_lengths.assign(lengths.begin(), lengths.begin() + block.hlit);
  dist_lengths.assign(lengths.begin() + block.hlit, lengths.end());
  if (lit_lengths[256] == 0) throw Error("no end-of-block code");
  block.lit_lengths = lit_lengths;
  block.dist_lengths = dist_lengths;
}

}  // namespace

CodeInfo LengthCodeOf(unsigned length) {
  int code = 28;
  while (kLengthBase[code] > length) --code;
  return CodeInfo{257 + code, kLengthExtra[code]};
}

CodeInfo DistanceCodeOf(unsigned distance) {
  int code = 29;
  while (kDistBase[code] > distance) --code;
  return CodeInfo{code, kDistExtra[code]};
}

int FixedLitLength(int symbol) {
  return symbol <= 143 ? 8 : symbol <= 255 ? 9 : symbol <= 279 ? 7 : 8;
}

Result Inflate(const uint8_t* data, size_t size, bool record) {
  Result result;
  BitReader in(data, size);
  std::vector<uint8_t> fixed_lit(288);
  for (int n = 0; n < 288; ++n) fixed_lit[n] = static_cast<uint8_t>(FixedLitLength(n));
  const Huffman fixed_lit_code(fixed_lit);
  const Huffman fixed_dist_code(std::vector<uint8_t>(30, kFixedDistLength));

  bool final = false;
  while (!final) {
    Block block{};
    block.bit_begin = in.Position();
    block.out_begin = result.data.size();
    final = in.Bit() != 0;
    block.final = final;
    const unsigned type = in.Bits(2);
    if (type == 0) {
      block.type = BlockType::kStored;
      in.AlignToByte();
      const unsigned len = in.Bits(16);
      const unsigned nlen = in.Bits(16);
      if ((len ^ 0xFFFF) != nlen) throw Error("stored length check fails");
      if (in.BytesLeft() < len) throw Error("stream ends early");
      result.data.insert(result.data.end(), in.BytePointer(), in.BytePointer() + len);
      in.SkipBytes(len);
    } else if (type == 1) {
      block.type = BlockType::kFixed;
      DecodeSymbols(in, fixed_lit_code, fixed_dist_code, result, block, record);
    } else if (type == 2) {
      block.type = BlockType::kDynamic;
      std::vector<uint8_t> lit_lengths;
      std::vector<uint8_t> dist_lengths;
      ReadDynamicHeader(in, block, lit_lengths, dist_lengths);
      const Huffman lit(lit_lengths);
      const Huffman dist(dist_lengths);
      if (!lit.Complete() || !dist.Complete()) block.complete_codes = false;
      DecodeSymbols(in, lit, dist, result, block, record);
    } else {
      throw Error("reserved block type");
    }
    block.bit_end = in.Position();
    block.out_end = result.data.size();
    result.blocks.push_back(std::move(block));
  }
  result.bits_used = in.Position();
  in.AlignToByte();
  if (in.BytesLeft() != 0) throw Error("bytes after the final block");
  return result;
}

}  // namespace inflate
