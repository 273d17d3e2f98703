#include "Utf8.h"

std::optional<char32_t> NextUtf8(std::string_view text, size_t& pos, TSurrogates surrogates) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  size_t extra;
  char32_t cp;
  char32_t least;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, least = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() - pos <= extra) return std::nullopt;
  for (size_t i = 1; i <= extra; ++i) {
    const unsigned char c = byte(pos + i);
    if ((c & 0xC0) != 0x80) return std::nullopt;
    cp = cp << 6 | (c & 0x3F);
  }
  if (cp < least || cp > 0x10FFFF) return std::nullopt;
  if (cp >= 0xD800 && cp <= 0xDFFF && surrogates == TSurrogates::Refused) return std::nullopt;
  pos += extra + 1;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}
