// dbzip end to end on temporary trees, run as a separate program.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Subprocess.h"
#include "TempTree.h"

namespace {

namespace fs = std::filesystem;

ProcessResult Dbzip(std::vector<std::string> args) {
  args.insert(args.begin(), DBZIP_PATH);
  return RunProcess(args);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The entries of an archive as "name size" lines, read by python3's zipfile
// after its own integrity test.
std::string ZipListing(const std::string& path) {
  const ProcessResult r = RunProcess(
      {"/usr/bin/python3", "-c",
       "import sys, zipfile\n"
       "z = zipfile.ZipFile(sys.argv[1])\n"
       "assert z.testzip() is None\n"
       "print(' '.join(f'{i.filename}:{i.file_size}' for i in z.infolist()))",
       path});
  return r.status == 0 ? r.out.substr(0, r.out.find('\n')) : "invalid: " + r.err;
}

std::string Text(size_t bytes) {
  std::string s;
  for (size_t i = 0; s.size() < bytes; ++i) s += "row " + std::to_string(i * 7919 % 1000) + " ok\n";
  s.resize(bytes);
  return s;
}

class DbzipTest : public testing::Test {
 protected:
  TempTree src, out;
};

TEST_F(DbzipTest, ArchivesEveryDatabaseAsTheWindowNamesThem) {
  src.File("QRN_Sales_dat.mdf", Text(100000));
  src.File("qrn_Office_DAT.MDF", Text(3000));
  src.File("sub/Stock.mdf", "");
  src.File("sub/other.gdb", "interbase");
  src.File("notes.txt", "no database");
  const ProcessResult r = Dbzip({"-r", src.Root(), out.Root()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Listing(out.Root()), (std::vector<std::string>{"office.zip", "sales.zip", "stock.zip"}));
  EXPECT_EQ(ZipListing(out.Path("sales.zip")), "QRN_Sales_dat.mdf:100000");
  EXPECT_EQ(ZipListing(out.Path("office.zip")), "qrn_Office_DAT.MDF:3000");
  EXPECT_EQ(ZipListing(out.Path("stock.zip")), "Stock.mdf:0");
  // Not a terminal: plain lines.
  EXPECT_NE(r.out.find("Zipping " + src.Path("QRN_Sales_dat.mdf") + "...\n"), std::string::npos);
  EXPECT_NE(r.out.find(src.Path("qrn_Office_DAT.MDF") + ": 3000 bytes -> "), std::string::npos);
  EXPECT_NE(r.out.find("3 databases found, 3 archived"), std::string::npos);
  EXPECT_TRUE(r.err.empty());

  // Interbase keeps its tags; the quiet run prints nothing.
  TempTree out2;
  src.File("QRN_x_dat.gdb", "x");
  const ProcessResult q = Dbzip({"-q", "--type", "interbase", src.Root(), out2.Root()});
  EXPECT_EQ(q.status, 0);
  EXPECT_EQ(q.out, "");
  EXPECT_EQ(Listing(out2.Root()), (std::vector<std::string>{"qrn_x_dat.zip"}));
}

TEST_F(DbzipTest, JobsDoNotChangeAByte) {
  for (int i = 0; i < 6; ++i) src.File("db" + std::to_string(i) + ".mdf", Text(20000 + 30000 * i));
  src.File("a/same.mdf", Text(5000));
  src.File("b/same.mdf", Text(7000));
  TempTree out2;
  const ProcessResult one = Dbzip({"-r", "-l", "6", src.Root(), out.Root()});
  const ProcessResult two = Dbzip({"-r", "-l", "6", "--jobs", "2", src.Root(), out2.Root()});
  EXPECT_EQ(one.status, 1);  // one same.mdf replaced the other's archive
  EXPECT_EQ(two.status, 1);
  EXPECT_EQ(one.err, two.err);
  ASSERT_EQ(Listing(out.Root()), Listing(out2.Root()));
  for (const auto& name : Listing(out.Root()))
    EXPECT_EQ(ReadAll(out.Path(name)), ReadAll(out2.Path(name))) << name;
}

TEST_F(DbzipTest, DatabasesNotArchivedAreNamedAndFailTheRun) {
  src.File("one/x.mdf", Text(1000));
  src.File("two/x.mdf", Text(2000));
  src.Dir("old.mdf");  // found, but there is nothing to read
  const ProcessResult r = Dbzip({"-r", src.Root(), out.Root()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("dbzip: " + src.Path("old.mdf") + ": not a regular file"), std::string::npos)
      << r.err;
  const std::string first = r.out.find(src.Path("one/x.mdf")) < r.out.find(src.Path("two/x.mdf"))
                                ? "one" : "two";
  const std::string later = first == "one" ? "two" : "one";
  EXPECT_NE(r.err.find(src.Path(first + "/x.mdf") + ": its archive was replaced by " +
                       src.Path(later + "/x.mdf")),
            std::string::npos);
  // No archive without its database is kept.
  EXPECT_EQ(Listing(out.Root()), (std::vector<std::string>{"x.zip"}));
  EXPECT_EQ(ZipListing(out.Path("x.zip")), "x.mdf:" + std::string(later == "one" ? "1000" : "2000"));
}

TEST_F(DbzipTest, ErrorsAndUsage) {
  src.File("a.mdf", "a");
  // The source or output directory is missing.
  ProcessResult r = Dbzip({src.Path("nope"), out.Root()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "dbzip: no such directory: " + src.Path("nope") + "\n");
  r = Dbzip({src.Root(), out.Path("nope")});
  EXPECT_EQ(r.status, 2);
  // An invalid mask is refused with the mask error's text.
  r = Dbzip({"--mask", "*.mdf,[abc", src.Root(), out.Root()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "dbzip: '[abc' is an invalid mask at (5)\n");
  // A usage error.
  r = Dbzip({"--level", "12", src.Root(), out.Root()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--help"), std::string::npos);
  // Help and version on standard output.
  r = Dbzip({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: dbzip", 0), 0u);
  r = Dbzip({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("2.0.0"), std::string::npos);
  // A folder where the archive would go is never replaced.
  out.Dir("a.zip");
  r = Dbzip({src.Root(), out.Root()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "dbzip: " + src.Path("a.mdf") + ": its archive would replace " +
                       out.Path("a.zip") + "\n");
}

TEST_F(DbzipTest, AWriteFailureLeavesNoArchiveAndNamesIt) {
  std::string noise(1 << 20, '\0');
  uint32_t x = 1;
  for (char& c : noise) c = static_cast<char>((x = x * 1664525 + 1013904223) >> 24);
  src.File("full.mdf", noise);
  const std::string older = out.File("full.zip", "PK\x03\x04 the archive of an earlier run");
  // A 64 KiB file-size limit stands in for a full disk.
  const ProcessResult r = RunProcess(
      {"/bin/sh", "-c", "ulimit -f 64 && exec \"$0\" \"$@\"", DBZIP_PATH, src.Root(), out.Root()});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("dbzip: " + src.Path("full.mdf") + ": not archived: Cannot write file " +
                       out.Path("full.zip") + ": File too large"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Listing(out.Root()), std::vector<std::string>{"full.zip"});
  EXPECT_EQ(ReadAll(older), "PK\x03\x04 the archive of an earlier run");
}

TEST_F(DbzipTest, AnInterruptLeavesNoPartialArchive) {
  // Large and varied enough that level 9 takes a while.
  std::string data;
  uint32_t x = 12345;
  data.reserve(24 << 20);
  while (data.size() < (24u << 20)) {
    x = x * 1103515245 + 12345;
    data += "rec" + std::to_string(x % 100000) + (x & 0x100 ? " alpha\n" : " beta\n");
  }
  src.File("big.mdf", data);
  const ProcessResult r = RunProcess({DBZIP_PATH, src.Root(), out.Root()},
                                     [](pid_t pid, const std::string& so) {
                                       if (so.find("Zipping") != std::string::npos) ::kill(pid, SIGINT);
                                     });
  EXPECT_EQ(r.status, 130) << r.out << r.err;
  EXPECT_TRUE(Listing(out.Root()).empty());
}

// The archives our writer left half-written (only a killed run leaves any).
std::vector<std::string> Leftovers(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& name : Listing(dir))
    if (name.find(".tzw-") != std::string::npos) names.push_back(name);
  return names;
}

// dbzip as an unprivileged user: directly when we are one, through setpriv
// as "nobody" when we are root (root reads and replaces anything).
ProcessResult DbzipUnprivileged(std::vector<std::string> args) {
  args.insert(args.begin(), DBZIP_PATH);
  if (::geteuid() == 0) {
    args.insert(args.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  }
  return RunProcess(args);
}

TEST_F(DbzipTest, EveryOddFileAndFolderIsReportedAndNothingIsLost) {
  src.File("good.mdf", Text(50000));
  const std::string secret = src.File("secret.mdf", Text(4000));
  ::chmod(secret.c_str(), 0);
  src.File("locked/hidden.mdf", Text(100));
  ::chmod(src.Path("locked").c_str(), 0);
  ASSERT_EQ(::mkfifo(src.Path("pipe.mdf").c_str(), 0644), 0);
  src.Link("device.mdf", "/dev/zero");
  ::chmod(src.Root().c_str(), 0755);
  // The earlier archive of the unreadable database stays as it was.
  const std::string older = out.File("secret.zip", "PK\x03\x04 last week's archive");
  ::chmod(older.c_str(), 0666);
  ::chmod(out.Root().c_str(), 01777);
  // A sticky folder: an archive owned by someone else cannot be replaced.
  const bool sticky = ::geteuid() == 0;
  if (sticky) out.File("good.zip", "PK\x03\x04 root's archive");

  const ProcessResult r = DbzipUnprivileged({"-r", src.Root(), out.Root()});
  EXPECT_EQ(r.status, 1) << r.err;
  const std::string denied = ": " + std::string(std::strerror(EACCES));
  for (const std::string& line :
       {src.Path("secret.mdf") + ": could not be read" + denied,
        src.Path("locked") + ": could not be listed" + denied,
        src.Path("pipe.mdf") + ": not a regular file", src.Path("device.mdf") + ": not a regular file"}) {
    EXPECT_NE(r.err.find("dbzip: " + line + "\n"), std::string::npos) << line << "\n" << r.err;
  }
  EXPECT_EQ(ReadAll(older), "PK\x03\x04 last week's archive");
  if (sticky) {
    EXPECT_NE(r.err.find(src.Path("good.mdf") + ": its archive could not replace " +
                         out.Path("good.zip") + ": " + std::strerror(EPERM)),
              std::string::npos)
        << r.err;
    EXPECT_EQ(ReadAll(out.Path("good.zip")), "PK\x03\x04 root's archive");
    EXPECT_NE(r.out.find(" 0 archived"), std::string::npos) << r.out;
  } else {
    EXPECT_EQ(ZipListing(out.Path("good.zip")), "good.mdf:50000");
  }
  EXPECT_TRUE(Leftovers(out.Root()).empty());
}

TEST_F(DbzipTest, AKilledRunLeavesTheOldArchiveAtItsName) {
  std::string data;
  uint32_t x = 777;
  while (data.size() < (24u << 20)) {
    x = x * 1103515245 + 12345;
    data += "rec" + std::to_string(x % 100000) + (x & 0x100 ? " alpha\n" : " beta\n");
  }
  src.File("big.mdf", data.substr(0, 1 << 20));
  ASSERT_EQ(Dbzip({"-q", src.Root(), out.Root()}).status, 0);
  const std::string previous = ReadAll(out.Path("big.zip"));
  src.File("big.mdf", data);  // a new version, large enough to be caught mid-archive
  for (int signal : {SIGHUP, SIGKILL}) {
    const ProcessResult r = RunProcess({DBZIP_PATH, "-l", "9", src.Root(), out.Root()},
                                       [&](pid_t pid, const std::string& so) {
                                         if (so.find("Zipping") == std::string::npos) return;
                                         // Caught while the new archive is being written.
                                         for (int i = 0; i < 500 && Leftovers(out.Root()).empty(); ++i)
                                           ::usleep(10000);
                                         ::kill(pid, signal);
                                       });
    EXPECT_EQ(r.status, signal == SIGHUP ? 130 : 128 + SIGKILL) << r.err;
    EXPECT_EQ(ReadAll(out.Path("big.zip")), previous) << signal;
    // Only a killed run leaves its half-written file, under a name of its own.
    EXPECT_EQ(Leftovers(out.Root()).size(), signal == SIGHUP ? 0u : 1u);
  }
}

TEST_F(DbzipTest, AReaderOfTheOutputGoingAwayEndsTheRunCleanly) {
  // dbzip -j 2 ... | head -1: the reader leaves while both jobs write archives.
  std::string data;
  uint32_t x = 4242;
  while (data.size() < (6u << 20)) {
    x = x * 1103515245 + 12345;
    data += "rec" + std::to_string(x % 100000) + (x & 0x100 ? " alpha\n" : " beta\n");
  }
  for (int i = 0; i < 6; ++i) src.File("db" + std::to_string(i) + ".mdf", data);
  const std::string older = out.File("db0.zip", "PK\x03\x04 the archive of an earlier run");
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 1);
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, 2);
    ::close(pipeFds[0]);
    ::signal(SIGPIPE, SIG_DFL);
    ::execl(DBZIP_PATH, DBZIP_PATH, "-j", "2", "-l", "9", src.Root().c_str(), out.Root().c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  char first[64];
  ASSERT_GT(::read(pipeFds[0], first, sizeof first), 0);  // "Zipping ..."
  for (int i = 0; i < 500 && Leftovers(out.Root()).empty(); ++i) ::usleep(10000);
  ::close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  // Ended as an interrupt, not killed with the archives half written.
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
  EXPECT_TRUE(Leftovers(out.Root()).empty());
  // db0.zip is the earlier archive or a whole new one, never a part of one.
  if (ReadAll(older) != "PK\x03\x04 the archive of an earlier run") {
    EXPECT_EQ(ZipListing(older), "db0.mdf:" + std::to_string(data.size()));
  }
}

TEST_F(DbzipTest, DeepTreesAndConcurrentRunsLoseNothing) {
  // 1,200 levels under a 64-descriptor limit: a listing is closed before
  // its sub-folders are entered.
  std::string deep = src.Root();
  for (int level = 0; level < 1200; ++level) ASSERT_EQ(::mkdir((deep += "/d").c_str(), 0755), 0);
  std::ofstream(deep + "/bottom.mdf") << Text(3000);
  for (int i = 0; i < 8; ++i) src.File("top" + std::to_string(i) + ".mdf", Text(60000 + i));
  const ProcessResult r = RunProcess({"/usr/bin/prlimit", "--nofile=64", DBZIP_PATH, "-r", "-q", src.Root(), out.Root()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ZipListing(out.Path("bottom.zip")), "bottom.mdf:3000");

  // Two runs into one folder at the same time: every archive ends whole.
  TempTree shared;
  std::vector<pid_t> pids;
  for (int run = 0; run < 2; ++run) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int devNull = ::open("/dev/null", O_WRONLY);
      ::dup2(devNull, 1);
      ::execl(DBZIP_PATH, DBZIP_PATH, "-q", "-l", "1", src.Root().c_str(), shared.Root().c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  for (int i = 0; i < 8; ++i) {
    const std::string name = "top" + std::to_string(i);
    EXPECT_EQ(ZipListing(shared.Path(name + ".zip")), name + ".mdf:" + std::to_string(60000 + i));
  }
  EXPECT_TRUE(Leftovers(shared.Root()).empty());
}

}  // namespace
