// Parallel parsing of one entry, spliced into the single-threaded stream.
//
// The input is cut into segments. A worker parses a segment from its start
// as if the entry began there (lazy levels: with the 32 KiB before it in the
// hash chains, since they insert every position; greedy levels: parsing
// the 128 KiB before it, since what they insert depends on the matches) and
// keeps a log of its state at each turn near the start. The worker that parsed
// the segment before goes on past the boundary until its state equals the
// logged one at the same position; from there the two parses decide alike,
// so the stream continues with the later worker's symbols. Should they not
// meet within the log, the earlier worker simply goes on parsing (a
// continuation run) and the later one's work is dropped.
//
// The calling thread does everything the host sees, in the single-threaded
// order: it reads the input 32 KiB at a time (the size the single-threaded
// encoder asks for as long as reads come back full), feeds the spliced
// symbols through ct_tally, so that blocks end where they would, and codes
// them. The input's end, or any read that comes back short, is finished by
// the ordinary loop, started from the spliced parse's state at a turn
// before the single-threaded encoder would have made that read: so the
// window's contents, its slides, the requests and the final blocks are
// exactly the single-threaded encoder's.
//
// Windows slide when a turn ends past 65,274 with fewer than 262 bytes
// ahead; while reads come back full that depends on the position only, and
// so does whether a block's start is still in the window when it ends.
#include "ParallelDeflate.h"

#include "ParallelEngine.h"

namespace deflate_internal {

uint64_t ParallelEngine::compress() {
  bool started = false;
  for (;;) {
    bool progressed = false;
    bool ended;
    uint64_t seen;
    {
      std::lock_guard lock(mutex_);
      if (error_) std::rethrow_exception(error_);
      ended = ended_;
      seen = main_events_;
    }
    if (!ended && read_chunk()) progressed = true;
    {
      std::lock_guard lock(mutex_);
      ended = ended_;
      if (!started && published_ == 0 && ended_) {
        // Too short to share: the ordinary loop, given the reads made.
        return finish_serially();
      }
    }
    if (!started) {
      bool any;
      {
        std::lock_guard lock(mutex_);
        any = published_ > 0;
      }
      if (any) {
        *s_.entry.GeneralPurposeFlags |= row_.flag_bits;
        start_workers();
        started = true;
      }
    }
    if (started) {
      const Split split = split_available();
      if (split == Split::kTail) {
        const std::shared_ptr<Run> last = current_;
        stop_workers();
        {
          std::lock_guard lock(mutex_);
          if (error_) std::rethrow_exception(error_);
        }
        return finish_from(*last);
      }
      if (split == Split::kProgress) progressed = true;
    }
    if (!progressed) {
      std::unique_lock lock(mutex_);
      if (error_) std::rethrow_exception(error_);
      // Whatever lets this thread go on comes from a worker, which counts
      // it under the mutex: one since the count was taken above is seen.
      main_cv_.wait(lock, [&] { return main_events_ != seen || error_; });
    }
  }
}

uint64_t deflate_parallel(EncoderState& s, EngineMemory& memory, unsigned threads,
                          size_t segment_bytes) {
  ParallelEngine run(s, memory, threads, segment_bytes);
  return run.compress();
}

}  // namespace deflate_internal
