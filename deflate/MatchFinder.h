// The match finder and the two parsing loops: input flows through ReadInput
// into the sliding window, repeated strings are found through hash chains,
// and the greedy or lazy loop hands literals and matches to the block coder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "EncoderState.h"
#include "ParseRun.h"

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

// Parsing for the parallel encoder, a stretch at a time.

// Sets up s, whose host serves the input from offset start on, for a run
// from start: a fresh parse, after inserting the first insert_only positions
// into the hash chains without parsing them (so that the parse proper starts
// at start + insert_only with the chains it would have had).
void start_run(EncoderState& s, uint64_t start, unsigned insert_only);

// Parses from s's position until control ends the run. The input must last
// 262 bytes beyond every turn the run makes.
void run_parse(EncoderState& s, RunControl& control);

// Gives s's chains the positions [from, to) of the window, less those in the
// sorted skip spans (input offsets), as a parse that inserted them would
// have; the head table must be clear. Sets the rolling key for position to.
void rebuild_chains(EncoderState& s, unsigned from, unsigned to,
                    const std::vector<SkipSpan>& skips);

}  // namespace deflate_internal
