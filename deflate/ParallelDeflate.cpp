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

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "BlockCoder.h"
#include "BlockPipeline.h"
#include "Checks.h"
#include "LevelTable.h"
#include "MatchFinder.h"
#include "ParseRun.h"

namespace deflate_internal {
namespace {

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
// Symbols a run's driver keeps free for the turns up to its next event.
constexpr size_t kTurnRoom = 4096;

// Slides the single-threaded window has made before a turn starting at q
// (full reads): one at the end of the first turn past 65,274 + 32,768 k.
uint64_t slides_before(uint64_t q) {
  return q > kSlideAt ? (q - kSlideAt - 1) / kWindowHalf + 1 : 0;
}

// Reads it has made by then: the first, then one when a turn ends past
// 32,506 + 32,768 k.
uint64_t reads_before(uint64_t q) {
  return q > kMaxDist ? (q - kMaxDist - 1) / kWindowHalf + 2 : 1;
}

// Buffers of runs that have ended, for the next ones: fresh memory would be
// faulted in page by page for every segment.
struct SparePool {
  std::mutex mutex;
  std::vector<std::unique_ptr<ParseMark[]>> logs;
  std::vector<std::unique_ptr<SkipSpan[]>> skips;
  std::vector<SymbolRun> symbols;
};

// A stretch of parsing with its symbols; see the file comment.
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

  // Under the driver's mutex:
  // Runs before it that go on in it and are not dropped: while there are
  // any, it may not be discarded.
  unsigned meetings = 0;
  bool done = false;     // ended; the fields below are set
  bool stopped = false;  // ended at the stop: the ordinary loop goes on from end_pos
  bool dropped = false;
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
void forget_spans(std::vector<SkipSpan>& spans, uint64_t before) {
  if (spans.size() < 4096 || spans[spans.size() / 2].end >= before) return;
  const auto first_kept = std::partition_point(
      spans.begin(), spans.end(), [before](const SkipSpan& span) { return span.end < before; });
  spans.erase(spans.begin(), first_kept);
}

// Serves the input from the calling thread's read-ahead to a worker's
// window; never blocks (a run only asks for input it knows is there).
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

  class ParallelRun* owner = nullptr;
  uint64_t next_chunk = 0;
  uint64_t end_chunk = 0;

 private:
  DeflateHost& host_;
};

class ParallelRun {
 public:
  ParallelRun(EncoderState& s, DeflateWorkBuffers& buffers, unsigned threads, size_t segment);
  ParallelRun(const ParallelRun&) = delete;
  ParallelRun& operator=(const ParallelRun&) = delete;
  ~ParallelRun();
  uint64_t compress();

 private:
  friend class StoreReader;
  friend class QueueHost;
  friend class RunDriver;

  struct Worker {
    std::thread thread;
    std::unique_ptr<DeflateWorkBuffers> buffers;
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
  // segment and log (its lead records none), and what its driver keeps free
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
  DeflateWorkBuffers& buffers_;
  DeflateHost& host_;
  const LevelParams row_;
  const unsigned threads_;
  const uint64_t segment_;
  const uint32_t log_turns_;
  // How far before its segment a run starts reading.
  const uint64_t lead_;
  SparePool pool_;  // declared before every holder of a run, so it outlives them

  // The read-ahead: chunk i in ring_[i % ring_.size()]; written by the
  // calling thread only, below low water never read again.
  std::vector<std::unique_ptr<uint8_t[]>> ring_;
  uint64_t chunks_ = 0;                // chunks read (calling thread; under mutex_ when changed)
  unsigned short_size_ = 0;            // the answer of the last read, when it was short
  std::atomic<uint64_t> full_end_{0};  // input bytes in chunks that came back full
  std::atomic<bool> abort_{false};

  std::vector<std::unique_ptr<Worker>> workers_;
  std::mutex mutex_;
  std::condition_variable work_cv_;  // workers: a segment to claim, input, or the end
  std::condition_variable main_cv_;  // the calling thread: a run ended, input wanted
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
  uint64_t cover_ = 0;                        // input offset of the next symbol
  uint64_t slides_ = 0;                       // the single-threaded window's slides so far
  uint64_t block_start_ = 0;                  // input offset of the current block's first byte
  std::vector<SkipSpan> true_skips_;          // greedy: the spliced parse's spans, recent ones
  std::unique_ptr<uint8_t[]> stored_;         // a block's input, for a stored block
  std::unique_ptr<SkipSpan[]> span_scratch_;  // greedy: a bulk tally's spans
};

class StoreReader : public DeflateHost {
 public:
  StoreReader(ParallelRun& owner, std::atomic<uint64_t>& fill_pos, uint64_t from)
      : owner_(owner), fill_pos_(fill_pos), next_(from) {}
  unsigned ReadInput(uint8_t* buffer, unsigned count) override {
    const uint64_t available = owner_.full_end_.load(std::memory_order_acquire) - next_;
    const auto n = static_cast<unsigned>(std::min<uint64_t>(count, available));
    DEFLATE_CHECK(n > 0, "run read past its input");
    owner_.copy_input(next_, buffer, n);
    next_ += n;
    fill_pos_.store(next_, std::memory_order_release);
    return n;
  }
  void WriteOutput(const uint8_t*, size_t, size_t) override {}

 private:
  ParallelRun& owner_;
  std::atomic<uint64_t>& fill_pos_;
  uint64_t next_;
};

unsigned QueueHost::ReadInput(uint8_t* buffer, unsigned count) {
  if (next_chunk == end_chunk) return host_.ReadInput(buffer, count);
  const uint64_t i = next_chunk++;
  const bool last = i + 1 == owner->chunks_;
  const unsigned n = last && owner->ended_ ? owner->short_size_ : static_cast<unsigned>(kChunk);
  DEFLATE_CHECK(count == kChunk, "read of another size than was made ahead");
  owner->copy_input(i * kChunk, buffer, std::min(n, count));
  return n;
}

// A worker's view of one segment's parse and of the runs it goes on into.
class RunDriver : public RunControl {
 public:
  RunDriver(ParallelRun& owner, uint64_t segment, std::shared_ptr<Run> run)
      : owner_(owner), run_(std::move(run)), target_(segment + 1) {
    out = &run_->out;
    lazy_ = owner.row_.parse == Parse::kLazy;
    target_start_ = owner.segment_start(target_);
    next_event = 0;
    // What a greedy run parses before its segment is never spliced.
    record_from = run_->start;
  }

  bool event(uint64_t pos, const ParseMark& mark) override;
  void skipped(const SkipSpan& span) override {
    own_skips_.push_back(span);
    if (span.begin < run_->start + run_->log_len) {
      const uint32_t n = run_->log_skip_count.load(std::memory_order_relaxed);
      if (n < run_->log_skip_cap) {
        run_->log_skips[n] = span;
        run_->log_skip_count.store(n + 1, std::memory_order_release);
      }
    }
  }

  // After run_parse returns: true when the parse goes on in a new run, with
  // this mark's state.
  bool goes_on() {
    const bool on = goes_on_;
    goes_on_ = false;
    return on;
  }
  const ParseMark& resume_mark() const { return resume_; }

 private:
  bool drop();
  bool stop_here(uint64_t pos, const ParseMark& mark);
  bool hand_over(uint64_t pos, const ParseMark& mark);
  bool spans_agree(uint64_t pos);
  bool await_log(uint32_t index);
  void close_log() {
    if (!log_closed_) {
      run_->logged.store(run_->log_len, std::memory_order_release);
      log_closed_ = true;
    }
  }
  void prune_skips(uint64_t pos) {
    forget_spans(own_skips_, pos - std::min<uint64_t>(pos, 2 * kWindowHalf));
  }

  ParallelRun& owner_;
  std::shared_ptr<Run> run_;
  uint64_t target_;  // the segment whose start the parse looks for a meeting at
  uint64_t target_start_;
  std::shared_ptr<Run> tgt_;  // that segment's run, once known
  bool lazy_;
  bool log_closed_ = false;
  bool lead_forgotten_ = false;
  bool goes_on_ = false;
  ParseMark resume_{};
  uint64_t safe_until_ = 0;
  uint64_t check_at_ = 0;
  uint64_t no_meet_before_ = 0;
  std::vector<SkipSpan> own_skips_;
};

bool RunDriver::drop() {
  close_log();
  std::lock_guard lock(owner_.mutex_);
  run_->done = true;
  run_->dropped = true;
  owner_.main_cv_.notify_all();
  return false;
}

bool RunDriver::stop_here(uint64_t pos, const ParseMark& mark) {
  close_log();
  std::lock_guard lock(owner_.mutex_);
  run_->end_pos = pos;
  run_->end_mark = mark;
  run_->stopped = true;
  run_->done = true;
  owner_.main_cv_.notify_all();
  return false;
}

// Ends the run at this turn and goes on parsing in a new run (whose symbols
// the splitter can take while this one's are written).
bool RunDriver::hand_over(uint64_t pos, const ParseMark& mark) {
  close_log();
  auto next = std::make_shared<Run>(owner_.pool_);
  next->start = pos;
  next->discard = run_->discard;
  owner_.take_symbols(next->out);
  {
    std::lock_guard lock(owner_.mutex_);
    if (run_->discard->load(std::memory_order_relaxed)) {
      run_->done = true;
      run_->dropped = true;
      owner_.main_cv_.notify_all();
      return false;
    }
    run_->end_pos = pos;
    run_->end_mark = mark;
    run_->next = next;
    run_->next_mark = mark;
    run_->next_mark.symbols = 0;
    run_->next_mark.matches = 0;
    run_->done = true;
    owner_.main_cv_.notify_all();
  }
  run_ = std::move(next);
  out = &run_->out;
  log_closed_ = true;
  ++target_;
  target_start_ = owner_.segment_start(target_);
  tgt_.reset();
  no_meet_before_ = 0;
  goes_on_ = true;
  resume_ = mark;
  return false;
}

bool RunDriver::await_log(uint32_t index) {
  for (unsigned spins = 0; tgt_->logged.load(std::memory_order_acquire) <= index; ++spins) {
    if (owner_.abort_.load(std::memory_order_relaxed) ||
        run_->discard->load(std::memory_order_relaxed)) {
      return false;
    }
    if (spins < 64) {
      std::this_thread::yield();
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  }
  return true;
}

// Whether the positions left out of the chains within reach of pos (those
// a search at pos can see) are the same for this parse and the target's.
bool RunDriver::spans_agree(uint64_t pos) {
  if (pos < no_meet_before_) return false;
  const uint64_t lo = pos - kMaxDist;
  const SkipSpan* const theirs = tgt_->log_skips.get();
  size_t it = tgt_->log_skip_count.load(std::memory_order_acquire);
  while (it > 0 && theirs[it - 1].begin >= pos) --it;
  size_t io = own_skips_.size();
  for (;;) {
    const bool has_own = io > 0 && own_skips_[io - 1].end > lo;
    const bool has_theirs = it > 0 && theirs[it - 1].end > lo;
    if (!has_own && !has_theirs) return true;
    SkipSpan a{};
    SkipSpan b{};
    if (has_own) a = SkipSpan{std::max(own_skips_[io - 1].begin, lo), own_skips_[io - 1].end};
    if (has_theirs) b = SkipSpan{std::max(theirs[it - 1].begin, lo), theirs[it - 1].end};
    if (has_own && has_theirs && a.begin == b.begin && a.end == b.end) {
      --io;
      --it;
      continue;
    }
    // The chains differ at or before the later of the two spans' ends.
    no_meet_before_ = std::max(a.end, b.end) - 1 + kMaxDist + 1;
    return false;
  }
}

bool RunDriver::event(uint64_t pos, const ParseMark& turn_mark) {
  ParseMark mark = turn_mark;
  if (!lead_forgotten_ && pos >= run_->start) {
    // What a greedy run parsed before its segment is never spliced.
    out->forget();
    mark.symbols = 0;
    mark.matches = 0;
    lead_forgotten_ = true;
  }
  if (pos >= safe_until_) {
    switch (owner_.await_input(pos, &safe_until_)) {
      case ParallelRun::Input::kReady:
        break;
      case ParallelRun::Input::kStop:
        return stop_here(pos, mark);
      case ParallelRun::Input::kAbort:
        return drop();
    }
  }
  if (pos >= check_at_) {
    if (run_->discard->load(std::memory_order_relaxed) ||
        owner_.abort_.load(std::memory_order_relaxed)) {
      return drop();
    }
    check_at_ = pos + 4096;
    prune_skips(pos);
  }
  const uint64_t log_end = run_->start + run_->log_len;
  if (!log_closed_) {
    if (pos >= log_end) {
      close_log();
    } else if (pos >= run_->start) {
      const auto i = static_cast<uint32_t>(pos - run_->start);
      run_->log[i] = mark;
      run_->logged.store(i + 1, std::memory_order_release);
    }
  }
  while (pos >= target_start_) {
    if (!tgt_) {
      std::unique_lock lock(owner_.mutex_);
      if (run_->discard->load(std::memory_order_relaxed)) {
        lock.unlock();
        return drop();
      }
      Segment& seg = owner_.segment_locked(target_);
      if (seg.state == Segment::kClaimed && !seg.ahead->discard->load(std::memory_order_relaxed)) {
        tgt_ = seg.ahead;
      } else {
        // Nobody parses it (yet): this parse goes on into it.
        if (seg.state == Segment::kFree) seg.state = Segment::kTaken;
        lock.unlock();
        return hand_over(pos, mark);
      }
    }
    const uint64_t index = pos - target_start_;
    if (index >= tgt_->log_len) {
      // No meeting within the log: the target's work is dropped, this parse
      // goes on in its place.
      {
        std::lock_guard lock(owner_.mutex_);
        // A parse that is itself dropped leaves the target to the one that
        // took its place (hand_over then ends it).
        if (tgt_->meetings == 0 && !run_->discard->load(std::memory_order_relaxed)) {
          owner_.discard_locked(*tgt_);
        }
      }
      return hand_over(pos, mark);
    }
    if (!await_log(static_cast<uint32_t>(index))) return drop();
    const ParseMark theirs = tgt_->log[index];
    if (theirs.len != 0 && same_decisions(theirs, mark) && (lazy_ || spans_agree(pos))) {
      close_log();
      std::lock_guard lock(owner_.mutex_);
      if (run_->discard->load(std::memory_order_relaxed)) {
        run_->done = true;
        run_->dropped = true;
        owner_.main_cv_.notify_all();
        return false;
      }
      if (tgt_->discard->load(std::memory_order_relaxed)) {
        // Dropped by a parse that is itself not wanted; this one goes on.
        tgt_.reset();
        target_start_ = kNone;
        continue;
      }
      ++tgt_->meetings;
      run_->end_pos = pos;
      run_->end_mark = mark;
      run_->next = tgt_;
      run_->next_mark = theirs;
      run_->done = true;
      owner_.main_cv_.notify_all();
      return false;
    }
    break;
  }
  if (target_start_ == kNone) {
    // The target was dropped under us: take its place.
    target_start_ = owner_.segment_start(target_);
    return hand_over(pos, mark);
  }
  uint64_t next = std::min(safe_until_, check_at_);
  if (!log_closed_) next = std::min(next, pos < run_->start ? run_->start : pos + 1);
  next = std::min(next, pos >= target_start_ ? pos + 1 : target_start_);
  // A turn records at most one symbol and moves on at least one position.
  if (out->room() < kTurnRoom) out->reserve_more(out->capacity);
  next_event = std::min<uint64_t>(next, pos + out->room());
  // Only the window before a meeting place is ever compared: the log's
  // first turn, while it is written, and the target's start.
  const uint64_t compared = log_closed_ ? target_start_ : std::min(run_->start, target_start_);
  skip_floor = compared > kMaxDist ? compared - kMaxDist : 0;
  return true;
}

ParallelRun::ParallelRun(EncoderState& s, DeflateWorkBuffers& buffers, unsigned threads,
                         size_t segment)
    : s_(s),
      buffers_(buffers),
      host_(*s.host),
      row_(kLevelTable[s.PackLevel]),
      threads_(threads),
      segment_(std::max<uint64_t>(segment == 0 ? kDefaultSegment : segment, 1024)),
      log_turns_(static_cast<uint32_t>(std::min<uint64_t>(kLogTurns, segment_ / 2))),
      lead_(row_.parse == Parse::kLazy ? kWindowHalf : kGreedyLead) {
  // The calling thread may be a whole segment behind the runs, each of which
  // reads its segment and its lead before it, and keeps 128 KiB for the end;
  // one more segment lets a fast run claim the next while a slow one ends.
  const uint64_t bytes = (threads_ + 3) * std::max<uint64_t>(segment_, kChunk) + lead_ + 8 * kChunk;
  ring_.resize(bytes / kChunk + 1);
  for (auto& chunk : ring_) chunk = std::make_unique_for_overwrite<uint8_t[]>(kChunk);
  stored_ = std::make_unique_for_overwrite<uint8_t[]>(2 * kWindowHalf);
  if (row_.parse == Parse::kGreedy) {
    span_scratch_ = std::make_unique_for_overwrite<SkipSpan[]>(kMaxBlockSymbols);
  }
  // The level's row, as start_matching loads it (the block coder needs it
  // before the ordinary loop runs).
  s.good_len = row_.good_len;
  s.lazy_len = row_.lazy_len;
  s.nice_len = row_.nice_len;
  s.chain_len = row_.chain_len;
  s.early_end = row_.early_end;
}

ParallelRun::~ParallelRun() {
  stop_workers();
}

void ParallelRun::stop_workers() {
  {
    std::lock_guard lock(mutex_);
    abort_.store(true);
  }
  work_cv_.notify_all();
  for (auto& w : workers_) {
    if (w->thread.joinable()) w->thread.join();
  }
}

void ParallelRun::copy_input(uint64_t pos, uint8_t* out, size_t n) const {
  while (n > 0) {
    const uint64_t i = pos / kChunk;
    const auto off = static_cast<size_t>(pos % kChunk);
    const size_t m = std::min<size_t>(n, kChunk - off);
    std::memcpy(out, ring_[i % ring_.size()].get() + off, m);
    out += m;
    pos += m;
    n -= m;
  }
}

Segment& ParallelRun::segment_locked(uint64_t j) {
  while (segments_.size() <= j) segments_.emplace_back();
  return segments_[j];
}

uint64_t ParallelRun::low_water_locked() const {
  uint64_t low = cover_ > 4 * kChunk ? cover_ - 4 * kChunk : 0;
  for (const auto& w : workers_) low = std::min(low, w->fill_pos.load(std::memory_order_acquire));
  for (uint64_t j = next_claim_; j < published_; ++j) {
    if (segments_[j].state == Segment::kFree) {
      low = std::min(low, run_origin(j));
      break;
    }
  }
  return low;
}

void ParallelRun::publish_locked() {
  const uint64_t full = full_end_.load(std::memory_order_relaxed);
  for (;;) {
    const uint64_t start = segment_start(published_);
    // A run starts with two full reads, from where its lead begins, and
    // then keeps up with the reads (its turns wait for their input): a
    // segment goes out once its first 64 KiB are read, so that a worker that
    // is done does not wait for a whole segment to be read. The first one
    // waits to be whole: an input that ends before then is not shared at
    // all. Once the input's end is known the rest go out at once.
    const uint64_t wanted = published_ == 0 ? std::max<uint64_t>(segment_, kChunk) : 2 * kChunk;
    const bool ready =
        ended_ ? published_ > 0 && start + kChunk < stop_at_ : full >= start + wanted + 2048;
    if (!ready) break;
    segment_locked(published_);
    ++published_;
  }
}

// Drops a segment's run and the runs its parse went on in. Should that
// parse have met a later segment's run, the meeting no longer counts: a
// parse that was never spliced must not keep the next one from being
// dropped, or it would go on beside the spliced one, unwanted, for good.
// Two parses can reach the end of one log without meeting it (one of them
// dropped but not yet aware of it): the meeting is given back only once.
void ParallelRun::discard_locked(Run& run) {
  if (run.discard->exchange(true, std::memory_order_relaxed)) return;
  for (const Run* r = &run; r->done && r->next; r = r->next.get()) {
    if (r->next->discard != run.discard) {
      --r->next->meetings;
      break;
    }
  }
}

// Reads the next chunk if the ring has room for it; false if it has not.
bool ParallelRun::read_chunk() {
  uint64_t i;
  {
    std::lock_guard lock(mutex_);
    i = chunks_;
    if (i >= low_water_locked() / kChunk + ring_.size()) return false;
  }
  const unsigned placed =
      host_.ReadInput(ring_[i % ring_.size()].get(), static_cast<unsigned>(kChunk));
  // As the encoder takes an answer: never more than asked, 16 bits.
  const unsigned n = (placed < kChunk ? placed : static_cast<unsigned>(kChunk)) & 0xFFFF;
  {
    std::lock_guard lock(mutex_);
    ++chunks_;
    if (n == kChunk) {
      full_end_.store(full_end_.load(std::memory_order_relaxed) + kChunk,
                      std::memory_order_release);
    } else {
      ended_ = true;
      short_size_ = n;
      const uint64_t full = full_end_.load(std::memory_order_relaxed);
      stop_at_ = full > kFrontier ? full - kFrontier : 0;
    }
    publish_locked();
  }
  work_cv_.notify_all();
  return true;
}

ParallelRun::Input ParallelRun::await_input(uint64_t pos, uint64_t* safe_until) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (abort_.load(std::memory_order_relaxed)) return Input::kAbort;
    if (ended_) {
      if (pos >= stop_at_) return Input::kStop;
      *safe_until = stop_at_;
      return Input::kReady;
    }
    const uint64_t full = full_end_.load(std::memory_order_relaxed);
    if (full > kFrontier && pos < full - kFrontier) {
      *safe_until = full - kFrontier;
      return Input::kReady;
    }
    main_cv_.notify_all();
    work_cv_.wait(lock);
  }
}

void ParallelRun::start_workers() {
  for (unsigned i = 0; i < threads_; ++i) {
    auto w = std::make_unique<Worker>();
    w->buffers = DeflateWorkBuffers::Allocate();
    w->state = std::make_unique<EncoderState>();
    EncoderState& ws = *w->state;
    ws.PackLevel = s_.PackLevel;
    ws.window = w->buffers->window;
    ws.head_table = w->buffers->head_table;
    ws.chains = w->buffers->link_table.four;
    ws.jump_chains = w->buffers->link_table.eight;
    workers_.push_back(std::move(w));
  }
  for (auto& w : workers_) {
    Worker& worker = *w;
    worker.thread = std::thread([this, &worker] { worker_main(worker); });
  }
}

void ParallelRun::worker_main(Worker& w) {
  // Everything a worker does may throw, the allocations of a claim included:
  // the error goes to the calling thread, which ends the entry with it.
  try {
    for (;;) {
      uint64_t j;
      std::shared_ptr<Run> run;
      {
        std::unique_lock lock(mutex_);
        for (;;) {
          if (abort_.load(std::memory_order_relaxed)) return;
          while (next_claim_ < published_ && segments_[next_claim_].state != Segment::kFree)
            ++next_claim_;
          if (next_claim_ < published_) break;
          if (ended_) return;
          work_cv_.wait(lock);
        }
        j = next_claim_++;
        run = std::make_shared<Run>(pool_);
        run->start = segment_start(j);
        if (j > 0) {
          run->log_len = log_turns_;
          run->log = take_buffer(pool_.mutex, pool_.logs, log_turns_);
          // A position inside a match has no turn: its entry must read as none.
          std::fill_n(run->log.get(), log_turns_, ParseMark{});
          if (row_.parse == Parse::kGreedy) {
            run->log_skip_cap =
                static_cast<uint32_t>((lead_ + log_turns_) / (row_.lazy_len + 1) + 2);
            run->log_skips = take_buffer(pool_.mutex, pool_.skips, run->log_skip_cap);
          }
        }
        take_symbols(run->out);
        segments_[j].state = Segment::kClaimed;
        segments_[j].ahead = run;
        w.fill_pos.store(run_origin(j), std::memory_order_release);
        main_cv_.notify_all();
      }
      parse_segment(w, j, run);
      w.fill_pos.store(kNone, std::memory_order_release);
    }
  } catch (...) {
    std::lock_guard lock(mutex_);
    if (!error_) error_ = std::current_exception();
    abort_.store(true);
    w.fill_pos.store(kNone, std::memory_order_release);
    work_cv_.notify_all();
    main_cv_.notify_all();
  }
}

void ParallelRun::parse_segment(Worker& w, uint64_t j, const std::shared_ptr<Run>& run) {
  EncoderState& ws = *w.state;
  const uint64_t origin = run_origin(j);
  StoreReader reader(*this, w.fill_pos, origin);
  ws.host = &reader;
  ws.bytes_read = 0;
  // Lazy levels insert every position: the 32 KiB before the segment only
  // need inserting. Greedy ones are parsed from there.
  const unsigned insert_only =
      row_.parse == Parse::kLazy ? static_cast<unsigned>(segment_start(j) - origin) : 0;
  start_run(ws, origin, insert_only);
  RunDriver driver(*this, j, run);
  for (;;) {
    run_parse(ws, driver);
    if (!driver.goes_on()) break;
    ws.resume_len = driver.resume_mark().len;
    ws.resume_pending = driver.resume_mark().pending;
  }
}

// Brings the single-threaded window's slides and position up to a turn
// starting at input offset turn; the block coder reads them only to end a
// block or to judge one early.
void ParallelRun::reach_turn(uint64_t turn) {
  EncoderState& s = s_;
  const uint64_t slides = slides_before(turn);
  if (slides != slides_) {
    s.block_origin -= static_cast<int32_t>((slides - slides_) * kWindowHalf);
    slides_ = slides;
  }
  s.cur_pos = static_cast<unsigned>(turn - slides * kWindowHalf);
}

// The tally of `count` symbols of a run from symbol n (and match dx on), none
// of which can end a block. A tallied run's whole pieces are added up as the
// run counted them, except near the run's end, where a greedy parse's spans
// are wanted should the ordinary loop go on from there.
void ParallelRun::tally_bulk(const Run& run, size_t n, size_t& dx, size_t count) {
  const SymbolRun& in = run.out;
  const size_t end = n + count;
  if (in.tallied) {
    const size_t whole_end = end & ~(kPieceSymbols - 1);
    const size_t first = (n + kPieceSymbols - 1) & ~(kPieceSymbols - 1);
    if (first < whole_end) {
      tally_each(in, n, dx, first - n);
      n = first;
      while (n < whole_end) {
        const size_t piece = n >> kPieceBits;
        const uint32_t covers = in.starts[piece + 1].covered - in.starts[piece].covered;
        if (cover_ + covers + 2 * kWindowHalf > run.end_pos) break;
        add_piece(in, n, dx);
        n += kPieceSymbols;
      }
    }
  }
  tally_each(in, n, dx, end - n);
}

// Adds the piece of a tallied run that starts at symbol n to the block.
void ParallelRun::add_piece(const SymbolRun& in, size_t n, size_t& dx) {
  EncoderState& s = s_;
  const size_t piece = n >> kPieceBits;
  const PieceStart from = in.starts[piece];
  const PieceStart to = in.starts[piece + 1];
  DEFLATE_CHECK(from.matches == dx, "piece out of step");
  const uint16_t* const tally = in.tallies.get() + piece * kTallyCodes;
  for (unsigned c = 0; c < kLitLenCodes; ++c) {
    s.lit_tree[c].fc = static_cast<uint16_t>(s.lit_tree[c].fc + tally[c]);
  }
  for (unsigned c = 0; c < kDistSymbols; ++c) {
    s.dist_tree[c].fc = static_cast<uint16_t>(s.dist_tree[c].fc + tally[kLitLenCodes + c]);
  }
  const unsigned first = s.sym_count;
  std::memcpy(s.sym_bytes + first, in.bytes.get() + n, kPieceSymbols);
  const size_t matches = to.matches - from.matches;
  std::memcpy(s.sym_dists + s.dist_count, in.dists.get() + dx, matches * sizeof(uint16_t));
  // The piece's kind bits, shifted to where its symbols go in the block
  // (whose bits are clear from there on).
  const uint8_t* const kinds = in.kinds.get() + n / 8;
  uint8_t* const block_kinds = s.sym_kinds + first / 8;
  const unsigned shift = first & 7;
  if (shift == 0) {
    std::memcpy(block_kinds, kinds, kPieceSymbols / 8);
  } else {
    for (size_t i = 0; i < kPieceSymbols / 8; ++i) {
      block_kinds[i] = static_cast<uint8_t>(block_kinds[i] | (kinds[i] << shift));
      block_kinds[i + 1] = static_cast<uint8_t>(kinds[i] >> (8 - shift));
    }
  }
  s.sym_count = first + static_cast<unsigned>(kPieceSymbols);
  s.dist_count += static_cast<unsigned>(matches);
  dx += matches;
  cover_ += to.covered - from.covered;
}

// The tally of `count` symbols of a run from symbol n (and match dx on), one
// by one. Each literal's count is raised in one of two tables in turn:
// raising one count again and again waits for its own store.
void ParallelRun::tally_each(const SymbolRun& in, size_t n, size_t& dx, size_t count) {
  if (count == 0) return;
  EncoderState& s = s_;
  const bool greedy = row_.parse == Parse::kGreedy;
  const unsigned lazy_len = row_.lazy_len;
  const uint8_t* const bytes = in.bytes.get() + n;
  const uint16_t* const dists = in.dists.get() + dx;
  const unsigned first = s.sym_count;
  std::memcpy(s.sym_bytes + first, bytes, count);
  uint8_t* const block_kinds = s.sym_kinds;
  uint16_t* const block_dists = s.sym_dists + s.dist_count;
  uint32_t literals[2][kLiterals] = {};
  uint32_t lengths[kLengthCodes] = {};
  uint32_t distances[kDistSymbols] = {};
  SkipSpan* const spans = span_scratch_.get();
  size_t matches = 0;
  size_t long_matches = 0;
  uint64_t cover = cover_;
  for (size_t i = 0; i < count; ++i) {
    const size_t k = n + i;
    const unsigned b = bytes[i];
    if (in.is_match(k)) {
      const unsigned d = dists[matches];
      DEFLATE_CHECK(d < kMaxDist, "ct_tally: bad match");
      block_dists[matches++] = static_cast<uint16_t>(d);
      ++lengths[kTables.len_code_of[b]];
      ++distances[d_code(d)];
      const size_t j = first + i;
      block_kinds[j >> 3] = static_cast<uint8_t>(block_kinds[j >> 3] | (1u << (j & 7)));
      const unsigned len = b + kMinMatch;
      if (greedy && len > lazy_len) spans[long_matches++] = SkipSpan{cover + 1, cover + len};
      cover += len;
    } else {
      ++literals[i & 1][b];
      cover += 1;
    }
  }
  for (unsigned c = 0; c < kLiterals; ++c) {
    s.lit_tree[c].fc = static_cast<uint16_t>(s.lit_tree[c].fc + literals[0][c] + literals[1][c]);
  }
  for (unsigned c = 0; c < kLengthCodes; ++c) {
    s.lit_tree[kLiterals + 1 + c].fc =
        static_cast<uint16_t>(s.lit_tree[kLiterals + 1 + c].fc + lengths[c]);
  }
  for (unsigned c = 0; c < kDistSymbols; ++c) {
    s.dist_tree[c].fc = static_cast<uint16_t>(s.dist_tree[c].fc + distances[c]);
  }
  true_skips_.insert(true_skips_.end(), spans, spans + long_matches);
  s.sym_count = first + static_cast<unsigned>(count);
  s.dist_count += static_cast<unsigned>(matches);
  dx += matches;
  cover_ = cover;
}

// Feeds one run's symbols [from_sym, to_sym) to the block coder as the
// single-threaded loop would have, ending blocks where it would. Only the
// tally of a block's last possible symbol, or of every 4,096th at the levels
// that end blocks early, can end a block: the symbols before it are copied
// and counted in bulk, without the tally's checks.
void ParallelRun::split_symbols(const Run& run, size_t from_sym, size_t to_sym, size_t from_dist) {
  EncoderState& s = s_;
  const SymbolRun& in = run.out;
  const bool lazy = row_.parse == Parse::kLazy;
  const unsigned lazy_len = row_.lazy_len;
  // The turn that records a symbol starts at it (greedy) or just after it
  // (lazy).
  const uint64_t turn_offset = lazy ? 1 : 0;
  const uint8_t* const bytes = in.bytes.get();
  const uint16_t* const dists = in.dists.get();
  size_t n = from_sym;
  size_t dx = from_dist;
  while (n < to_sym) {
    const unsigned count = s.sym_count;
    const unsigned checked = s.early_end ? (count / 4096 + 1) * 4096 : kMaxBlockSymbols;
    const size_t bulk =
        std::min<size_t>(to_sym - n, std::min(checked, kMaxBlockSymbols) - count) - 1;
    if (bulk != 0) {
      tally_bulk(run, n, dx, bulk);
      n += bulk;
    }
    // The symbol whose tally may end the block.
    const uint64_t start = cover_;
    if (s.early_end && ((s.sym_count + 1) & 0xFFF) == 0) reach_turn(start + turn_offset);
    bool flush;
    if (in.is_match(n)) {
      const unsigned len = bytes[n] + kMinMatch;
      flush = ct_tally(s, dists[dx++] + 1u, bytes[n]);
      cover_ += len;
      if (!lazy && len > lazy_len) true_skips_.push_back(SkipSpan{start + 1, start + len});
    } else {
      flush = ct_tally(s, 0, bytes[n]);
      cover_ += 1;
    }
    ++n;
    if (flush) {
      reach_turn(start + turn_offset);
      close_split_block(cover_);
    }
  }
  forget_spans(true_skips_, cover_ - std::min<uint64_t>(cover_, 3 * kWindowHalf));
}

void ParallelRun::close_split_block(uint64_t end) {
  EncoderState& s = s_;
  const auto stored_len = static_cast<uint32_t>(end - block_start_);
  const uint8_t* data = nullptr;
  if (s.block_origin >= 0) {
    copy_input(block_start_, stored_.get(), stored_len);
    data = stored_.get();
  }
  s.cur_pos = static_cast<unsigned>(end - slides_ * kWindowHalf);
  if (s.aside != nullptr) {
    s.aside->close_block(s, data, stored_len, false);
  } else {
    finish_block(s, data, stored_len, false);
  }
  s.block_origin = static_cast<int32_t>(s.cur_pos);
  block_start_ = end;
}

// Takes what the runs have ready; kTail once the spliced parse has reached
// the stop (current_ is then the run that ended there).
ParallelRun::Split ParallelRun::split_available() {
  Split result = Split::kNothing;
  for (;;) {
    std::shared_ptr<Run> run;
    {
      std::lock_guard lock(mutex_);
      if (!current_) {
        if (segments_.empty() || segments_[0].state != Segment::kClaimed) return result;
        current_ = segments_[0].ahead;
      }
      if (!current_->done) return result;
      run = current_;
    }
    // A run the splice goes through is never dropped: its predecessor met it
    // or it goes on from one.
    DEFLATE_CHECK(!run->dropped, "spliced run was dropped");
    split_symbols(*run, current_sym_, run->end_mark.symbols, current_dist_);
    {
      // Nobody reads a run's symbols after the splice has taken them.
      std::lock_guard lock(pool_.mutex);
      pool_.symbols.push_back(std::move(run->out));
    }
    DEFLATE_CHECK(cover_ + (run->end_mark.pending ? 1 : 0) == run->end_pos, "splice out of step");
    result = Split::kProgress;
    if (run->stopped) return Split::kTail;
    std::lock_guard lock(mutex_);
    current_ = run->next;
    current_sym_ = run->next_mark.symbols;
    current_dist_ = run->next_mark.matches;
    // Segments behind the splice are not needed any more.
    const uint64_t behind = cover_ / segment_;
    for (uint64_t j = 0; j < behind && j < segments_.size(); ++j) segments_[j].ahead.reset();
  }
}

uint64_t ParallelRun::finish_serially() {
  QueueHost queue(host_);
  queue.owner = this;
  queue.next_chunk = 0;
  queue.end_chunk = chunks_;
  s_.host = &queue;
  start_matching(s_);
  const uint64_t size = parse(s_);
  s_.host = &host_;
  return size;
}

// Goes on with the ordinary loop from the turn where run stopped, in the
// state the single-threaded encoder has there.
uint64_t ParallelRun::finish_from(const Run& run) {
  EncoderState& s = s_;
  const uint64_t q = run.end_pos;
  const uint64_t slides = slides_before(q);
  const uint64_t base = slides * kWindowHalf;
  const uint64_t filled = reads_before(q) * kChunk;
  DEFLATE_CHECK(filled <= full_end_.load(), "tail before its reads");
  copy_input(base, s.window, static_cast<size_t>(filled - base));
  if (slides != slides_) {
    s.block_origin -= static_cast<int32_t>((slides - slides_) * kWindowHalf);
    slides_ = slides;
  }
  s.window_base = base;
  s.cur_pos = static_cast<unsigned>(q - base);
  s.lookahead = static_cast<unsigned>(filled - q);
  s.input_done = false;
  s.bytes_read = filled;
  std::memset(s.head_table, 0, kWindowHalf * sizeof s.head_table[0]);
  const unsigned from = s.cur_pos > kWindowHalf ? s.cur_pos - kWindowHalf : 0;
  rebuild_chains(s, from, s.cur_pos, true_skips_);
  s.resume_len = run.end_mark.len;
  s.resume_pending = run.end_mark.pending;
  s.match_pos = run.end_mark.len >= kMinMatch ? (s.cur_pos - run.end_mark.dist) & 0xFFFF : 0;
  QueueHost queue(host_);
  queue.owner = this;
  queue.next_chunk = reads_before(q);
  queue.end_chunk = chunks_;
  s.host = &queue;
  const uint64_t size = parse(s);
  s.host = &host_;
  return size;
}

uint64_t ParallelRun::compress() {
  bool started = false;
  for (;;) {
    bool progressed = false;
    bool ended;
    {
      std::lock_guard lock(mutex_);
      if (error_) std::rethrow_exception(error_);
      ended = ended_;
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
      if (!(current_ && current_->done)) main_cv_.wait_for(lock, std::chrono::milliseconds(1));
    }
  }
}

}  // namespace

uint64_t deflate_parallel(EncoderState& s, DeflateWorkBuffers& buffers, unsigned threads,
                          size_t segment_bytes) {
  ParallelRun run(s, buffers, threads, segment_bytes);
  return run.compress();
}

}  // namespace deflate_internal
