#include "Pathlab_win32.h"

#include "ShortenPath.h"

// A path is drawn as it is: an "&" in a name is no accelerator, and the
// drawn width is the measured one.
TPathLabel::TPathLabel(HWND owner, int id)
    : handle_(::CreateWindowExW(0, L"STATIC", L"",
                                WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, 0, 0, 0,
                                owner, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                ::GetModuleHandleW(nullptr), nullptr)) {
  // The owner's drawing surface gives the height of a line; if it cannot,
  // the height stays as it is.
  const auto font = reinterpret_cast<HFONT>(::SendMessageW(owner, WM_GETFONT, 0, 0));
  const SIZE line = win32::TextExtent(owner, font, "Aj|");
  if (line.cy > 0)
    ::SetWindowPos(handle_, nullptr, 0, 0, 0, line.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TPathLabel::SetCaption(const std::string& text) {
  caption_ = text;
  RECT client{};
  ::GetClientRect(handle_, &client);
  const auto font = reinterpret_cast<HFONT>(::SendMessageW(handle_, WM_GETFONT, 0, 0));
  // One drawing surface for all the passes of one shortening.
  const HDC dc = ::GetDC(handle_);
  const HGDIOBJ old = dc && font ? ::SelectObject(dc, font) : nullptr;
  const TextWidth measure = [dc](const std::string& s) {
    const std::wstring wide = win32::Widen(s);
    SIZE size{0, 0};
    if (dc) ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    return static_cast<int>(size.cx);
  };
  const std::string shown =
      ShortenPath(text, client.right - client.left, measure, PathSyntax{'\\', 2, true});
  if (old) ::SelectObject(dc, old);
  if (dc) ::ReleaseDC(handle_, dc);
  win32::SetText(handle_, shown);
}
