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

// Maps the font families the windows ask for ("MS Sans Serif", "Tahoma") to a
// metric-compatible family present on Linux, so every text fits its bounds.
void InstallFontSubstitutes();
