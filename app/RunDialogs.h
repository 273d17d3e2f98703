// What only the windows do around a run: their components' stored set-up,
// Start's checks with their beep and warning, and the closing message. dbzip
// has no dialogs and does not link these.
#pragma once

#include <string>

class RunReport;
class TSearchFolders;
class TZipWriter;

// The main window's two components as its stored layout gives them. The run
// whose components they are wires their events and sets them up for each
// run as its request says.
void SetUpComponents(TSearchFolders& search, TZipWriter& writer);
// Start's checks, as every window makes them: both folder fields filled
// and naming folders; otherwise the exclamation beep, a warning, and false.
bool FoldersReady(const std::string& sourceDir, const std::string& outputDir);
// The run's closing message: "Process Complete!" after the asterisk beep,
// or the report after the exclamation beep.
void ShowEndReport(const RunReport& report);
