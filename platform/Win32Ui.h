// The window services on Windows: the message pump, beeps, message boxes, the
// application-wide cursor, and the drawing helpers the native windows share
// (pixels of the 96-dpi design scaled for a monitor, the design's fonts,
// UTF-8 texts of windows).
#pragma once

#ifndef _WIN32
#error "Win32Ui.h is for the Windows build only"
#endif

#include <string>

#include "Ui.h"
#include "Win32.h"

namespace win32 {

// --- Pixels and fonts ---

// The dots per inch the design's pixels were laid out for.
inline constexpr int kDesignDpi = 96;
// A length of the design in pixels for a monitor of dpi dots per inch.
inline int Scale(int designPixels, UINT dpi) {
  return ::MulDiv(designPixels, static_cast<int>(dpi), kDesignDpi);
}
// The dots per inch of the monitor a window is on (96 where the system cannot say).
UINT WindowDpi(HWND window);

// The design's faces, at a height in design pixels (a negative LOGFONT height:
// the character height without internal leading), scaled for dpi.
enum class DesignFace { MsSansSerif, Tahoma };
HFONT CreateDesignFont(DesignFace face, int height, UINT dpi);

// A control's place in design pixels (relative to the client area it sits in).
struct DesignRect {
  int left = 0, top = 0, width = 0, height = 0;
};
// Moves and sizes control to rect scaled for dpi.
void Place(HWND control, const DesignRect& rect, UINT dpi);
// The outer size of a window of style and exStyle whose client area is
// clientWidth x clientHeight design pixels at dpi.
SIZE FrameSize(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, UINT dpi);
// Gives control the font.
void SetFont(HWND control, HFONT font);

// --- Top-level windows ---

// A top-level window of this program: registers its class once and hands
// its messages to HandleMessage. Owns its window; destroys it on deletion.
class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  virtual ~Window();

  HWND Handle() const { return handle_; }

 protected:
  // Creates the window (hidden) with the class className.
  void Create(const wchar_t* className, const std::string& caption, DWORD style, DWORD exStyle,
              HWND owner, HICON icon);
  virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(handle_, message, wParam, lParam);
  }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  HWND handle_ = nullptr;
};

// A child control of a standard class with id (never IDOK or IDCANCEL, so
// Enter and Escape press nothing).
HWND CreateControl(const wchar_t* className, const std::string& text, DWORD style, DWORD exStyle,
                   HWND parent, int id);

// --- Texts of windows ---

std::string GetText(HWND window);
void SetText(HWND window, const std::string& text);
// The pixel size of text drawn in one line in font on window's surface.
SIZE TextExtent(HWND window, HFONT font, const std::string& text);
// Sets a label's text and sizes it to that text in its font, as an auto-sized label does.
void SetAutoSizedText(HWND label, const std::string& text);

// --- Message processing ---

// Dispatches one message, with the dialog keys (Tab, arrows, Alt+letter)
// handled for the windows registered below.
void DispatchOne(MSG& msg);
// Windows whose controls are walked with Tab and reached by Alt+letter.
void AddDialogWindow(HWND window);
void RemoveDialogWindow(HWND window);

// True while the application-wide cursor is the hour-glass; windows answer
// WM_SETCURSOR with it then.
bool WaitCursorShown();
// Puts the hour-glass up (true) or takes it down.
void ShowWaitCursor(bool on);
// What a window procedure does with WM_SETCURSOR while the hour-glass is up.
bool HandleSetCursor();

}  // namespace win32

// The services for the Windows window program: PeekMessage pumping,
// MessageBeep, MessageBoxW owned by the main window, and the hour-glass.
class Win32PlatformUi : public PlatformUi {
 public:
  // owner: the window that owns the message boxes (the main window).
  void SetOwner(HWND owner) { owner_ = owner; }

  void ProcessMessages() override;
  void MessageBeep(BeepKind kind) override;
  void ShowMessage(DialogKind kind, const std::string& caption, const std::string& text) override;
  void ShowMessageWithDetails(DialogKind kind, const std::string& caption, const std::string& text,
                              const std::string& details) override;
  void SetWaitCursor(bool on) override;

 private:
  HWND owner_ = nullptr;
};
