// The progress window: what a run is doing, written by the run driver.
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QWidget>

#include "Pathlab.h"

class TfrmProgress : public QWidget {
  Q_OBJECT
 public:
  explicit TfrmProgress(QWidget* mainWindow = nullptr);

  // Shows the window on top, centred over the main window, without modality.
  void Show();
  // Hides the window; it stays alive for the next run.
  void Close();

  QLabel* Label3;
  TPathLabel* lblCurrFile;
  QLabel* Label4;
  QLabel* lblTotalFiles;
  QLabel* lblStatus;
  QProgressBar* prgBar;

 private:
  QWidget* mainWindow_;
};
