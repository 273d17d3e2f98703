// The writer's file list: pattern entries searched in directories, the
// exclude and no-compress lists, RootDir for bare names, and the directory
// part of stored names.
#include "Errors.h"
#include "Files.h"
#include "PatternSearch.h"
#include "Text.h"
#include "WriterFixture.h"

namespace {

using namespace writer_test;

class WriterFileList : public WriterTest {
 protected:
  // Pattern entries find files through the folder search, as in the window
  // program.
  void SetUp() override {
    SetPatternSearch(SearchPatternFiles);
    data = tree.Dir("data") + "/";
    tree.File("data/a.mdf", TextBytes(2000));
    tree.File("data/b.MDF", TextBytes(1000));
    tree.File("data/c.txt", "text");
    tree.File("data/sub/d.mdf", TextBytes(500));
    tree.File("data/sub/deep/e.mdf", TextBytes(300));
    // A link back up the tree is listed but never entered.
    tree.Link("data/sub/loop", data);
    archive = tree.Path("list.zip");
  }
  void TearDown() override { SetPatternSearch({}); }

  std::vector<std::string> ZipNames(const std::vector<std::string>& files) {
    DeleteFile(archive);
    writer.FilesList = files;
    writer.SetZipName(archive);
    writer.Zip();
    const ac::Report r = ac::CheckArchive(archive);
    EXPECT_TRUE(r.ok) << r.log;
    std::vector<std::string> names;
    for (const auto& e : r.entries) names.push_back(e.name);
    EXPECT_EQ(r.bsdtarNames, names);
    EXPECT_EQ(r.sevenZipNames, names);
    return names;
  }

  // The names as stored, byte for byte, in the order of the archive.
  std::vector<std::string> RawNames() {
    const ac::Report r = ac::CheckArchive(archive, ac::kZipfile);
    EXPECT_TRUE(r.ok) << r.log;
    std::vector<std::string> names;
    for (const auto& e : r.entries) names.push_back(e.rawName);
    return names;
  }

  std::string data, archive;
};

using Names = std::vector<std::string>;

TEST_F(WriterFileList, PatternsSearchTheirDirectoryAndRecurseAsAsked) {
  struct Case {
    bool recurse;
    std::string prefix;
    Names names;
  };
  const Names flat{"a.mdf", "b.MDF"};
  const Names deep{"a.mdf", "b.MDF", "d.mdf", "e.mdf"};
  for (const Case& k : {Case{false, "", flat}, Case{true, "", deep}, Case{false, ">", deep},
                        Case{true, "|", flat}}) {
    SCOPED_TRACE(k.prefix + (k.recurse ? " recurse" : ""));
    writer.Recurse = k.recurse;
    percents.clear();
    EXPECT_EQ(ZipNames({k.prefix + data + "*.mdf"}), k.names);
    EXPECT_EQ(percents.back(), 100);
  }
  EXPECT_EQ(writer.TotalBytes(), 3000);
}

TEST_F(WriterFileList, PatternsYieldFilesBeforeSubDirectoriesInNameOrder) {
  const std::string top = tree.Dir("order") + "/";
  for (const char* name : {"z.mdf", "a,b.mdf", "m.mdf", "sub/d.mdf", "sub/deep/e.mdf",
                           "sub-x/f.mdf", "dir.mdf/g.mdf", "sub/skip.txt"}) {
    tree.File(std::string("order/") + name, name);
  }
  writer.Recurse = true;
  // A directory whose name matches is searched, never added.
  EXPECT_EQ(ZipNames({top + "*.mdf"}),
            (Names{"a,b.mdf", "m.mdf", "z.mdf", "g.mdf", "d.mdf", "e.mdf", "f.mdf"}));
  // A comma and spaces belong to the name; they separate nothing here.
  EXPECT_EQ(ZipNames({top + "a,b.*"}), Names{"a,b.mdf"});
  EXPECT_EQ(ZipNames({top + "*, *"}), Names{});

  // Sizes beyond 32 bits count whole in the total (the run stops before
  // reading anything).
  const std::string big = tree.Path("order/sub/big.mdf");
  tree.File("order/sub/big.mdf", "");
  ASSERT_EQ(::truncate(big.c_str(), (int64_t{5} << 30) + 3), 0);
  int64_t announced = -1;
  writer.OnStartZipInfo = [&](TObject*, int, int64_t total, TEndCentral&, bool& stop) {
    announced = total;
    stop = true;
  };
  DeleteFile(archive);
  writer.FilesList = {top + "sub/*.mdf"};
  writer.Recurse = false;
  EXPECT_THROW(writer.Zip(), EUserCanceled);
  EXPECT_EQ(announced, (int64_t{5} << 30) + 3 + 9);  // big.mdf and d.mdf
  EXPECT_FALSE(FileExists(archive));
}

TEST_F(WriterFileList, ExcludeAndNoCompressListsMatchNamesOrWholePaths) {
  writer.Recurse = true;
  writer.ExcludeList = {"*.TXT", "*/sub/deep/*"};
  writer.NoCompressList = {"b.*", "*/a.mdf"};  // a pattern with a directory never matches here
  writer.PackLevel = 6;
  EXPECT_EQ(ZipNames({data + "*", data + "c.txt"}), (Names{"a.mdf", "b.MDF", "d.mdf"}));
  const ac::Report r = ac::CheckArchive(archive, ac::kZipfile);
  ASSERT_EQ(r.entries.size(), 3u);
  EXPECT_EQ(r.entries[0].Num("method"), 8u);
  EXPECT_EQ(r.entries[1].Num("method"), 0u);
  EXPECT_EQ(r.entries[1].Num("internal"), 0u);
  EXPECT_EQ(r.entries[2].Num("method"), 8u);
}

TEST_F(WriterFileList, BareNamesAndPatternsWithoutDirectoryUseRootDir) {
  writer.SetRootDir(tree.Path("data"));
  EXPECT_EQ(ZipNames({"c.txt", "*.mdf", "a.mdf"}), (Names{"c.txt", "a.mdf", "b.MDF"}));
  EXPECT_EQ(skips.size(), 1u);  // the second a.mdf
}

TEST_F(WriterFileList, ArchiveItselfIsNeverAddedByAPattern) {
  archive = data + "self.zip";
  EXPECT_EQ(ZipNames({data + "*.mdf"}), (Names{"a.mdf", "b.MDF"}));
  // Now the archive exists and is updated; the search finds it but skips it.
  writer.FilesList = {data + "*"};
  writer.Zip();
  const ac::Report r = ac::CheckArchive(archive, ac::kZipfile);
  Names names;
  for (const auto& e : r.entries) names.push_back(e.name);
  EXPECT_EQ(names, (Names{"a.mdf", "b.MDF", "c.txt"}));
}

TEST_F(WriterFileList, StoredDirectoriesAreRelativeToRootDirOrLoseTheirRoot) {
  writer.SetRootDir(data);
  writer.SetRelativePaths(true);
  EXPECT_EQ(ZipNames({"*.mdf"}), (Names{"a.mdf", "b.MDF", "sub/d.mdf", "sub/deep/e.mdf"}));
  // RootDir is taken off without regard to case; a path outside it keeps
  // its whole directory.
  writer.SetRootDir(UpperCaseAscii(data));
  const std::string other = tree.File("other/f.mdf", "f");
  DeleteFile(archive);
  writer.FilesList = {data + "sub/d.mdf", other};
  writer.SetZipName(archive);
  ASSERT_EQ(writer.Zip(), 2);
  EXPECT_EQ(RawNames(), (Names{"sub/d.mdf", other}));

  writer.SetRelativePaths(false);
  const std::string rootless = data.substr(1);
  EXPECT_EQ(ZipNames({data + "a.mdf", data + "sub/d.mdf"}),
            (Names{rootless + "a.mdf", rootless + "sub/d.mdf"}));
  EXPECT_TRUE(writer.StorePaths());

  // StoreVolumes keeps the drive and the root: POSIX has no drive, so the
  // stored name is the whole path.
  writer.SetStoreVolumes(true);
  DeleteFile(archive);
  writer.FilesList = {data + "a.mdf"};
  ASSERT_EQ(writer.Zip(), 1);
  EXPECT_EQ(RawNames(), Names{data + "a.mdf"});
}

TEST_F(WriterFileList, PatternWithoutAnyDirectoryFindsNothing) {
  // No RootDir and no directory in the pattern: the current directory, full
  // of matching files, is not searched.
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(data);
  const Names names = ZipNames({"*.mdf"});
  std::filesystem::current_path(saved);
  EXPECT_EQ(names, Names{});
  EXPECT_EQ(writer.TotalBytes(), 0);
}

TEST_F(WriterFileList, WithoutAnInstalledSearchPatternsFindNothing) {
  SetPatternSearch({});
  writer.Recurse = true;
  EXPECT_EQ(ZipNames({data + "*.mdf", data + "c.txt", data + "[abc*"}), Names{"c.txt"});
  EXPECT_EQ(writer.TotalBytes(), 4);
  EXPECT_EQ(completions, std::vector<int>{1});
}

TEST_F(WriterFileList, MissingFilesAreReportedAndBadPatternsRaise) {
  std::vector<std::string> missing;
  writer.OnNoSuchFile = [&](TObject*, const std::string& name) { missing.push_back(name); };
  EXPECT_EQ(ZipNames({data + "none.mdf", data + "a.mdf", data + "none*.mdf"}), Names{"a.mdf"});
  EXPECT_EQ(missing, Names{data + "none.mdf"});

  DeleteFile(archive);
  writer.FilesList = {data + "[abc*"};
  try {
    writer.Zip();
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "'[abc*' is an invalid mask at (6)");
  }
  EXPECT_FALSE(FileExists(archive));
}

}  // namespace
