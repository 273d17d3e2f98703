// The deflate encoder's seam with the archive writer: the work buffers the
// writer owns, the two routines the encoder calls back, the header fields it
// sets, and the one entry point that compresses an entry into raw deflate data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// The encoder's six work buffers, 299,008 bytes; owned by the archive writer,
// allocated once per Zip call and reused for every entry.
struct DeflateWorkBuffers {
  uint8_t window[65536];
  uint16_t head_table[32768];
  uint16_t link_table[32768];
  uint8_t sym_bytes[32768];
  uint16_t sym_dists[32768];
  uint8_t sym_kinds[4096];
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
};

// Compresses one entry; returns its compressed size in bytes (the bytes handed
// to WriteOutput). PackLevel 1..9 (anything else: throw std::invalid_argument).
// Exceptions raised by ReadInput or WriteOutput pass through unchanged.
uint64_t deflate(DeflateHost& host, int PackLevel, DeflateWorkBuffers& buffers,
                 DeflateEntryFields entry, DeflateOptions options = {});
