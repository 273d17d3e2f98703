// Names as dbzip prints them, in its plain lines (quoted as a shell reads
// them back) and in its JSON lines: whatever could end, erase or turn a line,
// or pass for the report's separators, is escaped in both.
#include "PrintedName.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Printed {
  std::string name;
  std::string plain;  // QuoteName
  std::string json;   // JsonString, without its quotes
};

TEST(PrintedNameTest, WhatCouldForgeOrTurnALineIsEscapedInPlainAndJsonOutput) {
  std::vector<Printed> cases = {
      {"Sales 2024.mdf", "Sales 2024.mdf", "Sales 2024.mdf"},
      {"caf\xC3\xA9:x.mdf", "caf\xC3\xA9:x.mdf", "caf\xC3\xA9:x.mdf"},
      // The report's separator alone, which could forge "NAME: reason".
      {"a: b", "'a:'' b'", "a: b"},
      {"a\"b\\c", "a\"b\\c", "a\\\"b\\\\c"},
      // Bytes that are not UTF-8: a lone byte, an overlong '/', a surrogate,
      // a sequence cut short.
      {"\xFF", "$'\\377'", "\\ufffd"},
      {"\xC0\xAF", "$'\\300\\257'", "\\ufffd\\ufffd"},
      {"\xED\xA0\x80", "$'\\355\\240\\200'", "\\ufffd\\ufffd\\ufffd"},
      {"a\xE2\x80", "'a'$'\\342\\200'", "a\\ufffd\\ufffd"},
      // C1 controls (NEL ends a line for Unicode line splitting), the line
      // and paragraph separators, and the controls that turn the direction.
      {"a\xC2\x85z", "'a'$'\\302\\205''z'", "a\\u0085z"},
      {"a\xC2\x9Bz", "'a'$'\\302\\233''z'", "a\\u009bz"},
      {"a\xE2\x80\xA8z", "'a'$'\\342\\200\\250''z'", "a\\u2028z"},
      {"a\xE2\x80\xA9z", "'a'$'\\342\\200\\251''z'", "a\\u2029z"},
      {"a\xE2\x80\x8Fz", "'a'$'\\342\\200\\217''z'", "a\\u200fz"},
      {"a\xE2\x80\xAEz", "'a'$'\\342\\200\\256''z'", "a\\u202ez"},
      {"a\xE2\x81\xA6z", "'a'$'\\342\\201\\246''z'", "a\\u2066z"},
  };
  // Every C0 control and DEL: the shell's named escape where it has one,
  // else octal; JSON's \u form.
  const char* const named[] = {"a", "b", "t", "n", "v", "f", "r"};
  for (int c = 0; c <= 0x7F; c = c == 0x1F ? 0x7F : c + 1) {
    char octal[8], unicode[8];
    std::snprintf(octal, sizeof octal, "\\%03o", c);
    std::snprintf(unicode, sizeof unicode, "\\u%04x", c);
    const std::string escape = c >= 7 && c <= 13 ? std::string("\\") + named[c - 7] : octal;
    cases.push_back({std::string("a") + static_cast<char>(c) + "z", "'a'$'" + escape + "''z'",
                     std::string("a") + unicode + "z"});
  }
  for (const Printed& p : cases) {
    EXPECT_EQ(QuoteName(p.name), p.plain) << p.plain;
    EXPECT_EQ(JsonString(p.name), '"' + p.json + '"') << p.plain;
  }
}

}  // namespace
