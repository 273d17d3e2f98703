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
  FoundFiles.clear();
  countFiles_ = 0;
  sizeOfFiles_ = 0;
  {
    const TMaskList masks(FileMask);  // an invalid item leaves here
    const std::string scanDir = ScanDir;
    const TScanOptions options = ScanOptions;
    stopped_ = false;
    masks_ = &masks;
    struct Release {
      const TMaskList*& masks;
      ~Release() { masks = nullptr; }
    } release{masks_};

    switch (options) {
      case TScanOptions::soAllDisks:
        // A stop does not skip the remaining disks: each is still entered.
        for (const std::string& root : AllDiskRoots()) ScanFolder(root, nullptr, {});
        break;
      case TScanOptions::soSpecifiedDisk:
        ScanFolder(DiskRootOf(scanDir), nullptr, {});
        break;
      case TScanOptions::soSpecifiedDir:
        ScanFolder(scanDir, nullptr, {});
        break;
    }
  }  // the mask list is released before the totals are reported
  if (OnChanged) OnChanged(this, countFiles_, sizeOfFiles_);
}

void TSearchFolders::Stop() {
  stopped_ = true;
}

void TSearchFolders::ScanFolder(const std::string& folder, TDirList* parent,
                                std::string_view name) {
  if (OnProcess) OnProcess(this, folder, countFiles_, sizeOfFiles_);
  TDirList list = parent != nullptr ? TDirList(*parent, name) : TDirList(folder);
  const std::string dir = PathJoin(folder, "");
  bool more = list.Next();
  while (more && !stopped_) {
    const std::string_view entry = list.Name();
    if (entry != "." && entry != "..") {
      if (masks_->Matches(entry)) {
        const TDirEntryInfo& info = list.Describe();
        // Both totals are 32-bit and wrap around, as their readers expect.
        const auto low = static_cast<uint32_t>(static_cast<uint64_t>(info.Size));
        countFiles_ = static_cast<int32_t>(static_cast<uint32_t>(countFiles_) + 1u);
        sizeOfFiles_ = static_cast<int32_t>(static_cast<uint32_t>(sizeOfFiles_) + low);
        if (UpdateList)
          FoundFiles.push_back(
              TFilePack{std::string(entry), dir, static_cast<int32_t>(low), info.Attr, info.Time});
      }
      if (DoRecursive && list.IsDirectory() && !list.IsLinkToDirectory())
        ScanFolder(PathJoin(folder, entry), &list, entry);
    }
    more = list.Next();
    if (Messages) Ui().ProcessMessages();
  }
}
