// The folder search: lists a directory tree, keeps a record of every entry
// whose name matches the mask list, and reports each directory it enters and
// the totals at the end.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Classes.h"

class TMaskList;

// One matching directory entry; the full path is Dir followed by FileName.
struct TFilePack {
  std::string FileName;
  std::string Dir;  // always ends with the separator
  int32_t Size = 0;
  uint32_t Attr = 0;
  uint32_t Time = 0;
};

// The search's path join: empty for an empty dir; otherwise dir and name with
// exactly one separator added when dir does not already end in one.
std::string PathJoin(const std::string& dir, std::string_view name);

// A folder the scan could not list, or not completely, with the system's
// error number.
struct TFolderError {
  std::string Dir;
  int Error = 0;
};

enum class TScanOptions : uint8_t { soAllDisks = 0, soSpecifiedDisk = 1, soSpecifiedDir = 2 };

using TOnProcessEvent = std::function<void(TObject* Sender, const std::string& Dir,
                                           int32_t CountFiles, int32_t SizeOfFiles)>;
using TOnChangedEvent =
    std::function<void(TObject* Sender, int32_t CountFiles, int32_t SizeOfFiles)>;

class TSearchFolders : public TComponent {
 public:
  TSearchFolders();
  ~TSearchFolders() override;

  // Published properties; plain fields.
  std::string FileMask = "*";
  bool UpdateList = true;
  TScanOptions ScanOptions = TScanOptions::soAllDisks;
  std::string ScanDir = "C:\\";
  bool Messages = true;
  bool DoRecursive = true;
  TOnProcessEvent OnProcess;
  TOnChangedEvent OnChanged;
  // Records of the last scan's matches, in the order found.
  std::vector<TFilePack> FoundFiles;
  // The folders the last scan could not list (or list completely), in the
  // order met; their entries are missing from FoundFiles.
  std::vector<TFolderError> UnlistedFolders;

  // Runs one complete scan; returns after OnChanged has run. Raises the mask
  // error for an invalid FileMask item before any folder is entered; an
  // exception from a handler leaves it without OnChanged. Setting cancel
  // (from another thread, a handler or a signal handler) ends the scan at its
  // next directory entry, so a folder of a million entries does not hold up
  // an interrupt until its listing ends.
  void Scan(const std::atomic<bool>& cancel);
  void Scan();

 private:
  // Scans folder: its listing is read whole and closed before any sub-folder
  // is entered, so the depth of a tree costs no open descriptors. Only the
  // start folder may be reached through a symbolic link.
  void ScanFolder(const std::string& folder, bool startFolder);
  bool StopRequested() const { return cancel_->load(std::memory_order_relaxed); }

  const TMaskList* masks_ = nullptr;           // the mask list of the running scan
  const std::atomic<bool>* cancel_ = nullptr;  // the running scan's
  int32_t countFiles_ = 0;
  int32_t sizeOfFiles_ = 0;
};
