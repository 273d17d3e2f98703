#include "ArchiveName.h"

#include <gtest/gtest.h>

#include "Files.h"

namespace {

struct NameCase {
  const char* file;
  TagRemoval tags;
  const char* archive;
};

class ArchiveNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(ArchiveNameTest, DerivesTheArchiveName) {
  const NameCase& c = GetParam();
  EXPECT_EQ(ArchiveName(c.file, c.tags), c.archive) << c.file;
}

INSTANTIATE_TEST_SUITE_P(
    Names, ArchiveNameTest,
    testing::Values(NameCase{"QRN_Sales_dat.mdf", TagRemoval::Remove, "sales.zip"},
                    NameCase{"QRN_Sales_dat.mdf", TagRemoval::Keep, "qrn_sales_dat.zip"},
                    NameCase{"qrn_Office_DAT.MDF", TagRemoval::Remove, "office.zip"},
                    // Only the first occurrence of each tag goes, wherever it stands.
                    NameCase{"a_data_dat.mdf", TagRemoval::Remove, "aa_dat.zip"},
                    NameCase{"QRN_x_dat.gdb", TagRemoval::Keep, "qrn_x_dat.zip"},
                    NameCase{"Office.GDB", TagRemoval::Keep, "office.zip"},
                    // The first occurrence of the extension is the one replaced.
                    NameCase{"db.mdf.mdf", TagRemoval::Keep, "db.zip.mdf"},
                    NameCase{"noext", TagRemoval::Keep, "noext"},
                    NameCase{"a.", TagRemoval::Keep, "a.zip"},
                    NameCase{".mdf", TagRemoval::Keep, ".zip"},
                    // Only ASCII letters change case; other bytes stay as they are.
                    NameCase{"\xC3\x89T\xC3\xA9.MDF", TagRemoval::Keep, "\xC3\x89t\xC3\xA9.zip"},
                    // A tag removal that takes the extension's dot leaves nothing to replace.
                    NameCase{"x_dat", TagRemoval::Remove, "x"}));

TEST(ArchivePathTest, JoinsTheOutputDirectoryAsItIs) {
  // Joined with the system's separator (a backslash on Windows) even when
  // the directory already ends in one.
  const std::string sep(1, PathDelim);
  EXPECT_EQ(ArchivePath("/out", "QRN_A_dat.mdf", TagRemoval::Remove), "/out" + sep + "a.zip");
  EXPECT_EQ(ArchivePath(sep, "b.mdf", TagRemoval::Keep), sep + sep + "b.zip");
  EXPECT_EQ(ArchivePath(" ", "b.mdf", TagRemoval::Keep), " " + sep + "b.zip");
}

}  // namespace
