#include "BrowseEdit_win32.h"

#include <commctrl.h>

#include "FolderPicture.h"

namespace {
constexpr UINT_PTR kSubclassId = 1;
constexpr int kButtonId = 1001;
// The button is the picture's width and a few pixels of face around it.
constexpr int kButtonWidth = 17;
}  // namespace

TCustomBrowseEdit::TCustomBrowseEdit(HWND parent, int id)
    : edit_(win32::CreateControl(L"EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT,
                                 WS_EX_CLIENTEDGE, parent, id)),
      button_(win32::CreateControl(L"BUTTON", "", BS_OWNERDRAW, 0, edit_, kButtonId)) {
  ::SetWindowSubclass(edit_, &TCustomBrowseEdit::EditProc, kSubclassId,
                      reinterpret_cast<DWORD_PTR>(this));
  PlaceButton();
}

TCustomBrowseEdit::~TCustomBrowseEdit() {
  if (::IsWindow(edit_)) ::RemoveWindowSubclass(edit_, &TCustomBrowseEdit::EditProc, kSubclassId);
}

void TCustomBrowseEdit::PlaceButton() {
  RECT client{};
  ::GetClientRect(edit_, &client);
  const int width = win32::Scale(kButtonWidth, win32::WindowDpi(edit_));
  ::SetWindowPos(button_, nullptr, client.right - width, 0, width, client.bottom,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  ::SendMessageW(edit_, EM_SETMARGINS, EC_RIGHTMARGIN, MAKELPARAM(0, width));
}

void TCustomBrowseEdit::DrawButton(const DRAWITEMSTRUCT& item) const {
  RECT face = item.rcItem;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  ::DrawFrameControl(item.hDC, &face, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
  const Picture& picture = FolderPicture();
  const UINT dpi = win32::WindowDpi(button_);
  const int width = win32::Scale(picture.Width, dpi);
  const int height = win32::Scale(picture.Height, dpi);
  const int left = (item.rcItem.left + item.rcItem.right - width) / 2 + (pressed ? 1 : 0);
  const int top = (item.rcItem.top + item.rcItem.bottom - height) / 2 + (pressed ? 1 : 0);
  // Each picture pixel is a block of the scaled size, so the picture stays
  // crisp at any scale.
  for (int y = 0; y < picture.Height; ++y) {
    for (int x = 0; x < picture.Width; ++x) {
      const uint32_t pixel = picture.At(x, y);
      if ((pixel >> 24) == 0) continue;  // the button's face shows through
      const RECT block{left + win32::Scale(x, dpi), top + win32::Scale(y, dpi),
                       left + win32::Scale(x + 1, dpi), top + win32::Scale(y + 1, dpi)};
      const HBRUSH brush =
          ::CreateSolidBrush(RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF));
      ::FillRect(item.hDC, &block, brush);
      ::DeleteObject(brush);
    }
  }
}

void TCustomBrowseEdit::Browse() {
  TBrowseDlg dialog;  // no owner: the application's main window
  dialog.StartFolder = StartFolder;
  dialog.Options = Options;
  dialog.OnInit = OnDialogInit;
  const std::string text = Text();
  if (StartWithLast && !text.empty()) dialog.SetSelectedFolder(text);
  if (dialog.Execute()) SetText(dialog.SelectedFolder());
}

LRESULT CALLBACK TCustomBrowseEdit::EditProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam,
                                             UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<TCustomBrowseEdit*>(data);
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kButtonId && HIWORD(wParam) == BN_CLICKED) {
        // The button is no tab stop: a click leaves the focus in the field,
        // where it comes back to when the dialog closes.
        ::SetFocus(wnd);
        RunGuarded([self] { self->Browse(); });
        return 0;
      }
      break;
    case WM_DRAWITEM:
      if (wParam == kButtonId) {
        self->DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
      }
      break;
    case WM_SIZE:
    case WM_SETFONT: {
      const LRESULT result = ::DefSubclassProc(wnd, message, wParam, lParam);
      self->PlaceButton();
      return result;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (wParam == VK_F4 || (wParam == VK_DOWN && (::GetKeyState(VK_MENU) & 0x8000))) {
        RunGuarded([self] { self->Browse(); });
        return 0;
      }
      break;
    default:
      break;
  }
  return ::DefSubclassProc(wnd, message, wParam, lParam);
}
