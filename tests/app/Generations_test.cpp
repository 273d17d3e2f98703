// The earlier archives kept beside an archive, and the rule that says which
// files are ours to replace, move or remove: every generation keeps a name at
// every step, a step that fails is undone, and a file the run did not make is
// never moved, removed or adopted, in a shared folder too.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "ArchiveMode.h"
#include "ArchiveName.h"
#include "File.h"
#include "FileOutput.h"
#include "RunDriver.h"
#include "SFolders.h"
#include "TempTree.h"
#include "ZipWriter.h"

namespace {

namespace fs = std::filesystem;

ino_t Inode(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// One run of the driver over src into out, keeping keep earlier archives.
struct KeepRun {
  TRunDriver driver;
  std::vector<TZipResult> results;
  std::vector<TZipResult> planned;

  KeepRun(const std::string& src, const std::string& out, int keep) {
    TSearchFolders search;
    search.FileMask = "*.mdf";
    search.Messages = false;
    TRunDriver::SetUpSearch(search, src, true);
    driver.SetKeep(keep);
    EXPECT_EQ(driver.BeginRun(out), 0);
    search.Scan();
    driver.SearchDone(search);
    TZipWriter writer;
    TCancelToken cancel{false};
    for (const TFilePack& pack : search.FoundFiles) {
      const std::string archive = ArchivePath(out, pack.FileName, TagRemoval::Keep);
      TZipResult plan;
      driver.PlanKeep(archive, pack.Dir + pack.FileName, plan);
      planned.push_back(plan);
      results.push_back(driver.ZipDatabase(writer, archive, pack.Dir + pack.FileName, 6, cancel));
    }
    EXPECT_EQ(driver.EndRun(), 0);
  }
};

// The folder's names and their files, seen at every step of a rotation.
std::string g_folder;
std::vector<std::map<std::string, ino_t>> g_seen;
std::function<void(const char*)> g_step;
// Files seen under a temporary's name with other bits than a temporary's
// and no second name: a stop there would leave them for good.
std::vector<std::string> g_openTemps;
void SeeStep(const char* call, THandle) {
  const std::string c = call;
  if (c != "link" && c != "exchange" && c != "remove" && c != "rename") return;
  std::map<std::string, ino_t> names;
  for (const auto& e : fs::directory_iterator(g_folder)) {
    names[e.path().filename()] = Inode(e.path());
    struct stat st {};
    if (e.path().filename().string().find(".tzw-") != std::string::npos &&
        ::lstat(e.path().c_str(), &st) == 0 && (st.st_mode & 07777) != 0600 && st.st_nlink == 1)
      g_openTemps.push_back(c + " " + e.path().filename().string());
  }
  g_seen.push_back(names);
  if (g_step) g_step(call);
}

// Rows whose archive's size tells the version apart.
std::string Version(int v) {
  std::string s;
  for (int i = 0; i < 2000 + 37 * v; ++i) s += std::to_string(i * v) + ",";
  return s;
}

}  // namespace

// Generations move as log rotation moves them, but by swaps: NAME.zip and
// every generation have a name at every step; the oldest leaves last; a move
// that a killed run left half done (a file at two names) is finished without
// a copy of any generation.
TEST(GenerationsTest, EveryGenerationKeepsANameAtEveryStep) {
  TempTree src, out;
  std::map<int, ino_t> versionAt;  // version -> its archive's file
  g_folder = out.Root();
  SetFileCallObserver(SeeStep);
  for (int v = 1; v <= 5; ++v) {
    src.File("a.mdf", Version(v));
    g_seen.clear();
    const std::set<ino_t> before = [&] {
      std::set<ino_t> ids;
      for (const auto& e : fs::directory_iterator(out.Root())) ids.insert(Inode(e.path()));
      return ids;
    }();
    KeepRun run(src.Root(), out.Root(), 3);
    ASSERT_EQ(run.results.at(0).outcome, TZipOutcome::Archived) << run.results[0].reason;
    EXPECT_TRUE(run.driver.Report().Empty()) << run.driver.Report().Details();
    EXPECT_EQ(run.planned[0].kept, run.results[0].kept);
    versionAt[v] = Inode(out.Path("a.zip"));
    // At every step a.zip held the previous archive until one step gave it
    // the new one, and every file kept before the run had a name; the
    // oldest leaves only at the last step.
    bool placed = false;
    for (size_t step = 0; step < g_seen.size(); ++step) {
      if (v == 1) break;
      const ino_t atName = g_seen[step]["a.zip"];
      placed |= atName == versionAt[v];
      EXPECT_EQ(atName, placed ? versionAt[v] : versionAt[v - 1]) << v << " step " << step;
      std::set<ino_t> named;
      for (const auto& [name, id] : g_seen[step]) named.insert(id);
      for (const ino_t id : before)
        if (step + 1 < g_seen.size() || v <= 4) {
          EXPECT_EQ(named.count(id), 1u) << v << " " << step;
        }
    }
    if (v > 1) {
      EXPECT_GE(g_seen.size(), 2u) << "the moves are seen";
    }
  }
  SetFileCallObserver(nullptr);
  EXPECT_EQ(g_openTemps, std::vector<std::string>{});
  EXPECT_EQ(Inode(out.Path("a.zip.1")), versionAt[4]);
  EXPECT_EQ(Inode(out.Path("a.zip.2")), versionAt[3]);
  EXPECT_EQ(Inode(out.Path("a.zip.3")), versionAt[2]);

  // Killed between giving .2's file the name .3 and the first swap: the
  // next run finishes the move and keeps each generation once.
  fs::remove(out.Path("a.zip.3"));
  ASSERT_EQ(::link(out.Path("a.zip.2").c_str(), out.Path("a.zip.3").c_str()), 0);
  src.File("a.mdf", Version(6));
  KeepRun finish(src.Root(), out.Root(), 3);
  EXPECT_TRUE(finish.driver.Report().Empty()) << finish.driver.Report().Details();
  EXPECT_EQ(Inode(out.Path("a.zip.1")), versionAt[5]);
  EXPECT_EQ(Inode(out.Path("a.zip.2")), versionAt[4]);
  EXPECT_EQ(Inode(out.Path("a.zip.3")), versionAt[3]);
  EXPECT_EQ(fs::hard_link_count(out.Path("a.zip.3")), 1u);
  // Killed between keeping a.zip as .1 and putting the new one in place.
  const ino_t six = Inode(out.Path("a.zip"));
  fs::remove(out.Path("a.zip.1"));
  ASSERT_EQ(::link(out.Path("a.zip").c_str(), out.Path("a.zip.1").c_str()), 0);
  src.File("a.mdf", Version(7));
  KeepRun top(src.Root(), out.Root(), 3);
  EXPECT_TRUE(top.driver.Report().Empty()) << top.driver.Report().Details();
  EXPECT_EQ(Inode(out.Path("a.zip.1")), six);
  EXPECT_EQ(Inode(out.Path("a.zip.2")), versionAt[4]);
  EXPECT_EQ(fs::hard_link_count(out.Path("a.zip.1")), 1u);
  // Two databases of one archive name move the chain once between them.
  const ino_t seven = Inode(out.Path("a.zip"));
  src.File("b/a.mdf", Version(8));
  KeepRun shared(src.Root(), out.Root(), 3);
  EXPECT_EQ(Inode(out.Path("a.zip.1")), seven);
  EXPECT_EQ(Inode(out.Path("a.zip.2")), six);
  EXPECT_EQ(Inode(out.Path("a.zip.3")), versionAt[4]);
  for (const auto& e : fs::directory_iterator(out.Root()))
    EXPECT_EQ(e.path().filename().string().find(".tz"), std::string::npos) << e.path();
}

// A step that fails in the middle of the moves (here another program swaps
// the archive's own name) undoes every step made: the chain is as it was,
// the name planted is left as it is and reported, and nothing of ours is
// left under a temporary name.
TEST(GenerationsTest, AStepThatFailsLeavesTheChainAsItWas) {
  TempTree src, out;
  for (int v = 1; v <= 2; ++v) {
    src.File("a.mdf", Version(v));
    KeepRun(src.Root(), out.Root(), 2);
  }
  const ino_t newest = Inode(out.Path("a.zip")), older = Inode(out.Path("a.zip.1"));
  g_folder = out.Root();
  int exchanges = 0;
  g_step = [&](const char* call) {
    if (std::string(call) != "exchange" || ++exchanges != 2) return;
    fs::rename(out.Path("a.zip"), out.Path("moved.zip"));
    out.File("a.zip", "someone's");
  };
  SetFileCallObserver(SeeStep);
  src.File("a.mdf", Version(3));
  KeepRun run(src.Root(), out.Root(), 2);
  SetFileCallObserver(nullptr);
  g_step = nullptr;
  EXPECT_EQ(run.results.at(0).outcome, TZipOutcome::NotReplaced);
  EXPECT_EQ(run.results[0].reason,
            "its archive would replace " + out.Path("a.zip") + ", not a ZIP archive");
  EXPECT_EQ(ReadAll(out.Path("a.zip")), "someone's");
  EXPECT_EQ(Inode(out.Path("moved.zip")), newest);
  EXPECT_EQ(Inode(out.Path("a.zip.1")), older);
  EXPECT_EQ(fs::hard_link_count(out.Path("a.zip.1")), 1u);
  EXPECT_FALSE(fs::exists(out.Path("a.zip.2")));
  EXPECT_EQ(std::distance(fs::directory_iterator(out.Root()), fs::directory_iterator()), 3);
}

// Where others may create files (a sticky folder all may write to), only
// what every check proves ours moves: another user's archive, even a whole
// one of this database, at the archive's name or in the chain is left as it
// is and reported, by the dry run as by the run, and never stops the new
// archive. Two databases of one archive name take one step between them.
TEST(GenerationsTest, ACoUsersFilesAreNeverMovedRemovedOrAdopted) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make another user's files";
  constexpr uid_t kOther = 65534;
  TempTree src, out;
  ASSERT_EQ(::chmod(out.Root().c_str(), 01777), 0);
  src.File("one/a.mdf", Version(1));
  KeepRun first(src.Root(), out.Root(), 2);
  const std::string ours = ReadAll(out.Path("a.zip"));
  // Another user's copy of a whole archive of ours at .1, and a forged one at .2.
  out.File("a.zip.1", ours);
  out.File("a.zip.2", "PK\x05\x06");
  for (const char* name : {"a.zip.1", "a.zip.2"})
    ASSERT_EQ(::chown(out.Path(name).c_str(), kOther, kOther), 0);
  const ino_t theirs = Inode(out.Path("a.zip.1"));
  src.File("two/a.mdf", Version(2));
  KeepRun run(src.Root(), out.Root(), 2);
  const std::string why = "the archive it replaces is not kept: " + out.Path("a.zip.1") +
                          " is another user's file and is left as it is";
  EXPECT_EQ(run.planned.at(0).keptShort, why);
  // Both databases archived, the later replacing the earlier's fresh archive.
  for (const TZipResult& r : run.results) EXPECT_TRUE(r.InPlace()) << r.reason;
  EXPECT_EQ(run.results[0].keptShort, why);
  EXPECT_EQ(run.results[1].keptShort, "");
  EXPECT_EQ(Inode(out.Path("a.zip.1")), theirs);
  EXPECT_EQ(ReadAll(out.Path("a.zip.1")), ours);
  EXPECT_EQ(ReadAll(out.Path("a.zip.2")), "PK\x05\x06");
  EXPECT_FALSE(fs::exists(out.Path("a.zip.3")));
  // Another user's archive at the archive's own name is not replaced.
  fs::rename(out.Path("a.zip.1"), out.Path("a.zip"));
  KeepRun refused(src.Root(), out.Root(), 0);
  for (const TZipResult& r : refused.results) {
    EXPECT_EQ(r.outcome, TZipOutcome::NotReplaced);
    EXPECT_EQ(r.reason, "its archive would replace " + out.Path("a.zip") + ", another user's file");
  }
  EXPECT_EQ(Inode(out.Path("a.zip")), theirs);

  // An operator who is not root meets root's forged end record in the
  // chain: it neither stops the night's archive nor is moved.
  fs::remove(out.Path("a.zip"));
  fs::remove_all(src.Path("two"));
  out.File("a.zip.1", "PK\x05\x06");
  for (const std::string& path : {src.Root(), src.Path("one")})
    ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(kOther) != 0 || ::setuid(kOther) != 0) ::_exit(2);
    KeepRun night1(src.Root(), out.Root(), 2);
    KeepRun night2(src.Root(), out.Root(), 2);
    const bool ok = night1.results.at(0).InPlace() && night2.results.at(0).InPlace() &&
                    night2.results[0].keptShort ==
                        "the archive it replaces is not kept: " + out.Path("a.zip.1") +
                            " is another user's file and is left as it is";
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadAll(out.Path("a.zip.1")), "PK\x05\x06");
  EXPECT_TRUE(fs::exists(out.Path("a.zip")));
}

// The new archive's bits: as private as the archive replaced, never more open
// than the database, group bits only for the database's group, owner-only
// for a database read through a link, and never setuid, setgid or sticky.
TEST(ArchiveModeTest, EveryRuleInOnePlace) {
  struct Row {
    bool replacing;
    uint32_t replaced, database;
    bool group, atItsName;
    uint32_t expected;
  };
  const Row rows[] = {
      {false, 0, 0644, true, true, 0644},      // new: 0666 less umask 022, as open as the database
      {false, 0, 0600, true, true, 0600},      // a private database gives a private archive
      {true, 0640, 0666, true, true, 0640},    // as private as the archive replaced
      {true, 07777, 07777, true, true, 0777},  // no setuid, setgid or sticky
      {true, 0666, 0664, false, true, 0604},   // another group: no group bits
      {true, 0666, 0666, true, false, 0600},   // through a link: the owner alone
      {true, 0006, 0666, true, true, 0006},    // odd bits kept, never widened
      {false, 0, 04755, false, false, 0600},   // all rules at once
  };
  for (const Row& r : rows) {
    TModeFacts facts;
    facts.replacing = r.replacing;
    facts.replacedMode = r.replaced;
    facts.newFileMode = 0644;
    facts.databaseMode = r.database;
    facts.databaseGroup = r.group;
    facts.readAtItsName = r.atItsName;
    EXPECT_EQ(ArchiveMode(facts), r.expected)
        << std::oct << r.replaced << " " << r.database << " " << r.group << r.atItsName;
  }
}

// Each step that removes, swaps or replaces a name makes sure the name holds
// the file it means, and a replace makes sure after its rename that the name
// holds the file written: a file swapped in between is never taken for ours.
std::string g_swapAt;
void SwapAfterRename(const char* call, THandle) {
  if (std::string(call) != "renamed" || g_swapAt.empty()) return;
  fs::rename(g_swapAt, g_swapAt + ".moved");
  std::ofstream(g_swapAt) << "theirs";
}

TEST(OutputDirTest, EveryStepChecksTheFileAtItsName) {
  TempTree out;
  TOutputDir dir;
  ASSERT_EQ(dir.Open(out.Root()), 0);
  out.File("a", "mine");
  out.File("b", "other");
  const TFileId mine = dir.StatusAt("a").stamp.id, other = dir.StatusAt("b").stamp.id;
  fs::rename(out.Path("a"), out.Path("a.saved"));
  out.File("a", "theirs");
  EXPECT_EQ(dir.RemoveAt("a", mine), ErrNameTaken);
  EXPECT_EQ(dir.Exchange("a", mine, "b", other), ErrNameTaken);
  EXPECT_EQ(dir.KeepAs("a", mine, "c", true), ErrNameTaken);
  EXPECT_EQ(ReadAll(out.Path("a")), "theirs");
  EXPECT_EQ(ReadAll(out.Path("b")), "other");

  for (const bool named : {false, true}) {
    UseNamedTempFiles(named);
    TTempFile temp;
    ASSERT_EQ(dir.CreateTemp("d", temp), 0);
    ASSERT_EQ(FileWrite(temp.handle, "new", 3).count, 3);
    g_swapAt = out.Path("d");
    SetFileCallObserver(SwapAfterRename);
    EXPECT_EQ(dir.Replace(temp, "d"), ErrNameTaken);
    SetFileCallObserver(nullptr);
    g_swapAt.clear();
    EXPECT_EQ(ReadAll(out.Path("d")), "theirs");
    TOutputDir::Release(temp);
    fs::remove(out.Path("d"));
    fs::remove(out.Path("d.moved"));
  }
  UseNamedTempFiles(false);
}
