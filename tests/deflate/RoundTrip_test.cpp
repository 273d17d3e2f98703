// Every level over inputs of every kind: the entry decodes to its input, the
// header fields are right, and the decoded stream keeps the encoder's rules
// (distance limits, block ends, block choice, code lengths).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <numeric>
#include <queue>
#include <string>

#include "DeflateTestSupport.h"
#include "Inflate.h"

namespace {

using deflate_test::Bytes;
using deflate_test::Compressed;

constexpr unsigned kMaxDistance = 32506;
constexpr size_t kNoSlideInput = 65274;  // inputs up to this never leave the window

uint16_t ExpectedFlags(int level) {
  return level <= 2 ? 4 : level >= 8 ? 2 : 0;
}

// Cost in bits of an optimal prefix code for the given frequencies (no limit).
uint64_t OptimalCost(const std::vector<uint64_t>& freqs) {
  std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<>> heap;
  for (uint64_t f : freqs) {
    if (f != 0) heap.push(f);
  }
  uint64_t cost = 0;
  while (heap.size() > 1) {
    const uint64_t a = heap.top();
    heap.pop();
    const uint64_t b = heap.top();
    heap.pop();
    cost += a + b;
    heap.push(a + b);
  }
  return cost;
}

// Checks one dynamic tree's code lengths against its symbol frequencies.
enum class LastSent { kHasCode, kAny };

void CheckTree(const std::string& what, const std::vector<uint64_t>& freqs,
               const std::vector<uint8_t>& lengths, int limit, LastSent last = LastSent::kHasCode) {
  SCOPED_TRACE(what);
  std::vector<int> used;
  for (size_t n = 0; n < freqs.size(); ++n) {
    if (freqs[n] != 0) used.push_back(static_cast<int>(n));
  }
  // The header sends lengths up to the last symbol with a code.
  ASSERT_FALSE(lengths.empty());
  if (last == LastSent::kHasCode) {
    EXPECT_NE(lengths.back(), 0);
  }
  if (used.size() < 2) {
    // Padded to exactly two one-bit codes: symbols 0 and 1 when nothing or
    // one of them is used, otherwise the used symbol and 0 (or 2 for 1).
    std::vector<int> coded;
    for (size_t n = 0; n < lengths.size(); ++n) {
      if (lengths[n] != 0) {
        EXPECT_EQ(lengths[n], 1);
        coded.push_back(static_cast<int>(n));
      }
    }
    std::vector<int> expected;
    if (used.empty() || used[0] == 0) {
      expected = {0, 1};
    } else if (used[0] == 1) {
      expected = {1, 2};
    } else {
      expected = {0, used[0]};
    }
    EXPECT_EQ(coded, expected);
    return;
  }
  uint64_t cost = 0;
  int longest = 0;
  for (size_t n = 0; n < lengths.size(); ++n) {
    const uint64_t f = n < freqs.size() ? freqs[n] : 0;
    if (f == 0) {
      EXPECT_EQ(lengths[n], 0) << "unused symbol " << n << " has a code";
    } else {
      ASSERT_NE(lengths[n], 0) << "used symbol " << n << " has no code";
    }
    cost += f * lengths[n];
    longest = std::max<int>(longest, lengths[n]);
  }
  EXPECT_LE(longest, limit);
  if (longest < limit) {
    EXPECT_EQ(cost, OptimalCost(freqs)) << "code is not optimal";
  } else {
    EXPECT_GE(cost, OptimalCost(freqs));
  }
}

void CheckStream(const Bytes& input, int level, const Compressed& c) {
  EXPECT_EQ(c.size, c.bytes.size());
  EXPECT_EQ(std::accumulate(c.write_sizes.begin(), c.write_sizes.end(), size_t{0}), c.bytes.size());
  EXPECT_EQ(c.flags, ExpectedFlags(level));
  ASSERT_TRUE(c.method == 0 || c.method == 8) << c.method;
  ASSERT_TRUE(c.internal == 0 || c.internal == 1) << c.internal;
  if (c.method == 0) {
    EXPECT_EQ(c.bytes, input);
    return;
  }
  inflate::Result r;
  try {
    r = inflate::Inflate(c.bytes);
  } catch (const inflate::Error& e) {
    FAIL() << "decoding failed: " << e.what();
  }
  ASSERT_EQ(r.data, input);
  ASSERT_FALSE(r.blocks.empty());

  bool all_coded = true;
  for (size_t b = 0; b < r.blocks.size(); ++b) {
    const inflate::Block& block = r.blocks[b];
    SCOPED_TRACE("block " + std::to_string(b));
    EXPECT_TRUE(block.complete_codes);
    const size_t stored_len = block.out_end - block.out_begin;
    if (block.type == inflate::BlockType::kStored) {
      all_coded = false;
      continue;
    }
    // Symbol counts, costs and the rules on distances.
    std::vector<uint64_t> lit_freq(286, 0);
    std::vector<uint64_t> dist_freq(30, 0);
    lit_freq[256] = 1;
    uint64_t fixed_bits = inflate::FixedLitLength(256);
    for (const inflate::Symbol& s : block.symbols) {
      if (s.length == 0) {
        ++lit_freq[s.literal];
        fixed_bits += inflate::FixedLitLength(s.literal);
        continue;
      }
      ASSERT_LE(s.distance, kMaxDistance);
      if (level >= 4) {
        EXPECT_FALSE(s.length == 3 && s.distance > 4096) << "far 3-byte match";
      }
      const auto lcode = inflate::LengthCodeOf(s.length);
      const auto dcode = inflate::DistanceCodeOf(s.distance);
      ++lit_freq[lcode.symbol];
      ++dist_freq[dcode.symbol];
      fixed_bits += inflate::FixedLitLength(lcode.symbol) + lcode.extra_bits +
                    inflate::kFixedDistLength + dcode.extra_bits;
    }
    const size_t count = block.symbols.size();
    EXPECT_LE(count, 32767u);
    if (!block.final) {
      if (level <= 2) {
        EXPECT_EQ(count, 32767u) << "blocks end only when full";
      } else {
        EXPECT_TRUE(count == 32767 || count % 4096 == 0) << count;
      }
    }
    const uint64_t fixed_bytes = (fixed_bits + 3 + 7) / 8;
    uint64_t best_bytes = fixed_bytes;
    if (block.type == inflate::BlockType::kDynamic) {
      const uint64_t opt_bytes = (block.bit_end - block.bit_begin + 7) / 8;
      EXPECT_GT(fixed_bytes, opt_bytes) << "a tie or a loss must go to the fixed codes";
      best_bytes = opt_bytes;
      CheckTree("literal/length tree", lit_freq, block.lit_lengths, 15);
      CheckTree("distance tree", dist_freq, block.dist_lengths, 15);
      std::vector<uint64_t> cl_freq(block.cl_counts.begin(), block.cl_counts.end());
      CheckTree("code-length tree", cl_freq, block.cl_lengths, 7, LastSent::kAny);
      // HCLEN covers up to the last code-length code in the send order.
      static const int kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                     11, 4,  12, 3, 13, 2, 14, 1, 15};
      if (block.hclen > 4) {
        EXPECT_NE(block.cl_lengths[kOrder[block.hclen - 1]], 0);
      }
    } else {
      EXPECT_EQ(block.bit_end - block.bit_begin, fixed_bits + 3);
    }
    if (input.size() <= kNoSlideInput) {
      // The block's input was still in the window: storing it did not pay.
      EXPECT_GT(stored_len + 4, best_bytes) << "a stored block would have been smaller";
      if (r.blocks.size() == 1) {
        EXPECT_GT(stored_len, best_bytes) << "should have been stored whole";
      }
    }
    if (b == 0) {
      uint64_t binary = 0;
      uint64_t ascii = 0;
      for (int n = 0; n < 256; ++n) (n >= 7 && n < 128 ? ascii : binary) += lit_freq[n];
      EXPECT_EQ(c.internal, binary > ascii / 4 ? 0 : 1) << "text or binary from the first block";
    }
  }
  if (all_coded) {
    // While blocks are coded the output leaves in whole 1,024-byte buffers.
    for (size_t i = 0; i + 1 < c.write_sizes.size(); ++i) EXPECT_EQ(c.write_sizes[i], 1024u);
  }
}

struct InputCase {
  const char* name;
  std::function<Bytes()> make;
};

const std::vector<InputCase>& Inputs() {
  static const std::vector<InputCase> inputs = {
      {"Empty", [] { return Bytes{}; }},
      {"OneByte", [] { return Bytes{'x'}; }},
      {"AbcAbc", [] { return Bytes{'a', 'b', 'c', 'a', 'b', 'c'}; }},
      {"Exactly32768", [] { return deflate_test::EnglishText(32768, 1); }},
      {"Bytes65537", [] { return deflate_test::MixedData(65537, 2); }},
      {"RunOfOneByte", [] { return Bytes(100000, 'a'); }},
      {"Random10000", [] { return deflate_test::RandomBytes(10000, 3); }},
      {"Random200K", [] { return deflate_test::RandomBytes(200000, 4); }},
      {"EnglishText", [] { return deflate_test::EnglishText(400000, 5); }},
      {"RealBinary", [] { return deflate_test::RealBinary(); }},
      {"GeneratedBinary", [] { return deflate_test::GeneratedBinary(150000, 6); }},
      {"LiteralsOnly", [] { return deflate_test::DeBruijn3(16); }},
      {"MixedMegabytes", [] { return deflate_test::MixedData(3 << 20, 7); }},
  };
  return inputs;
}

const Bytes& InputData(size_t index) {
  static std::map<size_t, Bytes> cache;
  auto it = cache.find(index);
  if (it == cache.end()) it = cache.emplace(index, Inputs()[index].make()).first;
  return it->second;
}

class DeflateRoundTrip : public ::testing::TestWithParam<std::tuple<int, size_t>> {};

TEST_P(DeflateRoundTrip, DecodesAndKeepsTheRules) {
  const auto [level, index] = GetParam();
  const Bytes& input = InputData(index);
  const Compressed c = deflate_test::Compress(input, level);
  CheckStream(input, level, c);
}

INSTANTIATE_TEST_SUITE_P(AllLevels, DeflateRoundTrip,
                         ::testing::Combine(::testing::Range(1, 10),
                                            ::testing::Range<size_t>(0, Inputs().size())),
                         [](const auto& test) {
                           return std::string(Inputs()[std::get<1>(test.param)].name) + "_Level" +
                                  std::to_string(std::get<0>(test.param));
                         });

}  // namespace
