// The run object with a view that records what it hears: the order of a
// run's news, a cancel's clean end, and a plan that writes nothing.
#include "Run.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "TempTree.h"

namespace {

namespace fs = std::filesystem;

const char* Name(TZipOutcome outcome) {
  switch (outcome) {
    case TZipOutcome::Archived:
      return "archived";
    case TZipOutcome::ArchivedChanged:
      return "changed";
    case TZipOutcome::Unchanged:
      return "unchanged";
    case TZipOutcome::NotRegular:
      return "not regular";
    case TZipOutcome::NotRead:
      return "not read";
    case TZipOutcome::NotReplaced:
      return "not replaced";
    case TZipOutcome::Failed:
      break;
  }
  return "failed";
}

struct RecordingView : TRunView {
  std::vector<std::string> events;
  std::function<void(const TRunDatabase&)> onZipping;
  std::function<void(int)> onPercent;
  int percents = 0;

  void Searching(const std::string& dir, int32_t count) override {
    events.push_back("searching " + dir + " " + std::to_string(count));
  }
  void SearchEnded(int32_t count) override { events.push_back("found " + std::to_string(count)); }
  void Zipping(int slot, const TRunDatabase& db) override {
    events.push_back("zipping " + db.source + " into " + db.archivePath + " at " +
                     std::to_string(slot));
    if (onZipping) onZipping(db);
  }
  void Percent(int, int percent) override {
    ++percents;
    if (onPercent) onPercent(percent);
  }
  void Zipped(int, const TRunDatabase& db) override {
    events.push_back("zipped " + db.source + ": " + Name(db.result.outcome));
  }
  void Ended(const TRun& run, TRunEnd end) override {
    std::string text = end == TRunEnd::Finished   ? "finished"
                       : end == TRunEnd::Canceled ? "canceled"
                                                  : "failed";
    for (const auto& c : run.Report().Cases()) text += "; " + c.source + ": " + c.reason;
    events.push_back(text);
  }
};

std::string Rows(size_t bytes) {
  std::string s;
  for (size_t i = 0; s.size() < bytes; ++i) s += "row " + std::to_string(i * 7919 % 1000) + "\n";
  s.resize(bytes);
  return s;
}

// The run's news in their order: each folder entered with the count before
// it, the end of the search, each database's start and outcome in turn, and
// the end with the report (the folder that could not be listed first). A
// plan hears of no zipping and writes nothing. Run as an unprivileged user,
// for whom a folder can be closed.
void RunsInOrder(const TempTree& src, const TempTree& out) {
  RecordingView view;
  TRun run(view);
  TRunRequest request;
  request.sourceDir = src.Root();
  request.outputDir = out.Root();
  request.recursive = true;
  request.level = 6;
  const TCancelToken cancel{false};
  ASSERT_EQ(run.Plan(request, cancel), TRunEnd::Finished);
  EXPECT_EQ(view.events.size(), 5u);  // three folders, found, the end
  EXPECT_EQ(view.events.back(),
            "finished; " + src.Path("locked") + ": could not be listed: Permission denied");
  EXPECT_TRUE(fs::is_empty(out.Root()));
  ASSERT_EQ(run.Databases().size(), 2u);
  for (const TRunDatabase& db : run.Databases()) {
    EXPECT_EQ(db.result.reason, db.source == src.Path("a.mdf") ? "" : "not a regular file");
  }

  view.events.clear();
  ASSERT_EQ(run.Execute(request, cancel), TRunEnd::Finished);
  const std::vector<std::string>& e = view.events;
  ASSERT_EQ(e.size(), 9u) << ::testing::PrintToString(e);
  EXPECT_EQ(e[0], "searching " + src.Root() + " 0");
  // The other two folders in their listing's order, each with the count before it.
  std::vector<std::string> folders = {e[1].substr(0, e[1].rfind(' ')),
                                      e[2].substr(0, e[2].rfind(' '))};
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders, (std::vector<std::string>{"searching " + src.Path("locked"),
                                               "searching " + src.Path("sub")}));
  EXPECT_EQ(e[3], "found 2");
  // Each database starts and ends before the next starts.
  std::vector<std::string> zips(e.begin() + 4, e.begin() + 8);
  if (zips[0].find("pipe") != std::string::npos)
    std::rotate(zips.begin(), zips.begin() + 2, zips.end());
  EXPECT_EQ(zips,
            (std::vector<std::string>{
                "zipping " + src.Path("a.mdf") + " into " + out.Path("a.zip") + " at 0",
                "zipped " + src.Path("a.mdf") + ": archived",
                "zipping " + src.Path("sub/pipe.mdf") + " into " + out.Path("pipe.zip") + " at 0",
                "zipped " + src.Path("sub/pipe.mdf") + ": not regular"}));
  EXPECT_EQ(e[8], "finished; " + src.Path("locked") + ": could not be listed: Permission denied; " +
                      src.Path("sub/pipe.mdf") + ": not a regular file");
  EXPECT_GT(view.percents, 0);
  ASSERT_EQ(run.Survivors().size(), 1u);
  EXPECT_EQ(run.Survivors()[0]->source, src.Path("a.mdf"));
}

TEST(RunTest, AViewHearsTheRunInItsOrder) {
  TempTree src, out;
  src.File("a.mdf", Rows(70000));
  src.File("locked/hidden.mdf", "x");
  src.Dir("sub");
  ASSERT_EQ(::mkfifo(src.Path("sub/pipe.mdf").c_str(), 0644), 0);
  ::chmod(src.Path("locked").c_str(), 0);
  ::chmod(src.Root().c_str(), 0755);
  ::chmod(out.Root().c_str(), 0777);
  if (::geteuid() != 0) {
    RunsInOrder(src, out);
    return;
  }
  // Root lists every folder: the run goes as nobody, in a child.
  EXPECT_EXIT(
      {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0) {
          std::cerr << "could not become nobody";
          std::_Exit(2);
        }
        RunsInOrder(src, out);
        std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

// A cancel met while a database is written ends the run there: the archive
// being written is removed, the one before it kept, what was archived
// before stays reported, and nothing after it is begun.
TEST(RunTest, ACancelEndsTheRunAndKeepsWhatWasInPlace) {
  TempTree src, out;
  src.File("a/first.mdf", Rows(1000));
  src.File("b/second.mdf", Rows(6 << 20));
  src.File("c/third.mdf", Rows(1000));
  const std::string older = out.File("second.zip", "PK\x03\x04 last week's");
  RecordingView view;
  TRun run(view);
  TCancelToken cancel{false};
  bool second = false;
  view.onZipping = [&](const TRunDatabase& db) {
    second = db.source.find("second") != std::string::npos;
  };
  view.onPercent = [&](int percent) {
    if (second && percent > 0) cancel = true;
  };
  TRunRequest request;
  request.sourceDir = src.Root();
  request.outputDir = out.Root();
  request.recursive = true;
  EXPECT_EQ(run.Execute(request, cancel), TRunEnd::Canceled);
  EXPECT_EQ(ReadAll(older), "PK\x03\x04 last week's");
  EXPECT_EQ(view.events.back(), "canceled");
  EXPECT_EQ(std::count(view.events.begin(), view.events.end(),
                       "zipping " + src.Path("b/second.mdf") + " into " + out.Path("second.zip") +
                           " at 0"),
            1);
  std::vector<std::string> left;
  for (const auto& f : fs::directory_iterator(out.Root())) left.push_back(f.path().filename());
  std::sort(left.begin(), left.end());
  // The first is in place only when it was found before the second.
  const bool firstDone = std::count(view.events.begin(), view.events.end(),
                                    "zipped " + src.Path("a/first.mdf") + ": archived") == 1;
  const std::vector<std::string> expected =
      firstDone ? std::vector<std::string>{"first.zip", "second.zip"}
                : std::vector<std::string>{"second.zip"};
  EXPECT_EQ(left, expected);
  EXPECT_EQ(run.Survivors().size(), firstDone ? 1u : 0u);
  for (const std::string& event : view.events)
    EXPECT_EQ(event.find("third.mdf: "), std::string::npos) << event;
}

}  // namespace
