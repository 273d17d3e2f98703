#include "Files.h"

#include <sys/stat.h>
#include <unistd.h>

#include "Text.h"

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool SameFileName(const std::string& a, const std::string& b) {
  return a == b;
}

bool DeleteFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

std::string ExtractFileName(const std::string& path) {
  const auto pos = path.find_last_of(PathDelim);
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string ExtractFilePath(const std::string& path) {
  const auto pos = path.find_last_of(PathDelim);
  return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

std::string ExtractFileDrive(const std::string&) {
  return {};
}

uint32_t DosDateTimeFromUnix(std::time_t t) {
  struct tm lt {};
  if (::localtime_r(&t, &lt) == nullptr) return 0xFFFFFFFFu;
  const int year = lt.tm_year + 1900;
  if (year < 1980) return (1u << 5 | 1u) << 16;  // 1980-01-01 00:00:00
  if (year > 2107) return ((127u << 9) | (12u << 5) | 31u) << 16 | (23u << 11) | (59u << 5) | 29u;
  const uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) |
                        (static_cast<uint32_t>(lt.tm_mon + 1) << 5) |
                        static_cast<uint32_t>(lt.tm_mday);
  const int sec = lt.tm_sec > 59 ? 59 : lt.tm_sec;  // a leap second stays in its minute
  const uint32_t time = (static_cast<uint32_t>(lt.tm_hour) << 11) |
                        (static_cast<uint32_t>(lt.tm_min) << 5) | static_cast<uint32_t>(sec / 2);
  return date << 16 | time;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}
