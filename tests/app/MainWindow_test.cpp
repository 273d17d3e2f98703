// Drives the real main window offscreen with the window services recorded.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAccessible>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <filesystem>

#include "QtFonts.h"
#include "QtUi.h"
#include "RecorderUi.h"
#include "TempTree.h"
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

// Each check box and radio button shows its whole text beside its indicator.
void VerifyTextsFit(TForm1& w) {
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{w.cbRecursive, w.chkRemTags,
                                                                    w.optMsde, w.optInterbase}) {
    QStyleOptionButton option;
    option.initFrom(b);
    option.text = b->text();
    const QRect text = b->style()->subElementRect(
        qobject_cast<QCheckBox*>(b) ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents,
        &option, b);
    const int needed = b->fontMetrics().horizontalAdvance(b->text());
    QVERIFY2(needed <= text.width(), qPrintable(b->text() + ": " + QString::number(text.width()) +
                                                " < " + QString::number(needed)));
    QVERIFY(b->parentWidget()->rect().contains(b->geometry()));
  }
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

  // Every control where the layout puts it, with its text, in the window's
  // font; the design's faces make every text fit its designed bounds.
  void controlsAsDesigned() {
    Fixture f;
    TForm1& w = f.form;
    QVERIFY2(DesignFaceAvailable(DesignFace::MsSansSerif), "fonts-wine is not installed");
    // On a scaled screen the bitmap face would be drawn at its 1x size; an
    // outline face takes its place there, and texts may then run wider.
    const bool scaled = qApp->devicePixelRatio() != 1.0;
    QCOMPARE(QFontInfo(w.font()).family(), QString(scaled ? "Tahoma" : "MS Sans Serif"));
    if (scaled) QVERIFY(QFontDatabase::isSmoothlyScalable(QFontInfo(w.font()).family()));
    QCOMPARE(w.font().pixelSize(), 11);
    QCOMPARE(QFontInfo(w.StatusBar1->font()).family(), QString("Tahoma"));
    QCOMPARE(w.StatusBar1->font().pixelSize(), 9);

    struct Control {
      QWidget* widget;
      QWidget* parent;
      QRect bounds;
      QString text;
    };
    const Control controls[] = {
        {w.grp1, &w, {8, 5, 337, 52}, "Database Types"},
        {w.optMsde, w.grp1, {24, 24, 121, 17}, "MSDE Databases"},
        {w.optInterbase, w.grp1, {176, 24, 121, 17}, "Interbase Databases"},
        {w.grp2, &w, {8, 60, 337, 149}, "Directory Information"},
        {w.Label1,
         w.grp2,
         {24, 24, 269, 13},
         "Select directory containing Tamblewick remote databases:"},
        {w.edtSourceDir, w.grp2, {24, 40, 289, 20}, ""},
        {w.cbRecursive, w.grp2, {24, 64, 137, 17}, "Recurse sub-directories?"},
        {w.Label2, w.grp2, {24, 92, 236, 13}, "Select output directory to place zipped databases:"},
        {w.edtDestDir, w.grp2, {24, 109, 289, 20}, ""},
        {w.grp3, &w, {8, 213, 337, 84}, "Compression File Information"},
        {w.cboLevel, w.grp3, {32, 24, 41, 21}, "9"},
        {w.Label5, w.grp3, {80, 29, 152, 13}, "Level (9 = Highest / 1 = Fastest)"},
        {w.chkRemTags, w.grp3, {32, 56, 233, 17}, "Remove 'QRN_' and '_dat' from zip file name?"},
        {w.btnStart, &w, {352, 10, 81, 25}, "&Start"},
        {w.btnClose, &w, {352, 40, 81, 25}, "&Close"},
        {w.StatusBar1, &w, {0, 304, 438, 17}, ""},
    };
    for (const Control& c : controls) {
      const QString name = c.widget->objectName();
      QVERIFY2(c.widget->parentWidget() == c.parent, qPrintable(name));
      QString text;
      if (auto* box = qobject_cast<QGroupBox*>(c.widget)) text = box->title();
      if (auto* label = qobject_cast<QLabel*>(c.widget)) text = label->text();
      if (auto* button = qobject_cast<QAbstractButton*>(c.widget)) text = button->text();
      if (auto* edit = qobject_cast<QLineEdit*>(c.widget)) text = edit->text();
      if (auto* list = qobject_cast<QComboBox*>(c.widget)) text = list->currentText();
      QCOMPARE(text, c.text);
      if (scaled) {
        QCOMPARE(c.widget->pos(), c.bounds.topLeft());
      } else if (qobject_cast<QLabel*>(c.widget)) {
        // A label sizes itself to its text: the design's size, give or take
        // the few pixels by which the free face differs on some glyphs.
        QCOMPARE(c.widget->pos(), c.bounds.topLeft());
        QCOMPARE(c.widget->height(), c.bounds.height());
        QVERIFY2(std::abs(c.widget->width() - c.bounds.width()) <= 6,
                 qPrintable(name + " is " + QString::number(c.widget->width()) + " wide"));
        QVERIFY(c.parent->rect().contains(c.widget->geometry()));
      } else {
        QVERIFY2(c.widget->geometry() == c.bounds, qPrintable(name + QString(" at %1,%2 %3x%4")
                                                                         .arg(c.widget->x())
                                                                         .arg(c.widget->y())
                                                                         .arg(c.widget->width())
                                                                         .arg(c.widget->height())));
      }
    }
    QCOMPARE(w.StatusBar1->currentMessage().isEmpty(), false);
    VerifyTextsFit(w);
  }

  // Without fonts-wine the windows fall back to Liberation Sans: a control
  // whose text then runs wider grows to the right, inside its group.
  void withoutTheDesignFaces() {
    UnloadDesignFonts();
    QVERIFY(!DesignFaceAvailable(DesignFace::MsSansSerif));
    {
      Fixture f;
      QCOMPARE(QFontInfo(f.form.font()).family(), QString("Liberation Sans"));
      QCOMPARE(QFontInfo(f.form.StatusBar1->font()).family(), QString("Liberation Sans"));
      QCOMPARE(QFontInfo(f.progress.font()).family(), QString("Liberation Sans"));
      VerifyTextsFit(f.form);
      QVERIFY(f.form.chkRemTags->width() > 233);
    }
    QCOMPARE(LoadDesignFonts(), 2);
    QVERIFY(DesignFaceAvailable(DesignFace::MsSansSerif));
  }

  // A screen reader reaches every control under a name a person would
  // understand: the fields and the level list by their labels.
  void accessibleNames() {
    Fixture f;
    TForm1& w = f.form;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&w);
    QVERIFY(window);
    QCOMPARE(window->text(QAccessible::Name),
             QString("Tamblewick Remote Database Zipper (v2.0.0)"));
    QMap<QObject*, QString> names;
    QList<QAccessibleInterface*> pending{window};
    while (!pending.isEmpty()) {
      QAccessibleInterface* at = pending.takeFirst();
      for (int i = 0; i < at->childCount(); ++i)
        if (QAccessibleInterface* child = at->child(i)) pending.append(child);
      if (at == window || !at->object() || !at->object()->isWidgetType()) continue;
      const QAccessible::Role role = at->role();
      // Static texts speak for themselves; a hidden part (the list's popup)
      // is announced through the control that shows it.
      if (role == QAccessible::StaticText || at->state().invisible) continue;
      // Words, not a value: at least one word of three letters or more.
      static const QRegularExpression word("[A-Za-z]{3,}");
      QString name = at->text(QAccessible::Name);
      if (!word.match(name).hasMatch()) {
        // Qt names a drop-down list on Linux by its value and announces it
        // with what it is labelled by: its label, within its group.
        for (const auto& [label, relation] : at->relations(QAccessible::Label))
          if (qobject_cast<QLabel*>(label->object())) name = label->text(QAccessible::Name);
      }
      names[at->object()] = name;
      QVERIFY2(word.match(name).hasMatch(),
               qPrintable(at->object()->objectName() + " (role " + QString::number(role) +
                          ") is called \"" + name + "\""));
    }
    QCOMPARE(names.value(w.edtSourceDir), w.Label1->text());
    QCOMPARE(names.value(w.edtDestDir), w.Label2->text());
    QCOMPARE(names.value(w.cboLevel), w.Label5->text());
    QCOMPARE(names.value(w.edtSourceDir->Button()), QString("Browse for folder"));
    QCOMPARE(names.value(w.edtDestDir->Button()), QString("Browse for folder"));
    QCOMPARE(names.value(w.optMsde), QString("MSDE Databases"));
    QCOMPARE(names.value(w.chkRemTags), QString("Remove 'QRN_' and '_dat' from zip file name?"));
    QCOMPARE(names.value(w.btnStart), QString("Start"));
    for (QWidget* control : std::initializer_list<QWidget*>{
             w.optInterbase, w.grp1, w.grp2, w.grp3, w.cbRecursive, w.btnClose, w.StatusBar1})
      QVERIFY2(names.contains(control), qPrintable(control->objectName()));
    // The labels point at their fields, as a click on them or an accelerator would.
    QCOMPARE(w.Label1->buddy(), w.edtSourceDir);
    QCOMPARE(w.Label2->buddy(), w.edtDestDir);
    QCOMPARE(w.Label5->buddy(), w.cboLevel);
  }

  // Centred on the screen frame and all, as the user sees the window.
  void centredWithItsFrame() {
    Fixture f;
    f.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.form));
    const QRect frame = f.form.frameGeometry();
    QVERIFY(frame.size() != f.form.size());
    const QPoint offset = frame.center() - f.form.screen()->availableGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 1,
             qPrintable(QString("off by %1,%2").arg(offset.x()).arg(offset.y())));
  }

  // Where the window system tells the frame only once the window is shown
  // (X11), the window is centred again then, unless the user has moved it.
  void centredAgainWhenTheFrameIsKnown() {
    for (const bool movedByUser : {false, true}) {
      QWidget window;
      window.setFixedSize(438, 321);
      CentreOnScreen(window);  // no window system window yet: no frame
      QCOMPARE(window.frameGeometry().size(), window.size());
      if (movedByUser) window.move(10, 20);
      window.show();
      QVERIFY(QTest::qWaitForWindowExposed(&window));
      QVERIFY(window.frameGeometry().size() != window.size());
      if (movedByUser) {
        QCOMPARE(window.frameGeometry().topLeft(), QPoint(10, 20));
      } else {
        const QPoint offset =
            window.frameGeometry().center() - window.screen()->availableGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 1,
                 qPrintable(QString("off by %1,%2").arg(offset.x()).arg(offset.y())));
      }
    }
  }

  void textsFitTheirBounds() {
    Fixture f;
    VerifyTextsFit(f.form);
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
             QString("QRN_Sales_dat.mdf %1")
                 .arg(sales[1] == src.Path("sub/QRN_Sales_dat.mdf") ? 13 : int(text.size())));
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

  // What the progress window shows during a run, and the tags going only
  // for MSDE: with Interbase chosen the check box keeps its mark, disabled,
  // and the names keep their tags.
  void runsAsTheProgressWindowShowsThem() {
    Fixture f;
    TForm1& w = f.form;
    TempTree src, dst;
    src.File("QRN_A_dat.mdf", "a");
    src.File("sub/QRN_B_dat.MDF", "b");
    src.File("sub/c.gdb", "c");
    src.File("QRN_x_dat.gdb", "x");
    src.File("Office.GDB", "o");
    w.edtSourceDir->setText(QString::fromStdString(src.Root()));
    w.edtDestDir->setText(QString::fromStdString(dst.Root()));
    w.cbRecursive->setChecked(true);
    w.show();
    QStringList totals, statuses;
    // A label shows its whole text when it is as wide as the text and lies
    // inside the window.
    const auto shown = [&](QLabel* label) {
      if (label->text().isEmpty()) return true;
      return label->width() >= label->fontMetrics().horizontalAdvance(label->text()) &&
             f.progress.rect().contains(label->geometry());
    };
    f.ui.onProcessMessages = [&] {
      const QString total = f.progress.lblTotalFiles->text();
      if (!total.isEmpty() && (totals.isEmpty() || totals.back() != total)) totals << total;
      const QString status = f.progress.lblStatus->text();
      if (!status.isEmpty() && (statuses.isEmpty() || statuses.back() != status))
        statuses << status;
      QVERIFY(shown(f.progress.lblTotalFiles));
      QVERIFY(shown(f.progress.lblStatus));
    };
    const auto archives = [&] {
      return QDir(QString::fromStdString(dst.Root())).entryList(QDir::Files, QDir::Name);
    };

    w.btnStart->click();
    QCOMPARE(f.ui.messages.size(), size_t(1));
    QCOMPARE(f.ui.messages[0].text, std::string("Process Complete!"));
    QCOMPARE(archives(), QStringList({"a.zip", "b.zip"}));
    // The count on entering each directory, then the final one.
    QCOMPARE(totals.front(), QString("0 databases found"));
    QCOMPARE(totals.back(), QString("2 databases found"));
    QVERIFY(totals.size() >= 2);
    for (const QString& total : totals)
      QVERIFY2(total.contains(QRegularExpression("^[0-2] databases found$")), qPrintable(total));
    statuses.sort();
    QCOMPARE(statuses, QStringList({"Zipping QRN_A_dat.mdf...", "Zipping QRN_B_dat.MDF..."}));

    w.optInterbase->click();
    QVERIFY(w.chkRemTags->isChecked() && !w.chkRemTags->isEnabled());
    totals.clear();
    statuses.clear();
    QVERIFY(QDir(QString::fromStdString(dst.Root())).removeRecursively());
    QVERIFY(QDir().mkpath(QString::fromStdString(dst.Root())));
    w.btnStart->click();
    QCOMPARE(f.ui.messages.size(), size_t(2));
    QCOMPARE(f.ui.messages[1].text, std::string("Process Complete!"));
    QCOMPARE(archives(), QStringList({"c.zip", "office.zip", "qrn_x_dat.zip"}));
    QCOMPARE(totals.back(), QString("3 databases found"));
    statuses.sort();
    QCOMPARE(statuses, QStringList({"Zipping Office.GDB...", "Zipping QRN_x_dat.gdb...",
                                    "Zipping c.gdb..."}));
    QCOMPARE(ArchiveListing(dst.Path("qrn_x_dat.zip")), QString("QRN_x_dat.gdb 1"));
  }

  // An error while zipping one database is that database's; an error that
  // ends the run shows the standard error box, and the window is idle again.
  void errorsNeverTrapTheUser() {
    Fixture f;
    TForm1& w = f.form;
    TempTree src, dst;
    src.File("a.mdf", "x");
    src.File("b.mdf", "y");
    for (int i = 0; i < 25; ++i)
      ::mkfifo(src.Path("pipe" + std::to_string(i) + ".mdf").c_str(), 0600);
    w.edtSourceDir->setText(QString::fromStdString(src.Root()));
    w.edtDestDir->setText(QString::fromStdString(dst.Root()));
    w.show();
    // The output folder goes away once the run has begun (and opened it).
    f.ui.onProcessMessages = [&] {
      if (f.progress.lblTotalFiles->text().contains("found")) ::rmdir(dst.Root().c_str());
    };
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
    w.ZipWriter1->OnTotalPercentDone = [](TObject*, int) {
      throw std::runtime_error("Out of luck");
    };
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

  // SIGTERM (as SIGHUP and SIGINT) during a run ends it as closing does: the
  // archive being written is removed, the old one kept, and the window
  // closes, which ends the program.
  void terminationSignalClosesAsClosingDoes() {
    Fixture f;
    TForm1& w = f.form;
    CloseOnTerminationSignals(w);
    TempTree src, dst;
    std::string big(8 << 20, 'a');
    for (size_t i = 0; i < big.size(); i += 5) big[i] = static_cast<char>('a' + i % 29);
    src.File("big.mdf", big);
    dst.File("big.zip", "PK\x03\x04 an older archive");
    w.edtSourceDir->setText(QString::fromStdString(src.Root()));
    w.edtDestDir->setText(QString::fromStdString(dst.Root()));
    w.show();
    bool sent = false;
    std::vector<std::string> during;
    f.ui.onProcessMessages = [&] {
      if (!sent && f.progress.prgBar->value() > 0) {
        sent = true;
        for (const auto& e : std::filesystem::directory_iterator(dst.Root()))
          during.push_back(e.path().filename());
        // An unnamed temporary shows only among the open files.
        for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
          std::error_code error;
          const std::string target = std::filesystem::read_symlink(e.path(), error).string();
          if (!error && target.starts_with(dst.Root() + "/#")) during.push_back(target);
        }
        ::kill(::getpid(), SIGTERM);
      }
    };
    w.btnStart->click();
    QVERIFY(sent);
    QCOMPARE(during.size(), size_t(2));  // the temporary was there
    QVERIFY(!w.isVisible());
    QVERIFY(f.ui.messages.empty());
    QDir out(QString::fromStdString(dst.Root()));
    QCOMPARE(out.entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList({"big.zip"}));
    QFile file(out.filePath("big.zip"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("PK\x03\x04 an older archive"));

    // A signal while the closing message is up closes it, then the window.
    QtPlatformUi ui;
    SetUi(&ui);
    w.show();
    QTimer poll;
    bool boxClosed = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        QObject::connect(box, &QObject::destroyed, [&] { boxClosed = true; });
        poll.stop();
        ::kill(::getpid(), SIGTERM);
      }
    });
    poll.start(10);
    w.btnStart->click();
    SetUi(nullptr);
    QVERIFY(boxClosed);
    QVERIFY(!w.isVisible());
    QCOMPARE(ArchiveListing(dst.Path("big.zip")), QString("big.mdf 8388608"));
  }

  // A typed path that looks like markup is shown as typed in the warning.
  void warningsShowPlainText() {
    QtPlatformUi ui;
    SetUi(&ui);
    TForm1 form;
    TfrmProgress progress{&form};
    form.SetProgressWindow(&progress);
    form.edtSourceDir->setText("<b>not</b> a folder");
    form.edtDestDir->setText("/tmp");
    form.show();
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    QTimer::singleShot(0, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        shown = box->text();
        format = box->textFormat();
        box->accept();
      }
    });
    form.btnStart->click();
    SetUi(nullptr);
    QCOMPARE(shown, QString("The source directory <b>not</b> a folder does not exist."));
    QCOMPARE(format, Qt::PlainText);
  }

  // The end of a run, in its order: cursor, Start and Close, the progress
  // window, the beep, the message; each step sees the ones before it done.
  void endOfRunInOrder() {
    struct OrderUi : RecorderUi {
      TForm1* form = nullptr;
      TfrmProgress* progress = nullptr;
      std::vector<std::string> steps;
      void SetWaitCursor(bool on) override {
        RecorderUi::SetWaitCursor(on);
        if (!on) steps.push_back(state("cursor"));
      }
      void MessageBeep(BeepKind kind) override {
        steps.push_back(state("beep"));
        RecorderUi::MessageBeep(kind);
      }
      void ShowMessage(DialogKind kind, const std::string& caption,
                       const std::string& text) override {
        RecorderUi::ShowMessage(kind, caption, text);
        steps.push_back(state("message"));
      }
      std::string state(const char* step) const {
        return std::string(step) + (form->btnStart->isEnabled() ? " enabled" : " disabled") +
               (progress->isVisible() ? " shown" : " hidden") + (beeps.empty() ? "" : " beeped");
      }
    };
    OrderUi ui;
    TForm1 form;
    TfrmProgress progress{&form};
    form.SetProgressWindow(&progress);
    ui.form = &form;
    ui.progress = &progress;
    TempTree src, dst;
    src.File("a.mdf", "some rows");
    form.edtSourceDir->setText(QString::fromStdString(src.Root()));
    form.edtDestDir->setText(QString::fromStdString(dst.Root()));
    form.show();
    form.btnStart->click();
    QCOMPARE(ui.steps, (std::vector<std::string>{"cursor disabled shown", "beep enabled hidden",
                                                 "message enabled hidden beeped"}));
    QCOMPARE(ui.cursorChanges, (std::vector<bool>{true, false}));
    QCOMPARE(ui.beeps, std::vector<BeepKind>{BeepKind::Asterisk});
  }

  void closeButtonClosesTheWindow() {
    Fixture f;
    f.form.show();
    QVERIFY(f.form.isVisible());
    f.form.btnClose->click();
    QVERIFY(!f.form.isVisible());
  }

  // The window opens with the focus on MSDE; Tab then walks the designed
  // chain (the browse buttons are no stops) and comes round, Shift+Tab walks
  // it back.
  void focusAndTabChain() {
    Fixture f;
    TForm1& w = f.form;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.optMsde));
    const QList<QWidget*> chain = {w.optMsde,    w.edtSourceDir, w.cbRecursive,
                                   w.edtDestDir, w.cboLevel,     w.chkRemTags,
                                   w.btnStart,   w.btnClose,     w.optMsde};
    QList<QWidget*> forward = {QApplication::focusWidget()};
    for (int i = 1; i < chain.size(); ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      forward.append(QApplication::focusWidget());
    }
    QCOMPARE(forward, chain);
    QList<QWidget*> backward = {QApplication::focusWidget()};
    for (int i = 1; i < chain.size(); ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
      backward.prepend(QApplication::focusWidget());
    }
    QCOMPARE(backward, chain);
  }

  // Opening the folder dialog makes no control of the main window a native
  // window of its own (tools would see each as a window named like it).
  void folderDialogLeavesTheControlsWindowless() {
    Fixture f;
    TForm1& w = f.form;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const auto nativeChildren = [&w] {
      int count = 0;
      for (QWidget* child : w.findChildren<QWidget*>())
        if (!child->isWindow() && (child->testAttribute(Qt::WA_NativeWindow) ||
                                   child->internalWinId() != 0 || child->windowHandle()))
          ++count;
      return count;
    };
    QCOMPARE(nativeChildren(), 0);
    bool opened = false;
    QTimer::singleShot(0, [&] {
      QWidget* dialog = QApplication::activeModalWidget();
      opened = dialog != nullptr;
      if (dialog) dialog->close();
    });
    w.edtSourceDir->Button()->click();
    QVERIFY(opened);
    QCOMPARE(nativeChildren(), 0);
    QVERIFY(f.ui.messages.empty());
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
    const QString suffix = qApp->devicePixelRatio() == 2.0 ? "@2x.png" : ".png";
    QVERIFY(f.form.grab().save(folder + "/main-window" + suffix));
    QVERIFY(f.progress.grab().save(folder + "/progress-window" + suffix));
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindow_test.moc"
