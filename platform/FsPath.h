// A path for std::filesystem from a name of this program. Names are UTF-8
// inside the program; on Windows the library would read a narrow string in
// the system's ANSI code page, so the name goes in as UTF-8 explicitly.
#pragma once

#include <filesystem>
#include <string>

inline std::filesystem::path FsPath(const std::string& path) {
#ifdef _WIN32
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
#else
  return std::filesystem::path(path);
#endif
}
