// Window services for tests: records beeps, message boxes and cursor changes
// instead of showing anything, so no test waits on a modal dialog.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Ui.h"

class RecorderUi : public PlatformUi {
 public:
  struct Message {
    DialogKind kind;
    std::string caption;
    std::string text;
    std::string details;
  };

  RecorderUi() { SetUi(this); }
  ~RecorderUi() override { SetUi(nullptr); }

  void ProcessMessages() override {
    ++processed;
    if (onProcessMessages) onProcessMessages();
  }
  void MessageBeep(BeepKind kind) override { beeps.push_back(kind); }
  void ShowMessage(DialogKind kind, const std::string& caption, const std::string& text) override {
    messages.push_back({kind, caption, text, {}});
  }
  void ShowMessageWithDetails(DialogKind kind, const std::string& caption, const std::string& text,
                              const std::string& details) override {
    messages.push_back({kind, caption, text, details});
  }
  void SetWaitCursor(bool on) override {
    waitCursor = on;
    cursorChanges.push_back(on);
  }

  std::vector<BeepKind> beeps;
  std::vector<Message> messages;
  std::vector<bool> cursorChanges;
  bool waitCursor = false;
  long processed = 0;
  // Runs at every message-processing point (to act "during" a run).
  std::function<void()> onProcessMessages;
};
