#include "DbzipOptions.h"

#include <gtest/gtest.h>

#include "PrintedName.h"

namespace {

DbzipCommand Parse(std::vector<std::string> args) {
  return ParseDbzipArguments(args);
}

TEST(DbzipOptionsTest, DefaultsAreTheWindowsInitialState) {
  const DbzipCommand c = Parse({"src", "out"});
  ASSERT_EQ(c.kind, DbzipCommand::Kind::Run);
  EXPECT_EQ(c.options.FileMask(), "*.mdf");
  EXPECT_TRUE(c.options.RemoveTags());
  EXPECT_EQ(c.options.level, 9);
  EXPECT_FALSE(c.options.recursive);
  EXPECT_EQ(c.options.jobs, 1);
  EXPECT_EQ(c.options.sourceDir, "src");
  EXPECT_EQ(c.options.outputDir, "out");
  // Read from a clone where the file system makes one, unless told not to.
  EXPECT_TRUE(c.options.clone);
  EXPECT_FALSE(Parse({"--no-clone", "src", "out"}).options.clone);
}

TEST(DbzipOptionsTest, LongShortBundledAndAttachedFormsAgree) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--type", "interbase", "--recursive", "--level", "3", "--jobs", "2", "-q", "s", "o"},
           {"-t", "interbase", "-rq", "-l3", "-j", "2", "s", "o"},
           {"--type=interbase", "-rql", "3", "--jobs=2", "s", "o"},
           {"s", "-t", "interbase", "o", "-r", "-l", "3", "-j2", "--quiet"},
           // Unambiguous prefixes of the long options.
           {"--ty", "interbase", "--rec", "--lev=3", "--jo", "2", "--qu", "s", "o"},
           // zip's and gzip's habits: -N for the level, the type in any case.
           {"-3", "--type", "InterBase", "-rqj2", "s", "o"},
           {"-rq9", "-t", "INTERBASE", "-3", "-j", "2", "s", "o"}}) {
    const DbzipCommand c = Parse(args);
    ASSERT_EQ(c.kind, DbzipCommand::Kind::Run) << c.error;
    EXPECT_EQ(c.options.type, DatabaseType::Interbase);
    EXPECT_EQ(c.options.FileMask(), "*.gdb");
    EXPECT_FALSE(c.options.RemoveTags());  // never for Interbase
    EXPECT_TRUE(c.options.recursive);
    EXPECT_TRUE(c.options.quiet);
    EXPECT_EQ(c.options.level, 3);
    EXPECT_EQ(c.options.jobs, 2);
    EXPECT_EQ(c.options.sourceDir, "s");
    EXPECT_EQ(c.options.outputDir, "o");
    EXPECT_FALSE(c.options.dryRun);
  }
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-n", "s", "o"}, {"--dry-run", "s", "o"}, {"s", "o", "--dry"}, {"-rn", "s", "o"}}) {
    const DbzipCommand c = Parse(args);
    ASSERT_EQ(c.kind, DbzipCommand::Kind::Run) << c.error;
    EXPECT_TRUE(c.options.dryRun);
    EXPECT_EQ(c.options.sourceDir, "s");
  }
}

TEST(DbzipOptionsTest, MaskAndKeepTags) {
  const DbzipCommand c = Parse({"-k", "--mask", "*.mdf, *.ldf", "s", "o"});
  ASSERT_EQ(c.kind, DbzipCommand::Kind::Run);
  EXPECT_EQ(c.options.FileMask(), "*.mdf, *.ldf");
  EXPECT_FALSE(c.options.RemoveTags());
  // "--" ends the options, so a directory may start with a dash.
  const DbzipCommand d = Parse({"--", "-src", "o"});
  ASSERT_EQ(d.kind, DbzipCommand::Kind::Run);
  EXPECT_EQ(d.options.sourceDir, "-src");
}

TEST(DbzipOptionsTest, HelpAndVersionNeedNoOperands) {
  EXPECT_EQ(Parse({"--help"}).kind, DbzipCommand::Kind::Help);
  EXPECT_EQ(Parse({"-V"}).kind, DbzipCommand::Kind::Version);
  EXPECT_EQ(Parse({"-V", "-h"}).kind, DbzipCommand::Kind::Help);
#ifdef _WIN32
  EXPECT_EQ(Parse({"/?"}).kind, DbzipCommand::Kind::Help);
  EXPECT_EQ(Parse({"-r", "/?"}).kind, DbzipCommand::Kind::Help);
  EXPECT_EQ(Parse({"--", "/?", "o"}).kind, DbzipCommand::Kind::Run);
#endif
}

TEST(DbzipOptionsTest, MonitoringAndSelection) {
  const DbzipCommand c = Parse({"--json", "-x", "*_old.mdf, tmp*", "-j", "0", "s", "o"});
  ASSERT_EQ(c.kind, DbzipCommand::Kind::Run) << c.error;
  EXPECT_TRUE(c.options.json);
  EXPECT_EQ(c.options.exclude, "*_old.mdf, tmp*");
  EXPECT_EQ(c.options.jobs, 0);  // one per processor
  EXPECT_EQ(c.options.FileMask(), "*.mdf");
  const DbzipCommand d = Parse({"--exclude=", "s", "o"});
  ASSERT_EQ(d.kind, DbzipCommand::Kind::Run) << d.error;
  EXPECT_EQ(d.options.exclude, "");
  EXPECT_FALSE(d.options.json);
}

TEST(DbzipOptionsTest, UsageErrorsAreWordedTheSameEverywhere) {
  using Case = std::pair<std::vector<std::string>, std::string>;
  for (const auto& [args, error] : std::vector<Case>{
           {{}, "missing SOURCE_DIR or OUTPUT_DIR"},
           {{"only-one"}, "missing SOURCE_DIR or OUTPUT_DIR"},
           {{"a", "b", "c"}, "too many operands"},
           // -k is --keep-tags: a count after it meant --keep.
           {{"-r", "-k", "2", "a", "b"},
            "too many operands (-k is --keep-tags; to keep earlier archives use --keep N)"},
           {{"a", "b", "-rk", "3"},
            "too many operands (-k is --keep-tags; to keep earlier archives use --keep N)"},
           {{"--keep-t", "10", "a", "b"},
            "too many operands (-k is --keep-tags; to keep earlier archives use --keep N)"},
           {{"-k", "a", "b", "c"}, "too many operands"},
           {{"-k", "--", "2", "a", "b"}, "too many operands"},
           {{"-l", "0", "a", "b"}, "invalid level '0' (1 to 9)"},
           {{"-l", "10", "a", "b"}, "invalid level '10' (1 to 9)"},
           {{"--level=x", "a", "b"}, "invalid level 'x' (1 to 9)"},
           {{"-j", "-1", "a", "b"}, "invalid job count '-1'"},
           {{"-j", "257", "a", "b"}, "invalid job count '257'"},
           {{"--j", "2", "a", "b"}, "option '--j' is ambiguous"},
           {{"-0", "a", "b"}, "invalid option -- '0'"},
           {{"-x", "a", "b"}, "missing SOURCE_DIR or OUTPUT_DIR"},  // -x took "a"
           {{"a", "b", "--exclude"}, "option '--exclude' requires an argument"},
           {{"--json=1", "a", "b"}, "option '--json' doesn't allow an argument"},
           {{"--allow=1", "a", "b"}, "option '--allow' doesn't allow an argument"},
           {{"-t", "msdee", "a", "b"}, "invalid database type 'msdee' (msde or interbase)"},
#ifndef _WIN32
           // Only Windows takes "/?" for the help; here it is a folder's name.
           {{"/?"}, "missing SOURCE_DIR or OUTPUT_DIR"},
#endif
           {{"-t", "oracle", "a", "b"}, "invalid database type 'oracle' (msde or interbase)"},
           {{"--bogus", "a", "b"}, "unrecognized option '--bogus'"},
           {{"--bogus=1", "a", "b"}, "unrecognized option '--bogus'"},
           {{"-y", "a", "b"}, "invalid option -- 'y'"},
           // A bad letter inside a bundle, after a long option.
           {{"--level=3", "-yr", "a", "b"}, "invalid option -- 'y'"},
           {{"--recursive=yes", "a", "b"}, "option '--recursive' doesn't allow an argument"},
           {{"--rec=yes", "a", "b"}, "option '--rec' doesn't allow an argument"},
           {{"a", "b", "--level"}, "option '--level' requires an argument"},
           {{"a", "b", "-rl"}, "option requires an argument -- 'l'"},
           // A list of no mask at all would find nothing and call it success.
           {{"--mask", "", "a", "b"}, "empty mask ''"},
           {{"-m", " , ,", "a", "b"}, "empty mask ' , ,'"}}) {
    const DbzipCommand c = Parse(args);
    EXPECT_EQ(c.kind, DbzipCommand::Kind::UsageError) << testing::PrintToString(args);
    EXPECT_EQ(c.error, error) << testing::PrintToString(args);
  }
  // Each parse starts afresh, whatever the last one left behind.
  EXPECT_EQ(Parse({"-r", "a", "b"}).kind, DbzipCommand::Kind::Run);
}

TEST(DbzipOptionsTest, MaskErrorsPointIntoTheListAsTyped) {
  EXPECT_EQ(MaskListProblem("*.mdf, *.ldf"), "");
  EXPECT_EQ(MaskListProblem("*.mdf,[abc"),
            "invalid mask '*.mdf,[abc' at character 7: a set '[' without its closing ']'");
  // The second item, after spaces and an empty one, is counted from the start.
  EXPECT_EQ(MaskListProblem(" a, ,  a[]"),
            "invalid mask ' a, ,  a[]' at character 10: an empty set");
  EXPECT_EQ(MaskListProblem("x[-a]"),
            "invalid mask 'x[-a]' at character 3: a range '-' with no character before it");
  std::string stars;
  for (int i = 0; i < 31; ++i) stars += "a*";
  EXPECT_EQ(
      MaskListProblem("*.gdb," + stars),
      "invalid mask '*.gdb," + stars + "' at character 68: more than 30 '*' groups in one mask");
  // Masks match names within a folder; one with a folder in it finds nothing.
  EXPECT_EQ(MaskListProblem("*.mdf, data/*.mdf"),
            "invalid mask '*.mdf, data/*.mdf' at character 12: a path separator (masks match "
            "file names, not paths)");
  EXPECT_TRUE(Parse({"--allow-empty", "s", "o"}).options.allowEmpty);
}

// A printed name stays on its line and cannot pass for another's: what could
// end, erase or turn a line, a byte that is not UTF-8, a quote and the
// report's separators make it quoted as a shell reads it back, and the
// separators never appear in it whole.
TEST(DbzipOptionsTest, NamesArePrintedQuotedWhenTheyCouldForgeALine) {
  for (const auto& [name, printed] : std::vector<std::pair<std::string, std::string>>{
           {"/srv/db/Sales 2024.mdf", "/srv/db/Sales 2024.mdf"},
           {"caf\xC3\xA9.mdf", "caf\xC3\xA9.mdf"},
           {"a\nb.mdf", "'a'$'\\n''b.mdf'"},
           {"\r\x1b[2Kok.mdf", "$'\\r\\033''[2Kok.mdf'"},
           {"it's", "'it'\\''s'"},
           {"'", "\\'"},
           {"", "''"},
           {"x: 5 bytes -> 1 bytes", "'x:'' 5 bytes -''> 1 bytes'"},
           // Beside a separator, these would read as a shorter name.
           {"a ->", "'a -''>'"},
           {"-> b", "'-> b'"},
           {"\xFF.mdf", "$'\\377''.mdf'"},
           {"\xC0\xAF.mdf", "$'\\300\\257''.mdf'"},  // an overlong '/'
           {"a\xE2\x80\xAE"
            "fdm.zip",
            "'a'$'\\342\\200\\256''fdm.zip'"},  // right-to-left
       }) {
    EXPECT_EQ(QuoteName(name), printed) << name;
  }
  EXPECT_EQ(EscapeControls("could not be read: a\nb"), "could not be read: a\\nb");
}

}  // namespace
