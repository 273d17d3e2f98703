// Shared by the encoder's tests and benchmarks: an in-memory host that
// records how the encoder called it, one-call compression, and generators of
// deterministic inputs of several kinds.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "Deflate.h"

namespace deflate_test {

using Bytes = std::vector<uint8_t>;

class MemoryHost : public DeflateHost {
 public:
  // Each read returns at most max_read bytes (the encoder then asks again).
  explicit MemoryHost(const Bytes& input, unsigned max_read = UINT_MAX)
      : input_(input), max_read_(max_read) {}

  unsigned ReadInput(uint8_t* buffer, unsigned count) override;
  void WriteOutput(const uint8_t* buffer, size_t item_size, size_t count) override;

  Bytes output;
  std::vector<unsigned> read_requests;  // the count of every ReadInput call
  std::vector<size_t> write_sizes;      // the byte count of every WriteOutput call
  int fail_on_read = -1;                // throw from this ReadInput call (0-based), if >= 0
  int fail_on_write = -1;               // throw from this WriteOutput call (0-based), if >= 0
  unsigned overstate = 0;               // added to every nonzero ReadInput answer
  int short_on_read = -1;               // this ReadInput call (0-based) places at most short_count
  unsigned short_count = 0;

 private:
  const Bytes& input_;
  size_t pos_ = 0;
  unsigned max_read_;
};

struct Compressed {
  Bytes bytes;
  uint16_t method = 8;
  uint16_t internal = 2;
  uint16_t flags = 0;
  uint64_t size = 0;
  std::vector<unsigned> read_requests;
  std::vector<size_t> write_sizes;
};

// Compresses input as one entry, with the given buffers or fresh ones.
Compressed Compress(const Bytes& input, int level, DeflateWorkBuffers* buffers = nullptr,
                    unsigned max_read = UINT_MAX, DeflateOptions options = {});

// Deterministic inputs.
Bytes RandomBytes(size_t n, uint64_t seed);
Bytes EnglishText(size_t n, uint64_t seed);
Bytes GeneratedBinary(size_t n, uint64_t seed);  // database-like pages of records
Bytes MixedData(size_t n, uint64_t seed);        // text, binary, noise and runs in turn
// A sequence over the first k letters in which no three-letter string repeats.
Bytes DeBruijn3(int k);
// A program binary of this system if one can be read, else generated binary.
Bytes RealBinary();

}  // namespace deflate_test
