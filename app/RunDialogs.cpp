#include "RunDialogs.h"

#include <utility>

#include "RunDriver.h"
#include "SFolders.h"
#include "Ui.h"
#include "ZipWriter.h"

void SetUpComponents(TSearchFolders& search, TZipWriter& writer) {
  search.Name = "SearchFolders";
  search.FileMask = "*.mdf";
  search.UpdateList = true;
  search.ScanOptions = TScanOptions::soSpecifiedDir;
  search.ScanDir = "C:\\";
  search.Messages = true;
  search.DoRecursive = false;
  writer.Name = "ZipWriter1";
}

bool FoldersReady(const std::string& sourceDir, const std::string& outputDir) {
  if (sourceDir.empty() || outputDir.empty()) {
    Ui().MessageBeep(BeepKind::Exclamation);
    Ui().ShowMessage(DialogKind::Warning, "Warning", "You must first select directories.");
    return false;
  }
  // A folder that is not there would make a run that finds or writes nothing
  // look complete.
  for (const auto& [dir, role] :
       {std::pair{&sourceDir, "source"}, std::pair{&outputDir, "output"}}) {
    const TFolderProblem problem = CheckFolder(*dir);
    if (problem == TFolderProblem::None) continue;
    Ui().MessageBeep(BeepKind::Exclamation);
    Ui().ShowMessage(
        DialogKind::Warning, "Warning",
        std::string("The ") + role + " directory " + *dir +
            (problem == TFolderProblem::Missing ? " does not exist." : " is not a directory."));
    return false;
  }
  return true;
}

void ShowEndReport(const RunReport& report) {
  if (report.Empty() && !report.HasNotes()) {
    Ui().MessageBeep(BeepKind::Asterisk);
    Ui().ShowMessage(DialogKind::Information, "Information", kProcessComplete);
  } else if (report.Empty()) {
    // Nothing failed; what was tidied in the output folder is said beside it.
    Ui().MessageBeep(BeepKind::Asterisk);
    Ui().ShowMessageWithDetails(DialogKind::Information, "Information", report.Text(kReportLines),
                                report.Details());
  } else {
    Ui().MessageBeep(BeepKind::Exclamation);
    Ui().ShowMessageWithDetails(DialogKind::Warning, "Warning", report.Text(kReportLines),
                                report.Details());
  }
}
