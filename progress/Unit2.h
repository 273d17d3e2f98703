// The progress window: what a run is doing, written by the run driver. It
// stays on top of other windows without being modal.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QWidget>

#include "Pathlab.h"

class TfrmProgress : public QWidget {
  Q_OBJECT
 public:
  // Created hidden; Show centres it over mainWindow.
  explicit TfrmProgress(QWidget* mainWindow = nullptr);

  // Shows the window on top, centred over the main window, without modality.
  void Show();
  // Hides the window; it and its controls stay alive for the next run.
  void Close();

  // Controls, named as the layout names them.
  QLabel* Label3;
  TPathLabel* lblCurrFile;
  QLabel* Label4;
  QLabel* lblTotalFiles;
  QLabel* lblStatus;
  QProgressBar* prgBar;

 private:
  void CentreOverMainWindow();

  QPointer<QWidget> mainWindow_;
};
