// The main window: the user's choices, and the run driver that searches the
// source directory and zips every database found into its own archive.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QWidget>
#include <memory>
#include <string>

#include "ArchiveName.h"
#include "BrowseEdit.h"
#include "RunDriver.h"
#include "SFolders.h"
#include "Version.h"
#include "ZipWriter.h"

class TfrmProgress;

inline constexpr const char* kMainCaption = kProductCaption;

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The progress window the run driver writes into (created after this window).
  void SetProgressWindow(TfrmProgress* progress) { frmProgress = progress; }
  bool Running() const { return running_; }
  const RunReport& LastReport() const { return driver_.Report(); }

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

  // Non-visual components.
  std::unique_ptr<TSearchFolders> SearchFolders;
  std::unique_ptr<TZipWriter> ZipWriter1;

  // Handlers.
  void FormCreate(QObject* Sender);
  void optMsdeClick(QObject* Sender);
  void btnCloseClick(QObject* Sender);
  void btnStartClick(QObject* Sender);
  void SearchFoldersProcess(TObject* Sender, const std::string& Dir, int32_t CountFiles,
                            int32_t SizeOfFiles);
  void SearchFoldersChanged(TObject* Sender, int32_t CountFiles, int32_t SizeOfFiles);
  void ZipWriter1TotalPercentDone(TObject* Sender, int Percent);
  void ZipWriter1ZipComplete(TObject* Sender, int FileCount);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void ZipDatabase(const std::string& archivePath, const std::string& sourcePath);
  void CreateControls();
  // The idle state, after a run however it ended.
  void EndRun();

  TfrmProgress* frmProgress = nullptr;
  bool centred_ = false;
  bool running_ = false;
  bool closeRequested_ = false;
  TCancelToken cancel_{false};
  TRunDriver driver_;
};
