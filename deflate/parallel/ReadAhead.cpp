// The read-ahead: the calling thread reads the entry's input 32 KiB at a
// time, as the single-threaded encoder would while reads come back full,
// into a ring of chunks that the workers copy their windows from. A chunk is
// read over only once every worker's window and the splice have passed it.
// Workers wait here for input; the tail's ordinary loop is given the reads
// already made, in order, through QueueHost.
#include "Checks.h"
#include "ParallelEngine.h"

namespace deflate_internal {

unsigned StoreReader::ReadInput(uint8_t* buffer, unsigned count) {
  const uint64_t available = owner_.full_end_.load(std::memory_order_acquire) - next_;
  const auto n = static_cast<unsigned>(std::min<uint64_t>(count, available));
  DEFLATE_CHECK(n > 0, "run read past its input");
  owner_.copy_input(next_, buffer, n);
  next_ += n;
  fill_pos_.store(next_, std::memory_order_release);
  {
    // The calling thread may be waiting for the ring's low water to rise.
    std::lock_guard lock(owner_.mutex_);
    owner_.wake_main_locked();
  }
  return n;
}

unsigned QueueHost::ReadInput(uint8_t* buffer, unsigned count) {
  if (next_chunk == end_chunk) return host_.ReadInput(buffer, count);
  const uint64_t i = next_chunk++;
  const bool last = i + 1 == owner->chunks_;
  const unsigned n = last && owner->ended_ ? owner->short_size_ : static_cast<unsigned>(kChunk);
  DEFLATE_CHECK(count == kChunk, "read of another size than was made ahead");
  owner->copy_input(i * kChunk, buffer, std::min(n, count));
  return n;
}

void ParallelEngine::copy_input(uint64_t pos, uint8_t* out, size_t n) const {
  while (n > 0) {
    const uint64_t i = pos / kChunk;
    const auto off = static_cast<size_t>(pos % kChunk);
    const size_t m = std::min<size_t>(n, kChunk - off);
    std::memcpy(out, ring_[i % ring_.size()] + off, m);
    out += m;
    pos += m;
    n -= m;
  }
}

uint64_t ParallelEngine::low_water_locked() const {
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

// Reads the next chunk if the ring has room for it; false if it has not.
bool ParallelEngine::read_chunk() {
  uint64_t i;
  {
    std::lock_guard lock(mutex_);
    i = chunks_;
    if (i >= low_water_locked() / kChunk + ring_.size()) return false;
  }
  const unsigned placed = host_.ReadInput(ring_[i % ring_.size()], static_cast<unsigned>(kChunk));
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

ParallelEngine::Input ParallelEngine::await_input(uint64_t pos, uint64_t* safe_until) {
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
    wake_main_locked();
    work_cv_.wait(lock);
  }
}

}  // namespace deflate_internal
