// The progress window: its frame, layout and controls, where Show places it,
// and that closing it only hides it.
#include <QPainter>
#include <QSignalSpy>
#include <QtTest>

#include "QtUi.h"
#include "Unit2.h"

namespace {
// The columns of rect in picture that hold a dark pixel (text), and the
// colours of those pixels.
struct Ink {
  QList<int> columns;
  QSet<QRgb> colours;
};
Ink InkIn(const QImage& picture, const QRect& rect) {
  Ink ink;
  for (int x = rect.left(); x <= rect.right(); ++x) {
    bool dark = false;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
      const QRgb pixel = picture.pixel(x, y) & 0xFFFFFF;
      if (qRed(pixel) + qGreen(pixel) + qBlue(pixel) < 3 * 100) {
        dark = true;
        ink.colours.insert(pixel);
      }
    }
    if (dark) ink.columns.append(x - rect.left());
  }
  return ink;
}

// What a label drawing text as it is, in its font, would put on the screen.
QList<int> PlainTextColumns(const QLabel& label, const QString& text) {
  QImage picture(label.size(), QImage::Format_RGB32);
  picture.fill(Qt::white);
  QPainter painter(&picture);
  painter.setFont(label.font());
  painter.setPen(Qt::black);
  painter.drawText(picture.rect(), Qt::AlignLeft | Qt::AlignTop, text);
  painter.end();
  return InkIn(picture, picture.rect()).columns;
}
}  // namespace

class ProgressWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { InstallFontSubstitutes(); }

  void frameAndControls() {
    TfrmProgress w;
    QCOMPARE(w.objectName(), QString("frmProgress"));
    QCOMPARE(w.windowTitle(), QString("Progress"));
    QVERIFY(!w.isVisible());
    QCOMPARE(w.size(), QSize(359, 125));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    const Qt::WindowFlags flags = w.windowFlags();
    QVERIFY(flags & Qt::WindowStaysOnTopHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(w.windowModality(), Qt::NonModal);
    QCOMPARE(w.font().pixelSize(), 11);

    const std::pair<const char*, QWidget*> controls[] = {
        {"Label3", w.Label3},       {"lblCurrFile", w.lblCurrFile},
        {"Label4", w.Label4},       {"lblTotalFiles", w.lblTotalFiles},
        {"lblStatus", w.lblStatus}, {"prgBar", w.prgBar}};
    for (const auto& [name, control] : controls) QCOMPARE(control->objectName(), QString(name));
    QCOMPARE(w.Label3->text(), QString("Current File:"));
    QCOMPARE(w.Label4->text(), QString("Total Files:"));
    QCOMPARE(w.Label3->pos(), QPoint(24, 17));
    QCOMPARE(w.Label4->pos(), QPoint(24, 37));
    // The fixed captions end before the values to their right begin.
    QVERIFY(w.Label3->geometry().right() < 88);
    QVERIFY(w.Label4->geometry().right() < 88);
    QCOMPARE(w.lblCurrFile->geometry(), QRect(88, 17, 241, 17));
    QCOMPARE(w.lblTotalFiles->pos(), QPoint(88, 37));
    QCOMPARE(w.lblStatus->pos(), QPoint(24, 70));
    QCOMPARE(w.prgBar->geometry(), QRect(24, 88, 313, 17));
    QCOMPARE(w.prgBar->minimum(), 0);
    QCOMPARE(w.prgBar->maximum(), 100);
    QCOMPARE(w.prgBar->value(), 0);
    QVERIFY(!w.prgBar->isTextVisible());  // a bare bar: no "0%" beside or on it
    const QColor navy(0, 0, 128);
    QCOMPARE(w.lblCurrFile->palette().color(QPalette::WindowText), navy);
    QCOMPARE(w.lblTotalFiles->palette().color(QPalette::WindowText), navy);
    QVERIFY(w.lblCurrFile->text().isEmpty() && w.lblTotalFiles->text().isEmpty() &&
            w.lblStatus->text().isEmpty());
  }

  // As the window shows them: the path and the count in navy, the fixed
  // captions and the status in the window's text colour, and an "&" in a
  // path or file name drawn as it is, not taken as an accelerator.
  void labelsDrawTheirTextsAsTheyAre() {
    TfrmProgress w;
    w.Show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString path = "/data/R&D/sales.mdf";
    const QString status = "Zipping R&D.mdf...";
    w.lblCurrFile->SetCaption(path.toStdString());
    w.lblTotalFiles->setText("3 databases found");
    w.lblTotalFiles->adjustSize();
    w.lblStatus->setText(status);
    w.lblStatus->adjustSize();
    QCOMPARE(w.lblCurrFile->ShownText(), path.toStdString());
    const QImage shown = w.grab().toImage();
    const QRgb navy = qRgb(0, 0, 128) & 0xFFFFFF;
    const QRgb black = qRgb(0, 0, 0) & 0xFFFFFF;
    QCOMPARE(InkIn(shown, w.lblCurrFile->geometry()).colours, QSet<QRgb>{navy});
    QCOMPARE(InkIn(shown, w.lblTotalFiles->geometry()).colours, QSet<QRgb>{navy});
    QCOMPARE(InkIn(shown, w.Label3->geometry()).colours, QSet<QRgb>{black});
    QCOMPARE(InkIn(shown, w.lblStatus->geometry()).colours, QSet<QRgb>{black});
    QCOMPARE(InkIn(shown, w.lblCurrFile->geometry()).columns,
             PlainTextColumns(*w.lblCurrFile, path));
    QCOMPARE(InkIn(shown, w.lblStatus->geometry()).columns, PlainTextColumns(*w.lblStatus, status));
  }

  void showCentresOverMainWindowWithoutModality() {
    QWidget main;
    main.setGeometry(120, 90, 438, 321);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    TfrmProgress w(&main);
    for (const QPoint at : {QPoint(120, 90), QPoint(300, 200)}) {
      main.move(at);
      w.Show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      const QPoint offset = w.frameGeometry().center() - main.frameGeometry().center();
      QVERIFY2(offset.manhattanLength() <= 2,
               qPrintable(QString("off by %1,%2").arg(offset.x()).arg(offset.y())));
      QVERIFY(!QApplication::activeModalWidget());
      QVERIFY(main.isEnabled());
      w.Close();
      QVERIFY(!w.isVisible());
    }
  }

  void mainWindowAtScreenEdgeKeepsItOnScreen() {
    QWidget main;
    main.setGeometry(-400, -300, 438, 321);
    TfrmProgress w(&main);
    w.Show();
    const QRect area = w.screen()->availableGeometry();
    QVERIFY(area.contains(w.frameGeometry().topLeft()));
  }

  void closeBoxOnlyHides() {
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    QPointer<TfrmProgress> w = new TfrmProgress;
    w->Show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    w->lblCurrFile->SetCaption("/data/sales.mdf");
    w->lblTotalFiles->setText("3 databases found");
    w->lblStatus->setText("Zipping sales.mdf...");
    w->prgBar->setValue(40);
    // What the title bar's close box does, inside the running message loop,
    // where closing the last window would otherwise end the program.
    bool closed = false;
    QTimer::singleShot(0, w, [&] { closed = w->close(); });
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    qApp->exec();
    QVERIFY(closed);
    QVERIFY(w);
    QVERIFY(!w->isVisible());
    QCOMPARE(lastClosed.count(), 0);  // the program does not end with it
    w->Show();
    QVERIFY(w->isVisible());
    QCOMPARE(w->lblCurrFile->Caption(), std::string("/data/sales.mdf"));
    QCOMPARE(w->lblTotalFiles->text(), QString("3 databases found"));
    QCOMPARE(w->lblStatus->text(), QString("Zipping sales.mdf..."));
    QCOMPARE(w->prgBar->value(), 40);
    delete w;
  }
};

QTEST_MAIN(ProgressWindowTest)
#include "ProgressWindow_test.moc"
