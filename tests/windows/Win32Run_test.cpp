// The search and the archive writer on Windows, as a run drives them: paths
// with backslashes and drives, names compared without regard to case, hidden
// databases found, names outside code page 437 stored in UTF-8, a locked
// database skipped, and the archive bit cleared when asked.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ArchiveName.h"
#include "CodePage.h"
#include "File.h"
#include "Files.h"
#include "PatternSearch.h"
#include "RecorderUi.h"
#include "Run.h"
#include "SFolders.h"
#include "Win32.h"
#include "WinTestSupport.h"
#include "ZipWriter.h"

namespace {

std::string ReadAll(const std::string& path) {
  const THandle h = FileOpen(path, TFileAccess::Read);
  if (h == InvalidHandle) return {};
  std::string content(static_cast<size_t>(FileSizeOf(h)), '\0');
  content.resize(static_cast<size_t>(FileRead(h, content.data(), FileSizeOf(h)).count));
  FileClose(h);
  return content;
}

uint32_t U16(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8;
}
uint32_t U32(const std::string& b, size_t at) {
  return U16(b, at) | U16(b, at + 2) << 16;
}

// The one entry of an archive as its central header tells it.
struct Entry {
  bool ok = false;
  uint32_t flags = 0, external = 0;
  std::string name;
};
Entry OnlyEntry(const std::string& archive) {
  Entry e;
  const size_t central = archive.rfind(std::string("PK\x01\x02", 4));
  if (central == std::string::npos || central + 46 > archive.size()) return e;
  e.ok = true;
  e.flags = U16(archive, central + 8);
  e.external = U32(archive, central + 38);
  e.name = archive.substr(central + 46, U16(archive, central + 28));
  return e;
}

// Zips one file as the run does it; the archive's bytes.
int ZipOne(TZipWriter& writer, const std::string& source, const std::string& archive) {
  writer.FilesList.clear();
  writer.SetZipName(archive);
  writer.FilesList.push_back(source);
  writer.Recurse = false;
  writer.SetStorePaths(false);
  writer.PackLevel = 6;
  return writer.Zip();
}

TEST(Win32RunTest, SearchAndZipAWindowsTree) {
  RecorderUi ui;
  WinTempDir tmp;
  const std::string src = tmp.Dir("Source");
  tmp.Dir("Source\\Sub Dir");
  const std::string out = tmp.Dir("Out");
  const std::string smile = "\xF0\x9F\x98\x80";  // outside code page 437 and the BMP
  tmp.File("Source\\QRN_Sales_dat.MDF", std::string(5000, 'a'));
  tmp.File("Source\\Sub Dir\\caf\xC3\xA9.mdf", "caf\xC3\xA9");
  tmp.File("Source\\Sub Dir\\" + smile + ".mdf", "smile");
  tmp.File("Source\\notes.txt", "not a database");
  const std::string hidden = tmp.File("Source\\hidden.mdf", "hidden");
  ASSERT_TRUE(::SetFileAttributesW(win32::FilePath(hidden).c_str(),
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

  TSearchFolders search;
  search.FileMask = "*.mdf";
  search.ScanOptions = TScanOptions::soSpecifiedDir;
  search.ScanDir = src;
  search.DoRecursive = true;
  std::vector<std::string> entered;
  search.OnProcess = [&](TObject*, const std::string& dir, int32_t, int32_t) {
    entered.push_back(dir);
  };
  search.Scan();
  EXPECT_EQ(entered, (std::vector<std::string>{src, src + "\\Sub Dir"}));
  std::vector<std::string> found;
  for (const TFilePack& pack : search.FoundFiles) {
    EXPECT_EQ(pack.Dir.back(), '\\');
    EXPECT_TRUE(FileExists(pack.Dir + pack.FileName)) << pack.Dir + pack.FileName;
    found.push_back(pack.Dir.substr(src.size()) + pack.FileName);
  }
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"\\QRN_Sales_dat.MDF", "\\Sub Dir\\caf\xC3\xA9.mdf",
                                             "\\Sub Dir\\" + smile + ".mdf", "\\hidden.mdf"}));
  const auto hiddenPack =
      std::find_if(search.FoundFiles.begin(), search.FoundFiles.end(),
                   [](const TFilePack& p) { return p.FileName == "hidden.mdf"; });
  ASSERT_NE(hiddenPack, search.FoundFiles.end());
  EXPECT_EQ(hiddenPack->Attr, faHidden | faSysFile | faArchive);

  // Each database into its archive, named as the run names it.
  TZipWriter writer;
  writer.ResetArchiveBitOnZip = true;
  for (const TFilePack& pack : search.FoundFiles) {
    const std::string archive = ArchivePath(out, pack.FileName, TagRemoval::Remove);
    EXPECT_EQ(archive.rfind(out + "\\", 0), 0u);
    ASSERT_EQ(ZipOne(writer, pack.Dir + pack.FileName, archive), 1) << archive;
    const Entry e = OnlyEntry(ReadAll(archive));
    ASSERT_TRUE(e.ok) << archive;
    const TOemName stored = AnsiToOem(pack.FileName);
    EXPECT_EQ(e.name, stored.bytes);
    EXPECT_EQ((e.flags & 0x800) != 0, stored.utf8) << pack.FileName;
    // The attributes as they were when the file was read.
    EXPECT_EQ(e.external, pack.Attr) << pack.FileName;
    // Cleared afterwards (Wine reports the archive bit on every file).
    if (!RunningUnderWine()) {
      EXPECT_EQ(FileGetAttr(pack.Dir + pack.FileName) & faArchive, 0u);
    }
  }
  EXPECT_TRUE(FileExists(out + "\\sales.zip"));
  EXPECT_TRUE(FileExists(out + "\\" + smile + ".zip"));
  EXPECT_EQ(OnlyEntry(ReadAll(out + "\\sales.zip")).name, "QRN_Sales_dat.MDF");
  EXPECT_EQ(OnlyEntry(ReadAll(out + "\\" + smile + ".zip")).name, smile + ".mdf");
  EXPECT_EQ(OnlyEntry(ReadAll(out + "\\caf\xC3\xA9.zip")).name, "caf\x82.mdf");
}

TEST(Win32RunTest, ALockedDatabaseIsSkippedAndTheArchiveNameComparesWithoutCase) {
  RecorderUi ui;
  WinTempDir tmp;
  const std::string db = tmp.File("held.mdf", "held by its server");
  const std::string archive = tmp.Path("held.zip");
  const HANDLE held = ::CreateFileW(win32::FilePath(db).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  TZipWriter writer;
  std::vector<TSkipReason> skipped;
  writer.OnSkippingFile = [&](TObject*, TSkipReason reason, const std::string&, int) {
    skipped.push_back(reason);
  };
  EXPECT_EQ(ZipOne(writer, db, archive), 0);
  ::CloseHandle(held);
  EXPECT_EQ(skipped.size(), 1u);
  // Only the end record, with no entry.
  const std::string bytes = ReadAll(archive);
  ASSERT_EQ(bytes.size(), 22u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("PK\x05\x06", 4));

  // The archive's own name in another case is still the archive: a pattern
  // that takes every file of the folder leaves it out. Patterns find files
  // through the folder search, as in the window program.
  SetPatternSearch(SearchPatternFiles);
  struct Uninstall {
    ~Uninstall() { SetPatternSearch({}); }
  } uninstall;
  DeleteFile(archive);
  tmp.File("other.mdf", "other");
  writer.FilesList = {tmp.Path("*.*")};
  writer.SetZipName(tmp.Path("all.zip"));
  EXPECT_EQ(writer.Zip(), 2);
  ASSERT_TRUE(FileExists(tmp.Path("ALL.ZIP")));
  TZipWriter again;
  again.SetZipName(tmp.Path("ALL.ZIP"));
  again.ZipAction = TZipAction::zaReplace;
  again.FilesList = {tmp.Path("*.*")};
  std::vector<std::string> zipped;
  again.OnEndZip = [&](TObject*, const std::string& path, int64_t, int64_t, int64_t) {
    zipped.push_back(ExtractFileName(path));
  };
  EXPECT_EQ(again.Zip(), 2);
  std::sort(zipped.begin(), zipped.end());
  EXPECT_EQ(zipped, (std::vector<std::string>{"held.mdf", "other.mdf"}));
  // Setting the same name in another case changes nothing.
  again.SetZipName(tmp.Path("All.Zip"));
  EXPECT_EQ(again.ZipName(), tmp.Path("ALL.ZIP"));
}

// Databases whose archive names differ only in the case of a letter outside
// ASCII name one archive on Windows: they are zipped one after the other in
// the order found, whatever the job count, and the earlier is reported as
// replaced by the later.
TEST(Win32RunTest, CaseTwinsOutsideAsciiShareOneArchiveAndAreReported) {
  RecorderUi ui;
  WinTempDir tmp;
  const std::string upper = "\xC3\x84rger.mdf", lower = "\xC3\xA4rger.mdf";  // Ä and ä
  tmp.Dir("Source");
  tmp.Dir("Source\\a");
  tmp.Dir("Source\\b");
  tmp.File("Source\\a\\" + upper, std::string(3000, 'u'));
  tmp.File("Source\\b\\" + lower, std::string(5000, 'l'));
  tmp.File("Source\\b\\other.mdf", "other");
  std::vector<std::string> contents;
  for (int jobs : {1, 2}) {
    const std::string out = tmp.Dir("Out" + std::to_string(jobs));
    TRunView view;
    TRun run(view);
    TRunRequest request;
    request.sourceDir = tmp.Path("Source");
    request.outputDir = out;
    request.recursive = true;
    request.jobs = jobs;
    const TCancelToken cancel{false};
    ASSERT_EQ(run.Execute(request, cancel), TRunEnd::Finished);
    ASSERT_EQ(run.Databases().size(), 3u);
    // Which twin is found first is the listing's business.
    const std::string first = run.Databases()[0].source.find("other") == std::string::npos
                                  ? run.Databases()[0].source
                                  : run.Databases()[1].source;
    const std::string later = first.find("\\a\\") != std::string::npos
                                  ? tmp.Path("Source\\b\\" + lower)
                                  : tmp.Path("Source\\a\\" + upper);
    const auto cases = run.Report().Cases();
    ASSERT_EQ(cases.size(), 1u) << jobs;
    EXPECT_EQ(cases[0].source, first);
    EXPECT_EQ(cases[0].reason, "its archive was replaced by " + later);
    ASSERT_EQ(run.Survivors().size(), 2u);
    std::vector<std::string> names;
    WIN32_FIND_DATAW data;
    const HANDLE find = ::FindFirstFileW(win32::FilePath(out + "\\*.zip").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do {
      names.push_back(win32::Narrow(data.cFileName));
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    EXPECT_EQ(names.size(), 2u) << jobs;
    const std::string archive = ArchivePath(out, ExtractFileName(first), TagRemoval::Keep);
    const Entry e = OnlyEntry(ReadAll(archive));
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.name, AnsiToOem(ExtractFileName(later)).bytes);
    contents.push_back(ReadAll(archive));
  }
  EXPECT_EQ(contents[0], contents[1]);
}

// Earlier archives move on by the folder's names on Windows too, each run's
// archive read back before it replaces anything; a file that is not ours
// stays and is reported.
TEST(Win32RunTest, VerifiedArchivesAndTheirEarlierOnesAreKept) {
  WinTempDir tmp;
  tmp.Dir("Source");
  const std::string out = tmp.Dir("Out");
  const auto run = [&](size_t size) {
    tmp.File("Source\\a.mdf", std::string(size, 'a'));
    TRunView view;
    TRun r(view);
    TRunRequest request;
    request.sourceDir = tmp.Path("Source");
    request.outputDir = out;
    request.verify = true;
    request.keep = 2;
    const TCancelToken cancel{false};
    EXPECT_EQ(r.Execute(request, cancel), TRunEnd::Finished);
    std::string report;
    for (const auto& c : r.Report().Cases()) report += c.reason + "\n";
    return report;
  };
  for (size_t size : {1000, 2000, 3000, 4000}) EXPECT_EQ(run(size), "") << size;
  const auto size = [&](const std::string& name) {
    const std::string bytes = ReadAll(out + "\\" + name);
    return bytes.size() < 26 ? 0u : U32(bytes, 22);  // the local header's size
  };
  EXPECT_EQ(size("a.zip"), 4000u);
  EXPECT_EQ(size("a.zip.1"), 3000u);
  EXPECT_EQ(size("a.zip.2"), 2000u);
  EXPECT_EQ(ReadAll(out + "\\a.zip.3"), "");
  tmp.File("Out\\a.zip.2", "the user's");
  EXPECT_EQ(run(5000), "only 1 earlier archive is kept: " + out + "\\a.zip.2" +
                           " is not an archive of this database and is left as it is\n");
  EXPECT_EQ(size("a.zip"), 5000u);
  EXPECT_EQ(size("a.zip.1"), 4000u);
  EXPECT_EQ(ReadAll(out + "\\a.zip.2"), "the user's");
}

}  // namespace
