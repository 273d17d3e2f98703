// The file primitives the streams and the archive writer use: open, read,
// write, seek, size and close on a descriptor, a file's MS-DOS time and
// attributes, temporary files and copying. Every call reports failure instead
// of raising; the error number is returned or left in errno. Error numbers
// are the system's own: errno values on POSIX, GetLastError codes on Windows
// (there they are left in errno too), and SysErrorMessage gives their text.
#pragma once

#include <cstdint>
#include <string>

#include "Files.h"

#ifdef _WIN32
// A Win32 HANDLE held as an integer (INVALID_HANDLE_VALUE is -1).
using THandle = intptr_t;
#else
using THandle = int;
#endif
inline constexpr THandle InvalidHandle = -1;

// The error of opening for reading something that is not a regular file (a
// FIFO, a device, a socket, a directory): a private number beside the
// system's, so that it travels the same way and has a text of its own.
inline constexpr int ErrNotRegularFile = -2;
// The error of putting a file in place when, in the same instant, another
// program put a different file under the name.
inline constexpr int ErrNameTaken = -3;

// The error of cloning a file where its file system cannot share its data
// with another file (or has no unnamed files to hold a clone).
inline constexpr int ErrNoClone = -4;

// The error of swapping two files' names where the file system cannot do it
// in one step.
inline constexpr int ErrNoExchange = -7;

// The error of writing a file under a name that the system takes for a device
// (CON, NUL, COM1 with any extension on Windows) even through the full path
// form, which names files only: the name, not the disk, is the cause.
inline constexpr int ErrDeviceName = -8;
// The error of taking a folder for a run while another run holds it.
inline constexpr int ErrFolderBusy = -9;
// The error of writing into a folder below the output folder that is a link,
// or another user's where others may create files.
inline constexpr int ErrForeignFolder = -10;

// What FileGetAttr answers when nothing exists at the path.
inline constexpr uint32_t faInvalid = 0xFFFFFFFFu;

enum class TFileAccess { Read, Write, ReadWrite };

// Creates path, or truncates it, for reading and writing (mode 0666 less the
// umask). InvalidHandle with errno set when it cannot.
THandle FileCreate(const std::string& path);
// Opens an existing file without creating it. A directory is refused (EISDIR).
// Opening for reading never blocks and takes regular files only: anything
// else is refused with ErrNotRegularFile.
THandle FileOpen(const std::string& path, TFileAccess access);
// Makes what was written to the file durable; 0 or the error number.
int FileSync(THandle handle);
// Asks the system to start writing what was written to the file to the disk
// now, without waiting for the writing to end (a busy disk may hold the call
// for a while): FileSync then has less left to wait for. FileSync still makes
// the bytes durable. 0, or the error number when writing the file failed; a
// file system that does not take the hint is no failure.
int FileStartWriteback(THandle handle);
// Closes the descriptor; 0 on success, else the error number.
int FileClose(THandle handle);

// The outcome of a transfer: bytes moved, and the error number that stopped
// it early (0 when it stopped only at end of file, or did not stop).
struct TFileIo {
  int64_t count = 0;
  int error = 0;
};

// Reads until count bytes came, end of file, or an error.
TFileIo FileRead(THandle handle, void* buffer, int64_t count);
// Writes until count bytes went or an error stopped it (ENOSPC for a full disk).
TFileIo FileWrite(THandle handle, const void* buffer, int64_t count);
// Moves the file offset (origin 0 start, 1 current, 2 end); the new offset,
// or -1 with errno set.
int64_t FileSeek(THandle handle, int64_t offset, int origin);
// The size of the open file, or -1 with errno set.
int64_t FileSizeOf(THandle handle);

// The last-write time of the open file as local MS-DOS date (high 16 bits)
// and time (low 16 bits); 0xFFFFFFFF when it cannot be read.
uint32_t FileDosDateTime(THandle handle);

// What a path names, described as a directory listing describes an entry:
// the one way the program reads a file's size and times by its name.
struct TFileStatus {
  // POSIX: faDirectory for a directory, faArchive for anything else, plus
  // faReadOnly when the owner may not write it and faHidden when its name
  // starts with ".". Windows: all the bits the file system keeps. faInvalid
  // when nothing is there.
  uint32_t Attr = faInvalid;
  int64_t Size = 0;             // 0 for a directory
  uint32_t Time = 0xFFFFFFFFu;  // last write as local MS-DOS date and time
  int64_t WriteTimeNs = 0;      // last write to the nanosecond, to tell changes apart
  bool Exists() const { return Attr != faInvalid; }
};
// POSIX follows symbolic links (a dangling link is described as the link
// itself); Windows describes a link itself, as its listing does.
TFileStatus FileStatusOf(const std::string& path);

// The attributes FileStatusOf reports.
uint32_t FileGetAttr(const std::string& path);
// Clears the archive attribute of path (after it was zipped): 0, or the error
// number. POSIX file systems keep no such attribute: nothing to do there.
int FileClearArchiveBit(const std::string& path);

// The directory for temporary files: tempPath when it names an existing
// directory, else $TMPDIR when that does, else "/tmp". Ends in a separator.
std::string GetTempDir(const std::string& tempPath);
// Creates a new empty file in dir named prefix (three letters) plus a unique
// part and returns its path; empty with errno set when it cannot.
std::string CreateTempFile(const std::string& dir, const std::string& prefix);

// What a path names, following symbolic links; None with the reason left in
// errno (a missing file, a link loop, a folder not searchable...).
enum class TFileKind { None, Regular, Directory, Other };
TFileKind FileKindOf(const std::string& path);
// True when anything at all is at path, a symbolic link that points nowhere
// included.
bool EntryExists(const std::string& path);
// True when both paths exist and name the same file (through links, other
// spellings or hard links).
bool SameFile(const std::string& a, const std::string& b);

// Copies source to dest (created or truncated). The number of bytes copied,
// or -1 with errno set when anything failed; a failed copy leaves no dest.
int64_t CopyFileContents(const std::string& source, const std::string& dest);

// True when error says that another program holds the file open and shares
// it with no one (Windows); never on POSIX, where such a file is read as it is.
bool IsInUseError(int error);

// Leaves error where the system's own calls leave theirs (errno, and on
// Windows the thread's last error too).
void SetOsError(int error);
// The operating system's text for an error number ("not a regular file" for
// ErrNotRegularFile, "another file took its name" for ErrNameTaken).
std::string SysErrorMessage(int error);
