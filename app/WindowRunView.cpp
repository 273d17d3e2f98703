#include "WindowRunView.h"

#include <exception>

#include "RunDialogs.h"
#include "SFolders.h"
#include "Ui.h"
#include "ZipWriter.h"

TRunRequest WindowRequest(const std::string& sourceDir, const std::string& outputDir,
                          const std::string& mask, const TWindowChoices& choices) {
  TRunRequest request;
  request.sourceDir = sourceDir;
  request.outputDir = outputDir;
  request.recursive = choices.recursive;
  request.mask = mask;
  request.level = choices.level;
  request.tags = choices.removeTags && choices.msde ? TagRemoval::Remove : TagRemoval::Keep;
  request.processMessages = true;
  return request;
}

TWindowRunView::TWindowRunView() = default;
TWindowRunView::~TWindowRunView() = default;

void TWindowRunView::StartRun(const std::string& sourceDir, const std::string& outputDir) {
  if (!FoldersReady(sourceDir, outputDir)) return;
  EnableStartAndClose(false);
  ShowProgressWindow();
  Ui().ProcessMessages();
  // The choices are taken once: the output folder is opened for the whole
  // run, and every database of it is zipped alike.
  const TRunRequest request = WindowRequest(sourceDir, outputDir, RunSearch().FileMask, Choices());
  cancel_ = false;
  running_ = true;
  run_.Execute(request, cancel_);
  // Still running while the end is shown: a close asked for meanwhile (a
  // signal while the closing message is up) waits for this to return.
  running_ = false;
  if (cancel_) CloseWindow();
}

bool TWindowRunView::CloseQuery() {
  if (running_) {
    cancel_ = true;
    return false;
  }
  CloseProgressWindow();
  return true;
}

// The handlers take no size of the files found.
void TWindowRunView::Searching(const std::string& dir, int32_t count) {
  SearchFoldersProcess(&RunSearch(), dir, count, 0);
}

void TWindowRunView::SearchEnded(int32_t count) {
  SearchFoldersChanged(&RunSearch(), count, 0);
}

void TWindowRunView::Zipping(int, const TRunDatabase& db) {
  ShowCurrentFile(db.source);
  ZipDatabase(db.archivePath, db.source);
}

void TWindowRunView::Percent(int, int percent) {
  ZipWriter1TotalPercentDone(&RunWriter(), percent);
}

void TWindowRunView::Written(int, int files) {
  ZipWriter1ZipComplete(&RunWriter(), files);
}

void TWindowRunView::Ended(const TRun& run, TRunEnd end) {
  switch (end) {
    case TRunEnd::Canceled:  // the window closes without the closing report
      EndRun();
      break;
    case TRunEnd::Failed:
      RunGuarded([&] { std::rethrow_exception(run.Failure()); });
      EndRun();
      break;
    case TRunEnd::Finished:
      EndRun();
      ShowEndReport(run.Report());
      break;
  }
}

void TWindowRunView::EndRun() {
  Ui().SetWaitCursor(false);
  EnableStartAndClose(true);
  CloseProgressWindow();
}
