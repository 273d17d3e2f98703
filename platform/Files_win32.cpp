// The simple file-system calls on Windows, through the wide-character API.
#include "Files.h"

#include "Win32.h"

namespace {

constexpr const char* kSeparators = "\\/:";

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

DWORD AttributesOf(const std::string& path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return ::GetFileAttributesW(win32::FilePath(path).c_str());
}

}  // namespace

bool FileExists(const std::string& path) {
  const DWORD attr = AttributesOf(path);
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
  const DWORD attr = AttributesOf(path);
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool SameFileName(const std::string& a, const std::string& b) {
  const std::wstring wa = win32::Widen(a), wb = win32::Widen(b);
  return ::CompareStringOrdinal(wa.data(), static_cast<int>(wa.size()), wb.data(),
                                static_cast<int>(wb.size()), TRUE) == CSTR_EQUAL;
}

bool DeleteFile(const std::string& path) {
  if (path.empty()) return false;
  if (::DeleteFileW(win32::FilePath(path).c_str())) return true;
  win32::LastError();
  return false;
}

std::string ExtractFileName(const std::string& path) {
  const auto pos = path.find_last_of(kSeparators);
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string ExtractFilePath(const std::string& path) {
  const auto pos = path.find_last_of(kSeparators);
  return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

std::string ExtractFileDrive(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // \\server\share: up to the separator after the share's name.
    size_t pos = 2;
    while (pos < path.size() && !IsSeparator(path[pos])) ++pos;  // server
    if (pos == 2 || pos >= path.size()) return {};
    ++pos;
    const size_t shareStart = pos;
    while (pos < path.size() && !IsSeparator(path[pos])) ++pos;  // share
    if (pos == shareStart) return {};
    return path.substr(0, pos);
  }
  return {};
}

uint32_t DosDateTimeFromUnix(std::time_t t) {
  // Seconds since 1970 to 100-nanosecond ticks since 1601.
  const int64_t ticks = (static_cast<int64_t>(t) + 11644473600LL) * 10000000LL;
  if (ticks < 0) return (1u << 5 | 1u) << 16;  // before 1601: the earliest MS-DOS time
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  return win32::DosDateTimeFromFileTime(ft);
}

std::string HostName() {
  wchar_t name[256] = {};
  DWORD size = 256;
  if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return {};
  return win32::Narrow(std::wstring(name, size));
}
