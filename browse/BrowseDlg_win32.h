// The folder dialog component on Windows: it opens the shell's folder browser
// (SHBrowseForFolderW) with its options, places it, selects a starting folder,
// keeps the status line and hands back the folder the user chose.
#pragma once

#include <functional>
#include <string>

#include "BrowseRules.h"
#include "Classes.h"
#include "Win32Ui.h"

using TBrowseDlgInitEvent = std::function<void(TObject* Sender)>;
using TBrowseDlgSelectionChangedEvent =
    std::function<void(TObject* Sender, HWND Wnd, const std::string& Path, const void* Item)>;
using TBrowseDlgValidateEvent =
    std::function<void(TObject* Sender, const std::string& Path, bool& Cancel)>;

class TBrowseDlg : public TComponent {
 public:
  // owner: the window the dialog belongs to; without one, the application's
  // main window.
  explicit TBrowseDlg(HWND owner = nullptr) : owner_(owner) {}

  std::string Caption;       // instruction text above the tree
  std::string CaptionTitle;  // the dialog's caption; empty keeps the shell's own
  TSystemFolders StartFolder = TSystemFolders::bfoDesktopExpanded;
  TBrowseDlgOptions Options = kDefaultBrowseDlgOptions;
  TDlgPosition Position = TDlgPosition::bpCenter;
  TDlgPosRel RelatePos = TDlgPosRel::brActiveWindow;

  TBrowseDlgInitEvent OnInit;
  TBrowseDlgSelectionChangedEvent OnSelectionChanged;
  TBrowseDlgValidateEvent OnValidate;

  // Before Execute: the folder to select. After a successful Execute: the
  // chosen folder's path. Setting it while the dialog is open selects it there.
  const std::string& SelectedFolder() const { return selectedFolder_; }
  void SetSelectedFolder(const std::string& folder);
  // Setting it while the dialog is open shows it in the dialog's status line.
  const std::string& StatusText() const { return statusText_; }
  void SetStatusText(const std::string& text);

  // Shows the dialog modally: true when the user chose a folder with OK.
  bool Execute();
  // The open dialog while Execute runs, else null.
  HWND DialogWindow() const { return wnd_; }

  // The window the program's dialogs belong to when they have no owner.
  static void SetMainWindow(HWND window);

 private:
  static int CALLBACK Callback(HWND wnd, UINT message, LPARAM lParam, LPARAM data);
  void DialogInitialized(HWND wnd);
  void SelectionChanged(HWND wnd, const void* item);
  bool ValidateFailed(const std::string& text);
  void Place(HWND wnd) const;

  HWND owner_;
  HWND wnd_ = nullptr;
  std::string selectedFolder_;
  std::string statusText_;
};

// Length to which the path of the selected folder is shortened for the status line.
inline constexpr size_t kStatusPathLength = 40;
