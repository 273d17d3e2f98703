// Work memory of the encoder's own, beside the writer's buffers: the hash
// chains as records of four successors. Each thread that compresses gets one
// set on its first entry and keeps it, so no entry allocates anything.
#pragma once

#include <cstdint>

namespace deflate_internal {

// The next four positions of a position's hash chain (0 = none), as they were
// when the position was inserted. Walking a chain then waits for one load per
// four candidates instead of one per candidate; a record is one aligned 8-byte
// word, so it never straddles cache lines.
struct alignas(8) ChainRecord {
  uint16_t next[4];
};

// Both indexed by window position modulo 32,768.
struct EncoderScratch {
  ChainRecord chains[32768];
  // The eighth position of each position's chain (0 = none), for levels 6
  // to 9: its record can be loaded together with that of the fourth, so a
  // long walk waits once per eight candidates.
  uint16_t jumps[32768];
};

// The calling thread's scratch, cleared when first made. Nothing in it needs
// clearing between entries: a record is only read after this entry wrote it.
EncoderScratch& ThreadScratch();

}  // namespace deflate_internal
