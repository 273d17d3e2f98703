// Parsing a stretch of an entry's input away from the block coder, for the
// parallel encoder: the same searches and decisions as the parsing loops, but
// the symbols are recorded in a run's own buffers, with no block ends, and
// the run stops where its driver says. Positions here are input offsets
// (window_base + cur_pos), which do not depend on when the window slid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "EncoderState.h"

namespace deflate_internal {

// The symbols of a run in the block coder's layout.
struct SymbolRun {
  std::vector<uint8_t> bytes;   // literal byte, or match length - 3
  std::vector<uint16_t> dists;  // match distance - 1, one per match
  std::vector<uint8_t> kinds;   // bit n (of byte n / 8): symbol n is a match

  void literal(uint8_t c) {
    if ((bytes.size() & 7) == 0) kinds.push_back(0);
    bytes.push_back(c);
  }
  void match(unsigned dist, unsigned lc) {
    const size_t n = bytes.size();
    if ((n & 7) == 0) kinds.push_back(0);
    kinds.back() = static_cast<uint8_t>(kinds.back() | (1u << (n & 7)));
    bytes.push_back(static_cast<uint8_t>(lc));
    dists.push_back(static_cast<uint16_t>(dist - 1));
  }
  bool is_match(size_t n) const { return ((kinds[n >> 3] >> (n & 7)) & 1) != 0; }
};

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

// What a run reports to and asks of its driver.
class RunControl {
 public:
  virtual ~RunControl() = default;
  // Called at each turn that starts at or after next_event, with the parse's
  // mark there; false ends the run at this turn (before it is made).
  virtual bool event(uint64_t pos, const ParseMark& mark) = 0;
  // Called by the greedy loop for each span it leaves out of the chains.
  virtual void skipped(const SkipSpan& span) = 0;

  uint64_t next_event = 0;
  SymbolRun* out = nullptr;
};

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
