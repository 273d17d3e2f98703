// Mask compilation, matching and the mask list, checked as tables.
#include "Masks.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Errors.h"

namespace {

std::string Repeat(const std::string& s, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += s;
  return out;
}

struct MatchCase {
  std::string mask;
  std::string name;
  bool matches;
};

class MaskMatch : public testing::TestWithParam<MatchCase> {};

TEST_P(MaskMatch, MatchesAsTabled) {
  const MatchCase& c = GetParam();
  EXPECT_EQ(TMask(c.mask).MatchName(c.name), c.matches)
      << "mask '" << c.mask << "' name '" << c.name << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Wildcards, MaskMatch,
    testing::Values(MatchCase{"*.mdf", "DATA.MDF", true}, MatchCase{"*.mdf", "data.mdf", true},
                    MatchCase{"*.mdf", ".mdf", true}, MatchCase{"*.mdf", "data.mdf.bak", false},
                    MatchCase{"*.mdf", "data.md", false}, MatchCase{"*.mdf", "a.mdf.mdf", true},
                    MatchCase{"*", "", true}, MatchCase{"*", "anything at all", true},
                    MatchCase{"", "", true}, MatchCase{"", "a", false}, MatchCase{"a?", "ab", true},
                    MatchCase{"a?", "a", false}, MatchCase{"a?", "abc", false},
                    MatchCase{"?", "", false},
                    // A `?` after a `*` is dropped.
                    MatchCase{"a*?", "a", true}, MatchCase{"*??x", "x", true},
                    MatchCase{"*?*?", "", true}, MatchCase{"?*", "", false},
                    MatchCase{"**a**", "xax", true}, MatchCase{"a*b*c", "aXbYc", true},
                    MatchCase{"a*b*c", "acb", false}, MatchCase{"a*b*c", "abcbc", true},
                    MatchCase{"*ab", "aab", true}, MatchCase{"*aab", "aaab", true},
                    MatchCase{"*a*ab", "aXaYab", true}, MatchCase{"*x*y", "xyxyx", false},
                    MatchCase{"x;y", "x;y", true}, MatchCase{"*.mdf;*.gdb", "x.mdf;y.gdb", true},
                    MatchCase{"*.mdf;*.gdb", "x.mdf", false}, MatchCase{"]!-", "]!-", true},
                    MatchCase{"a b", "A B", true}));

INSTANTIATE_TEST_SUITE_P(
    Sets, MaskMatch,
    testing::Values(MatchCase{"[a-c]x", "Bx", true}, MatchCase{"[a-c]x", "bx", true},
                    MatchCase{"[a-c]x", "dx", false}, MatchCase{"[!a-c]x", "dx", true},
                    MatchCase{"[!a-c]x", "1x", true}, MatchCase{"[!a-c]x", "ax", false},
                    MatchCase{"[!a-c]x", "Ax", false}, MatchCase{"[!a-c]x", "x", false},
                    MatchCase{"[a-c]", "", false},
                    // A range keeps the last single member: A to E.
                    MatchCase{"[a-c-e]", "d", true}, MatchCase{"[a-c-e]", "e", true},
                    MatchCase{"[a-c-e]", "f", false},
                    // A falling range adds nothing; its start stays a member.
                    MatchCase{"[z-a]", "z", true}, MatchCase{"[z-a]", "m", false},
                    MatchCase{"[z-a]", "a", false},
                    // The upper end is taken as it stands, even `]`.
                    MatchCase{"[a-]]", "]", true}, MatchCase{"[a-]]", "B", true},
                    MatchCase{"[a-]]", "^", false}, MatchCase{"[A-c]", "b", true},
                    MatchCase{"[*?[!]", "!", true}, MatchCase{"[*?[!]", "[", true},
                    MatchCase{"[*?[!]", "*", true}, MatchCase{"[*?[!]", "a", false},
                    MatchCase{"[!!]", "!", false}, MatchCase{"[!!]", "a", true},
                    MatchCase{"*[0-9]", "db7", true}, MatchCase{"*[0-9]", "db7x", false},
                    MatchCase{"*[!.]", "a.b", true}, MatchCase{"*[!.]", "ab.", false}));

// Codes 128 to 255 are compared as they stand: no folding beyond ASCII.
INSTANTIATE_TEST_SUITE_P(
    CaseFolding, MaskMatch,
    testing::Values(MatchCase{"\xE9", "\xE9", true}, MatchCase{"\xE9", "\xC9", false},
                    MatchCase{"\xC9", "\xE9", false}, MatchCase{"caf\xC3\xA9", "CAF\xC3\xA9", true},
                    MatchCase{"caf\xC3\xA9", "caf\xC3\x89", false},
                    MatchCase{"[\xE0-\xFF]", "\xE9", true}, MatchCase{"[\xE0-\xFF]", "\xC9", false},
                    MatchCase{"[!\xE9]", "\xC9", true}, MatchCase{"*\xFF", "a\xFF", true},
                    MatchCase{"[a-z]", "\xE1", false}, MatchCase{"z", "Z", true},
                    MatchCase{"@", "`", false}, MatchCase{"{", "[", false}));

struct InvalidCase {
  std::string mask;
  int position;
  // The character at fault, inside the mask.
  EMaskError::TFault fault;
  size_t at;
};

class MaskInvalid : public testing::TestWithParam<InvalidCase> {};
constexpr auto U = EMaskError::TFault::UnclosedSet;
constexpr auto E = EMaskError::TFault::EmptySet;
constexpr auto R = EMaskError::TFault::RangeFirst;
constexpr auto S = EMaskError::TFault::TooManyStars;

TEST_P(MaskInvalid, RaisesTheMaskErrorAtItsPosition) {
  const InvalidCase& c = GetParam();
  try {
    TMask mask(c.mask);
    ADD_FAILURE() << "'" << c.mask << "' compiled";
  } catch (const EMaskError& e) {
    EXPECT_EQ(e.Message(),
              "'" + c.mask + "' is an invalid mask at (" + std::to_string(c.position) + ")");
    EXPECT_EQ(static_cast<int>(e.Fault), static_cast<int>(c.fault)) << c.mask;
    EXPECT_EQ(e.At, c.at) << c.mask;
    EXPECT_TRUE(e.At >= 1 && e.At <= c.mask.size()) << c.mask;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, MaskInvalid,
                         testing::Values(InvalidCase{"[abc", 5, U, 1}, InvalidCase{"[", 2, U, 1},
                                         InvalidCase{"x[", 3, U, 2}, InvalidCase{"[!", 3, U, 1},
                                         InvalidCase{"[]", 2, E, 2}, InvalidCase{"[!]", 3, E, 3},
                                         InvalidCase{"[]]", 2, E, 2}, InvalidCase{"a[]b", 3, E, 3},
                                         InvalidCase{"[-a]", 2, R, 2},
                                         InvalidCase{"[!-a]", 3, R, 3}, InvalidCase{"[a-", 4, U, 1},
                                         InvalidCase{"[a-]", 5, U, 1},
                                         InvalidCase{"*.mdf[", 7, U, 6},
                                         // The 31st skip-to state: the end state, a literal, a set.
                                         InvalidCase{Repeat("a*", 31), 63, S, 62},
                                         InvalidCase{Repeat("*a", 31), 62, S, 62},
                                         InvalidCase{Repeat("*a", 30) + "*", 62, S, 61},
                                         InvalidCase{Repeat("*a", 30) + "*?", 63, S, 62},
                                         InvalidCase{Repeat("*[ab]", 31), 155, S, 155}));

TEST(MaskLimits, ThirtySkipToStatesCompile) {
  for (const std::string& mask : {Repeat("*a", 30), Repeat("a*", 30), Repeat("**a", 30),
                                  Repeat("*?a", 30), Repeat("*[ab]", 30)}) {
    EXPECT_NO_THROW(TMask{mask}) << mask;
  }
  const TMask thirty(Repeat("*a", 30));
  EXPECT_TRUE(thirty.MatchName(Repeat("xa", 30)));
  EXPECT_FALSE(thirty.MatchName(Repeat("a", 29)));
}

// Many `*` groups against a long name that fails late: every combination of
// positions would be tried by a naive backtracker.
TEST(MaskMatching, ManyStarGroupsDoNotBlowUp) {
  const TMask mask(Repeat("*a", 29) + "*b");
  EXPECT_FALSE(mask.MatchName(std::string(300, 'a')));
  EXPECT_TRUE(mask.MatchName(std::string(300, 'a') + "b"));
}

TEST(MaskMatching, NamesWithNulCharacters) {
  const std::string withNul("a\0b", 3);
  EXPECT_TRUE(TMask("*").MatchName(withNul));
  EXPECT_TRUE(TMask("a?b").MatchName(withNul));
  EXPECT_FALSE(TMask("a").MatchName(withNul));
  EXPECT_FALSE(TMask("a*").MatchName(std::string_view()));
}

// An independent reading of the syntax on a token list, matched by plain
// recursion over every split, compared with the compiled matcher on random
// masks and names.
class Reference {
 public:
  explicit Reference(const std::vector<std::string>& tokens) : tokens_(tokens) {}
  bool Match(std::string_view name) const { return From(0, name, false); }

 private:
  static char Up(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
  static bool Accepts(const std::string& token, char c) {
    const char u = Up(c);
    if (token == "?") return true;
    if (token == "[a-b]") return u == 'A' || u == 'B';
    if (token == "[!a]") return u != 'A';
    return u == Up(token[0]);
  }
  bool From(size_t t, std::string_view name, bool star) const {
    if (t == tokens_.size()) {
      return star || name.empty();
    }
    const std::string& token = tokens_[t];
    if (token == "*") return From(t + 1, name, true);
    if (token == "?" && star) return From(t + 1, name, true);  // dropped after `*`
    if (star) {
      for (size_t skip = 0; skip < name.size(); ++skip)
        if (Accepts(token, name[skip]) && From(t + 1, name.substr(skip + 1), false)) return true;
      return false;
    }
    return !name.empty() && Accepts(token, name[0]) && From(t + 1, name.substr(1), false);
  }
  std::vector<std::string> tokens_;
};

TEST(MaskMatching, AgreesWithExhaustiveSearch) {
  std::mt19937 random(12345);
  const std::vector<std::string> pieces = {"a", "b", "A", "*", "*", "?", "[a-b]", "[!a]"};
  const std::string letters = "abAB";
  for (int round = 0; round < 20000; ++round) {
    std::vector<std::string> tokens(random() % 8);
    std::string mask;
    for (auto& token : tokens) {
      token = pieces[random() % pieces.size()];
      mask += token;
    }
    std::string name(random() % 10, ' ');
    for (char& c : name) c = letters[random() % letters.size()];
    ASSERT_EQ(TMask(mask).MatchName(name), Reference(tokens).Match(name))
        << "mask '" << mask << "' name '" << name << "'";
  }
}

struct SplitCase {
  std::string fileMask;
  std::vector<std::string> items;
};

class MaskSplit : public testing::TestWithParam<SplitCase> {};

TEST_P(MaskSplit, SplitsAtCommasAndTrimsSpaces) {
  EXPECT_EQ(SplitFileMask(GetParam().fileMask), GetParam().items);
}

INSTANTIATE_TEST_SUITE_P(Cases, MaskSplit,
                         testing::Values(SplitCase{"*.mdf", {"*.mdf"}},
                                         SplitCase{"*.mdf,*.gdb", {"*.mdf", "*.gdb"}},
                                         SplitCase{" *.mdf , *.gdb ", {"*.mdf", "*.gdb"}},
                                         SplitCase{"*.mdf;*.gdb", {"*.mdf;*.gdb"}},
                                         SplitCase{"", {}}, SplitCase{"   ", {}},
                                         SplitCase{"a b , c", {"a b", "c"}}, SplitCase{"a,", {"a"}},
                                         SplitCase{",,a,,b,", {"a", "b"}}, SplitCase{" , ,", {}},
                                         SplitCase{"\ta ", {"\ta"}}));

TEST(MaskList, TriesEveryItemAndRaisesForTheFirstInvalidOne) {
  const TMaskList list(" *.mdf , *.gdb ");
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list[1].FMask.Mask(), "*.gdb");
  EXPECT_TRUE(list.Matches("A.GDB"));
  EXPECT_TRUE(list.Matches("a.mdf"));
  EXPECT_FALSE(list.Matches("a.txt"));

  EXPECT_FALSE(TMaskList("").Matches(""));
  EXPECT_FALSE(TMaskList(" , ").Matches("x"));

  try {
    TMaskList bad("*.mdf, [x , [");
    ADD_FAILURE() << "compiled";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "'[x' is an invalid mask at (3)");
  }
}

}  // namespace
