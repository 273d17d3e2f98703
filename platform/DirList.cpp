#include "DirList.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "Files.h"

namespace {
constexpr unsigned kTimeUnknown = 0xFFFFFFFFu;
}

TDirList::TDirList(const std::string& path, TFollowLinks follow) {
  if (path.empty()) {
    error_ = ENOENT;
    return;
  }
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  if (follow == TFollowLinks::No) flags |= O_NOFOLLOW;
  Open(::open(path.c_str(), flags));
}

TDirList::TDirList(const TDirList& parent, std::string_view name) {
  if (parent.dir_ == nullptr) {
    error_ = EBADF;
    return;
  }
  const std::string child(name);
  Open(::openat(::dirfd(parent.dir_), child.c_str(),
                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

TDirList::~TDirList() {
  if (dir_ != nullptr) ::closedir(dir_);
}

void TDirList::Open(int fd) {
  if (fd < 0) {
    // O_NOFOLLOW on a link answers ELOOP; "not a directory" says it better.
    error_ = errno == ELOOP ? ENOTDIR : errno;
    return;
  }
  dir_ = ::fdopendir(fd);
  if (dir_ == nullptr) {
    error_ = errno;
    ::close(fd);
  }
}

bool TDirList::Next() {
  known_ = Known::Nothing;
  statValid_ = false;
  name_ = {};
  if (dir_ == nullptr || error_ != 0) return false;
  errno = 0;
  const dirent* entry = ::readdir(dir_);
  if (entry == nullptr) {
    error_ = errno;
    return false;
  }
  name_ = entry->d_name;
  type_ = entry->d_type;
  return true;
}

bool TDirList::StatEntry() {
  const int fd = ::dirfd(dir_);
  const std::string name(name_);
  statValid_ = ::fstatat(fd, name.c_str(), &st_, 0) == 0 ||
               ::fstatat(fd, name.c_str(), &st_, AT_SYMLINK_NOFOLLOW) == 0;
  return statValid_;
}

void TDirList::ResolveKind() {
  if (known_ != Known::Nothing) return;
  known_ = Known::Kind;
  isDirectory_ = false;
  isLink_ = false;
  switch (type_) {
    case DT_DIR:
      isDirectory_ = true;
      return;
    case DT_LNK:
      isLink_ = true;
      break;
    case DT_UNKNOWN: {
      // The file system gives no type hint: look at the entry itself first.
      const std::string name(name_);
      if (::fstatat(::dirfd(dir_), name.c_str(), &st_, AT_SYMLINK_NOFOLLOW) != 0) return;
      if (!S_ISLNK(st_.st_mode)) {
        statValid_ = true;
        isDirectory_ = S_ISDIR(st_.st_mode);
        return;
      }
      isLink_ = true;
      break;
    }
    default:
      return;
  }
  // A symbolic link: what it points to decides.
  if (StatEntry()) isDirectory_ = S_ISDIR(st_.st_mode);
}

bool TDirList::IsDirectory() {
  ResolveKind();
  return isDirectory_;
}

bool TDirList::IsLinkToDirectory() {
  ResolveKind();
  return isLink_ && isDirectory_;
}

const TDirEntryInfo& TDirList::Describe() {
  if (known_ == Known::Everything) return info_;
  ResolveKind();
  if (!statValid_ && dir_ != nullptr) StatEntry();
  info_ = TDirEntryInfo{};
  if (statValid_) {
    const bool directory = S_ISDIR(st_.st_mode);
    info_.Attr = directory ? faDirectory : faArchive;
    if ((st_.st_mode & S_IWUSR) == 0) info_.Attr |= faReadOnly;
    // A directory's st_size is the file system's bookkeeping, not content:
    // it counts as 0, as directory listings usually report it.
    info_.Size = directory ? 0 : static_cast<int64_t>(st_.st_size);
    info_.Time = DosDateTimeFromUnix(st_.st_mtime);
  } else {
    // Gone between the listing and the look: described from the listing alone.
    info_.Attr = isDirectory_ ? faDirectory : faArchive;
    info_.Time = kTimeUnknown;
  }
  if (!name_.empty() && name_.front() == '.') info_.Attr |= faHidden;
  known_ = Known::Everything;
  return info_;
}

std::vector<std::string> AllDiskRoots() {
  return {std::string(1, PathDelim)};
}

std::string DiskRootOf(const std::string&) {
  return std::string(1, PathDelim);
}
