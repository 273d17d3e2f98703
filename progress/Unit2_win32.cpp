#include "Unit2_win32.h"

#include <commctrl.h>

#include <tuple>

namespace {
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;
constexpr int kClientWidth = 359;
constexpr int kClientHeight = 125;
constexpr COLORREF kNavy = RGB(0, 0, 128);
enum ControlId { idLabel3 = 100, idCurrFile, idLabel4, idTotalFiles, idStatus, idBar };
// The labels size themselves to their one line of text, which a wider text
// runs past the window's edge rather than wrapping; a file name's "&" is
// drawn as it is, not taken as an accelerator.
constexpr DWORD kLabelStyle = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
}  // namespace

TfrmProgress::TfrmProgress(HWND mainWindow) : mainWindow_(mainWindow) {
  Create(L"TamblewickProgress", kProgressCaption, kStyle, kExStyle, mainWindow, nullptr);
  const HWND self = Handle();
  dpi_ = win32::WindowDpi(self);
  font_ = win32::CreateDesignFont(win32::DesignFace::MsSansSerif, 11, dpi_);
  Label3 = win32::CreateControl(L"STATIC", "Current File:", kLabelStyle, 0, self, idLabel3);
  lblCurrFile = std::make_unique<TPathLabel>(self, idCurrFile);
  Label4 = win32::CreateControl(L"STATIC", "Total Files:", kLabelStyle, 0, self, idLabel4);
  lblTotalFiles = win32::CreateControl(L"STATIC", "", kLabelStyle, 0, self, idTotalFiles);
  lblStatus = win32::CreateControl(L"STATIC", "", kLabelStyle, 0, self, idStatus);
  prgBar = win32::CreateControl(PROGRESS_CLASSW, "", 0, 0, self, idBar);
  ::SendMessageW(prgBar, PBM_SETRANGE32, 0, 100);
  ::SendMessageW(prgBar, PBM_SETPOS, 0, 0);
  Layout(dpi_);
}

TfrmProgress::~TfrmProgress() {
  if (font_) ::DeleteObject(font_);
}

void TfrmProgress::Layout(UINT dpi) {
  dpi_ = dpi;
  const HWND self = Handle();
  const SIZE frame = win32::FrameSize(kClientWidth, kClientHeight, kStyle, kExStyle, dpi);
  ::SetWindowPos(self, nullptr, 0, 0, frame.cx, frame.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  for (HWND control : {Label3, lblCurrFile->Handle(), Label4, lblTotalFiles, lblStatus, prgBar})
    win32::SetFont(control, font_);
  // Labels of the design sit at their place and size themselves to their text.
  for (auto [label, left, top] : {std::tuple{Label3, 24, 17},
                                  {Label4, 24, 37},
                                  {lblTotalFiles, 88, 37},
                                  {lblStatus, 24, 70}}) {
    win32::Place(label, {left, top, 0, 0}, dpi);
    win32::SetAutoSizedText(label, win32::GetText(label));
  }
  win32::Place(lblCurrFile->Handle(), {88, 17, 241, 17}, dpi);
  win32::Place(prgBar, {24, 88, 313, 17}, dpi);
}

void TfrmProgress::Show() {
  // Centred over the main window, frame and all.
  RECT main{}, own{};
  ::GetWindowRect(mainWindow_, &main);
  ::GetWindowRect(Handle(), &own);
  const int width = own.right - own.left;
  const int height = own.bottom - own.top;
  const int left = main.left + ((main.right - main.left) - width) / 2;
  const int top = main.top + ((main.bottom - main.top) - height) / 2;
  ::SetWindowPos(Handle(), HWND_TOPMOST, left, top, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  ::UpdateWindow(Handle());
}

void TfrmProgress::Close() {
  ::ShowWindow(Handle(), SW_HIDE);
}

void TfrmProgress::SetTotalFiles(const std::string& text) {
  win32::SetAutoSizedText(lblTotalFiles, text);
}

void TfrmProgress::SetStatus(const std::string& text) {
  win32::SetAutoSizedText(lblStatus, text);
}

void TfrmProgress::SetBarPosition(int percent) {
  ::SendMessageW(prgBar, PBM_SETPOS, percent, 0);
}

LRESULT TfrmProgress::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // The close box only hides it; the run goes on writing into it.
      Close();
      return 0;
    case WM_CTLCOLORSTATIC: {
      const auto control = reinterpret_cast<HWND>(lParam);
      const auto dc = reinterpret_cast<HDC>(wParam);
      const bool navy = control == lblCurrFile->Handle() || control == lblTotalFiles;
      ::SetTextColor(dc, navy ? kNavy : ::GetSysColor(COLOR_BTNTEXT));
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);
    case WM_SETCURSOR:
      if (win32::HandleSetCursor()) return TRUE;
      break;
    case WM_DPICHANGED: {
      const HFONT old = font_;
      font_ = win32::CreateDesignFont(win32::DesignFace::MsSansSerif, 11, HIWORD(wParam));
      Layout(HIWORD(wParam));
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      ::SetWindowPos(Handle(), nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      if (old) ::DeleteObject(old);
      return 0;
    }
    default:
      break;
  }
  return Default(message, wParam, lParam);
}
