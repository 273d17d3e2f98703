// Windows only: the program's text (UTF-8) to the UTF-16 of the Win32 calls
// and back, for any code that calls Windows itself (the console, the windows)
// without taking the platform layer's own header.
#pragma once

#ifndef _WIN32
#error "Win32Text.h is for the Windows build only"
#endif

#include <string>
#include <string_view>

namespace win32 {

// UTF-8 to UTF-16. Bytes that are not well-formed UTF-8 become U+FFFD, except
// the encoded lone surrogates that Narrow produces, so every name the system
// gives comes back to the same UTF-16 name.
std::wstring Widen(std::string_view utf8);
// UTF-16 to UTF-8; a lone surrogate is kept in its three-byte form.
std::string Narrow(std::wstring_view utf16);

}  // namespace win32
