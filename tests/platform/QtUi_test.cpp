// The Qt window services: message processing stays cheap without losing
// messages.
#include "QtUi.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QtTest>

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
};

QTEST_GUILESS_MAIN(QtUiTest)
#include "QtUi_test.moc"
