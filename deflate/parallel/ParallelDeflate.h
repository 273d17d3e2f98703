// Deflating one entry with several threads parsing at once, byte for byte
// the stream of the single-threaded encoder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Deflate.h"
#include "EncoderState.h"

namespace deflate_internal {

// The input a parsing thread takes at a time unless told otherwise.
inline constexpr size_t kDefaultSegment = size_t{1} << 20;

struct EngineMemory;

// Compresses the entry whose run state s is set up (block coder initialised,
// nothing read yet) with `threads` threads parsing segments of about
// segment_bytes (0: the default), and returns its compressed size. Reads and
// writes happen on the calling thread only, with the same sizes and in the
// same order as the single-threaded encoder's. Its buffers come from memory,
// which keeps them for the next entry.
uint64_t deflate_parallel(EncoderState& s, EngineMemory& memory, unsigned threads,
                          size_t segment_bytes);

}  // namespace deflate_internal
