#include "Unit2.h"

TfrmProgress::TfrmProgress(QWidget* mainWindow)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint), mainWindow_(mainWindow) {
  setWindowTitle("Progress");
  setFixedSize(359, 125);
  Label3 = new QLabel("Current File:", this);
  Label3->move(24, 17);
  lblCurrFile = new TPathLabel(this);
  lblCurrFile->setGeometry(88, 17, 241, 17);
  Label4 = new QLabel("Total Files:", this);
  Label4->move(24, 37);
  lblTotalFiles = new QLabel(this);
  lblTotalFiles->move(88, 37);
  lblStatus = new QLabel(this);
  lblStatus->move(24, 70);
  prgBar = new QProgressBar(this);
  prgBar->setGeometry(24, 88, 313, 17);
  prgBar->setRange(0, 100);
  prgBar->setValue(0);
}

void TfrmProgress::Show() { show(); }
void TfrmProgress::Close() { hide(); }
