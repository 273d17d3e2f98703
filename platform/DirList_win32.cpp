// Directory listing on Windows: FindFirstFileExW over "folder\*", each entry
// described by the listing itself (attributes, size, last-write time), so a
// description costs no further call.
#include "DirList.h"

#include "Win32.h"

struct TDirList::FindData : WIN32_FIND_DATAW {};

namespace {

// A folder's listing pattern: join(folder, "*"); "C:" lists the root of C:.
std::string Pattern(const std::string& folder) {
  std::string pattern = folder;
  if (pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
  return pattern + "*";
}

// A link or a junction: a walk must not go through it, or a loop of them
// would make it endless. Other reparse points (cloud files, deduplicated
// files) are ordinary folders and files to the user.
bool IsNameSurrogate(DWORD attributes, DWORD tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         (tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT);
}

}  // namespace

TDirList::TDirList(const std::string& path, TFollowLinks follow) {
  if (follow == TFollowLinks::No && !path.empty()) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (::GetFileAttributesExW(win32::FilePath(path).c_str(), GetFileExInfoStandard, &data) &&
        (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      error_ = ERROR_DIRECTORY;  // a link is not followed here
      return;
    }
  }
  OpenListing(path);
}

TDirList::TDirList(const TDirList& parent, std::string_view name) {
  if (parent.dir_ == nullptr) {
    error_ = ERROR_INVALID_HANDLE;
    return;
  }
  std::string child = parent.folder_;
  if (child.back() != '\\' && child.back() != '/') child += '\\';
  child += name;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (::GetFileAttributesExW(win32::FilePath(child).c_str(), GetFileExInfoStandard, &data) &&
      (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    error_ = ERROR_DIRECTORY;  // a link is not followed here
    return;
  }
  OpenListing(child);
}

TDirList::~TDirList() {
  if (dir_ != nullptr) ::FindClose(dir_);
}

void TDirList::OpenListing(const std::string& folder) {
  if (folder.empty()) {
    error_ = ERROR_PATH_NOT_FOUND;
    return;
  }
  folder_ = folder;
  data_ = std::make_unique<FindData>();
  const HANDLE h =
      ::FindFirstFileExW(win32::FilePath(Pattern(folder)).c_str(), FindExInfoBasic, data_.get(),
                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // A drive's root holds no "." or "..": when it is empty nothing matches.
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES)
      error_ = static_cast<int>(error);
    return;
  }
  dir_ = h;
  pending_ = true;
}

bool TDirList::Next() {
  name_.clear();
  described_ = false;
  if (dir_ == nullptr || error_ != 0) return false;
  if (pending_) {
    pending_ = false;
  } else if (!::FindNextFileW(dir_, data_.get())) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_NO_MORE_FILES) error_ = static_cast<int>(error);
    return false;
  }
  name_ = win32::Narrow(data_->cFileName);
  return true;
}

bool TDirList::IsDirectory() {
  return !name_.empty() && (data_->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool TDirList::IsLinkToDirectory() {
  return IsDirectory() && IsNameSurrogate(data_->dwFileAttributes, data_->dwReserved0);
}

const TDirEntryInfo& TDirList::Describe() {
  if (described_) return info_;
  info_ = TDirEntryInfo{};
  if (!name_.empty()) {
    info_.Attr = data_->dwFileAttributes;
    info_.Size = static_cast<int64_t>(static_cast<uint64_t>(data_->nFileSizeHigh) << 32 |
                                      data_->nFileSizeLow);
    info_.Time = win32::DosDateTimeFromFileTime(data_->ftLastWriteTime);
  }
  described_ = true;
  return info_;
}

std::vector<std::string> AllDiskRoots() {
  std::vector<std::string> roots;
  const DWORD drives = ::GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if ((drives & (1u << i)) == 0) continue;
    const wchar_t root[] = {static_cast<wchar_t>(L'a' + i), L':', L'\\', 0};
    switch (::GetDriveTypeW(root)) {
      case DRIVE_FIXED:
      case DRIVE_REMOTE:
      case DRIVE_CDROM:
      case DRIVE_RAMDISK:
        roots.push_back(std::string{static_cast<char>('A' + i), ':'});
        break;
      default:
        break;
    }
  }
  return roots;
}

std::string DiskRootOf(const std::string& path) {
  return path.substr(0, 2);
}
