// Meeting: a worker's view of one segment's parse and of the runs it goes
// on in. At each of the parse's events it logs the turn's mark near the
// run's start, waits for input, and, once past the next segment's start,
// compares its state with that segment's run's log: equal marks (and,
// greedy, equal chains) mean the two parses decide alike from there, and the
// run ends in a meeting. Without a meeting within the log, or with nobody
// parsing the next segment, the parse goes on in a new run.
#include <chrono>

#include "Checks.h"
#include "ParallelEngine.h"
#include "ParseRun.h"

namespace deflate_internal {

// A worker's view of one segment's parse and of the runs it goes on into.
class SegmentRunner : public RunControl {
 public:
  SegmentRunner(ParallelEngine& owner, uint64_t segment, std::shared_ptr<Run> run)
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
  void log_turn(uint64_t pos, const ParseMark& mark);
  // What a turn past the target's start comes to: nothing yet, a meeting
  // (the run has ended), a drop, or the parse going on in a new run.
  enum class Meeting { kNotYet, kMet, kDrop, kGoOn };
  Meeting meet(uint64_t pos, const ParseMark& mark);
  void plan_next_event(uint64_t pos);
  void close_log() {
    if (!log_closed_) {
      run_->logged.store(run_->log_len, std::memory_order_release);
      log_closed_ = true;
    }
  }
  void prune_skips(uint64_t pos) {
    forget_spans(own_skips_, pos - std::min<uint64_t>(pos, 2 * kWindowHalf));
  }

  ParallelEngine& owner_;
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

bool SegmentRunner::drop() {
  close_log();
  std::lock_guard lock(owner_.mutex_);
  run_->end_dropped();
  owner_.wake_main_locked();
  return false;
}

bool SegmentRunner::stop_here(uint64_t pos, const ParseMark& mark) {
  close_log();
  std::lock_guard lock(owner_.mutex_);
  run_->end_stopped(pos, mark);
  owner_.wake_main_locked();
  return false;
}

// Ends the run at this turn and goes on parsing in a new run (whose symbols
// the splitter can take while this one's are written).
bool SegmentRunner::hand_over(uint64_t pos, const ParseMark& mark) {
  close_log();
  auto next = std::make_shared<Run>(owner_.pool_);
  next->start = pos;
  next->discard = run_->discard;
  owner_.take_symbols(next->out);
  {
    std::lock_guard lock(owner_.mutex_);
    if (run_->discard->load(std::memory_order_relaxed)) {
      run_->end_dropped();
      owner_.wake_main_locked();
      return false;
    }
    ParseMark there = mark;
    there.symbols = 0;
    there.matches = 0;
    run_->end_in(next, pos, mark, there);
    owner_.wake_main_locked();
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

// Waits until the target's log holds entry index. The target writes its log
// a turn at a time without a lock; waking a sleeper at every entry would
// cost the parse that writes it more than this poll costs, and the target
// is seldom behind: yields first, then short sleeps.
bool SegmentRunner::await_log(uint32_t index) {
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
bool SegmentRunner::spans_agree(uint64_t pos) {
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

// Logs the turn at pos in the run's log, while the log is open.
void SegmentRunner::log_turn(uint64_t pos, const ParseMark& mark) {
  if (log_closed_) return;
  if (pos >= run_->start + run_->log_len) {
    close_log();
  } else if (pos >= run_->start) {
    const auto i = static_cast<uint32_t>(pos - run_->start);
    run_->log[i] = mark;
    run_->logged.store(i + 1, std::memory_order_release);
  }
}

// At a turn past the target segment's start: finds the target's run, and
// compares this parse's mark with the one it logged there.
SegmentRunner::Meeting SegmentRunner::meet(uint64_t pos, const ParseMark& mark) {
  if (!tgt_) {
    std::lock_guard lock(owner_.mutex_);
    if (run_->discard->load(std::memory_order_relaxed)) return Meeting::kDrop;
    Segment& seg = owner_.segment_locked(target_);
    if (seg.state != Segment::kClaimed || seg.ahead->discard->load(std::memory_order_relaxed)) {
      // Nobody parses it (yet): this parse goes on into it.
      if (seg.state == Segment::kFree) seg.state = Segment::kTaken;
      return Meeting::kGoOn;
    }
    tgt_ = seg.ahead;
  }
  const uint64_t index = pos - target_start_;
  if (index >= tgt_->log_len) {
    // No meeting within the log: the target's work is dropped, this parse
    // goes on in its place.
    std::lock_guard lock(owner_.mutex_);
    // A parse that is itself dropped leaves the target to the one that
    // took its place (hand_over then ends it).
    if (tgt_->meetings == 0 && !run_->discard->load(std::memory_order_relaxed)) {
      owner_.discard_locked(*tgt_);
    }
    return Meeting::kGoOn;
  }
  if (!await_log(static_cast<uint32_t>(index))) return Meeting::kDrop;
  const ParseMark theirs = tgt_->log[index];
  if (theirs.len == 0 || !same_decisions(theirs, mark) || !(lazy_ || spans_agree(pos))) {
    return Meeting::kNotYet;
  }
  close_log();
  std::lock_guard lock(owner_.mutex_);
  if (run_->discard->load(std::memory_order_relaxed)) {
    run_->end_dropped();
    owner_.wake_main_locked();
    return Meeting::kMet;
  }
  // A target dropped by a parse that is itself not wanted: this one goes on
  // in its place.
  if (tgt_->discard->load(std::memory_order_relaxed)) return Meeting::kGoOn;
  ++tgt_->meetings;
  run_->end_in(tgt_, pos, mark, theirs);
  owner_.wake_main_locked();
  return Meeting::kMet;
}

// Sets the position of the next event: the next turn that needs input not
// yet read, a check for being dropped, a log entry, or a place to meet; and
// makes room for the symbols up to there.
void SegmentRunner::plan_next_event(uint64_t pos) {
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
}

bool SegmentRunner::event(uint64_t pos, const ParseMark& turn_mark) {
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
      case ParallelEngine::Input::kReady:
        break;
      case ParallelEngine::Input::kStop:
        return stop_here(pos, mark);
      case ParallelEngine::Input::kAbort:
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
  log_turn(pos, mark);
  if (pos >= target_start_) {
    switch (meet(pos, mark)) {
      case Meeting::kNotYet:
        break;
      case Meeting::kMet:
        return false;
      case Meeting::kDrop:
        return drop();
      case Meeting::kGoOn:
        return hand_over(pos, mark);
    }
  }
  plan_next_event(pos);
  return true;
}

void ParallelEngine::parse_segment(Worker& w, uint64_t j, const std::shared_ptr<Run>& run) {
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
  SegmentRunner runner(*this, j, run);
  for (;;) {
    run_parse(ws, runner);
    if (!runner.goes_on()) break;
    ws.resume_len = runner.resume_mark().len;
    ws.resume_pending = runner.resume_mark().pending;
  }
}

}  // namespace deflate_internal
