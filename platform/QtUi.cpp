#include "QtUi.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QMessageBox>

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
                                          const std::string& text,
                                          const std::string& details) {
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
                  QMessageBox::Ok, QApplication::activeWindow());
  if (!details.empty()) box.setDetailedText(QString::fromStdString(details));
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
  for (const char* family : {"MS Sans Serif", "Tahoma"})
    QFont::insertSubstitution(family, "Liberation Sans");
}
