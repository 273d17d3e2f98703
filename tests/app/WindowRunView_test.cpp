// What every main window makes of a run, through a window that records what
// it is asked to do: Start's steps and the handlers in the design's order,
// messages running during the search and the writing, the end shown, a
// close during the run, and a failure that ends it.
#include "WindowRunView.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "RecorderUi.h"
#include "SFolders.h"
#include "TempTree.h"
#include "ZipWriter.h"

namespace {

// The dialogs and the cursor, in the window's log.
struct LoggingUi : RecorderUi {
  std::vector<std::string>& log;
  explicit LoggingUi(std::vector<std::string>& l) : log(l) {}
  void ShowMessage(DialogKind kind, const std::string& caption, const std::string& text) override {
    log.push_back("message " + text);
    RecorderUi::ShowMessage(kind, caption, text);
  }
  void ShowMessageWithDetails(DialogKind kind, const std::string& caption, const std::string& text,
                              const std::string& details) override {
    log.push_back("message " + text);
    RecorderUi::ShowMessageWithDetails(kind, caption, text, details);
  }
  void SetWaitCursor(bool on) override {
    log.push_back(on ? "hour-glass" : "default cursor");
    RecorderUi::SetWaitCursor(on);
  }
};

class RecordingWindow : public TWindowRunView {
 public:
  std::vector<std::string> log;
  LoggingUi ui{log};
  TWindowChoices choices;
  std::function<void()> onPercent;
  bool closed = false;

  RecordingWindow() { RunSearch().FileMask = "*.mdf"; }
  void Start(const std::string& source, const std::string& output) { StartRun(source, output); }
  using TWindowRunView::CloseQuery;

 private:
  void Log(const std::string& line) {
    if (log.empty() || log.back() != line) log.push_back(line);
  }
  TWindowChoices Choices() const override { return choices; }
  void EnableStartAndClose(bool enabled) override { Log(enabled ? "enabled" : "disabled"); }
  void ShowProgressWindow() override { Log("progress shown"); }
  void CloseProgressWindow() override { Log("progress closed"); }
  void ShowCurrentFile(const std::string& path) override { Log("file " + path); }
  void CloseWindow() override { closed = CloseQuery(); }
  void SearchFoldersProcess(TObject* sender, const std::string& dir, int32_t count,
                            int32_t) override {
    EXPECT_EQ(sender, static_cast<TObject*>(&RunSearch()));
    Log("entered " + dir + " after " + std::to_string(count));
  }
  void SearchFoldersChanged(TObject*, int32_t count, int32_t) override {
    Log("found " + std::to_string(count));
  }
  void ZipWriter1TotalPercentDone(TObject* sender, int) override {
    EXPECT_EQ(sender, static_cast<TObject*>(&RunWriter()));
    Log("percent");
    if (onPercent) onPercent();
  }
  void ZipWriter1ZipComplete(TObject*, int files) override {
    Log("written with " + std::to_string(files));
  }
  void ZipDatabase(const std::string& archivePath, const std::string& sourcePath) override {
    Log("zipping " + sourcePath + " into " + archivePath);
  }
};

std::string Text(size_t bytes) {
  std::string s;
  for (unsigned i = 1; s.size() < bytes; i = i * 1103515245u + 12345u) s += std::to_string(i);
  return s;
}

TEST(WindowRunViewTest, AWindowHearsItsRunInTheDesignsOrder) {
  TempTree src, out;
  const std::string db = src.File("QRN_A_dat.mdf", Text(3 << 20));
  RecordingWindow w;
  w.choices.removeTags = true;
  int pumpedWhileSearching = 0, pumpedWhileWriting = 0;
  w.ui.onProcessMessages = [&] {
    const std::string& last = w.log.back();
    pumpedWhileSearching += last.starts_with("entered");
    pumpedWhileWriting += last == "percent";
  };
  w.Start(src.Root(), out.Root());
  EXPECT_EQ(w.log, (std::vector<std::string>{
                       "disabled", "progress shown", "entered " + src.Root() + " after 0",
                       "found 1", "file " + db, "zipping " + db + " into " + out.Path("a.zip"),
                       "percent", "written with 1", "default cursor", "enabled", "progress closed",
                       "message Process Complete!"}));
  // The window stays responsive: its messages run as the folder is listed
  // and as the archive is written, not only when the window shows news.
  EXPECT_GT(pumpedWhileSearching, 0);
  EXPECT_GT(pumpedWhileWriting, 0);
  EXPECT_FALSE(w.Running());
  EXPECT_FALSE(w.closed);
}

// A close asked for during the run ends it, shows nothing, leaves the old
// archive as it was, and then closes the window; an error that ends a run
// is shown before the window is idle again.
TEST(WindowRunViewTest, ACloseOrAFailureEndsTheRun) {
  TempTree src, out;
  src.File("a.mdf", Text(3 << 20));
  const std::string older = out.File("a.zip", "PK\x03\x04 last week's");
  RecordingWindow w;
  w.onPercent = [&] { EXPECT_FALSE(w.CloseQuery()); };
  w.Start(src.Root(), out.Root());
  EXPECT_TRUE(w.closed);
  EXPECT_TRUE(w.ui.messages.empty());
  const std::vector<std::string> end(w.log.end() - 3, w.log.end());
  EXPECT_EQ(end, (std::vector<std::string>{"default cursor", "enabled", "progress closed"}));
  std::ifstream in(older, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "PK\x03\x04 last week's");

  RecordingWindow failing;
  failing.onPercent = [] { throw std::runtime_error("Out of luck"); };
  failing.Start(src.Root(), out.Root());
  ASSERT_EQ(failing.ui.messages.size(), 1u);
  EXPECT_EQ(failing.ui.messages[0].kind, DialogKind::Error);
  const std::vector<std::string> shown(failing.log.end() - 4, failing.log.end());
  EXPECT_EQ(shown, (std::vector<std::string>{"message Out of luck.", "default cursor", "enabled",
                                             "progress closed"}));
  EXPECT_FALSE(failing.closed);
  EXPECT_FALSE(failing.Running());
}

}  // namespace
