// The Win32 file layer: Unicode names (outside the Basic Multilingual Plane
// too), paths past 260 characters and names of devices through every call,
// attributes as the file system keeps them, a file locked by another handle,
// the same-file and same-name checks, and error texts.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "DirList.h"
#include "File.h"
#include "FileOutput.h"
#include "Files.h"
#include "Win32.h"
#include "WinTestSupport.h"

namespace {

std::string ReadAll(const std::string& path) {
  const THandle h = FileOpen(path, TFileAccess::Read);
  if (h == InvalidHandle) return "<cannot open: " + SysErrorMessage(errno) + ">";
  std::string content(static_cast<size_t>(FileSizeOf(h)), '\0');
  const TFileIo io = FileRead(h, content.data(), static_cast<int64_t>(content.size()));
  FileClose(h);
  content.resize(static_cast<size_t>(io.count));
  return content;
}

std::map<std::string, TDirEntryInfo> List(const std::string& folder) {
  std::map<std::string, TDirEntryInfo> entries;
  TDirList list(folder);
  while (list.Next()) entries[std::string(list.Name())] = list.Describe();
  return entries;
}

// Names no ANSI code page holds: Greek, CJK, a character outside the BMP
// (a surrogate pair in UTF-16), and one that differs from ASCII only by case
// in another script.
const std::vector<std::string> kNames = {
    "caf\xC3\xA9.mdf",                     // café
    "\xE6\x97\xA5\xE6\x9C\xAC.mdf",        // 日本
    "emoji \xF0\x9F\x98\x80 [x].mdf",      // U+1F600
    "\xCE\xA9mega-\xC3\x89T\xC3\x89.MDF",  // ΩMEGA-ÉTÉ
};

TEST(Win32FilesTest, UnicodeNamesAndLongPathsGoThroughEveryCall) {
  WinTempDir tmp;
  ASSERT_FALSE(tmp.Root().empty());
  // A folder chain that takes the path well past the classic 260 characters.
  std::string deep;
  for (int i = 0; i < 12; ++i)
    deep += (i ? "\\" : "") + std::string(28, static_cast<char>('a' + i));
  const std::string deepDir = tmp.Dir(deep);
  ASSERT_GT(deepDir.size(), 330u);
  ASSERT_TRUE(DirectoryExists(deepDir));

  std::vector<std::string> paths;
  for (const std::string& name : kNames) paths.push_back(tmp.Path(name));
  paths.push_back(deepDir + "\\" + kNames[2]);
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    ASSERT_EQ(tmp.File(path.substr(tmp.Root().size() + 1), "content of " + path), path);
    EXPECT_TRUE(FileExists(path));
    EXPECT_FALSE(DirectoryExists(path));
    EXPECT_EQ(ReadAll(path), "content of " + path);
    EXPECT_EQ(FileKindOf(path), TFileKind::Regular);
    EXPECT_NE(FileGetAttr(path), faInvalid);
    // A temporary file beside it, written through its handle and put in its
    // place by that handle.
    TOutputDir dir;
    ASSERT_EQ(dir.Open(ExtractFilePath(path)), 0);
    TTempFile temp;
    ASSERT_EQ(dir.CreateTemp(ExtractFileName(path), temp), 0) << SysErrorMessage(errno);
    EXPECT_EQ(temp.name.rfind(ExtractFileName(path) + ".tzw-", 0), 0u);
    EXPECT_EQ(FileWrite(temp.handle, "new", 3).count, 3);
    EXPECT_EQ(FileSync(temp.handle), 0);
    EXPECT_EQ(dir.Replace(temp, ExtractFileName(path)), 0);
    TOutputDir::Release(temp);
    EXPECT_EQ(ReadAll(path), "new");
  }

  // The listing gives the names back exactly, in UTF-8.
  const auto top = List(tmp.Root());
  for (const std::string& name : kNames) EXPECT_EQ(top.count(name), 1u) << name;
  const auto bottom = List(deepDir);
  ASSERT_EQ(bottom.count(kNames[2]), 1u);
  EXPECT_EQ(bottom.at(kNames[2]).Size, 3);
  EXPECT_EQ(bottom.count("."), 1u);

  for (const std::string& path : paths) {
    EXPECT_TRUE(DeleteFile(path)) << path;
    EXPECT_FALSE(FileExists(path)) << path;
    EXPECT_EQ(FileKindOf(path), TFileKind::None);
  }
}

// A temporary file being written is held without sharing: a later run's
// look for stale ones leaves it, removes one that nobody holds, and a
// discarded one goes by its handle. A replace keeps the file's identity.
TEST(Win32FilesTest, TemporaryFilesAreHeldRemovedAndReplacedByHandle) {
  WinTempDir tmp;
  TOutputDir dir;
  ASSERT_EQ(dir.Open(tmp.Root()), 0);
  const std::string stale = tmp.File("x.zip.tzw-abc123", "PK\x03\x04 half");
  TTempFile live;
  ASSERT_EQ(dir.CreateTemp("y.zip", live), 0);
  tmp.File("v.zip.tzw-def456", "not a zip");
  const auto names = [&](TOutputDir::TStale action) {
    std::vector<std::string> found;
    for (const auto& t : dir.StaleTemps(action)) found.push_back(t.name + ":" + t.leftBecause);
    return found;
  };
  const std::vector<std::string> expected = {
      "v.zip.tzw-def456:it does not begin like a ZIP archive", "x.zip.tzw-abc123:"};
  EXPECT_EQ(names(TOutputDir::TStale::Find), expected);
  EXPECT_TRUE(FileExists(stale));
  EXPECT_EQ(names(TOutputDir::TStale::Remove), expected);
  EXPECT_FALSE(FileExists(stale));
  EXPECT_TRUE(FileExists(tmp.Path(live.name)));

  tmp.File("y.zip", "PK\x03\x04 last week's");
  EXPECT_EQ(FileWrite(live.handle, "new", 3).count, 3);
  const TFileId written = live.id;
  ASSERT_EQ(dir.Replace(live, "y.zip"), 0);
  TOutputDir::Release(live);
  EXPECT_EQ(ReadAll(tmp.Path("y.zip")), "new");
  EXPECT_TRUE(dir.StatusAt("y.zip").stamp.id == written);

  TTempFile dropped;
  ASSERT_EQ(dir.CreateTemp("z.zip", dropped), 0);
  const std::string droppedName = dropped.name;
  dir.Discard(dropped);
  EXPECT_FALSE(FileExists(tmp.Path(droppedName)));
  EXPECT_EQ(names(TOutputDir::TStale::Find), std::vector<std::string>{expected[0]});

  // Two files swap names by three moves here, never replacing a file, and
  // only while each name holds the file meant.
  tmp.File("a.zip.1", "older");
  const TFileId a = dir.StatusAt("y.zip").stamp.id, b = dir.StatusAt("a.zip.1").stamp.id;
  EXPECT_EQ(dir.Exchange("y.zip", b, "a.zip.1", a), ErrNameTaken);
  ASSERT_EQ(dir.Exchange("y.zip", a, "a.zip.1", b), 0);
  EXPECT_EQ(ReadAll(tmp.Path("y.zip")), "older");
  EXPECT_EQ(ReadAll(tmp.Path("a.zip.1")), "new");
}

TEST(Win32FilesTest, NamesConvertBothWaysWithoutLoss) {
  for (const std::string& name : kNames) EXPECT_EQ(win32::Narrow(win32::Widen(name)), name);
  EXPECT_EQ(win32::Widen("\xF0\x9F\x98\x80"), std::wstring(L"\xD83D\xDE00"));
  // A lone surrogate, which NTFS allows in a name, survives the round trip.
  const std::wstring lone = L"a\xD800z";
  EXPECT_EQ(win32::Widen(win32::Narrow(lone)), lone);
  // Bytes that are not UTF-8 become U+FFFD instead of vanishing.
  EXPECT_EQ(win32::Widen("a\xFFz"), std::wstring(L"a\xFFFDz"));
}

TEST(Win32FilesTest, AttributesAreTheFileSystemsOwn) {
  WinTempDir tmp;
  const std::string plain = tmp.File("plain.mdf", "x");
  const std::string readOnly = tmp.File("read-only.mdf", "x");
  const std::string hidden = tmp.File("hidden.mdf", "x");
  ASSERT_TRUE(::SetFileAttributesW(win32::FilePath(readOnly).c_str(),
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(::SetFileAttributesW(win32::FilePath(hidden).c_str(),
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));

  EXPECT_EQ(FileGetAttr(plain), faArchive);
  EXPECT_EQ(FileGetAttr(readOnly), faReadOnly | faArchive);
  EXPECT_EQ(FileGetAttr(hidden), faHidden | faArchive);
  EXPECT_EQ(FileGetAttr(tmp.Root()) & faDirectory, faDirectory);
  EXPECT_EQ(FileGetAttr(tmp.Path("missing")), faInvalid);
  // The listing reports the same bits.
  const auto entries = List(tmp.Root());
  EXPECT_EQ(entries.at("read-only.mdf").Attr, faReadOnly | faArchive);
  EXPECT_EQ(entries.at("hidden.mdf").Attr, faHidden | faArchive);

  // A read-only file opens for reading, not for writing, and the reason is
  // the system's text. Wine keeps the read-only bit as the owner's write
  // permission, which does not stop root: there the open succeeds.
  EXPECT_EQ(ReadAll(readOnly), "x");
  const THandle writing = FileOpen(readOnly, TFileAccess::Write);
  if (writing == InvalidHandle) {
    EXPECT_EQ(errno, ERROR_ACCESS_DENIED);
  } else {
    EXPECT_TRUE(RunningUnderWine());
    FileClose(writing);
  }
  EXPECT_EQ(SysErrorMessage(ERROR_ACCESS_DENIED),
            RunningUnderWine() ? "Access denied." : "Access is denied.");

  // The archive bit: cleared when asked, the others kept. Wine reports the
  // archive bit on every file whatever is stored, so there it stays set.
  const uint32_t cleared = RunningUnderWine() ? faArchive : 0;
  EXPECT_EQ(FileClearArchiveBit(readOnly), 0);
  EXPECT_EQ(FileGetAttr(readOnly), faReadOnly | cleared);
  EXPECT_EQ(FileClearArchiveBit(plain), 0);
  EXPECT_EQ(FileGetAttr(plain) & faArchive, cleared);
  EXPECT_EQ(FileClearArchiveBit(plain), 0);  // clearing a clear bit is no error
  EXPECT_EQ(FileClearArchiveBit(hidden), 0);
  EXPECT_EQ(FileGetAttr(hidden), faHidden | cleared);
  EXPECT_NE(FileClearArchiveBit(tmp.Path("missing")), 0);
}

TEST(Win32FilesTest, ALockedFileIsRefusedWithItsReason) {
  WinTempDir tmp;
  const std::string path = tmp.File("held.mdf", "data");
  // Another handle, as a database server holds its files: no sharing at all.
  const HANDLE held = ::CreateFileW(win32::FilePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(FileOpen(path, TFileAccess::Read), InvalidHandle);
  EXPECT_EQ(errno, ERROR_SHARING_VIOLATION);
  // Wine has texts of its own for the system's errors.
  EXPECT_EQ(
      SysErrorMessage(ERROR_SHARING_VIOLATION),
      RunningUnderWine()
          ? "Sharing violation."
          : "The process cannot access the file because it is being used by another process.");
  // It still exists, is what it is and is itself.
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(FileKindOf(path), TFileKind::Regular);
  EXPECT_TRUE(SameFile(path, path));
  ::CloseHandle(held);
  EXPECT_EQ(ReadAll(path), "data");

  // A holder that lets others read does not stop us.
  const HANDLE sharing =
      ::CreateFileW(win32::FilePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(sharing, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadAll(path), "data");
  ::CloseHandle(sharing);
}

TEST(Win32FilesTest, OnlyRegularFilesOpenForReading) {
  WinTempDir tmp;
  EXPECT_EQ(FileOpen(tmp.Root(), TFileAccess::Read), InvalidHandle);
  EXPECT_EQ(errno, ErrNotRegularFile);
  EXPECT_EQ(SysErrorMessage(ErrNotRegularFile), "not a regular file");
  // A device, named as one, is no file: reading it could wait for ever. In a
  // folder its name is a file's (DeviceNamesAreFileNames).
  EXPECT_EQ(FileOpen("\\\\.\\NUL", TFileAccess::Read), InvalidHandle);
  EXPECT_EQ(errno, ErrNotRegularFile);
  EXPECT_EQ(FileKindOf("\\\\.\\NUL"), TFileKind::Other);
  EXPECT_EQ(FileKindOf(tmp.Path("NUL")), TFileKind::None);
  EXPECT_EQ(FileKindOf(tmp.Root()), TFileKind::Directory);
  EXPECT_EQ(FileOpen(tmp.Path("missing.mdf"), TFileAccess::Read), InvalidHandle);
  EXPECT_EQ(errno, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SysErrorMessage(ERROR_FILE_NOT_FOUND),
            RunningUnderWine() ? "File not found." : "The system cannot find the file specified.");
}

TEST(Win32FilesTest, NamesCompareWithoutCaseAndFilesByIdentity) {
  WinTempDir tmp;
  const std::string a = tmp.File("\xC3\x89t\xC3\xA9.mdf", "a");  // Été.mdf
  const std::string b = tmp.File("other.mdf", "b");
  const std::string upper = tmp.Path("\xC3\x89T\xC3\x89.MDF");  // ÉTÉ.MDF
  EXPECT_TRUE(SameFileName("C:\\Data\\A.MDF", "c:\\data\\a.mdf"));
  EXPECT_TRUE(SameFileName(a, upper));
  EXPECT_FALSE(SameFileName(a, b));
  EXPECT_FALSE(SameFileName("C:\\a.mdf", "C:\\a.mdf "));

  EXPECT_TRUE(SameFile(a, a));
  EXPECT_TRUE(SameFile(a, upper));  // another spelling of the same file
  EXPECT_TRUE(SameFile(a, tmp.Root() + "\\.\\" + ExtractFileName(a)));
  EXPECT_FALSE(SameFile(a, b));
  EXPECT_FALSE(SameFile(a, tmp.Path("missing.mdf")));
  // A hard link is the same file under another name.
  const std::string link = tmp.Path("link.mdf");
  if (::CreateHardLinkW(win32::FilePath(link).c_str(), win32::FilePath(a).c_str(), nullptr)) {
    EXPECT_TRUE(SameFile(a, link));
  }
}

// Names that Windows takes for devices outside the full path form (and Wine
// too, but for the superscript digits) are files through every call: the
// archives an MSDE run names con.zip or lpt2.zip, and databases named so.
TEST(Win32FilesTest, DeviceNamesAreFileNames) {
  WinTempDir tmp;
  TOutputDir dir;
  ASSERT_EQ(dir.Open(tmp.Root()), 0);
  const std::vector<std::string> names = {"con.zip", "nul.zip",  "aux.zip",        "com1.zip",
                                          "prn.zip", "lpt2.zip", "CON.mdf",        "LPT1.mdf",
                                          "NUL",     "conout$",  "com\xC2\xB9.zip"};  // COM¹
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(win32::IsDeviceName(name));
    EXPECT_TRUE(dir.StatusAt(name).absent);
    TTempFile temp;
    ASSERT_EQ(dir.CreateTemp(name, temp), 0) << SysErrorMessage(errno);
    EXPECT_EQ(FileWrite(temp.handle, name.data(), static_cast<int64_t>(name.size())).count,
              static_cast<int64_t>(name.size()));
    const TFileId id = temp.id;
    ASSERT_EQ(dir.Replace(temp, name), 0) << SysErrorMessage(errno);
    TOutputDir::Release(temp);
    EXPECT_EQ(dir.StatusAt(name).kind, TEntryKind::Regular);
    EXPECT_EQ(FileKindOf(tmp.Path(name)), TFileKind::Regular);
    EXPECT_EQ(ReadAll(tmp.Path(name)), name);
    EXPECT_EQ(List(tmp.Root()).count(name), 1u);
    // Kept under its next name and removed by identity, as the rotation does.
    ASSERT_EQ(dir.KeepAs(name, id, name + ".1", false), 0) << SysErrorMessage(errno);
    EXPECT_EQ(dir.RemoveAt(name + ".1", id), 0);
    EXPECT_EQ(FileKindOf(tmp.Path(name + ".1")), TFileKind::None);
  }
  for (const char* name : {"console.zip", "com10.zip", "lpt.mdf", "xnul.zip", "sales.zip"})
    EXPECT_FALSE(win32::IsDeviceName(name)) << name;
  EXPECT_TRUE(win32::IsDeviceName("Aux .tar.gz"));
  EXPECT_EQ(SysErrorMessage(ErrDeviceName), "its archive name is a device name on Windows");
}

// Every path reaches the system in the full form, cleaned first since the
// system no longer cleans it; the last name is the file's own, dots and all.
TEST(Win32FilesTest, PathsTakeTheFullForm) {
  EXPECT_EQ(win32::FilePath("C:\\data\\con.zip"), L"\\\\?\\C:\\data\\con.zip");
  EXPECT_EQ(win32::FilePath("C:/data/./old\\\\..\\LPT1.mdf"), L"\\\\?\\C:\\data\\LPT1.mdf");
  EXPECT_EQ(win32::FilePath("C:\\data\\old\\.."), L"\\\\?\\C:\\data");
  EXPECT_EQ(win32::FilePath("C:\\"), L"\\\\?\\C:\\");
  EXPECT_EQ(win32::FilePath("\\\\server\\share\\db\\nul.zip"),
            L"\\\\?\\UNC\\server\\share\\db\\nul.zip");
  EXPECT_EQ(win32::FilePath("\\\\?\\C:\\a\\..\\b"), L"\\\\?\\C:\\a\\..\\b");
  wchar_t current[MAX_PATH];
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, current), 0u);
  std::wstring here = current;
  if (here.back() != L'\\') here += L'\\';
  EXPECT_EQ(win32::FilePath("aux.zip"), L"\\\\?\\" + here + L"aux.zip");

  // A name that ends in a dot or a space is another file than the one
  // without: each opens as itself.
  WinTempDir tmp;
  const std::string plain = tmp.File("a.mdf", "plain");
  const std::string dotted = tmp.File("a.mdf.", "dot");
  const std::string spaced = tmp.File("a.mdf ", "space");
  EXPECT_EQ(ReadAll(plain), "plain");
  EXPECT_EQ(ReadAll(dotted), "dot");
  EXPECT_EQ(ReadAll(spaced), "space");
  EXPECT_EQ(List(tmp.Root()).size(), 5u);
  EXPECT_FALSE(SameFile(plain, dotted));
}

TEST(Win32FilesTest, PathsFollowTheWindowsRules) {
  EXPECT_EQ(PathDelim, '\\');
  EXPECT_EQ(ExtractFileDrive("C:\\data\\a.mdf"), "C:");
  EXPECT_EQ(ExtractFileDrive("c:"), "c:");
  EXPECT_EQ(ExtractFileDrive("\\\\server\\share\\data\\a.mdf"), "\\\\server\\share");
  EXPECT_EQ(ExtractFileDrive("\\\\server\\share"), "\\\\server\\share");
  EXPECT_EQ(ExtractFileDrive("\\\\server"), "");
  EXPECT_EQ(ExtractFileDrive("\\data\\a.mdf"), "");
  EXPECT_EQ(ExtractFileName("C:a.mdf"), "a.mdf");
  EXPECT_EQ(ExtractFileName("C:\\data/a.mdf"), "a.mdf");
  EXPECT_EQ(ExtractFilePath("C:\\data\\a.mdf"), "C:\\data\\");
  EXPECT_EQ(DiskRootOf("D:\\data"), "D:");
  // The C: drive of the test bed is there and listed from its root.
  bool hasC = false;
  for (const std::string& root : AllDiskRoots()) hasC = hasC || root == "C:";
  EXPECT_TRUE(hasC);
  EXPECT_TRUE(DirectoryExists("C:\\"));
  EXPECT_FALSE(List("C:").empty());
  EXPECT_EQ(GetTempDir("").back(), '\\');
}

TEST(Win32FilesTest, TimesAreLocalMsDosTimes) {
  WinTempDir tmp;
  const std::string path = tmp.File("timed.mdf", "x");
  // 2024-03-05 10:11:13 UTC, from the same instant in both clocks.
  const std::time_t when = 1709633473;
  const uint64_t ticks = (static_cast<uint64_t>(when) + 11644473600ull) * 10000000ull;
  FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  const HANDLE h = ::CreateFileW(win32::FilePath(path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(::SetFileTime(h, nullptr, nullptr, &ft));
  ::CloseHandle(h);

  const uint32_t expected = DosDateTimeFromUnix(when);
  // The seconds are halved: 13 s packs as 6.
  EXPECT_EQ(expected & 0x1F, 6u);
  EXPECT_EQ(expected >> 25, 2024u - 1980u);
  const THandle f = FileOpen(path, TFileAccess::Read);
  ASSERT_NE(f, InvalidHandle);
  EXPECT_EQ(FileDosDateTime(f), expected);
  FileClose(f);
  EXPECT_EQ(List(tmp.Root()).at("timed.mdf").Time, expected);
  // By name: the same time, the size, and the precise time counted from 1970
  // as on POSIX.
  const TFileStatus status = FileStatusOf(path);
  EXPECT_EQ(status.Time, expected);
  EXPECT_EQ(status.Size, 1);
  EXPECT_EQ(status.WriteTimeNs, static_cast<int64_t>(when) * 1000000000);
  EXPECT_EQ(FileStatusOf(tmp.Root()).Size, 0);
  EXPECT_FALSE(FileStatusOf(tmp.Path("missing")).Exists());
  // Out of the MS-DOS range: clamped to its ends.
  EXPECT_EQ(DosDateTimeFromUnix(0), (1u << 5 | 1u) << 16);
  EXPECT_EQ(DosDateTimeFromUnix(static_cast<std::time_t>(5000000000LL)),
            ((127u << 9) | (12u << 5) | 31u) << 16 | (23u << 11) | (59u << 5) | 29u);
}

}  // namespace
