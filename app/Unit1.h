// The main window: the user's choices, and the run that searches the source
// directory and zips every database found into its own archive, shown as
// every window shows it (WindowRunView.h).
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QWidget>
#include <string>

#include "ArchiveName.h"
#include "BrowseEdit.h"
#include "RunDriver.h"
#include "SFolders.h"
#include "Version.h"
#include "WindowRunView.h"
#include "ZipWriter.h"

class TfrmProgress;

inline constexpr const char* kMainCaption = kProductCaption;

class TForm1 : public QWidget, private TWindowRunView {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The progress window the run writes into (created after this window).
  void SetProgressWindow(TfrmProgress* progress) { frmProgress = progress; }
  using TWindowRunView::LastReport;
  using TWindowRunView::RunCancel;
  using TWindowRunView::Running;

  // Controls, named as the layout names them.
  QGroupBox* grp1;
  QRadioButton* optMsde;
  QRadioButton* optInterbase;
  QGroupBox* grp2;
  QLabel* Label1;
  TBrowseEdit* edtSourceDir;
  QCheckBox* cbRecursive;
  QLabel* Label2;
  TBrowseEdit* edtDestDir;
  QGroupBox* grp3;
  QComboBox* cboLevel;
  QLabel* Label5;
  QCheckBox* chkRemTags;
  QPushButton* btnStart;
  QPushButton* btnClose;
  QStatusBar* StatusBar1;

  // Non-visual components: the run's, named and set up as the stored layout
  // says; the run brings their news to the handlers.
  TSearchFolders* const SearchFolders;
  TZipWriter* const ZipWriter1;

  // Handlers.
  void FormCreate(QObject* Sender);
  void optMsdeClick(QObject* Sender);
  void btnCloseClick(QObject* Sender);
  void btnStartClick(QObject* Sender);
  void SearchFoldersProcess(TObject* Sender, const std::string& Dir, int32_t CountFiles,
                            int32_t SizeOfFiles) override;
  void SearchFoldersChanged(TObject* Sender, int32_t CountFiles, int32_t SizeOfFiles) override;
  void ZipWriter1TotalPercentDone(TObject* Sender, int Percent) override;
  void ZipWriter1ZipComplete(TObject* Sender, int FileCount) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void ZipDatabase(const std::string& archivePath, const std::string& sourcePath) override;
  void CreateControls();
  // The window's part in a run.
  TWindowChoices Choices() const override;
  void EnableStartAndClose(bool enabled) override;
  void ShowProgressWindow() override;
  void CloseProgressWindow() override;
  void ShowCurrentFile(const std::string& path) override;
  void CloseWindow() override;

  TfrmProgress* frmProgress = nullptr;
  bool centred_ = false;
};

// SIGTERM, SIGHUP and SIGINT end a run as closing the window does (the
// archive being written is removed, the old one kept) and then close it.
void CloseOnTerminationSignals(TForm1& form);
