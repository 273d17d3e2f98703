// UTF-8 and UTF-16 at the Win32 boundary, long paths, and MS-DOS times from
// FILETIME.
#include <vector>

#include "Utf8.h"
#include "Win32.h"

namespace win32 {

std::wstring Widen(std::string_view s) {
  std::wstring out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    char32_t cp = 0xFFFD;
    if (const auto decoded = NextUtf8(s, i, TSurrogates::Kept)) {
      cp = *decoded;
    } else {
      ++i;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
    }
  }
  return out;
}

std::string Narrow(std::wstring_view w) {
  std::string out;
  out.reserve(w.size());
  for (size_t i = 0; i < w.size(); ++i) {
    char32_t cp = static_cast<char16_t>(w[i]);
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < w.size()) {
      const char32_t low = static_cast<char16_t>(w[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    AppendUtf8(out, cp);
  }
  return out;
}

namespace {
// Below this many characters every file call takes a path as it is: the
// classic limit is 260 with the terminating NUL, 248 for a folder that is to
// be created or listed with "\*" appended.
constexpr size_t kClassicLimit = 240;
}  // namespace

std::wstring FilePath(const std::string& path) {
  std::wstring wide = Widen(path);
  if (wide.size() < kClassicLimit) return wide;
  if (wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0) return wide;
  // The prefix turns off the system's own clean-up of the name (".", "..",
  // forward slashes), so the name is made absolute and clean first.
  const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::vector<wchar_t> full(needed + 1);
  const DWORD got = ::GetFullPathNameW(wide.c_str(), needed + 1, full.data(), nullptr);
  if (got == 0 || got > needed) return wide;
  const std::wstring absolute(full.data(), got);
  if (absolute.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + absolute.substr(2);
  return L"\\\\?\\" + absolute;
}

uint32_t DosDateTimeFromFileTime(const FILETIME& utc) {
  constexpr uint32_t kEarliest = (1u << 5 | 1u) << 16;  // 1980-01-01 00:00:00
  constexpr uint32_t kLatest =                          // 2107-12-31 23:59:58
      ((127u << 9) | (12u << 5) | 31u) << 16 | (23u << 11) | (59u << 5) | 29u;
  SYSTEMTIME system{}, local{};
  // Times past what SYSTEMTIME holds (year 30828 on) are past 2107 too.
  if (utc.dwHighDateTime >= 0x80000000u) return kLatest;
  // The zone's rule for that date (as localtime applies it on POSIX), not
  // today's offset that FileTimeToLocalFileTime would apply: both systems then
  // pack the same file time alike.
  if (!::FileTimeToSystemTime(&utc, &system) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &system, &local)) {
    return 0xFFFFFFFFu;
  }
  if (local.wYear < 1980) return kEarliest;
  if (local.wYear > 2107) return kLatest;
  const uint32_t date = static_cast<uint32_t>(local.wYear - 1980) << 9 |
                        static_cast<uint32_t>(local.wMonth) << 5 | local.wDay;
  const uint32_t time = static_cast<uint32_t>(local.wHour) << 11 |
                        static_cast<uint32_t>(local.wMinute) << 5 | (local.wSecond / 2u);
  return date << 16 | time;
}

}  // namespace win32
