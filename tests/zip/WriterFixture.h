// Shared ground for the archive writer's tests: a scratch tree, a recording
// window service, a writer whose events are recorded, and file helpers.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "ArchiveCheck.h"
#include "File.h"
#include "RecorderUi.h"
#include "TempTree.h"
#include "ZipWriter.h"

namespace writer_test {

namespace ac = archive_check;

// Bytes that compress well (text) or not at all (random).
inline std::string TextBytes(size_t n) {
  static const std::string line = "The quick brown fox jumps over the lazy dog 0123456789.\n";
  std::string s;
  s.reserve(n);
  while (s.size() < n) s += line;
  s.resize(n);
  return s;
}

inline std::string RandomBytes(size_t n, unsigned seed = 1) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

inline int64_t FileSize(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? -1 : static_cast<int64_t>(size);
}

// The packed MS-DOS time the platform reports for a file.
inline uint32_t DosTimeOf(const std::string& path) {
  const THandle h = FileOpen(path, TFileAccess::Read);
  const uint32_t t = FileDosDateTime(h);
  FileClose(h);
  return t;
}

// Sets a file's modification time (seconds since the epoch).
inline void SetMTime(const std::string& path, time_t seconds) {
  const timeval times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimes(path.c_str(), times), 0);
}

// The size of the archive that holds one entry of name length n and c data bytes.
inline int64_t OneEntryArchiveSize(size_t n, int64_t c) {
  return 30 + static_cast<int64_t>(n) + c + 46 + static_cast<int64_t>(n) + 22;
}

// The system lets files grow to a limit for as long as this lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*oldHandler_)(int);
};

struct Skip {
  TSkipReason reason;
  std::string name;
  int index;
};

class WriterTest : public ::testing::Test {
 protected:
  WriterTest() {
    writer.OnTotalPercentDone = [this](TObject* sender, int percent) {
      EXPECT_EQ(sender, &writer);
      percents.push_back(percent);
    };
    writer.OnZipComplete = [this](TObject* sender, int count) {
      EXPECT_EQ(sender, &writer);
      completions.push_back(count);
    };
    writer.OnSkippingFile = [this](TObject*, TSkipReason reason, const std::string& name,
                                   int index) {
      skips.push_back({reason, name, index});
    };
    writer.TempPath = tree.Dir("tmp");
  }

  // Prepares the writer as the run driver does for one file and zips it.
  int ZipOne(const std::string& archive, const std::string& source, int level,
             const std::atomic<bool>* cancel = nullptr) {
    writer.FilesList.clear();
    writer.SetZipName(archive);
    writer.FilesList.push_back(source);
    writer.Recurse = false;
    writer.SetStorePaths(false);
    writer.PackLevel = level;
    return cancel != nullptr ? writer.Zip(*cancel) : writer.Zip();
  }

  // Files left in the writer's temporary directory.
  size_t TempFilesLeft() const {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(tree.Path("tmp")))
      ++n;
    return n;
  }

  TempTree tree;
  RecorderUi ui;
  TZipWriter writer;
  std::vector<int> percents;
  std::vector<int> completions;
  std::vector<Skip> skips;
};

}  // namespace writer_test
