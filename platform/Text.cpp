#include "Text.h"

std::string UpperCaseAscii(std::string_view s) {
  std::string r(s);
  for (auto& c : r) c = UpCaseAscii(c);
  return r;
}

std::string LowerCaseAscii(std::string_view s) {
  std::string r(s);
  for (auto& c : r) c = LowCaseAscii(c);
  return r;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpCaseAscii(a[i]) != UpCaseAscii(b[i])) return false;
  return true;
}

size_t FindTextAscii(std::string_view hay, std::string_view needle) {
  if (needle.size() > hay.size()) return std::string_view::npos;
  for (size_t i = 0; i + needle.size() <= hay.size(); ++i)
    if (SameTextAscii(hay.substr(i, needle.size()), needle)) return i;
  return std::string_view::npos;
}
