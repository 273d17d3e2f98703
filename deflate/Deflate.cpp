// The encoder's entry point: sets up one run's state on the stack and drives
// the parsing loop of the level.
#include "Deflate.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "BlockCoder.h"
#include "BlockPipeline.h"
#include "EncoderState.h"
#include "LevelTable.h"
#include "MatchFinder.h"
#include "parallel/ParallelDeflate.h"
#include "parallel/ParallelEngine.h"

namespace deflate_internal {

struct HeldMemory {
  PipelineMemory pipeline;
  EngineMemory engine;
};

}  // namespace deflate_internal

void DeflateHeldMemoryDeleter::operator()(deflate_internal::HeldMemory* memory) const noexcept {
  delete memory;
}

std::unique_ptr<DeflateWorkBuffers> DeflateWorkBuffers::Allocate() {
  // Value-initialised: the window starts cleared, so reads past the first
  // entry's input see zeros.
  return std::make_unique<DeflateWorkBuffers>();
}

namespace {

uint64_t deflate_entry(DeflateHost& host, int PackLevel, DeflateWorkBuffers& buffers,
                       DeflateEntryFields entry, DeflateOptions options) {
  using namespace deflate_internal;
  EncoderState s{};
  s.host = &host;
  // Declared after s: on an exception it is gone, its thread joined, before
  // the entry's state and the host's buffers are.
  BlockPipeline aside(buffers.held->pipeline);
  s.aside = options.SecondThread ? &aside : nullptr;
  s.entry = entry;
  s.PackLevel = PackLevel;
  s.window = buffers.window;
  s.head_table = buffers.head_table;
  s.chains = buffers.link_table.four;
  s.jump_chains = buffers.link_table.eight;
  s.sym_bytes = buffers.sym_bytes;
  s.sym_dists = buffers.sym_dists;
  s.sym_kinds = buffers.sym_kinds;
  // Matches only set their kind bits (see ct_tally); an entry that ended in
  // an exception may have left some set.
  std::memset(s.sym_kinds, 0, sizeof buffers.sym_kinds);
  s.out_len = 0;

  ct_init(s);
  // Each greedy segment parses 128 KiB before it as well. A parse that
  // follows at most four links meets the next segment's run at once: two
  // threads made an entry of 3.4 MB 13 % faster, one of 2.2 MB 6 % slower.
  // With longer chains the runs seldom meet: at 13 MB two threads gained 3 %
  // or nothing, for half again the processor time.
  const LevelParams& row = kLevelTable[PackLevel];
  const uint64_t greedy_threads_from = (row.chain_len <= 4 ? uint64_t{4} : uint64_t{16}) << 20;
  const bool worth_threads = row.parse == Parse::kLazy || options.SegmentBytes != 0 ||
                             options.ExpectedBytes == 0 ||
                             options.ExpectedBytes >= greedy_threads_from;
  // An entry known to fit in one segment gives the other threads nothing to
  // parse; they would only cost their buffers and their start.
  const uint64_t segment = options.SegmentBytes != 0 ? options.SegmentBytes : kDefaultSegment;
  const bool splits = options.ExpectedBytes == 0 || options.ExpectedBytes > segment;
  if (options.Threads > 1 && worth_threads && splits) {
    return deflate_parallel(s, buffers.held->engine, options.Threads, options.SegmentBytes);
  }
  start_matching(s);
  return parse(s);
}

}  // namespace

uint64_t deflate(DeflateHost& host, int PackLevel, DeflateWorkBuffers& buffers,
                 DeflateEntryFields entry, DeflateOptions options) {
  using namespace deflate_internal;
  if (PackLevel < 1 || PackLevel > 9) {
    throw std::invalid_argument("deflate: PackLevel " + std::to_string(PackLevel) +
                                " is not in 1..9");
  }
  if (!buffers.held) buffers.held.reset(new HeldMemory);
  try {
    return deflate_entry(host, PackLevel, buffers, entry, options);
  } catch (...) {
    // An entry given up halfway, its threads and coder joined by now, never
    // reaches its last block, which wipes the window: wiped here, its bytes
    // cannot steer the next entry's matches past that entry's input. What is
    // kept may hold kind bits set or output unwritten: the next entry starts
    // from fresh memory.
    std::memset(buffers.window, 0, sizeof buffers.window - 1);
    buffers.held.reset();
    throw;
  }
}
