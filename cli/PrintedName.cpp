#include "PrintedName.h"

#include <cstdint>
#include <optional>

#include "Utf8.h"

namespace {

// The length of the UTF-8 sequence at text[i] and its code point, or 0 when
// the bytes there are not well-formed UTF-8.
size_t Utf8At(std::string_view text, size_t i, char32_t& cp) {
  size_t pos = i;
  const std::optional<char32_t> c = NextUtf8(text, pos);
  if (!c) return 0;
  cp = *c;
  return pos - i;
}

// Control characters, and the format characters that end a line or turn the
// text's direction around on a terminal.
bool Unprintable(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

// The length of the run of bytes at text[i] that must be escaped: one
// invalid byte or one unprintable character; 0 when the character there
// prints as itself (its length then in len).
size_t EscapedAt(std::string_view text, size_t i, size_t& len) {
  char32_t cp = 0;
  len = Utf8At(text, i, cp);
  if (len == 0) return 1;
  return Unprintable(cp) ? len : 0;
}

void AppendEscape(std::string& out, unsigned char c) {
  switch (c) {
    case '\a':
      out += "\\a";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\v':
      out += "\\v";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\r':
      out += "\\r";
      return;
    default:
      break;
  }
  const char octal[] = {'\\', static_cast<char>('0' + (c >> 6)),
                        static_cast<char>('0' + ((c >> 3) & 7)), static_cast<char>('0' + (c & 7))};
  out.append(octal, sizeof octal);
}

}  // namespace

std::string QuoteName(std::string_view name) {
  bool quote = name.empty() || name.find('\'') != std::string_view::npos ||
               name.find(": ") != std::string_view::npos ||
               name.find(" -> ") != std::string_view::npos ||
               // Beside a separator these would make a second " -> " that
               // overlaps it: "a ->" + " -> " reads as "a" + " -> ".
               name.ends_with(" ->") || name.starts_with("-> ");
  for (size_t i = 0, len = 0; !quote && i < name.size(); i += len) {
    if (EscapedAt(name, i, len) != 0) quote = true;
  }
  if (!quote) return std::string(name);

  enum { None, Literal, Escape } state = None;
  std::string out;
  const auto enter = [&](decltype(state) next) {
    if (state == next) return;
    if (state != None) out += '\'';
    if (next == Literal) out += '\'';
    if (next == Escape) out += "$'";
    state = next;
  };
  for (size_t i = 0, len = 0; i < name.size(); i += len) {
    if (const size_t run = EscapedAt(name, i, len); run != 0) {
      enter(Escape);
      for (size_t k = 0; k < run; ++k) AppendEscape(out, static_cast<unsigned char>(name[i + k]));
      len = run;
    } else if (name[i] == '\'') {
      enter(None);
      out += "\\'";
    } else {
      enter(Literal);
      // The separators are split by an empty quote, so that neither appears
      // in a quoted name and a line splits at its own separators only.
      const bool splitsColon = name[i] == ' ' && i >= 1 && name[i - 1] == ':';
      const bool splitsArrow = name[i] == '>' && i >= 2 && name[i - 1] == '-' && name[i - 2] == ' ';
      if (splitsColon || splitsArrow) out += "''";
      out.append(name.substr(i, len));
    }
  }
  if (state == None && (out.empty() || out.back() != '\'')) {
    enter(Literal);  // an empty name is ''
  }
  enter(None);
  return out;
}

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0, len = 0; i < text.size(); i += len) {
    if (const size_t run = EscapedAt(text, i, len); run != 0) {
      for (size_t k = 0; k < run; ++k) AppendEscape(out, static_cast<unsigned char>(text[i + k]));
      len = run;
    } else {
      out.append(text.substr(i, len));
    }
  }
  return out;
}

bool IsUtf8(std::string_view text) {
  char32_t cp = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t len = Utf8At(text, i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string JsonString(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string json = "\"";
  char32_t cp = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t len = Utf8At(text, i, cp);
    if (len == 0) {
      json += "\\ufffd";
      ++i;
      continue;
    }
    if (cp == '"' || cp == '\\') {
      json += '\\';
      json += static_cast<char>(cp);
    } else if (Unprintable(cp)) {
      // What a plain line would escape: readers that take JSON for JavaScript
      // end a line at U+2028 and U+2029, Unicode line splitting (Python's
      // splitlines) at U+0085 as well. The escape keeps the character.
      json += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) json += kHex[(cp >> shift) & 0xF];
    } else {
      json.append(text.substr(i, len));
    }
    i += len;
  }
  return json + '"';
}

std::string Base64(std::string_view text) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((text.size() + 2) / 3 * 4);
  for (size_t i = 0; i < text.size(); i += 3) {
    const auto at = [&](size_t k) {
      return i + k < text.size() ? static_cast<uint32_t>(static_cast<unsigned char>(text[i + k]))
                                 : 0u;
    };
    const uint32_t group = at(0) << 16 | at(1) << 8 | at(2);
    out += kDigits[group >> 18];
    out += kDigits[(group >> 12) & 63];
    out += i + 1 < text.size() ? kDigits[(group >> 6) & 63] : '=';
    out += i + 2 < text.size() ? kDigits[group & 63] : '=';
  }
  return out;
}
