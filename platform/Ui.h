// The window-facing services the components and the run driver need: message
// processing, beeps, modal message boxes and the application-wide cursor.
// Core code calls them through Ui(); the window program installs a Qt
// implementation, tests install a recorder, and the default does nothing
// visible, so the core never depends on a window system.
#pragma once

#include <string>

enum class BeepKind : unsigned { Exclamation = 0x30, Asterisk = 0x40 };

enum class DialogKind { Warning, Information, Error, Plain };

class PlatformUi {
 public:
  virtual ~PlatformUi() = default;
  // Lets pending window messages run; called very often, so it must stay cheap.
  virtual void ProcessMessages() {}
  virtual void MessageBeep(BeepKind) {}
  // A modal message box with one OK button.
  virtual void ShowMessage(DialogKind kind, const std::string& caption, const std::string& text);
  // The same, with a longer text the user can unfold (empty: none).
  virtual void ShowMessageWithDetails(DialogKind kind, const std::string& caption,
                                      const std::string& text, const std::string& details) {
    (void)details;
    ShowMessage(kind, caption, text);
  }
  // The hour-glass (true) or the default cursor (false), application-wide.
  virtual void SetWaitCursor(bool) {}
};

// The services in use; never null.
PlatformUi& Ui();
// Installs a set of services (not owned); nullptr restores the default.
void SetUi(PlatformUi* ui);

// The text the standard error box shows for an exception message: a full stop
// is added when the code of the last character is greater than that of ".".
std::string ErrorBoxText(const std::string& message);

// Caption of the standard error box and the program's name for the desktop.
inline constexpr const char* kApplicationTitle = "Tamblewick Remote Database Zipper";

// Runs one handler chain; an exception that leaves it is shown in the
// standard error box and the program goes on.
template <class Handler>
void RunGuarded(Handler&& handler);

void ShowErrorBox(const std::string& message);

#include <exception>
#include <new>

#include "Errors.h"

template <class Handler>
void RunGuarded(Handler&& handler) {
  try {
    handler();
  } catch (const Exception& e) {
    ShowErrorBox(e.Message());
  } catch (const std::bad_alloc&) {
    ShowErrorBox("Out of memory");
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
  }
}
