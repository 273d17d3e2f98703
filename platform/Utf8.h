// UTF-8 read and written in one place, for the names stored in archives
// (CodePage) and for the UTF-16 names of the Windows calls (Win32Text).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Whether the three-byte form of a surrogate (U+D800..U+DFFF) reads as a
// character. Windows names may hold a lone surrogate, which the Windows
// boundary keeps in that form so that the name comes back unchanged;
// well-formed UTF-8 has none.
enum class TSurrogates { Refused, Kept };

// Decodes the character at text[pos] and moves pos past it; nullopt, pos
// unchanged, when the bytes there are not well-formed (an overlong form, a
// sequence cut short, a value above U+10FFFF, a refused surrogate).
std::optional<char32_t> NextUtf8(std::string_view text, size_t& pos,
                                 TSurrogates surrogates = TSurrogates::Refused);

// Appends cp (at most U+10FFFF) in UTF-8; a surrogate in its three-byte form.
void AppendUtf8(std::string& out, char32_t cp);
