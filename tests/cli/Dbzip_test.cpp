// dbzip end to end on temporary trees, run as a separate program.
#include <gtest/gtest.h>
#include <signal.h>

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
  EXPECT_NE(r.err.find("dbzip: " + src.Path("old.mdf") + ": could not be read"), std::string::npos)
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
  // A run error: the archive cannot be created.
  out.Dir("a.zip");
  r = Dbzip({src.Root(), out.Root()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("dbzip: Cannot create file " + out.Path("a.zip")), std::string::npos) << r.err;
}

TEST_F(DbzipTest, AWriteFailureLeavesNoArchiveAndNamesIt) {
  std::string noise(1 << 20, '\0');
  uint32_t x = 1;
  for (char& c : noise) c = static_cast<char>((x = x * 1664525 + 1013904223) >> 24);
  src.File("full.mdf", noise);
  // A 64 KiB file-size limit stands in for a full disk.
  const ProcessResult r = RunProcess(
      {"/bin/sh", "-c", "ulimit -f 64 && exec \"$0\" \"$@\"", DBZIP_PATH, src.Root(), out.Root()});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("dbzip: Cannot write file " + out.Path("full.zip")), std::string::npos) << r.err;
  EXPECT_TRUE(Listing(out.Root()).empty());
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

}  // namespace
