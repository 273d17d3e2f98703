#include "BlockPipeline.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "BlockCoder.h"

namespace deflate_internal {

unsigned OutputRecorder::ReadInput(uint8_t*, unsigned) {
  throw std::logic_error("deflate: the block coder does not read input");
}

void OutputRecorder::WriteOutput(const uint8_t* buffer, size_t item_size, size_t count) {
  const size_t n = item_size * count;
  bytes_.insert(bytes_.end(), buffer, buffer + n);
  pieces_.push_back(n);
}

void OutputRecorder::Replay(DeflateHost& host) {
  size_t offset = 0;
  for (size_t n : pieces_) {
    host.WriteOutput(bytes_.data() + offset, 1, n);
    offset += n;
  }
  // The buffers keep their room for the next block.
  bytes_.clear();
  pieces_.clear();
}

BlockPipeline::~BlockPipeline() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  coder_wake_.notify_one();
  thread_.join();
}

bool BlockPipeline::start(const EncoderState& s) {
  try {
    PipelineMemory& m = memory_;
    if (!m.slots || !m.sets || !m.coder) {
      auto slots = std::make_unique<Slot[]>(kSlots);
      for (unsigned i = 0; i < kSlots; ++i) {
        // A block's output: at most 31 bits for each of its symbols (fixed
        // codes, which a dynamic block only takes when it is cheaper), a
        // stored block of 65,536 bytes, or the kilobyte left over from the
        // one before.
        slots[i].output.Reserve(kMaxBlockSymbols * 31 / 8 + 2 * kOutBufSize + 8);
      }
      auto sets = std::make_unique<PipelineSymbols[]>(kSlots - 1);  // kind bits cleared
      auto coder = std::make_unique<EncoderState>();
      m.slots = std::move(slots);
      m.sets = std::move(sets);
      m.coder = std::move(coder);
    }
    // Kept from an entry that ended well, the slots hold no output and their
    // kind bits are clear: deflate() lets go of what a failed entry leaves.
    slots_ = m.slots.get();
    for (unsigned i = 0; i < kSlots; ++i) {
      Slot& slot = slots_[i];
      // The parser's block in progress is in the writer's buffers.
      slot.sym_bytes = i == 0 ? s.sym_bytes : m.sets[i - 1].bytes;
      slot.sym_dists = i == 0 ? s.sym_dists : m.sets[i - 1].dists;
      slot.sym_kinds = i == 0 ? s.sym_kinds : m.sets[i - 1].kinds;
    }
    coder_ = m.coder.get();
    *coder_ = s;
    coder_->aside = nullptr;
    // The tree descriptors point into the state they belong to.
    coder_->lit_desc.tree = coder_->lit_tree;
    coder_->dist_desc.tree = coder_->dist_tree;
    coder_->cl_desc.tree = coder_->cl_tree;
    thread_ = std::thread([this] { work(); });
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void BlockPipeline::work() {
  unsigned next = 0;
  for (;;) {
    unsigned until;
    {
      std::unique_lock lock(mutex_);
      coder_wake_.wait(lock, [&] { return visible_ != next || stop_; });
      // Stopped: the entry is over or abandoned, and nobody wants the rest.
      if (stop_) return;
      until = visible_;
    }
    for (; next != until; ++next) {
      Slot& slot = slots_[next % kSlots];
      std::exception_ptr error;
      try {
        code_slot(slot, slot.has_data ? slot.stored : nullptr, slot.output, false);
      } catch (...) {
        error = std::current_exception();
      }
      std::lock_guard lock(mutex_);
      if (error) {
        // The failed block and those after it are never written; the parser
        // hears of it at its next wait.
        error_ = error;
        parser_wake_.notify_one();
        return;
      }
      coded_.store(next + 1, std::memory_order_release);
      if (parser_waiting_) parser_wake_.notify_one();
    }
  }
}

void BlockPipeline::wake_coder() {
  unsignalled_symbols_ = 0;
  {
    std::lock_guard lock(mutex_);
    if (visible_ == posted_) return;
    visible_ = posted_;
  }
  coder_wake_.notify_one();
}

// Passes on the output of the oldest block in the ring once it is coded;
// with wait, waits for it, else only takes it if it is ready.
void BlockPipeline::reclaim(DeflateHost& host, bool wait) {
  if (coded_.load(std::memory_order_acquire) == reclaimed_) {
    if (!wait) return;
    std::unique_lock lock(mutex_);
    parser_waiting_ = true;
    parser_wake_.wait(
        lock, [this] { return coded_.load(std::memory_order_acquire) != reclaimed_ || error_; });
    parser_waiting_ = false;
  }
  {
    std::lock_guard lock(mutex_);
    if (error_) std::rethrow_exception(error_);
  }
  slots_[reclaimed_ % kSlots].output.Replay(host);
  ++reclaimed_;
}

// Moves the counts of the parser's block into its slot (the symbols are
// there already) and starts the parser's next block.
void BlockPipeline::fill_slot(EncoderState& s, Slot& slot) {
  for (int n = 0; n < kLitSymbols; ++n) {
    slot.lit_freq[n] = s.lit_tree[n].fc;
    s.lit_tree[n].fc = 0;
  }
  s.lit_tree[kEndBlock].fc = 1;
  for (int n = 0; n < kDistSymbols; ++n) {
    slot.dist_freq[n] = s.dist_tree[n].fc;
    s.dist_tree[n].fc = 0;
  }
  slot.sym_count = std::exchange(s.sym_count, 0);
  slot.dist_count = std::exchange(s.dist_count, 0);
}

uint64_t BlockPipeline::code_slot(const Slot& slot, const uint8_t* data, DeflateHost& host,
                                  bool last) {
  EncoderState& c = *coder_;
  for (int n = 0; n < kLitSymbols; ++n) c.lit_tree[n].fc = slot.lit_freq[n];
  for (int n = 0; n < kDistSymbols; ++n) c.dist_tree[n].fc = slot.dist_freq[n];
  c.sym_bytes = slot.sym_bytes;
  c.sym_dists = slot.sym_dists;
  c.sym_kinds = slot.sym_kinds;
  c.sym_count = slot.sym_count;
  c.dist_count = slot.dist_count;
  c.host = &host;
  return finish_block(c, data, slot.stored_len, last);
}

// Gives the parser's block to the ring and the parser the next slot.
void BlockPipeline::post(EncoderState& s, const uint8_t* data, uint32_t stored_len) {
  Slot& slot = slots_[posted_ % kSlots];
  fill_slot(s, slot);
  // The parser moves on and will slide the window; a stored block needs its
  // input as it is now.
  slot.has_data = data != nullptr;
  slot.stored_len = stored_len;
  if (data != nullptr) std::memcpy(slot.stored, data, stored_len);
  ++posted_;
  unsignalled_symbols_ += slot.sym_count;
  if (unsignalled_symbols_ >= kMaxBlockSymbols || posted_ - reclaimed_ >= kSlots - 1) {
    wake_coder();
  }
  for (;;) {
    // Output that is ready goes on at once; a slot is waited for only when
    // the parser has none left.
    const bool full = posted_ - reclaimed_ == kSlots;
    if (!full && coded_.load(std::memory_order_acquire) == reclaimed_) break;
    reclaim(*s.host, full);
  }
  // The coder cleared the kind bits of the block it wrote in this slot.
  const Slot& next = slots_[posted_ % kSlots];
  s.sym_bytes = next.sym_bytes;
  s.sym_dists = next.sym_dists;
  s.sym_kinds = next.sym_kinds;
}

uint64_t BlockPipeline::close_block(EncoderState& s, const uint8_t* data, uint32_t stored_len,
                                    bool last) {
  if (!thread_.joinable()) {
    if (last || !start(s)) {
      // One block in all, or no thread to be had: coded in place.
      if (!last) s.aside = nullptr;
      return finish_block(s, data, stored_len, last);
    }
  }
  if (!last) {
    post(s, data, stored_len);
    return 0;
  }
  wake_coder();
  while (reclaimed_ != posted_) reclaim(*s.host, true);
  // Everything before it is written: the last block goes straight to the
  // host, and finish_block clears the window, which nobody else reads now.
  Slot& slot = slots_[posted_ % kSlots];
  fill_slot(s, slot);
  slot.stored_len = stored_len;
  return code_slot(slot, data, *s.host, true);
}

}  // namespace deflate_internal
