// The window services on Qt: the implementation the window program installs.
#pragma once

#include <chrono>

#include "Ui.h"

class QtPlatformUi : public PlatformUi {
 public:
  // Lets pending window messages run, at most once per kProcessInterval: the
  // folder search calls it after every directory entry, far more often than
  // anything can arrive, and one round of Qt's event processing costs more
  // than listing the entry itself. A message waits at most that long.
  void ProcessMessages() override;
  void MessageBeep(BeepKind kind) override;
  void ShowMessage(DialogKind kind, const std::string& caption, const std::string& text) override;
  void ShowMessageWithDetails(DialogKind kind, const std::string& caption, const std::string& text,
                              const std::string& details) override;
  void SetWaitCursor(bool on) override;

  static constexpr std::chrono::microseconds kProcessInterval{1000};

 private:
  bool waitCursor_ = false;
  std::chrono::steady_clock::time_point lastProcessed_{};
};

// Makes the window fonts the design names available (QtFonts.h).
void InstallFontSubstitutes();

class QWidget;
// The application's main window: the first main window created registers
// itself, and dialogs without an owner belong to it. Null before that and
// once it is destroyed.
QWidget* MainWindow();
void SetMainWindow(QWidget* window);

class QSize;
// The size of a top-level window with its frame (title bar and borders).
// Until the window manager has framed it, the frame of a framed window beside
// it, drawn by the same manager, stands in; without one, no frame is counted.
QSize FramedSize(const QWidget& window, const QWidget* framedNeighbour = nullptr);

// Centres the window, frame included, on its screen's available area. An X11
// window manager reports the frame only after the window is mapped: the
// window is then centred once more, unless the user has moved it meanwhile.
void CentreOnScreen(QWidget& window);
