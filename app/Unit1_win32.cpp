#include "Unit1_win32.h"

#include <commctrl.h>

#include <cstdlib>
#include <tuple>

#include "Files.h"
#include "RunDialogs.h"
#include "Unit2_win32.h"

namespace {
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr int kClientWidth = 438;
constexpr int kClientHeight = 321;
constexpr int kStatusHeight = 17;

// Control ids start above IDOK and IDCANCEL, so that Enter and Escape,
// which the dialog keys turn into those two, press no button.
enum ControlId {
  idGrp1 = 100,
  idMsde,
  idInterbase,
  idGrp2,
  idLabel1,
  idSourceDir,
  idRecursive,
  idLabel2,
  idDestDir,
  idGrp3,
  idLevel,
  idLabel5,
  idRemTags,
  idStart,
  idClose,
  idStatusBar,
};

// The design places a group's controls relative to the group; here they are
// the window's children, so the group's corner is added.
win32::DesignRect In(const win32::DesignRect& group, win32::DesignRect rect) {
  rect.left += group.left;
  rect.top += group.top;
  return rect;
}

constexpr win32::DesignRect kGrp1{8, 5, 337, 52};
constexpr win32::DesignRect kGrp2{8, 60, 337, 149};
constexpr win32::DesignRect kGrp3{8, 213, 337, 84};
}  // namespace

TForm1::TForm1(HICON icon) : SearchFolders(&RunSearch()), ZipWriter1(&RunWriter()) {
  Create(L"TamblewickZipper", kMainCaption, kStyle, kExStyle, nullptr, icon);
  dpi_ = win32::WindowDpi(Handle());
  font_ = win32::CreateDesignFont(win32::DesignFace::MsSansSerif, 11, dpi_);
  statusFont_ = win32::CreateDesignFont(win32::DesignFace::Tahoma, 9, dpi_);
  // The first main window is the application's: owner-less dialogs belong to it.
  TBrowseDlg::SetMainWindow(Handle());
  CreateControls();
  Layout(dpi_);
  win32::AddDialogWindow(Handle());

  SetUpComponents(*SearchFolders, *ZipWriter1);
  FormCreate(nullptr);
}

TForm1::~TForm1() {
  win32::RemoveDialogWindow(Handle());
  edtSourceDir.reset();
  edtDestDir.reset();
  if (font_) ::DeleteObject(font_);
  if (statusFont_) ::DeleteObject(statusFont_);
}

void TForm1::CreateControls() {
  using win32::CreateControl;
  const HWND w = Handle();
  // Created in the tab order: the groups with their controls, Start, Close.
  grp1 = CreateControl(L"BUTTON", "Database Types", BS_GROUPBOX | WS_GROUP | WS_CLIPSIBLINGS, 0, w,
                       idGrp1);
  optMsde = CreateControl(L"BUTTON", "MSDE Databases", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP,
                          0, w, idMsde);
  optInterbase =
      CreateControl(L"BUTTON", "Interbase Databases", BS_AUTORADIOBUTTON, 0, w, idInterbase);
  grp2 = CreateControl(L"BUTTON", "Directory Information", BS_GROUPBOX | WS_GROUP | WS_CLIPSIBLINGS,
                       0, w, idGrp2);
  Label1 =
      CreateControl(L"STATIC", "Select directory containing Tamblewick remote databases:", SS_LEFT,
                    0, w, idLabel1);
  edtSourceDir = std::make_unique<TBrowseEdit>(w, idSourceDir);
  edtSourceDir->StartWithLast = true;
  cbRecursive = CreateControl(L"BUTTON", "Recurse sub-directories?",
                              BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP, 0, w, idRecursive);
  Label2 = CreateControl(L"STATIC", "Select output directory to place zipped databases:", SS_LEFT,
                         0, w, idLabel2);
  edtDestDir = std::make_unique<TBrowseEdit>(w, idDestDir);
  edtDestDir->StartWithLast = false;
  grp3 = CreateControl(L"BUTTON", "Compression File Information",
                       BS_GROUPBOX | WS_GROUP | WS_CLIPSIBLINGS, 0, w, idGrp3);
  cboLevel = CreateControl(L"COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_GROUP,
                           0, w, idLevel);
  for (const wchar_t* level : {L"9", L"8", L"7", L"6", L"5", L"4", L"3", L"2", L"1"})
    ::SendMessageW(cboLevel, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(level));
  Label5 = CreateControl(L"STATIC", "Level (9 = Highest / 1 = Fastest)", SS_LEFT, 0, w, idLabel5);
  chkRemTags = CreateControl(L"BUTTON", "Remove 'QRN_' and '_dat' from zip file name?",
                             BS_AUTOCHECKBOX | WS_TABSTOP, 0, w, idRemTags);
  btnStart =
      CreateControl(L"BUTTON", "&Start", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, w, idStart);
  btnClose = CreateControl(L"BUTTON", "&Close", BS_PUSHBUTTON | WS_TABSTOP, 0, w, idClose);
  StatusBar1 =
      CreateControl(STATUSCLASSNAMEW, "",
                    CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER | WS_GROUP, 0, w, idStatusBar);
  // One panel across the whole bar.
  int panelEnd = -1;
  ::SendMessageW(StatusBar1, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&panelEnd));
  const std::wstring status = win32::Widen(kStatusLine);
  ::SendMessageW(StatusBar1, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(status.c_str()));

  ::SendMessageW(optMsde, BM_SETCHECK, BST_CHECKED, 0);
  ::SendMessageW(chkRemTags, BM_SETCHECK, BST_CHECKED, 0);
}

void TForm1::Layout(UINT dpi) {
  dpi_ = dpi;
  const SIZE frame = win32::FrameSize(kClientWidth, kClientHeight, kStyle, kExStyle, dpi);
  ::SetWindowPos(Handle(), nullptr, 0, 0, frame.cx, frame.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  for (HWND control :
       {grp1, optMsde, optInterbase, grp2, Label1, edtSourceDir->Handle(), cbRecursive, Label2,
        edtDestDir->Handle(), grp3, cboLevel, Label5, chkRemTags, btnStart, btnClose})
    win32::SetFont(control, font_);
  win32::SetFont(StatusBar1, statusFont_);

  using win32::Place;
  Place(grp1, kGrp1, dpi);
  Place(optMsde, In(kGrp1, {24, 24, 121, 17}), dpi);
  Place(optInterbase, In(kGrp1, {176, 24, 121, 17}), dpi);
  Place(grp2, kGrp2, dpi);
  Place(edtSourceDir->Handle(), In(kGrp2, {24, 40, 289, 20}), dpi);
  Place(cbRecursive, In(kGrp2, {24, 64, 137, 17}), dpi);
  Place(edtDestDir->Handle(), In(kGrp2, {24, 109, 289, 20}), dpi);
  Place(grp3, kGrp3, dpi);
  Place(cboLevel, In(kGrp3, {32, 24, 41, 21}), dpi);
  Place(chkRemTags, In(kGrp3, {32, 56, 233, 17}), dpi);
  Place(btnStart, {352, 10, 81, 25}, dpi);
  Place(btnClose, {352, 40, 81, 25}, dpi);
  Place(StatusBar1, {0, kClientHeight - kStatusHeight, kClientWidth, kStatusHeight}, dpi);
  // Labels sit at their place and size themselves to their text.
  for (auto [label, rect] : {std::pair{Label1, In(kGrp2, {24, 24, 0, 0})},
                             {Label2, In(kGrp2, {24, 92, 0, 0})},
                             {Label5, In(kGrp3, {80, 29, 0, 0})}}) {
    Place(label, rect, dpi);
    win32::SetAutoSizedText(label, win32::GetText(label));
  }
  // A drop-down list takes its height from its font; its selection field is
  // made as high as the design's box, and the list drops below it far
  // enough to show every level.
  const int list = win32::Scale(21 * 9, dpi);
  for (int pass = 0; pass < 3; ++pass) {
    // Sized again after each change, which is when the box takes its new height.
    ::SetWindowPos(cboLevel, nullptr, 0, 0, win32::Scale(41, dpi), win32::Scale(21, dpi) + list,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT box{};
    ::GetWindowRect(cboLevel, &box);
    const int lacking = win32::Scale(21, dpi) - (box.bottom - box.top);
    const auto item = static_cast<int>(::SendMessageW(cboLevel, CB_GETITEMHEIGHT, -1, 0));
    if (lacking == 0 || item + lacking <= 0) break;
    ::SendMessageW(cboLevel, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), item + lacking);
  }
}

void TForm1::Show() {
  if (!centred_) {
    centred_ = true;
    RECT own{};
    ::GetWindowRect(Handle(), &own);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    ::SetWindowPos(Handle(), nullptr, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                   (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ::ShowWindow(Handle(), SW_SHOW);
  // As in a dialog, the first control of the tab order has the focus when
  // the window opens, also when showing it did not activate it.
  if (!::IsChild(Handle(), ::GetFocus())) ::SetFocus(focused_ ? focused_ : optMsde);
  ::UpdateWindow(Handle());
}

void TForm1::Close() {
  ::SendMessageW(Handle(), WM_CLOSE, 0, 0);
}

bool TForm1::Checked(HWND button) const {
  return ::SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int TForm1::Level() const {
  const auto index = ::SendMessageW(cboLevel, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return 0;
  wchar_t text[8] = {};
  if (::SendMessageW(cboLevel, CB_GETLBTEXTLEN, index, 0) >= 8) return 0;
  ::SendMessageW(cboLevel, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
  return static_cast<int>(std::wcstol(text, nullptr, 10));
}

void TForm1::FormCreate(TObject*) {
  ::SendMessageW(cboLevel, CB_SETCURSEL, 0, 0);
}

void TForm1::optMsdeClick(TObject*) {
  if (Checked(optMsde)) {
    SearchFolders->FileMask = "*.mdf";
    ::EnableWindow(chkRemTags, TRUE);
  } else {
    SearchFolders->FileMask = "*.gdb";
    ::EnableWindow(chkRemTags, FALSE);
  }
}

void TForm1::btnCloseClick(TObject*) {
  Close();
}

void TForm1::Command(HWND control, WORD code) {
  if (code != BN_CLICKED) return;
  if (control == optMsde || control == optInterbase) {
    // The handler runs only when a click changes the selection.
    const bool msde = Checked(optMsde);
    if (msde == msdeSelected_) return;
    msdeSelected_ = msde;
    RunGuarded([&] { optMsdeClick(nullptr); });
  } else if (control == btnStart) {
    RunGuarded([&] { btnStartClick(nullptr); });
  } else if (control == btnClose) {
    RunGuarded([&] { btnCloseClick(nullptr); });
  }
}

LRESULT TForm1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (lParam != 0) Command(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
      return 0;
    case WM_CLOSE:
      if (CloseQuery()) ::DestroyWindow(Handle());
      return 0;
    case WM_DESTROY:
      win32::RemoveDialogWindow(Handle());
      if (quitOnClose_) ::PostQuitMessage(0);
      return 0;
    case WM_ACTIVATE:
      // As in a dialog, the control that had the focus gets it back when the
      // window is activated again (the default gives it to the window).
      if (LOWORD(wParam) == WA_INACTIVE) {
        if (const HWND focus = ::GetFocus(); ::IsChild(Handle(), focus)) focused_ = focus;
      } else if (!HIWORD(wParam)) {
        const bool usable = focused_ && ::IsWindowEnabled(focused_) && ::IsWindowVisible(focused_);
        ::SetFocus(usable ? focused_ : optMsde);
        return 0;
      }
      break;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);
    case WM_ERASEBKGND: {
      RECT client{};
      ::GetClientRect(Handle(), &client);
      ::FillRect(reinterpret_cast<HDC>(wParam), &client, ::GetSysColorBrush(COLOR_BTNFACE));
      return 1;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      const auto dc = reinterpret_cast<HDC>(wParam);
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_SETCURSOR:
      if (win32::HandleSetCursor()) return TRUE;
      break;
    case WM_DPICHANGED: {
      const HFONT oldFont = font_;
      const HFONT oldStatus = statusFont_;
      const UINT dpi = HIWORD(wParam);
      font_ = win32::CreateDesignFont(win32::DesignFace::MsSansSerif, 11, dpi);
      statusFont_ = win32::CreateDesignFont(win32::DesignFace::Tahoma, 9, dpi);
      Layout(dpi);
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      ::SetWindowPos(Handle(), nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      ::DeleteObject(oldFont);
      ::DeleteObject(oldStatus);
      return 0;
    }
    default:
      break;
  }
  return Default(message, wParam, lParam);
}

void TForm1::btnStartClick(TObject*) {
  StartRun(edtSourceDir->Text(), edtDestDir->Text());
}

TWindowChoices TForm1::Choices() const {
  TWindowChoices choices;
  choices.recursive = Checked(cbRecursive);
  choices.msde = Checked(optMsde);
  choices.removeTags = Checked(chkRemTags);
  choices.level = Level();
  return choices;
}

void TForm1::EnableStartAndClose(bool enabled) {
  ::EnableWindow(btnStart, enabled ? TRUE : FALSE);
  ::EnableWindow(btnClose, enabled ? TRUE : FALSE);
}

void TForm1::ShowProgressWindow() {
  frmProgress->Show();
}

void TForm1::CloseProgressWindow() {
  if (frmProgress) frmProgress->Close();
}

void TForm1::ShowCurrentFile(const std::string& path) {
  frmProgress->lblCurrFile->SetCaption(path);
}

void TForm1::CloseWindow() {
  Close();
}

void TForm1::SearchFoldersProcess(TObject*, const std::string& Dir, int32_t CountFiles, int32_t) {
  frmProgress->lblCurrFile->SetCaption(Dir);
  frmProgress->SetTotalFiles(std::to_string(CountFiles) + " databases found");
}

void TForm1::SearchFoldersChanged(TObject*, int32_t CountFiles, int32_t) {
  frmProgress->lblCurrFile->SetCaption("");
  if (!SearchFolders->FoundFiles.empty()) {
    Ui().SetWaitCursor(true);
    frmProgress->SetTotalFiles(std::to_string(CountFiles) + " databases found");
  }
}

// The writer is the run's; this shows what it is about to zip.
void TForm1::ZipDatabase(const std::string&, const std::string& sourcePath) {
  frmProgress->SetStatus("Zipping " + ExtractFileName(sourcePath) + "...");
  Ui().ProcessMessages();
}

void TForm1::ZipWriter1TotalPercentDone(TObject*, int Percent) {
  frmProgress->SetBarPosition(Percent);
  Ui().ProcessMessages();
}

void TForm1::ZipWriter1ZipComplete(TObject*, int) {
  frmProgress->SetBarPosition(0);
  frmProgress->SetStatus("");
  Ui().ProcessMessages();
}
