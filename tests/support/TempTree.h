// A scratch directory for tests that work on real files: created under the
// temporary folder, removed with everything in it when the object goes.
#pragma once

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

class TempTree {
 public:
  TempTree() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tw-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
  }
  ~TempTree() {
    std::error_code ignored;
    // Read-only folders made by a test would stop the removal.
    for (auto it = std::filesystem::recursive_directory_iterator(root_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
      if (!it->is_symlink()) ::chmod(it->path().c_str(), 0700);
    std::filesystem::remove_all(root_, ignored);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The root folder, without a trailing separator.
  const std::string& Root() const { return root_; }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

  // Creates a file (and its folders) holding content.
  std::string File(const std::string& relative, const std::string& content = "") const {
    const std::string path = Path(relative);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::string Dir(const std::string& relative) const {
    const std::string path = Path(relative);
    std::filesystem::create_directories(path);
    return path;
  }
  // Sets a file's last-access and last-write times.
  static bool SetModified(const std::string& path, std::time_t when) {
    const utimbuf times{when, when};
    return ::utime(path.c_str(), &times) == 0;
  }
  std::string Link(const std::string& relative, const std::string& target) const {
    const std::string path = Path(relative);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    if (::symlink(target.c_str(), path.c_str()) != 0) throw std::runtime_error("symlink failed");
    return path;
  }

 private:
  std::string root_;
};

// A fresh folder, its path ending with the separator, removed with everything
// in it when the test program ends.
inline std::string MakeTempDir() {
  static std::vector<std::unique_ptr<TempTree>> trees;
  trees.push_back(std::make_unique<TempTree>());
  return trees.back()->Root() + "/";
}

// A file's whole content; empty when it cannot be read.
inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The names in a folder, sorted.
inline std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
