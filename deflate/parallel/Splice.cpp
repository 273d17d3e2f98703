// The splice: the calling thread takes the runs' symbols in the order the
// meetings link them and feeds them to the block coder as the
// single-threaded loop would, so that blocks end where they would; at the
// stop it rebuilds the single-threaded window and chains and finishes with
// the ordinary loop.
#include "BlockCoder.h"
#include "BlockPipeline.h"
#include "Checks.h"
#include "MatchFinder.h"
#include "ParallelEngine.h"
#include "ParseRun.h"

namespace deflate_internal {

// Brings the single-threaded window's slides and position up to a turn
// starting at input offset turn; the block coder reads them only to end a
// block or to judge one early.
void ParallelEngine::reach_turn(uint64_t turn) {
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
void ParallelEngine::tally_bulk(const Run& run, size_t n, size_t& dx, size_t count) {
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
void ParallelEngine::add_piece(const SymbolRun& in, size_t n, size_t& dx) {
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
void ParallelEngine::tally_each(const SymbolRun& in, size_t n, size_t& dx, size_t count) {
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
  SkipSpan* const spans = span_scratch_;
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
void ParallelEngine::split_symbols(const Run& run, size_t from_sym, size_t to_sym,
                                   size_t from_dist) {
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

void ParallelEngine::close_split_block(uint64_t end) {
  EncoderState& s = s_;
  const auto stored_len = static_cast<uint32_t>(end - block_start_);
  const uint8_t* data = nullptr;
  if (s.block_origin >= 0) {
    copy_input(block_start_, stored_, stored_len);
    data = stored_;
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
ParallelEngine::Split ParallelEngine::split_available() {
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

uint64_t ParallelEngine::finish_serially() {
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
uint64_t ParallelEngine::finish_from(const Run& run) {
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

}  // namespace deflate_internal
