// dbzip end to end on temporary trees, run as a separate program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "Subprocess.h"
#include "TempTree.h"

namespace {

namespace fs = std::filesystem;

ProcessResult Dbzip(std::vector<std::string> args) {
  args.insert(args.begin(), DBZIP_PATH);
  return RunProcess(args);
}

// The entries of an archive as "name size" lines, read by python3's zipfile
// after its own integrity test.
std::string ZipListing(const std::string& path) {
  const ProcessResult r =
      RunProcess({"/usr/bin/python3", "-c",
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
  EXPECT_EQ(Listing(out.Root()),
            (std::vector<std::string>{"office.zip", "sales.zip", "stock.zip"}));
  EXPECT_EQ(ZipListing(out.Path("sales.zip")), "QRN_Sales_dat.mdf:100000");
  EXPECT_EQ(ZipListing(out.Path("office.zip")), "qrn_Office_DAT.MDF:3000");
  EXPECT_EQ(ZipListing(out.Path("stock.zip")), "Stock.mdf:0");
  // Not a terminal: plain lines.
  EXPECT_NE(r.out.find("Zipping " + src.Path("QRN_Sales_dat.mdf") + "...\n"), std::string::npos);
  EXPECT_NE(r.out.find(src.Path("qrn_Office_DAT.MDF") + " -> " + out.Path("office.zip") +
                       ": 3000 bytes -> "),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("3 databases found, 3 archived"), std::string::npos);
  EXPECT_TRUE(r.err.empty());
  // Read directly, as asked: the summary speaks of no clone.
  const ProcessResult direct = Dbzip({"-r", "--no-clone", src.Root(), out.Root()});
  EXPECT_NE(direct.out.find("\n3 databases found, 3 archived, 103000 bytes in, "),
            std::string::npos)
      << direct.out;

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
  const std::string first =
      r.out.find(src.Path("one/x.mdf")) < r.out.find(src.Path("two/x.mdf")) ? "one" : "two";
  const std::string later = first == "one" ? "two" : "one";
  EXPECT_NE(r.err.find(src.Path(first + "/x.mdf") + ": its archive was replaced by " +
                       src.Path(later + "/x.mdf")),
            std::string::npos);
  // No archive without its database is kept.
  EXPECT_EQ(Listing(out.Root()), (std::vector<std::string>{"x.zip"}));
  EXPECT_EQ(ZipListing(out.Path("x.zip")),
            "x.mdf:" + std::string(later == "one" ? "1000" : "2000"));
}

TEST_F(DbzipTest, ErrorsAndUsage) {
  src.File("a.mdf", "a");
  // The source or output directory is missing, or a file: named, with why.
  ProcessResult r = Dbzip({src.Path("nope"), out.Root()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "dbzip: " + src.Path("nope") + ": " + std::strerror(ENOENT) + "\n");
  r = Dbzip({src.Root(), out.Path("nope")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "dbzip: " + out.Path("nope") + ": " + std::strerror(ENOENT) + "\n");
  r = Dbzip({src.Path("a.mdf"), out.Root()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "dbzip: " + src.Path("a.mdf") + ": not a directory\n");
  // An invalid mask is refused, pointing at the character at fault in the
  // list as typed, before any folder is looked at.
  r = Dbzip({"--mask", "*.mdf,[abc", src.Root(), out.Path("nope")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "dbzip: invalid mask '*.mdf,[abc' at character 7: a set '[' without its closing ']'\n");
  // A reversed range, which would quietly find nothing of it, is refused.
  r = Dbzip({"-m", "*.mdf,db[0-9z-a].mdf", src.Root(), out.Root()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "dbzip: invalid mask '*.mdf,db[0-9z-a].mdf' at character 14: a range whose end "
            "comes before its start\n");
  // So are the masks left out, by the same rules.
  r = Dbzip({"-x", "old/*.mdf", src.Root(), out.Root()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "dbzip: invalid mask 'old/*.mdf' at character 4: a path separator (masks match file "
            "names, not paths)\n");
  // Usage errors, an empty mask among them.
  r = Dbzip({"--level", "12", src.Root(), out.Root()});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--help"), std::string::npos);
  r = Dbzip({"--mask=", src.Root(), out.Root()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "dbzip: empty mask ''\nTry 'dbzip --help' for more information.\n");
  // What was typed is quoted in the error, and never forges a line.
  r = Dbzip({"-t", "x\ndbzip: 5 archived", src.Root(), out.Root()});
  EXPECT_EQ(r.err,
            "dbzip: invalid database type 'x\\ndbzip: 5 archived' (msde or interbase)\nTry "
            "'dbzip --help' for more information.\n");
  EXPECT_TRUE(Listing(out.Root()).empty());
  // Results that cannot be written fail the run, which still archives.
  r = RunProcess({"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full", DBZIP_PATH, "--rec", src.Root(),
                  out.Root()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "dbzip: cannot write the results to standard output: " +
                       std::string(std::strerror(ENOSPC)) + "\n");
  EXPECT_EQ(ZipListing(out.Path("a.zip")), "a.mdf:1");
  fs::remove(out.Path("a.zip"));
  // Help and version on standard output.
  r = Dbzip({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: dbzip", 0), 0u);
  EXPECT_NE(r.out.find("\nSee RESTORE in man dbzip.\n"), std::string::npos) << r.out;
  r = Dbzip({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("2.0.0"), std::string::npos);
  // A folder where the archive would go is never replaced.
  out.Dir("a.zip");
  r = Dbzip({src.Root(), out.Root()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "dbzip: " + src.Path("a.mdf") + ": its archive would replace " +
                       out.Path("a.zip") + ", not a regular file\n");
}

// A monitor reading --json hears of a run refused before it began (an
// unmounted disk, a faulty job) as of any other: one summary line.
TEST_F(DbzipTest, ARefusedRunStillGivesItsJsonSummary) {
  const std::string nulls = R"("found":null,"archived":null,"unchanged":null,"not_archived":null,)"
                            R"("folders_not_listed":null,)"
                            R"("bytes_in":null,"bytes_out":null,"seconds":null,"exit_status":2,)";
  // When and where it ran, in UTC, with the host and the version: the same
  // in every summary, so that a log tells which night a line belongs to.
  const auto dated = [](std::string line) {
    static const std::regex stamp(
        R"re("started":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ","ended":"[0-9T:Z-]{20}","host":"[^"]+","version":"[0-9.]+"\}\n$)re");
    EXPECT_TRUE(std::regex_search(line, stamp)) << line;
    return std::regex_replace(line, stamp, "");
  };
  ProcessResult r = Dbzip({"--json", "-n", src.Root(), out.Path("nope")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(dated(r.out), R"({"type":"summary","dry_run":true,"end":"not-started","error":")" +
                              out.Path("nope") + ": " + std::strerror(ENOENT) +
                              R"(","source_dir":")" + src.Root() + R"(","output_dir":")" +
                              out.Path("nope") + R"(",)" + nulls);
  EXPECT_EQ(r.err, "dbzip: " + out.Path("nope") + ": " + std::strerror(ENOENT) + "\n");
  // A usage error, with --json after the fault and no folders.
  r = Dbzip({"--level", "12", "--json"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(dated(r.out),
            R"({"type":"summary","dry_run":false,"end":"not-started",)"
            R"j("error":"invalid level '12' (1 to 9)","source_dir":null,"output_dir":null,)j" +
                nulls);
  EXPECT_EQ(r.err,
            "dbzip: invalid level '12' (1 to 9)\nTry 'dbzip --help' for more information.\n");
}

TEST_F(DbzipTest, AWriteFailureLeavesNoArchiveAndNamesIt) {
  std::string noise(1 << 20, '\0');
  uint32_t x = 1;
  for (char& c : noise) c = static_cast<char>((x = x * 1664525 + 1013904223) >> 24);
  src.File("full.mdf", noise);
  const std::string older = out.File("full.zip", "PK\x03\x04 the archive of an earlier run");
  // A 32 KiB file-size limit (sh counts 512-byte blocks) stands in for a full disk.
  const ProcessResult r = RunProcess(
      {"/bin/sh", "-c", "ulimit -f 64 && exec \"$0\" \"$@\"", DBZIP_PATH, src.Root(), out.Root()});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("dbzip: " + src.Path("full.mdf") + ": not archived: Cannot write file " +
                       out.Path("full.zip") + ": File too large"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Listing(out.Root()), std::vector<std::string>{"full.zip"});
  EXPECT_EQ(ReadAll(older), "PK\x03\x04 the archive of an earlier run");

  // An archive past 8 MiB is sent on to the disk on the way: a limit met
  // after that still fails it, and without the limit it is whole.
  noise.resize(9u << 20);
  for (char& c : noise) c = static_cast<char>((x = x * 1664525 + 1013904223) >> 24);
  src.File("full.mdf", noise);
  // sh counts the limit in blocks of 512 bytes: 8.5 MiB.
  const ProcessResult past = RunProcess({"/bin/sh", "-c", "ulimit -f 17408 && exec \"$0\" \"$@\"",
                                         DBZIP_PATH, "-l", "1", src.Root(), out.Root()});
  EXPECT_EQ(past.status, 1) << past.err;
  EXPECT_NE(past.err.find(": File too large\n"), std::string::npos) << past.err;
  EXPECT_EQ(ReadAll(older), "PK\x03\x04 the archive of an earlier run");
  const ProcessResult whole = Dbzip({"-q", "-l", "1", src.Root(), out.Root()});
  EXPECT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(ZipListing(out.Path("full.zip")), "full.mdf:" + std::to_string(9u << 20));
}

// The archives our writer left half-written (only a killed run leaves any).
std::vector<std::string> Leftovers(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& name : Listing(dir))
    if (name.find(".tzw-") != std::string::npos) names.push_back(name);
  return names;
}

// True once the process pid holds a file open in dir: the archive it is
// writing, which has no name there while it is written.
bool WritingInto(pid_t pid, const std::string& dir) {
  std::error_code error;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    if (fs::read_symlink(fd.path(), error).string().rfind(dir + "/", 0) == 0) return true;
  }
  return false;
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
  const ProcessResult r = RunProcess(
      {DBZIP_PATH, "-l", "9", src.Root(), out.Root()}, [&](pid_t pid, const std::string& so) {
        if (so.find("Zipping") == std::string::npos) return;
        // Caught while the archive is being written.
        for (int i = 0; i < 500 && !WritingInto(pid, out.Root()); ++i) ::usleep(10000);
        ::kill(pid, SIGINT);
      });
  EXPECT_EQ(r.status, 130) << r.out << r.err;
  EXPECT_TRUE(Listing(out.Root()).empty());
}

// dbzip as an unprivileged user: directly when we are one, through setpriv
// as "nobody" when we are root (root reads and replaces anything).
ProcessResult DbzipUnprivileged(std::vector<std::string> args) {
  args.insert(args.begin(), DBZIP_PATH);
  if (::geteuid() == 0) {
    args.insert(args.begin(),
                {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
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
  for (const std::string& line : {src.Path("secret.mdf") + ": could not be read" + denied,
                                  src.Path("locked") + ": could not be listed" + denied,
                                  src.Path("pipe.mdf") + ": not a regular file",
                                  src.Path("device.mdf") + ": not a regular file"}) {
    EXPECT_NE(r.err.find("dbzip: " + line + "\n"), std::string::npos) << line << "\n" << r.err;
  }
  EXPECT_EQ(ReadAll(older), "PK\x03\x04 last week's archive");
  if (sticky) {
    EXPECT_NE(r.err.find(src.Path("good.mdf") + ": its archive would replace " +
                         out.Path("good.zip") + ", another user's file"),
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
  // Each signal that ends a run cleanly gives 128 + its number, as shells
  // and service managers read it; the archive being written is removed.
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
    const ProcessResult r = RunProcess(
        {DBZIP_PATH, "-l", "9", src.Root(), out.Root()}, [&](pid_t pid, const std::string& so) {
          if (so.find("Zipping") == std::string::npos) return;
          // Caught while the new archive is being written.
          for (int i = 0; i < 500 && !WritingInto(pid, out.Root()); ++i) ::usleep(10000);
          ::kill(pid, signal);
        });
    EXPECT_EQ(r.status, 128 + signal) << r.err;
    EXPECT_EQ(ReadAll(out.Path("big.zip")), previous) << signal;
    // Even a killed run leaves nothing: the file had no name yet.
    EXPECT_TRUE(Leftovers(out.Root()).empty()) << signal;
  }
}

// A temporary that a killed run left is named by the dry run as the run's to
// remove, and removed and named by the run, a note that fails nothing; a
// file of the user's with a name like it stays. Both end alike.
TEST_F(DbzipTest, AStaleTemporaryIsForetoldThenRemoved) {
  src.File("a.mdf", Text(3000));
  const std::string stale = out.Path("a.zip.tzw-q1w2e3");
  out.File("a.zip.tzw-q1w2e3", "PK\x03\x04 cut short");
  ::chmod(stale.c_str(), 0600);
  // Beside it, one of the user's own files with a name of the same pattern.
  const std::string mine = out.File("a.zip.tzw-backup", "PK\x03\x04 the user's own");
  const ProcessResult dry = Dbzip({"-n", src.Root(), out.Root()});
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_NE(dry.out.find(stale + ": stale temporary file, the run would remove it\n"),
            std::string::npos)
      << dry.out;
  EXPECT_TRUE(fs::exists(stale));
  const ProcessResult run = Dbzip({src.Root(), out.Root()});
  EXPECT_EQ(run.status, dry.status) << run.err;
  EXPECT_NE(run.err.find(stale + ": stale temporary file removed"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_EQ(ReadAll(mine), "PK\x03\x04 the user's own");
  EXPECT_NE(
      run.err.find(mine + ": left as it is, not a temporary of ours: its mode is not that of a "
                          "temporary"),
      std::string::npos)
      << run.err;
  EXPECT_EQ(ZipListing(out.Path("a.zip")), "a.mdf:3000");
}

// The lines of text, sorted: what a run prints in the order the folders list.
std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Every file under dir with its contents and modification time.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    files[e.path()] = std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) +
                      " " + (e.is_regular_file() ? ReadAll(e.path()) : "");
  }
  return files;
}

TEST_F(DbzipTest, ADryRunForetellsTheRunAndWritesNothing) {
  src.File("good.mdf", Text(40000));
  src.File("foreign.mdf", Text(500));
  src.File("one/x.mdf", Text(1000));
  src.File("two/x.mdf", Text(2000));
  ASSERT_EQ(::mkfifo(src.Path("pipe.mdf").c_str(), 0644), 0);
  src.File("locked/hidden.mdf", Text(100));
  ::chmod(src.Path("locked").c_str(), 0);
  ::chmod(src.Root().c_str(), 0755);
  // Someone's notes where an archive would go; the old archive of x is ours.
  out.File("foreign.zip", "my notes");
  TempTree earlierSrc, earlierOut;
  earlierSrc.File("x.mdf", "an older database");
  ASSERT_EQ(Dbzip({earlierSrc.Root(), earlierOut.Root()}).status, 0);
  const std::string older = out.File("x.zip", ReadAll(earlierOut.Path("x.zip")));
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(older.c_str(), 65534, 65534), 0);
  }
  ::chmod(out.Root().c_str(), 01777);
  const auto before = Snapshot(out.Root());

  const ProcessResult dry = DbzipUnprivileged({"-r", "--dry-run", src.Root(), out.Root()});
  EXPECT_EQ(dry.status, 1) << dry.err;
  // The two x.mdf share one archive: the one remark on standard error.
  EXPECT_EQ(dry.err,
            "dbzip: databases of one name in different folders share one archive: --tree keeps "
            "each folder's archives apart\n");
  EXPECT_EQ(Snapshot(out.Root()), before);
  // Which x.mdf is zipped last depends on the listing order.
  const bool oneFirst = dry.out.find(src.Path("one/x.mdf")) < dry.out.find(src.Path("two/x.mdf"));
  const std::string first = src.Path(oneFirst ? "one/x.mdf" : "two/x.mdf");
  const std::string last = src.Path(oneFirst ? "two/x.mdf" : "one/x.mdf");
  EXPECT_EQ(SortedLines(dry.out),
            SortedLines("5 databases found, 2 would be archived\n" + src.Path("locked") +
                        ": would be skipped: could not be listed: " + std::strerror(EACCES) + "\n" +
                        src.Path("pipe.mdf") + ": would be skipped: not a regular file\n" +
                        src.Path("foreign.mdf") + ": would be skipped: its archive would replace " +
                        out.Path("foreign.zip") +
                        (::geteuid() == 0 ? ", another user's file\n"
                                          : ", not an archive of this database\n") +
                        src.Path("good.mdf") + " -> " + out.Path("good.zip") + "\n" + first +
                        ": its archive " + out.Path("x.zip") + " would be replaced by " + last +
                        "\n" + last + " -> " + out.Path("x.zip") + "\n"));
  // The summary comes last; quiet leaves only what would not be archived.
  EXPECT_EQ(dry.out.substr(dry.out.rfind('\n', dry.out.size() - 2) + 1),
            "5 databases found, 2 would be archived\n");
  const ProcessResult quiet = DbzipUnprivileged({"-rqn", src.Root(), out.Root()});
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(SortedLines(quiet.out).size(), 4u) << quiet.out;
  EXPECT_EQ(quiet.out.find(" -> "), std::string::npos);

  // The run does what the dry run said: each skip with the same reason, each
  // archive holding its database.
  const ProcessResult run = DbzipUnprivileged({"-r", src.Root(), out.Root()});
  EXPECT_EQ(run.status, 1);
  std::istringstream lines(dry.out);
  for (std::string line; std::getline(lines, line);) {
    const size_t skip = line.find(": would be skipped: ");
    const size_t arrow = line.find(" -> ");
    if (skip != std::string::npos) {
      EXPECT_NE(
          run.err.find("dbzip: " + line.substr(0, skip) + ": " + line.substr(skip + 20) + "\n"),
          std::string::npos)
          << line << "\n"
          << run.err;
    } else if (arrow != std::string::npos) {
      const std::string source = line.substr(0, arrow);
      EXPECT_EQ(ZipListing(line.substr(arrow + 4)),
                fs::path(source).filename().string() + ":" + std::to_string(fs::file_size(source)));
    }
  }
  EXPECT_NE(run.err.find("dbzip: " + first + ": its archive was replaced by " + last + "\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(ReadAll(out.Path("foreign.zip")), "my notes");
  EXPECT_TRUE(Leftovers(out.Root()).empty());
}

// A run with standard output on a pipe and standard error on a terminal of
// its own, TERM set to term (or unset).
struct TerminalRun {
  int status = -1;
  std::string out;       // standard output
  std::string terminal;  // what reached the terminal
};

TerminalRun RunOnTerminal(const std::vector<std::string>& argv, const char* term) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
    throw std::runtime_error("no pty");
  // Held open here until the child has it, so the terminal never hangs up early.
  const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  int out[2];
  if (slave < 0 || ::pipe(out) != 0) throw std::runtime_error("no pty or pipe");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(slave, 2);
    ::close(master);
    if (term != nullptr)
      ::setenv("TERM", term, 1);
    else
      ::unsetenv("TERM");
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(slave);
  ::close(out[1]);
  TerminalRun r;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {master, POLLIN, 0}};
  char buf[4096];
  for (int open = 2; open > 0;) {
    ::poll(fds, 2, -1);
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      const ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
      if (n > 0) {
        (k == 0 ? r.out : r.terminal).append(buf, static_cast<size_t>(n));
      } else {  // the end, or the terminal's EIO once the child has closed it
        fds[k].fd = -1;
        --open;
      }
    }
  }
  ::close(out[0]);
  ::close(master);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

TEST_F(DbzipTest, TheStatusLineIsDrawnOnATerminalStandardErrorOnly) {
  src.File("alpha.mdf", Text(300000));
  src.File("beta.mdf", Text(2000));
  ASSERT_EQ(::mkfifo(src.Path("pipe.mdf").c_str(), 0644), 0);
  const std::string notRegular = "dbzip: " + src.Path("pipe.mdf") + ": not a regular file";
  for (const char* term : {"xterm", static_cast<const char*>(nullptr), "dumb"}) {
    SCOPED_TRACE(term != nullptr ? term : "no TERM");
    const bool status = term == nullptr || std::string(term) != "dumb";
    TempTree into;
    const TerminalRun r = RunOnTerminal({DBZIP_PATH, "-j", "2", src.Root(), into.Root()}, term);
    EXPECT_EQ(r.status, 1) << r.terminal;
    // Standard output gets the results, whatever the terminal.
    EXPECT_EQ(r.out.find('\033'), std::string::npos);
    EXPECT_NE(
        r.out.find(src.Path("alpha.mdf") + " -> " + into.Path("alpha.zip") + ": 300000 bytes -> "),
        std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("3 databases found, 2 archived"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Zipping") != std::string::npos, !status) << r.out;
    // The terminal gets the status line and the diagnostics; a dumb one the
    // diagnostics alone, and the line is cleared before each of them.
    EXPECT_EQ(r.terminal.find("\r\033[K") != std::string::npos, status) << r.terminal;
    EXPECT_EQ(r.terminal.find("alpha.mdf  ") != std::string::npos, status) << r.terminal;
    // The run's progress leads it: databases ended of those found, and bytes.
    EXPECT_EQ(r.terminal.find(" of 3 databases  ") != std::string::npos, status) << r.terminal;
    EXPECT_EQ(r.terminal.find(" of 0.3 MB  ") != std::string::npos, status) << r.terminal;
    EXPECT_NE(r.terminal.find(notRegular), std::string::npos) << r.terminal;
    if (status) {
      EXPECT_NE(r.terminal.find("\r\033[K" + notRegular), std::string::npos);
    }
    EXPECT_EQ(ZipListing(into.Path("alpha.zip")), "alpha.mdf:300000");
  }
  // Quiet: the terminal hears only of what went wrong.
  TempTree into;
  const TerminalRun q = RunOnTerminal({DBZIP_PATH, "-q", src.Root(), into.Root()}, "xterm");
  EXPECT_EQ(q.out, "");
  EXPECT_EQ(q.terminal, notRegular + "\r\n");
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
  for (int i = 0; i < 500 && !WritingInto(pid, out.Root()); ++i) ::usleep(10000);
  ::close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  // Ended as an interrupt, not killed with the archives half written.
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGPIPE) << status;
  EXPECT_TRUE(Leftovers(out.Root()).empty());
  // db0.zip is the earlier archive or a whole new one, never a part of one.
  if (ReadAll(older) != "PK\x03\x04 the archive of an earlier run") {
    EXPECT_EQ(ZipListing(older), "db0.mdf:" + std::to_string(data.size()));
  }
}

// A standard output with no reader from the start: the JSON results come only
// at the end, so the run has archived everything before its first write.
// SIGPIPE ends it with 141 when it may; ignored, the write fails and says so.
TEST_F(DbzipTest, AClosedOutputHasOneStatusWhateverTheTiming) {
  src.File("a.mdf", Text(1000));
  for (const bool ignored : {false, true}) {
    SCOPED_TRACE(ignored ? "SIGPIPE ignored" : "SIGPIPE default");
    TempTree into;
    const std::string errFile = into.Path("err.txt");
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ::close(pipeFds[0]);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(pipeFds[1], 1);
      ::dup2(::open(errFile.c_str(), O_WRONLY | O_CREAT, 0600), 2);
      ::signal(SIGPIPE, ignored ? SIG_IGN : SIG_DFL);
      ::execl(DBZIP_PATH, DBZIP_PATH, "--json", src.Root().c_str(), out.Root().c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(pipeFds[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), ignored ? 1 : 128 + SIGPIPE);
    EXPECT_EQ(ReadAll(errFile), "dbzip: cannot write the results to standard output: " +
                                    std::string(std::strerror(EPIPE)) + "\n");
    EXPECT_EQ(ZipListing(out.Path("a.zip")), "a.mdf:1000");
  }
}

TEST_F(DbzipTest, DeepTreesAndConcurrentRunsLoseNothing) {
  // 1,200 levels under a 64-descriptor limit: a listing is closed before
  // its sub-folders are entered.
  std::string deep = src.Root();
  for (int level = 0; level < 1200; ++level) ASSERT_EQ(::mkdir((deep += "/d").c_str(), 0755), 0);
  std::ofstream(deep + "/bottom.mdf") << Text(3000);
  for (int i = 0; i < 8; ++i) src.File("top" + std::to_string(i) + ".mdf", Text(60000 + i));
  const ProcessResult r = RunProcess(
      {"/usr/bin/prlimit", "--nofile=64", DBZIP_PATH, "-r", "-q", src.Root(), out.Root()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ZipListing(out.Path("bottom.zip")), "bottom.mdf:3000");

  // A run into a folder another run holds says which run holds it and
  // fails at once, a dry run too; with --wait it waits for it.
  TempTree shared, logs;
  {
    const int held = ::open(shared.Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const std::string busy = shared.Root() + ": another run (process " +
                             std::to_string(::getpid()) + ") is writing into it";
    for (const char* mode : {"-q", "-n"}) {
      const ProcessResult refused = Dbzip({mode, src.Root(), shared.Root()});
      EXPECT_EQ(refused.status, 1) << mode;
      EXPECT_NE(refused.err.find(busy), std::string::npos) << refused.err;
    }
    std::thread release([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      ::close(held);
    });
    EXPECT_EQ(Dbzip({"-q", "--wait", src.Root(), shared.Root()}).status, 0);
    release.join();
  }
  // Two runs into one folder at the same time with --wait: one after the
  // other, every archive whole and nothing reported.
  std::vector<pid_t> pids;
  for (int run = 0; run < 2; ++run) {
    const std::string log = logs.Path("err" + std::to_string(run));
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int devNull = ::open("/dev/null", O_WRONLY);
      ::dup2(devNull, 1);
      const int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(err, 2);
      ::execl(DBZIP_PATH, DBZIP_PATH, "-q", "--wait", "-l", "1", src.Root().c_str(),
              shared.Root().c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    pids.push_back(pid);
  }
  for (int run = 0; run < 2; ++run) {
    int status = 0;
    ::waitpid(pids[run], &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    std::ifstream log(logs.Path("err" + std::to_string(run)));
    for (std::string line; std::getline(log, line);) ADD_FAILURE() << line;
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  for (int i = 0; i < 8; ++i) {
    const std::string name = "top" + std::to_string(i);
    EXPECT_EQ(ZipListing(shared.Path(name + ".zip")), name + ".mdf:" + std::to_string(60000 + i));
  }
  EXPECT_TRUE(Leftovers(shared.Root()).empty());
}

}  // namespace

namespace {

// What bash makes of a printed name.
std::string AsBashReadsIt(const std::string& printed) {
  return RunProcess({"/bin/bash", "-c", "printf %s " + printed}).out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

// A name that holds a newline, a carriage return, terminal escapes and the
// report's own separators stays on its line, on standard output, standard
// error and in the dry run, and reads back as the name.
TEST_F(DbzipTest, NoNameForgesOrErasesALine) {
  const std::string evil = "fake.mdf: 5 bytes -> 5 bytes\n\x1b[1A\x1b[2Kx.mdf";
  const std::string pipe = "p\r\x1b]0;owned\x07.mdf";
  src.File(evil, Text(3000));
  ASSERT_EQ(::mkfifo(src.Path(pipe).c_str(), 0600), 0);
  const ProcessResult run = Dbzip({src.Root(), out.Root()});
  const ProcessResult dry = Dbzip({"-n", src.Root(), out.Root()});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(dry.status, 1);
  for (const std::string* text : {&run.out, &run.err, &dry.out, &dry.err}) {
    EXPECT_EQ(text->find_first_of("\r\x1b\x07"), std::string::npos) << *text;
  }
  // Zipping twice, one result, the summary; one reason; two foretold, the summary.
  const auto lines = Lines(run.out), err = Lines(run.err), plan = Lines(dry.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  ASSERT_EQ(err.size(), 1u) << run.err;
  ASSERT_EQ(plan.size(), 3u) << dry.out;
  for (const std::string& line : lines) {
    if (line.rfind("Zipping ", 0) == 0) continue;
    if (line.find(" databases found") != std::string::npos) continue;
    // SOURCE -> ARCHIVE: N bytes -> M bytes: each separator once where it
    // belongs, neither in a name.
    const size_t arrow = line.find(" -> "), colon = line.find(": ");
    ASSERT_LT(arrow, colon) << line;
    ASSERT_EQ(line.find(": ", colon + 1), std::string::npos) << line;
    EXPECT_EQ(line.find(" -> ", arrow + 1), line.rfind(" -> ")) << line;
    EXPECT_GT(line.rfind(" -> "), colon) << line;
    EXPECT_EQ(AsBashReadsIt(line.substr(0, arrow)), src.Path(evil));
    EXPECT_EQ(AsBashReadsIt(line.substr(arrow + 4, colon - arrow - 4)),
              out.Path(Listing(out.Root()).at(0)));
  }
  const std::string prefix = "dbzip: ";
  const size_t colon = err[0].find(": ", prefix.size());
  EXPECT_EQ(AsBashReadsIt(err[0].substr(prefix.size(), colon - prefix.size())), src.Path(pipe));
  EXPECT_EQ(err[0].substr(colon), ": not a regular file");
  for (const std::string& line : plan) {
    const size_t arrow = line.find(" -> ");
    if (arrow == std::string::npos) continue;
    EXPECT_EQ(AsBashReadsIt(line.substr(0, arrow)), src.Path(evil));
    EXPECT_EQ(AsBashReadsIt(line.substr(arrow + 4)), out.Path(Listing(out.Root()).at(0)));
  }
}

// A run that finds nothing where databases lie in sub-folders says that -r
// would take them; not for a name left out, nor through a link.
TEST_F(DbzipTest, NothingFoundPointsAtTheSubFolders) {
  src.File("notes.txt", "no database");
  src.File("site/2024/QRN_Sales_dat.mdf", Text(100));
  const std::string nothing = "dbzip: no database found in " + src.Root();
  for (const char* dry : {"-q", "-n"}) {
    const ProcessResult r = Dbzip({dry, src.Root(), out.Root()});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, nothing + "; databases lie in its sub-folders: use -r\n");
  }
  EXPECT_EQ(Dbzip({"-x", "qrn_*", src.Root(), out.Root()}).err, nothing + "\n");
  TempTree elsewhere;
  fs::rename(src.Path("site"), elsewhere.Path("site"));
  src.Link("site", elsewhere.Path("site"));
  EXPECT_EQ(Dbzip({src.Root(), out.Root()}).err, nothing + "\n");
}

// The dry run's exit status is the run's, for each fault on its own: a
// database the user cannot read, an output folder that takes no new file,
// another user's archive in a shared sticky folder, two databases sharing one
// archive name; and a run that finds nothing says so with a status of its own
// unless an empty run is allowed.
TEST_F(DbzipTest, TheDryRunEndsAsTheRunWould) {
  // Each says what it says of the fault: the dry run what it foresaw.
  const auto both = [&](const std::vector<std::string>& args, int status,
                        const std::string& foreseen, const std::string& met) {
    std::vector<std::string> dryArgs = args;
    dryArgs.insert(dryArgs.begin(), "--dry-run");
    const ProcessResult dry = DbzipUnprivileged(dryArgs);
    const ProcessResult run = DbzipUnprivileged(args);
    EXPECT_EQ(dry.status, status) << dry.out << dry.err;
    EXPECT_EQ(run.status, status) << run.out << run.err;
    EXPECT_NE((dry.out + dry.err).find(foreseen), std::string::npos) << dry.out << dry.err;
    EXPECT_NE(run.err.find(met), std::string::npos) << run.err;
  };
  ::chmod(src.Root().c_str(), 0755);
  ::chmod(out.Root().c_str(), 0777);
  const std::string denied = std::strerror(EACCES);
  {
    const std::string secret = src.File("secret.mdf", Text(100));
    ::chmod(secret.c_str(), 0);
    both({src.Root(), out.Root()}, 1, secret + ": would be skipped: could not be read: " + denied,
         secret + ": could not be read: " + denied);
    fs::remove(secret);
  }
  {
    src.File("a.mdf", Text(100));
    TempTree closed;
    ::chmod(closed.Root().c_str(), 0555);
    both({src.Root(), closed.Root()}, 1,
         src.Path("a.mdf") + ": would be skipped: ", src.Path("a.mdf") + ": ");
    EXPECT_TRUE(Listing(closed.Root()).empty());
    fs::remove(src.Path("a.mdf"));
  }
  if (::geteuid() == 0) {
    // A shared sticky folder keeps root's archive from nobody's replace.
    src.File("kept.mdf", Text(100));
    TempTree shared;
    ::chmod(shared.Root().c_str(), 01777);
    const std::string theirs = shared.File("kept.zip", "PK\x03\x04 root's archive");
    const std::string refused =
        "its archive would replace " + shared.Path("kept.zip") + ", another user's file";
    both({src.Root(), shared.Root()}, 1, src.Path("kept.mdf") + ": would be skipped: " + refused,
         src.Path("kept.mdf") + ": " + refused);
    EXPECT_EQ(ReadAll(theirs), "PK\x03\x04 root's archive");
    fs::remove(src.Path("kept.mdf"));
  } else {
    std::cout << "skipped the sticky folder's case: only root can own what nobody may replace\n";
  }
  {
    src.File("one/x.mdf", Text(100));
    src.File("two/x.mdf", Text(200));
    both({"-r", src.Root(), out.Root()}, 1, " would be replaced by ",
         ": its archive was replaced by ");
    fs::remove_all(src.Path("one"));
    fs::remove_all(src.Path("two"));
  }
  src.File("notes.txt", "no database");
  const std::string nothing = "dbzip: no database found in " + src.Root() + "\n";
  both({src.Root(), out.Root()}, 3, nothing, nothing);
  for (const char* dry : {"-n", "-r"}) {
    const ProcessResult allowed = Dbzip({dry, "--allow-empty", src.Root(), out.Root()});
    EXPECT_EQ(allowed.status, 0) << allowed.err;
    EXPECT_EQ(allowed.err, "");
  }
  const ProcessResult slash = Dbzip({"--mask", "sub/*.mdf", src.Root(), out.Root()});
  EXPECT_EQ(slash.status, 2);
  EXPECT_NE(slash.err.find("a path separator"), std::string::npos) << slash.err;
}

namespace {

// --json's lines as python3's json reads them, strictly: the stream must be
// UTF-8 and each line one object. Each object becomes "type outcome name",
// the name as the hex of its bytes (from "source_base64" when the name is
// not UTF-8, which its string must then show with U+FFFD), with the
// replacing database's name; the summary its counts and end.
std::vector<std::string> JsonOutcomes(const std::string& jsonLines) {
  TempTree dir;
  const std::string file = dir.File("out.jsonl", jsonLines);
  const ProcessResult r = RunProcess(
      {"/usr/bin/python3", "-c",
       "import base64, json, sys\n"
       "def name(o, key):\n"
       "    if o.get(key) is None: return '-'\n"
       "    if key + '_base64' in o:\n"
       "        raw = base64.b64decode(o[key + '_base64'], validate=True)\n"
       "        assert raw.decode('utf-8', 'replace') == o[key], o\n"
       "        return raw.hex()\n"
       "    return o[key].encode('utf-8').hex()\n"
       "text = open(sys.argv[1], 'rb').read().decode('utf-8')\n"
       "assert text.endswith('\\n')\n"
       "for line in text.split('\\n')[:-1]:\n"
       "    o = json.loads(line)\n"
       "    if o['type'] == 'summary':\n"
       "        print('summary', o['end'], o['found'], o['archived'], o['not_archived'],\n"
       "              o['folders_not_listed'], o['exit_status'], o['dry_run'])\n"
       "        continue\n"
       "    if o['type'] == 'database':\n"
       "        assert o['outcome'] in ('archived', 'not-zipped') or o['reason'], o\n"
       "        assert o['dry_run'] or (o['bytes_out'] > 0) == (o['outcome'] in\n"
       "            ('archived', 'replaced')), o\n"
       "        name(o, 'archive')\n"
       "    print(o['type'], o['outcome'], name(o, 'source'), name(o, 'replaced_by'))\n",
       file});
  EXPECT_EQ(r.status, 0) << r.err << jsonLines;
  std::vector<std::string> lines;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

}  // namespace

// A monitor reads every database's outcome, whatever its name, and the
// summary, as valid JSON; the dry run's objects foretell the run's.
TEST_F(DbzipTest, JsonLinesReportEveryOutcomeForAnyName) {
  const std::string quoted = "q\"b\\s\nl.mdf", control = "c\x01\x1b\x7f.mdf",
                    notUtf8 = "n\xff\xc0.mdf", separator = "u\xe2\x80\xa8.mdf";
  for (const std::string* name : {&quoted, &control, &notUtf8, &separator})
    src.File(*name, Text(3000));
  std::string noise(1 << 20, '\0');
  uint32_t x = 1;
  for (char& c : noise) c = static_cast<char>((x = x * 1664525 + 1013904223) >> 24);
  src.File("full.mdf", noise);
  ::chmod(src.File("secret.mdf", Text(100)).c_str(), 0);
  ASSERT_EQ(::mkfifo(src.Path("pipe.mdf").c_str(), 0644), 0);
  src.File("taken.mdf", Text(100));
  out.File("taken.zip", "someone's notes");
  src.File("same.mdf", Text(100));
  src.File("sub/same.mdf", Text(200));
  src.File("locked/hidden.mdf", Text(100));
  ::chmod(src.Path("locked").c_str(), 0);
  src.File("skip_me.mdf", Text(100));
  src.File("sub/SKIP.mdf", Text(100));
  ::chmod(src.Root().c_str(), 0755);
  ::chmod(out.Root().c_str(), 0777);

  // Unprivileged, so that the locked folder and file stay locked; a 64 KiB
  // file-size limit fails the archive of the noise.
  std::vector<std::string> command = {"/bin/sh",  "-c",     "ulimit -f 64 && exec \"$0\" \"$@\"",
                                      DBZIP_PATH, "--json", "-r",
                                      "-x",       "skip*",  "-j",
                                      "0"};
  if (::geteuid() == 0) {
    command.insert(command.begin(),
                   {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  }
  std::vector<std::string> dryCommand = command;
  dryCommand.push_back("-n");
  for (auto* c : {&command, &dryCommand}) c->insert(c->end(), {src.Root(), out.Root()});
  const ProcessResult dry = RunProcess(dryCommand);
  const ProcessResult run = RunProcess(command);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(dry.status, 1) << dry.err;
  // Diagnostics still go to standard error, for the log.
  EXPECT_NE(run.err.find("dbzip: " + src.Path("pipe.mdf") + ": not a regular file"),
            std::string::npos);

  const auto entry = [&](const std::string& type, const std::string& outcome,
                         const std::string& name, const std::string& by = {}) {
    return type + " " + outcome + " " + Hex(src.Path(name)) + " " +
           (by.empty() ? "-" : Hex(src.Path(by)));
  };
  std::vector<std::string> expected = {entry("database", "archived", quoted),
                                       entry("database", "archived", control),
                                       entry("database", "archived", notUtf8),
                                       entry("database", "archived", separator),
                                       entry("database", "not-read", "secret.mdf"),
                                       entry("database", "not-regular", "pipe.mdf"),
                                       entry("database", "not-replaced", "taken.mdf"),
                                       entry("database", "replaced", "same.mdf", "sub/same.mdf"),
                                       entry("database", "archived", "sub/same.mdf"),
                                       entry("folder", "not-listed", "locked"),
                                       entry("database", "failed", "full.mdf"),
                                       "summary finished 10 5 5 1 1 False"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(JsonOutcomes(run.out), expected);
  // The dry run cannot foresee a full disk; all else it foretells.
  for (std::string& line : expected) {
    if (line == entry("database", "failed", "full.mdf"))
      line = entry("database", "archived", "full.mdf");
    if (line.rfind("summary", 0) == 0) line = "summary finished 10 6 4 1 1 True";
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(JsonOutcomes(dry.out), expected);
}

// Sites that keep databases of one name in folders of their own: flat, one
// replaces the other and the run says --tree would keep them apart; with
// --tree each archive goes into its database's folder below the output
// folder, made as needed through the output folder's handle, never through
// a link planted there, with its generations and the check beside it.
TEST_F(DbzipTest, TreeKeepsEachSitesArchivesApart) {
  src.File("siteA/QRN_Sales_dat.mdf", Text(1000));
  src.File("siteB/QRN_Sales_dat.mdf", Text(2000));
  src.File("top.mdf", Text(300));
  const ProcessResult flat = Dbzip({"-rq", src.Root(), out.Root()});
  EXPECT_EQ(flat.status, 1);
  EXPECT_NE(flat.err.find("--tree keeps each folder's archives apart"), std::string::npos)
      << flat.err;

  TempTree tree;
  const ProcessResult plan = Dbzip({"-rn", "--tree", src.Root(), tree.Root()});
  EXPECT_EQ(plan.status, 0) << plan.out << plan.err;
  EXPECT_NE(
      plan.out.find(src.Path("siteB/QRN_Sales_dat.mdf") + " -> " + tree.Path("siteB/sales.zip")),
      std::string::npos)
      << plan.out;
  EXPECT_TRUE(Listing(tree.Root()).empty());
  for (int night = 0; night < 2; ++night) {
    const ProcessResult r = Dbzip({"-rq", "--tree", "--keep", "1", src.Root(), tree.Root()});
    EXPECT_EQ(r.status, 0) << r.err;
  }
  EXPECT_EQ(ZipListing(tree.Path("siteA/sales.zip")), "QRN_Sales_dat.mdf:1000");
  EXPECT_EQ(ZipListing(tree.Path("siteB/sales.zip")), "QRN_Sales_dat.mdf:2000");
  EXPECT_EQ(ZipListing(tree.Path("siteB/sales.zip.1")), "QRN_Sales_dat.mdf:2000");
  EXPECT_EQ(ZipListing(tree.Path("top.zip")), "top.mdf:300");
  EXPECT_EQ(Dbzip({"--check", "-rq", tree.Root()}).status, 0);

  // A link planted where a site's folder goes is not followed.
  TempTree elsewhere;
  src.File("siteC/QRN_Stock_dat.mdf", Text(100));
  tree.Link("siteC", elsewhere.Root());
  const ProcessResult planted = Dbzip({"-rq", "--tree", src.Root(), tree.Root()});
  EXPECT_EQ(planted.status, 1);
  EXPECT_NE(
      planted.err.find(src.Path("siteC/QRN_Stock_dat.mdf") + ": could not create a file beside " +
                       tree.Path("siteC/stock.zip") + ": its folder is a link or another user's"),
      std::string::npos)
      << planted.err;
  EXPECT_TRUE(Listing(elsewhere.Root()).empty());
}
