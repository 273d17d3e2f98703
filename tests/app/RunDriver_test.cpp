// The shared run driver on real trees: every database ends archived or
// reported with its reason, and no file of the user's is lost on the way.
#include "RunDriver.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <utility>

#include "ArchiveCheck.h"
#include "ArchiveVerify.h"
#include "Errors.h"
#include "FileOutput.h"
#include "SFolders.h"
#include "TempTree.h"
#include "ZipWriter.h"

namespace {

namespace fs = std::filesystem;

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

// The user the hostile tests run as when they start as root.
constexpr uid_t kNobody = 65534;

// Runs body as an unprivileged user (in a child that gives up root, when the
// test runs as root) and returns what it returns: the problems it found.
std::string AsUnprivileged(const std::function<std::string()>& body) {
  if (::geteuid() != 0) return body();
  int channel[2];
  if (::pipe(channel) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    std::string problems = "could not give up root";
    if (::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0)
      problems = body();
    if (problems.empty()) problems = "ok";
    ssize_t ignored = ::write(channel[1], problems.data(), problems.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(channel[1]);
  std::string answer;
  char block[4096];
  for (ssize_t n; (n = ::read(channel[0], block, sizeof block)) > 0;) answer.append(block, n);
  ::close(channel[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return answer == "ok" ? std::string() : answer.empty() ? "the child died" : answer;
}

// Gives a tree made by root to the unprivileged user, so it can work there.
void GiveAway(const std::string& root) {
  if (::geteuid() != 0) return;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (::lchown(e.path().c_str(), kNobody, kNobody) != 0) throw std::runtime_error("lchown");
  if (::chown(root.c_str(), kNobody, kNobody) != 0) throw std::runtime_error("chown");
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
    cancel = false;
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
  EXPECT_EQ(run.ReasonFor(src.Path("notes.mdf")),
            "its archive would replace " + notes + ", not a ZIP archive");
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

  // A live database rewrites its pages in place: the size stays, the report
  // still says so.
  src.File("a.mdf", Rows(100000));
  DriverRun rewritten;
  bool written = false;
  rewritten.writer.OnTotalPercentDone = [&](TObject*, int percent) {
    if (percent == 0 || written) return;
    std::fstream page(src.Path("a.mdf"), std::ios::in | std::ios::out | std::ios::binary);
    page.seekp(90000);
    page << "a page rewritten";
    written = true;
  };
  rewritten.Go(src.Root(), out.Root());
  ASSERT_EQ(rewritten.results.size(), 1u);
  EXPECT_EQ(rewritten.results[0].outcome, TZipOutcome::ArchivedChanged);
  EXPECT_EQ(rewritten.ReasonFor(src.Path("a.mdf")),
            "changed while read: written to while it was read");
  EXPECT_EQ(fs::file_size(src.Path("a.mdf")), 100000u);
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
  EXPECT_EQ(run.ReasonFor(src.Path("x.mdf")),
            "its archive would replace " + src.Path("x.zip") + ", a link");
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

// A user who may write into the output folder plants links at every name a
// run makes: the final names, the temporary file's name while it is written
// (when it has one), a final name swapped while its archive is written. The
// run writes through its own descriptors only: the link's target is never
// touched, nothing swapped in is reported archived, the temporary file is
// private while written, and an archive's bits never open up what the
// database or the old archive kept closed.
TEST(RunDriverTest, LinksPlantedAtEveryNameAreNeverFollowed) {
  for (const bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporary files" : "unnamed temporary files");
    TempTree src, out, elsewhere;
    const std::string victim = elsewhere.File("victim", "precious");
    src.File("a.mdf", Rows(3 << 20));
    src.File("b.mdf", Rows(1000));
    src.File("c.mdf", Rows(3 << 20, 5));
    ::chmod(src.File("p.mdf", Rows(2000)).c_str(), 0600);  // only its owner may read it
    src.File("s.mdf", Rows(3000));
    out.File("a.zip", "PK\x03\x04 last week's archive");
    out.Link("b.zip", victim);
    out.File("s.zip", "PK\x03\x04 an archive someone made setuid");
    // An archive of ours that cannot be read is not taken for a foreign file.
    src.File("u.mdf", Rows(500));
    out.File("u.zip", "PK\x03\x04 unreadable");
    ::chmod(src.File("r.mdf", Rows(500)).c_str(), 0);  // a database nobody may read
    const std::string sealed = elsewhere.Dir("sealed");
    for (const TempTree* tree : {&src, &out, &elsewhere}) GiveAway(tree->Root());
    ::chmod(out.Path("s.zip").c_str(), 04755);
    ::chmod(out.Path("u.zip").c_str(), 0);
    ::chmod(sealed.c_str(), 0555);

    const std::string problems = AsUnprivileged([&] {
      std::string found;
      const auto check = [&](bool ok, const std::string& what) {
        if (!ok) found += what + "\n";
      };
      UseNamedTempFiles(named);
      DriverRun run;
      std::set<std::string> attacked;
      int privateTemps = 0, openTemps = 0;
      run.writer.OnTotalPercentDone = [&](TObject*, int percent) {
        const std::string source = run.writer.FilesList.at(0);
        if (percent < 50 || !attacked.insert(source).second) return;
        // The temporary file as this process holds it: private to its owner.
        for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
          std::error_code error;
          if (fs::read_symlink(fd.path(), error).string().rfind(out.Root(), 0) != 0) continue;
          struct stat st {};
          if (::stat(fd.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
          ++((st.st_mode & 077) == 0 ? privateTemps : openTemps);
        }
        if (source == src.Path("a.mdf")) {
          // Every temporary name there is becomes a link to the victim.
          for (const auto& e : fs::directory_iterator(out.Root())) {
            if (!IsTempName(e.path().filename())) continue;
            fs::remove(e.path());
            fs::create_symlink(victim, e.path());
          }
        } else if (source == src.Path("c.mdf")) {
          fs::create_symlink(victim, out.Path("c.zip"));
        }
      };
      run.Go(src.Root(), out.Root());
      UseNamedTempFiles(false);

      check(ReadAll(victim) == "precious", "the victim was written: " + ReadAll(victim));
      const auto modeOf = [](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
      };
      check(modeOf(victim) == 0644, "the victim's mode changed");
      check(privateTemps >= 2 && openTemps == 0, "a temporary file was readable by others");
      // With a name, the temporary file could be swapped: the run says so
      // and keeps the old archive; without one there was nothing to swap.
      if (named) {
        check(run.ReasonFor(src.Path("a.mdf")) == "its archive could not replace " +
                                                      out.Path("a.zip") +
                                                      ": another file took its name",
              "a.mdf: " + run.ReasonFor(src.Path("a.mdf")));
        check(ReadAll(out.Path("a.zip")) == "PK\x03\x04 last week's archive",
              "the old archive was lost");
      } else {
        check(Holds(out.Path("a.zip")) == "a.mdf:" + std::to_string(3 << 20) + " ",
              "a.zip: " + Holds(out.Path("a.zip")));
      }
      for (const char* name : {"b", "c"}) {
        const std::string archive = out.Path(std::string(name) + ".zip");
        check(run.ReasonFor(src.Path(std::string(name) + ".mdf")) ==
                  "its archive would replace " + archive + ", a link",
              std::string(name) + ".mdf: " + run.ReasonFor(src.Path(std::string(name) + ".mdf")));
        check(fs::is_symlink(archive), archive + " is no longer the link");
      }
      check(modeOf(out.Path("p.zip")) == 0600, "p.zip is not private to its owner");
      check(modeOf(out.Path("s.zip")) == 0644, "s.zip kept setuid or opened up");
      check(Holds(out.Path("s.zip")) == "s.mdf:3000 ", "s.zip: " + Holds(out.Path("s.zip")));
      check(run.ReasonFor(src.Path("u.mdf")) ==
                "its archive " + out.Path("u.zip") + " could not be read: Permission denied",
            "u.mdf: " + run.ReasonFor(src.Path("u.mdf")));
      for (const std::string& left : Leftovers(out.Root()))
        check(fs::is_symlink(out.Path(left)), "left behind: " + left);
      // What the dry run asks is what the run met: the unreadable database
      // and a folder that takes no new file.
      check(run.ReasonFor(src.Path("r.mdf")) == "could not be read: Permission denied",
            "r.mdf: " + run.ReasonFor(src.Path("r.mdf")));
      for (size_t i = 0; i < run.results.size(); ++i) {
        const std::string& said = run.foretold[i].reason;
        check(said.empty() || said == run.results[i].reason, "foretold: " + said);
      }
      TRunDriver dry;
      check(dry.BeginRun(out.Root(), TRunMode::DryRun) == 0 && dry.OutputProblem().empty(),
            "the output folder refused a new file");
      check(
          dry.BeginRun(sealed, TRunMode::DryRun) == 0 &&
              dry.OutputProblem() == "could not create a file in " + sealed + ": Permission denied",
          "sealed: " + dry.OutputProblem());
      return found;
    });
    EXPECT_EQ(problems, "");
  }
}

// A link planted in the tree may lead to a file whose own bits are open but
// whose folder is closed: its archive must not open it to everyone.
TEST(RunDriverTest, ADatabaseReadThroughALinkIsArchivedForItsOwnerAlone) {
  TempTree src, out, elsewhere;
  const std::string closed = elsewhere.Dir("closed");
  src.Link("linked.mdf", elsewhere.File("closed/notes.mdf", Rows(1000)));
  src.File("plain.mdf", Rows(2000));
  ::chmod(closed.c_str(), 0700);
  const mode_t oldMask = ::umask(022);
  DriverRun run;
  run.Go(src.Root(), out.Root());
  ::umask(oldMask);
  EXPECT_TRUE(run.driver.Report().Empty()) << run.driver.Report().Details();
  const auto modeOf = [](const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
  };
  EXPECT_EQ(Holds(out.Path("linked.zip")), "linked.mdf:1000 ");
  EXPECT_EQ(modeOf(out.Path("linked.zip")), 0600u);
  EXPECT_EQ(modeOf(out.Path("plain.zip")), 0644u);

  // A folder the search found, swapped for a link before its database is read.
  src.File("sub/notes.mdf", "mine");
  TempTree out2;
  TSearchFolders search;
  search.FileMask = "notes.mdf";
  search.Messages = false;
  TRunDriver::SetUpSearch(search, src.Root(), true);
  ASSERT_EQ(run.driver.BeginRun(out2.Root()), 0);
  search.Scan();
  run.driver.SearchDone(search);
  ASSERT_EQ(search.FoundFiles.size(), 1u);
  fs::rename(src.Path("sub"), src.Path("was-sub"));
  fs::create_symlink(closed, src.Path("sub"));
  TZipWriter writer;
  const TZipResult result = run.driver.ZipDatabase(writer, out2.Path("notes.zip"),
                                                   src.Path("sub/notes.mdf"), 6, run.cancel);
  EXPECT_TRUE(result.InPlace()) << result.reason;
  EXPECT_EQ(run.driver.EndRun(), 0);
  EXPECT_EQ(Holds(out2.Path("notes.zip")), "notes.mdf:1000 ");
  EXPECT_EQ(modeOf(out2.Path("notes.zip")), 0600u);
}

// A shared output folder that hands its group to new files must not let that
// group read a database kept from it: the archive's group bits are the
// database's group's, or none.
TEST(RunDriverTest, AnArchiveIsReadByTheDatabasesGroupOnly) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to set the files' groups";
  constexpr gid_t kDatabaseGroup = 4242, kFolderGroup = 4343;
  TempTree src, out;
  const std::string kept = src.File("kept.mdf", Rows(2000));
  const std::string open = src.File("open.mdf", Rows(3000));
  ASSERT_EQ(::chown(kept.c_str(), 0, kDatabaseGroup), 0);
  ASSERT_EQ(::chmod(kept.c_str(), 0640), 0);
  ASSERT_EQ(::chown(open.c_str(), 0, kDatabaseGroup), 0);
  ASSERT_EQ(::chmod(open.c_str(), 0644), 0);
  ASSERT_EQ(::chown(out.Root().c_str(), kNobody, kFolderGroup), 0);
  ASSERT_EQ(::chmod(out.Root().c_str(), 02775), 0);
  ASSERT_EQ(::chmod(src.Root().c_str(), 0755), 0);
  const auto statOf = [](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
  };

  // Root may give the archive the database's group.
  DriverRun root;
  root.Go(src.Root(), out.Root());
  struct stat st = statOf(out.Path("kept.zip"));
  EXPECT_EQ(st.st_gid, kDatabaseGroup);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  // A user who may not keeps the folder's group and loses the group's bits.
  for (const char* name : {"kept.zip", "open.zip"}) fs::remove(out.Path(name));
  ASSERT_EQ(::chmod(kept.c_str(), 0604), 0);
  const std::string problems = AsUnprivileged([&] {
    DriverRun run;
    run.Go(src.Root(), out.Root());
    return run.driver.Report().Empty() ? std::string() : run.driver.Report().Details();
  });
  EXPECT_EQ(problems, "");
  for (const char* name : {"kept.zip", "open.zip"}) {
    st = statOf(out.Path(name));
    EXPECT_EQ(st.st_gid, kFolderGroup) << name;
    EXPECT_EQ(st.st_mode & 0777, 0604u) << name;
  }
}

// A temporary file that a killed run left is removed, and noted, when the
// next run begins: only one of exactly our form (beside an archive's name,
// the user's, 0600, one name or a generation's second, empty or a ZIP's
// start, not locked). Anything else with such a name stays: noted when it
// is near enough to be a question, silent when its name is plainly not ours.
// A run that fails or is cancelled leaves none.
TEST(RunDriverTest, StaleTemporaryFilesGoLiveOnesStay) {
  TempTree src, out;
  const auto file = [&](const std::string& name, const std::string& bytes, mode_t mode = 0600) {
    const std::string path = out.File(name, bytes);
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    return path;
  };
  const std::string stale = file("x.zip.tzw-abc123", "PK\x03\x04 half");
  const std::string live = file("y.zip.tzw-def456", "PK\x03\x04 being written");
  const int liveFd = ::open(live.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(liveFd, LOCK_EX | LOCK_NB), 0);
  out.Link("z.zip.tzw-ghi789", out.Path("nowhere"));
  const std::map<std::string, std::string> users = {
      {"notes.tzw-ABCDEF", "mine"}, {"q4.tzw-report", "mine"}, {"budget.xlsx.tzw-backup", "mine"}};
  for (const auto& [name, bytes] : users) file(name, bytes);
  file("w.zip.tzw-jkl012", "PK\x03\x04 opened up", 0644);
  file("v.zip.tzw-mno345", "not a zip");
  file("u.zip.tzw-pqr678", "PK\x03\x04 linked");
  ASSERT_EQ(::link(out.Path("u.zip.tzw-pqr678").c_str(), out.Path("keepsake").c_str()), 0);
  // A generation's second name, from a move a killed run did not finish.
  file("t.zip.tzw-stu901", "PK\x03\x04 generation");
  ASSERT_EQ(::link(out.Path("t.zip.tzw-stu901").c_str(), out.Path("t.zip.2").c_str()), 0);
  const std::map<std::string, std::string> left = {
      {"z.zip.tzw-ghi789", "not a regular file"},
      {"w.zip.tzw-jkl012", "its mode is not that of a temporary"},
      {"v.zip.tzw-mno345", "it does not begin like a ZIP archive"},
      {"u.zip.tzw-pqr678", "it has other names"}};
  src.File("big.mdf", Rows(4 << 20));
  const auto notes = [&](const RunReport& report, const char* removed) {
    std::map<std::string, std::string> said;
    for (const auto& c : report.Cases()) {
      EXPECT_TRUE(c.note) << c.source;
      said[c.source.substr(out.Root().size() + 1)] = c.reason;
    }
    std::map<std::string, std::string> expected;
    for (const auto& [name, why] : left) expected[name] = kStaleTempLeft + why;
    if (removed != nullptr) {
      expected["x.zip.tzw-abc123"] = removed;
      expected["t.zip.tzw-stu901"] = removed;
    }
    EXPECT_EQ(said, expected);
    EXPECT_TRUE(report.Empty());
  };

  // A dry run finds them and leaves them.
  TRunDriver dry;
  ASSERT_EQ(dry.BeginRun(out.Root(), TRunMode::DryRun), 0);
  notes(dry.Report(), kStaleTempFound);
  EXPECT_TRUE(fs::exists(stale));
  EXPECT_EQ(dry.EndRun(), 0);

  for (const bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporary files" : "unnamed temporary files");
    UseNamedTempFiles(named);
    TRunDriver driver;
    ASSERT_EQ(driver.BeginRun(out.Root()), 0);
    notes(driver.Report(), named ? nullptr : kStaleTempRemoved);
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_EQ(ReadAll(out.Path("t.zip.2")), "PK\x03\x04 generation");
    EXPECT_EQ(ReadAll(live), "PK\x03\x04 being written");
    EXPECT_TRUE(fs::is_symlink(out.Path("z.zip.tzw-ghi789")));
    for (const auto& [name, bytes] : users) EXPECT_EQ(ReadAll(out.Path(name)), bytes);

    // Cancelled while writing, and failing at a read: no file of this run stays.
    TZipWriter writer;
    TCancelToken cancel{false};
    writer.OnTotalPercentDone = [&](TObject*, int percent) {
      if (percent >= 30) cancel = true;
    };
    EXPECT_THROW(driver.ZipDatabase(writer, out.Path("big.zip"), src.Path("big.mdf"), 1, cancel),
                 EUserCanceled);
    writer.OnTotalPercentDone = nullptr;
    cancel = false;
    const TZipResult unreadable =
        driver.ZipDatabase(writer, out.Path("mem.zip"), "/proc/self/mem", 1, cancel);
    EXPECT_EQ(unreadable.outcome, TZipOutcome::NotRead) << unreadable.reason;
    EXPECT_EQ(driver.EndRun(), 0);
    EXPECT_EQ(Listing(out.Root()),
              (std::vector<std::string>{"budget.xlsx.tzw-backup", "keepsake", "notes.tzw-ABCDEF",
                                        "q4.tzw-report", "t.zip.2", "u.zip.tzw-pqr678",
                                        "v.zip.tzw-mno345", "w.zip.tzw-jkl012", "y.zip.tzw-def456",
                                        "z.zip.tzw-ghi789"}));
  }
  UseNamedTempFiles(false);
  ::close(liveFd);
}

// What makes an archive durable happens in order: its last byte is written,
// then its data synced, then it is renamed into place; the folder is synced
// once, after the last rename, when the run ends.
std::vector<std::pair<std::string, THandle>> g_calls;
void RecordCall(const char* call, THandle handle) {
  g_calls.emplace_back(call, handle);
}

TEST(RunDriverTest, EachArchiveIsWrittenSyncedAndRenamedInThatOrder) {
  TempTree src, out;
  for (int i = 0; i < 3; ++i) src.File("db" + std::to_string(i) + ".mdf", Rows(100000, i));
  g_calls.clear();
  SetFileCallObserver(RecordCall);
  DriverRun run;
  run.Go(src.Root(), out.Root());
  SetFileCallObserver(nullptr);
  for (const TZipResult& r : run.results) ASSERT_EQ(r.outcome, TZipOutcome::Archived) << r.reason;

  std::vector<size_t> renames;
  for (size_t i = 0; i < g_calls.size(); ++i)
    if (g_calls[i].first == "rename") renames.push_back(i);
  ASSERT_EQ(renames.size(), 3u);
  for (const size_t rename : renames) {
    const THandle handle = g_calls[rename].second;
    // Its calls since its handle was taken (a handle number is reused only
    // after the previous archive's rename).
    size_t from = 0;
    for (const size_t other : renames)
      if (other < rename) from = other + 1;
    std::string order;
    for (size_t i = from; i < rename; ++i) {
      if (g_calls[i].second != handle || g_calls[i].first == "renamed") continue;
      if (order.empty() || order.back() != g_calls[i].first[0]) order += g_calls[i].first[0];
    }
    EXPECT_EQ(order, "ws") << "w: write, s: sync";
  }
  // Exactly one sync on no archive's handle: the folder's, after the last rename.
  size_t folderSyncs = 0;
  for (size_t i = 0; i < g_calls.size(); ++i) {
    if (g_calls[i].first != "sync") continue;
    bool archive = false;
    for (const size_t rename : renames) archive |= g_calls[rename].second == g_calls[i].second;
    if (archive) continue;
    ++folderSyncs;
    EXPECT_GT(i, renames.back());
  }
  EXPECT_EQ(folderSyncs, 1u);
}

// A name found free may be taken by another user's program (in a shared
// folder, at any moment) before the archive is moved there: what they put
// there stays theirs, even for a run as root, and the database is reported.
std::string g_plantAt;
void PlantAtRename(const char* call, THandle) {
  if (std::string(call) == "rename" && !g_plantAt.empty())
    std::ofstream(std::exchange(g_plantAt, std::string())) << "someone's";
}

TEST(RunDriverTest, AFilePutAtAFreeNameBeforeTheMoveIsNeverReplaced) {
  TempTree src, out;
  src.File("a.mdf", Rows(20000));
  for (const bool named : {false, true}) {
    UseNamedTempFiles(named);
    g_plantAt = out.Path("a.zip");
    SetFileCallObserver(PlantAtRename);
    DriverRun run;
    run.Go(src.Root(), out.Root());
    SetFileCallObserver(nullptr);
    UseNamedTempFiles(false);
    EXPECT_EQ(run.ReasonFor(src.Path("a.mdf")),
              "its archive would replace " + out.Path("a.zip") + ", not a ZIP archive");
    EXPECT_EQ(ReadAll(out.Path("a.zip")), "someone's");
    EXPECT_EQ(Listing(out.Root()), std::vector<std::string>{"a.zip"});
    fs::remove(out.Path("a.zip"));
  }
}

// A file put at the archive's name after it was looked at, while the new
// archive was synced and verified, is looked at again before the replace:
// whether it took the name's place or was written over in place, it stays.
std::string g_plantAtSync;
bool g_plantByRename = false;
void PlantAtSync(const char* call, THandle) {
  if (std::string(call) != "sync" || g_plantAtSync.empty()) return;
  const std::string at = std::exchange(g_plantAtSync, std::string());
  if (!g_plantByRename) {
    std::ofstream(at) << "someone's";
    return;
  }
  std::ofstream(at + ".new") << "someone's";
  fs::rename(at + ".new", at);
}

TEST(RunDriverTest, AFileThatTookTheArchivesNameWhileItWasVerifiedIsNeverReplaced) {
  TempTree src, out;
  src.File("a.mdf", Rows(20000));
  for (const bool byRename : {false, true}) {
    {
      DriverRun first;
      first.Go(src.Root(), out.Root());
      ASSERT_EQ(first.results.at(0).outcome, TZipOutcome::Archived);
    }
    g_plantAtSync = out.Path("a.zip");
    g_plantByRename = byRename;
    SetFileCallObserver(PlantAtSync);
    DriverRun run;
    run.driver.SetVerify(true);
    run.Go(src.Root(), out.Root());
    SetFileCallObserver(nullptr);
    EXPECT_EQ(run.results.at(0).outcome, TZipOutcome::NotReplaced);
    EXPECT_EQ(run.ReasonFor(src.Path("a.mdf")),
              "its archive would replace " + out.Path("a.zip") + ", not a ZIP archive");
    EXPECT_EQ(ReadAll(out.Path("a.zip")), "someone's");
    EXPECT_EQ(Listing(out.Root()), std::vector<std::string>{"a.zip"});
    fs::remove(out.Path("a.zip"));
  }
}

// Where /proc is not mounted (a bare chroot) an unnamed file could never be
// given its name: the archive is written under a name of ours instead and
// put in place, not zipped for nothing and reported as failed.
TEST(RunDriverTest, ArchivesGoInPlaceWhereProcIsNotMounted) {
  TempTree src, out;
  src.File("a.mdf", Rows(20000));
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::umount2("/proc", MNT_DETACH) != 0) {
      std::_Exit(3);
    }
    DriverRun run;
    run.Go(src.Root(), out.Root());
    const bool archived = run.results.size() == 1 &&
                          run.results[0].outcome == TZipOutcome::Archived &&
                          Listing(out.Root()) == std::vector<std::string>{"a.zip"};
    if (!archived && !run.results.empty()) std::cerr << run.results[0].reason << "\n";
    std::_Exit(archived ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "no mount namespace of our own to hide /proc in";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Holds(out.Path("a.zip")), "a.mdf:20000 ");
}

// Which byte of the archive the read-back check sees damaged: one in the
// middle of the compressed data, or one of the central record's CRC-32.
enum class Damage { None, Data, CentralCrc };
Damage g_damage = Damage::None;

void DamageArchive(THandle handle) {
  const off_t size = ::lseek(handle, 0, SEEK_END);
  // The central header's CRC-32 sits 16 bytes into it; the directory of one
  // entry named "a.mdf" is 46 + 5 bytes, followed by the 22-byte end record.
  const off_t at = g_damage == Damage::Data ? size / 2 : size - 22 - 51 + 16;
  unsigned char byte = 0;
  if (g_damage == Damage::None || ::pread(handle, &byte, 1, at) != 1) return;
  byte ^= 0x20;
  if (::pwrite(handle, &byte, 1, at) != 1) std::abort();
}

// With earlier archives kept, each run moves them on as log rotation does;
// a run that fails moves nothing, and a file that is not ours stays where it
// is and shortens the chain, said in the report.
TEST(RunDriverTest, EarlierArchivesAreKeptAsLogRotationKeepsThem) {
  TempTree src, out;
  const std::string beyond = out.File("a.zip.4", "not ours, and beyond the chain");
  const auto run = [&](size_t version, bool verify = true) {
    src.File("a.mdf", Rows(1000 * version, static_cast<int>(version)));
    auto driverRun = std::make_unique<DriverRun>();
    driverRun->driver.SetKeep(2);
    driverRun->driver.SetVerify(verify);
    driverRun->Go(src.Root(), out.Root());
    return driverRun;
  };
  const auto holds = [&](const std::string& name) { return Holds(out.Path(name)); };
  for (size_t version = 1; version <= 4; ++version) {
    const auto r = run(version);
    ASSERT_EQ(r->results.size(), 1u);
    EXPECT_EQ(r->results[0].outcome, TZipOutcome::Archived) << r->results[0].reason;
    EXPECT_TRUE(r->driver.Report().Empty()) << r->driver.Report().Details();
  }
  EXPECT_EQ(holds("a.zip"), "a.mdf:4000 ");
  EXPECT_EQ(holds("a.zip.1"), "a.mdf:3000 ");
  EXPECT_EQ(holds("a.zip.2"), "a.mdf:2000 ");
  EXPECT_EQ(Listing(out.Root()),
            (std::vector<std::string>{"a.zip", "a.zip.1", "a.zip.2", "a.zip.4"}));
  EXPECT_EQ(ReadAll(beyond), "not ours, and beyond the chain");

  // The plan says what the next run would move, and moves nothing.
  {
    DriverRun plan;
    plan.driver.SetKeep(2);
    TZipResult said;
    plan.driver.PlanKeep(out.Path("a.zip"), src.Path("a.mdf"), said);
    EXPECT_EQ(said.kept, (std::vector<std::pair<std::string, std::string>>{
                             {out.Path("a.zip.2"), ""},
                             {out.Path("a.zip.1"), out.Path("a.zip.2")},
                             {out.Path("a.zip"), out.Path("a.zip.1")}}));
    EXPECT_EQ(said.keptShort, "");
  }

  // A run whose archive fails its read-back moves nothing and keeps them all.
  const std::map<std::string, std::string> before = {{"a.zip", ReadAll(out.Path("a.zip"))},
                                                     {"a.zip.1", ReadAll(out.Path("a.zip.1"))},
                                                     {"a.zip.2", ReadAll(out.Path("a.zip.2"))}};
  for (const Damage damage : {Damage::Data, Damage::CentralCrc}) {
    g_damage = damage;
    SetBeforeVerify(DamageArchive);
    const auto failed = run(5);
    SetBeforeVerify(nullptr);
    g_damage = Damage::None;
    EXPECT_EQ(failed->results.at(0).outcome, TZipOutcome::Failed);
    EXPECT_NE(failed->ReasonFor(src.Path("a.mdf")).find("did not read back as written"),
              std::string::npos)
        << failed->ReasonFor(src.Path("a.mdf"));
    for (const auto& [name, bytes] : before) EXPECT_EQ(ReadAll(out.Path(name)), bytes) << name;
    EXPECT_TRUE(Leftovers(out.Root()).empty());
  }
  // Without the read-back the same damage would have replaced them.
  g_damage = Damage::Data;
  SetBeforeVerify(DamageArchive);
  EXPECT_EQ(run(5, false)->results.at(0).outcome, TZipOutcome::Archived);
  SetBeforeVerify(nullptr);
  g_damage = Damage::None;
  EXPECT_EQ(ReadAll(out.Path("a.zip.1")), before.at("a.zip"));

  // A foreign file in the chain stays; the chain stops before it. Beyond a
  // free name it is not in the way: the moves end there.
  fs::remove(out.Path("a.zip.2"));
  out.File("a.zip.3", "a note of the user's");
  const auto beforeGap = run(6);
  EXPECT_TRUE(beforeGap->driver.Report().Empty()) << beforeGap->driver.Report().Details();
  EXPECT_EQ(ReadAll(out.Path("a.zip.3")), "a note of the user's");
  out.File("a.zip.2", "a note of the user's");
  const std::string previous = ReadAll(out.Path("a.zip"));
  const auto shortened = run(6);
  EXPECT_EQ(shortened->results.at(0).outcome, TZipOutcome::Archived);
  EXPECT_EQ(shortened->ReasonFor(src.Path("a.mdf")),
            "only 1 earlier archive is kept: " + out.Path("a.zip.2") +
                " is not an archive of this database and is left as it is");
  EXPECT_EQ(ReadAll(out.Path("a.zip.2")), "a note of the user's");
  EXPECT_EQ(ReadAll(out.Path("a.zip.1")), previous);
  EXPECT_EQ(holds("a.zip"), "a.mdf:6000 ");
  // At NAME.zip.1 it leaves no room: the new archive still takes its place.
  fs::remove(out.Path("a.zip.1"));
  out.Link("a.zip.1", "a.zip.2");
  const auto none = run(7);
  EXPECT_EQ(none->ReasonFor(src.Path("a.mdf")),
            "the archive it replaces is not kept: " + out.Path("a.zip.1") +
                " is a link and is left as it is");
  EXPECT_TRUE(fs::is_symlink(out.Path("a.zip.1")));
  EXPECT_EQ(holds("a.zip"), "a.mdf:7000 ");
  EXPECT_EQ(ReadAll(beyond), "not ours, and beyond the chain");
  // With no archive to replace nothing enters the chain, and nothing moves.
  fs::remove(out.Path("a.zip"));
  EXPECT_TRUE(run(8)->driver.Report().Empty());
  EXPECT_TRUE(fs::is_symlink(out.Path("a.zip.1")));
}

// An earlier archive is known again by its file, but only while it is that
// file: a number the file system hands out again after another process
// replaced it (two runs into one folder) is not the same archive.
TEST(RunReportTest, AnEarlierArchiveIsKnownByItsFileNotByANumberGivenAgain) {
  TempTree out;
  out.File("A.zip", "ours");
  ASSERT_EQ(::link(out.Path("A.zip").c_str(), out.Path("a.zip").c_str()), 0);
  out.File("b.zip", "another");
  struct stat st {};
  ASSERT_EQ(::stat(out.Path("A.zip").c_str(), &st), 0);
  const TFileId first{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  RunReport report;
  report.Archived(out.Path("A.zip"), "/src/A.mdf", {}, first);
  report.Archived(out.Path("b.zip"), "/src/b.mdf", first, {1, 2});
  EXPECT_TRUE(report.Empty());
  report.Archived(out.Path("a.zip"), "/src/a.mdf", first, {1, 3});
  ASSERT_EQ(report.Cases().size(), 1u);
  EXPECT_EQ(report.Cases()[0].reason, "its archive was replaced by /src/a.mdf");
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
