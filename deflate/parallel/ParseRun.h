// What a stretch of an entry's input parsed away from the block coder, for
// the parallel encoder, is made of: the run's symbols, its parse's marks,
// the spans a greedy parse leaves out of its chains, and the control through
// which the parse reports to the engine; and the parse itself (ParseRun.cpp):
// the same steps as the single-threaded loops, with the symbols recorded in
// the run's own buffers, no block ends, and a stop where the control says.
// Positions here are input offsets (window_base + cur_pos), which do not
// depend on when the window slid.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "EncoderState.h"
#include "LevelTable.h"

namespace deflate_internal {

// A tallied run counts the codes of each piece of this many symbols as it
// records them, so that the splice adds up whole pieces instead of counting
// symbol by symbol.
constexpr unsigned kPieceBits = 11;
constexpr size_t kPieceSymbols = size_t{1} << kPieceBits;
// A piece's counts: the literal/length codes, as the block coder's tree
// numbers them, then the distance codes.
constexpr unsigned kLitLenCodes = kLiterals + 1 + kLengthCodes;
constexpr unsigned kTallyCodes = kLitLenCodes + kDistSymbols;

// Whether a level's runs are tallied: a greedy level whose blocks end only
// when full, so that the splice can take whole pieces.
constexpr bool runs_tallied(const LevelParams& row) {
  return row.parse == Parse::kGreedy && !row.early_end;
}

// Where a piece starts in its run's counts.
struct PieceStart {
  uint32_t covered;  // input bytes the run's symbols before it cover
  uint32_t matches;  // of those symbols, matches
};

struct SymbolRun;

// Where a parse records its symbols: a run's buffers and counts, as a loop
// keeps them in registers. kTally: the run is tallied.
struct SymbolCursor {
  uint8_t* bytes;
  uint16_t* dists;
  uint8_t* kinds;
  size_t count;
  size_t matches;
  uint16_t* tally;   // tallied: the current piece's counts
  uint32_t covered;  // tallied: input bytes the symbols cover
  SymbolRun* run;

  // A match sets its kind bit in kinds, which are clear from count on, and a
  // literal leaves its bit 0: a branch on the count would mispredict every
  // eighth symbol.
  template <bool kTally = false>
  void literal(uint8_t c) {
    bytes[count++] = c;
    if constexpr (kTally) {
      ++tally[c];
      ++covered;
      if ((count & (kPieceSymbols - 1)) == 0) next_piece();
    }
  }
  template <bool kTally = false>
  void match(unsigned dist, unsigned lc) {
    const size_t n = count++;
    kinds[n >> 3] = static_cast<uint8_t>(kinds[n >> 3] | (1u << (n & 7)));
    bytes[n] = static_cast<uint8_t>(lc);
    dists[matches++] = static_cast<uint16_t>(dist - 1);
    if constexpr (kTally) {
      ++tally[kLiterals + 1 + kTables.len_code_of[lc]];
      ++tally[kLitLenCodes + d_code(dist - 1)];
      covered += lc + kMinMatch;
      if ((count & (kPieceSymbols - 1)) == 0) next_piece();
    }
  }
  void next_piece();
};

// The symbols of a run in the block coder's layout, in buffers that never
// grow while a parse writes them: its runner makes room between turns.
struct SymbolRun {
  std::unique_ptr<uint8_t[]> bytes;   // literal byte, or match length - 3
  std::unique_ptr<uint16_t[]> dists;  // match distance - 1, one per match
  std::unique_ptr<uint8_t[]> kinds;   // bit n (of byte n / 8): symbol n is a match; 0 from count on
  // Tallied runs: kTallyCodes counts for each piece up to the current one,
  // and where each piece starts.
  std::unique_ptr<uint16_t[]> tallies;
  std::unique_ptr<PieceStart[]> starts;
  size_t count = 0;    // symbols recorded
  size_t matches = 0;  // of them, matches
  uint32_t covered = 0;
  size_t capacity = 0;
  bool tallied = false;

  SymbolRun() = default;
  SymbolRun(SymbolRun&& other) noexcept { *this = std::move(other); }
  SymbolRun& operator=(SymbolRun&& other) noexcept {
    bytes = std::move(other.bytes);
    dists = std::move(other.dists);
    kinds = std::move(other.kinds);
    tallies = std::move(other.tallies);
    starts = std::move(other.starts);
    count = std::exchange(other.count, 0);
    matches = std::exchange(other.matches, 0);
    covered = std::exchange(other.covered, 0);
    capacity = std::exchange(other.capacity, 0);
    tallied = std::exchange(other.tallied, false);
    return *this;
  }

  // Forgets the symbols and makes room for at least `most`, tallied or not.
  void reset(size_t most, bool tally) {
    clear();
    if (tally != tallied) {
      tallied = tally;
      capacity = 0;
    }
    if (capacity < most) grow(most);
    if (tallied) open_piece();
  }
  // Forgets the symbols, keeping the room.
  void forget() {
    clear();
    if (tallied) open_piece();
  }
  // Makes room for `more` symbols beyond those recorded, keeping them.
  void reserve_more(size_t more) {
    if (capacity - count < more) grow(std::max(count + more, 2 * capacity));
  }
  size_t room() const { return capacity - count; }

  SymbolCursor cursor() {
    uint16_t* const tally =
        tallied ? tallies.get() + (count >> kPieceBits) * size_t{kTallyCodes} : nullptr;
    return {bytes.get(), dists.get(), kinds.get(), count, matches, tally, covered, this};
  }
  // Takes the counts of a cursor from cursor() that recorded symbols.
  void advance_to(const SymbolCursor& at) {
    count = at.count;
    matches = at.matches;
    covered = at.covered;
  }
  void literal(uint8_t c) {
    SymbolCursor at = cursor();
    at.literal(c);
    advance_to(at);
  }
  void match(unsigned dist, unsigned lc) {
    SymbolCursor at = cursor();
    at.match(dist, lc);
    advance_to(at);
  }
  bool is_match(size_t n) const { return ((kinds[n >> 3] >> (n & 7)) & 1) != 0; }

  // Starts the piece that symbol `count` opens, with no codes counted.
  uint16_t* open_piece() {
    const size_t piece = count >> kPieceBits;
    starts[piece] = PieceStart{covered, static_cast<uint32_t>(matches)};
    uint16_t* const tally = tallies.get() + piece * kTallyCodes;
    std::fill_n(tally, kTallyCodes, uint16_t{0});
    return tally;
  }

 private:
  void clear() {
    if (count != 0) std::fill_n(kinds.get(), (count + 7) / 8, uint8_t{0});
    count = 0;
    matches = 0;
    covered = 0;
  }
  void grow(size_t most) {
    auto b = std::make_unique_for_overwrite<uint8_t[]>(most);
    auto d = std::make_unique_for_overwrite<uint16_t[]>(most);
    auto k = std::make_unique<uint8_t[]>(most / 8 + 1);
    if (count != 0) {
      std::copy_n(bytes.get(), count, b.get());
      std::copy_n(dists.get(), matches, d.get());
      std::copy_n(kinds.get(), (count + 7) / 8, k.get());
    }
    if (tallied) {
      const size_t pieces = (most >> kPieceBits) + 1;
      auto t = std::make_unique_for_overwrite<uint16_t[]>(pieces * kTallyCodes);
      auto p = std::make_unique_for_overwrite<PieceStart[]>(pieces);
      if (count != 0) {
        const size_t used = (count >> kPieceBits) + 1;
        std::copy_n(tallies.get(), used * kTallyCodes, t.get());
        std::copy_n(starts.get(), used, p.get());
      }
      tallies = std::move(t);
      starts = std::move(p);
    } else {
      tallies.reset();
      starts.reset();
    }
    bytes = std::move(b);
    dists = std::move(d);
    kinds = std::move(k);
    capacity = most;
  }
};

inline void SymbolCursor::next_piece() {
  run->count = count;
  run->matches = matches;
  run->covered = covered;
  tally = run->open_piece();
}

// A parse's state where one of its loop's turns starts. Two parses of the
// same input that have equal marks at the same position (and, for the greedy
// loop, the same positions in their hash chains) make the same decisions
// from there on.
struct ParseMark {
  uint16_t len;      // lazy: the previous position's match length (2: none); 0: no turn here
  uint16_t dist;     // lazy, len >= 3: position minus that match's start
  bool pending;      // lazy: a literal at position - 1 awaits its decision
  uint32_t symbols;  // symbols the run recorded before this turn
  uint32_t matches;  // of them, matches
};

inline bool same_decisions(const ParseMark& a, const ParseMark& b) {
  return a.len == b.len && a.pending == b.pending && a.dist == b.dist;
}

// Positions [begin, end) that the greedy loop left out of the hash chains
// (the inside of a long match).
struct SkipSpan {
  uint64_t begin;
  uint64_t end;
};

// What a run reports to and asks of its runner (SegmentRunner).
class RunControl {
 public:
  virtual ~RunControl() = default;
  // Called at each turn that starts at or after next_event, with the parse's
  // mark there; false ends the run at this turn (before it is made).
  virtual bool event(uint64_t pos, const ParseMark& mark) = 0;
  // Called by the greedy loop for each span it leaves out of the chains.
  virtual void skipped(const SkipSpan& span) = 0;

  uint64_t next_event = 0;
  // Spans ending at or before this are compared with nobody's: the loop
  // need not report them.
  uint64_t skip_floor = 0;
  // The greedy loop parses turns before this for their chains only, and
  // records no symbols for them.
  uint64_t record_from = 0;
  SymbolRun* out = nullptr;
};

// Parsing for the parallel encoder, a stretch at a time.

// Sets up s, whose host serves the input from offset start on, for a run
// from start: a fresh parse, after inserting the first insert_only positions
// into the hash chains without parsing them (so that the parse proper starts
// at start + insert_only with the chains it would have had).
void start_run(EncoderState& s, uint64_t start, unsigned insert_only);

// Parses from s's position until control ends the run. The input must last
// 262 bytes beyond every turn the run makes.
void run_parse(EncoderState& s, RunControl& control);

// Gives s's chains the positions [from, to) of the window, less those in the
// sorted skip spans (input offsets), as a parse that inserted them would
// have; the head table must be clear. Sets the rolling key for position to.
void rebuild_chains(EncoderState& s, unsigned from, unsigned to,
                    const std::vector<SkipSpan>& skips);

}  // namespace deflate_internal
