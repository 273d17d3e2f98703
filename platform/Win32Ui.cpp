#include "Win32Ui.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

namespace win32 {
namespace {

std::vector<HWND> g_dialogWindows;
bool g_waitCursor = false;

}  // namespace

UINT WindowDpi(HWND window) {
  const UINT dpi = window ? ::GetDpiForWindow(window) : 0;
  if (dpi != 0) return dpi;
  const HDC screen = ::GetDC(nullptr);
  const int caps = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : kDesignDpi;
  if (screen) ::ReleaseDC(nullptr, screen);
  return caps > 0 ? static_cast<UINT>(caps) : kDesignDpi;
}

HFONT CreateDesignFont(DesignFace face, int height, UINT dpi) {
  LOGFONTW font{};
  font.lfHeight = -Scale(height, dpi);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = DEFAULT_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
  const wchar_t* name = face == DesignFace::Tahoma ? L"Tahoma" : L"MS Sans Serif";
  ::lstrcpynW(font.lfFaceName, name, LF_FACESIZE);
  return ::CreateFontIndirectW(&font);
}

void Place(HWND control, const DesignRect& rect, UINT dpi) {
  ::SetWindowPos(control, nullptr, Scale(rect.left, dpi), Scale(rect.top, dpi),
                 Scale(rect.width, dpi), Scale(rect.height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
}

SIZE FrameSize(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, UINT dpi) {
  RECT rect{0, 0, Scale(clientWidth, dpi), Scale(clientHeight, dpi)};
  ::AdjustWindowRectExForDpi(&rect, style, FALSE, exStyle, dpi);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

void SetFont(HWND control, HFONT font) {
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

Window::~Window() {
  if (handle_) {
    ::SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
    ::DestroyWindow(handle_);
  }
}

void Window::Create(const wchar_t* className, const std::string& caption, DWORD style,
                    DWORD exStyle, HWND owner, HICON icon) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof cls;
  if (!::GetClassInfoExW(instance, className, &cls)) {
    cls = WNDCLASSEXW{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = &Window::Procedure;
    cls.hInstance = instance;
    cls.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = className;
    cls.hIcon = icon;
    cls.hIconSm = icon;
    ::RegisterClassExW(&cls);
  }
  ::CreateWindowExW(exStyle, className, Widen(caption).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                    CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, instance, this);
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return Default(message, wParam, lParam);
}

LRESULT CALLBACK Window::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->handle_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Window*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    self->handle_ = nullptr;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
  return self->HandleMessage(message, wParam, lParam);
}

HWND CreateControl(const wchar_t* className, const std::string& text, DWORD style, DWORD exStyle,
                   HWND parent, int id) {
  return ::CreateWindowExW(exStyle, className, Widen(text).c_str(), WS_CHILD | WS_VISIBLE | style,
                           0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           ::GetModuleHandleW(nullptr), nullptr);
}

std::string GetText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(std::max(length, 0)) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), length + 1)));
  return Narrow(text);
}

void SetText(HWND window, const std::string& text) {
  ::SetWindowTextW(window, Widen(text).c_str());
}

SIZE TextExtent(HWND window, HFONT font, const std::string& text) {
  SIZE size{0, 0};
  const HDC dc = ::GetDC(window);
  if (!dc) return size;
  const HGDIOBJ old = font ? ::SelectObject(dc, font) : nullptr;
  const std::wstring wide = Widen(text);
  // "Aj|" stands in for an empty text so that the height is a line's.
  if (wide.empty()) {
    ::GetTextExtentPoint32W(dc, L"Aj|", 3, &size);
    size.cx = 0;
  } else {
    ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
  }
  if (old) ::SelectObject(dc, old);
  ::ReleaseDC(window, dc);
  return size;
}

void SetAutoSizedText(HWND label, const std::string& text) {
  SetText(label, text);
  const auto font = reinterpret_cast<HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0));
  const SIZE size = TextExtent(label, font, text);
  ::SetWindowPos(label, nullptr, 0, 0, size.cx, size.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void DispatchOne(MSG& msg) {
  if (msg.hwnd) {
    const HWND root = ::GetAncestor(msg.hwnd, GA_ROOT);
    if (std::find(g_dialogWindows.begin(), g_dialogWindows.end(), root) != g_dialogWindows.end() &&
        ::IsDialogMessageW(root, &msg))
      return;
  }
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
}

void AddDialogWindow(HWND window) {
  g_dialogWindows.push_back(window);
}

void RemoveDialogWindow(HWND window) {
  std::erase(g_dialogWindows, window);
}

bool WaitCursorShown() {
  return g_waitCursor;
}

void ShowWaitCursor(bool on) {
  g_waitCursor = on;
  ::SetCursor(::LoadCursorW(nullptr, on ? MAKEINTRESOURCEW(32514) : MAKEINTRESOURCEW(32512)));
}

bool HandleSetCursor() {
  if (!g_waitCursor) return false;
  ::SetCursor(::LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));
  return true;
}

}  // namespace win32

void Win32PlatformUi::ProcessMessages() {
  // Called after every block written: the queue is looked at before anything
  // is taken from it, which costs next to nothing when it is empty.
  if (::GetQueueStatus(QS_ALLINPUT) == 0) return;
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // The message loop that runs the program must still see it.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    win32::DispatchOne(msg);
  }
}

void Win32PlatformUi::MessageBeep(BeepKind kind) {
  ::MessageBeep(static_cast<UINT>(kind));
}

namespace {
UINT IconOf(DialogKind kind) {
  switch (kind) {
    case DialogKind::Warning:
      return MB_ICONWARNING;
    case DialogKind::Information:
      return MB_ICONINFORMATION;
    case DialogKind::Error:
      return MB_ICONERROR;
    case DialogKind::Plain:
      break;
  }
  return 0;
}

PCWSTR TaskIconOf(DialogKind kind) {
  switch (kind) {
    case DialogKind::Warning:
      return TD_WARNING_ICON;
    case DialogKind::Information:
      return TD_INFORMATION_ICON;
    case DialogKind::Error:
      return TD_ERROR_ICON;
    case DialogKind::Plain:
      break;
  }
  return nullptr;
}
}  // namespace

void Win32PlatformUi::ShowMessage(DialogKind kind, const std::string& caption,
                                  const std::string& text) {
  ::MessageBoxW(owner_, win32::Widen(text).c_str(), win32::Widen(caption).c_str(),
                MB_OK | IconOf(kind));
}

void Win32PlatformUi::ShowMessageWithDetails(DialogKind kind, const std::string& caption,
                                             const std::string& text, const std::string& details) {
  // The task dialog of common controls 6 unfolds the details on request; it
  // is looked up at run time, so a program without those controls still
  // starts and shows the plain box.
  using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);
  const HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
  const auto taskDialog = comctl ? reinterpret_cast<TaskDialogIndirectFn>(reinterpret_cast<void*>(
                                       ::GetProcAddress(comctl, "TaskDialogIndirect")))
                                 : nullptr;
  if (details.empty() || !taskDialog) {
    ShowMessage(kind, caption, text);
    return;
  }
  const std::wstring wideCaption = win32::Widen(caption);
  const std::wstring wideText = win32::Widen(text);
  const std::wstring wideDetails = win32::Widen(details);
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.hwndParent = owner_;
  config.dwFlags = TDF_EXPAND_FOOTER_AREA | TDF_ALLOW_DIALOG_CANCELLATION;
  config.dwCommonButtons = TDCBF_OK_BUTTON;
  config.pszWindowTitle = wideCaption.c_str();
  config.pszMainIcon = TaskIconOf(kind);
  config.pszContent = wideText.c_str();
  config.pszExpandedInformation = wideDetails.c_str();
  if (FAILED(taskDialog(&config, nullptr, nullptr, nullptr))) ShowMessage(kind, caption, text);
}

void Win32PlatformUi::SetWaitCursor(bool on) {
  win32::ShowWaitCursor(on);
}
