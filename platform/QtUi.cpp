#include "QtUi.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include "QtFonts.h"

void QtPlatformUi::ProcessMessages() {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastProcessed_ < kProcessInterval) return;
  QCoreApplication::processEvents();
  // Timed from the end, so a long round of handlers is not followed at once
  // by another.
  lastProcessed_ = std::chrono::steady_clock::now();
}

void QtPlatformUi::MessageBeep(BeepKind) {
  QApplication::beep();
}

void QtPlatformUi::ShowMessage(DialogKind kind, const std::string& caption,
                               const std::string& text) {
  ShowMessageWithDetails(kind, caption, text, {});
}

void QtPlatformUi::ShowMessageWithDetails(DialogKind kind, const std::string& caption,
                                          const std::string& text, const std::string& details) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (kind) {
    case DialogKind::Warning:
      icon = QMessageBox::Warning;
      break;
    case DialogKind::Information:
      icon = QMessageBox::Information;
      break;
    case DialogKind::Error:
      icon = QMessageBox::Critical;
      break;
    case DialogKind::Plain:
      icon = QMessageBox::NoIcon;
      break;
  }
  QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Ok,
                  QApplication::activeWindow() ? QApplication::activeWindow() : MainWindow());
  // A typed path or a file's name is shown as it is, never as markup.
  box.setTextFormat(Qt::PlainText);
  if (!details.empty()) box.setDetailedText(QString::fromStdString(details));
  // Plain push buttons, as a platform's message box draws them: some widget
  // styles put a picture on each dialog button ("OK" with a tick).
  for (QAbstractButton* button : box.buttons()) button->setIcon(QIcon());
  box.exec();
}

void QtPlatformUi::SetWaitCursor(bool on) {
  // Set and restore stay paired however often either is asked for.
  if (on == waitCursor_) return;
  waitCursor_ = on;
  if (on)
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QGuiApplication::restoreOverrideCursor();
}

void InstallFontSubstitutes() {
  LoadDesignFonts();
}

namespace {
QPointer<QWidget> mainWindow;
}

QWidget* MainWindow() {
  return mainWindow;
}

void SetMainWindow(QWidget* window) {
  mainWindow = window;
}

QSize FramedSize(const QWidget& window, const QWidget* framedNeighbour) {
  QSize framed = window.frameGeometry().size();
  if (framed == window.size() && framedNeighbour)
    framed += framedNeighbour->frameGeometry().size() - framedNeighbour->size();
  return framed;
}

namespace {
QPoint CentredTopLeft(const QWidget& window) {
  QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
  if (!screen) return window.pos();
  const QRect area = screen->availableGeometry();
  const QSize framed = FramedSize(window);
  return {area.left() + (area.width() - framed.width()) / 2,
          area.top() + (area.height() - framed.height()) / 2};
}

// Waits for the window's frame to become known, then centres it once more.
class CentreWhenFramed : public QObject {
 public:
  CentreWhenFramed(QWidget& window, QPoint placed) : QObject(&window), placed_(placed) {
    window.installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* window = static_cast<QWidget*>(watched);
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize) {
      if (window->frameGeometry().size() != window->size()) {
        // Framed now: the frame's top-left is where it was put unless the
        // user moved the window.
        if (window->pos() == placed_) window->move(CentredTopLeft(*window));
        deleteLater();
        window->removeEventFilter(this);
      }
    }
    return false;
  }

 private:
  QPoint placed_;
};
}  // namespace

void CentreOnScreen(QWidget& window) {
  const QPoint at = CentredTopLeft(window);
  window.move(at);
  if (window.frameGeometry().size() == window.size()) new CentreWhenFramed(window, at);
}
