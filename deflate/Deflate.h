// The deflate encoder's seam with the archive writer: the work buffers the
// writer owns, the two routines the encoder calls back, the header fields it
// sets, and the one entry point that compresses an entry into raw deflate data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// The next four positions of a position's hash chain (0 = none), as they were
// when the position was inserted. Walking a chain then waits for one load per
// four candidates instead of one per candidate; a record is one aligned 8-byte
// word, so it never straddles cache lines.
struct alignas(8) DeflateChainRecord {
  uint16_t next[4];
};

// A record with the chain's eighth position after it (0 = none), for the
// levels with long walks: the record of the eighth can be loaded together
// with that of the fourth, so a walk waits once per eight candidates, and the
// eighth's own jump comes in the same load as its record.
struct DeflateJumpRecord {
  uint16_t next[4];
  uint16_t jump;
};

namespace deflate_internal {
struct HeldMemory;
}
struct DeflateHeldMemoryDeleter {
  void operator()(deflate_internal::HeldMemory* memory) const noexcept;
};

// The encoder's six work buffers, 561,152 bytes: all the memory an entry
// coded on one thread needs beside the run's state on the stack. Owned by the
// archive writer, reused for every entry while it keeps them.
struct DeflateWorkBuffers {
  uint8_t window[65536];
  uint16_t head_table[32768];
  // The hash chains, indexed by window position modulo 32,768, in the layout
  // the level's row names; an entry reads only records it wrote itself, so
  // nothing needs clearing between entries, whatever their levels.
  union LinkTable {
    DeflateChainRecord four[32768];
    DeflateJumpRecord eight[32768];
  } link_table;
  uint8_t sym_bytes[32768];
  uint16_t sym_dists[32768];
  uint8_t sym_kinds[4096];
  // What the parsing threads and the second thread use, made by the first
  // entry that needs it and kept for the next ones: allocated afresh for each
  // entry, it was faulted in page by page each time, and what the threads had
  // freed stayed in their heaps, so that a run of many databases grew. An
  // entry that fails lets it go.
  std::unique_ptr<deflate_internal::HeldMemory, DeflateHeldMemoryDeleter> held;
  static std::unique_ptr<DeflateWorkBuffers> Allocate();  // window cleared
};

// What the encoder uses of the archive writer: implemented by TZipWriter.
class DeflateHost {
 public:
  virtual ~DeflateHost() = default;
  // Places up to count bytes of the entry's input at buffer; 0 = end of input.
  virtual unsigned ReadInput(uint8_t* buffer, unsigned count) = 0;
  // Appends item_size*count bytes to the entry's data; may throw.
  virtual void WriteOutput(const uint8_t* buffer, size_t item_size, size_t count) = 0;
};

// The fields of the current entry's header record the encoder sets.
struct DeflateEntryFields {
  uint16_t* GeneralPurposeFlags;
  uint16_t* InternalAttributes;  // the writer sets 2 before the call
  uint16_t* CompressionMethod;   // the writer sets 8 before the call
};

// How an entry may use the machine beyond the calling thread.
struct DeflateOptions {
  // Code each finished block on a second thread while the next is parsed;
  // worth it only when a core would otherwise be idle. Same output either way.
  bool SecondThread = false;
  // Threads that parse the entry's input at once, each a segment of it, on
  // top of the calling thread, which codes the blocks and does all reading
  // and writing; 0 or 1: the calling thread parses alone. Same output.
  unsigned Threads = 0;
  // The input each of those threads takes at a time; 0: the default. Only
  // tests and measurements set it.
  size_t SegmentBytes = 0;
  // The entry's size when it is known beforehand (0: not known). Below 4 MiB
  // at level 1, and below 16 MiB at levels 2 and 3, the greedy levels join
  // their threads' segments at a higher cost than the threads save, so a
  // shorter entry parses on one thread.
  uint64_t ExpectedBytes = 0;
};

// Compresses one entry; returns its compressed size in bytes (the bytes handed
// to WriteOutput). PackLevel 1..9 (anything else: throw std::invalid_argument).
// Exceptions raised by ReadInput or WriteOutput pass through unchanged.
uint64_t deflate(DeflateHost& host, int PackLevel, DeflateWorkBuffers& buffers,
                 DeflateEntryFields entry, DeflateOptions options = {});
