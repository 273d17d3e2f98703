// Start-up on Windows: the common controls, the application title, the main
// window, then the hidden progress window, and the message loop until the
// main window closes.
// clang-format off
#include "Win32Ui.h"  // <windows.h> first, as the other system headers need it
// clang-format on

#include <commctrl.h>
#include <objbase.h>

#include "RunDialogs.h"
#include "Ui.h"
#include "Unit1_win32.h"
#include "Unit2_win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The shell's folder browser needs COM on this thread.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX controls{sizeof controls,
                                ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
  // The application title is the standard error box's caption (Ui.h); the
  // taskbar shows the main window's own caption.
  Win32PlatformUi ui;
  SetUi(&ui);
  InstallWriterServices();

  int rc = 0;
  {
    const auto icon = static_cast<HICON>(
        ::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    TForm1 form(icon);
    ui.SetOwner(form.Handle());
    TfrmProgress progress(form.Handle());
    form.SetProgressWindow(&progress);
    form.SetQuitOnClose(true);
    form.Show();
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) win32::DispatchOne(msg);
    rc = static_cast<int>(msg.wParam);
    ui.SetOwner(nullptr);
  }
  SetUi(nullptr);
  if (SUCCEEDED(com)) ::CoUninitialize();
  return rc;
}
