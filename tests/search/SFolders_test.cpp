// The folder search on real temporary trees: walk order, events, totals,
// stopping, failures and links.
#include "SFolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "DirList.h"
#include "Errors.h"
#include "Files.h"
#include "RecorderUi.h"
#include "TempTree.h"

namespace {

struct Process {
  std::string dir;
  int32_t count;
  int32_t size;
  bool operator==(const Process&) const = default;
};

struct Changed {
  int32_t count;
  int32_t size;
  bool operator==(const Changed&) const = default;
};

void PrintTo(const Process& p, std::ostream* os) {
  *os << "OnProcess(" << p.dir << ", " << p.count << ", " << p.size << ")";
}
void PrintTo(const Changed& c, std::ostream* os) {
  *os << "OnChanged(" << c.count << ", " << c.size << ")";
}

// (Dir, FileName, Size) of each record, for comparisons.
using Record = std::tuple<std::string, std::string, int32_t>;

std::vector<Record> Records(const TSearchFolders& search) {
  std::vector<Record> records;
  for (const TFilePack& pack : search.FoundFiles)
    records.emplace_back(pack.Dir, pack.FileName, pack.Size);
  return records;
}

// The names readdir gives for path, in its order, "." and ".." included.
std::vector<std::string> ReaddirOrder(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(path.c_str())) {
    while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
    ::closedir(dir);
  }
  return names;
}

int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++count;
  return count;
}

bool EndsWithMdf(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".mdf";
}

class SearchFolders : public testing::Test {
 protected:
  SearchFolders() {
    search.ScanOptions = TScanOptions::soSpecifiedDir;
    search.ScanDir = tree.Root();
    search.FileMask = "*.mdf";
    search.Messages = false;
    search.OnProcess = [this](TObject* sender, const std::string& dir, int32_t count,
                              int32_t size) {
      EXPECT_EQ(sender, &search);
      processed.push_back({dir, count, size});
      if (onProcess) onProcess(dir);
    };
    search.OnChanged = [this](TObject* sender, int32_t count, int32_t size) {
      EXPECT_EQ(sender, &search);
      changed.push_back({count, size});
    };
  }

  // A tree with matches at several depths, a matching directory, and enough
  // names that the listing order is the file system's, not creation order.
  void MakeMixedTree() {
    for (int i = 0; i < 12; ++i) tree.File("f" + std::to_string(i) + ".mdf", std::string(i, 'x'));
    tree.File("notes.txt", "hello");
    tree.File("sub1/a.mdf", "aaa");
    tree.File("sub1/deeper/b.MDF", "bbbbbbb");
    tree.File("sub1/deeper/c.gdb", "c");
    tree.File("sub2/readme", "r");
    tree.File("old.mdf/inside.mdf", "iiii");
    tree.Dir("empty");
  }

  // What a depth-first walk in readdir order finds: the expected events.
  void Walk(const std::string& folder, bool recursive, std::vector<Record>& records,
            std::vector<Process>& folders, int32_t& count, int32_t& size) {
    folders.push_back({folder, count, size});
    for (const std::string& name : ReaddirOrder(folder)) {
      if (name == "." || name == "..") continue;
      const std::string path = PathJoin(folder, name);
      struct stat st {};
      ASSERT_EQ(::lstat(path.c_str(), &st), 0);
      const bool directory = S_ISDIR(st.st_mode);
      if (EndsWithMdf(name)) {
        const auto fileSize = directory ? 0 : static_cast<int32_t>(st.st_size);
        ++count;
        size += fileSize;
        records.emplace_back(PathJoin(folder, ""), name, fileSize);
      }
      if (recursive && directory) Walk(path, recursive, records, folders, count, size);
    }
  }

  TempTree tree;
  RecorderUi ui;
  TSearchFolders search;
  std::vector<Process> processed;
  std::vector<Changed> changed;
  std::function<void(const std::string&)> onProcess;
};

TEST_F(SearchFolders, WalksDepthFirstInListingOrder) {
  MakeMixedTree();
  std::vector<Record> records;
  std::vector<Process> folders;
  int32_t count = 0, size = 0;
  Walk(tree.Root(), true, records, folders, count, size);

  search.DoRecursive = true;
  search.Scan();
  EXPECT_EQ(Records(search), records);
  EXPECT_EQ(processed, folders);
  EXPECT_EQ(changed, (std::vector<Changed>{{count, size}}));
  EXPECT_EQ(count, 16);  // sanity of the tree itself
}

TEST_F(SearchFolders, NonRecursiveScanLooksAtTheStartFolderOnly) {
  MakeMixedTree();
  std::vector<Record> records;
  std::vector<Process> folders;
  int32_t count = 0, size = 0;
  Walk(tree.Root(), false, records, folders, count, size);

  search.DoRecursive = false;
  search.Scan();
  EXPECT_EQ(Records(search), records);
  EXPECT_EQ(processed, (std::vector<Process>{{tree.Root(), 0, 0}}));
  EXPECT_EQ(changed, (std::vector<Changed>{{13, size}}));
}

TEST_F(SearchFolders, MatchingDirectoryIsCountedThenDescendedInto) {
  tree.File("old.mdf/inside.mdf", "1234");
  search.DoRecursive = true;
  search.Scan();
  ASSERT_EQ(search.FoundFiles.size(), 2u);
  const TFilePack& dir = search.FoundFiles[0];
  EXPECT_EQ(dir.FileName, "old.mdf");
  EXPECT_EQ(dir.Dir, tree.Root() + "/");
  EXPECT_EQ(dir.Attr & faDirectory, faDirectory);
  EXPECT_EQ(dir.Size, 0);
  EXPECT_EQ(search.FoundFiles[1].Dir, tree.Root() + "/old.mdf/");
  EXPECT_EQ(processed.size(), 2u);
  EXPECT_EQ(processed[1], (Process{tree.Root() + "/old.mdf", 1, 0}));
}

TEST_F(SearchFolders, StartFolderWithOrWithoutSeparatorGivesTheSameRecords) {
  tree.File("top.mdf", "t");
  tree.File("sub/low.mdf", "l");
  search.DoRecursive = true;
  search.ScanDir = tree.Root();
  search.Scan();
  const std::vector<Record> without = Records(search);
  const std::vector<Process> processedWithout = processed;

  processed.clear();
  search.ScanDir = tree.Root() + "/";
  search.Scan();
  EXPECT_EQ(Records(search), without);
  ASSERT_EQ(processed.size(), 2u);
  EXPECT_EQ(processed[0].dir, tree.Root() + "/");
  EXPECT_EQ(processedWithout[0].dir, tree.Root());
  EXPECT_EQ(processed[1].dir, tree.Root() + "/sub");
  EXPECT_EQ(processedWithout[1].dir, tree.Root() + "/sub");
  for (const auto& [dir, name, size] : without) EXPECT_EQ(dir.back(), '/');
}

TEST_F(SearchFolders, FindsHiddenReadOnlyAndAnyCase) {
  tree.File(".secret.mdf", "s");
  tree.File("DATA.MDF", "D");
  tree.File("data.mdf", "d");
  const std::string locked = tree.File("locked.mdf", "l");
  ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
  tree.File("data.mdf.bak");
  search.Scan();
  std::map<std::string, uint32_t> attrs;
  for (const TFilePack& pack : search.FoundFiles) attrs[pack.FileName] = pack.Attr;
  EXPECT_EQ(attrs, (std::map<std::string, uint32_t>{{".secret.mdf", faArchive | faHidden},
                                                    {"DATA.MDF", faArchive},
                                                    {"data.mdf", faArchive},
                                                    {"locked.mdf", faArchive | faReadOnly}}));
}

TEST_F(SearchFolders, RecordsCarryTheEntrysTime) {
  const std::string path = tree.File("dated.mdf", "x");
  const std::time_t when = 1'000'000'000;  // 2001-09-09
  ASSERT_TRUE(TempTree::SetModified(path, when));
  search.Scan();
  ASSERT_EQ(search.FoundFiles.size(), 1u);
  EXPECT_EQ(search.FoundFiles[0].Time, DosDateTimeFromUnix(when));
}

TEST_F(SearchFolders, UpdateListFalseReportsTotalsButKeepsNoRecords) {
  tree.File("a.mdf", "12345");
  tree.File("b.mdf", "678");
  search.FoundFiles.push_back({"stale", "/", 0, 0, 0});
  search.UpdateList = false;
  search.Scan();
  EXPECT_TRUE(search.FoundFiles.empty());
  EXPECT_EQ(changed, (std::vector<Changed>{{2, 8}}));
}

TEST_F(SearchFolders, FolderThatCannotBeListedReportsNothingFound) {
  for (const std::string& start : {tree.Path("missing"), tree.File("plain.mdf"), std::string()}) {
    processed.clear();
    changed.clear();
    search.ScanDir = start;
    search.Scan();
    EXPECT_EQ(processed, (std::vector<Process>{{start, 0, 0}})) << start;
    EXPECT_EQ(changed, (std::vector<Changed>{{0, 0}})) << start;
    EXPECT_TRUE(search.FoundFiles.empty());
  }
}

TEST_F(SearchFolders, EmptyFileMaskMatchesNothingButVisitsEveryFolder) {
  tree.File("a.mdf");
  tree.File("s/t/b.mdf");
  search.FileMask = " , ";
  search.DoRecursive = true;
  search.Scan();
  EXPECT_EQ(processed.size(), 3u);
  EXPECT_EQ(changed, (std::vector<Changed>{{0, 0}}));
}

TEST_F(SearchFolders, InvalidMaskLeavesBeforeAnyFolderIsEntered) {
  search.FoundFiles.push_back({"stale", "/", 0, 0, 0});
  search.FileMask = "*.mdf, [abc";
  try {
    search.Scan();
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "'[abc' is an invalid mask at (5)");
  }
  EXPECT_TRUE(search.FoundFiles.empty());
  EXPECT_TRUE(processed.empty());
  EXPECT_TRUE(changed.empty());
}

TEST_F(SearchFolders, CancelFromOnProcessEndsTheScanWithTheTotalsSoFar) {
  MakeMixedTree();
  search.DoRecursive = true;
  search.Scan();
  const std::vector<Record> all = Records(search);
  const std::string target = tree.Root() + "/sub1";
  const auto at = std::find_if(processed.begin(), processed.end(),
                               [&](const Process& p) { return p.dir == target; });
  ASSERT_NE(at, processed.end());
  const Process before = *at;

  processed.clear();
  changed.clear();
  std::atomic<bool> cancel{false};
  onProcess = [&](const std::string& dir) {
    if (dir == target) cancel = true;
  };
  search.Scan(cancel);
  EXPECT_EQ(processed.back().dir, target);  // nothing entered after it
  EXPECT_EQ(Records(search), std::vector<Record>(all.begin(), all.begin() + before.count));
  EXPECT_EQ(changed, (std::vector<Changed>{{before.count, before.size}}));

  // The next scan starts afresh.
  onProcess = nullptr;
  search.Scan();
  EXPECT_EQ(Records(search), all);
}

TEST_F(SearchFolders, CancelTokenStopsTheListingAtItsNextEntry) {
  // A folder of many matches: a token set when the scan enters it (as a
  // signal handler would, at any time) ends the scan before its first entry.
  for (int i = 0; i < 2000; ++i) tree.File("flat/f" + std::to_string(i) + ".mdf");
  tree.File("flat/sub/deeper.mdf");
  std::atomic<bool> cancel{false};
  search.DoRecursive = true;
  search.ScanDir = tree.Path("flat");
  onProcess = [&](const std::string&) { cancel = true; };
  search.Scan(cancel);
  EXPECT_TRUE(search.FoundFiles.empty());
  EXPECT_EQ(processed.size(), 1u);  // the sub-folder is never entered
  EXPECT_EQ(changed, (std::vector<Changed>{{0, 0}}));

  cancel = false;
  onProcess = nullptr;
  search.Scan(cancel);
  EXPECT_EQ(search.FoundFiles.size(), 2001u);
}

TEST_F(SearchFolders, MessagesRunAfterEveryEntryAndMayStopTheScan) {
  MakeMixedTree();
  search.DoRecursive = true;
  search.Scan();
  EXPECT_EQ(ui.processed, 0);

  long entries = 0;
  for (const Process& p : processed) entries += static_cast<long>(ReaddirOrder(p.dir).size());
  search.Messages = true;
  search.Scan();
  EXPECT_EQ(ui.processed, entries);

  // Code that runs while messages are processed may stop the scan.
  search.DoRecursive = false;
  changed.clear();
  ui.processed = 0;
  std::atomic<bool> cancel{false};
  ui.onProcessMessages = [&] {
    if (ui.processed == 3) cancel = true;
  };
  search.Scan(cancel);
  EXPECT_EQ(ui.processed, 3);
  EXPECT_EQ(changed.size(), 1u);
}

TEST_F(SearchFolders, HandlerExceptionLeavesScanWithoutOnChangedAndClosesListings) {
  tree.File("a/b/c/d.mdf");
  search.DoRecursive = true;
  const int descriptors = OpenDescriptors();

  onProcess = [&](const std::string& dir) {
    if (dir == tree.Root() + "/a/b/c") throw std::runtime_error("handler");
  };
  EXPECT_THROW(search.Scan(), std::runtime_error);
  EXPECT_TRUE(changed.empty());
  EXPECT_EQ(OpenDescriptors(), descriptors);

  onProcess = nullptr;
  search.Messages = true;
  ui.onProcessMessages = [&] {
    if (ui.processed == 4) throw Exception("from a message");
  };
  EXPECT_THROW(search.Scan(), Exception);
  EXPECT_TRUE(changed.empty());
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST_F(SearchFolders, SymbolicLinksToDirectoriesAreMatchedButNeverFollowed) {
  tree.File("real/file.mdf", "f");
  tree.Link("real/loop", tree.Root());          // back to the top: a cycle
  tree.Link("linked.mdf", tree.Path("real"));   // a matching link to a directory
  tree.Link("gone.mdf", tree.Path("nowhere"));  // dangling
  tree.Link("file-link.mdf", tree.Path("real/file.mdf"));
  search.FileMask = "*";
  search.DoRecursive = true;
  search.Scan();

  EXPECT_EQ(processed.size(), 2u);  // the root and real/ only
  std::map<std::string, TFilePack> byPath;
  for (const TFilePack& pack : search.FoundFiles) byPath[pack.Dir + pack.FileName] = pack;
  EXPECT_EQ(byPath.size(), 6u);
  ASSERT_EQ(byPath.count(tree.Path("real/loop")), 1u);
  EXPECT_EQ(byPath[tree.Path("real/loop")].Attr, faDirectory);
  EXPECT_EQ(byPath[tree.Path("linked.mdf")].Attr, faDirectory);
  EXPECT_EQ(byPath[tree.Path("gone.mdf")].Attr, faArchive);
  EXPECT_EQ(byPath[tree.Path("gone.mdf")].Size, static_cast<int32_t>(tree.Path("nowhere").size()));
  EXPECT_EQ(byPath[tree.Path("file-link.mdf")].Size, 1);
  EXPECT_EQ(byPath.count(tree.Path("real/file.mdf")), 1u);
}

// Sizes of 4 GiB and more count by their low 32 bits, and the total wraps.
// The files are sparse: no disk space is used.
TEST_F(SearchFolders, SizeTotalIsThirtyTwoBitsAndWraps) {
  const std::vector<std::pair<std::string, int64_t>> files = {
      {"a.mdf", 0x60000000}, {"b.mdf", 0x60000000}, {"c.mdf", (int64_t{1} << 32) + 7}};
  for (const auto& [name, size] : files)
    ASSERT_EQ(::truncate(tree.File(name).c_str(), size), 0) << "sparse files unsupported";
  search.Scan();
  EXPECT_EQ(changed, (std::vector<Changed>{{3, static_cast<int32_t>(0xC0000007u)}}));
  std::map<std::string, int32_t> sizes;
  for (const TFilePack& pack : search.FoundFiles) sizes[pack.FileName] = pack.Size;
  EXPECT_EQ(sizes, (std::map<std::string, int32_t>{
                       {"a.mdf", 0x60000000}, {"b.mdf", 0x60000000}, {"c.mdf", 7}}));
}

TEST_F(SearchFolders, DiskOptionsScanTheRoot) {
  search.DoRecursive = false;
  search.FileMask = "*";
  for (const TScanOptions option : {TScanOptions::soAllDisks, TScanOptions::soSpecifiedDisk}) {
    processed.clear();
    search.ScanOptions = option;
    search.ScanDir = tree.Root();
    search.Scan();
    EXPECT_EQ(processed, (std::vector<Process>{{"/", 0, 0}}));
    ASSERT_FALSE(search.FoundFiles.empty());
    for (const TFilePack& pack : search.FoundFiles) EXPECT_EQ(pack.Dir, "/");
  }
  processed.clear();
  search.ScanOptions = static_cast<TScanOptions>(7);
  search.Scan();
  EXPECT_TRUE(processed.empty());
  EXPECT_EQ(changed.back(), (Changed{0, 0}));
}

TEST(PathJoin, AddsOneSeparatorUnlessPresent) {
  EXPECT_EQ(PathJoin("/data", "x.mdf"), "/data/x.mdf");
  EXPECT_EQ(PathJoin("/data/", "x.mdf"), "/data/x.mdf");
  EXPECT_EQ(PathJoin("/data", ""), "/data/");
  EXPECT_EQ(PathJoin("/", ""), "/");
  EXPECT_EQ(PathJoin("", "x"), "");
}

}  // namespace

// A large tree with a link loop and a folder that cannot be listed: the scan
// ends, finds every match it can reach, and the unlistable folder only costs
// its own entries.
TEST_F(SearchFolders, LargeHostileTreeEnds) {
  int expected = 0;
  for (int d = 0; d < 250; ++d) {
    const std::string dir = tree.Dir("d" + std::to_string(d));
    for (int f = 0; f < 400; ++f) {
      const bool match = f % 33 == 0;
      const std::string path = dir + "/e" + std::to_string(f) + (match ? ".mdf" : ".dat");
      const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
      ASSERT_GE(fd, 0);
      ::close(fd);
      expected += match;
    }
  }
  tree.Link("d0/loop", tree.Root());
  tree.File("locked/hidden.mdf", "");
  ASSERT_EQ(::chmod(tree.Path("locked").c_str(), 0), 0);
  // The superuser lists any folder: there the locked one is simply found.
  const bool lockedListable = ::access(tree.Path("locked").c_str(), R_OK | X_OK) == 0;
  search.DoRecursive = true;
  search.Scan();
  ASSERT_EQ(changed.size(), 1u);
  EXPECT_EQ(changed[0].count, expected + (lockedListable ? 1 : 0));
  EXPECT_EQ(search.FoundFiles.size(), static_cast<size_t>(changed[0].count));
  // Each folder once: the link is not descended into.
  EXPECT_EQ(processed.size(), 1u + 250u + 1u);
}
