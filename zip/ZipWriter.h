// The archive writer: writes a ZIP archive from a list of files.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Classes.h"

using TPercentDoneEvent = std::function<void(TObject* Sender, int Percent)>;
using TZipCompleteEvent = std::function<void(TObject* Sender, int FileCount)>;

class TZipWriter : public TComponent {
 public:
  TZipWriter();
  ~TZipWriter() override;

  const std::string& ZipName() const { return zipName_; }
  void SetZipName(const std::string& value);
  bool StorePaths() const { return storePaths_; }
  void SetStorePaths(bool value);

  std::vector<std::string> FilesList;
  bool Recurse = false;
  int PackLevel = 6;
  TPercentDoneEvent OnTotalPercentDone;
  TZipCompleteEvent OnZipComplete;
  bool DoProcessMessages = true;
  // Set to end a running Zip at its next write; it fails with EUserCanceled.
  std::atomic<bool> CancelRequested{false};

  // Writes the archive; returns the number of files added.
  int Zip();

 private:
  std::string zipName_;
  bool storePaths_ = false;
};
