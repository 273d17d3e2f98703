// The Qt window services: message processing stays cheap without losing
// messages; the message dialogs' buttons are plain.
#include "QtUi.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QtTest>

namespace {
// A widget style that puts a picture on each dialog button, as some desktop
// styles do.
class ButtonIconStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returned) const override {
    if (hint == SH_DialogButtonBox_ButtonsHaveIcons) return 1;
    return QProxyStyle::styleHint(hint, option, widget, returned);
  }
};
}  // namespace

class QtUiTest : public QObject {
  Q_OBJECT

 private slots:
  void processMessagesDeliversWhatIsPending() {
    QtPlatformUi ui;
    QObject target;
    int delivered = 0;
    QMetaObject::invokeMethod(
        &target, [&] { ++delivered; }, Qt::QueuedConnection);
    ui.ProcessMessages();
    QCOMPARE(delivered, 1);  // the first call after a pause always processes

    // Called in a tight loop, as the folder search does, it still comes round.
    QMetaObject::invokeMethod(
        &target, [&] { ++delivered; }, Qt::QueuedConnection);
    QElapsedTimer bound;
    bound.start();
    long calls = 0;
    while (delivered < 2 && bound.elapsed() < 5000) {
      ui.ProcessMessages();
      ++calls;
    }
    QCOMPARE(delivered, 2);
    QVERIFY(calls >= 1);
  }

  // "OK" and "Show Details..." are plain push buttons, whatever the style.
  void messageButtonsCarryNoPicture() {
    QApplication::setStyle(new ButtonIconStyle);
    QDialogButtonBox styled(QDialogButtonBox::Ok);
    QVERIFY(!styled.button(QDialogButtonBox::Ok)->icon().isNull());  // the style would
    QtPlatformUi ui;
    for (const bool details : {false, true}) {
      QStringList seen, pictured;
      QTimer::singleShot(0, [&] {
        QWidget* shown = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(shown)) {
          for (QAbstractButton* button : box->findChildren<QAbstractButton*>()) {
            seen.append(button->text());
            if (!button->icon().isNull()) pictured.append(button->text());
          }
        }
        if (shown) shown->close();
      });
      ui.ShowMessageWithDetails(DialogKind::Warning, "Warning", "Look.", details ? "More." : "");
      QCOMPARE(seen.size(), details ? 2 : 1);
      QVERIFY(seen.contains("OK") || seen.contains("&OK"));
      QCOMPARE(pictured, QStringList());
    }
  }
};

QTEST_MAIN(QtUiTest)
#include "QtUi_test.moc"
