// The file primitives on Windows: CreateFileW and friends on handles, names
// converted from UTF-8 at each call, errors as GetLastError codes.
#include "File.h"

#include <algorithm>
#include <atomic>
#include <random>
#include <vector>

#include "FileOutput.h"
#include "Win32.h"

namespace {

// ReadFile and WriteFile take a 32-bit count; a gigabyte per call is plenty.
constexpr int64_t kMaxChunk = 1 << 30;

// Sharing for files we read: others may go on reading and writing, as a
// database server does with its own files; a file opened without read sharing
// by someone else cannot be opened here (ERROR_SHARING_VIOLATION).
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

THandle Fail() {
  win32::LastError();
  return InvalidHandle;
}

// A handle on whatever path names (a folder too), with no access rights:
// enough to ask what it is and which file it is, without being refused by
// sharing or permissions.
HANDLE OpenForQuery(const std::string& path) {
  if (path.empty()) {
    win32::SetError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return ::CreateFileW(win32::FilePath(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Six characters for a new name, random so that two programs (or two runs)
// do not take turns colliding.
std::string RandomPart() {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 generator = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), static_cast<unsigned>(::GetCurrentProcessId()),
                       static_cast<unsigned>(::GetTickCount64())};
    return std::mt19937(seed);
  }();
  std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
  std::string part(6, ' ');
  for (char& c : part) c = kAlphabet[pick(generator)];
  return part;
}

// Creates a new empty file whose name is made by name() (called again after a
// collision); its name, or empty with the error left.
template <class MakeName>
std::string CreateUnique(MakeName name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = name();
    const HANDLE h = ::CreateFileW(win32::FilePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                   nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      ::CloseHandle(h);
      return path;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  win32::LastError();
  return {};
}

}  // namespace

THandle FileCreate(const std::string& path) {
  if (path.empty()) return win32::SetError(ERROR_PATH_NOT_FOUND), InvalidHandle;
  const HANDLE h =
      ::CreateFileW(win32::FilePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? Fail() : win32::FromHandle(h);
}

THandle FileOpen(const std::string& path, TFileAccess access) {
  if (path.empty()) return win32::SetError(ERROR_PATH_NOT_FOUND), InvalidHandle;
  const std::wstring name = win32::FilePath(path);
  const DWORD rights = access == TFileAccess::Read    ? GENERIC_READ
                       : access == TFileAccess::Write ? GENERIC_WRITE
                                                      : GENERIC_READ | GENERIC_WRITE;
  const DWORD flags = access == TFileAccess::Read ? FILE_FLAG_SEQUENTIAL_SCAN : 0;
  const HANDLE h = ::CreateFileW(name.c_str(), rights, kShareReadWrite, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // A folder cannot be opened as a file: the system says "access denied".
    const DWORD attr = ::GetFileAttributesW(name.c_str());
    if (error == ERROR_ACCESS_DENIED && attr != INVALID_FILE_ATTRIBUTES &&
        (attr & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      win32::SetError(ErrNotRegularFile);
      return InvalidHandle;
    }
    win32::SetError(static_cast<int>(error));
    return InvalidHandle;
  }
  if (access == TFileAccess::Read && ::GetFileType(h) != FILE_TYPE_DISK) {
    // A device (CON, NUL, COM1) or a pipe: reading it could wait for ever.
    ::CloseHandle(h);
    win32::SetError(ErrNotRegularFile);
    return InvalidHandle;
  }
  return win32::FromHandle(h);
}

int FileSync(THandle handle) {
  NoteFileCall("sync", handle);
  return ::FlushFileBuffers(win32::ToHandle(handle)) ? 0 : win32::LastError();
}

int FileStartWriteback(THandle) {
  // Windows writes a file's cached bytes out on its own within seconds, and
  // has no call that starts it without waiting for it.
  return 0;
}

int FileClose(THandle handle) {
  if (handle == InvalidHandle) return ERROR_INVALID_HANDLE;
  return ::CloseHandle(win32::ToHandle(handle)) ? 0 : win32::LastError();
}

TFileIo FileRead(THandle handle, void* buffer, int64_t count) {
  TFileIo io;
  auto* out = static_cast<char*>(buffer);
  while (io.count < count) {
    const auto want = static_cast<DWORD>(std::min(count - io.count, kMaxChunk));
    DWORD got = 0;
    if (!::ReadFile(win32::ToHandle(handle), out + io.count, want, &got, nullptr)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) break;
      io.error = static_cast<int>(error);
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
    const auto want = static_cast<DWORD>(std::min(count - io.count, kMaxChunk));
    DWORD put = 0;
    if (!::WriteFile(win32::ToHandle(handle), in + io.count, want, &put, nullptr)) {
      io.error = static_cast<int>(::GetLastError());
      break;
    }
    if (put == 0) {  // no progress and no reason: treat as a full disk
      io.error = ERROR_DISK_FULL;
      break;
    }
    io.count += put;
  }
  return io;
}

int64_t FileSeek(THandle handle, int64_t offset, int origin) {
  const DWORD method = origin == 0 ? FILE_BEGIN : origin == 1 ? FILE_CURRENT : FILE_END;
  if (origin < 0 || origin > 2) return win32::SetError(ERROR_INVALID_PARAMETER), -1;
  LARGE_INTEGER distance, position;
  distance.QuadPart = offset;
  if (!::SetFilePointerEx(win32::ToHandle(handle), distance, &position, method)) {
    win32::LastError();
    return -1;
  }
  return position.QuadPart;
}

int64_t FileSizeOf(THandle handle) {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(win32::ToHandle(handle), &size)) return win32::LastError(), -1;
  return size.QuadPart;
}

uint32_t FileDosDateTime(THandle handle) {
  FILETIME written;
  if (!::GetFileTime(win32::ToHandle(handle), nullptr, nullptr, &written)) return 0xFFFFFFFFu;
  return win32::DosDateTimeFromFileTime(written);
}

TFileStatus FileStatusOf(const std::string& path) {
  TFileStatus status;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path.empty() ||
      !::GetFileAttributesExW(win32::FilePath(path).c_str(), GetFileExInfoStandard, &data)) {
    return status;
  }
  status.Attr = data.dwFileAttributes;
  const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status.Size = directory ? 0
                          : static_cast<int64_t>(static_cast<uint64_t>(data.nFileSizeHigh) << 32 |
                                                 data.nFileSizeLow);
  status.Time = win32::DosDateTimeFromFileTime(data.ftLastWriteTime);
  // 100-nanosecond ticks since 1601, counted from 1970 as on POSIX; a time
  // too far off for 64 bits of nanoseconds stops at the end of the range.
  constexpr int64_t kTicksTo1970 = 116444736000000000;
  const uint64_t ticks = static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 |
                         data.ftLastWriteTime.dwLowDateTime;
  const int64_t since1970 = static_cast<int64_t>(ticks & INT64_MAX) - kTicksTo1970;
  status.WriteTimeNs = since1970 > INT64_MAX / 100 ? INT64_MAX : since1970 * 100;
  return status;
}

uint32_t FileGetAttr(const std::string& path) {
  return FileStatusOf(path).Attr;
}

int FileClearArchiveBit(const std::string& path) {
  const std::wstring name = win32::FilePath(path);
  const DWORD attr = ::GetFileAttributesW(name.c_str());
  if (attr == INVALID_FILE_ATTRIBUTES) return win32::LastError();
  if ((attr & FILE_ATTRIBUTE_ARCHIVE) == 0) return 0;
  // Only these bits can be set through SetFileAttributesW; the others
  // (compressed, encrypted, reparse point...) are kept by the file system.
  constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                              FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                              FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                              FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  DWORD wanted = attr & kSettable & ~static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE);
  if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
  return ::SetFileAttributesW(name.c_str(), wanted) ? 0 : win32::LastError();
}

std::string GetTempDir(const std::string& tempPath) {
  std::string dir;
  if (DirectoryExists(tempPath)) {
    dir = tempPath;
  } else {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
    dir = n > 0 && n <= MAX_PATH ? win32::Narrow(std::wstring_view(buffer, n)) : "C:\\";
  }
  if (dir.back() != '\\' && dir.back() != '/') dir += PathDelim;
  return dir;
}

std::string CreateTempFile(const std::string& dir, const std::string& prefix) {
  std::string base = dir;
  if (!base.empty() && base.back() != '\\' && base.back() != '/') base += PathDelim;
  base += prefix;
  return CreateUnique([&] { return base + RandomPart() + ".tmp"; });
}

TFileKind FileKindOf(const std::string& path) {
  const HANDLE h = OpenForQuery(path);
  if (h == INVALID_HANDLE_VALUE) {
    // Something that exists but cannot be opened at all is still something.
    const DWORD attr = path.empty() ? INVALID_FILE_ATTRIBUTES
                                    : ::GetFileAttributesW(win32::FilePath(path).c_str());
    if (attr == INVALID_FILE_ATTRIBUTES) {
      win32::LastError();
      return TFileKind::None;
    }
    return (attr & FILE_ATTRIBUTE_DIRECTORY) ? TFileKind::Directory : TFileKind::Regular;
  }
  TFileKind kind = TFileKind::Other;
  if (::GetFileType(h) == FILE_TYPE_DISK) {
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileInformationByHandle(h, &info)) {
      kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? TFileKind::Directory
                                                                : TFileKind::Regular;
    }
  }
  ::CloseHandle(h);
  return kind;
}

bool EntryExists(const std::string& path) {
  // The attributes are those of a link itself, not of what it points to.
  return !path.empty() &&
         ::GetFileAttributesW(win32::FilePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION info[2];
  const std::string* paths[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    const HANDLE h = OpenForQuery(*paths[i]);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = ::GetFileType(h) == FILE_TYPE_DISK && ::GetFileInformationByHandle(h, &info[i]);
    ::CloseHandle(h);
    if (!ok) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
         info[0].nFileIndexLow == info[1].nFileIndexLow;
}

bool IsInUseError(int error) {
  // A server that holds its database open without sharing, or has locked a
  // range of it.
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

void SetOsError(int error) {
  win32::SetError(error);
}

std::string SysErrorMessage(int error) {
  if (error == ErrNotRegularFile) return "not a regular file";
  if (error == ErrNameTaken) return "another file took its name";
  if (error == ErrNoClone) return "the file system cannot clone files";
  if (error == ErrDeviceName) return "its archive name is a device name on Windows";
  if (error == ErrFolderBusy) return "another run is writing into it";
  if (error == ErrForeignFolder) return "its folder is a link or another user's";
  wchar_t* text = nullptr;
  // The system's text in the user's language; ALLOCATE_BUFFER because some
  // messages are long.
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message;
  if (n > 0 && text != nullptr) message = win32::Narrow(std::wstring_view(text, n));
  if (text != nullptr) ::LocalFree(text);
  // The system ends its texts with a line break (and keeps its full stop).
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  if (message.empty()) message = "System error " + std::to_string(error);
  return message;
}
