// The main window on Windows, native Win32: the user's choices, and the run
// that searches the source directory and zips every database found into its
// own archive. It shows the run as the Qt window does (WindowRunView.h).
#pragma once

#include <memory>
#include <string>

#include "ArchiveName.h"
#include "BrowseEdit_win32.h"
#include "RunDriver.h"
#include "SFolders.h"
#include "Version.h"
#include "Win32Ui.h"
#include "WindowRunView.h"
#include "ZipWriter.h"

class TfrmProgress;

inline constexpr const char* kMainCaption = kProductCaption;
// The status bar's one line.
inline constexpr const char* kStatusLine = "Zips each database found into an archive of its own.";

class TForm1 : public win32::Window, private TWindowRunView {
 public:
  // Creates the window hidden, with its controls in their initial state, and
  // runs FormCreate. icon: the window's icon (may be null).
  explicit TForm1(HICON icon = nullptr);
  ~TForm1() override;

  // The progress window the run writes into (created after this window).
  void SetProgressWindow(TfrmProgress* progress) { frmProgress = progress; }
  // Closing this window ends the message loop (the program's main window).
  void SetQuitOnClose(bool quit) { quitOnClose_ = quit; }
  // Shows the window, centred on the screen the first time.
  void Show();
  // Closes the window as its close box does.
  void Close();

  using TWindowRunView::LastReport;
  using TWindowRunView::Running;
  // The search's file mask the database type set.
  const std::string& FileMask() const { return SearchFolders->FileMask; }

  // Controls, named as the layout names them.
  HWND grp1;
  HWND optMsde;
  HWND optInterbase;
  HWND grp2;
  HWND Label1;
  std::unique_ptr<TBrowseEdit> edtSourceDir;
  HWND cbRecursive;
  HWND Label2;
  std::unique_ptr<TBrowseEdit> edtDestDir;
  HWND grp3;
  HWND cboLevel;
  HWND Label5;
  HWND chkRemTags;
  HWND btnStart;
  HWND btnClose;
  HWND StatusBar1;

  // Non-visual components: the run's, named and set up as the stored layout
  // says; the run brings their news to the handlers.
  TSearchFolders* const SearchFolders;
  TZipWriter* const ZipWriter1;

  // Handlers.
  void FormCreate(TObject* Sender);
  void optMsdeClick(TObject* Sender);
  void btnCloseClick(TObject* Sender);
  void btnStartClick(TObject* Sender);
  void SearchFoldersProcess(TObject* Sender, const std::string& Dir, int32_t CountFiles,
                            int32_t SizeOfFiles) override;
  void SearchFoldersChanged(TObject* Sender, int32_t CountFiles, int32_t SizeOfFiles) override;
  void ZipWriter1TotalPercentDone(TObject* Sender, int Percent) override;
  void ZipWriter1ZipComplete(TObject* Sender, int FileCount) override;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void CreateControls();
  void Layout(UINT dpi);
  void Command(HWND control, WORD code);
  void ZipDatabase(const std::string& archivePath, const std::string& sourcePath) override;
  // The window's part in a run.
  TWindowChoices Choices() const override;
  void EnableStartAndClose(bool enabled) override;
  void ShowProgressWindow() override;
  void CloseProgressWindow() override;
  void ShowCurrentFile(const std::string& path) override;
  void CloseWindow() override;
  bool Checked(HWND button) const;
  int Level() const;

  TfrmProgress* frmProgress = nullptr;
  HFONT font_ = nullptr;
  HFONT statusFont_ = nullptr;
  // The control that had the focus when the window was last deactivated.
  HWND focused_ = nullptr;
  UINT dpi_ = win32::kDesignDpi;
  bool centred_ = false;
  bool quitOnClose_ = false;
  bool msdeSelected_ = true;
};
