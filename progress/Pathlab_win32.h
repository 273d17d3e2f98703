// A one-line label for paths on Windows: a path too wide for it loses
// directory names from its front after its drive ("C:" or a share's
// "\\server\share"), so the deepest directories and the file name stay readable.
#pragma once

#include <string>

#include "Win32Ui.h"

class TPathLabel {
 public:
  // A static control on owner; its height is that of "Aj|" in the owner's
  // font until a layout sets it, and it never sizes itself to its text.
  TPathLabel(HWND owner, int id);

  HWND Handle() const { return handle_; }
  // The full text last assigned, never the shortened form.
  const std::string& Caption() const { return caption_; }
  // Stores the text and shows it shortened to the label's current width,
  // measured with GetTextExtentPoint32W in the label's font. A later change
  // of width or font does not shorten it again.
  void SetCaption(const std::string& text);
  // The text the label draws.
  std::string ShownText() const { return win32::GetText(handle_); }

 private:
  HWND handle_;
  std::string caption_;
};
