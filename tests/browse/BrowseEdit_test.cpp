// Drives the browse edit and its folder dialog offscreen: the dialog is
// reached through a timer once it is open and modal, acted on, and closed.
#include "BrowseEdit.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>
#include <functional>

#include "BrowseDlg.h"
#include "Errors.h"
#include "FolderPicture.h"
#include "QtUi.h"
#include "RecorderUi.h"

namespace {
using enum TBrowseDlgOption;

// Runs act on the folder dialog once it is open; whatever act leaves open is
// cancelled afterwards, so a failing check never leaves a test waiting.
void WhenDialogOpens(std::function<void(FolderBrowserDialog&)> act, bool* opened = nullptr) {
  QTimer::singleShot(0, [act = std::move(act), opened] {
    auto* dialog = qobject_cast<FolderBrowserDialog*>(QApplication::activeModalWidget());
    QVERIFY2(dialog, "no folder dialog is open");
    if (opened) *opened = true;
    act(*dialog);
    if (dialog->isVisible()) dialog->reject();
  });
}

// The user picks a folder in the tree.
void Pick(FolderBrowserDialog& dialog, const QString& path) {
  const QModelIndex item = dialog.ItemForPath(path.toStdString());
  QVERIFY2(item.isValid(), qPrintable(path));
  dialog.Tree()->setCurrentIndex(item);
}

std::string Std(const QString& s) {
  return s.toStdString();
}

// A window laid out as the main window lays out its directory fields.
struct FieldWindow {
  QWidget window;
  QLineEdit* before = new QLineEdit(&window);
  TBrowseEdit* field = new TBrowseEdit(&window);
  QCheckBox* after = new QCheckBox("after", &window);

  FieldWindow() {
    window.resize(400, 200);
    before->setGeometry(24, 10, 289, 20);
    field->setGeometry(24, 40, 289, 20);
    after->setGeometry(24, 70, 137, 17);
    QWidget::setTabOrder(before, field);
    QWidget::setTabOrder(field, after);
  }
  bool Show() {
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
  }
};
}  // namespace

class BrowseEditTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir tmp_;
  QString alpha_, beta_;
  RecorderUi* ui_ = nullptr;

 private slots:
  void initTestCase() {
    QVERIFY(tmp_.isValid());
    alpha_ = tmp_.filePath("alpha");
    beta_ = tmp_.filePath("beta");
    QVERIFY(QDir().mkpath(alpha_));
    QVERIFY(QDir().mkpath(beta_ + "/inner"));
    QFile file(tmp_.filePath("plain.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
  }
  void init() { ui_ = new RecorderUi; }
  void cleanup() {
    // An error box would mean a handler failed.
    QVERIFY(ui_->messages.empty());
    delete ui_;
  }

  // --- The field and its dialog ---

  void sourceFieldOpensOnItsFolder() {
    FieldWindow w;
    QVERIFY(w.Show());
    w.field->StartWithLast = true;
    w.field->setText(alpha_);
    bool opened = false;
    WhenDialogOpens(
        [&](FolderBrowserDialog& d) {
          QCOMPARE(d.SelectedPath(), Std(alpha_));
          QVERIFY(!d.OkButton()->isEnabled());
          Pick(d, beta_);
          QVERIFY(d.OkButton()->isEnabled());
          d.OkButton()->click();
        },
        &opened);
    w.field->Button()->click();
    QVERIFY(opened);
    QCOMPARE(w.field->text(), beta_);
  }

  void outputFieldOpensWithoutItsFolder() {
    FieldWindow w;
    QVERIFY(w.Show());
    w.field->StartWithLast = false;
    w.field->setText(alpha_);
    bool opened = false;
    WhenDialogOpens(
        [&](FolderBrowserDialog& d) {
          QCOMPARE(d.SelectedPath(), std::string("/"));  // the dialog's own selection
          QVERIFY(!d.OkButton()->isEnabled());
          Pick(d, beta_);
          d.CancelButton()->click();
        },
        &opened);
    w.field->Button()->click();
    QVERIFY(opened);
    QCOMPARE(w.field->text(), alpha_);
  }

  void textNamingNoFolderOpensOnTheDefault_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("missing") << tmp_.filePath("missing/folder");
    QTest::newRow("a file") << tmp_.filePath("plain.txt");
    QTest::newRow("not a path") << QString("  *?  ");
  }
  void textNamingNoFolderOpensOnTheDefault() {
    QFETCH(QString, text);
    TBrowseEdit field;
    field.StartWithLast = true;
    field.setText(text);
    bool opened = false;
    WhenDialogOpens(
        [&](FolderBrowserDialog& d) {
          QCOMPARE(d.SelectedPath(), std::string("/"));
          d.reject();
        },
        &opened);
    field.Browse();
    QVERIFY(opened);
    QCOMPARE(field.text(), text);
  }

  void rootComesBackAsTheSeparator() {
    TBrowseEdit field;
    field.setText("old");
    WhenDialogOpens([&](FolderBrowserDialog& d) {
      Pick(d, alpha_);
      Pick(d, "/");
      QVERIFY(d.OkButton()->isEnabled());
      d.OkButton()->click();
    });
    field.Browse();
    QCOMPARE(field.text(), QString("/"));
  }

  void okStateAtOpening_data() {
    QTest::addColumn<bool>("enableOK");
    QTest::addColumn<bool>("withFolder");
    QTest::newRow("defaults") << false << false;
    QTest::newRow("defaults, folder selected") << false << true;
    QTest::newRow("doEnableOK") << true << false;
    QTest::newRow("doEnableOK, folder selected") << true << true;
  }
  void okStateAtOpening() {
    QFETCH(bool, enableOK);
    QFETCH(bool, withFolder);
    TBrowseEdit field;
    if (enableOK) field.Options.Include(doEnableOK);
    field.StartWithLast = true;
    if (withFolder) field.setText(alpha_);
    std::string chosen;
    WhenDialogOpens([&](FolderBrowserDialog& d) {
      QCOMPARE(d.OkButton()->isEnabled(), enableOK);
      // Clicking the selected item is a choice: OK comes on and takes it.
      QTreeView* tree = d.Tree();
      QTRY_VERIFY(tree->visualRect(tree->currentIndex()).height() > 0);  // laid out
      QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                        tree->visualRect(tree->currentIndex()).center());
      QVERIFY(d.OkButton()->isEnabled());
      chosen = d.SelectedPath();
      d.OkButton()->click();
    });
    field.Browse();
    QCOMPARE(field.text(), QString::fromStdString(chosen));
    QCOMPARE(chosen, withFolder ? Std(alpha_) : std::string("/"));
  }

  // The button is no tab stop and takes no focus: Tab goes from the field
  // to the next control, a click leaves the focus in the field, and F4 or
  // Alt+Down in the field opens the dialog.
  void keyboardReachesTheDialogFromTheField() {
    FieldWindow w;
    QVERIFY(w.Show());
    QToolButton* button = w.field->Button();
    QCOMPARE(button->accessibleName(), QString("Browse for folder"));
    QCOMPARE(button->toolTip(), QString("Browse for folder"));
    QCOMPARE(button->focusPolicy(), Qt::NoFocus);

    w.field->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w.field, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.after));
    QTest::keyClick(w.after, Qt::Key_Tab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.field));

    int opened = 0;
    const auto count = [&](FolderBrowserDialog&) { ++opened; };
    WhenDialogOpens(count);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(w.window.focusWidget(), static_cast<QWidget*>(w.field));
    WhenDialogOpens(count);
    QTest::keyClick(w.field, Qt::Key_F4);
    WhenDialogOpens(count);
    QTest::keyClick(w.field, Qt::Key_Down, Qt::AltModifier);
    QCOMPARE(opened, 3);
    // Other keys stay the field's own.
    QTest::keyClick(w.field, Qt::Key_Down);
    QTest::keyClicks(w.field, "x");
    QVERIFY(w.field->text().endsWith("x"));
    QCOMPARE(opened, 3);
  }

  // The picture is the one file the Windows button draws too, pixel for
  // pixel, and twice its size on a screen scaled by 2; the decoder that the
  // Windows button uses reads the file as Qt's own XPM reader does.
  void buttonShowsTheFolderPictureInsideTheField() {
    FieldWindow w;
    QVERIFY(w.Show());
    const QImage file = QImage(FolderPictureXpm()).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(file.size(), QSize(13, 14));
    const Picture& decoded = FolderPicture();
    QCOMPARE(QSize(decoded.Width, decoded.Height), file.size());
    int yellow = 0;
    for (int y = 0; y < file.height(); ++y) {
      for (int x = 0; x < file.width(); ++x) {
        const QRgb pixel = file.pixel(x, y);
        QCOMPARE(decoded.At(x, y), qAlpha(pixel) == 0 ? 0u : uint32_t(pixel));
        if (qAlpha(pixel) && qRed(pixel) == 255 && qGreen(pixel) == 255 && qBlue(pixel) < 200)
          ++yellow;
      }
    }
    QVERIFY(yellow > 40);  // a yellow folder
    const QIcon icon = w.field->Button()->icon();
    QCOMPARE(w.field->Button()->iconSize(), QSize(13, 14));
    QCOMPARE(icon.pixmap(QSize(13, 14), 1.0).toImage().convertToFormat(QImage::Format_ARGB32),
             file);
    const QImage doubled =
        icon.pixmap(QSize(13, 14), 2.0).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(doubled.size(), QSize(26, 28));
    for (int y = 0; y < doubled.height(); ++y)
      for (int x = 0; x < doubled.width(); ++x)
        QCOMPARE(doubled.pixel(x, y), file.pixel(x / 2, y / 2));

    // The button sits inside the field at its right end, clear of the text.
    const QRect button = w.field->Button()->geometry();
    QVERIFY(w.field->rect().contains(button));
    QCOMPARE(button.right(), w.field->width() - 3);
    QVERIFY(w.field->textMargins().right() >= button.width());
  }

  // --- The dialog component ---

  void setupRunsInOrderBeforeOnInit() {
    FieldWindow w;
    w.window.setGeometry(200, 150, 300, 200);
    QVERIFY(w.Show());
    TBrowseDlg dlg;
    dlg.CaptionTitle = "Pick a folder";
    dlg.Caption = "Where are the databases?";
    dlg.Options = {doReturnFileSysDirs, doStatusText, doShowPath};
    dlg.SetStatusText("before");
    dlg.SetSelectedFolder(Std(alpha_));
    std::vector<std::string> changes;
    dlg.OnSelectionChanged = [&](TObject* sender, FolderBrowserDialog* wnd, const std::string& path,
                                 const QModelIndex& item) {
      QCOMPARE(sender, &dlg);
      QCOMPARE(wnd, dlg.DialogWindow());
      QVERIFY(item.isValid());
      changes.push_back(path);
    };
    bool initialised = false;
    dlg.OnInit = [&](TObject* sender) {
      initialised = true;
      QCOMPARE(sender, &dlg);
      FolderBrowserDialog* d = dlg.DialogWindow();
      QVERIFY(d);
      const QRect active = w.window.frameGeometry();
      const QSize size = d->frameGeometry().size();
      QCOMPARE(d->pos(), QPoint(active.x() + (active.width() - size.width()) / 2,
                                active.y() + (active.height() - size.height()) / 2));
      QCOMPARE(d->windowTitle(), QString("Pick a folder"));
      QCOMPARE(d->Instruction()->text(), QString("Where are the databases?"));
      QCOMPARE(d->SelectedPath(), Std(alpha_));
      QVERIFY(!d->OkButton()->isEnabled());
      const std::string shown = ShortenStatusText(Std(alpha_), kStatusPathLength);
      QCOMPARE(dlg.StatusText(), shown);
      QCOMPARE(d->StatusLine()->text(), QString::fromStdString(shown));
    };
    WhenDialogOpens([&](FolderBrowserDialog& d) {
      // Centred frame over frame, as the user sees both windows.
      QVERIFY(d.frameGeometry().size() != d.size());
      const QPoint offset = d.frameGeometry().center() - w.window.frameGeometry().center();
      QVERIFY2(offset.manhattanLength() <= 1,
               qPrintable(QString("off by %1,%2").arg(offset.x()).arg(offset.y())));
      // Selecting through the component while the dialog is open.
      dlg.SetSelectedFolder(Std(beta_));
      QCOMPARE(d.SelectedPath(), Std(beta_));
      d.OkButton()->click();
    });
    QVERIFY(dlg.Execute());
    QVERIFY(initialised);
    QCOMPARE(dlg.SelectedFolder(), Std(beta_));
    QVERIFY(!dlg.DialogWindow());
    QCOMPARE(changes.back(), Std(beta_));
    QVERIFY(std::find(changes.begin(), changes.end(), Std(alpha_)) != changes.end());
  }

  // The shell's order: the set-up steps once the dialog exists, then the
  // selection steps for its own initial selection, which leaves OK as the
  // set-up put it.
  void selectionStepsFollowTheSetUp() {
    for (const bool withFolder : {false, true}) {
      TBrowseDlg dlg;
      if (withFolder) dlg.SetSelectedFolder(Std(alpha_));
      std::vector<std::string> events;
      dlg.OnInit = [&](TObject*) { events.push_back("init"); };
      dlg.OnSelectionChanged = [&](TObject*, FolderBrowserDialog*, const std::string& path,
                                   const QModelIndex&) { events.push_back(path); };
      WhenDialogOpens([&](FolderBrowserDialog& d) {
        QVERIFY(!d.OkButton()->isEnabled());
        d.reject();
      });
      QVERIFY(!dlg.Execute());
      // A folder asked for is selected by set-up step 4, before OnInit ends it.
      const std::vector<std::string> expected = withFolder
                                                    ? std::vector<std::string>{Std(alpha_), "init"}
                                                    : std::vector<std::string>{"init", "/"};
      QCOMPARE(events, expected);
    }
  }

  // Without an owner the dialog belongs to the application's main window,
  // also when no window is active; with one, to the owner's window.
  void dialogParent() {
    QWidget main;
    main.setGeometry(100, 80, 438, 321);
    SetMainWindow(&main);
    QVERIFY(!QApplication::activeWindow());
    TBrowseDlg ownerless;
    QWidget* parent = nullptr;
    WhenDialogOpens([&](FolderBrowserDialog& d) { parent = d.parentWidget(); });
    QVERIFY(!ownerless.Execute());
    QCOMPARE(parent, &main);

    FieldWindow w;
    TBrowseDlg owned(w.field);
    WhenDialogOpens([&](FolderBrowserDialog& d) { parent = d.parentWidget(); });
    QVERIFY(!owned.Execute());
    QCOMPARE(parent, &w.window);
    SetMainWindow(nullptr);
  }

  void statusLineFollowsTheOptions() {
    TBrowseDlg dlg;
    dlg.Options = {doReturnFileSysDirs, doStatusText};  // no doShowPath
    dlg.SetStatusText("Choose the source");
    WhenDialogOpens([&](FolderBrowserDialog& d) {
      QVERIFY(d.StatusLine());
      Pick(d, alpha_);
      QCOMPARE(d.StatusLine()->text(), QString("Choose the source"));
      dlg.SetStatusText("Changed while open");
      QCOMPARE(d.StatusLine()->text(), QString("Changed while open"));
    });
    QVERIFY(!dlg.Execute());

    TBrowseDlg plain;  // the program's options: no status line, no edit box
    WhenDialogOpens([&](FolderBrowserDialog& d) {
      QVERIFY(!d.StatusLine());
      QVERIFY(!d.EditBox());
      QCOMPARE(d.windowTitle(), QString("Browse for Folder"));
      QVERIFY(d.Instruction()->isHidden());
    });
    QVERIFY(!plain.Execute());
  }

  void typedFolderIsValidated() {
    TBrowseDlg dlg;
    dlg.Options = {doReturnFileSysDirs, doAllowEdit};
    std::vector<std::string> invalid;
    bool keepOpen = true;
    dlg.OnValidate = [&](TObject*, const std::string& path, bool& cancel) {
      invalid.push_back(path);
      cancel = keepOpen;
    };
    dlg.SetSelectedFolder(Std(tmp_.path()));

    // A relative name below the selection is taken.
    WhenDialogOpens([&](FolderBrowserDialog& d) {
      QVERIFY(d.EditBox());
      QCOMPARE(d.EditBox()->text(), QDir(tmp_.path()).dirName());
      d.EnableOK(true);
      d.EditBox()->setText("beta/inner");
      d.OkButton()->click();
    });
    QVERIFY(dlg.Execute());
    QCOMPARE(dlg.SelectedFolder(), Std(beta_ + "/inner"));
    QVERIFY(invalid.empty());

    // A name that is no folder: the handler keeps the dialog open, then lets it close.
    dlg.SetSelectedFolder(Std(alpha_));
    WhenDialogOpens([&](FolderBrowserDialog& d) {
      d.EnableOK(true);
      d.EditBox()->setText("no such folder");
      d.OkButton()->click();
      QVERIFY(d.isVisible());
      keepOpen = false;
      d.OkButton()->click();
      QVERIFY(!d.isVisible());
    });
    QVERIFY(!dlg.Execute());
    QCOMPARE(invalid, (std::vector<std::string>{"no such folder", "no such folder"}));
    QCOMPARE(dlg.SelectedFolder(), Std(alpha_));
  }

  void failingHandlers() {
    TBrowseDlg dlg;
    dlg.OnInit = [](TObject*) { throw Exception("init failed"); };
    QVERIFY_THROWS_EXCEPTION(Exception, dlg.Execute());
    QVERIFY(!dlg.DialogWindow());
    QVERIFY(!QApplication::activeModalWidget());

    // A handler failing while the dialog is open shows the error box; the
    // dialog goes on and still returns the user's choice.
    TBrowseDlg open;
    open.OnSelectionChanged = [](TObject*, FolderBrowserDialog*, const std::string& path,
                                 const QModelIndex&) {
      if (path.ends_with("alpha")) throw Exception("selection failed");
    };
    WhenDialogOpens([&](FolderBrowserDialog& d) {
      Pick(d, alpha_);
      QVERIFY(d.isVisible());
      Pick(d, beta_);
      d.OkButton()->click();
    });
    QVERIFY(open.Execute());
    QCOMPARE(open.SelectedFolder(), Std(beta_));
    QCOMPARE(ui_->messages.size(), size_t(1));
    QCOMPARE(ui_->messages[0].text, std::string("selection failed."));
    ui_->messages.clear();
  }
};

QTEST_MAIN(BrowseEditTest)
#include "BrowseEdit_test.moc"
