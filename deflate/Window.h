// The match finder's sliding window: the entry's input is read through
// ReadInput into 64 KiB of window behind the bytes not yet parsed, and once
// the parse has passed 65,274 the upper half moves down and every position
// the hash chains hold moves with it. The parse's set-up and loops
// (MatchFinder.h, ParseSteps.h) and the parallel runs use it alike.
#pragma once

#include <cstddef>
#include <cstdint>

#include "EncoderState.h"

namespace deflate_internal {

// Reads input into the window; returns the count as the encoder takes it. A
// host that claims more than it was asked for is not believed.
inline unsigned read_input(EncoderState& s, uint8_t* buffer, unsigned count) {
  const unsigned placed = s.host->ReadInput(buffer, count);
  const unsigned n = (placed < count ? placed : count) & 0xFFFF;
  s.bytes_read += n == 0xFFFF ? 0 : n;
  return n;
}

// Brings lookahead up to 262 bytes unless the input has ended, sliding the
// window once the position has passed 65,274 (also after the end of input).
void refill_window(EncoderState& s);

// Applies the window's move down by 32,768 bytes to a table of 16-bit
// positions, bytes long: each position v becomes v - 32,768, and those that
// leave the window (below 32,768) become 0, "none".
void slide_positions(void* table, size_t bytes);

}  // namespace deflate_internal
