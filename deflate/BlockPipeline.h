// Coding finished blocks on a second thread while the caller's thread parses
// the next ones. Choosing codes and writing a block is a sixth to a fifth of
// the work at the fast levels; done aside, it overlaps with parsing on a
// machine with a spare core. The output is byte for byte that of coding in
// place, handed to WriteOutput in the same pieces and order, and ReadInput
// and WriteOutput are still called on the caller's thread only.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Deflate.h"
#include "EncoderState.h"
#include "ThreadSync.h"

namespace deflate_internal {

// Keeps what the block coder hands to WriteOutput on the second thread, to be
// passed on, piece by piece, on the caller's.
class OutputRecorder : public DeflateHost {
 public:
  unsigned ReadInput(uint8_t* buffer, unsigned count) override;
  void WriteOutput(const uint8_t* buffer, size_t item_size, size_t count) override;
  // Hands every recorded piece to host, in order, and forgets them.
  void Replay(DeflateHost& host);
  // Room for bytes of output without the doubling of a growing buffer.
  void Reserve(size_t bytes) { bytes_.reserve(bytes); }

 private:
  std::vector<uint8_t> bytes_;
  std::vector<size_t> pieces_;
};

// Enough for the coder to take three blocks at a wake while the parser
// fills the fourth; each slot holds some 170 KB.
constexpr unsigned kPipelineSlots = 4;

// A finished block waiting for the coder.
struct PipelineSlot {
  uint8_t* sym_bytes;
  uint16_t* sym_dists;
  uint8_t* sym_kinds;
  unsigned sym_count;
  unsigned dist_count;
  uint16_t lit_freq[kLitSymbols];
  uint16_t dist_freq[kDistSymbols];
  bool has_data;
  uint32_t stored_len;
  uint8_t stored[2 * kWindowHalf];  // the block's input, for a stored block
  OutputRecorder output;
};

// The parser's further sets of symbol buffers, shaped as the writer's.
struct PipelineSymbols {
  decltype(DeflateWorkBuffers::sym_bytes) bytes;
  decltype(DeflateWorkBuffers::sym_dists) dists;
  decltype(DeflateWorkBuffers::sym_kinds) kinds;
};

// The pipeline's buffers, made by the first entry that starts the thread and
// kept for the next ones.
struct PipelineMemory {
  std::unique_ptr<PipelineSlot[]> slots;
  std::unique_ptr<PipelineSymbols[]> sets;  // the writer's buffers serve the first slot
  // The block coder's half of the state, used by one thread at a time; on the
  // heap, away from the parser's state on the stack, so that the two threads
  // never write to one cache line.
  std::unique_ptr<EncoderState> coder;
};

// One entry's pipeline; the thread starts with the entry's first block that
// is not its last, so entries of one block never start one.
//
// Finished blocks wait in a ring of slots, each with its own symbol buffers,
// and the second thread is woken once a block's worth of symbols has
// gathered or the ring is nearly full: at levels 6 to 9 blocks are often a
// few thousand symbols, and waking a sleeping thread costs tens of
// microseconds each time.
class BlockPipeline {
 public:
  explicit BlockPipeline(PipelineMemory& memory) : memory_(memory) {}
  BlockPipeline(const BlockPipeline&) = delete;
  BlockPipeline& operator=(const BlockPipeline&) = delete;
  // Waits for the block being coded, if any, and ends the thread.
  ~BlockPipeline();

  // Ends the parser's current block (data as for finish_block). A block that
  // is not the last goes to the ring; the last is coded here once all before
  // it are written. Returns what finish_block returns for the last block, 0
  // for the others.
  uint64_t close_block(EncoderState& s, const uint8_t* data, uint32_t stored_len, bool last);

 private:
  using Slot = PipelineSlot;
  static constexpr unsigned kSlots = kPipelineSlots;

  bool start(const EncoderState& s);
  static void fill_slot(EncoderState& s, Slot& slot);
  // Writes the slot's block to host with the coder's state, on either thread.
  uint64_t code_slot(const Slot& slot, const uint8_t* data, DeflateHost& host, bool last);
  void post(EncoderState& s, const uint8_t* data, uint32_t stored_len);
  void wake_coder();
  void reclaim(DeflateHost& host, bool wait);
  void work();

  PipelineMemory& memory_;
  Slot* slots_ = nullptr;
  EncoderState* coder_ = nullptr;
  unsigned posted_ = 0;     // blocks given to the ring (parser)
  unsigned reclaimed_ = 0;  // blocks whose output the host has (parser)
  unsigned unsignalled_symbols_ = 0;
  std::atomic<unsigned> coded_{0};  // blocks written by the coder

  std::thread thread_;
  PipelineMutex mutex_;
  PipelineCondition coder_wake_;
  PipelineCondition parser_wake_;
  // Under mutex_:
  unsigned visible_ = 0;  // blocks the coder may take
  bool parser_waiting_ = false;
  bool stop_ = false;
  std::exception_ptr error_;
};

}  // namespace deflate_internal
