#include "SFolders.h"

#include "DirList.h"
#include "Files.h"
#include "Masks.h"
#include "Ui.h"

std::string PathJoin(const std::string& dir, std::string_view name) {
  if (dir.empty()) return {};
  std::string path;
  path.reserve(dir.size() + 1 + name.size());
  path = dir;
  if (path.back() != PathDelim) path += PathDelim;
  path += name;
  return path;
}

TSearchFolders::TSearchFolders() = default;
TSearchFolders::~TSearchFolders() = default;

void TSearchFolders::Scan() {
  static const std::atomic<bool> never{false};
  Scan(never);
}

void TSearchFolders::Scan(const std::atomic<bool>& cancel) {
  FoundFiles.clear();
  UnlistedFolders.clear();
  countFiles_ = 0;
  sizeOfFiles_ = 0;
  {
    const TMaskList masks(FileMask);  // an invalid item leaves here
    const std::string scanDir = ScanDir;
    const TScanOptions options = ScanOptions;
    masks_ = &masks;
    cancel_ = &cancel;
    struct Release {
      const TMaskList*& masks;
      ~Release() { masks = nullptr; }
    } release{masks_};

    switch (options) {
      case TScanOptions::soAllDisks:
        // A stop does not skip the remaining disks: each is still entered.
        for (const std::string& root : AllDiskRoots()) ScanFolder(root, true);
        break;
      case TScanOptions::soSpecifiedDisk:
        ScanFolder(DiskRootOf(scanDir), true);
        break;
      case TScanOptions::soSpecifiedDir:
        ScanFolder(scanDir, true);
        break;
    }
  }  // the mask list is released before the totals are reported
  if (OnChanged) OnChanged(this, countFiles_, sizeOfFiles_);
}

void TSearchFolders::ScanFolder(const std::string& folder, bool startFolder) {
  if (OnProcess) OnProcess(this, folder, countFiles_, sizeOfFiles_);
  // The entries that matter, in listing order: matches and folders to enter.
  struct Item {
    std::string name;
    bool match;
    bool descend;
    TDirEntryInfo info;
  };
  std::vector<Item> items;
  {
    TDirList list(folder, startFolder ? TFollowLinks::Yes : TFollowLinks::No);
    bool more = list.Next();
    while (more && !StopRequested()) {
      const std::string_view entry = list.Name();
      if (entry != "." && entry != "..") {
        const bool match = masks_->Matches(entry);
        const bool descend = DoRecursive && list.IsDirectory() && !list.IsLinkToDirectory();
        if (match || descend) {
          items.push_back(
              {std::string(entry), match, descend, match ? list.Describe() : TDirEntryInfo{}});
        }
      }
      more = list.Next();
      if (Messages) Ui().ProcessMessages();
    }
    if (list.Error() != 0) UnlistedFolders.push_back({folder, list.Error()});
  }
  const std::string dir = PathJoin(folder, "");
  for (const Item& item : items) {
    if (StopRequested()) break;
    if (item.match) {
      // Both totals are 32-bit and wrap around, as their readers expect.
      const auto low = static_cast<uint32_t>(static_cast<uint64_t>(item.info.Size));
      countFiles_ = static_cast<int32_t>(static_cast<uint32_t>(countFiles_) + 1u);
      sizeOfFiles_ = static_cast<int32_t>(static_cast<uint32_t>(sizeOfFiles_) + low);
      if (UpdateList)
        FoundFiles.push_back(
            TFilePack{item.name, dir, static_cast<int32_t>(low), item.info.Attr, item.info.Time});
    }
    if (item.descend) ScanFolder(PathJoin(folder, item.name), false);
  }
}
