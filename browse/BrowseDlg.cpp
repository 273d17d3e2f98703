#include "BrowseDlg.h"

#include <QApplication>
#include <QFileInfo>
#include <QScreen>
#include <QStandardPaths>
#include <QWidget>
#include <optional>
#include <utility>

#include "QtUi.h"

namespace {
using enum TSystemFolders;

// The special folders with a counterpart among the desktop's standard places;
// the others (control panel, printers, network...) have none here.
constexpr std::pair<TSystemFolders, QStandardPaths::StandardLocation> kSpecialFolders[] = {
    {bfoPrograms, QStandardPaths::ApplicationsLocation},
    {bfoStartMenu, QStandardPaths::ApplicationsLocation},
    {bfoPersonal, QStandardPaths::DocumentsLocation},
    {bfoDesktopDirectory, QStandardPaths::DesktopLocation},
    {bfoFonts, QStandardPaths::FontsLocation},
};

TDlgRect ToDlgRect(const QRect& r) {
  return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}
}  // namespace

std::string SpecialFolderPath(TSystemFolders folder) {
  for (const auto& [value, location] : kSpecialFolders) {
    if (value != folder) continue;
    const QString path = QStandardPaths::writableLocation(location);
    if (!path.isEmpty() && QFileInfo(path).isDir()) return path.toStdString();
  }
  return {};
}

TBrowseDlg::TBrowseDlg(QWidget* owner) : owner_(owner) {}

void TBrowseDlg::SetSelectedFolder(const std::string& folder) {
  selectedFolder_ = folder;
  if (wnd_) wnd_->SetSelection(folder);
}

void TBrowseDlg::SetStatusText(const std::string& text) {
  statusText_ = text;
  if (wnd_) wnd_->SetStatusText(text);
}

bool TBrowseDlg::Execute() {
  FolderBrowseInfo info;
  info.Owner = owner_ ? owner_->window() : MainWindow();
  info.Root = SpecialFolderPath(StartFolder);
  info.Title = Caption;
  info.Flags = BrowseFlags(Options);
  info.Initialized = [this](FolderBrowserDialog& wnd) { DialogInitialized(wnd); };
  info.SelectionChanged = [this](FolderBrowserDialog& wnd, const std::string& path,
                                 const QModelIndex& item) { SelectionChanged(wnd, path, item); };
  info.ValidateFailed = [this](FolderBrowserDialog&, const std::string& text) {
    return ValidateFailed(text);
  };

  FolderBrowserDialog dialog(std::move(info));
  // The dialog window is known only while it is open, also when a handler throws.
  struct Forget {
    FolderBrowserDialog*& wnd;
    ~Forget() { wnd = nullptr; }
  } forget{wnd_};
  wnd_ = &dialog;
  const std::optional<std::string> chosen = dialog.Run();
  if (!chosen) return false;
  selectedFolder_ = *chosen;
  return true;
}

void TBrowseDlg::DialogInitialized(FolderBrowserDialog& wnd) {
  Place(wnd);
  if (!CaptionTitle.empty()) wnd.setWindowTitle(QString::fromStdString(CaptionTitle));
  if (!statusText_.empty()) wnd.SetStatusText(statusText_);
  // A path that names no folder leaves the dialog's own selection.
  if (!selectedFolder_.empty()) wnd.SetSelection(selectedFolder_);
  wnd.EnableOK(Options.Contains(TBrowseDlgOption::doEnableOK));
  if (OnInit) OnInit(this);
}

void TBrowseDlg::Place(FolderBrowserDialog& wnd) const {
  if (Position != TDlgPosition::bpCenter) return;
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect screenRect = screen ? screen->geometry() : QRect();
  QRect reference = screenRect;
  QWidget* active = nullptr;
  if (RelatePos == TDlgPosRel::brActiveWindow) {
    // Without an active window the dialog centres on its parent, if it has one.
    active = QApplication::activeWindow();
    if (!active || active == &wnd)
      active = wnd.parentWidget() ? wnd.parentWidget()->window() : nullptr;
    if (active) reference = active->frameGeometry();
  }
  // Frame and all, as the user sees both windows.
  const QWidget* framed = wnd.parentWidget() ? wnd.parentWidget()->window() : active;
  const QSize frame = FramedSize(wnd, framed);
  const TDlgPoint at = CentreDialog(ToDlgRect(reference), {frame.width(), frame.height()},
                                    {screenRect.width(), screenRect.height()});
  wnd.move(at.Left, at.Top);
}

void TBrowseDlg::SelectionChanged(FolderBrowserDialog& wnd, const std::string& path,
                                  const QModelIndex& item) {
  const bool showPath = Options.Contains(TBrowseDlgOption::doShowPath);
  if (showPath) {
    std::string text = ShortenStatusText(path, kStatusPathLength);
    if (text != statusText_) {
      statusText_ = std::move(text);
      wnd.SetStatusText(statusText_);
    }
  }
  if (OnSelectionChanged) OnSelectionChanged(this, &wnd, path, item);
}

bool TBrowseDlg::ValidateFailed(const std::string& text) {
  bool cancel = false;
  if (OnValidate) OnValidate(this, text, cancel);
  return cancel;
}
