// A single-line edit field on Windows with a small folder button at its right
// end that opens the folder dialog and puts the chosen folder's path into the
// field. F4 or Alt+Down in the field opens the dialog as well.
#pragma once

#include <string>

#include "BrowseDlg_win32.h"

class TCustomBrowseEdit {
 public:
  // An edit control with a sunken border on parent, with the control id.
  TCustomBrowseEdit(HWND parent, int id);
  TCustomBrowseEdit(const TCustomBrowseEdit&) = delete;
  TCustomBrowseEdit& operator=(const TCustomBrowseEdit&) = delete;
  virtual ~TCustomBrowseEdit();

  // Handed to the dialog.
  TBrowseDlgOptions Options = kDefaultBrowseDlgOptions;
  TSystemFolders StartFolder = TSystemFolders::bfoDesktopExpanded;
  // Open the dialog on the folder the field already names.
  bool StartWithLast = false;
  // Handed to the dialog as its OnInit, to watch the dialog once it is set up.
  TBrowseDlgInitEvent OnDialogInit;

  HWND Handle() const { return edit_; }
  HWND Button() const { return button_; }
  std::string Text() const { return win32::GetText(edit_); }
  void SetText(const std::string& text) { win32::SetText(edit_, text); }

  // Opens the folder dialog; after OK the field holds the chosen folder.
  void Browse();

 private:
  static LRESULT CALLBACK EditProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT_PTR id, DWORD_PTR data);
  // Puts the button at the right end of the field and keeps the text clear of it.
  void PlaceButton();
  void DrawButton(const DRAWITEMSTRUCT& item) const;

  HWND edit_;
  HWND button_;
};

class TBrowseEdit : public TCustomBrowseEdit {
 public:
  using TCustomBrowseEdit::TCustomBrowseEdit;
};
