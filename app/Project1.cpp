// Start-up: the framework, the application title, the main window, then the
// hidden progress window, and the message loop until the main window closes.
#include <QApplication>
#include <QFont>
#include <csignal>
#include <cstdio>
#include <string_view>

#include "QtUi.h"
#include "RunDialogs.h"
#include "Ui.h"
#include "Unit1.h"
#include "Unit2.h"

TForm1* Form1 = nullptr;
TfrmProgress* frmProgress = nullptr;

// Answered before Qt starts: without a display, Qt ends the program before
// any argument is read, and a server is where someone asks what it is.
constexpr char kHelp[] =
    "Usage: tamblewick-zipper\n"
    "Opens the Tamblewick Remote Database Zipper window, which zips every database\n"
    "file (MSDE *.mdf or Interbase *.gdb) of a folder into a ZIP archive of its own.\n"
    "The choices are made in the window, which needs a display.\n"
    "\n"
    "Without a display (a server, a script, a schedule), dbzip, the headless\n"
    "companion, writes the same archives: see dbzip --help and man dbzip.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n";

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool help = arg == "--help" || arg == "-h";
    if (!help && arg != "--version" && arg != "-V") continue;
    if (help)
      std::fputs(kHelp, stdout);
    else
      std::printf("tamblewick-zipper (Tamblewick Remote Database Zipper) %s\n", kProductVersion);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
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
