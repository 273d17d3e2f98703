#include "File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "FileOutput.h"
#include "Files.h"

namespace {

// read(2) and write(2) move at most this much per call on Linux.
constexpr int64_t kMaxChunk = 0x7FFFF000;

THandle OpenChecked(const std::string& path, int flags, mode_t mode) {
  THandle fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return InvalidHandle;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return InvalidHandle;
  }
  return fd;
}

}  // namespace

THandle FileCreate(const std::string& path) {
  return OpenChecked(path, O_RDWR | O_CREAT | O_TRUNC, 0666);
}

THandle FileOpen(const std::string& path, TFileAccess access) {
  if (access != TFileAccess::Read) {
    return OpenChecked(path, access == TFileAccess::Write ? O_WRONLY : O_RDWR, 0);
  }
  // Opening a device may act (rewind a tape, arm a watchdog) and a FIFO
  // without O_NONBLOCK waits for a writer: the file is first only found, its
  // kind checked, and then that same file opened, so a name swapped in
  // meanwhile cannot slip by.
  const THandle found = ::open(path.c_str(), O_PATH | O_CLOEXEC);
  if (found < 0) return InvalidHandle;
  struct stat st {};
  int error = ::fstat(found, &st) != 0 ? errno
              : S_ISDIR(st.st_mode)    ? EISDIR
              : !S_ISREG(st.st_mode)   ? ErrNotRegularFile
                                       : 0;
  THandle fd = InvalidHandle;
  if (error == 0) {
    const std::string self = "/proc/self/fd/" + std::to_string(found);
    fd = ::open(self.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    // Without /proc (a bare chroot) the name is all there is: opened again,
    // it must still be the file found.
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
      struct stat now {};
      if (fd >= 0 &&
          (::fstat(fd, &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino)) {
        ::close(fd);
        fd = InvalidHandle;
        errno = ErrNotRegularFile;
      }
    }
    error = fd < 0 ? errno : 0;
  }
  ::close(found);
  if (fd < 0) {
    errno = error;
    return InvalidHandle;
  }
  // O_NONBLOCK stays: regular files ignore it, and the few that only look
  // regular (/proc/kmsg) then answer EAGAIN instead of waiting for ever.
  return fd;
}

int FileSync(THandle handle) {
  NoteFileCall("sync", handle);
  return ::fsync(handle) == 0 ? 0 : errno;
}

int FileStartWriteback(THandle handle) {
  // Without a wait flag this does not wait for the writes, nor collect a
  // write error recorded for the file, which its fsync then reports.
  if (::sync_file_range(handle, 0, 0, SYNC_FILE_RANGE_WRITE) == 0) return 0;
  return errno == EIO || errno == ENOSPC || errno == EDQUOT ? errno : 0;
}

int FileClose(THandle handle) {
  if (handle < 0) return EBADF;
  // After EINTR the descriptor is gone on Linux; retrying could close another.
  if (::close(handle) != 0 && errno != EINTR) return errno;
  return 0;
}

TFileIo FileRead(THandle handle, void* buffer, int64_t count) {
  TFileIo io;
  auto* out = static_cast<char*>(buffer);
  while (io.count < count) {
    const int64_t want = std::min(count - io.count, kMaxChunk);
    const ssize_t got = ::read(handle, out + io.count, static_cast<size_t>(want));
    if (got < 0) {
      if (errno == EINTR) continue;
      io.error = errno;
      break;
    }
    if (got == 0) break;
    io.count += got;
  }
  return io;
}

TFileIo FileWrite(THandle handle, const void* buffer, int64_t count) {
  NoteFileCall("write", handle);
  TFileIo io;
  const auto* in = static_cast<const char*>(buffer);
  while (io.count < count) {
    const int64_t want = std::min(count - io.count, kMaxChunk);
    const ssize_t put = ::write(handle, in + io.count, static_cast<size_t>(want));
    if (put < 0) {
      if (errno == EINTR) continue;
      io.error = errno;
      break;
    }
    if (put == 0) {  // no progress and no reason: treat as a full device
      io.error = ENOSPC;
      break;
    }
    io.count += put;
  }
  return io;
}

int64_t FileSeek(THandle handle, int64_t offset, int origin) {
  const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : -1;
  if (whence < 0) {
    errno = EINVAL;
    return -1;
  }
  return ::lseek(handle, static_cast<off_t>(offset), whence);
}

int64_t FileSizeOf(THandle handle) {
  struct stat st {};
  if (::fstat(handle, &st) != 0) return -1;
  return st.st_size;
}

uint32_t FileDosDateTime(THandle handle) {
  struct stat st {};
  if (::fstat(handle, &st) != 0) return 0xFFFFFFFFu;
  return DosDateTimeFromUnix(st.st_mtim.tv_sec);
}

TFileStatus FileStatusOf(const std::string& path) {
  TFileStatus status;
  struct stat st {};
  if (path.empty() || (::stat(path.c_str(), &st) != 0 && ::lstat(path.c_str(), &st) != 0)) {
    return status;
  }
  const bool directory = S_ISDIR(st.st_mode);
  status.Attr = directory ? faDirectory : faArchive;
  if ((st.st_mode & S_IWUSR) == 0) status.Attr |= faReadOnly;
  const std::string name = ExtractFileName(path);
  if (!name.empty() && name[0] == '.') status.Attr |= faHidden;
  status.Size = directory ? 0 : static_cast<int64_t>(st.st_size);
  status.Time = DosDateTimeFromUnix(st.st_mtim.tv_sec);
  status.WriteTimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return status;
}

uint32_t FileGetAttr(const std::string& path) {
  return FileStatusOf(path).Attr;
}

std::string GetTempDir(const std::string& tempPath) {
  std::string dir;
  if (DirectoryExists(tempPath)) {
    dir = tempPath;
  } else if (const char* env = std::getenv("TMPDIR"); env != nullptr && DirectoryExists(env)) {
    dir = env;
  } else {
    dir = "/tmp";
  }
  if (dir.back() != PathDelim) dir += PathDelim;
  return dir;
}

namespace {
// Creates a new empty file named after the template, whose last six
// characters "XXXXXX" become unique; its name, or empty with errno set.
std::string CreateUniqueFile(const std::string& name) {
  std::vector<char> templ(name.begin(), name.end());
  templ.push_back('\0');
  const int fd = ::mkostemp(templ.data(), O_CLOEXEC);
  if (fd < 0) return std::string();
  ::close(fd);
  return std::string(templ.data());
}
}  // namespace

std::string CreateTempFile(const std::string& dir, const std::string& prefix) {
  std::string name = dir;
  if (!name.empty() && name.back() != PathDelim) name += PathDelim;
  return CreateUniqueFile(name + prefix + "XXXXXX");
}

TFileKind FileKindOf(const std::string& path) {
  struct stat st {};
  if (path.empty()) {
    errno = ENOENT;
    return TFileKind::None;
  }
  if (::stat(path.c_str(), &st) != 0) return TFileKind::None;
  if (S_ISREG(st.st_mode)) return TFileKind::Regular;
  if (S_ISDIR(st.st_mode)) return TFileKind::Directory;
  return TFileKind::Other;
}

bool EntryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  if (a.empty() || b.empty() || ::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) {
    return false;
  }
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool IsInUseError(int /*error*/) {
  return false;
}

void SetOsError(int error) {
  errno = error;
}

std::string SysErrorMessage(int error) {
  if (error == ErrNotRegularFile) return "not a regular file";
  if (error == ErrNameTaken) return "another file took its name";
  if (error == ErrNoClone) return "the file system cannot clone files";
  if (error == ErrDeviceName) return "its archive name is a device name on Windows";
  if (error == ErrFolderBusy) return "another run is writing into it";
  if (error == ErrForeignFolder) return "its folder is a link or another user's";
  char text[256];
  // The GNU variant may return a static string instead of filling text.
  return std::string(::strerror_r(error, text, sizeof text));
}

int FileClearArchiveBit(const std::string&) {
  return 0;
}
