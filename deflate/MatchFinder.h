// The match finder and the two parsing loops: input flows through ReadInput
// into the sliding window, repeated strings are found through hash chains,
// and the greedy or lazy loop hands literals and matches to the block coder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EncoderState.h"

namespace deflate_internal {

// Clears the hash heads, loads the level row, sets the level's option bits,
// reads the first input and primes the rolling hash.
void start_matching(EncoderState& s);

// Compresses the rest of the entry with the loop its level's row names, and
// returns its compressed size.
uint64_t parse(EncoderState& s);

// Applies the window's move down by 32,768 bytes to a table of 16-bit
// positions, bytes long: each position v becomes v - 32,768, and those that
// leave the window (below 32,768) become 0, "none".
void slide_positions(void* table, size_t bytes);

}  // namespace deflate_internal
