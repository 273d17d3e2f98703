#include "BrowseDlg_win32.h"

#include <shlobj.h>

#include <iterator>

namespace {
using enum TSystemFolders;

HWND g_mainWindow = nullptr;

// The shell's special folder for each value, in the enumeration's order;
// bfoDesktopExpanded stands for none.
constexpr int kNoFolder = -1;
constexpr int kSpecialFolders[] = {
    CSIDL_DESKTOP,   kNoFolder,       CSIDL_PROGRAMS,         CSIDL_CONTROLS, CSIDL_PRINTERS,
    CSIDL_PERSONAL,  CSIDL_FAVORITES, CSIDL_STARTUP,          CSIDL_RECENT,   CSIDL_SENDTO,
    CSIDL_BITBUCKET, CSIDL_STARTMENU, CSIDL_DESKTOPDIRECTORY, CSIDL_DRIVES,   CSIDL_NETWORK,
    CSIDL_NETHOOD,   CSIDL_FONTS,     CSIDL_TEMPLATES,
};
static_assert(std::size(kSpecialFolders) == static_cast<size_t>(bfoTemplates) + 1);

// The file-system path of a shell item; empty when it has none.
std::string PathOf(LPCITEMIDLIST item) {
  wchar_t path[MAX_PATH] = {};
  if (!item || !::SHGetPathFromIDListW(item, path)) return {};
  return win32::Narrow(path);
}
}  // namespace

void TBrowseDlg::SetMainWindow(HWND window) {
  g_mainWindow = window;
}

void TBrowseDlg::SetSelectedFolder(const std::string& folder) {
  selectedFolder_ = folder;
  if (wnd_) {
    const std::wstring wide = win32::Widen(folder);
    ::SendMessageW(wnd_, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(wide.c_str()));
  }
}

void TBrowseDlg::SetStatusText(const std::string& text) {
  statusText_ = text;
  if (wnd_) {
    const std::wstring wide = win32::Widen(text);
    ::SendMessageW(wnd_, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  }
}

bool TBrowseDlg::Execute() {
  LPITEMIDLIST root = nullptr;
  const int csidl = kSpecialFolders[static_cast<size_t>(StartFolder)];
  if (csidl != kNoFolder && FAILED(::SHGetSpecialFolderLocation(nullptr, csidl, &root)))
    root = nullptr;
  const std::wstring title = win32::Widen(Caption);
  wchar_t displayName[MAX_PATH] = {};
  BROWSEINFOW info{};
  info.hwndOwner = owner_ ? ::GetAncestor(owner_, GA_ROOT) : g_mainWindow;
  info.pidlRoot = root;
  info.pszDisplayName = displayName;
  info.lpszTitle = title.empty() ? nullptr : title.c_str();
  info.ulFlags = BrowseFlags(Options);
  info.lpfn = &TBrowseDlg::Callback;
  info.lParam = reinterpret_cast<LPARAM>(this);

  // The dialog window is known only while it is open, also when a handler throws.
  struct Forget {
    HWND& wnd;
    LPITEMIDLIST root;
    ~Forget() {
      wnd = nullptr;
      if (root) ::CoTaskMemFree(root);
    }
  } forget{wnd_, root};
  const LPITEMIDLIST chosen = ::SHBrowseForFolderW(&info);
  if (!chosen) return false;
  std::string path = PathOf(chosen);
  ::CoTaskMemFree(chosen);
  selectedFolder_ = std::move(path);
  return true;
}

int CALLBACK TBrowseDlg::Callback(HWND wnd, UINT message, LPARAM lParam, LPARAM data) {
  auto* self = reinterpret_cast<TBrowseDlg*>(data);
  // An exception must not cross the shell's frames: the handler chain ends
  // here and the standard error box reports it.
  int result = 0;
  RunGuarded([&] {
    switch (message) {
      case BFFM_INITIALIZED:
        self->wnd_ = wnd;
        self->DialogInitialized(wnd);
        break;
      case BFFM_SELCHANGED:
        self->SelectionChanged(wnd, reinterpret_cast<const void*>(lParam));
        break;
      case BFFM_VALIDATEFAILEDW:
        result =
            self->ValidateFailed(win32::Narrow(reinterpret_cast<const wchar_t*>(lParam))) ? 1 : 0;
        break;
      default:
        break;
    }
  });
  return result;
}

void TBrowseDlg::DialogInitialized(HWND wnd) {
  Place(wnd);
  if (!CaptionTitle.empty()) win32::SetText(wnd, CaptionTitle);
  if (!statusText_.empty()) SetStatusText(statusText_);
  // A path that names no folder leaves the dialog's own selection.
  if (!selectedFolder_.empty()) SetSelectedFolder(selectedFolder_);
  ::SendMessageW(wnd, BFFM_ENABLEOK, 0, Options.Contains(TBrowseDlgOption::doEnableOK) ? 1 : 0);
  if (OnInit) OnInit(this);
}

void TBrowseDlg::Place(HWND wnd) const {
  if (Position != TDlgPosition::bpCenter) return;
  const TDlgSize screen{::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  TDlgRect reference{0, 0, screen.Width, screen.Height};
  if (RelatePos == TDlgPosRel::brActiveWindow) {
    // The dialog may already be the active window; then its owner is the one
    // that was active when the field's button was clicked.
    HWND active = ::GetActiveWindow();
    if (!active || active == wnd) active = ::GetWindow(wnd, GW_OWNER);
    RECT r{};
    if (active && ::GetWindowRect(active, &r)) reference = {r.left, r.top, r.right, r.bottom};
  }
  RECT own{};
  ::GetWindowRect(wnd, &own);
  const TDlgPoint at =
      CentreDialog(reference, {own.right - own.left, own.bottom - own.top}, screen);
  ::SetWindowPos(wnd, nullptr, at.Left, at.Top, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
}

void TBrowseDlg::SelectionChanged(HWND wnd, const void* item) {
  const bool showPath = Options.Contains(TBrowseDlgOption::doShowPath);
  if (!showPath && !OnSelectionChanged) return;
  const std::string path = PathOf(static_cast<LPCITEMIDLIST>(item));
  if (showPath) {
    std::string text = ShortenStatusText(path, kStatusPathLength, kWindowsPaths);
    if (text != statusText_) SetStatusText(text);
  }
  if (OnSelectionChanged) OnSelectionChanged(this, wnd, path, item);
}

bool TBrowseDlg::ValidateFailed(const std::string& text) {
  bool cancel = false;
  if (OnValidate) OnValidate(this, text, cancel);
  return cancel;
}
