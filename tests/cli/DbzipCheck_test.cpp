// dbzip --check on archives dbzip stored, damaged on purpose, beside files
// that are not ours; run as a separate program.
#include <gtest/gtest.h>
#include <sys/stat.h>
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

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Rows(int seed) {
  std::string s;
  for (int i = 0; s.size() < 200000; ++i)
    s += std::to_string(seed) + " row " + std::to_string(i * 7919 % 100003) + "\n";
  return s;
}

// Archives of three databases, each with one earlier generation, as a
// nightly run with --keep leaves them.
class DbzipCheckTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a", "b", "c"}) src.File(std::string(name) + ".mdf", Rows(name[0]));
    for (int night = 0; night < 2; ++night)
      ASSERT_EQ(Dbzip({"-q", "--keep", "1", src.Root(), out.Root()}).status, 0);
  }
  // Flips one bit of the byte at offset (from the end when negative).
  void Flip(const std::string& name, long offset, char bit = 0x20) {
    std::string bytes = ReadAll(out.Path(name));
    bytes[static_cast<size_t>(offset < 0 ? static_cast<long>(bytes.size()) + offset : offset)] ^=
        bit;
    WriteAll(out.Path(name), bytes);
  }
  TempTree src, out;
};

TEST_F(DbzipCheckTest, NamesEachDamagedArchiveAndEveryWholeOne) {
  ProcessResult r = Dbzip({"--check", out.Root()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("6 archives checked, 6 whole, 0 damaged"), std::string::npos) << r.out;

  const std::string b = ReadAll(out.Path("b.zip"));
  Flip("a.zip", static_cast<long>(ReadAll(out.Path("a.zip")).size() / 2));  // in the data
  Flip("b.zip", static_cast<long>(b.find("PK\x01\x02")) + 16, 0x01);        // the central CRC-32
  Flip("c.zip.1", 40);                                                      // a generation's data
  // A count of none in the end record leaves the central header over: still
  // ours, damaged, not a foreign archive of no entries.
  std::string empty = b;
  empty[empty.size() - 22 + 8] = empty[empty.size() - 22 + 10] = 0;
  WriteAll(out.Path("d.zip"), empty);
  WriteAll(out.Path("e.zip"), b.substr(0, b.size() / 2));  // cut short

  const std::string p = out.Root() + "/";
  const std::vector<std::string> expected = {
      p + "a.zip: damaged: the entry's data at offset 35 does not ",
      p + "a.zip.1: whole",
      p + "b.zip: damaged: the local header's CRC-32 at offset 14 is ",
      p + "b.zip.1: whole",
      p + "c.zip: whole",
      p + "c.zip.1: damaged: the entry's data at offset 35 does not ",
      p + "d.zip: damaged: the end record's entries on this disk at offset ",
      p + "e.zip: damaged: it has no end record",
      "8 archives checked, 3 whole, 5 damaged, 0 unreadable, "};
  for (const char* jobs : {"1", "2"}) {
    r = Dbzip({"--check", "-j", jobs, out.Root()});
    EXPECT_EQ(r.status, 1) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    for (const std::string& start : expected) {
      std::getline(lines, line);
      EXPECT_EQ(line.substr(0, start.size()), start) << r.out;
    }
    EXPECT_FALSE(std::getline(lines, line)) << r.out;
  }
}

// What is not an archive of ours is named and left alone, never counted as
// damaged; a sub-folder is read with -r; a generation that a stopped run
// left under two names of its chain is still ours.
TEST_F(DbzipCheckTest, LeavesWhatIsNotOursAloneAndParsesAsJson) {
  const ProcessResult zipped =
      RunProcess({"/usr/bin/python3", "-c",
                  "import sys, zipfile\n"
                  "for name, entries in (('two.zip', ['x', 'y']), ('nested.zip', ['f/x'])):\n"
                  "    with zipfile.ZipFile(sys.argv[1] + '/' + name, 'w') as z:\n"
                  "        for e in entries: z.writestr(e, e)\n",
                  out.Root()});
  ASSERT_EQ(zipped.status, 0) << zipped.err;
  out.Link("link.zip", "a.zip");
  out.File("notes.txt", "x");
  out.File("c.zip.tzw-abc123", "");
  ASSERT_EQ(::link(out.Path("b.zip.1").c_str(), out.Path("b.zip.2").c_str()), 0);
  ASSERT_EQ(::link(out.Path("c.zip.1").c_str(), out.Path("other.zip").c_str()), 0);
  fs::copy_file(out.Path("a.zip"), out.Dir("site") + "/a.zip");
  struct stat before {};
  ASSERT_EQ(::stat(out.Path("two.zip").c_str(), &before), 0);

  ProcessResult r = Dbzip({"--check", out.Root()});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string p = out.Root() + "/";
  for (const std::string& line : std::vector<std::string>{
           p + "b.zip.1: whole\n", p + "b.zip.2: whole\n",
           p + "link.zip: not an archive of ours: a link\n",
           p + "nested.zip: not an archive of ours: a ZIP archive whose entry is in a folder\n",
           p + "notes.txt: not an archive of ours: not named as an archive\n",
           p + "two.zip: not an archive of ours: a ZIP archive of 2 entries\n",
           p + "c.zip.tzw-abc123: a temporary file of a run, not an archive\n",
           p + "site: not an archive of ours: a folder\n",
           p + "c.zip.1: not an archive of ours: a file with other names\n",
           "6 archives checked, 6 whole, 0 damaged, 0 unreadable, "})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
  struct stat after {};
  ASSERT_EQ(::stat(out.Path("two.zip").c_str(), &after), 0);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  EXPECT_EQ(before.st_size, after.st_size);

  // Every line JSON, the sub-folder's archive among them, and a summary
  // whose counts agree.
  r = Dbzip({"--check", "-r", "--json", "-j", "2", out.Root()});
  EXPECT_EQ(r.status, 0) << r.err;
  const ProcessResult parsed = RunProcess(
      {"/usr/bin/python3", "-c",
       "import json, sys\n"
       "lines = [json.loads(l) for l in sys.argv[1].splitlines()]\n"
       "s = lines[-1]\n"
       "a = [l['path'][len(sys.argv[2]):] for l in lines if l['type'] == 'archive']\n"
       "print(len(a), s['type'], s['check'], s['archives'], s['whole'], s['not_checked'],\n"
       "      s['temporaries'], s['exit_status'], a[-1])\n",
       r.out, out.Root()});
  EXPECT_EQ(parsed.out, "7 summary True 7 7 6 1 0 /site/a.zip\n") << parsed.err << r.out;
}

TEST_F(DbzipCheckTest, EmptyFoldersAndUsage) {
  TempTree empty;
  ProcessResult r = Dbzip({"--check", empty.Root()});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "dbzip: no archive found in " + empty.Root() + "\n");
  EXPECT_EQ(Dbzip({"--check", "--allow-empty", empty.Root()}).status, 0);
  r = Dbzip({"--check", empty.Path("nope")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "dbzip: " + empty.Path("nope") + ": " + std::strerror(ENOENT) + "\n");
  // A run's operands or options are refused rather than ignored.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--check", src.Root(), out.Root()},
        {"--check", "-l", "6", out.Root()},
        {"--keep=2", out.Root(), "--check"},
        {"--check"}}) {
    r = Dbzip(args);
    EXPECT_EQ(r.status, 2) << args[1];
    EXPECT_EQ(r.err.rfind("dbzip: ", 0), 0u) << r.err;
  }
}

}  // namespace
