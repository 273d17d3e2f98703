#include "Masks.h"

#include <algorithm>

#include "Errors.h"
#include "Text.h"

namespace {
unsigned char Up(unsigned char c) {
  return static_cast<unsigned char>(UpCaseAscii(static_cast<char>(c)));
}

void AddMember(std::array<uint64_t, 4>& set, unsigned code) {
  set[code >> 6] |= uint64_t{1} << (code & 63);
}
}  // namespace

bool TMask::State::Accepts(unsigned char upper) const noexcept {
  switch (kind) {
    case Kind::Literal:
      return upper == literal;
    case Kind::Any:
      return true;
    case Kind::Set:
      return (((set[upper >> 6] >> (upper & 63)) & 1) != 0) != negate;
  }
  return false;
}

TMask::TMask(std::string_view mask) : mask_(mask) {
  bool pendingSkipTo = false;
  int skipToCount = 0;
  for (size_t pos = 0; pos < mask_.size(); ++pos) {
    const auto c = static_cast<unsigned char>(mask_[pos]);
    State state;
    switch (c) {
      case '*':
        pendingSkipTo = true;
        break;
      case '?':
        // After a `*` the `?` is dropped: `*?` compiles like `*`.
        if (!pendingSkipTo) {
          state.kind = Kind::Any;
          Emit(state, pendingSkipTo, skipToCount, pos + 1);
        }
        break;
      case '[':
        state.kind = Kind::Set;
        CompileSet(state, pos);
        Emit(state, pendingSkipTo, skipToCount, pos + 1);
        break;
      default:
        state.literal = Up(c);
        Emit(state, pendingSkipTo, skipToCount, pos + 1);
        break;
    }
  }
  Emit(State{}, pendingSkipTo, skipToCount, mask_.size() + 1);  // the end state
}

void TMask::CompileSet(State& state, size_t& pos) {
  const size_t length = mask_.size();
  const size_t open = pos + 1;
  ++pos;
  if (pos < length && mask_[pos] == '!') {
    state.negate = true;
    ++pos;
  }
  int lastSingle = -1;
  bool empty = true;
  for (; pos < length && mask_[pos] != ']'; ++pos) {
    const auto c = static_cast<unsigned char>(mask_[pos]);
    if (c == '-') {
      if (lastSingle < 0) Invalid(pos + 1, EMaskError::TFault::RangeFirst, pos + 1);
      if (++pos == length) break;  // unterminated
      // The upper end is taken as it stands, even a `]`; a range leaves the
      // last single member as it was, so [a-c-e] holds A to E.
      const unsigned high = Up(static_cast<unsigned char>(mask_[pos]));
      if (high < static_cast<unsigned>(lastSingle) && reversedRangeAt_ == 0) reversedRangeAt_ = pos;
      for (unsigned code = static_cast<unsigned>(lastSingle); code <= high; ++code) {
        AddMember(state.set, code);
        empty = false;
      }
    } else {
      const unsigned char member = Up(c);
      AddMember(state.set, member);
      empty = false;
      lastSingle = member;
    }
  }
  if (pos >= length) Invalid(length + 1, EMaskError::TFault::UnclosedSet, open);
  if (empty) Invalid(pos + 1, EMaskError::TFault::EmptySet, pos + 1);
}

void TMask::Emit(State state, bool& pendingSkipTo, int& skipToCount, size_t position) {
  state.skipTo = pendingSkipTo;
  if (pendingSkipTo && ++skipToCount > kMaxSkipTo) {
    Invalid(position, EMaskError::TFault::TooManyStars, std::min(position, mask_.size()));
  }
  states_.push_back(state);
  pendingSkipTo = false;
}

void TMask::Invalid(size_t position, EMaskError::TFault fault, size_t at) const {
  throw EMaskError(
      FormatMessage("'%s' is an invalid mask at (%d)", {mask_, std::to_string(position)}), fault,
      at);
}

// Backtracking over the positions a skip-to state may take. Only the newest
// resume point is kept: once a pass reaches a skip-to state, moving an earlier
// one further right can only make this state start later, and a skip-to state
// that cannot complete the match from a position cannot from any later one
// either. This gives the same answers as keeping every resume point, in time
// proportional to the name length times the state count instead of
// exponential in the number of `*` groups.
bool TMask::MatchName(std::string_view name) const noexcept {
  const auto* text = reinterpret_cast<const unsigned char*>(name.data());
  const size_t length = name.size();
  const size_t count = states_.size();
  const size_t endState = count - 1;

  bool haveResume = false;
  size_t resumePos = 0;
  size_t resumeState = 0;

  size_t p = 0;
  size_t i = 0;
  while (i < count) {
    const State& state = states_[i];
    if (state.skipTo) {
      if (i == endState) {
        p = length;
      } else {
        while (p < length && !state.Accepts(Up(text[p]))) ++p;
      }
      if (p < length) {
        haveResume = true;
        resumePos = p + 1;
        resumeState = i;
      }
    }
    const bool passed = i == endState ? p == length : p < length && state.Accepts(Up(text[p]));
    if (passed) {
      ++p;
      ++i;
    } else if (haveResume) {
      haveResume = false;
      p = resumePos;
      i = resumeState;
    } else {
      return false;
    }
  }
  return true;
}

std::vector<std::string> SplitFileMask(std::string_view fileMask) {
  std::vector<std::string> items;
  std::string item;
  const auto finish = [&] {
    while (!item.empty() && item.back() == ' ') item.pop_back();
    // An empty item (",," or a leading comma) is left out rather than
    // compiled into a mask that only the empty name would match.
    if (!item.empty()) items.push_back(item);
    item.clear();
  };
  for (const char c : fileMask) {
    if (c == ',') {
      finish();
    } else if (c != ' ' || !item.empty()) {
      item += c;
    }
  }
  finish();
  return items;
}

TMaskList::TMaskList(std::string_view fileMask) {
  const std::vector<std::string> masks = SplitFileMask(fileMask);
  items_.reserve(masks.size());
  for (const std::string& mask : masks) items_.emplace_back(mask);
}

bool TMaskList::Matches(std::string_view name) const noexcept {
  for (const TMultiMask& item : items_)
    if (item.FMask.MatchName(name)) return true;
  return false;
}
