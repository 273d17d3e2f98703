// The window services on Qt: the implementation the window program installs.
#pragma once

#include "Ui.h"

class QtPlatformUi : public PlatformUi {
 public:
  void ProcessMessages() override;
  void MessageBeep(BeepKind kind) override;
  void ShowMessage(DialogKind kind, const std::string& caption, const std::string& text) override;
  void SetWaitCursor(bool on) override;

 private:
  bool waitCursor_ = false;
};

// Maps the font families the windows ask for ("MS Sans Serif", "Tahoma") to a
// metric-compatible family present on Linux, so every text fits its bounds.
void InstallFontSubstitutes();
