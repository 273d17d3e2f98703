// Text rules of the system: names are 8-bit strings (UTF-8 here) and case
// changes touch the ASCII letters only.
#pragma once

#include <string>
#include <string_view>

inline char UpCaseAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
inline char LowCaseAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

std::string UpperCaseAscii(std::string_view s);
std::string LowerCaseAscii(std::string_view s);
// Equality without regard to the case of ASCII letters.
bool SameTextAscii(std::string_view a, std::string_view b);
// Position of the first occurrence of needle in hay, comparing without regard
// to ASCII case; npos when absent.
size_t FindTextAscii(std::string_view hay, std::string_view needle);
