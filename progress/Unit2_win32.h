// The progress window on Windows: what a run is doing, written by the run
// driver. It stays on top of other windows without being modal; its close box
// only hides it.
#pragma once

#include <memory>
#include <string>

#include "Pathlab_win32.h"
#include "Win32Ui.h"

inline constexpr const char* kProgressCaption = "Progress";

class TfrmProgress : public win32::Window {
 public:
  // Created hidden; Show centres it over mainWindow, which also owns it.
  explicit TfrmProgress(HWND mainWindow);
  ~TfrmProgress() override;

  // Shows the window on top, centred over the main window, without modality.
  void Show();
  // Hides the window; it and its controls stay alive for the next run.
  void Close();

  // What the run driver writes.
  void SetTotalFiles(const std::string& text);
  void SetStatus(const std::string& text);
  void SetBarPosition(int percent);

  // Controls, named as the layout names them.
  HWND Label3;
  std::unique_ptr<TPathLabel> lblCurrFile;
  HWND Label4;
  HWND lblTotalFiles;
  HWND lblStatus;
  HWND prgBar;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Layout(UINT dpi);

  HWND mainWindow_;
  HFONT font_ = nullptr;
  UINT dpi_ = win32::kDesignDpi;
};
