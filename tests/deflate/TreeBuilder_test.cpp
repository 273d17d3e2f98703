// The tree builder on frequencies no ordinary block produces: skewed enough
// to overflow the length limit, and too few symbols for a tree.
#include "TreeBuilder.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "BlockCoder.h"
#include "EncoderState.h"

namespace {

using namespace deflate_internal;

std::unique_ptr<EncoderState> NewState() {
  auto s = std::make_unique<EncoderState>();
  ct_init(*s);
  return s;
}

unsigned Reversed(unsigned code, int len) {
  unsigned out = 0;
  for (int i = 0; i < len; ++i) out |= ((code >> i) & 1) << (len - 1 - i);
  return out;
}

// Lengths within the limit, a complete prefix code, and no symbol with a
// longer code than a less frequent one.
void ExpectSoundCode(const TreeNode* tree, const std::map<int, unsigned>& freqs, int limit) {
  uint64_t kraft = 0;
  for (const auto& [n, f] : freqs) {
    const int len = tree[n].dl;
    ASSERT_GE(len, 1) << n;
    ASSERT_LE(len, limit) << n;
    kraft += uint64_t{1} << (kMaxBits - len);
    for (const auto& [m, g] : freqs) {
      if (g < f) {
        EXPECT_GE(tree[m].dl, len) << m << " vs " << n;
      }
      if (m == n) continue;
      // Codes are sent bit-reversed; compare them in tree order.
      const int mlen = tree[m].dl;
      if (mlen >= len) {
        EXPECT_NE(Reversed(tree[m].fc, mlen) >> (mlen - len), Reversed(tree[n].fc, len))
            << n << " is a prefix of " << m;
      }
    }
  }
  EXPECT_EQ(kraft, uint64_t{1} << kMaxBits) << "incomplete code";
}

TEST(DeflateTreeBuilder, SkewedFrequenciesAreCutToFifteenBits) {
  auto s = NewState();
  // With end-of-block's 1, Fibonacci frequencies would give codes 21 bits deep.
  std::map<int, unsigned> freqs{{256, 1}};
  unsigned a = 1, b = 2;
  for (int n = 0; n < 21; ++n) {
    freqs[n] = a;
    s->lit_tree[n].fc = static_cast<uint16_t>(a);
    const unsigned next = a + b;
    a = b;
    b = next;
  }
  build_code_tree(*s, s->lit_desc);
  ExpectSoundCode(s->lit_tree, freqs, 15);
  EXPECT_EQ(s->lit_desc.top_symbol, 256);
  int32_t cost = 0;
  int32_t fixed = 0;
  for (const auto& [n, f] : freqs) {
    cost += static_cast<int32_t>(f) * s->lit_tree[n].dl;
    fixed += static_cast<int32_t>(f) * kTables.fixed_lit_tree[n].len;
  }
  EXPECT_EQ(s->opt_bits, cost);
  EXPECT_EQ(s->fixed_bits, fixed);
  EXPECT_EQ(s->lit_tree[0].dl, 15);
}

TEST(DeflateTreeBuilder, CodeLengthCodesAreCutToSevenBits) {
  auto s = NewState();
  std::map<int, unsigned> freqs;
  unsigned a = 1, b = 2;
  for (int n = 0; n < kClSymbols; ++n) {
    freqs[n] = a;
    s->cl_tree[n].fc = static_cast<uint16_t>(a);
    const unsigned next = a + b;
    a = b;
    b = next;
  }
  build_code_tree(*s, s->cl_desc);
  ExpectSoundCode(s->cl_tree, freqs, 7);
}

TEST(DeflateTreeBuilder, TreesAreGivenTwoCodesAtLeast) {
  struct Case {
    std::map<int, unsigned> used;   // distance symbol -> frequency
    std::map<int, unsigned> coded;  // the codes expected, each one bit
  };
  const Case cases[] = {
      {{}, {{0, 1}, {1, 1}}},
      {{{0, 3}}, {{0, 3}, {1, 1}}},
      {{{1, 5}}, {{1, 5}, {2, 1}}},
      {{{7, 4}}, {{0, 1}, {7, 4}}},
  };
  for (const Case& c : cases) {
    auto s = NewState();
    for (const auto& [n, f] : c.used) s->dist_tree[n].fc = static_cast<uint16_t>(f);
    build_code_tree(*s, s->dist_desc);
    int top = -1;
    for (int n = 0; n < kDistSymbols; ++n) {
      const auto it = c.coded.find(n);
      EXPECT_EQ(s->dist_tree[n].dl, it == c.coded.end() ? 0 : 1) << n;
      if (it != c.coded.end()) top = n;
    }
    EXPECT_EQ(s->dist_desc.top_symbol, top);
    // The padding symbols are never sent, so they cost nothing.
    int32_t cost = 0;
    for (const auto& [n, f] : c.used) {
      cost += static_cast<int32_t>(f) * (1 + kExtraDistBits[n]);
    }
    EXPECT_EQ(s->opt_bits, cost);
    EXPECT_EQ(s->fixed_bits,
              cost + 4 * static_cast<int32_t>(c.used.empty() ? 0 : c.used.begin()->second));
  }
}

}  // namespace
