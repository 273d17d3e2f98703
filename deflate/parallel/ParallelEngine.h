// The parallel engine's parts, shared by its files: the runs that parse
// stretches of one entry's input, the segments the input is cut into, and
// the engine that owns them for the entry. ParallelDeflate.cpp tells how
// the parallel stream becomes the single-threaded one and holds the calling
// thread's loop; the engine's other jobs are in files of their own:
// ReadAhead.cpp (the calling thread's reads, and the input they give the
// workers), SegmentScheduling.cpp (set-up, workers claiming segments,
// dropping runs), SegmentMeeting.cpp (a worker's parse looking for the next
// segment's run), and Splice.cpp (the spliced symbols through the block
// coder, and the ordinary loop for the tail). What a run is and how it
// parses, with the single-threaded encoder's steps, is in ParseRun.h and
// ParseRun.cpp; everything else the engine uses is that encoder's, in the
// folder above.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Deflate.h"
#include "EncoderState.h"
#include "LevelTable.h"
#include "ParallelDeflate.h"
#include "ParseRun.h"

namespace deflate_internal {

constexpr uint64_t kChunk = kWindowHalf;  // the read size while reads come back full
// A greedy run parses this much before its segment. Its first window of
// parsing has chains of its own making and chooses matches of its own; the
// positions it leaves out of the chains must then agree with the true parse
// over a whole window before the two can meet. Four windows make meetings
// near the segment's start the rule.
constexpr uint64_t kGreedyLead = 4 * kWindowHalf;
constexpr uint32_t kLogTurns =
    16384;  // positions after a segment start where a meeting is looked for
// A turn starting before full_end - kFrontier has all its input (262 bytes
// ahead) and its successor, at most 258 bytes on, still does.
constexpr uint64_t kFrontier = kMinLookahead + kMaxMatch;
constexpr uint64_t kNone = ~uint64_t{0};
// Symbols a run's runner keeps free for the turns up to its next event.
constexpr size_t kTurnRoom = 4096;

// Slides the single-threaded window has made before a turn starting at q
// (full reads): one at the end of the first turn past 65,274 + 32,768 k.
inline uint64_t slides_before(uint64_t q) {
  return q > kSlideAt ? (q - kSlideAt - 1) / kWindowHalf + 1 : 0;
}

// Reads it has made by then: the first, then one when a turn ends past
// 32,506 + 32,768 k.
inline uint64_t reads_before(uint64_t q) {
  return q > kMaxDist ? (q - kMaxDist - 1) / kWindowHalf + 2 : 1;
}

// Buffers of runs that have ended, for the next ones: fresh memory would be
// faulted in page by page for every segment.
struct SparePool {
  std::mutex mutex;
  std::vector<std::unique_ptr<ParseMark[]>> logs;  // of log_len marks each
  std::vector<std::unique_ptr<SkipSpan[]>> skips;  // of skip_cap spans each
  std::vector<SymbolRun> symbols;                  // each resized as it is taken
  size_t log_len = 0;
  size_t skip_cap = 0;

  // Keeps the spares an entry whose logs hold log_len marks and skip_cap
  // spans can use; another level or segment size wants other sizes.
  void fit(size_t new_log_len, size_t new_skip_cap) {
    if (new_log_len != log_len) logs.clear();
    if (new_skip_cap != skip_cap) skips.clear();
    log_len = new_log_len;
    skip_cap = new_skip_cap;
  }
};

// The engine's buffers, kept by the writer's work buffers from one entry to
// the next, so that a run of many databases allocates them once.
struct EngineMemory {
  std::vector<std::unique_ptr<DeflateWorkBuffers>> windows;  // a worker's each
  std::vector<std::unique_ptr<uint8_t[]>> ring;              // chunks of kChunk bytes
  std::unique_ptr<uint8_t[]> stored;                         // 2 * kWindowHalf bytes
  std::unique_ptr<SkipSpan[]> span_scratch;                  // greedy: kMaxBlockSymbols spans
  SparePool pool;
};

// A stretch of parsing with its symbols.
//
// A run's life:
//  - made when a worker claims a free segment (the run parses from the
//    segment's start, after its lead), or when a parse goes on past where
//    its run ended (the run starts at that turn, with no log);
//  - parsing: it records symbols and logs its marks for the turns near its
//    start, where the parse before it may meet it;
//  - done, in exactly one of three ways, each under the engine's mutex and
//    made known to the calling thread at once (end_dropped, end_stopped,
//    end_in):
//      dropped  its work is not wanted (discard is set, or the entry is
//               given up); the splice never reaches it;
//      stopped  at the stop, near the input's end: the ordinary loop goes on
//               from end_pos with end_mark's state;
//      next     the parse goes on in `next` from end_pos: the next
//               segment's run that it met (whose mark there is next_mark)
//               or a new run of its own (next_mark counts no symbols);
//  - given up by the splice once it has taken the run's symbols, and freed
//    when the last holder lets go, its buffers going back to the pool.
// A run met by a parse before it (meetings > 0) is not dropped: the splice
// goes through it.
struct Run {
  explicit Run(SparePool& pool) : pool_(pool) {}
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;
  ~Run() {
    std::lock_guard lock(pool_.mutex);
    if (log) pool_.logs.push_back(std::move(log));
    if (log_skips) pool_.skips.push_back(std::move(log_skips));
    if (out.capacity != 0) pool_.symbols.push_back(std::move(out));
  }

  // The ends of its life, under the engine's mutex; the caller then wakes
  // the calling thread.
  void end_dropped() {
    done = true;
    dropped = true;
  }
  void end_stopped(uint64_t pos, const ParseMark& mark) {
    end_pos = pos;
    end_mark = mark;
    stopped = true;
    done = true;
  }
  void end_in(std::shared_ptr<Run> then, uint64_t pos, const ParseMark& mark,
              const ParseMark& then_mark) {
    end_pos = pos;
    end_mark = mark;
    next = std::move(then);
    next_mark = then_mark;
    done = true;
  }

  uint64_t start = 0;  // its first logged turn (a segment start), or where it took over
  uint32_t log_len = 0;
  std::unique_ptr<ParseMark[]> log;  // marks of turns start .. start + log_len - 1 (len 0: none)
  std::atomic<uint32_t> logged{0};   // entries of the log that are final
  std::unique_ptr<SkipSpan[]>
      log_skips;  // greedy: spans left out of its chains, up to the log's end
  uint32_t log_skip_cap = 0;
  std::atomic<uint32_t> log_skip_count{0};
  // Its work is not wanted: shared by a segment's run and the runs it goes
  // on in, which are dropped with it.
  std::shared_ptr<std::atomic<bool>> discard = std::make_shared<std::atomic<bool>>(false);
  SymbolRun out;

  // Under the engine's mutex:
  // Runs before it that go on in it and are not dropped: while there are
  // any, it may not be discarded.
  unsigned meetings = 0;
  bool done = false;     // ended; the fields below are set
  bool stopped = false;  // ended at the stop
  bool dropped = false;  // ended unwanted
  uint64_t end_pos = 0;
  ParseMark end_mark{};
  std::shared_ptr<Run> next;  // where the parse goes on
  ParseMark next_mark{};      // the mark there, with next's symbol counts

 private:
  SparePool& pool_;
};

struct Segment {
  enum State { kFree, kClaimed, kTaken } state = kFree;  // taken: parsed by the run before it
  std::shared_ptr<Run> ahead;  // the run that parsed this segment ahead of its turn
};

// Drops the spans that end before `before`, once there are enough of them
// that moving the rest costs less than keeping them.
inline void forget_spans(std::vector<SkipSpan>& spans, uint64_t before) {
  if (spans.size() < 4096 || spans[spans.size() / 2].end >= before) return;
  const auto first_kept = std::partition_point(
      spans.begin(), spans.end(), [before](const SkipSpan& span) { return span.end < before; });
  spans.erase(spans.begin(), first_kept);
}

class StoreReader;

// Gives the tail of the entry the reads already made, in order, then reads
// on from the host; writes go to the host.
class QueueHost : public DeflateHost {
 public:
  QueueHost(DeflateHost& host) : host_(host) {}
  unsigned ReadInput(uint8_t* buffer, unsigned count) override;
  void WriteOutput(const uint8_t* buffer, size_t item_size, size_t count) override {
    host_.WriteOutput(buffer, item_size, count);
  }

  class ParallelEngine* owner = nullptr;
  uint64_t next_chunk = 0;
  uint64_t end_chunk = 0;

 private:
  DeflateHost& host_;
};

class ParallelEngine {
 public:
  ParallelEngine(EncoderState& s, EngineMemory& memory, unsigned threads, size_t segment);
  ParallelEngine(const ParallelEngine&) = delete;
  ParallelEngine& operator=(const ParallelEngine&) = delete;
  ~ParallelEngine();
  uint64_t compress();

 private:
  friend class StoreReader;
  friend class QueueHost;
  friend class SegmentRunner;

  struct Worker {
    std::thread thread;
    DeflateWorkBuffers* buffers;  // the engine memory's
    std::unique_ptr<EncoderState> state;
    std::atomic<uint64_t> fill_pos{kNone};  // next input offset its window reads
  };

  enum class Input { kReady, kStop, kAbort };

  uint64_t segment_start(uint64_t j) const { return j * segment_; }
  // Where a segment's parse starts reading.
  uint64_t run_origin(uint64_t j) const {
    return segment_start(j) > lead_ ? segment_start(j) - lead_ : 0;
  }
  void copy_input(uint64_t pos, uint8_t* out, size_t n) const;
  bool read_chunk();
  uint64_t low_water_locked() const;
  void publish_locked();
  Segment& segment_locked(uint64_t j);
  // Gives a new run symbol buffers that have held a run before, if any, with
  // room for the most a segment's run records: a symbol per position of its
  // segment and log (its lead records none), and what its runner keeps free
  // between turns.
  void take_symbols(SymbolRun& out) {
    {
      std::lock_guard lock(pool_.mutex);
      if (!pool_.symbols.empty()) {
        out = std::move(pool_.symbols.back());
        pool_.symbols.pop_back();
      }
    }
    out.reset(static_cast<size_t>(segment_ + log_turns_ + kTurnRoom + 2 * kMaxMatch),
              runs_tallied(row_));
  }
  template <typename T>
  static std::unique_ptr<T[]> take_buffer(std::mutex& mutex,
                                          std::vector<std::unique_ptr<T[]>>& spares, size_t count) {
    std::lock_guard lock(mutex);
    if (spares.empty()) return std::make_unique_for_overwrite<T[]>(count);
    auto buffer = std::move(spares.back());
    spares.pop_back();
    return buffer;
  }
  void start_workers();
  void stop_workers();
  void worker_main(Worker& w);
  void parse_segment(Worker& w, uint64_t j, const std::shared_ptr<Run>& run);
  Input await_input(uint64_t pos, uint64_t* safe_until);
  void discard_locked(Run& run);
  enum class Split { kNothing, kProgress, kTail };
  Split split_available();
  void reach_turn(uint64_t turn);
  void tally_bulk(const Run& run, size_t n, size_t& dx, size_t count);
  void tally_each(const SymbolRun& in, size_t n, size_t& dx, size_t count);
  void add_piece(const SymbolRun& in, size_t n, size_t& dx);
  void split_symbols(const Run& run, size_t from_sym, size_t to_sym, size_t from_dist);
  void close_split_block(uint64_t end);
  uint64_t finish_serially();
  uint64_t finish_from(const Run& run);

  EncoderState& s_;
  EngineMemory& memory_;
  DeflateHost& host_;
  const LevelParams row_;
  const unsigned threads_;
  const uint64_t segment_;
  const uint32_t log_turns_;
  // How far before its segment a run starts reading.
  const uint64_t lead_;
  const uint32_t log_skip_cap_;  // greedy: the spans a run's log may hold
  SparePool& pool_;              // the engine memory's: it outlives every run

  // The read-ahead: chunk i in ring_[i % ring_.size()]; written by the
  // calling thread only, below low water never read again.
  std::vector<uint8_t*> ring_;         // the engine memory's chunks
  uint64_t chunks_ = 0;                // chunks read (calling thread; under mutex_ when changed)
  unsigned short_size_ = 0;            // the answer of the last read, when it was short
  std::atomic<uint64_t> full_end_{0};  // input bytes in chunks that came back full
  std::atomic<bool> abort_{false};

  std::vector<std::unique_ptr<Worker>> workers_;
  std::mutex mutex_;
  std::condition_variable work_cv_;  // workers: a segment to claim, input, or the end
  // The calling thread sleeps on main_cv_ until main_events_ moves: a run
  // ended, a segment was claimed, a worker's window read on (the ring may
  // have room), a worker wants input, or an error.
  std::condition_variable main_cv_;
  uint64_t main_events_ = 0;  // under mutex_
  void wake_main_locked() {
    ++main_events_;
    main_cv_.notify_all();
  }
  // Under mutex_:
  bool ended_ = false;        // a read came back short; stop_at_ is set
  uint64_t stop_at_ = kNone;  // runs end at their first turn from here on
  std::deque<Segment> segments_;
  uint64_t published_ = 0;  // segments 0 .. published_ - 1 may be claimed
  uint64_t next_claim_ = 0;
  std::exception_ptr error_;

  // The splitter, on the calling thread.
  std::shared_ptr<Run> current_;
  size_t current_sym_ = 0;
  size_t current_dist_ = 0;
  uint64_t cover_ = 0;                // input offset of the next symbol
  uint64_t slides_ = 0;               // the single-threaded window's slides so far
  uint64_t block_start_ = 0;          // input offset of the current block's first byte
  std::vector<SkipSpan> true_skips_;  // greedy: the spliced parse's spans, recent ones
  uint8_t* stored_;                   // a block's input, for a stored block
  SkipSpan* span_scratch_;            // greedy: a bulk tally's spans
};

// Serves the input from the calling thread's read-ahead to a worker's
// window; never blocks (a run only asks for input it knows is there).
class StoreReader : public DeflateHost {
 public:
  StoreReader(ParallelEngine& owner, std::atomic<uint64_t>& fill_pos, uint64_t from)
      : owner_(owner), fill_pos_(fill_pos), next_(from) {}
  unsigned ReadInput(uint8_t* buffer, unsigned count) override;
  void WriteOutput(const uint8_t*, size_t, size_t) override {}

 private:
  ParallelEngine& owner_;
  std::atomic<uint64_t>& fill_pos_;
  uint64_t next_;
};

}  // namespace deflate_internal
