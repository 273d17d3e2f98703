#include "BrowseRules.h"

#include <gtest/gtest.h>

namespace {
using enum TBrowseDlgOption;

// --- Option flags ---

TEST(BrowseFlagsTest, MapsEachOptionToItsShellFlags) {
  EXPECT_EQ(BrowseFlags(kDefaultBrowseDlgOptions), BIF_RETURNONLYFSDIRS);
  EXPECT_EQ(BrowseFlags({}), 0u);
  EXPECT_EQ(BrowseFlags({doAllowEdit}), 0x30u);
  EXPECT_EQ(BrowseFlags({doShowPath, doEnableOK}), 0u);
  EXPECT_EQ(BrowseFlags({doStatusText, doShowFiles}), 0x4004u);
  EXPECT_EQ(BrowseFlags({doBrowseForComputer, doBrowseForPrinter, doDontGoBelowDomain,
                         doReturnFileSysAncestors, doReturnFileSysDirs, doStatusText, doShowFiles,
                         doAllowEdit, doShowPath, doEnableOK}),
            0x703Fu);
}

// --- Placement ---

struct PlaceCase {
  const char* what;
  TDlgRect reference;
  TDlgSize dialog;
  TDlgSize screen;
  TDlgPoint expected;
};

class PlacementTest : public testing::TestWithParam<PlaceCase> {};

TEST_P(PlacementTest, PlacesTheDialog) {
  const PlaceCase& c = GetParam();
  const TDlgPoint at = CentreDialog(c.reference, c.dialog, c.screen);
  EXPECT_EQ(at.Left, c.expected.Left) << c.what;
  EXPECT_EQ(at.Top, c.expected.Top) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlacementTest,
    testing::Values(
        PlaceCase{"centred", {100, 100, 500, 400}, {200, 100}, {1024, 768}, {200, 200}},
        PlaceCase{"odd difference", {0, 0, 101, 51}, {50, 20}, {1024, 768}, {25, 15}},
        // (101 - 202) / 2 is -50 and (101 - 102) / 2 is 0, not -51 and -1.
        PlaceCase{
            "larger than the reference", {100, 100, 201, 201}, {202, 102}, {1024, 768}, {50, 100}},
        PlaceCase{"below the screen: bottom-aligned",
                  {0, 600, 400, 760},
                  {200, 300},
                  {1024, 768},
                  {100, 460}},
        PlaceCase{"bottom on the screen's edge stays",
                  {0, 568, 400, 768},
                  {200, 200},
                  {1024, 768},
                  {100, 568}},
        PlaceCase{"beyond the right edge: right-aligned",
                  {900, 100, 1100, 300},
                  {300, 100},
                  {1024, 768},
                  {800, 150}},
        PlaceCase{"right edge on the screen's edge stays",
                  {824, 0, 1024, 100},
                  {200, 100},
                  {1024, 768},
                  {824, 0}},
        PlaceCase{"both corrections", {800, 600, 1000, 760}, {300, 300}, {1024, 768}, {700, 460}},
        PlaceCase{
            "negative coordinates become 0", {-50, -40, 50, 60}, {300, 300}, {1024, 768}, {0, 0}},
        PlaceCase{"correction above the screen becomes 0",
                  {0, 500, 100, 700},
                  {100, 800},
                  {1024, 768},
                  {0, 0}}));

// --- Status text ---

struct ShortenCase {
  const char* path;
  size_t max;
  TPathStyle style;
  const char* expected;
};

class StatusTextTest : public testing::TestWithParam<ShortenCase> {};

TEST_P(StatusTextTest, ShortensThePath) {
  const ShortenCase& c = GetParam();
  EXPECT_EQ(ShortenStatusText(c.path, c.max, c.style), c.expected) << c.path << " to " << c.max;
}

constexpr TPathStyle kPosix{'/', false};
constexpr const char* kWinExample = "C:\\Documents and Settings\\User\\Application Data\\Stuff";
constexpr const char* kPosixExample = "/Documents and Settings/User/Application Data/Stuff";

INSTANTIATE_TEST_SUITE_P(
    Windows, StatusTextTest,
    testing::Values(
        ShortenCase{kWinExample, 40, kWindowsPaths, "C:\\...\\User\\Application Data\\Stuff"},
        ShortenCase{kWinExample, 53, kWindowsPaths, kWinExample},
        ShortenCase{kWinExample, 30, kWindowsPaths, "C:\\...\\Application Data\\Stuff"},
        ShortenCase{kWinExample, 20, kWindowsPaths, "C:\\...\\Stuff"},
        // "\...\" left: the drive goes with it.
        ShortenCase{kWinExample, 10, kWindowsPaths, "...\\Stuff"},
        ShortenCase{kWinExample, 3, kWindowsPaths, "Stuff"},
        ShortenCase{"C:\\", 1, kWindowsPaths, ""}, ShortenCase{"C:name", 2, kWindowsPaths, "name"},
        ShortenCase{"\\\\server\\share\\dir\\file", 15, kWindowsPaths, "\\...\\dir\\file"},
        ShortenCase{"dir\\sub\\file", 10, kWindowsPaths, "...\\file"}));

INSTANTIATE_TEST_SUITE_P(
    Posix, StatusTextTest,
    testing::Values(ShortenCase{kPosixExample, 40, kPosix, "/.../User/Application Data/Stuff"},
                    ShortenCase{"/home/ann/data/sales", 10, kPosix, "/.../sales"},
                    ShortenCase{"/home/ann/data/sales", 9, kPosix, ".../sales"},
                    ShortenCase{"/home/ann/data/sales", 2, kPosix, "sales"},
                    ShortenCase{"/", 0, kPosix, ""}, ShortenCase{"/name", 2, kPosix, "name"},
                    // Nothing to cut: the text stays longer than asked.
                    ShortenCase{"averyveryverylongname", 5, kPosix, "averyveryverylongname"},
                    // The colon is an ordinary character here.
                    ShortenCase{"C:/dir/name", 8, kPosix, ".../name"},
                    // Hidden directories are cut whole, however short their names.
                    ShortenCase{"/.ab/name", 8, kPosix, ".../name"},
                    ShortenCase{"/.ab/name", 5, kPosix, "name"},
                    // Characters, not bytes: this one already fits.
                    ShortenCase{"/donn\xC3\xA9\x65s/\xC3\xA9t\xC3\xA9/x", 14, kPosix,
                                "/donn\xC3\xA9\x65s/\xC3\xA9t\xC3\xA9/x"}));

TEST(StatusTextTest, UsesThePlatformSeparatorByDefault) {
  const std::string path = std::string(1, PathDelim) + "aaaaaaaaaa" + PathDelim + "bbbbbbbbbb" +
                           PathDelim + "cccccccccc" + PathDelim + "dddddddddd" + PathDelim + "eeee";
  EXPECT_EQ(ShortenStatusText(path, 40), ShortenStatusText(path, 40, {PathDelim, false}));
  EXPECT_EQ(ShortenStatusText(path, 40).substr(0, 5),
            std::string(1, PathDelim) + "..." + PathDelim);
}

}  // namespace
