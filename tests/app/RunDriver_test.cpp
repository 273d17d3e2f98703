// The shared run driver on real trees: every database ends archived or
// reported with its reason, and no file of the user's is lost on the way.
#include "RunDriver.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "ArchiveCheck.h"
#include "Errors.h"
#include "SFolders.h"
#include "TempTree.h"
#include "ZipWriter.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Rows(size_t bytes, int seed = 1) {
  std::string s;
  for (size_t i = 0; s.size() < bytes; ++i)
    s += "row " + std::to_string(i * 7919 % 1000 + seed) + "\n";
  s.resize(bytes);
  return s;
}

// The entry names and sizes an archive holds, after the readers' own tests.
std::string Holds(const std::string& archive) {
  const auto report =
      archive_check::CheckArchive(archive, archive_check::kZipfile | archive_check::kUnzip);
  if (!report.ok) return "invalid: " + report.log;
  std::string text;
  for (const auto& e : report.entries) text += e.name + ":" + std::to_string(e.Num("usize")) + " ";
  return text;
}

// Files our writer left half-written beside the archives.
std::vector<std::string> Leftovers(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().filename().string().find(".tzw-") != std::string::npos) {
      names.push_back(e.path().filename());
    }
  }
  return names;
}

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

struct DriverRun {
  TSearchFolders search;
  TZipWriter writer;
  TRunDriver driver;
  TCancelToken cancel{false};
  std::vector<TZipResult> results;

  // What the window does for one run: search, then zip each database found.
  void Go(const std::string& src, const std::string& out, const std::string& mask = "*.mdf",
          int level = 6) {
    search.FileMask = mask;
    search.Messages = false;
    TRunDriver::SetUpSearch(search, src, true);
    EXPECT_EQ(driver.BeginRun(out), 0);
    search.Scan();
    driver.SearchDone(search);
    for (const TFilePack& pack : search.FoundFiles) {
      const std::string archive = ArchivePath(out, pack.FileName, TagRemoval::Keep);
      foretold.push_back(driver.WouldSkip(archive, pack.Dir + pack.FileName));
      results.push_back(
          driver.ZipDatabase(writer, archive, pack.Dir + pack.FileName, level, cancel));
    }
    EXPECT_EQ(driver.EndRun(), 0);
  }
  // What the dry run's question said of each database just before it was
  // zipped is what zipping it did: the same skip and reason, or an archive.
  void ExpectForetold() const {
    ASSERT_EQ(foretold.size(), results.size());
    for (size_t i = 0; i < results.size(); ++i) {
      const TZipResult& said = foretold[i];
      const TZipResult& did = results[i];
      if (said.reason.empty()) {
        EXPECT_EQ(said.outcome, TZipOutcome::Archived);
        EXPECT_TRUE(did.InPlace()) << did.reason;
      } else {
        EXPECT_EQ(static_cast<int>(said.outcome), static_cast<int>(did.outcome)) << said.reason;
        EXPECT_EQ(said.reason, did.reason);
      }
    }
  }
  std::vector<TZipResult> foretold;
  std::string ReasonFor(const std::string& source) const {
    for (const auto& c : driver.Report().Cases())
      if (c.source == source) return c.reason;
    return "(not reported)";
  }
};

TEST(RunDriverTest, HostileTreeLosesNothingAndReportsEveryCase) {
  TempTree src, out;
  const std::string good = src.File("good.mdf", Rows(300000));
  // A private earlier archive, cut short: the new one stays as private.
  ::chmod(out.File("good.zip", "PK\x03\x04 an earlier archive, cut short").c_str(), 0600);
  // Not ours: a text file where an archive would go.
  const std::string notes = out.File("notes.zip", "my notes, not an archive");
  src.File("notes.mdf", Rows(1000));
  // Not regular files: a FIFO, a folder and a socket matching the mask.
  ASSERT_EQ(::mkfifo(src.Path("pipe.mdf").c_str(), 0600), 0);
  src.Dir("folder.mdf");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string sockPath = src.Path("sock.mdf");
  ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
  ::strcpy(addr.sun_path, sockPath.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  // An empty file at an archive's place holds nothing to lose.
  const std::string empty = out.File("small.zip", "");
  src.File("small.mdf", "tiny");

  DriverRun run;
  run.Go(src.Root(), out.Root());
  ::close(sock);

  EXPECT_EQ(Holds(out.Path("good.zip")), "good.mdf:300000 ");
  struct stat st {};
  ASSERT_EQ(::stat(out.Path("good.zip").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(Holds(out.Path("small.zip")), "small.mdf:4 ");
  EXPECT_EQ(ReadAll(notes), "my notes, not an archive");
  EXPECT_EQ(run.ReasonFor(src.Path("notes.mdf")), "its archive would replace " + notes);
  for (const char* odd : {"pipe.mdf", "folder.mdf", "sock.mdf"})
    EXPECT_EQ(run.ReasonFor(src.Path(odd)), "not a regular file") << odd;
  EXPECT_EQ(run.ReasonFor(good), "(not reported)");
  EXPECT_EQ(run.driver.Report().Cases().size(), 4u);
  run.ExpectForetold();
  EXPECT_TRUE(Leftovers(out.Root()).empty());
  EXPECT_TRUE(Leftovers(src.Root()).empty());
}

TEST(RunDriverTest, OutputIntoTheSourceFolderNeverTakesAFoundFile) {
  TempTree src;
  // With every file found, "data" is both a database and its own archive name.
  const std::string data = src.File("data", Rows(5000));
  src.File("a.mdf", Rows(6000));
  DriverRun run;
  run.Go(src.Root(), src.Root(), "*");
  EXPECT_EQ(ReadAll(data), Rows(5000));
  EXPECT_EQ(run.ReasonFor(data), "its archive would replace " + data);
  EXPECT_EQ(Holds(src.Path("a.zip")), "a.mdf:6000 ");
  // b.mdf.mdf is archived as b.zip.mdf, which is a database found too.
  TempTree mixed;
  const std::string twice = mixed.File("b.mdf.mdf", Rows(2000));
  const std::string victim = mixed.File("b.zip.mdf", Rows(3000, 7));
  DriverRun again;
  again.Go(mixed.Root(), mixed.Root());
  EXPECT_EQ(ReadAll(victim), Rows(3000, 7));
  EXPECT_EQ(again.ReasonFor(twice), "its archive would replace " + victim);
  run.ExpectForetold();
  again.ExpectForetold();
  // Asking writes nothing, and a database gone since the search is one that
  // could not be read.
  fs::remove(twice);
  const auto before = Listing(mixed.Root());
  const TZipResult gone = again.driver.WouldSkip(mixed.Path("b.zip"), twice);
  EXPECT_EQ(static_cast<int>(gone.outcome), static_cast<int>(TZipOutcome::NotRead));
  EXPECT_EQ(gone.reason, "could not be read: " + std::string(std::strerror(ENOENT)));
  EXPECT_EQ(Listing(mixed.Root()), before);
}

TEST(RunDriverTest, CancelKeepsThePreviousArchiveAndRemovesTheNewOne) {
  TempTree src, out;
  src.File("big.mdf", Rows(4 << 20));
  DriverRun first;
  first.Go(src.Root(), out.Root());
  const std::string previous = ReadAll(out.Path("big.zip"));
  ASSERT_FALSE(previous.empty());

  src.File("big.mdf", Rows(4 << 20, 3));  // a newer version to archive
  DriverRun second;
  second.writer.OnTotalPercentDone = [&](TObject*, int percent) {
    if (percent >= 30) second.cancel = true;
  };
  EXPECT_THROW(second.Go(src.Root(), out.Root()), EUserCanceled);
  EXPECT_EQ(ReadAll(out.Path("big.zip")), previous);
  EXPECT_TRUE(Leftovers(out.Root()).empty());
  second.cancel = false;
  second.writer.OnTotalPercentDone = nullptr;
  second.results.clear();
  second.Go(src.Root(), out.Root());
  EXPECT_EQ(second.results.at(0).outcome, TZipOutcome::Archived);
}

TEST(RunDriverTest, FailuresKeepTheOldArchiveAndAreNeverCountedAsArchived) {
  TempTree src, out;
  src.File("a.mdf", Rows(100000));
  const std::string previous = out.File("a.zip", "PK\x05\x06 stands for an older archive");
  // The output folder refuses new files: the archive cannot be written.
  if (::geteuid() != 0) {
    ::chmod(out.Root().c_str(), 0555);
    DriverRun run;
    run.Go(src.Root(), out.Root());
    ::chmod(out.Root().c_str(), 0755);
    ASSERT_EQ(run.results.size(), 1u);
    EXPECT_EQ(run.results[0].outcome, TZipOutcome::Failed);
    EXPECT_NE(run.ReasonFor(src.Path("a.mdf")).find("Permission denied"), std::string::npos);
    EXPECT_EQ(ReadAll(previous), "PK\x05\x06 stands for an older archive");
  }
  // A database shrinking while it is read: archived as read, and said so.
  DriverRun run;
  run.writer.OnTotalPercentDone = [&](TObject*, int percent) {
    if (percent > 0 && fs::file_size(src.Path("a.mdf")) == 100000)
      fs::resize_file(src.Path("a.mdf"), 10);
  };
  run.Go(src.Root(), out.Root());
  ASSERT_EQ(run.results.size(), 1u);
  const TZipResult& r = run.results[0];
  EXPECT_EQ(r.outcome, TZipOutcome::ArchivedChanged);
  EXPECT_EQ(r.sizeAtStart, 100000);
  EXPECT_LT(r.bytesRead, 100000);
  EXPECT_EQ(run.ReasonFor(src.Path("a.mdf")), "changed while read: 100000 bytes at start, " +
                                                  std::to_string(r.bytesRead) + " bytes archived");
  EXPECT_EQ(Holds(out.Path("a.zip")), "a.mdf:" + std::to_string(r.bytesRead) + " ");
}

TEST(RunDriverTest, LinksAndNamesAtTheEdgesAreArchivedOrReportedAsTheyAre) {
  TempTree src;
  // With every file found and the archives going into the source folder, a
  // link that points nowhere is a database found where x.mdf's archive goes.
  src.File("x.mdf", Rows(3000));
  src.Link("x.zip", src.Path("gone/nowhere.zip"));
  // A link loop can be neither read nor looked at: the system says why.
  src.Link("loop.mdf", src.Path("loop.mdf"));
  // A name at the file system's limit leaves no room for the suffix of the
  // file written beside its archive.
  const std::string longName = std::string(251, 'L') + ".mdf";
  src.File(longName, Rows(7000));
  // Wildcard characters in a name are its own: its archive holds it alone.
  src.File("q*.mdf", Rows(100));
  src.File("q?.mdf", Rows(200));
  src.File("qa.mdf", Rows(300));
  const mode_t oldMask = ::umask(022);
  DriverRun run;
  run.Go(src.Root(), src.Root(), "*");
  ::umask(oldMask);

  std::error_code error;
  EXPECT_TRUE(fs::is_symlink(src.Path("x.zip")));
  EXPECT_EQ(fs::read_symlink(src.Path("x.zip"), error), src.Path("gone/nowhere.zip"));
  EXPECT_EQ(run.ReasonFor(src.Path("x.mdf")), "its archive would replace " + src.Path("x.zip"));
  EXPECT_EQ(run.ReasonFor(src.Path("x.zip")),
            "could not be read: " + std::string(std::strerror(ENOENT)));
  EXPECT_EQ(run.ReasonFor(src.Path("loop.mdf")),
            "could not be read: " + std::string(std::strerror(ELOOP)));
  const std::string longArchive = src.Path(std::string(251, 'l') + ".zip");
  EXPECT_EQ(run.ReasonFor(src.Path(longName)), "(not reported)");
  EXPECT_EQ(Holds(longArchive), longName + ":7000 ");
  EXPECT_EQ(Holds(src.Path("q*.zip")), "q*.mdf:100 ");
  EXPECT_EQ(Holds(src.Path("q?.zip")), "q?.mdf:200 ");
  EXPECT_EQ(Holds(src.Path("qa.zip")), "qa.mdf:300 ");
  // The archive is as readable as any file the user makes, not private to us.
  struct stat st {};
  ASSERT_EQ(::stat(longArchive.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(run.driver.Report().Cases().size(), 3u);
  EXPECT_TRUE(Leftovers(src.Root()).empty());
}

TEST(RunDriverTest, DatabasesSwappedBetweenSearchAndZipNeverBlockOrLoseAnything) {
  TempTree src, out;
  for (const char* name : {"fifo.mdf", "gone.mdf", "dir.mdf", "loop.mdf", "kept.mdf"})
    src.File(name, Rows(2000));
  const std::string older = out.File("fifo.zip", "PK\x03\x04 last week's archive");
  TSearchFolders search;
  search.FileMask = "*.mdf";
  search.Messages = false;
  TRunDriver::SetUpSearch(search, src.Root(), false);
  TRunDriver driver;
  driver.BeginRun(out.Root());
  search.Scan();
  driver.SearchDone(search);
  ASSERT_EQ(search.FoundFiles.size(), 5u);
  // Between the search and the zipping: a FIFO with no writer takes one
  // database's name, another is deleted, one becomes a folder, one a loop.
  fs::remove(src.Path("fifo.mdf"));
  ASSERT_EQ(::mkfifo(src.Path("fifo.mdf").c_str(), 0600), 0);
  fs::remove(src.Path("gone.mdf"));
  fs::remove(src.Path("dir.mdf"));
  src.Dir("dir.mdf");
  fs::remove(src.Path("loop.mdf"));
  src.Link("loop.mdf", src.Path("loop.mdf"));
  TZipWriter writer;
  std::map<std::string, TZipOutcome> outcomes;
  for (const TFilePack& pack : search.FoundFiles) {
    outcomes[pack.FileName] =
        driver
            .ZipDatabase(writer, ArchivePath(out.Root(), pack.FileName, TagRemoval::Keep),
                         pack.Dir + pack.FileName, 6, TCancelToken{false})
            .outcome;
  }
  EXPECT_EQ(outcomes["fifo.mdf"], TZipOutcome::NotRegular);
  EXPECT_EQ(outcomes["dir.mdf"], TZipOutcome::NotRegular);
  EXPECT_EQ(outcomes["gone.mdf"], TZipOutcome::NotRead);
  EXPECT_EQ(outcomes["loop.mdf"], TZipOutcome::NotRead);
  EXPECT_EQ(outcomes["kept.mdf"], TZipOutcome::Archived);
  EXPECT_EQ(ReadAll(older), "PK\x03\x04 last week's archive");
  EXPECT_EQ(Holds(out.Path("kept.zip")), "kept.mdf:2000 ");
  EXPECT_EQ(driver.Report().Cases().size(), 4u);
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(out.Root())) left.push_back(e.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"fifo.zip", "kept.zip"}));
}

TEST(RunReportTest, NamesEveryCaseAndCapsWhatTheBoxShows) {
  RunReport report;
  EXPECT_TRUE(report.Empty());
  report.Archived("/out/a.zip", "/src/one/a.mdf");
  report.FolderNotListed("/src/locked", EACCES);
  report.Archived("/out/a.zip", "/src/two/a.mdf");
  EXPECT_EQ(report.Text(),
            "Process Complete!\n\nSome databases were not archived:\n"
            "/src/locked: could not be listed: Permission denied\n"
            "/src/one/a.mdf: its archive was replaced by /src/two/a.mdf");
  for (int i = 0; i < 30; ++i) report.Add("/src/x" + std::to_string(i), "not a regular file");
  const std::string capped = report.Text(kReportLines);
  EXPECT_EQ(std::count(capped.begin(), capped.end(), '\n'), 3 + 20);
  EXPECT_TRUE(capped.ends_with("\n/src/x17: not a regular file\nand 12 more"));
  const std::string details = report.Details();
  EXPECT_EQ(std::count(details.begin(), details.end(), '\n'), 32);
  report.Clear();
  EXPECT_TRUE(report.Empty());
}

}  // namespace
