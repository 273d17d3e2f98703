#include "CodePage.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>

#include "Utf8.h"

namespace {

// Code page 437, bytes 0x80..0xFF; the lower half is ASCII.
constexpr std::array<char16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  //
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  //
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  //
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  //
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  //
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  //
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  //
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  //
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  //
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  //
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  //
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  //
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  //
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  //
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  //
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// The reverse table, sorted by code point, built once.
using ReverseTable = std::array<std::pair<char16_t, unsigned char>, 128>;
const ReverseTable& Cp437Reverse() {
  static const ReverseTable table = [] {
    ReverseTable t{};
    for (size_t i = 0; i < kCp437High.size(); ++i) {
      t[i] = {kCp437High[i], static_cast<unsigned char>(0x80 + i)};
    }
    std::sort(t.begin(), t.end());
    return t;
  }();
  return table;
}

std::optional<unsigned char> ToCp437(char32_t cp) {
  if (cp < 0x80) return static_cast<unsigned char>(cp);
  const auto& table = Cp437Reverse();
  const auto it =
      std::lower_bound(table.begin(), table.end(), cp,
                       [](const auto& entry, char32_t key) { return entry.first < key; });
  if (it == table.end() || it->first != cp) return std::nullopt;
  return it->second;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  for (size_t pos = 0; pos < text.size();) {
    if (!NextUtf8(text, pos)) return false;
  }
  return true;
}

TOemName AnsiToOem(std::string_view ansi) {
  TOemName name;
  name.bytes.reserve(ansi.size());
  for (size_t pos = 0; pos < ansi.size();) {
    const auto cp = NextUtf8(ansi, pos);
    if (!cp) return {std::string(ansi), false};
    const auto oem = ToCp437(*cp);
    if (!oem) {
      // Decoding continues so that malformed text still goes byte for byte.
      if (!IsValidUtf8(ansi.substr(pos))) return {std::string(ansi), false};
      return {std::string(ansi), true};
    }
    name.bytes += static_cast<char>(*oem);
  }
  return name;
}

std::string OemToAnsi(std::string_view oem, bool utf8) {
  if (utf8) return std::string(oem);
  std::string out;
  out.reserve(oem.size());
  for (const char c : oem) {
    const auto b = static_cast<unsigned char>(c);
    AppendUtf8(out, b < 0x80 ? char32_t{b} : char32_t{kCp437High[b - 0x80]});
  }
  return out;
}
