// Names inside archives: the platform's text (UTF-8) to the archive's OEM code
// page (437) and back. A name that code page 437 cannot hold is kept in UTF-8
// and flagged, so that no name is lost.
#pragma once

#include <string>
#include <string_view>

// A name as it is stored in an archive.
struct TOemName {
  std::string bytes;
  // The bytes are UTF-8; the archive must announce it (language encoding bit).
  bool utf8 = false;
};

// Code page 437 when every character of the name has a form there (é becomes
// 0x82), else UTF-8 with utf8 set. A name that is not valid UTF-8 is kept
// byte for byte with utf8 clear.
TOemName AnsiToOem(std::string_view ansi);

// The platform's text for a stored name: the bytes themselves when utf8 is
// set, else code page 437 decoded to UTF-8.
std::string OemToAnsi(std::string_view oem, bool utf8);

// True when text is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);
