// Dynamic Huffman trees of one block: built from the symbol frequencies with a
// heap, limited in code length, costed into opt_bits and fixed_bits, and
// described in the block header as run-length coded code lengths.
#pragma once

#include "EncoderState.h"

namespace deflate_internal {

// Builds the tree of desc from its frequencies: code lengths, codes,
// top_symbol, and the block's costs.
void build_code_tree(EncoderState& s, TreeParams& desc);

// Counts the code-length symbols that describe the literal/length and distance
// trees, builds the code-length tree, adds the header cost to opt_bits and
// returns the index in the send order of the last code-length code to send.
int build_cl_tree(EncoderState& s);

// Writes a dynamic block's tree description.
void send_all_trees(EncoderState& s, int lcodes, int dcodes, int blcodes);

}  // namespace deflate_internal
