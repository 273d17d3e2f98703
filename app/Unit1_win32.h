// The main window on Windows, native Win32: the user's choices, and the run
// driver that searches the source directory and zips every database found
// into its own archive. It behaves as the Qt window does, over the same driver.
#pragma once

#include <memory>
#include <string>

#include "ArchiveName.h"
#include "BrowseEdit_win32.h"
#include "RunDriver.h"
#include "SFolders.h"
#include "Version.h"
#include "Win32Ui.h"
#include "ZipWriter.h"

class TfrmProgress;

inline constexpr const char* kMainCaption = kProductCaption;
// The status bar's one line.
inline constexpr const char* kStatusLine = "Zips each database found into an archive of its own.";

class TForm1 : public win32::Window {
 public:
  // Creates the window hidden, with its controls in their initial state, and
  // runs FormCreate. icon: the window's icon (may be null).
  explicit TForm1(HICON icon = nullptr);
  ~TForm1() override;

  // The progress window the run driver writes into (created after this window).
  void SetProgressWindow(TfrmProgress* progress) { frmProgress = progress; }
  // Closing this window ends the message loop (the program's main window).
  void SetQuitOnClose(bool quit) { quitOnClose_ = quit; }
  // Shows the window, centred on the screen the first time.
  void Show();
  // Closes the window as its close box does.
  void Close();

  bool Running() const { return running_; }
  const RunReport& LastReport() const { return driver_.Report(); }
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

  // Non-visual components.
  std::unique_ptr<TSearchFolders> SearchFolders;
  std::unique_ptr<TZipWriter> ZipWriter1;

  // Handlers.
  void FormCreate(TObject* Sender);
  void optMsdeClick(TObject* Sender);
  void btnCloseClick(TObject* Sender);
  void btnStartClick(TObject* Sender);
  void SearchFoldersProcess(TObject* Sender, const std::string& Dir, int32_t CountFiles,
                            int32_t SizeOfFiles);
  void SearchFoldersChanged(TObject* Sender, int32_t CountFiles, int32_t SizeOfFiles);
  void ZipWriter1TotalPercentDone(TObject* Sender, int Percent);
  void ZipWriter1ZipComplete(TObject* Sender, int FileCount);

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void CreateControls();
  void Layout(UINT dpi);
  void Command(HWND control, WORD code);
  // What the close box and the Close button do; false when a run was asked
  // to end first and the window closes once it has.
  bool CloseQuery();
  void ZipDatabase(const std::string& archivePath, const std::string& sourcePath);
  // The idle state, after a run however it ended.
  void EndRun();
  bool Checked(HWND button) const;
  int Level() const;

  TfrmProgress* frmProgress = nullptr;
  HFONT font_ = nullptr;
  HFONT statusFont_ = nullptr;
  UINT dpi_ = win32::kDesignDpi;
  bool centred_ = false;
  bool running_ = false;
  bool closeRequested_ = false;
  TCancelToken cancel_{false};
  bool quitOnClose_ = false;
  bool msdeSelected_ = true;
  TRunDriver driver_;
};
