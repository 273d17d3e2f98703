// The native main window, driven in-process by messages as a user's clicks
// would drive it: its initial state against the layout's numbers, the
// database type switch, Start's warnings, whole runs with their report, the
// error that ends a run, closing during a run, the folder dialog, and the path
// label's shortening in the real font. Runs under Wine with an X display.
#include <gtest/gtest.h>

// clang-format off
#include "Win32Ui.h"  // <windows.h> first, as the other system headers need it
// clang-format on

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "BrowseRules.h"
#include "File.h"
#include "FolderPicture.h"
#include "RecorderUi.h"
#include "Unit1_win32.h"
#include "Unit2_win32.h"
#include "WinShot.h"
#include "WinTestSupport.h"

namespace {

struct Rect {
  int left, top, width, height;
  friend bool operator==(const Rect&, const Rect&) = default;
};
std::ostream& operator<<(std::ostream& out, const Rect& r) {
  return out << "(" << r.left << ", " << r.top << ", " << r.width << " x " << r.height << ")";
}

// A control's bounds in its top-level window's client area.
Rect BoundsOf(HWND control) {
  RECT r{};
  ::GetWindowRect(control, &r);
  ::MapWindowPoints(nullptr, ::GetAncestor(control, GA_ROOT), reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

LOGFONTW FontOf(HWND control) {
  LOGFONTW font{};
  const auto handle = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
  if (handle) ::GetObjectW(handle, sizeof font, &font);
  return font;
}

bool Checked(HWND button) {
  return ::SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}
bool Enabled(HWND window) {
  return ::IsWindowEnabled(window) != FALSE;
}
bool Visible(HWND window) {
  return ::IsWindowVisible(window) != FALSE;
}
void Click(HWND button) {
  ::SendMessageW(button, BM_CLICK, 0, 0);
}

std::string ReadAll(const std::string& path) {
  const THandle h = FileOpen(path, TFileAccess::Read);
  if (h == InvalidHandle) return "<missing>";
  std::string content(static_cast<size_t>(FileSizeOf(h)), '\0');
  content.resize(static_cast<size_t>(FileRead(h, content.data(), FileSizeOf(h)).count));
  FileClose(h);
  return content;
}

// The names of the files in a folder, sorted.
std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW data;
  const HANDLE find = ::FindFirstFileW(win32::Widen(dir + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      names.push_back(win32::Narrow(data.cFileName));
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

// Where the pictures of the windows go: the build tree, or TW_WINUI_SHOTS.
std::string ShotPath(const std::string& name) {
  const char* dir = std::getenv("TW_WINUI_SHOTS");
  return dir && *dir ? std::string(dir) + "\\" + name : name;
}

struct Fixture {
  RecorderUi ui;
  TForm1 form;
  TfrmProgress progress{form.Handle()};
  UINT dpi = win32::WindowDpi(form.Handle());

  Fixture() { form.SetProgressWindow(&progress); }
  // The design's pixels on this monitor.
  Rect Design(int left, int top, int width, int height) const {
    return {win32::Scale(left, dpi), win32::Scale(top, dpi), win32::Scale(width, dpi),
            win32::Scale(height, dpi)};
  }
  void Folders(const std::string& source, const std::string& output) {
    form.edtSourceDir->SetText(source);
    form.edtDestDir->SetText(output);
  }
};

// The size a label of text takes in control's font.
SIZE Measured(HWND control, const std::string& text) {
  return win32::TextExtent(
      control, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)), text);
}

}  // namespace

// Every control's class, bounds, text, state and font, the window's caption,
// frame and size, and the tab order, as the layout gives them; then the
// pictures of both windows for the README.
TEST(MainWindow, StartsInTheDesignedState) {
  Fixture f;
  TForm1& w = f.form;
  const HWND main = w.Handle();
  // A run on a scaled screen says which scale it expects.
  if (const char* dpi = std::getenv("TW_WINUI_DPI"); dpi && *dpi) {
    EXPECT_EQ(f.dpi, static_cast<UINT>(std::atoi(dpi)));
  }
  EXPECT_EQ(win32::GetText(main), "Tamblewick Remote Database Zipper (v2.0.0)");
  const auto style = static_cast<DWORD>(::GetWindowLongPtrW(main, GWL_STYLE));
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  EXPECT_TRUE(::GetWindowLongPtrW(main, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
  RECT client{};
  ::GetClientRect(main, &client);
  EXPECT_EQ(client.right, win32::Scale(438, f.dpi));
  EXPECT_EQ(client.bottom, win32::Scale(321, f.dpi));

  struct Expected {
    HWND control;
    const wchar_t* cls;
    Rect bounds;
    const char* text;
  };
  const Expected controls[] = {
      {w.grp1, L"Button", f.Design(8, 5, 337, 52), "Database Types"},
      {w.optMsde, L"Button", f.Design(32, 29, 121, 17), "MSDE Databases"},
      {w.optInterbase, L"Button", f.Design(184, 29, 121, 17), "Interbase Databases"},
      {w.grp2, L"Button", f.Design(8, 60, 337, 149), "Directory Information"},
      {w.edtSourceDir->Handle(), L"Edit", f.Design(32, 100, 289, 20), ""},
      {w.cbRecursive, L"Button", f.Design(32, 124, 137, 17), "Recurse sub-directories?"},
      {w.edtDestDir->Handle(), L"Edit", f.Design(32, 169, 289, 20), ""},
      {w.grp3, L"Button", f.Design(8, 213, 337, 84), "Compression File Information"},
      {w.cboLevel, L"ComboBox", f.Design(40, 237, 41, 21), "9"},
      {w.chkRemTags, L"Button", f.Design(40, 269, 233, 17),
       "Remove 'QRN_' and '_dat' from zip file name?"},
      {w.btnStart, L"Button", f.Design(352, 10, 81, 25), "&Start"},
      {w.btnClose, L"Button", f.Design(352, 40, 81, 25), "&Close"},
      {w.StatusBar1, STATUSCLASSNAMEW, f.Design(0, 304, 438, 17), ""},
  };
  for (const Expected& e : controls) {
    SCOPED_TRACE(e.text);
    EXPECT_EQ(::GetParent(e.control), main);
    EXPECT_EQ(_wcsicmp(ClassOf(e.control).c_str(), e.cls), 0) << win32::Narrow(ClassOf(e.control));
    const Rect at = BoundsOf(e.control);
    if (e.control == w.cboLevel && RunningUnderWine()) {
      // Wine keeps a drop-down list at least as high as its font wants,
      // which on a scaled screen is a pixel or two above the design's box.
      EXPECT_EQ((Rect{at.left, at.top, at.width, 0}),
                (Rect{e.bounds.left, e.bounds.top, e.bounds.width, 0}));
      EXPECT_GE(at.height, e.bounds.height);
      EXPECT_LE(at.height, e.bounds.height + win32::Scale(2, f.dpi));
    } else {
      EXPECT_EQ(at, e.bounds);
    }
    if (e.control != w.StatusBar1) {
      EXPECT_EQ(win32::GetText(e.control), e.text);
    }
    EXPECT_TRUE(Enabled(e.control));
    const LOGFONTW font = FontOf(e.control);
    const bool status = e.control == w.StatusBar1;
    EXPECT_STREQ(font.lfFaceName, status ? L"Tahoma" : L"MS Sans Serif");
    EXPECT_EQ(font.lfHeight, -win32::Scale(status ? 9 : 11, f.dpi));
  }
  // Labels: at their place, sized to their text (the design's sizes, give or
  // take the pixel its face may differ by).
  const struct {
    HWND label;
    Rect design;
    const char* text;
  } labels[] = {
      {w.Label1, f.Design(32, 84, 269, 13),
       "Select directory containing Tamblewick remote databases:"},
      {w.Label2, f.Design(32, 152, 236, 13), "Select output directory to place zipped databases:"},
      {w.Label5, f.Design(88, 242, 152, 13), "Level (9 = Highest / 1 = Fastest)"},
  };
  for (const auto& l : labels) {
    SCOPED_TRACE(l.text);
    EXPECT_EQ(win32::GetText(l.label), l.text);
    const Rect at = BoundsOf(l.label);
    EXPECT_EQ(at.left, l.design.left);
    EXPECT_EQ(at.top, l.design.top);
    const SIZE text = Measured(l.label, l.text);
    EXPECT_EQ(at.width, text.cx);
    EXPECT_EQ(at.height, text.cy);
    // Wine's "MS Sans Serif" runs a few per cent wider than Windows' own.
    if (!RunningUnderWine()) {
      EXPECT_NEAR(at.width, l.design.width, win32::Scale(1, f.dpi));
      EXPECT_NEAR(at.height, l.design.height, win32::Scale(1, f.dpi));
    }
  }
  // The status bar's one line.
  wchar_t status[128] = {};
  ::SendMessageW(w.StatusBar1, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(status));
  EXPECT_EQ(win32::Narrow(status), kStatusLine);

  // Initial state: MSDE, mask *.mdf, tags checked and enabled, no recursion,
  // level 9 of the nine levels, progress window hidden.
  EXPECT_TRUE(Checked(w.optMsde));
  EXPECT_FALSE(Checked(w.optInterbase));
  EXPECT_EQ(w.FileMask(), "*.mdf");
  EXPECT_TRUE(Checked(w.chkRemTags));
  EXPECT_FALSE(Checked(w.cbRecursive));
  EXPECT_EQ(::SendMessageW(w.cboLevel, CB_GETCOUNT, 0, 0), 9);
  EXPECT_EQ(::SendMessageW(w.cboLevel, CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(::GetWindowLongPtrW(w.cboLevel, GWL_STYLE) & 3, CBS_DROPDOWNLIST);
  EXPECT_FALSE(Visible(f.progress.Handle()));

  // No default or cancel button: neither button is a default one, and the
  // ids that Enter and Escape turn into name no control.
  for (HWND button : {w.btnStart, w.btnClose})
    EXPECT_EQ(::GetWindowLongPtrW(button, GWL_STYLE) & 0xF, BS_PUSHBUTTON);
  EXPECT_EQ(::GetDlgItem(main, IDOK), nullptr);
  EXPECT_EQ(::GetDlgItem(main, IDCANCEL), nullptr);
  ::SendMessageW(main, WM_COMMAND, IDOK, 0);
  ::SendMessageW(main, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(f.ui.messages.empty());
  EXPECT_TRUE(::IsWindow(main));

  // Tab order: the groups' controls in their order, then Start and Close.
  const HWND order[] = {w.optMsde,     w.edtSourceDir->Handle(),
                        w.cbRecursive, w.edtDestDir->Handle(),
                        w.cboLevel,    w.chkRemTags,
                        w.btnStart,    w.btnClose,
                        w.optMsde};
  for (size_t i = 0; i + 1 < std::size(order); ++i)
    EXPECT_EQ(::GetNextDlgTabItem(main, order[i], FALSE), order[i + 1]) << "after stop " << i;

  // Shown centred on the screen.
  w.Show();
  RECT frame{};
  ::GetWindowRect(main, &frame);
  EXPECT_NEAR(frame.left + (frame.right - frame.left) / 2, ::GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR(frame.top + (frame.bottom - frame.top) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2, 1);

  // The progress window: caption, size, on top, its controls where designed.
  TfrmProgress& p = f.progress;
  EXPECT_EQ(win32::GetText(p.Handle()), "Progress");
  EXPECT_TRUE(::GetWindowLongPtrW(p.Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_FALSE(::GetWindowLongPtrW(p.Handle(), GWL_STYLE) &
               (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
  ::GetClientRect(p.Handle(), &client);
  EXPECT_EQ(client.right, win32::Scale(359, f.dpi));
  EXPECT_EQ(client.bottom, win32::Scale(125, f.dpi));
  EXPECT_EQ(BoundsOf(p.lblCurrFile->Handle()), f.Design(88, 17, 241, 17));
  EXPECT_EQ(BoundsOf(p.prgBar), f.Design(24, 88, 313, 17));
  EXPECT_EQ(_wcsicmp(ClassOf(p.prgBar).c_str(), PROGRESS_CLASSW), 0);
  for (auto [label, left, top, width, text] : {std::tuple{p.Label3, 24, 17, 56, "Current File:"},
                                               {p.Label4, 24, 37, 51, "Total Files:"}}) {
    EXPECT_EQ(win32::GetText(label), text);
    const Rect at = BoundsOf(label);
    EXPECT_EQ(at.left, win32::Scale(left, f.dpi));
    EXPECT_EQ(at.top, win32::Scale(top, f.dpi));
    if (!RunningUnderWine()) {
      EXPECT_NEAR(at.width, win32::Scale(width, f.dpi), win32::Scale(1, f.dpi));
    }
  }
  EXPECT_EQ(BoundsOf(p.lblTotalFiles).left, win32::Scale(88, f.dpi));
  EXPECT_EQ(BoundsOf(p.lblStatus).top, win32::Scale(70, f.dpi));
  EXPECT_STREQ(FontOf(p.lblCurrFile->Handle()).lfFaceName, L"MS Sans Serif");

  // Pictures: the main window as it starts, the progress window mid-run.
  w.edtSourceDir->SetText(R"(C:\Data\Tamblewick\Remote)");
  w.edtDestDir->SetText(R"(D:\Backup)");
  EXPECT_TRUE(winshot::SaveWindowPng(main, ShotPath("main-window-windows.png")));
  p.Show();
  p.lblCurrFile->SetCaption(R"(C:\Data\Tamblewick\Remote\Users\Office\QRN_Sales_dat.mdf)");
  p.SetTotalFiles("3 databases found");
  p.SetStatus("Zipping QRN_Sales_dat.mdf...");
  p.SetBarPosition(42);
  EXPECT_TRUE(winshot::SaveWindowPng(p.Handle(), ShotPath("progress-window-windows.png")));
  p.Close();
}

// The database type sets the mask and the tag option's state, never its mark;
// a click on the button already selected runs nothing.
TEST(MainWindow, DatabaseTypeSwitchesMaskAndTagOption) {
  Fixture f;
  TForm1& w = f.form;
  Click(w.optInterbase);
  EXPECT_TRUE(Checked(w.optInterbase));
  EXPECT_FALSE(Checked(w.optMsde));
  EXPECT_EQ(w.FileMask(), "*.gdb");
  EXPECT_FALSE(Enabled(w.chkRemTags));
  EXPECT_TRUE(Checked(w.chkRemTags));

  w.SearchFolders->FileMask = "unchanged";
  Click(w.optInterbase);
  EXPECT_EQ(w.FileMask(), "unchanged");
  w.SearchFolders->FileMask = "*.gdb";

  Click(w.optMsde);
  EXPECT_EQ(w.FileMask(), "*.mdf");
  EXPECT_TRUE(Enabled(w.chkRemTags));
  EXPECT_TRUE(Checked(w.chkRemTags));
  Click(w.chkRemTags);
  Click(w.optInterbase);
  Click(w.optMsde);
  EXPECT_FALSE(Checked(w.chkRemTags));
  EXPECT_TRUE(f.ui.messages.empty());
}

// Start with a field empty, or naming a folder that is not there or not a
// folder: the exclamation beep and one warning, and no run.
TEST(MainWindow, StartWarnsAboutMissingFolders) {
  Fixture f;
  TForm1& w = f.form;
  WinTempDir tmp;
  const std::string file = tmp.File("plain.txt", "x");
  const std::string missing = tmp.Path("not-there");
  const struct {
    std::string source, output, text;
  } cases[] = {
      {"", "", "You must first select directories."},
      {tmp.Root(), "", "You must first select directories."},
      {"", tmp.Root(), "You must first select directories."},
      {missing, tmp.Root(), "The source directory " + missing + " does not exist."},
      {tmp.Root(), file, "The output directory " + file + " is not a directory."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    f.ui.messages.clear();
    f.ui.beeps.clear();
    f.Folders(c.source, c.output);
    Click(w.btnStart);
    ASSERT_EQ(f.ui.messages.size(), 1u);
    EXPECT_EQ(f.ui.messages[0].kind, DialogKind::Warning);
    EXPECT_EQ(f.ui.messages[0].caption, "Warning");
    EXPECT_EQ(f.ui.messages[0].text, c.text);
    EXPECT_EQ(f.ui.beeps, std::vector<BeepKind>{BeepKind::Exclamation});
    EXPECT_FALSE(Visible(f.progress.Handle()));
    EXPECT_TRUE(Enabled(w.btnStart) && Enabled(w.btnClose));
    EXPECT_TRUE(f.ui.cursorChanges.empty());
  }
  EXPECT_EQ(FilesIn(tmp.Root()), std::vector<std::string>{"plain.txt"});
}

// A whole run, recursive, at level 6, with the tags removed: the progress
// window shows the run, Start and Close are disabled, the hour-glass is up
// only while zipping, and the end report follows. With TW_WINUI_KEEP set the
// tree and its archives stay there for the independent readers.
TEST(MainWindow, RunZipsEveryDatabaseFound) {
  Fixture f;
  TForm1& w = f.form;
  WinTempDir tmp;
  const char* keep = std::getenv("TW_WINUI_KEEP");
  const std::string base = keep && *keep ? keep : tmp.Root();
  const auto dir = [&](const std::string& relative) {
    const std::string path = base + "\\" + relative;
    ::CreateDirectoryW(win32::FilePath(path).c_str(), nullptr);
    return path;
  };
  const std::string src = dir("src");
  dir("src\\sub");
  dir("src\\sub\\deeper");
  const std::string out = dir("out");
  const auto file = [&](const std::string& relative, const std::string& content) {
    const THandle h = FileCreate(src + "\\" + relative);
    ASSERT_NE(h, InvalidHandle);
    FileWrite(h, content.data(), static_cast<int64_t>(content.size()));
    FileClose(h);
  };
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "row " + std::to_string(i * 7919 % 1000) + ";";
  file("QRN_Sales_dat.mdf", text);
  file("sub\\qrn_Office_DAT.MDF", text.substr(1000));
  file("sub\\deeper\\Stock.mdf", std::string(70000, '\0'));
  file("sub\\Ignored.gdb", "interbase");
  file("Empty.mdf", "");
  f.Folders(src, out);
  Click(w.cbRecursive);
  ::SendMessageW(w.cboLevel, CB_SETCURSEL, 3, 0);  // "6"

  bool sawRunning = false, sawZipping = false;
  f.ui.onProcessMessages = [&] {
    // Shown, not modal: the main window stays usable, but for Start and Close.
    if (Visible(f.progress.Handle()) && !Enabled(w.btnStart) && !Enabled(w.btnClose) &&
        Enabled(w.Handle()) && Enabled(w.cboLevel) && w.Running())
      sawRunning = true;
    if (win32::GetText(f.progress.lblStatus).starts_with("Zipping ") && f.ui.waitCursor)
      sawZipping = true;
  };
  Click(w.btnStart);
  f.ui.onProcessMessages = nullptr;
  EXPECT_TRUE(sawRunning);
  EXPECT_TRUE(sawZipping);

  EXPECT_EQ(FilesIn(out),
            (std::vector<std::string>{"empty.zip", "office.zip", "sales.zip", "stock.zip"}));
  for (const char* name : {"empty.zip", "office.zip", "sales.zip", "stock.zip"})
    EXPECT_TRUE(ReadAll(out + "\\" + name).starts_with("PK\x03\x04")) << name;
  ASSERT_EQ(f.ui.messages.size(), 1u);
  EXPECT_EQ(f.ui.messages[0].kind, DialogKind::Information);
  EXPECT_EQ(f.ui.messages[0].caption, "Information");
  EXPECT_EQ(f.ui.messages[0].text, "Process Complete!");
  EXPECT_EQ(f.ui.beeps, std::vector<BeepKind>{BeepKind::Asterisk});
  EXPECT_EQ(f.ui.cursorChanges, (std::vector<bool>{true, false}));
  EXPECT_TRUE(Enabled(w.btnStart) && Enabled(w.btnClose));
  EXPECT_FALSE(Visible(f.progress.Handle()));
  EXPECT_EQ(win32::GetText(f.progress.lblTotalFiles), "4 databases found");
  EXPECT_EQ(win32::GetText(f.progress.lblStatus), "");
  EXPECT_EQ(::SendMessageW(f.progress.prgBar, PBM_GETPOS, 0, 0), 0);
  EXPECT_TRUE(f.ui.processed > 0);

  // A second run over the same folders, Interbase this time: only the .gdb,
  // its tags kept, and the archives of the first run left as they were.
  const std::string sales = ReadAll(out + "\\sales.zip");
  Click(w.optInterbase);
  f.ui.messages.clear();
  Click(w.btnStart);
  EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"empty.zip", "ignored.zip", "office.zip",
                                                    "sales.zip", "stock.zip"}));
  EXPECT_EQ(ReadAll(out + "\\sales.zip"), sales);
  ASSERT_EQ(f.ui.messages.size(), 1u);
  EXPECT_EQ(f.ui.messages[0].text, "Process Complete!");
  if (keep && *keep) {
    // The independent check compares with the other zipper's MSDE run.
    ::DeleteFileW(win32::Widen(out + "\\ignored.zip").c_str());
  }
}

// What goes wrong with one database is reported at the end, capped, with the
// whole list as details, and the run goes on; an error that no database can
// be blamed for ends the run with the standard error box, and the window is
// idle again.
TEST(MainWindow, ErrorsAreReportedAndTheWindowReturnsToIdle) {
  Fixture f;
  TForm1& w = f.form;
  WinTempDir tmp;
  const std::string src = tmp.Dir("src");
  const std::string out = tmp.Dir("out");
  tmp.File("src\\a.mdf", "first");
  tmp.File("src\\b.mdf", "second");
  for (int i = 0; i < 25; ++i) tmp.Dir("src\\folder" + std::to_string(i) + ".mdf");
  // A database its server holds open without sharing.
  const HANDLE locked = ::CreateFileW(win32::Widen(tmp.File("src\\locked.mdf", "busy")).c_str(),
                                      GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  f.Folders(src, out);
  Click(w.btnStart);
  ::CloseHandle(locked);
  ASSERT_EQ(f.ui.messages.size(), 1u);
  const RecorderUi::Message& end = f.ui.messages[0];
  EXPECT_EQ(end.kind, DialogKind::Warning);
  EXPECT_EQ(end.caption, "Warning");
  EXPECT_TRUE(end.text.starts_with("Process Complete!\n\nSome databases were not archived:\n"))
      << end.text;
  EXPECT_NE(end.text.find("not a regular file"), std::string::npos) << end.text;
  // 26 cases: 20 shown, the rest counted; the details hold every one.
  EXPECT_TRUE(end.text.ends_with("\nand 6 more")) << end.text;
  EXPECT_EQ(std::count(end.details.begin(), end.details.end(), '\n'), 26);
  EXPECT_NE(end.details.find(tmp.Path("src\\locked.mdf") +
                             ": is in use by another program (detach the database or stop "
                             "its service first)"),
            std::string::npos)
      << end.details;
  EXPECT_EQ(f.ui.beeps, std::vector<BeepKind>{BeepKind::Exclamation});
  EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"a.zip", "b.zip"}));
  EXPECT_TRUE(Enabled(w.btnStart) && Enabled(w.btnClose));

  // Something no database can be blamed for ends the run.
  w.ZipWriter1->OnTotalPercentDone = [](TObject*, int) { throw std::runtime_error("Out of luck"); };
  f.ui.messages.clear();
  ::DeleteFileW(win32::Widen(out + "\\a.zip").c_str());
  ::DeleteFileW(win32::Widen(out + "\\b.zip").c_str());
  Click(w.btnStart);
  ASSERT_EQ(f.ui.messages.size(), 1u);
  EXPECT_EQ(f.ui.messages[0].kind, DialogKind::Error);
  EXPECT_EQ(f.ui.messages[0].caption, "Tamblewick Remote Database Zipper");
  EXPECT_EQ(f.ui.messages[0].text, "Out of luck.");
  EXPECT_TRUE(Enabled(w.btnStart) && Enabled(w.btnClose));
  EXPECT_FALSE(Visible(f.progress.Handle()));
  EXPECT_FALSE(f.ui.waitCursor);
  EXPECT_FALSE(w.Running());
  EXPECT_TRUE(FilesIn(out).empty());
}

// Closing the window during a run abandons the archive being written (its
// previous version stays), zips nothing more, and then closes the window.
TEST(MainWindow, ClosingDuringARunCancelsIt) {
  Fixture f;
  TForm1& w = f.form;
  WinTempDir tmp;
  const std::string src = tmp.Dir("src");
  const std::string out = tmp.Dir("out");
  std::string big(3 << 20, 'a');
  for (size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 23);
  tmp.File("src\\a.mdf", big);
  tmp.File("src\\b.mdf", big);
  const std::string older = "PK\x03\x04 an older archive";
  tmp.File("out\\a.zip", older);
  tmp.File("out\\b.zip", older);
  f.Folders(src, out);
  w.Show();
  const HWND main = w.Handle();
  bool closed = false;
  f.ui.onProcessMessages = [&] {
    if (!closed && ::SendMessageW(f.progress.prgBar, PBM_GETPOS, 0, 0) > 0) {
      closed = true;
      ::SendMessageW(main, WM_CLOSE, 0, 0);
      EXPECT_TRUE(::IsWindow(main));  // refused for now
    }
  };
  Click(w.btnStart);
  EXPECT_TRUE(closed);
  EXPECT_FALSE(::IsWindow(main));
  EXPECT_TRUE(f.ui.messages.empty());
  EXPECT_FALSE(f.ui.waitCursor);
  EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"a.zip", "b.zip"}));
  EXPECT_EQ(ReadAll(out + "\\a.zip"), older);
  EXPECT_EQ(ReadAll(out + "\\b.zip"), older);
}

TEST(MainWindow, CloseButtonClosesTheWindow) {
  Fixture f;
  f.form.Show();
  const HWND main = f.form.Handle();
  Click(f.form.btnClose);
  EXPECT_FALSE(::IsWindow(main));
}

namespace {
// What the folder dialog showed when it had been set up.
struct DialogSeen {
  bool opened = false;
  bool okEnabled = true;
  std::string selected;  // the selected tree item's text
  bool editBox = true;
  RECT bounds{};
  std::string caption;
};

std::string SelectedItemText(HWND dialog) {
  const HWND tree = ::FindWindowExW(dialog, nullptr, WC_TREEVIEWW, nullptr);
  if (!tree) return "<no tree>";
  const auto item =
      reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (!item) return {};
  wchar_t text[MAX_PATH] = {};
  TVITEMW tv{};
  tv.mask = TVIF_TEXT;
  tv.hItem = item;
  tv.pszText = text;
  tv.cchTextMax = MAX_PATH;
  ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
  return win32::Narrow(text);
}

// The dialog being watched and what to press once its selection has settled.
struct Watched {
  HWND dialog = nullptr;
  DialogSeen* seen = nullptr;
  bool ok = false;
  int looks = 0;
} g_watched;

void CALLBACK ReadSelectionAndClose(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  const Watched w = g_watched;
  w.seen->selected = SelectedItemText(w.dialog);
  // On a busy machine the shell's tree may take seconds to reach the folder.
  if (w.seen->selected.empty() && ++g_watched.looks < 10) {
    ::SetTimer(nullptr, 0, 300, &ReadSelectionAndClose);
    return;
  }
  if (w.ok) ::SendMessageW(w.dialog, BFFM_ENABLEOK, 0, 1);
  ::PostMessageW(w.dialog, WM_COMMAND, w.ok ? IDOK : IDCANCEL, 0);
}

// Watches the dialog the field opens: its state as set up, then (a moment
// later, once the shell's tree has followed the selection) the selected
// folder; then presses OK (enabling it first) or Cancel.
void Watch(TBrowseEdit& field, DialogSeen& seen, bool ok) {
  field.OnDialogInit = [&seen, ok](TObject* sender) {
    const HWND dialog = static_cast<TBrowseDlg*>(sender)->DialogWindow();
    seen.opened = true;
    seen.okEnabled = ::IsWindowEnabled(::GetDlgItem(dialog, IDOK)) != FALSE;
    // Only file-system folders, and neither an edit box nor a status line.
    seen.editBox = ::FindWindowExW(dialog, nullptr, L"Edit", nullptr) != nullptr;
    ::GetWindowRect(dialog, &seen.bounds);
    seen.caption = win32::GetText(dialog);
    g_watched = {dialog, &seen, ok, 0};
    ::SetTimer(nullptr, 0, 300, &ReadSelectionAndClose);
  };
}
}  // namespace

// The source field opens the shell's folder dialog on the folder it names,
// with OK disabled, centred on the main window; OK puts the chosen folder in
// the field, Cancel leaves it; the output field opens without a selection.
TEST(MainWindow, FolderDialogOpensOnTheFieldsFolder) {
  Fixture f;
  TForm1& w = f.form;
  WinTempDir tmp;
  const std::string folder = tmp.Dir("Databases Here");
  w.Show();
  ::SetForegroundWindow(w.Handle());

  DialogSeen seen;
  w.edtSourceDir->SetText(folder);
  // Under Wine on a loaded machine the shell's tree now and then shows no
  // selection at all, whatever was asked of it: the dialog is opened again.
  for (int tries = 0; tries < 4 && seen.selected.empty(); ++tries) {
    seen = {};
    Watch(*w.edtSourceDir, seen, false);
    Click(w.edtSourceDir->Button());
    ASSERT_TRUE(seen.opened);
  }
  EXPECT_FALSE(seen.okEnabled);
  EXPECT_FALSE(seen.editBox);
  // The shell's own caption stays (the Qt stand-in shows Wine's).
  if (RunningUnderWine()) {
    EXPECT_EQ(seen.caption, "Browse for Folder");
  }
  EXPECT_EQ(seen.selected, "Databases Here");
  EXPECT_EQ(w.edtSourceDir->Text(), folder);  // cancelled
  RECT main{};
  ::GetWindowRect(w.Handle(), &main);
  const TDlgPoint expected =
      CentreDialog({main.left, main.top, main.right, main.bottom},
                   {seen.bounds.right - seen.bounds.left, seen.bounds.bottom - seen.bounds.top},
                   {::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)});
  EXPECT_EQ(seen.bounds.left, expected.Left);
  EXPECT_EQ(seen.bounds.top, expected.Top);

  seen = {};
  Watch(*w.edtSourceDir, seen, true);
  w.edtSourceDir->SetText(folder + "\\");
  Click(w.edtSourceDir->Button());
  ASSERT_TRUE(seen.opened);
  EXPECT_FALSE(seen.okEnabled);
  EXPECT_TRUE(SameFileName(w.edtSourceDir->Text(), folder)) << w.edtSourceDir->Text();

  // The output field does not start on the folder it names.
  seen = {};
  w.edtDestDir->SetText(folder);
  Watch(*w.edtDestDir, seen, false);
  Click(w.edtDestDir->Button());
  ASSERT_TRUE(seen.opened);
  EXPECT_FALSE(seen.okEnabled);
  EXPECT_NE(seen.selected, "Databases Here");
  EXPECT_EQ(w.edtDestDir->Text(), folder);
  EXPECT_TRUE(f.ui.messages.empty());
}

namespace {
// What the keyboard does in the window: a key pressed on the control that has
// the focus, through the program's message dispatch.
void Press(WPARAM key) {
  MSG msg{::GetFocus(), WM_KEYDOWN, key, 1, 0, {}};
  win32::DispatchOne(msg);
  msg.message = WM_KEYUP;
  msg.lParam = static_cast<LPARAM>(0xC0000001);
  win32::DispatchOne(msg);
}

// The leftmost and rightmost columns, relative to rect, in which shot has text
// (dark pixels); -1 when there is none.
std::pair<int, int> InkColumns(const winshot::Shot& shot, const Rect& rect) {
  std::pair<int, int> ink{-1, -1};
  for (int x = std::max(rect.left, 0); x < std::min(rect.left + rect.width, shot.width); ++x) {
    for (int y = std::max(rect.top, 0); y < std::min(rect.top + rect.height, shot.height); ++y) {
      const uint32_t p = shot.At(x, y);
      if (((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) < 3 * 100) {
        if (ink.first < 0) ink.first = x - rect.left;
        ink.second = x - rect.left;
        break;
      }
    }
  }
  return ink;
}
}  // namespace

// The window opens with the focus on MSDE, as a dialog gives it to the first
// stop; the arrow keys move the selection within the group, Tab walks the
// designed chain (the browse buttons are no stops) and comes round; the focus
// comes back to its control when the window is activated again.
TEST(MainWindow, OpensWithTheFocusOnMsdeAndTabsAlongTheChain) {
  Fixture f;
  TForm1& w = f.form;
  w.Show();
  EXPECT_EQ(::GetFocus(), w.optMsde);
  Press(VK_DOWN);
  EXPECT_EQ(::GetFocus(), w.optInterbase);
  EXPECT_TRUE(Checked(w.optInterbase));
  EXPECT_EQ(w.FileMask(), "*.gdb");
  Press(VK_UP);
  EXPECT_EQ(::GetFocus(), w.optMsde);
  EXPECT_TRUE(Checked(w.optMsde));
  EXPECT_EQ(w.FileMask(), "*.mdf");

  for (HWND field : {w.edtSourceDir->Button(), w.edtDestDir->Button()})
    EXPECT_FALSE(::GetWindowLongPtrW(field, GWL_STYLE) & WS_TABSTOP);
  const HWND chain[] = {w.edtSourceDir->Handle(),
                        w.cbRecursive,
                        w.edtDestDir->Handle(),
                        w.cboLevel,
                        w.chkRemTags,
                        w.btnStart,
                        w.btnClose,
                        w.optMsde};
  for (const HWND next : chain) {
    Press(VK_TAB);
    EXPECT_EQ(::GetFocus(), next) << win32::GetText(next);
  }

  ::SetFocus(w.cbRecursive);
  ::SendMessageW(w.Handle(), WM_ACTIVATE, WA_INACTIVE, 0);
  ::SetFocus(nullptr);
  ::SendMessageW(w.Handle(), WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_EQ(::GetFocus(), w.cbRecursive);
}

// The progress window's labels: each one line, never wrapped, "&" drawn as it
// is. A status that fits shows from its start to its end; a longer one from
// its start to the window's edge, where it is cut. A path with "&" shows whole
// in the path label.
TEST(ProgressWindow, LabelsShowTheirTextsOnOneLineAsTheyAre) {
  Fixture f;
  TfrmProgress& p = f.progress;
  for (HWND label : {p.lblCurrFile->Handle(), p.lblTotalFiles, p.lblStatus}) {
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(label, GWL_STYLE));
    EXPECT_EQ(style & SS_TYPEMASK, static_cast<DWORD>(SS_LEFTNOWORDWRAP));
    EXPECT_TRUE(style & SS_NOPREFIX);
  }
  p.Show();
  const auto inLabel = [&](HWND label) {
    const Rect at = BoundsOf(label);
    return InkColumns(winshot::CaptureClient(p.Handle()), at);
  };
  const int slack = win32::Scale(4, f.dpi);
  RECT client{};
  ::GetClientRect(p.Handle(), &client);

  for (const std::string status :
       {"Zipping R&D_Sales_2006.mdf...", "Zipping QRN_Eastern_Region_Sales_dat.mdf..."}) {
    SCOPED_TRACE(status);
    p.SetStatus(status);
    const SIZE text = Measured(p.lblStatus, status);
    ASSERT_LT(BoundsOf(p.lblStatus).left + text.cx, client.right);
    const auto [first, last] = inLabel(p.lblStatus);
    EXPECT_LE(first, win32::Scale(1, f.dpi));
    EXPECT_GE(last, text.cx - slack);
    EXPECT_LT(last, text.cx);
  }
  const std::string longStatus =
      "Zipping QRN_Eastern_Region_Sales_Office_Yearly_Totals_For_Every_Branch_dat.mdf...";
  p.SetStatus(longStatus);
  ASSERT_GT(BoundsOf(p.lblStatus).left + Measured(p.lblStatus, longStatus).cx, client.right);
  const Rect status = BoundsOf(p.lblStatus);
  const auto [first, last] = inLabel(p.lblStatus);
  EXPECT_LE(first, win32::Scale(1, f.dpi));
  EXPECT_GE(status.left + last, client.right - slack);

  const std::string path = R"(C:\R&D\Sales\QRN_Sales_dat.mdf)";
  p.lblCurrFile->SetCaption(path);
  EXPECT_EQ(p.lblCurrFile->ShownText(), path);
  const SIZE width = Measured(p.lblCurrFile->Handle(), path);
  const auto [pathFirst, pathLast] = inLabel(p.lblCurrFile->Handle());
  EXPECT_LE(pathFirst, win32::Scale(1, f.dpi));
  EXPECT_GE(pathLast, width.cx - slack);
  EXPECT_LT(pathLast, width.cx);
  p.Close();
}

// Both browse buttons draw the one folder picture file, pixel for pixel (a
// block of pixels each on a scaled screen), centred on the button.
TEST(MainWindow, BrowseButtonsDrawTheFolderPicture) {
  Fixture f;
  TForm1& w = f.form;
  w.Show();
  const Picture& picture = FolderPicture();
  ASSERT_EQ(picture.Width, 13);
  ASSERT_EQ(picture.Height, 14);
  const winshot::Shot shot = winshot::CaptureClient(w.Handle());
  ASSERT_FALSE(shot.pixels.empty());
  for (const TBrowseEdit* field : {w.edtSourceDir.get(), w.edtDestDir.get()}) {
    const Rect button = BoundsOf(field->Button());
    const int left = button.left + (button.width - win32::Scale(picture.Width, f.dpi)) / 2;
    const int top = button.top + (button.height - win32::Scale(picture.Height, f.dpi)) / 2;
    int drawn = 0;
    for (int y = 0; y < picture.Height; ++y) {
      for (int x = 0; x < picture.Width; ++x) {
        const uint32_t pixel = picture.At(x, y);
        if ((pixel >> 24) == 0) continue;
        const int at_x = left + win32::Scale(x, f.dpi);
        const int at_y = top + win32::Scale(y, f.dpi);
        EXPECT_EQ(shot.At(at_x, at_y), pixel & 0xFFFFFF) << "picture pixel " << x << "," << y;
        ++drawn;
      }
    }
    EXPECT_GT(drawn, 80);
  }
}

namespace {
// The path label's steps as the layout states them, over a measure.
std::string DesignSteps(const std::string& t, int w,
                        const std::function<int(const std::string&)>& width) {
  if (width(t) <= w) return t;
  std::string s = t + "\\...";
  while (width(s) > w) {
    const size_t first = s.find('\\');
    if (first == std::string::npos) return t;
    s.erase(first, 1);
    const size_t p = first + 1;
    const size_t found = s.find('\\');
    const size_t q = found == std::string::npos ? 0 : found + 1;
    if (q == s.size() - 3) return s.substr(0, 2) + "\\...\\" + s.substr(2, s.size() - 4 - 2);
    if (q > p) s.erase(p - 1, q - p);
  }
  s.erase(s.size() - 4);
  s.insert(2, "\\...");
  return s;
}
}  // namespace

// The path label in its real font: for drive paths it shows what the
// layout's steps give at every width where a text fits; a network path keeps
// its server and share in front of the marker.
TEST(PathLabel, ShortensDriveAndNetworkPathsInItsFont) {
  Fixture f;
  TPathLabel& label = *f.progress.lblCurrFile;
  const HWND h = label.Handle();
  const auto width = [&](const std::string& s) { return static_cast<int>(Measured(h, s).cx); };
  const auto setWidth = [&](int pixels) {
    RECT r{};
    ::GetWindowRect(h, &r);
    ::SetWindowPos(h, nullptr, 0, 0, pixels, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
  };
  const std::string path = R"(C:\Data\Remote\Users\file.mdf)";
  const std::string shown[] = {path, R"(C:\...\Remote\Users\file.mdf)", R"(C:\...\Users\file.mdf)",
                               R"(C:\...\file.mdf)"};
  for (const std::string& expected : shown) {
    SCOPED_TRACE(expected);
    for (int slack : {0, 1}) {
      setWidth(width(expected) + slack);
      label.SetCaption(path);
      EXPECT_EQ(label.ShownText(), expected);
      EXPECT_EQ(label.ShownText(), DesignSteps(path, width(expected) + slack, width));
      EXPECT_EQ(label.Caption(), path);
    }
  }
  setWidth(width(R"(C:\...\file.mdf)") - 1);  // not even that fits: cut off when drawn
  label.SetCaption(path);
  EXPECT_EQ(label.ShownText(), R"(C:\...\file.mdf)");
  setWidth(width(R"(C:\...\Remote\)"));
  label.SetCaption(R"(C:\Data\Remote\)");
  EXPECT_EQ(label.ShownText(), R"(C:\...\Remote\)");
  EXPECT_EQ(label.ShownText(),
            DesignSteps(R"(C:\Data\Remote\)", width(R"(C:\...\Remote\)"), width));
  label.SetCaption("");
  EXPECT_EQ(label.ShownText(), "");

  // A share is the drive of a network path.
  const std::string unc = R"(\\server\share\Data\Remote\file.mdf)";
  for (const std::string& expected : {unc, std::string(R"(\\server\share\...\Remote\file.mdf)"),
                                      std::string(R"(\\server\share\...\file.mdf)")}) {
    setWidth(width(expected));
    label.SetCaption(unc);
    EXPECT_EQ(label.ShownText(), expected);
  }
  setWidth(1);
  label.SetCaption(unc);
  EXPECT_EQ(label.ShownText(), R"(\\server\share\...\file.mdf)");
  // The label's height at creation is a line's in its owner's font; the
  // layout then sets the design's 17.
  TPathLabel fresh(f.progress.Handle(), 999);
  RECT r{};
  ::GetWindowRect(fresh.Handle(), &r);
  EXPECT_EQ(r.bottom - r.top, Measured(f.progress.Handle(), "Aj|").cy);
}

namespace {
// What a message box of this thread showed: its caption and texts.
struct BoxSeen {
  std::string caption;
  std::string texts;
  int seen = 0;
};
BoxSeen* g_box = nullptr;

// Finds the thread's message box once it is up, notes its caption and the
// texts of its controls, and presses its OK button.
void CALLBACK CloseBox(HWND, UINT, UINT_PTR timer, DWORD) {
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM) -> BOOL {
        if (!::IsWindowVisible(window) || ClassOf(window) != L"#32770") return TRUE;
        g_box->caption = win32::GetText(window);
        ::EnumChildWindows(
            window,
            [](HWND child, LPARAM) -> BOOL {
              g_box->texts += win32::GetText(child) + "|";
              return TRUE;
            },
            0);
        ++g_box->seen;
        ::PostMessageW(window, WM_COMMAND, IDOK, 0);
        return FALSE;
      },
      0);
  if (g_box->seen > 0) ::KillTimer(nullptr, timer);
}
}  // namespace

// The window services shown for real: message boxes with their captions and
// texts (the end report with its details in the task dialog), closed by OK,
// and the hour-glass put up and taken down.
TEST(Win32PlatformUi, ShowsMessagesAndTheHourGlass) {
  Fixture f;  // a main window to own the boxes
  Win32PlatformUi ui;
  ui.SetOwner(f.form.Handle());
  f.form.Show();
  const struct {
    DialogKind kind;
    const char* caption;
    std::string text, details;
  } boxes[] = {
      {DialogKind::Warning, "Warning", "You must first select directories.", ""},
      {DialogKind::Information, "Information", "Process Complete!", ""},
      {DialogKind::Error, "Tamblewick Remote Database Zipper", "Cannot create file D:\\x.zip.", ""},
      {DialogKind::Warning, "Warning",
       "Process Complete!\n\nSome databases were not archived:\nC:\\a.mdf: not a regular file",
       "C:\\a.mdf: not a regular file\n"},
  };
  for (const auto& box : boxes) {
    SCOPED_TRACE(box.text);
    BoxSeen seen;
    g_box = &seen;
    ::SetTimer(nullptr, 0, 100, &CloseBox);
    if (box.details.empty())
      ui.ShowMessage(box.kind, box.caption, box.text);
    else
      ui.ShowMessageWithDetails(box.kind, box.caption, box.text, box.details);
    g_box = nullptr;
    EXPECT_EQ(seen.seen, 1);
    EXPECT_EQ(seen.caption, box.caption);
    // The text itself, or (in the task dialog, which draws it itself) at
    // least the box came and went.
    if (box.details.empty()) {
      EXPECT_NE(seen.texts.find(box.text), std::string::npos) << seen.texts;
    }
  }
  ui.SetWaitCursor(true);
  EXPECT_TRUE(win32::WaitCursorShown());
  EXPECT_EQ(::SendMessageW(f.form.Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(f.form.Handle()),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
            TRUE);
  EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));
  ui.SetWaitCursor(false);
  EXPECT_FALSE(win32::WaitCursorShown());
  EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)));
}

int main(int argc, char** argv) {
  // Aware of each monitor's DPI, as the program's manifest makes it, so that
  // a scaled screen shows the layout scaled.
  ::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  testing::InitGoogleTest(&argc, argv);
  // The shell's folder dialog needs COM on this thread, and the common
  // controls their classes.
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES |
                                                     ICC_PROGRESS_CLASS | ICC_TREEVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);
  const int rc = RUN_ALL_TESTS();
  ::CoUninitialize();
  return rc;
}
