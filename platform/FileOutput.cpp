// Writing through a folder's descriptor on POSIX: openat, linkat, renameat,
// unlinkat and fstatat relative to it, never following a link at a name we
// create; O_TMPFILE where the file system has it.
#include "FileOutput.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/fs.h>
#endif

#include <sys/sysmacros.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

// A stat time (seconds and nanoseconds) as nanoseconds.
template <class StatTime>
int64_t Nanoseconds(const StatTime& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

TFileStamp StampFrom(const struct stat& st) {
  TFileStamp stamp;
  stamp.id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  stamp.size = static_cast<int64_t>(st.st_size);
  stamp.writeTimeNs = Nanoseconds(st.st_mtim);
  stamp.changeTimeNs = Nanoseconds(st.st_ctim);
  stamp.mode = static_cast<uint32_t>(st.st_mode & 07777);
  stamp.group = static_cast<uint32_t>(st.st_gid);
  stamp.links = static_cast<uint32_t>(st.st_nlink);
  stamp.mine = st.st_uid == ::geteuid();
  return stamp;
}

TEntryKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return TEntryKind::Regular;
  if (S_ISDIR(mode)) return TEntryKind::Directory;
  if (S_ISLNK(mode)) return TEntryKind::Link;
  return TEntryKind::Other;
}

// How many tries a unique name gets before the folder is taken to refuse.
constexpr int kNameAttempts = 100;

}  // namespace

int FileStampOf(THandle handle, TFileStamp& stamp) {
  struct stat st {};
  if (::fstat(handle, &st) != 0) return errno;
  stamp = StampFrom(st);
  return 0;
}

int FileSetMode(THandle handle, uint32_t mode) {
  return ::fchmod(handle, static_cast<mode_t>(mode & 07777)) == 0 ? 0 : errno;
}

bool FileAtPathBelow(const std::string& root, const std::string& relative, const TFileId& id) {
  int dir = ::open(root.empty() ? "." : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  size_t start = 0;
  for (size_t slash; dir >= 0 && (slash = relative.find('/', start)) != std::string::npos;
       start = slash + 1) {
    if (slash == start) continue;
    const std::string step = relative.substr(start, slash - start);
    const int next = ::openat(dir, step.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(dir);
    dir = next;
  }
  if (dir < 0) return false;
  struct stat st {};
  const bool same = ::fstatat(dir, relative.c_str() + start, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISREG(st.st_mode) && StampFrom(st).id == id;
  ::close(dir);
  return same;
}

int FileSetGroup(THandle handle, uint32_t group) {
  return ::fchown(handle, static_cast<uid_t>(-1), static_cast<gid_t>(group)) == 0 ? 0 : errno;
}

uint32_t NewFileMode() {
  // Read where the system shows it, so that no other thread ever sees the
  // umask changed; the kernel has shown it since Linux 4.7.
  static const uint32_t mode = [] {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("Umask:", 0) == 0) {
        return 0666u & ~static_cast<uint32_t>(std::stoul(line.substr(6), nullptr, 8));
      }
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666u & ~static_cast<uint32_t>(mask);
  }();
  return mode;
}

TOutputDir::~TOutputDir() {
  Close();
}

int TOutputDir::Open(const std::string& path) {
  Close();
  const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  handle_ = fd;
  path_ = path;
  const long limit = ::fpathconf(fd, _PC_NAME_MAX);
  maxName_ = static_cast<size_t>(limit > 0 ? limit : 255);
  return 0;
}

int TOutputDir::OpenBelow(const TOutputDir& parent, const std::string& relative, bool create) {
  Close();
  int fd = ::openat(parent.handle_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool shared = parent.Shared();
  size_t start = 0;
  while (fd >= 0 && start < relative.size()) {
    size_t slash = relative.find('/', start);
    if (slash == std::string::npos) slash = relative.size();
    const std::string step = relative.substr(start, slash - start);
    start = slash + 1;
    if (step.empty() || step == ".") continue;
    int error = step == ".." ? EINVAL : 0;
    int next = -1;
    if (error == 0) {
      next = ::openat(fd, step.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      // A new folder's entry is made durable at once, as an archive's is at
      // the end of the run.
      if (next < 0 && errno == ENOENT && create &&
          (::mkdirat(fd, step.c_str(), 0777) == 0 || errno == EEXIST)) {
        ::fsync(fd);
        next = ::openat(fd, step.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      }
      error = next < 0 ? (errno == ELOOP || errno == ENOTDIR ? ErrForeignFolder : errno) : 0;
    }
    struct stat st {};
    if (error == 0 && shared && ::fstat(next, &st) == 0 && st.st_uid != ::geteuid())
      error = ErrForeignFolder;
    if (error == 0 && ::fstat(next, &st) == 0)
      shared = st.st_uid != ::geteuid() || (st.st_mode & (S_ISVTX | S_IWGRP | S_IWOTH)) != 0;
    ::close(fd);
    if (error != 0) {
      if (next >= 0) ::close(next);
      return error;
    }
    fd = next;
  }
  if (fd < 0) return errno;
  handle_ = fd;
  path_ = parent.path_ + (parent.path_.empty() || parent.path_.back() == '/' ? "" : "/") + relative;
  const long limit = ::fpathconf(fd, _PC_NAME_MAX);
  maxName_ = static_cast<size_t>(limit > 0 ? limit : 255);
  return 0;
}

TEntryStatus TOutputDir::StatusAt(const std::string& name) const {
  TEntryStatus status;
  struct stat st {};
  if (::fstatat(handle_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    status.error = errno;
    status.absent = errno == ENOENT;
    return status;
  }
  status.kind = KindOf(st.st_mode);
  status.stamp = StampFrom(st);
  return status;
}

THandle TOutputDir::OpenForReadingAt(const std::string& name) const {
  const int fd =
      ::openat(handle_, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return InvalidHandle;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = errno;
    ::close(fd);
    errno = S_ISDIR(st.st_mode) ? EISDIR : st.st_mode != 0 ? ErrNotRegularFile : error;
    return InvalidHandle;
  }
  return fd;
}

int TOutputDir::CreateTemp(const std::string& name, TTempFile& temp) const {
  temp = TTempFile{};
  // An unnamed file gets its name through /proc (see Replace): where /proc is
  // not mounted, as in a bare chroot, it could never be put in place.
  const bool unnamed = !NamedTempFilesForced() && ::access("/proc/self/fd", X_OK) == 0;
  int fd = unnamed ? ::openat(handle_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600) : -1;
  if (fd < 0) {
    // A folder removed while we hold it takes no file; the kernel may say
    // EPERM then, which would send the user looking at rights.
    if (struct stat st{}; ::fstat(handle_, &st) == 0 && st.st_nlink == 0) return ENOENT;
    if (!unnamed) errno = EOPNOTSUPP;
    // File systems without unnamed files say so in one of these ways; any
    // other answer (no room, no right) a named file would meet too.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
      const std::string tempName = TempNameFor(name, maxName_);
      fd = ::openat(handle_, tempName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0600);
      if (fd >= 0) {
        temp.name = tempName;
      } else if (errno != EEXIST) {
        return errno;
      }
    }
    if (fd < 0) return EEXIST;
  }
  temp.handle = fd;
  // The lock tells a later run that this file is being written; it lasts
  // until the handle closes, whatever name the file has by then.
  TFileStamp stamp;
  int error = ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? FileStampOf(fd, stamp) : errno;
  if (error != 0) {
    Discard(temp);
    return error;
  }
  temp.id = stamp.id;
  return 0;
}

bool TOutputDir::Shared() const {
  struct stat folder {};
  if (::fstat(handle_, &folder) != 0) return true;
  return folder.st_uid != ::geteuid() || (folder.st_mode & (S_ISVTX | S_IWGRP | S_IWOTH)) != 0;
}

int TOutputDir::NameTemp(TTempFile& temp, const std::string& name) const {
  if (!temp.name.empty()) return 0;
  // An unnamed file gets a name of ours through /proc, which needs no
  // privilege, where AT_EMPTY_PATH would.
  const std::string self = "/proc/self/fd/" + std::to_string(temp.handle);
  int error = EEXIST;
  for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
    const std::string tempName = TempNameFor(name, maxName_);
    if (::linkat(AT_FDCWD, self.c_str(), handle_, tempName.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      temp.name = tempName;
      error = 0;
    } else {
      error = errno;
    }
  }
  return error;
}

int TOutputDir::Replace(TTempFile& temp, const std::string& name, bool nameFree) const {
  if (temp.name.empty()) {
    if (const int error = NameTemp(temp, name); error != 0) return error;
  } else if (!Holds(temp.name, temp.id)) {
    // Another program took the temporary name: what is there now is not
    // ours to move onto the final name.
    return ErrNameTaken;
  }
  NoteFileCall("rename", temp.handle);
  if (nameFree) {
    // A name found free may be taken by anyone who may create files here
    // before the move: what they put there is theirs, and stays.
    if (::renameat2(handle_, temp.name.c_str(), handle_, name.c_str(), RENAME_NOREPLACE) != 0) {
      if (errno != EINVAL && errno != ENOSYS) return errno;
      // A file system without the flag: a second name never replaces a file.
      if (::linkat(handle_, temp.name.c_str(), handle_, name.c_str(), 0) == 0) {
        ::unlinkat(handle_, temp.name.c_str(), 0);
      } else if (errno == EEXIST) {
        return EEXIST;
      } else if (::renameat(handle_, temp.name.c_str(), handle_, name.c_str()) != 0) {
        return errno;
      }
    }
  } else if (::renameat(handle_, temp.name.c_str(), handle_, name.c_str()) != 0) {
    return errno;
  }
  temp.name.clear();
  NoteFileCall("renamed", temp.handle);
  // The name must hold the file written: anything else means that another
  // program put a file there in the same instant.
  return Holds(name, temp.id) ? 0 : ErrNameTaken;
}

int TOutputDir::ReplaceRefusal(const std::string& name) const {
  const uid_t me = ::geteuid();
  struct stat folder {};
  if (me == 0 || ::fstat(handle_, &folder) != 0 || (folder.st_mode & S_ISVTX) == 0 ||
      folder.st_uid == me) {
    return 0;
  }
  struct stat file {};
  if (::fstatat(handle_, name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0 || file.st_uid == me) {
    return 0;
  }
  return EPERM;
}

int TOutputDir::KeepAs(const std::string& name, const TFileId& id, const std::string& kept,
                       bool stay) const {
  NoteFileCall("link", handle_);
  if (!Holds(name, id)) return ErrNameTaken;
  // A second name never replaces a file at kept, and name stays filled until
  // the new archive takes it.
  if (::linkat(handle_, name.c_str(), handle_, kept.c_str(), 0) == 0) {
    if (stay) return 0;
    if (!Holds(name, id)) return ErrNameTaken;
    return ::unlinkat(handle_, name.c_str(), 0) == 0 ? 0 : errno;
  }
  if (errno == EEXIST) return EEXIST;
  // File systems without hard links (FAT): a rename that replaces nothing.
  if (::renameat2(handle_, name.c_str(), handle_, kept.c_str(), RENAME_NOREPLACE) == 0) return 0;
  return errno;
}

int TOutputDir::RemoveAt(const std::string& name, const TFileId& id) const {
  NoteFileCall("remove", handle_);
  if (!Holds(name, id)) return ErrNameTaken;
  return ::unlinkat(handle_, name.c_str(), 0) == 0 ? 0 : errno;
}

int TOutputDir::MoveHeld(const std::string& name, const TFileId& id, const std::string& to,
                         THandle) const {
  return KeepAs(name, id, to, false);
}

int TOutputDir::ExchangeAtomic(const std::string& a, const std::string& b) const {
  if (::renameat2(handle_, a.c_str(), handle_, b.c_str(), RENAME_EXCHANGE) == 0) return 0;
  // File systems that cannot swap say so in one of these ways.
  return errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ? ErrNoExchange : errno;
}

void TOutputDir::Discard(TTempFile& temp) const {
  if (!temp.name.empty()) {
    // Only our own file goes: a file swapped in under its name is not ours.
    if (Holds(temp.name, temp.id)) ::unlinkat(handle_, temp.name.c_str(), 0);
    temp.name.clear();
  }
  Release(temp);
}

int TOutputDir::CloneUnnamed(THandle source, THandle& clone) const {
  clone = InvalidHandle;
#ifdef FICLONE
  // File systems without unnamed files or shared extents answer in one of
  // these ways.
  const auto answer = [](int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOTTY ||
                   error == ENOSYS
               ? ErrNoClone
               : error;
  };
  const int fd = ::openat(handle_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return answer(errno);
  // The kernel holds both files still while it shares the extents, so the
  // clone is the source between two of its writes, never in the middle of one.
  if (::ioctl(fd, FICLONE, source) != 0) {
    const int error = errno;
    ::close(fd);
    return answer(error);
  }
  clone = fd;
  return 0;
#else
  (void)source;
  return ErrNoClone;
#endif
}

namespace {

// The process that holds a lock on the file (device, inode), as /proc/locks
// shows it; 0 when it does not.
long LockHolder(const struct stat& st) {
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, kind, advisory, mode, pid, file;
    if (!(fields >> number >> kind)) continue;
    if (kind == "->") fields >> kind;  // a waiter, shown under the holder
    if (!(fields >> advisory >> mode >> pid >> file)) continue;
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(file.c_str(), "%x:%x:%llu", &major, &minor, &inode) == 3 &&
        inode == st.st_ino && major == ::major(st.st_dev) && minor == ::minor(st.st_dev)) {
      return std::atol(pid.c_str());
    }
  }
  return 0;
}

}  // namespace

int TOutputDir::Lock(bool write, bool wait, const std::atomic<bool>& cancel, long& holder) const {
  holder = 0;
  for (;;) {
    if (::flock(handle_, (write ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return 0;
    if (errno != EWOULDBLOCK) return errno;
    if (!wait || cancel) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  struct stat st {};
  if (::fstat(handle_, &st) == 0) holder = LockHolder(st);
  return ErrFolderBusy;
}

int TOutputDir::Sync() const {
  NoteFileCall("sync", handle_);
  return ::fsync(handle_) == 0 ? 0 : errno;
}

std::vector<std::string> TOutputDir::List() const {
  std::vector<std::string> names;
  const int listFd = ::openat(handle_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return names;
  DIR* dir = ::fdopendir(listFd);
  if (dir == nullptr) {
    ::close(listFd);
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

int TOutputDir::LookAtTemp(const std::string& name, THandle& handle, TTempLook& look) const {
  handle = OpenForReadingAt(name);
  if (handle == InvalidHandle) return errno;
  if (const int error = FileStampOf(handle, look.stamp); error != 0) return error;
  // A live run holds its temporary locked until its handle closes.
  look.live = ::flock(handle, LOCK_EX | LOCK_NB) != 0;
  const ssize_t got = ::pread(handle, look.head, sizeof look.head, 0);
  look.headSize = got > 0 ? static_cast<size_t>(got) : 0;
  return got < 0 ? errno : 0;
}

bool TOutputDir::RemoveTemp(const std::string& name, THandle handle) const {
  // Still the file looked at, and still locked by us, when its name goes.
  TFileStamp stamp;
  const TEntryStatus now = StatusAt(name);
  return FileStampOf(handle, stamp) == 0 && now.kind == TEntryKind::Regular &&
         now.stamp.id == stamp.id && ::unlinkat(handle_, name.c_str(), 0) == 0;
}
