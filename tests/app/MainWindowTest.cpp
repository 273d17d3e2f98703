// Drives the real main window offscreen with the window services recorded.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QStyleOptionButton>
#include <QtTest>

#include "QtUi.h"
#include "TempTree.h"
#include "RecorderUi.h"
#include "Unit1.h"
#include "Unit2.h"

// The entries of an archive as "name size" lines, read by python3's zipfile
// after its own integrity test; empty when the archive is not valid.
QString ArchiveListing(const std::string& path) {
  QProcess python;
  python.start("python3", {"-c",
                           "import sys, zipfile\n"
                           "z = zipfile.ZipFile(sys.argv[1])\n"
                           "assert z.testzip() is None\n"
                           "print('\\n'.join(f'{i.filename} {i.file_size}' for i in z.infolist()))",
                           QString::fromStdString(path)});
  python.waitForFinished(60000);
  if (python.exitCode() != 0) return {};
  return QString::fromUtf8(python.readAllStandardOutput()).trimmed();
}

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  struct Fixture {
    RecorderUi ui;
    TForm1 form;
    TfrmProgress progress{&form};
    Fixture() { form.SetProgressWindow(&progress); }
  };

 private slots:
  void initTestCase() { InstallFontSubstitutes(); }

  void initialState() {
    Fixture f;
    TForm1& w = f.form;
    QCOMPARE(w.windowTitle(), QString("Tamblewick Remote Database Zipper (v2.0.0)"));
    QCOMPARE(w.size(), QSize(438, 321));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QVERIFY(!(w.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(w.cboLevel->currentText(), QString("9"));
    QCOMPARE(w.cboLevel->count(), 9);
    QCOMPARE(w.cboLevel->itemText(8), QString("1"));
    QVERIFY(!w.cboLevel->isEditable());
    QVERIFY(w.optMsde->isChecked());
    QVERIFY(!w.optInterbase->isChecked());
    QVERIFY(w.chkRemTags->isChecked());
    QVERIFY(w.chkRemTags->isEnabled());
    QVERIFY(!w.cbRecursive->isChecked());
    QVERIFY(w.edtSourceDir->text().isEmpty());
    QVERIFY(w.edtDestDir->text().isEmpty());
    QVERIFY(w.edtSourceDir->StartWithLast);
    QVERIFY(!w.edtDestDir->StartWithLast);
    QVERIFY(w.btnStart->isEnabled());
    QVERIFY(w.btnClose->isEnabled());
    QVERIFY(!w.btnStart->isDefault() && !w.btnStart->autoDefault());
    QVERIFY(!w.btnClose->isDefault() && !w.btnClose->autoDefault());
    QCOMPARE(w.SearchFolders->FileMask, std::string("*.mdf"));
    QCOMPARE(w.SearchFolders->ScanOptions, TScanOptions::soSpecifiedDir);
    QVERIFY(!w.SearchFolders->DoRecursive);
    QVERIFY(w.SearchFolders->Messages);
    QVERIFY(!f.progress.isVisible());
    QCOMPARE(w.btnStart->geometry(), QRect(352, 10, 81, 25));
    QCOMPARE(w.edtDestDir->geometry(), QRect(24, 109, 289, 20));
    QCOMPARE(w.StatusBar1->height(), 17);
    QCOMPARE(w.StatusBar1->font().pixelSize(), 9);
    QVERIFY(!w.windowIcon().isNull());
  }

  void textsFitTheirBounds() {
    Fixture f;
    for (QAbstractButton* b : {static_cast<QAbstractButton*>(f.form.cbRecursive),
                               static_cast<QAbstractButton*>(f.form.chkRemTags),
                               static_cast<QAbstractButton*>(f.form.optMsde),
                               static_cast<QAbstractButton*>(f.form.optInterbase)}) {
      QStyleOptionButton option;
      option.initFrom(b);
      option.text = b->text();
      const QRect text = b->style()->subElementRect(
          qobject_cast<QCheckBox*>(b) ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents,
          &option, b);
      QVERIFY2(b->fontMetrics().horizontalAdvance(b->text()) <= text.width(),
               qPrintable(b->text() + ": " + QString::number(text.width()) + " < " + QString::number(b->fontMetrics().horizontalAdvance(b->text()))));
    }
  }

  void switchingDatabaseType() {
    Fixture f;
    TForm1& w = f.form;
    w.optInterbase->click();
    QCOMPARE(w.SearchFolders->FileMask, std::string("*.gdb"));
    QVERIFY(!w.chkRemTags->isEnabled());
    QVERIFY(w.chkRemTags->isChecked());  // the mark is kept while disabled
    w.chkRemTags->setEnabled(true);
    w.chkRemTags->setChecked(false);
    w.chkRemTags->setEnabled(false);
    w.optMsde->click();
    QCOMPARE(w.SearchFolders->FileMask, std::string("*.mdf"));
    QVERIFY(w.chkRemTags->isEnabled());
    QVERIFY(!w.chkRemTags->isChecked());
  }

  void clickingTheSelectedTypeChangesNothing() {
    Fixture f;
    TForm1& w = f.form;
    w.SearchFolders->FileMask = "sentinel";
    w.optMsde->click();
    QCOMPARE(w.SearchFolders->FileMask, std::string("sentinel"));
  }

  void startWithAnEmptyFieldOnlyWarns() {
    for (int which = 0; which < 3; ++which) {
      Fixture f;
      TForm1& w = f.form;
      if (which == 1) w.edtSourceDir->setText("/tmp");
      if (which == 2) w.edtDestDir->setText("/tmp");
      w.btnStart->click();
      QCOMPARE(f.ui.beeps, std::vector<BeepKind>{BeepKind::Exclamation});
      QCOMPARE(f.ui.messages.size(), size_t(1));
      QCOMPARE(f.ui.messages[0].kind, DialogKind::Warning);
      QCOMPARE(f.ui.messages[0].caption, std::string("Warning"));
      QCOMPARE(f.ui.messages[0].text, std::string("You must first select directories."));
      QVERIFY(!f.progress.isVisible());
      QVERIFY(w.btnStart->isEnabled());
      QVERIFY(f.ui.cursorChanges.empty());
    }
  }

  void aRunThatFindsNothing() {
    Fixture f;
    TForm1& w = f.form;
    QTemporaryDir src, dst;
    w.edtSourceDir->setText(src.path());
    w.edtDestDir->setText(dst.path());
    bool shownDuringRun = false;
    bool disabledDuringRun = false;
    f.ui.onProcessMessages = [&] {
      shownDuringRun |= f.progress.isVisible();
      disabledDuringRun |= !w.btnStart->isEnabled() && !w.btnClose->isEnabled();
    };
    w.show();
    w.btnStart->click();
    QVERIFY(shownDuringRun);
    QVERIFY(disabledDuringRun);
    QVERIFY(!f.progress.isVisible());
    QVERIFY(w.btnStart->isEnabled());
    QVERIFY(w.btnClose->isEnabled());
    QCOMPARE(f.ui.beeps, std::vector<BeepKind>{BeepKind::Asterisk});
    QCOMPARE(f.ui.messages.size(), size_t(1));
    QCOMPARE(f.ui.messages[0].kind, DialogKind::Information);
    QCOMPARE(f.ui.messages[0].caption, std::string("Information"));
    QCOMPARE(f.ui.messages[0].text, std::string("Process Complete!"));
    QVERIFY(f.progress.lblCurrFile->Caption().empty());
    QVERIFY(!f.ui.waitCursor);
    // A folder that is not there: a warning naming it, and nothing else.
    for (bool source : {true, false}) {
      const QString missing = (source ? src.path() : dst.path()) + "/missing";
      (source ? w.edtSourceDir : w.edtDestDir)->setText(missing);
      f.ui.beeps.clear();
      w.btnStart->click();
      QCOMPARE(f.ui.beeps, std::vector<BeepKind>{BeepKind::Exclamation});
      QCOMPARE(f.ui.messages.back().caption, std::string("Warning"));
      QCOMPARE(f.ui.messages.back().text, std::string(source ? "The source" : "The output") +
                                              " directory " + missing.toStdString() +
                                              " does not exist.");
      QVERIFY(!f.progress.isVisible() && w.btnStart->isEnabled());
      (source ? w.edtSourceDir : w.edtDestDir)->setText(source ? src.path() : dst.path());
    }
  }

  // Every database found becomes an archive named as the driver says; the
  // ones that could not be archived are named in the closing report.
  void aWholeRun() {
    Fixture f;
    TForm1& w = f.form;
    TempTree src, dst;
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + " of a database page\n";
    src.File("QRN_Sales_dat.mdf", text);
    src.File("qrn_Office_DAT.MDF", text.substr(0, 5000));
    src.File("sub/QRN_Sales_dat.mdf", "the later one");
    src.File("sub/deeper/Stock.mdf", "");
    src.File("notes.txt", "not a database");
    src.Dir("old.mdf");  // a directory: found, but nothing to read
    w.edtSourceDir->setText(QString::fromStdString(src.Root()));
    w.edtDestDir->setText(QString::fromStdString(dst.Root()));
    w.cbRecursive->setChecked(true);
    w.cboLevel->setCurrentIndex(3);  // level 6
    std::vector<int> percents;
    w.ZipWriter1->OnTotalPercentDone = [&](TObject* s, int p) {
      percents.push_back(p);
      w.ZipWriter1TotalPercentDone(s, p);
    };
    w.btnStart->click();

    QCOMPARE(f.ui.messages.size(), size_t(1));
    const RecorderUi::Message& end = f.ui.messages[0];
    QCOMPARE(end.kind, DialogKind::Warning);
    QCOMPARE(end.caption, std::string("Warning"));
    QVERIFY2(end.text.rfind("Process Complete!\n\nSome databases were not archived:\n", 0) == 0,
             end.text.c_str());
    QVERIFY(end.text.find(src.Path("old.mdf") + ": not a regular file") != std::string::npos);
    // The later of the two databases named alike, in the order found, keeps the archive.
    std::vector<std::string> sales;
    for (const TFilePack& pack : w.SearchFolders->FoundFiles)
      if (pack.FileName == "QRN_Sales_dat.mdf") sales.push_back(pack.Dir + pack.FileName);
    QCOMPARE(sales.size(), size_t(2));
    QVERIFY(end.text.find(sales[0] + ": its archive was replaced by " + sales[1]) !=
            std::string::npos);
    QCOMPARE(f.ui.beeps, std::vector<BeepKind>{BeepKind::Exclamation});
    QVERIFY(!percents.empty() && percents.back() == 100);
    QCOMPARE(f.progress.prgBar->value(), 0);
    QVERIFY(f.progress.lblStatus->text().isEmpty());
    QVERIFY(w.btnStart->isEnabled() && w.btnClose->isEnabled());
    QVERIFY(!f.ui.waitCursor);

    QDir out(QString::fromStdString(dst.Root()));
    QCOMPARE(out.entryList(QDir::Files, QDir::Name),
             QStringList({"office.zip", "sales.zip", "stock.zip"}));
    QCOMPARE(ArchiveListing(dst.Path("sales.zip")),
             QString("QRN_Sales_dat.mdf %1").arg(sales[1] == src.Path("sub/QRN_Sales_dat.mdf")
                                                     ? 13 : int(text.size())));
    QCOMPARE(ArchiveListing(dst.Path("office.zip")), QString("qrn_Office_DAT.MDF 5000"));
    QCOMPARE(ArchiveListing(dst.Path("stock.zip")), QString("Stock.mdf 0"));

    // dbzip, given the same choices, writes the very same archives.
    TempTree viaDbzip;
    QProcess dbzip;
    dbzip.start(DBZIP_PATH, {"-q", "-r", "-l", "6", QString::fromStdString(src.Root()),
                             QString::fromStdString(viaDbzip.Root())});
    QVERIFY(dbzip.waitForFinished(60000));
    QCOMPARE(dbzip.exitCode(), 1);  // the same two databases were not archived
    QDir other(QString::fromStdString(viaDbzip.Root()));
    QCOMPARE(other.entryList(QDir::Files, QDir::Name), out.entryList(QDir::Files, QDir::Name));
    for (const QString& name : out.entryList(QDir::Files)) {
      QFile a(out.filePath(name)), b(other.filePath(name));
      QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
      QVERIFY2(a.readAll() == b.readAll(), qPrintable(name));
    }
  }

  // An error while zipping one database is that database's; an error that
  // ends the run shows the standard error box, and the window is idle again.
  void errorsNeverTrapTheUser() {
    Fixture f;
    TForm1& w = f.form;
    TempTree src, dst;
    src.File("a.mdf", "x");
    src.File("b.mdf", "y");
    for (int i = 0; i < 25; ++i) ::mkfifo(src.Path("pipe" + std::to_string(i) + ".mdf").c_str(), 0600);
    w.edtSourceDir->setText(QString::fromStdString(src.Root()));
    w.edtDestDir->setText(QString::fromStdString(dst.Root()));
    w.show();
    // The output folder goes away once the run has begun.
    f.ui.onProcessMessages = [&] { ::rmdir(dst.Root().c_str()); };
    w.btnStart->click();
    f.ui.onProcessMessages = nullptr;
    QCOMPARE(f.ui.messages.size(), size_t(1));
    const RecorderUi::Message& end = f.ui.messages[0];
    QCOMPARE(end.kind, DialogKind::Warning);
    QVERIFY2(end.text.find(src.Path("a.mdf") + ": could not create a file beside " +
                           dst.Path("a.zip") + ": No such file or directory") != std::string::npos,
             end.text.c_str());
    // 27 cases: the box shows 20 and says how many more; the details hold all.
    QVERIFY2(end.text.ends_with("\nand 7 more"), end.text.c_str());
    QCOMPARE(std::count(end.details.begin(), end.details.end(), '\n'), 27);
    QVERIFY(w.btnStart->isEnabled() && w.btnClose->isEnabled());
    QVERIFY(!f.progress.isVisible() && !f.ui.waitCursor);

    // Something no database can be blamed for ends the run.
    QVERIFY(QDir().mkpath(QString::fromStdString(dst.Root())));
    w.ZipWriter1->OnTotalPercentDone = [](TObject*, int) { throw std::runtime_error("Out of luck"); };
    f.ui.messages.clear();
    w.btnStart->click();
    QCOMPARE(f.ui.messages.size(), size_t(1));
    QCOMPARE(f.ui.messages[0].kind, DialogKind::Error);
    QCOMPARE(f.ui.messages[0].caption, std::string("Tamblewick Remote Database Zipper"));
    QCOMPARE(f.ui.messages[0].text, std::string("Out of luck."));
    QVERIFY(w.btnStart->isEnabled() && w.btnClose->isEnabled());
    QVERIFY(!f.progress.isVisible() && !f.ui.waitCursor && !w.Running());
    QVERIFY(QDir(QString::fromStdString(dst.Root())).entryList(QDir::Files).isEmpty());
    QVERIFY(w.close());
  }

  // Closing the window during a run abandons the archive being written (its
  // previous version stays), zips nothing more, and then closes.
  void closingDuringARun() {
    Fixture f;
    TForm1& w = f.form;
    TempTree src, dst;
    std::string big(3 << 20, 'a');
    for (size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>('a' + i % 23);
    src.File("a.mdf", big);
    src.File("b.mdf", big);
    dst.File("a.zip", "PK\x03\x04 an older archive");
    dst.File("b.zip", "PK\x03\x04 an older archive");
    w.edtSourceDir->setText(QString::fromStdString(src.Root()));
    w.edtDestDir->setText(QString::fromStdString(dst.Root()));
    w.show();
    bool closed = false;
    f.ui.onProcessMessages = [&] {
      if (!closed && f.progress.prgBar->value() > 0) {
        closed = true;
        QVERIFY(!w.close());  // refused for now
      }
    };
    w.btnStart->click();
    QVERIFY(closed);
    QVERIFY(!w.isVisible());
    QVERIFY(!f.progress.isVisible());
    QVERIFY(f.ui.messages.empty());
    QDir out(QString::fromStdString(dst.Root()));
    QCOMPARE(out.entryList(QDir::Files, QDir::Name), QStringList({"a.zip", "b.zip"}));
    for (const char* name : {"a.zip", "b.zip"}) {
      QFile file(out.filePath(name));
      QVERIFY(file.open(QIODevice::ReadOnly));
      QCOMPARE(file.readAll(), QByteArray("PK\x03\x04 an older archive"));
    }
  }

  void closeButtonClosesTheWindow() {
    Fixture f;
    f.form.show();
    QVERIFY(f.form.isVisible());
    f.form.btnClose->click();
    QVERIFY(!f.form.isVisible());
  }

  void tabOrder() {
    Fixture f;
    TForm1& w = f.form;
    const QList<QWidget*> expected = {w.optMsde,     w.optInterbase, w.edtSourceDir,
                                      w.cbRecursive, w.edtDestDir,   w.cboLevel,
                                      w.chkRemTags,  w.btnStart,     w.btnClose};
    // The order in which the controls first appear along the focus chain.
    QList<QWidget*> seen;
    QWidget* at = w.optMsde;
    for (int step = 0; step < 500 && seen.size() < expected.size(); ++step) {
      if (expected.contains(at) && !seen.contains(at)) seen.append(at);
      at = at->nextInFocusChain();
    }
    QCOMPARE(seen, expected);
  }

  void renderWindowsForPeople() {
    Fixture f;
    f.form.show();
    f.progress.Show();
    f.progress.lblCurrFile->SetCaption("/home/ann/data/QRN_Sales_dat.mdf");
    f.progress.lblTotalFiles->setText("3 databases found");
    f.progress.lblTotalFiles->adjustSize();
    f.progress.lblStatus->setText("Zipping QRN_Sales_dat.mdf...");
    f.progress.lblStatus->adjustSize();
    f.progress.prgBar->setValue(42);
    const QString folder = QStringLiteral(SCREENSHOT_DIR);
    QDir().mkpath(folder);
    QVERIFY(f.form.grab().save(folder + "/main-window.png"));
    QVERIFY(f.progress.grab().save(folder + "/progress-window.png"));
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
