// Writing into the output folder on Windows: the folder is held open without
// delete sharing for the run, so it cannot be renamed or swapped; a temporary
// file is created new (never through a link) and opened without sharing,
// which is also what tells a later run that it is live; it is put in place
// and removed by its handle.
#include "FileOutput.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "Win32.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Names on the file systems Windows writes to hold at most this many UTF-16
// units; a UTF-8 name is at least as long in bytes.
constexpr size_t kMaxName = 255;
constexpr int kNameAttempts = 100;

// 100-nanosecond ticks since 1601 as nanoseconds since 1970.
int64_t Nanoseconds(int64_t ticks) {
  constexpr int64_t kTicksTo1970 = 116444736000000000;
  const int64_t since1970 = ticks - kTicksTo1970;
  return since1970 > INT64_MAX / 100 ? INT64_MAX : since1970 * 100;
}

int StampOf(HANDLE h, TFileStamp& stamp, DWORD* attributes) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h, &info)) return win32::LastError();
  stamp = {};
  stamp.id = {info.dwVolumeSerialNumber,
              static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
  stamp.size =
      static_cast<int64_t>(static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow);
  stamp.links = info.nNumberOfLinks;
  FILE_BASIC_INFO basic{};
  if (::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) {
    stamp.writeTimeNs = Nanoseconds(basic.LastWriteTime.QuadPart);
    stamp.changeTimeNs = Nanoseconds(basic.ChangeTime.QuadPart);
  } else {
    stamp.writeTimeNs = Nanoseconds(
        static_cast<int64_t>(static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32 |
                             info.ftLastWriteTime.dwLowDateTime));
  }
  if (attributes != nullptr) *attributes = info.dwFileAttributes;
  return 0;
}

// Marks the open file for deletion when its last handle closes.
bool DeleteByHandle(HANDLE h) {
  // The one member is named after the DeleteFile macro of <windows.h>.
  FILE_DISPOSITION_INFO disposition{TRUE};
  return ::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition);
}

// The error of a call on name that failed with error, or opened something
// other than a file. The full path form makes the system take a device's name
// for a file's; where it still answers as for a device (a share whose server
// refuses such names), the name is the cause, not what the system says.
int NameError(const std::string& name, int error) {
  const bool deviceLike = error == ERROR_INVALID_HANDLE || error == ERROR_INVALID_PARAMETER ||
                          error == ERROR_INVALID_NAME || error == ERROR_FILE_NOT_FOUND ||
                          error == ERROR_PATH_NOT_FOUND || error == ErrNotRegularFile;
  if (deviceLike && win32::IsDeviceName(name)) error = ErrDeviceName;
  win32::SetError(error);
  return error;
}

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  const char last = dir.back();
  return last == '\\' || last == '/' ? dir + name : dir + '\\' + name;
}

}  // namespace

int FileStampOf(THandle handle, TFileStamp& stamp) {
  return StampOf(win32::ToHandle(handle), stamp, nullptr);
}

int FileSetMode(THandle, uint32_t) {
  return 0;
}

bool FileAtPathBelow(const std::string&, const std::string&, const TFileId&) {
  return true;
}

int FileSetGroup(THandle, uint32_t) {
  return 0;
}

uint32_t NewFileMode() {
  return 0;
}

TOutputDir::~TOutputDir() {
  Close();
}

int TOutputDir::Open(const std::string& path) {
  Close();
  // Without delete sharing nobody can rename or remove the folder while the
  // run writes into it, so its path keeps naming this folder.
  const HANDLE h =
      ::CreateFileW(win32::FilePath(path.empty() ? "." : path).c_str(),
                    FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return win32::LastError();
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    ::CloseHandle(h);
    win32::SetError(ERROR_DIRECTORY);
    return ERROR_DIRECTORY;
  }
  handle_ = win32::FromHandle(h);
  path_ = path.empty() ? "." : path;
  maxName_ = kMaxName;
  return 0;
}

TEntryStatus TOutputDir::StatusAt(const std::string& name) const {
  TEntryStatus status;
  const HANDLE h = ::CreateFileW(
      win32::FilePath(Join(path_, name)).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    status.error = win32::LastError();
    status.absent = status.error == ERROR_FILE_NOT_FOUND || status.error == ERROR_PATH_NOT_FOUND;
    if (!status.absent) status.error = NameError(name, status.error);
    return status;
  }
  DWORD attributes = 0;
  status.error = StampOf(h, status.stamp, &attributes);
  const bool disk = ::GetFileType(h) == FILE_TYPE_DISK;
  ::CloseHandle(h);
  if (status.error != 0) return status;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    status.kind = TEntryKind::Link;
  } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    status.kind = TEntryKind::Directory;
  } else if (disk) {
    status.kind = TEntryKind::Regular;
  } else if (win32::IsDeviceName(name)) {
    status.error = NameError(name, ErrNotRegularFile);  // the device, not a file there
  } else {
    status.kind = TEntryKind::Other;
  }
  return status;
}

THandle TOutputDir::OpenForReadingAt(const std::string& name) const {
  const HANDLE h = ::CreateFileW(win32::FilePath(Join(path_, name)).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return NameError(name, win32::LastError()), InvalidHandle;
  BY_HANDLE_FILE_INFORMATION info;
  const bool disk = ::GetFileType(h) == FILE_TYPE_DISK;
  if (!disk || !::GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    ::CloseHandle(h);
    // A folder or a link is no archive; a device answering for the name is
    // the name's fault.
    if (disk) {
      win32::SetError(ErrNotRegularFile);
    } else {
      NameError(name, ErrNotRegularFile);
    }
    return InvalidHandle;
  }
  return win32::FromHandle(h);
}

int TOutputDir::CreateTemp(const std::string& name, TTempFile& temp) const {
  temp = TTempFile{};
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string tempName = TempNameFor(name, maxName_);
    // CREATE_NEW takes no existing name, a link included; no sharing keeps
    // others out while it is written and marks it live to a later run.
    const HANDLE h = ::CreateFileW(win32::FilePath(Join(path_, tempName)).c_str(),
                                   GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const int error = win32::LastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      return NameError(tempName, error);
    }
    temp.handle = win32::FromHandle(h);
    temp.name = tempName;
    TFileStamp stamp;
    if (const int error = StampOf(h, stamp, nullptr); error != 0) {
      Discard(temp);
      return error;
    }
    temp.id = stamp.id;
    return 0;
  }
  return ERROR_FILE_EXISTS;
}

// Gives the open file h the path target (replacing a file there only when
// asked): true, or false with the system's error.
bool RenameByHandle(HANDLE h, const std::wstring& target, bool replace) {
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::memcpy(rename->FileName, target.c_str(), target.size() * sizeof(wchar_t));
  return ::SetFileInformationByHandle(h, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()));
}

int TOutputDir::Replace(TTempFile& temp, const std::string& name, bool nameFree) const {
  NoteFileCall("rename", temp.handle);
  if (!RenameByHandle(win32::ToHandle(temp.handle), win32::FilePath(Join(path_, name)),
                      !nameFree)) {
    return NameError(name, win32::LastError());
  }
  temp.name.clear();
  NoteFileCall("renamed", temp.handle);
  return Holds(name, temp.id) ? 0 : ErrNameTaken;
}

int TOutputDir::ReplaceRefusal(const std::string&) const {
  return 0;
}

int TOutputDir::KeepAs(const std::string& name, const TFileId& id, const std::string& kept,
                       bool stay) const {
  if (!Holds(name, id)) return ErrNameTaken;
  const std::wstring from = win32::FilePath(Join(path_, name));
  const std::wstring to = win32::FilePath(Join(path_, kept));
  // Neither call replaces a file at kept.
  if (stay && ::CreateHardLinkW(to.c_str(), from.c_str(), nullptr)) return 0;
  if (stay && (::GetLastError() == ERROR_ALREADY_EXISTS || ::GetLastError() == ERROR_FILE_EXISTS))
    return win32::LastError();
  if (::MoveFileExW(from.c_str(), to.c_str(), 0)) return 0;
  return win32::LastError();
}

int TOutputDir::RemoveAt(const std::string& name, const TFileId& id) const {
  const HANDLE h = ::CreateFileW(
      win32::FilePath(Join(path_, name)).c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return win32::LastError();
  TFileStamp stamp;
  int error = StampOf(h, stamp, nullptr);
  if (error == 0 && !(stamp.id == id)) error = ErrNameTaken;
  if (error == 0 && !DeleteByHandle(h)) error = win32::LastError();
  ::CloseHandle(h);
  return error;
}

void TOutputDir::Discard(TTempFile& temp) const {
  if (!temp.name.empty() && temp.handle != InvalidHandle) {
    DeleteByHandle(win32::ToHandle(temp.handle));
  }
  temp.name.clear();
  Release(temp);
}

int TOutputDir::CloneUnnamed(THandle /*source*/, THandle& clone) const {
  // NTFS shares no data between files; ReFS block cloning would need a named
  // file of the same size made first.
  clone = InvalidHandle;
  return ErrNoClone;
}

int TOutputDir::Sync() const {
  // NTFS journals its folder entries; the folder's handle has no data of its
  // own to flush.
  NoteFileCall("sync", handle_);
  return 0;
}

bool TOutputDir::Shared() const {
  return false;
}

int TOutputDir::NameTemp(TTempFile&, const std::string&) const {
  return 0;  // a temporary always has its name here
}

int TOutputDir::OpenBelow(const TOutputDir& parent, const std::string& relative, bool create) {
  Close();
  std::string path = parent.path_;
  size_t start = 0;
  while (start < relative.size()) {
    size_t slash = relative.find('/', start);
    if (slash == std::string::npos) slash = relative.size();
    const std::string step = relative.substr(start, slash - start);
    start = slash + 1;
    if (step.empty() || step == ".") continue;
    if (step == "..") return ERROR_INVALID_NAME;
    path = Join(path, step);
    const std::wstring wide = win32::FilePath(path);
    DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES && create &&
        ::CreateDirectoryW(wide.c_str(), nullptr))
      attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return win32::LastError();
    // A junction or link planted on the way is never followed.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      return ErrForeignFolder;
  }
  return Open(path);
}

int TOutputDir::Lock(bool, bool, const std::atomic<bool>&, long& holder) const {
  holder = 0;
  return 0;
}

int TOutputDir::ExchangeAtomic(const std::string&, const std::string&) const {
  return ErrNoExchange;
}

int TOutputDir::MoveHeld(const std::string& name, const TFileId& id, const std::string& to,
                         THandle held) const {
  // A temporary of ours is held without sharing: only its handle moves it.
  if (held == InvalidHandle) return KeepAs(name, id, to, false);
  if (!Holds(name, id)) return ErrNameTaken;
  if (!RenameByHandle(win32::ToHandle(held), win32::FilePath(Join(path_, to)), false))
    return NameError(to, win32::LastError());
  return 0;
}

std::vector<std::string> TOutputDir::List() const {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  const HANDLE find = ::FindFirstFileExW(win32::FilePath(Join(path_, "*")).c_str(), FindExInfoBasic,
                                         &found, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = win32::Narrow(found.cFileName);
    if (name != "." && name != "..") names.push_back(name);
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
  return names;
}

int TOutputDir::LookAtTemp(const std::string& name, THandle& handle, TTempLook& look) const {
  // A live run holds its temporary without sharing: opening it fails.
  const HANDLE h = ::CreateFileW(win32::FilePath(Join(path_, name)).c_str(), GENERIC_READ | DELETE,
                                 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const int error = win32::LastError();
    look.live = error == ERROR_SHARING_VIOLATION;
    return look.live ? 0 : error;
  }
  handle = win32::FromHandle(h);
  DWORD attributes = 0;
  if (const int error = StampOf(h, look.stamp, &attributes); error != 0) return error;
  if (::GetFileType(h) != FILE_TYPE_DISK ||
      (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return ErrNotRegularFile;
  }
  DWORD got = 0;
  if (!::ReadFile(h, look.head, sizeof look.head, &got, nullptr)) return win32::LastError();
  look.headSize = got;
  return 0;
}

bool TOutputDir::RemoveTemp(const std::string&, THandle handle) const {
  return DeleteByHandle(win32::ToHandle(handle));
}
