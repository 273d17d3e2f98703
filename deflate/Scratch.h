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

// A record with the chain's eighth position after it (0 = none), for levels
// 6 to 9: the record of the eighth can be loaded together with that of the
// fourth, so a long walk waits once per eight candidates, and the eighth's
// own jump comes in the same load as its record.
struct JumpRecord {
  uint16_t next[4];
  uint16_t jump;
};

// Both indexed by window position modulo 32,768; a run uses one of them.
struct EncoderScratch {
  ChainRecord chains[32768];
  JumpRecord jump_chains[32768];
};

// The calling thread's scratch, cleared when first made. Nothing in it needs
// clearing between entries: a record is only read after this entry wrote it.
EncoderScratch& ThreadScratch();

}  // namespace deflate_internal
