// Tree construction. Ties between equal frequencies go to the shallower
// subtree, the length limit is met by moving codes down from the longest
// level, and codes are canonical: the exact code lengths are part of the
// format we promise, not just any valid tree.
#include "TreeBuilder.h"

#include "BitWriter.h"
#include "Checks.h"

namespace deflate_internal {
namespace {

// A heap entry: a node's frequency and depth, which order the heap, above the
// node's number. Node a goes before node b when a's frequency is lower, or
// equal with a depth no greater; as one number, frequency * 256 + depth, that
// is key(a) <= key(b). Packing it with the node saves the look-ups of
// frequency and depth in every comparison; the order is the same.
using HeapEntry = uint64_t;

inline HeapEntry heap_entry(unsigned freq, unsigned depth, int node) {
  return (static_cast<uint64_t>(freq) << 24) | (depth << 16) | static_cast<unsigned>(node);
}
inline uint64_t key_of(HeapEntry e) {
  return e >> 16;
}
inline int node_of(HeapEntry e) {
  return static_cast<int>(e & 0xFFFF);
}
inline unsigned freq_of(HeapEntry e) {
  return static_cast<unsigned>(e >> 24);
}
inline unsigned depth_of(HeapEntry e) {
  return static_cast<unsigned>(e >> 16) & 0xFF;
}

// Restores the heap order below place k of heap[1..len].
void sift_down(HeapEntry* heap, int len, int k) {
  const HeapEntry v = heap[k];
  int j = k << 1;
  while (j <= len) {
    if (j < len && key_of(heap[j + 1]) <= key_of(heap[j])) ++j;
    if (key_of(v) <= key_of(heap[j])) break;
    heap[k] = heap[j];
    k = j;
    j <<= 1;
  }
  heap[k] = v;
}

// Gives every node its code length from the depths of the built tree, cuts
// lengths to the limit and repairs the code if any was cut, and adds the
// symbols' costs to opt_bits and fixed_bits.
void assign_lengths(EncoderState& s, const TreeParams& desc) {
  TreeNode* tree = desc.tree;
  const int top = desc.top_symbol;
  const int limit = desc.max_length;
  for (auto& count : s.len_counts) count = 0;

  tree[s.heap[s.heap_max]].dl = 0;  // the root
  int overflow = 0;
  for (int h = s.heap_max + 1; h < kHeapSize; ++h) {
    const int n = s.heap[h];
    int bits = tree[tree[n].dl].dl + 1;
    if (bits > limit) {
      bits = limit;
      ++overflow;
    }
    tree[n].dl = static_cast<uint16_t>(bits);
    if (n > top) continue;  // an internal node
    ++s.len_counts[bits];
    const int xbits = n >= desc.extra_base ? desc.extra_bits[n - desc.extra_base] : 0;
    const int freq = tree[n].fc;
    s.opt_bits += freq * (bits + xbits);
    if (desc.fixed_tree != nullptr) s.fixed_bits += freq * (desc.fixed_tree[n].len + xbits);
  }
  // Without an overflow the tree's own lengths stand as they are.
  if (overflow == 0) return;

  // Each round moves one leaf from the longest level up beside a leaf of a
  // shorter level, which makes room for two leaves cut to the limit.
  do {
    int bits = limit - 1;
    while (s.len_counts[bits] == 0) --bits;
    --s.len_counts[bits];
    s.len_counts[bits + 1] += 2;
    --s.len_counts[limit];
    overflow -= 2;
  } while (overflow > 0);

  // Hand the lengths out again, longest first, to the leaves in the order
  // they left the heap (least frequent first).
  int h = kHeapSize;
  for (int bits = limit; bits != 0; --bits) {
    int count = s.len_counts[bits];
    while (count != 0) {
      const int m = s.heap[--h];
      if (m > top) continue;
      if (tree[m].dl != bits) {
        s.opt_bits += (bits - tree[m].dl) * tree[m].fc;
        tree[m].dl = static_cast<uint16_t>(bits);
      }
      --count;
    }
  }
}

// Canonical codes for symbols 0..top from their lengths and len_counts.
void gencodes(EncoderState& s, TreeNode* tree, int top) {
  uint16_t next_code[kMaxBits + 1];
  unsigned code = 0;
  for (int bits = 1; bits <= kMaxBits; ++bits) {
    code = ((code + s.len_counts[bits - 1]) << 1) & 0xFFFF;
    next_code[bits] = static_cast<uint16_t>(code);
  }
  DEFLATE_CHECK(code + s.len_counts[kMaxBits] - 1 == (1u << kMaxBits) - 1,
                "inconsistent bit counts-gencodes");
  for (int n = 0; n <= top; ++n) {
    const int len = tree[n].dl;
    if (len == 0) continue;
    tree[n].fc = static_cast<uint16_t>(reverse_bits(next_code[len]++, len));
  }
}

// The run-length description of a tree's code lengths, shared by the counting
// pass (scan_runs) and the writing pass (send_tree) so both walk the same runs.
template <typename Emit>
void walk_runs(const TreeNode* tree, int top, Emit emit) {
  int prevlen = -1;
  int nextlen = tree[0].dl;
  int count = 0;
  int max_count = 7;
  int min_count = 4;
  if (nextlen == 0) {
    max_count = 138;
    min_count = 3;
  }
  for (int n = 0; n <= top; ++n) {
    const int curlen = nextlen;
    nextlen = tree[n + 1].dl;
    if (++count < max_count && curlen == nextlen) continue;
    if (count < min_count) {
      emit(curlen, count, 0);
    } else if (curlen != 0) {
      if (curlen != prevlen) {
        emit(curlen, 1, 0);
        --count;
      }
      DEFLATE_CHECK(count >= 3 && count <= 6, " 3_6? - send_tree");
      emit(kRep3To6, 1, count - 3);
    } else if (count <= 10) {
      emit(kRepz3To10, 1, count - 3);
    } else {
      emit(kRepz11To138, 1, count - 11);
    }
    count = 0;
    prevlen = curlen;
    if (nextlen == 0) {
      max_count = 138;
      min_count = 3;
    } else if (curlen == nextlen) {
      max_count = 6;
      min_count = 3;
    } else {
      max_count = 7;
      min_count = 4;
    }
  }
}

// Counts the code-length symbols of a tree; also plants the end guard that
// send_tree relies on.
void scan_runs(EncoderState& s, TreeNode* tree, int top) {
  tree[top + 1].dl = 0xFFFF;
  walk_runs(tree, top, [&s](int symbol, int times, int) {
    s.cl_tree[symbol].fc = static_cast<uint16_t>(s.cl_tree[symbol].fc + times);
  });
}

void send_tree(EncoderState& s, const TreeNode* tree, int top) {
  walk_runs(tree, top, [&s](int symbol, int times, int extra) {
    const TreeNode& code = s.cl_tree[symbol];
    for (int i = 0; i < times; ++i) send_bits(s, code.fc, code.dl);
    if (symbol >= kRep3To6) send_bits(s, extra, kExtraClBits[symbol]);
  });
}

}  // namespace

void build_code_tree(EncoderState& s, TreeParams& desc) {
  TreeNode* tree = desc.tree;
  const int elems = desc.elems;
  int top = -1;
  HeapEntry heap[kHeapSize];
  int heap_len = 0;
  s.heap_max = kHeapSize;
  for (int n = 0; n < elems; ++n) {
    if (tree[n].fc != 0) {
      heap[++heap_len] = heap_entry(tree[n].fc, 0, n);
      top = n;
    } else {
      tree[n].dl = 0;
    }
  }
  // Deflate needs at least two codes per tree so that every code has a bit;
  // the padding symbols are costed out again since they are never sent.
  while (heap_len < 2) {
    const int n = top < 2 ? ++top : 0;
    tree[n].fc = 1;
    heap[++heap_len] = heap_entry(1, 0, n);
    --s.opt_bits;
    if (desc.fixed_tree != nullptr) s.fixed_bits -= desc.fixed_tree[n].len;
  }
  desc.top_symbol = top;
  for (int k = heap_len / 2; k >= 1; --k) sift_down(heap, heap_len, k);

  // The nodes leave the heap into s.heap, which fills down from its top.
  int node = elems;
  while (heap_len >= 2) {
    const HeapEntry n = heap[1];
    heap[1] = heap[heap_len--];
    sift_down(heap, heap_len, 1);
    const HeapEntry m = heap[1];
    s.heap[--s.heap_max] = node_of(n);
    s.heap[--s.heap_max] = node_of(m);
    const auto freq = static_cast<uint16_t>(freq_of(n) + freq_of(m));
    const unsigned deeper = depth_of(n) >= depth_of(m) ? depth_of(n) : depth_of(m);
    tree[node].fc = freq;
    tree[node_of(n)].dl = tree[node_of(m)].dl = static_cast<uint16_t>(node);
    heap[1] = heap_entry(freq, (deeper + 1) & 0xFF, node);  // depth is kept in a byte
    ++node;
    sift_down(heap, heap_len, 1);
  }
  s.heap[--s.heap_max] = node_of(heap[1]);

  assign_lengths(s, desc);
  gencodes(s, tree, top);
}

int build_cl_tree(EncoderState& s) {
  scan_runs(s, s.lit_tree, s.lit_desc.top_symbol);
  scan_runs(s, s.dist_tree, s.dist_desc.top_symbol);
  build_code_tree(s, s.cl_desc);
  int index = kClSymbols - 1;
  while (index > 3 && s.cl_tree[kClOrder[index]].dl == 0) --index;
  // The 3-bit code-length code lengths plus HLIT, HDIST and HCLEN.
  s.opt_bits += 3 * (index + 1) + 5 + 5 + 4;
  return index;
}

void send_all_trees(EncoderState& s, int lcodes, int dcodes, int blcodes) {
  DEFLATE_CHECK(lcodes >= 257 && dcodes >= 1 && blcodes >= 4, "not enough codes-send_all_trees");
  DEFLATE_CHECK(lcodes <= kLitSymbols && dcodes <= kDistSymbols && blcodes <= kClSymbols,
                "too many codes-send_all_trees");
  send_bits(s, lcodes - 257, 5);
  send_bits(s, dcodes - 1, 5);
  send_bits(s, blcodes - 4, 4);
  for (int rank = 0; rank < blcodes; ++rank) send_bits(s, s.cl_tree[kClOrder[rank]].dl, 3);
  send_tree(s, s.lit_tree, lcodes - 1);
  send_tree(s, s.dist_tree, dcodes - 1);
}

}  // namespace deflate_internal
