// Windows only, the platform layer's own header (its Windows files, the window
// services and their tests): <windows.h> without the macros that would rename
// this program's own functions (DeleteFile, FormatMessage, ReplaceFile,
// MessageBeep...), and the conversions every Win32 call needs: UTF-8 names to
// UTF-16 (Win32Text.h, in the full "\\?\" path form) and back,
// FILETIME to local MS-DOS time, GetLastError kept in errno.
#pragma once

#ifndef _WIN32
#error "Win32.h is for the Windows build only"
#endif

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef AnsiToOem
#undef CopyFile
#undef CreateFile
#undef DeleteFile
#undef FormatMessage
#undef GetTempPath
#undef MessageBeep
#undef MoveFile
#undef OemToAnsi
#undef ReplaceFile

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "File.h"
#include "Win32Text.h"

namespace win32 {

// The UTF-16 form of a path for the file calls, the one conversion they all
// take: made absolute and clean, then given the "\\?\" prefix ("\\?\UNC\" for
// a share), so that paths of any length work without the system's long-path
// opt-in and a name such as "con.zip" or "LPT1.mdf" is a file, not a device.
// The last name is kept as it is, trailing dots and spaces too; a path that
// already starts with "\\?\" or "\\.\" is taken as given.
std::wstring FilePath(const std::string& path);

// Whether the system takes a file name for a device outside the full path
// form: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-COM9 and LPT0-LPT9 (also
// with the superscript digits 1, 2, 3), in any case, with any extension.
bool IsDeviceName(std::string_view name);

// Last-write time (UTC) to local MS-DOS date and time, clamped to
// 1980-01-01 00:00:00 .. 2107-12-31 23:59:58; 0xFFFFFFFF when it cannot be converted.
uint32_t DosDateTimeFromFileTime(const FILETIME& utc);

inline HANDLE ToHandle(THandle h) {
  return reinterpret_cast<HANDLE>(h);
}
inline THandle FromHandle(HANDLE h) {
  return reinterpret_cast<THandle>(h);
}

// The calling thread's last Win32 error, also left in errno (the error channel
// of the platform functions carries Win32 codes on Windows).
inline int LastError() {
  const int error = static_cast<int>(::GetLastError());
  errno = error;
  return error;
}
// Sets both channels to error.
inline void SetError(int error) {
  ::SetLastError(static_cast<DWORD>(error));
  errno = error;
}

}  // namespace win32
