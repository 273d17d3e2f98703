#include "Unit2.h"

#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <algorithm>

#include "QtFonts.h"

namespace {
constexpr int kClientWidth = 359;
constexpr int kClientHeight = 125;
const QColor kNavy(0, 0, 128);

// A label as the window's layout gives it: plain text, top-left aligned.
QLabel* MakeLabel(const char* name, const char* text, QWidget* parent, int left, int top) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  // File names are shown as they are, never read as markup or accelerators.
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->move(left, top);
  label->adjustSize();
  return label;
}

// A label on a button-face background would draw in the button-text colour
// (Qt derives the foreground from the background role): the window text role
// is named, and it is navy.
void SetNavyText(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, kNavy);
  widget->setPalette(palette);
  widget->setForegroundRole(QPalette::WindowText);
}
}  // namespace

TfrmProgress::TfrmProgress(QWidget* mainWindow)
    : QWidget(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::WindowStaysOnTopHint),
      mainWindow_(mainWindow) {
  setObjectName("frmProgress");
  setWindowTitle("Progress");
  setWindowModality(Qt::NonModal);
  // Closing this window never ends the program; only the main window does.
  setAttribute(Qt::WA_QuitOnClose, false);
  setFont(DesignFont(DesignFace::MsSansSerif, 11));
  setBackgroundRole(QPalette::Button);
  setFixedSize(kClientWidth, kClientHeight);

  Label3 = MakeLabel("Label3", "Current File:", this, 24, 17);
  lblCurrFile = new TPathLabel(this);
  lblCurrFile->setObjectName("lblCurrFile");
  lblCurrFile->setBackgroundRole(QPalette::Button);
  SetNavyText(lblCurrFile);
  lblCurrFile->setGeometry(88, 17, 241, 17);
  Label4 = MakeLabel("Label4", "Total Files:", this, 24, 37);
  lblTotalFiles = MakeLabel("lblTotalFiles", "", this, 88, 37);
  SetNavyText(lblTotalFiles);
  lblStatus = MakeLabel("lblStatus", "", this, 24, 70);
  prgBar = new QProgressBar(this);
  prgBar->setObjectName("prgBar");
  prgBar->setGeometry(24, 88, 313, 17);
  prgBar->setRange(0, 100);
  prgBar->setValue(0);
  prgBar->setTextVisible(false);  // a bare bar, without the percentage as text
}

void TfrmProgress::Show() {
  CentreOverMainWindow();
  show();
  raise();
}

void TfrmProgress::Close() {
  hide();
}

void TfrmProgress::CentreOverMainWindow() {
  // Frame over frame, as the user sees the windows. Until this window has
  // been shown its frame is not known: the main window's frame, drawn by the
  // same window manager, stands in for it.
  QSize frame = frameGeometry().size();
  QRect over;
  QScreen* screen = nullptr;
  if (mainWindow_) {
    over = mainWindow_->frameGeometry();
    screen = mainWindow_->screen();
    if (frame == size()) frame += over.size() - mainWindow_->size();
  } else if ((screen = QGuiApplication::primaryScreen())) {
    over = screen->availableGeometry();
  }
  if (!over.isValid()) return;
  QPoint topLeft(over.left() + (over.width() - frame.width()) / 2,
                 over.top() + (over.height() - frame.height()) / 2);
  // A main window near the edge of the screen must not push this one off it.
  if (screen) {
    const QRect area = screen->availableGeometry();
    topLeft.setX(std::clamp(topLeft.x(), area.left(),
                            std::max(area.left(), area.right() + 1 - frame.width())));
    topLeft.setY(std::clamp(topLeft.y(), area.top(),
                            std::max(area.top(), area.bottom() + 1 - frame.height())));
  }
  move(topLeft);
}
