// Entry lists: the order each key gives, duplicate refusal and ownership.
#include "SortedZip.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

int liveRecords = 0;

// A record that counts how many of its kind are alive.
class CountedHeader : public TZipHeaderInfo {
 public:
  CountedHeader() { ++liveRecords; }
  ~CountedHeader() override { --liveRecords; }
};

TZipHeaderInfo* Named(const std::string& dir, const std::string& name, int64_t offset = 0) {
  auto* h = new CountedHeader;
  h->SetDirectory(dir);
  h->SetFileName(name);
  h->RelativeOffset = offset;
  return h;
}

std::vector<std::string> Names(const TSortedZip& list) {
  std::vector<std::string> out;
  for (const auto* h : list) out.push_back(h->Directory() + h->FileName());
  return out;
}

}  // namespace

TEST(SortedZip, ByNameOrdersAndFindsWithoutRegardToAsciiCase) {
  TSortedZip list(TZipSortMode::ByName, TDuplicates::Error, TOwnership::Owning);
  list.Add(Named("", "beta.mdf"));
  list.Add(Named("", "Alpha.mdf"));
  list.Add(Named("a", "z.mdf"));
  list.Add(Named("", "a"));
  EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "a/z.mdf", "Alpha.mdf", "beta.mdf"}));
  ASSERT_NE(list.FindName("ALPHA.MDF"), nullptr);
  EXPECT_EQ(list.FindName("ALPHA.MDF")->FileName(), "Alpha.mdf");
  EXPECT_EQ(list.FindName("A/Z.mdf"), list[1]);
  EXPECT_EQ(list.FindName("a/"), nullptr);
  EXPECT_EQ(list.FindName("gamma.mdf"), nullptr);
}

TEST(SortedZip, DuplicateKeyRaisesAndTheCallerKeepsTheRecord) {
  TSortedZip list(TZipSortMode::ByName);
  list.Add(Named("", "Data.MDF"));
  TZipHeaderInfo* twin = Named("", "data.mdf");
  try {
    list.Add(twin);
    FAIL();
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "Duplicate Object index");
  }
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.IndexOf(*twin), 0);
  delete twin;
}

TEST(SortedZip, ByNoneIsArchiveOrderAndNewListsUseIt) {
  TSortedZip list;
  EXPECT_EQ(list.SortMode(), TZipSortMode::ByNone);
  list.Add(Named("", "c", 500));
  list.Add(Named("", "a", 0));
  auto* later = Named("", "d", 10);
  later->DiskNumberStart = 1;
  list.Add(later);
  list.Add(Named("", "b", 100));
  EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "b", "c", "d"}));
  std::unique_ptr<TZipHeaderInfo> clash(Named("", "z", 100));
  EXPECT_THROW(list.Add(clash.get()), EListError);
}

TEST(SortedZip, OwnershipIsChosenPerList) {
  const int before = liveRecords;
  {
    TSortedZip owning(TZipSortMode::ByNone, TDuplicates::Error, TOwnership::Owning);
    {
      TSortedZip byName(TZipSortMode::ByName, TDuplicates::Error, TOwnership::NotOwning);
      for (int i = 0; i < 3; ++i) {
        auto* h = Named("", "f" + std::to_string(i), i * 10);
        byName.Add(h);
        owning.Add(h);
      }
      byName.Delete(0);
    }
    EXPECT_EQ(liveRecords, before + 3);
    owning.Delete(0);
    EXPECT_EQ(liveRecords, before + 2);
    TZipHeaderInfo* taken = owning.Extract(0);
    EXPECT_EQ(liveRecords, before + 2);
    delete taken;
    TSortedZip moved = std::move(owning);
    EXPECT_EQ(moved.Count(), 1);
  }
  EXPECT_EQ(liveRecords, before);
}

TEST(SortedZip, ResortingKeepsEqualKeysInTheirOrder) {
  TSortedZip list(TZipSortMode::ByNone, TDuplicates::Accept);
  const int64_t sizes[] = {300, 100, 200, 100};
  for (int i = 0; i < 4; ++i) {
    auto* h = Named("", "f" + std::to_string(i), i);
    h->UncompressedSize = sizes[i];
    h->CompressedSize = sizes[i] / (i + 1);
    list.Add(h);
  }
  list.SetSortMode(TZipSortMode::ByUnCompressedSize);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"f1", "f3", "f2", "f0"}));
  list.SetSortMode(TZipSortMode::ByRate);  // 1, 1/2, 1/3, 1/4
  EXPECT_EQ(Names(list), (std::vector<std::string>{"f3", "f2", "f1", "f0"}));
  list.SetSortMode(TZipSortMode::ByNone);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"f0", "f1", "f2", "f3"}));
}
