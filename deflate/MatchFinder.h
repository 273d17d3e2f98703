// The match finder and the two parsing loops: input flows through ReadInput
// into the sliding window (Window.h), repeated strings are found through
// hash chains (ChainWalk.h), and the greedy or lazy loop hands literals and
// matches to the block coder.
#pragma once

#include <cstdint>

#include "EncoderState.h"
#include "Window.h"

namespace deflate_internal {

// Clears the hash heads, loads the level row, sets the level's option bits,
// reads the first input and primes the rolling hash.
void start_matching(EncoderState& s);

// Compresses the rest of the entry with the loop its level's row names, and
// returns its compressed size.
uint64_t parse(EncoderState& s);

}  // namespace deflate_internal
