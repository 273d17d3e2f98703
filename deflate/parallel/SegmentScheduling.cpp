// Scheduling: the engine's set-up, its workers, and how they claim
// segments. Segments go out (are published) as their input arrives; a
// worker claims the first free one and parses it in a new run, unless the
// parse before it has already gone on into it (taken). Dropping a run whose
// work is not wanted is here too.
#include "Checks.h"
#include "ParallelEngine.h"

namespace deflate_internal {

ParallelEngine::ParallelEngine(EncoderState& s, EngineMemory& memory, unsigned threads,
                               size_t segment)
    : s_(s),
      memory_(memory),
      host_(*s.host),
      row_(kLevelTable[s.PackLevel]),
      threads_(threads),
      segment_(std::max<uint64_t>(segment == 0 ? kDefaultSegment : segment, 1024)),
      log_turns_(static_cast<uint32_t>(std::min<uint64_t>(kLogTurns, segment_ / 2))),
      lead_(row_.parse == Parse::kLazy ? kWindowHalf : kGreedyLead),
      log_skip_cap_(row_.parse == Parse::kGreedy
                        ? static_cast<uint32_t>((lead_ + log_turns_) / (row_.lazy_len + 1) + 2)
                        : 0),
      pool_(memory.pool) {
  pool_.fit(log_turns_, log_skip_cap_);
  // The calling thread may be a whole segment behind the runs, each of which
  // reads its segment and its lead before it, and keeps 128 KiB for the end.
  // Every segment read ahead holds a run's symbols as well: a further one,
  // to let a fast run claim the next while a slow one ends, cost a mebibyte
  // of memory at level 1 and gained no time.
  const uint64_t bytes = (threads_ + 2) * std::max<uint64_t>(segment_, kChunk) + lead_ + 8 * kChunk;
  const size_t chunks = bytes / kChunk + 1;
  while (memory.ring.size() < chunks) {
    memory.ring.push_back(std::make_unique_for_overwrite<uint8_t[]>(kChunk));
  }
  ring_.resize(chunks);
  for (size_t i = 0; i < chunks; ++i) ring_[i] = memory.ring[i].get();
  if (!memory.stored) memory.stored = std::make_unique_for_overwrite<uint8_t[]>(2 * kWindowHalf);
  stored_ = memory.stored.get();
  if (row_.parse == Parse::kGreedy && !memory.span_scratch) {
    memory.span_scratch = std::make_unique_for_overwrite<SkipSpan[]>(kMaxBlockSymbols);
  }
  span_scratch_ = memory.span_scratch.get();
  // The level's row, as start_matching loads it (the block coder needs it
  // before the ordinary loop runs).
  s.good_len = row_.good_len;
  s.lazy_len = row_.lazy_len;
  s.nice_len = row_.nice_len;
  s.chain_len = row_.chain_len;
  s.early_end = row_.early_end;
}

ParallelEngine::~ParallelEngine() {
  stop_workers();
}

void ParallelEngine::stop_workers() {
  {
    std::lock_guard lock(mutex_);
    abort_.store(true);
  }
  work_cv_.notify_all();
  for (auto& w : workers_) {
    if (w->thread.joinable()) w->thread.join();
  }
}

Segment& ParallelEngine::segment_locked(uint64_t j) {
  while (segments_.size() <= j) segments_.emplace_back();
  return segments_[j];
}

void ParallelEngine::publish_locked() {
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
void ParallelEngine::discard_locked(Run& run) {
  if (run.discard->exchange(true, std::memory_order_relaxed)) return;
  for (const Run* r = &run; r->done && r->next; r = r->next.get()) {
    if (r->next->discard != run.discard) {
      --r->next->meetings;
      break;
    }
  }
}

void ParallelEngine::start_workers() {
  for (unsigned i = 0; i < threads_; ++i) {
    if (memory_.windows.size() <= i) memory_.windows.push_back(DeflateWorkBuffers::Allocate());
    auto w = std::make_unique<Worker>();
    w->buffers = memory_.windows[i].get();
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

void ParallelEngine::worker_main(Worker& w) {
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
            run->log_skip_cap = log_skip_cap_;
            run->log_skips = take_buffer(pool_.mutex, pool_.skips, run->log_skip_cap);
          }
        }
        take_symbols(run->out);
        segments_[j].state = Segment::kClaimed;
        segments_[j].ahead = run;
        w.fill_pos.store(run_origin(j), std::memory_order_release);
        wake_main_locked();
      }
      parse_segment(w, j, run);
      std::lock_guard lock(mutex_);
      w.fill_pos.store(kNone, std::memory_order_release);
      wake_main_locked();
    }
  } catch (...) {
    std::lock_guard lock(mutex_);
    if (!error_) error_ = std::current_exception();
    abort_.store(true);
    w.fill_pos.store(kNone, std::memory_order_release);
    work_cv_.notify_all();
    wake_main_locked();
  }
}

}  // namespace deflate_internal
