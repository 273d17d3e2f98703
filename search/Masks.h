// File-name masks: a mask (`*`, `?`, `[set]` and literal characters) is
// compiled once into a sequence of states and then matched against many names,
// without allocating and without recursion. The folder search tests every
// directory entry against a list of them; the archive writer uses them for its
// pattern entries.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Errors.h"

// The mask error. Its message keeps the position where compilation stopped,
// which for an unclosed set lies past the mask's end; Fault and At say what is
// wrong and at which character of the mask (1-based, always inside it), for a
// message that points into the text the user typed.
class EMaskError : public Exception {
 public:
  enum class TFault {
    UnclosedSet,   // At: the set's `[`
    EmptySet,      // At: its `]`
    RangeFirst,    // At: the `-` that begins the set
    TooManyStars,  // At: the character of the state that is one too many,
                   // or the mask's last character for its end
  };
  EMaskError(std::string message, TFault fault, size_t at)
      : Exception(std::move(message)), Fault(fault), At(at) {}
  TFault Fault;
  size_t At;
};

// One compiled mask. Matching ignores the case of the ASCII letters only.
class TMask {
 public:
  // Most states of one mask that may be preceded by a `*` group.
  static constexpr int kMaxSkipTo = 30;

  // Compiles mask; raises EMaskError "'<mask>' is an invalid mask at (<pos>)"
  // for an unterminated or empty set, a set that starts with `-`, or more than
  // kMaxSkipTo `*` groups.
  explicit TMask(std::string_view mask);

  // True when the whole name matches. Never raises, never allocates.
  bool MatchName(std::string_view name) const noexcept;

  // The mask text as it was compiled.
  const std::string& Mask() const { return mask_; }

  // The 1-based position of the `-` of the first range whose upper end comes
  // before its lower one once both are upper-cased (`[z-a]`, `[_-a]`): such a
  // range adds nothing, which the mask allows but a user rarely means. 0 when
  // there is none.
  size_t ReversedRangeAt() const { return reversedRangeAt_; }

 private:
  enum class Kind : uint8_t { Literal = 0, Any = 1, Set = 2 };

  struct State {
    bool skipTo = false;  // any number of name characters may come first
    Kind kind = Kind::Literal;
    bool negate = false;            // the set was written [!...]
    unsigned char literal = 0;      // upper-cased; 0 in the end state
    std::array<uint64_t, 4> set{};  // members by character code, upper-cased

    bool Accepts(unsigned char upper) const noexcept;
  };

  // Reads the set that starts at mask[pos] (its `[`); leaves pos on its `]`.
  void CompileSet(State& state, size_t& pos);
  void Emit(State state, bool& pendingSkipTo, int& skipToCount, size_t position);
  // Raises the mask error stopped at position, for fault at character at.
  [[noreturn]] void Invalid(size_t position, EMaskError::TFault fault, size_t at) const;

  std::string mask_;
  std::vector<State> states_;  // never empty: the last one is the end state
  size_t reversedRangeAt_ = 0;
};

// An item of the mask list: one compiled mask.
struct TMultiMask {
  explicit TMultiMask(std::string_view mask) : FMask(mask) {}
  TMask FMask;
};

// Splits a comma-separated mask list into its items: spaces around an item are
// dropped, spaces inside it kept; only the comma separates, and empty items are
// left out.
std::vector<std::string> SplitFileMask(std::string_view fileMask);

// The masks of a comma-separated list, compiled in list order. A name is
// wanted when any of them matches it; an empty list wants nothing.
class TMaskList {
 public:
  // Raises the mask error of the first invalid item.
  explicit TMaskList(std::string_view fileMask);

  bool Matches(std::string_view name) const noexcept;
  size_t Count() const { return items_.size(); }
  const TMultiMask& operator[](size_t index) const { return items_[index]; }

 private:
  std::vector<TMultiMask> items_;
};
