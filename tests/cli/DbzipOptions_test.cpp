#include "DbzipOptions.h"

#include <gtest/gtest.h>

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
}

TEST(DbzipOptionsTest, LongShortBundledAndAttachedFormsAgree) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--type", "interbase", "--recursive", "--level", "3", "--jobs", "2", "-q", "s", "o"},
           {"-t", "interbase", "-rq", "-l3", "-j", "2", "s", "o"},
           {"--type=interbase", "-rql", "3", "--jobs=2", "s", "o"},
           {"s", "-t", "interbase", "o", "-r", "-l", "3", "-j2", "--quiet"}}) {
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
}

TEST(DbzipOptionsTest, UsageErrors) {
  for (const auto& args : std::vector<std::vector<std::string>>{{},
                                                                {"only-one"},
                                                                {"a", "b", "c"},
                                                                {"-l", "0", "a", "b"},
                                                                {"-l", "10", "a", "b"},
                                                                {"--level=x", "a", "b"},
                                                                {"-j", "0", "a", "b"},
                                                                {"-t", "oracle", "a", "b"},
                                                                {"--bogus", "a", "b"},
                                                                {"-x", "a", "b"},
                                                                {"--recursive=yes", "a", "b"},
                                                                {"a", "b", "--level"}}) {
    const DbzipCommand c = Parse(args);
    EXPECT_EQ(c.kind, DbzipCommand::Kind::UsageError) << testing::PrintToString(args);
    EXPECT_FALSE(c.error.empty());
  }
}

}  // namespace
