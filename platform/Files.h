// Path conventions and the simple file-system calls: the platform separator,
// the drive part, existence tests, deletion and MS-DOS time packing.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// Attribute bits of a file or directory entry, as the system reports them.
inline constexpr uint32_t faReadOnly = 0x01;
inline constexpr uint32_t faHidden = 0x02;
inline constexpr uint32_t faSysFile = 0x04;
inline constexpr uint32_t faDirectory = 0x10;
inline constexpr uint32_t faArchive = 0x20;

#ifdef _WIN32
// The separator the system uses in paths it builds and splits.
inline constexpr char PathDelim = '\\';
// Characters at the start of a path that name its drive ("C:").
inline constexpr int DrivePartLength = 2;
#else
// The separator the system uses in paths it builds and splits.
inline constexpr char PathDelim = '/';
// Characters at the start of a path that name its drive: POSIX paths have none.
inline constexpr int DrivePartLength = 0;
#endif

// True when something that is not a directory exists at path.
bool FileExists(const std::string& path);
// True when path names a directory (following symbolic links).
bool DirectoryExists(const std::string& path);
// Two paths name the same file by their text: on POSIX file systems, which
// tell names apart by case, only an exact match; on Windows, a match without
// regard to case (the file system's own upper-casing, any script).
bool SameFileName(const std::string& a, const std::string& b);
// Deletes a file; true when it is gone.
bool DeleteFile(const std::string& path);

// The name part of a path: what follows its last separator (on Windows also
// its last colon or forward slash).
std::string ExtractFileName(const std::string& path);
// This machine's name, for a log read later elsewhere; "" when the system
// gives none.
std::string HostName();
// The directory part of a path, up to and including its last separator.
std::string ExtractFilePath(const std::string& path);
// The drive part of a path: "C:" or a share's "\\server\share" on Windows,
// empty when the path has none (always on POSIX).
std::string ExtractFileDrive(const std::string& path);

// A time as local MS-DOS date (high 16 bits) and time (low 16 bits), with
// 2-second resolution; clamped to 1980-01-01 00:00:00 .. 2107-12-31 23:59:58,
// 0xFFFFFFFF when the local time cannot be computed.
uint32_t DosDateTimeFromUnix(std::time_t t);
