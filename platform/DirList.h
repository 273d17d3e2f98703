// Directory listing for the folder search: every entry of one directory in the
// order the system returns them ("." and ".." included), each described the
// way the search expects (attribute bits, 64-bit size, MS-DOS local time).
// Entries are described lazily, so names that nobody asks about cost no
// system call beyond the listing itself.
#pragma once

#ifndef _WIN32
#include <dirent.h>
#include <sys/stat.h>
#endif

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Files.h"

struct TDirEntryInfo {
  int64_t Size = 0;
  uint32_t Attr = 0;
  uint32_t Time = 0;  // local MS-DOS date (high 16 bits) and time (low 16 bits)
};

// Whether a listing may go through a symbolic link that is the path's last part.
enum class TFollowLinks { Yes, No };

class TDirList {
 public:
  // Lists the directory at path; a directory that cannot be opened (missing,
  // no access, not a directory, empty path, or a link when links are not
  // followed) lists nothing and says why in Error.
  explicit TDirList(const std::string& path, TFollowLinks follow = TFollowLinks::Yes);
  // Lists the sub-directory name of parent's directory; a name that is a
  // symbolic link is not followed and lists nothing.
  TDirList(const TDirList& parent, std::string_view name);
  ~TDirList();
  TDirList(const TDirList&) = delete;
  TDirList& operator=(const TDirList&) = delete;

  bool IsOpen() const { return dir_ != nullptr; }
  // 0 while the listing went well; else the system's error number of the
  // open or read that failed, after which Next lists nothing more.
  int Error() const { return error_; }

  // Moves to the next entry; false when there is none (or on a read error).
  bool Next();

  // The current entry's name; valid until the next call of Next.
  std::string_view Name() const { return name_; }
  // True when the entry is a directory or a symbolic link to one.
  bool IsDirectory();
  // True when the entry is a symbolic link to a directory, which a walk must
  // not descend into (a link loop would make it endless).
  bool IsLinkToDirectory();
  // Size (0 for a directory), attributes and modification time, following
  // symbolic links; a dangling link is described as the link itself.
  const TDirEntryInfo& Describe();

 private:
#ifdef _WIN32
  // The listing's own record of the current entry (WIN32_FIND_DATAW).
  struct FindData;

  void OpenListing(const std::string& folder);

  void* dir_ = nullptr;  // the FindFirstFileExW handle, null when not open
  int error_ = 0;
  bool pending_ = false;  // the first entry came with the open and is not yet taken
  std::string folder_;
  std::unique_ptr<FindData> data_;
  std::string name_;
  bool described_ = false;
  TDirEntryInfo info_;
#else
  enum class Known : uint8_t { Nothing, Kind, Everything };

  void Open(int fd);
  // Finds out whether the entry is a directory and a link, stat()ing only
  // when the listing's type hint does not tell.
  void ResolveKind();
  // Fills st_ for the entry (following links, falling back to the link).
  bool StatEntry();

  DIR* dir_ = nullptr;
  int error_ = 0;
  std::string_view name_;
  unsigned char type_ = DT_UNKNOWN;

  Known known_ = Known::Nothing;
  bool isDirectory_ = false;
  bool isLink_ = false;
  bool statValid_ = false;  // st_ holds the entry's (or the link's) status
  struct stat st_ {};
  TDirEntryInfo info_;
#endif
};

// The folders a scan of all disks starts from: the one root on POSIX; on
// Windows "A:" to "Z:" for each fixed, network, CD-ROM or RAM drive present.
std::vector<std::string> AllDiskRoots();
// The folder that stands for the whole disk that holds path: the root on
// POSIX, the path's first two characters ("D:") on Windows.
std::string DiskRootOf(const std::string& path);
