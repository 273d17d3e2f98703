// How dbzip prints names: never so that one could forge, erase or turn a
// line of its output.
#pragma once

#include <string>
#include <string_view>

// A name as printed: as it is when it holds nothing that could forge or
// erase a line or be taken for the report's separators; otherwise quoted as
// GNU ls --quoting-style=shell-escape does, 'a'$'\n''b', so that a shell
// reads it back as the name. The separators ": " and " -> " never appear
// whole in a quoted name.
std::string QuoteName(std::string_view name);
// A reason as printed: its control characters and bytes that are not UTF-8
// as backslash escapes, so that a name inside it keeps it on one line.
std::string EscapeControls(std::string_view text);
// Whether text is UTF-8 throughout (no overlong forms, no surrogates).
bool IsUtf8(std::string_view text);
// text as a JSON string, quotes included: UTF-8 as it is, with the quote,
// the backslash and every character QuoteName escapes (control characters,
// the line and paragraph separators, the direction controls) escaped, and
// each byte that is not UTF-8 as U+FFFD. Always valid JSON; lossless when
// IsUtf8(text).
std::string JsonString(std::string_view text);
// text in standard base64 with padding.
std::string Base64(std::string_view text);
