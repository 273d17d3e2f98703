// Start-up: the framework, the application title, the main window, then the
// hidden progress window, and the message loop until the main window closes.
#include <QApplication>
#include <QFont>
#include <csignal>

#include "QtUi.h"
#include "RunDialogs.h"
#include "Ui.h"
#include "Unit1.h"
#include "Unit2.h"

TForm1* Form1 = nullptr;
TfrmProgress* frmProgress = nullptr;

int main(int argc, char** argv) {
  // A file-size limit then shows as a write error naming the archive.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName(kApplicationTitle);
  QCoreApplication::setApplicationVersion(kProductVersion);
  // Docks match the window to its desktop entry by this name (the Wayland
  // application id); on X11 the entry's StartupWMClass names the program.
  QGuiApplication::setDesktopFileName("com.tamblewick.Zipper");
  InstallFontSubstitutes();
  QtPlatformUi ui;
  SetUi(&ui);
  InstallWriterServices();

  Form1 = new TForm1;
  frmProgress = new TfrmProgress(Form1);
  Form1->SetProgressWindow(frmProgress);
  CloseOnTerminationSignals(*Form1);
  Form1->show();
  // Closing the main window ends the program, whatever else is still shown.
  QObject::connect(Form1, &TForm1::destroyed, &app, &QCoreApplication::quit);
  app.setQuitOnLastWindowClosed(false);
  Form1->setAttribute(Qt::WA_DeleteOnClose);
  const int rc = app.exec();
  delete frmProgress;
  SetUi(nullptr);
  return rc;
}
