// The directory listing: order, entry descriptions, links and failures.
#include "DirList.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "Files.h"
#include "TempTree.h"

namespace {

std::vector<std::string> Names(TDirList& list) {
  std::vector<std::string> names;
  while (list.Next()) names.emplace_back(list.Name());
  return names;
}

struct Described {
  TDirEntryInfo info;
  bool directory;
  bool linkToDirectory;
};

std::map<std::string, Described> DescribeAll(const std::string& path) {
  std::map<std::string, Described> out;
  TDirList list(path);
  while (list.Next()) {
    // Ask in the order a walk does: the kind first, the description later.
    const bool directory = list.IsDirectory();
    const bool link = list.IsLinkToDirectory();
    out[std::string(list.Name())] = {list.Describe(), directory, link};
  }
  return out;
}

TEST(DirList, GivesEveryEntryInTheSystemsOrder) {
  TempTree tree;
  for (int i = 0; i < 40; ++i) tree.File("n" + std::to_string(i));
  tree.Dir("sub");

  std::vector<std::string> expected;
  DIR* dir = ::opendir(tree.Root().c_str());
  ASSERT_NE(dir, nullptr);
  while (const dirent* entry = ::readdir(dir)) expected.emplace_back(entry->d_name);
  ::closedir(dir);

  TDirList list(tree.Root());
  EXPECT_TRUE(list.IsOpen());
  EXPECT_EQ(Names(list), expected);
  EXPECT_EQ(expected.size(), 43u);  // "." and ".." come through
  EXPECT_FALSE(list.Next());        // and it stays at the end
}

TEST(DirList, DescribesEntriesByTheirStatus) {
  TempTree tree;
  const std::string plain = tree.File("plain.txt", "12345");
  const std::string locked = tree.File("locked", "x");
  ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
  tree.File(".hidden", "");
  tree.Dir("folder");
  tree.File(".hidden-folder/x");
  const std::string big = tree.File("big");
  ASSERT_EQ(::truncate(big.c_str(), int64_t{5} << 30), 0);  // sparse
  const std::time_t when = 1'234'567'890;
  ASSERT_TRUE(TempTree::SetModified(plain, when));

  auto all = DescribeAll(tree.Root());
  EXPECT_EQ(all["plain.txt"].info.Attr, faArchive);
  EXPECT_EQ(all["plain.txt"].info.Size, 5);
  EXPECT_EQ(all["plain.txt"].info.Time, DosDateTimeFromUnix(when));
  EXPECT_EQ(all["locked"].info.Attr, faArchive | faReadOnly);
  EXPECT_EQ(all[".hidden"].info.Attr, faArchive | faHidden);
  EXPECT_EQ(all["folder"].info.Attr, faDirectory);
  EXPECT_EQ(all["folder"].info.Size, 0);
  EXPECT_TRUE(all["folder"].directory);
  EXPECT_FALSE(all["folder"].linkToDirectory);
  EXPECT_EQ(all[".hidden-folder"].info.Attr, faDirectory | faHidden);
  EXPECT_EQ(all["big"].info.Size, int64_t{5} << 30);
  EXPECT_FALSE(all["big"].directory);
}

TEST(DirList, FollowsLinksToDescribeButFlagsLinksToDirectories) {
  TempTree tree;
  tree.File("target/file", "abc");
  tree.Link("to-dir", tree.Path("target"));
  tree.Link("to-file", tree.Path("target/file"));
  const std::string dangling = tree.Path("no-such-thing");
  tree.Link("dangling", dangling);

  auto all = DescribeAll(tree.Root());
  EXPECT_TRUE(all["to-dir"].directory);
  EXPECT_TRUE(all["to-dir"].linkToDirectory);
  EXPECT_EQ(all["to-dir"].info.Attr, faDirectory);
  EXPECT_FALSE(all["to-file"].directory);
  EXPECT_FALSE(all["to-file"].linkToDirectory);
  EXPECT_EQ(all["to-file"].info.Size, 3);
  // A dangling link is described as the link itself.
  EXPECT_FALSE(all["dangling"].directory);
  EXPECT_EQ(all["dangling"].info.Attr, faArchive);
  EXPECT_EQ(all["dangling"].info.Size, static_cast<int64_t>(dangling.size()));
  EXPECT_NE(all["dangling"].info.Time, 0xFFFFFFFFu);
}

TEST(DirList, SubListingNeverFollowsALink) {
  TempTree tree;
  tree.File("real/inside");
  tree.Link("link", tree.Path("real"));
  TDirList parent(tree.Root());
  std::map<std::string, std::vector<std::string>> children;
  while (parent.Next()) {
    const std::string name(parent.Name());
    if (name == "real" || name == "link") {
      TDirList child(parent, name);
      children[name] = Names(child);
    }
  }
  EXPECT_EQ(children["real"].size(), 3u);  // ".", ".." and inside
  EXPECT_TRUE(children["link"].empty());
}

TEST(DirList, WhatCannotBeListedListsNothing) {
  TempTree tree;
  const std::string file = tree.File("file");
  for (const std::string& path : {tree.Path("missing"), file, std::string()}) {
    TDirList list(path);
    EXPECT_FALSE(list.IsOpen()) << path;
    EXPECT_FALSE(list.Next()) << path;
    TDirList child(list, "anything");
    EXPECT_FALSE(child.Next());
  }
}

}  // namespace
