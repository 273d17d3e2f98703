// What the Windows tests share: a scratch folder under the system's temporary
// folder, removed with everything in it (read-only files too) at the end, and
// whether the tests run under Wine, where a few things differ from Windows.
#pragma once

#include <filesystem>
#include <string>

#include "File.h"
#include "Win32.h"

// True under Wine (its ntdll exports wine_get_version).
inline bool RunningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class WinTempDir {
 public:
  WinTempDir() {
    const std::string base = GetTempDir("");
    for (int i = 0; root_.empty() && i < 100; ++i) {
      const std::string candidate =
          base + "tw-win-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(i);
      if (::CreateDirectoryW(win32::FilePath(candidate).c_str(), nullptr)) root_ = candidate;
    }
  }
  ~WinTempDir() {
    std::error_code ignored;
    const std::filesystem::path root(L"\\\\?\\" + std::filesystem::absolute(Wide(root_)).wstring());
    for (auto it = std::filesystem::recursive_directory_iterator(root, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
      ::SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove_all(root, ignored);
  }
  WinTempDir(const WinTempDir&) = delete;
  WinTempDir& operator=(const WinTempDir&) = delete;

  // The folder, without a trailing separator; empty when it could not be made.
  const std::string& Root() const { return root_; }
  std::string Path(const std::string& relative) const { return root_ + "\\" + relative; }

  // Creates the folders of relative (any depth, any length).
  std::string Dir(const std::string& relative) const {
    std::string path = root_;
    size_t start = 0;
    while (start <= relative.size()) {
      const size_t end = std::min(relative.find('\\', start), relative.size());
      path += '\\';
      path.append(relative, start, end - start);
      ::CreateDirectoryW(win32::FilePath(path).c_str(), nullptr);
      start = end + 1;
    }
    return path;
  }
  // Creates (or replaces) a file holding content, through the layer under test.
  std::string File(const std::string& relative, const std::string& content = "") const {
    const std::string path = Path(relative);
    const THandle h = FileCreate(path);
    if (h == InvalidHandle) return {};
    FileWrite(h, content.data(), static_cast<int64_t>(content.size()));
    FileClose(h);
    return path;
  }

  static std::wstring Wide(const std::string& s) { return win32::Widen(s); }

 private:
  std::string root_;
};
