// UTF-8 and UTF-16 at the Win32 boundary, the full path form of every file
// call, device names, and MS-DOS times from FILETIME.
#include <algorithm>
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

bool StartsWith(std::wstring_view s, std::wstring_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// The absolute, clean form of a folder or path as the system reads a name
// (current folder and drive, "." and "..", "/", runs of separators); empty
// when the system cannot make one.
std::wstring FullPathName(const std::wstring& path) {
  const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return {};
  std::vector<wchar_t> full(needed + 1);
  const DWORD got = ::GetFullPathNameW(path.c_str(), needed + 1, full.data(), nullptr);
  if (got == 0 || got > needed) return {};
  return std::wstring(full.data(), got);
}

// ASCII letters to upper case, the way the system compares device names.
wchar_t Upper(wchar_t c) {
  return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

}  // namespace

std::wstring FilePath(const std::string& path) {
  std::wstring wide = Widen(path);
  if (wide.empty() || StartsWith(wide, L"\\\\?\\") || StartsWith(wide, L"\\\\.\\")) return wide;
  // Only the folder goes through the system's clean-up: for a last name such
  // as "con.zip" it answers the device "\\.\con", and it would cut the dots
  // and spaces a real name may end in. The last name is kept as it is.
  size_t cut = wide.find_last_of(L"\\/");
  if (cut == std::wstring::npos && wide.size() >= 2 && wide[1] == L':') cut = 1;  // "C:name"
  std::wstring folder = cut == std::wstring::npos ? std::wstring() : wide.substr(0, cut + 1);
  std::wstring name = cut == std::wstring::npos ? wide : wide.substr(cut + 1);
  if (name.empty() || name == L"." || name == L"..") {
    folder = wide;
    name.clear();
  }
  std::wstring full = FullPathName(folder.empty() ? L"." : folder);
  if (full.empty()) return wide;
  if (!name.empty()) {
    if (full.back() != L'\\') full += L'\\';
    full += name;
  }
  if (StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\")) return full;
  if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

bool IsDeviceName(std::string_view name) {
  const std::wstring wide = Widen(name);
  // The part before the first dot, without the spaces that may end it.
  std::wstring_view base(wide);
  base = base.substr(0, std::min(base.find(L'.'), base.size()));
  while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
  std::wstring upper;
  for (const wchar_t c : base) upper += Upper(c);
  static constexpr std::wstring_view kNames[] = {L"CON", L"PRN",    L"AUX",
                                                 L"NUL", L"CONIN$", L"CONOUT$"};
  for (const std::wstring_view device : kNames) {
    if (upper == device) return true;
  }
  // COM0 to COM9 and LPT0 to LPT9, and with the superscript digits 1, 2, 3.
  if (upper.size() != 4 || (upper.compare(0, 3, L"COM") != 0 && upper.compare(0, 3, L"LPT") != 0))
    return false;
  const wchar_t digit = upper[3];
  return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
         digit == L'\u00B3';
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
