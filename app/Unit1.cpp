#include "Unit1.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QProxyStyle>
#include <QShowEvent>
#include <QSocketNotifier>
#include <QStyleOptionButton>
#include <csignal>

#include "Files.h"
#include "QtFonts.h"
#include "QtUi.h"
#include "RunDialogs.h"
#include "Ui.h"
#include "Unit2.h"

namespace {
// Check and radio indicators of the classic 13-pixel size with a narrow gap,
// so that each label's text fits the width its control was given.
class ClassicIndicatorStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    switch (metric) {
      case PM_IndicatorWidth:
      case PM_IndicatorHeight:
      case PM_ExclusiveIndicatorWidth:
      case PM_ExclusiveIndicatorHeight:
        return 13;
      case PM_CheckBoxLabelSpacing:
      case PM_RadioButtonLabelSpacing:
        return 2;
      default:
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
  }
};

QStyle* IndicatorStyle() {
  static auto* style = new ClassicIndicatorStyle;
  return style;
}

// How many pixels the text of a check box or radio button lacks beside its
// indicator.
int TextShortfall(const QAbstractButton& button) {
  QStyleOptionButton option;
  option.initFrom(&button);
  option.text = button.text();
  const QRect contents = button.style()->subElementRect(qobject_cast<const QCheckBox*>(&button)
                                                            ? QStyle::SE_CheckBoxContents
                                                            : QStyle::SE_RadioButtonContents,
                                                        &option, &button);
  return button.fontMetrics().horizontalAdvance(button.text()) - contents.width();
}

QLabel* MakeLabel(const char* text, QWidget* parent, int left, int top) {
  auto* label = new QLabel(text, parent);
  label->move(left, top);
  label->adjustSize();
  return label;
}
}  // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      SearchFolders(&RunSearch()),
      ZipWriter1(&RunWriter()) {
  setObjectName("Form1");
  setWindowTitle(kMainCaption);
  setFont(DesignFont(DesignFace::MsSansSerif, 11));
  setFixedSize(438, 321);
  // The first main window is the application's: owner-less dialogs belong to it.
  if (!MainWindow()) SetMainWindow(this);
  Q_INIT_RESOURCE(app);  // the icons live in this static library
  QIcon icon;
  icon.addFile(":/icons/tamblewick-16.png", QSize(16, 16));
  icon.addFile(":/icons/tamblewick-32.png", QSize(32, 32));
  setWindowIcon(icon);
  CreateControls();

  SetUpComponents(*SearchFolders, *ZipWriter1);
  FormCreate(this);
}

TForm1::~TForm1() = default;

void TForm1::CreateControls() {
  grp1 = new QGroupBox("Database Types", this);
  grp1->setGeometry(8, 5, 337, 52);
  optMsde = new QRadioButton("MSDE Databases", grp1);
  optMsde->setGeometry(24, 24, 121, 17);
  optMsde->setChecked(true);
  optInterbase = new QRadioButton("Interbase Databases", grp1);
  optInterbase->setGeometry(176, 24, 121, 17);

  grp2 = new QGroupBox("Directory Information", this);
  grp2->setGeometry(8, 60, 337, 149);
  Label1 = MakeLabel("Select directory containing Tamblewick remote databases:", grp2, 24, 24);
  edtSourceDir = new TBrowseEdit(grp2);
  edtSourceDir->setGeometry(24, 40, 289, 20);
  edtSourceDir->StartWithLast = true;
  cbRecursive = new QCheckBox("Recurse sub-directories?", grp2);
  cbRecursive->setGeometry(24, 64, 137, 17);
  Label2 = MakeLabel("Select output directory to place zipped databases:", grp2, 24, 92);
  edtDestDir = new TBrowseEdit(grp2);
  edtDestDir->setGeometry(24, 109, 289, 20);
  edtDestDir->StartWithLast = false;

  grp3 = new QGroupBox("Compression File Information", this);
  grp3->setGeometry(8, 213, 337, 84);
  cboLevel = new QComboBox(grp3);
  cboLevel->setGeometry(32, 24, 41, 21);
  cboLevel->setEditable(false);
  for (const char* level : {"9", "8", "7", "6", "5", "4", "3", "2", "1"}) cboLevel->addItem(level);
  cboLevel->setCurrentIndex(-1);
  Label5 = MakeLabel("Level (9 = Highest / 1 = Fastest)", grp3, 80, 29);
  chkRemTags = new QCheckBox("Remove 'QRN_' and '_dat' from zip file name?", grp3);
  chkRemTags->setGeometry(32, 56, 233, 17);
  chkRemTags->setChecked(true);

  btnStart = new QPushButton("&Start", this);
  btnStart->setGeometry(352, 10, 81, 25);
  btnClose = new QPushButton("&Close", this);
  btnClose->setGeometry(352, 40, 81, 25);
  for (QPushButton* b : {btnStart, btnClose}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setFont(DesignFont(DesignFace::Tahoma, 9));
  StatusBar1->setGeometry(0, 321 - 17, 438, 17);
  StatusBar1->showMessage("Zips each database found into an archive of its own.");

  for (QAbstractButton* b :
       std::initializer_list<QAbstractButton*>{optMsde, optInterbase, cbRecursive, chkRemTags}) {
    b->setStyle(IndicatorStyle());
    // With the design's face every text fits its control. A stand-in face
    // runs a few pixels wider on some texts; such a control then grows to the
    // right, where its group has room, rather than cut its text short.
    if (const int lacking = TextShortfall(*b); lacking > 0)
      b->resize(b->width() + lacking, b->height());
  }

  // Object names let tests and accessibility tools find the controls.
  grp1->setObjectName("grp1");
  optMsde->setObjectName("optMsde");
  optInterbase->setObjectName("optInterbase");
  grp2->setObjectName("grp2");
  edtSourceDir->setObjectName("edtSourceDir");
  cbRecursive->setObjectName("cbRecursive");
  edtDestDir->setObjectName("edtDestDir");
  grp3->setObjectName("grp3");
  cboLevel->setObjectName("cboLevel");
  chkRemTags->setObjectName("chkRemTags");
  btnStart->setObjectName("btnStart");
  btnClose->setObjectName("btnClose");
  StatusBar1->setObjectName("StatusBar1");
  Label1->setObjectName("Label1");
  Label2->setObjectName("Label2");
  Label5->setObjectName("Label5");

  // A screen reader names each field by the label above it. The labels have
  // no accelerator, so their text serves as the name as it stands.
  for (auto [label, field] : {std::pair<QLabel*, QWidget*>{Label1, edtSourceDir},
                              {Label2, edtDestDir},
                              {Label5, cboLevel}}) {
    label->setBuddy(field);
    field->setAccessibleName(label->text());
  }
  StatusBar1->setAccessibleName("Status");

  // Tab order: the group boxes 0..2, then Start and Close; inside each group
  // its own order.
  QWidget::setTabOrder(optMsde, optInterbase);
  QWidget::setTabOrder(optInterbase, edtSourceDir);
  QWidget::setTabOrder(edtSourceDir, cbRecursive);
  QWidget::setTabOrder(cbRecursive, edtDestDir);
  QWidget::setTabOrder(edtDestDir, cboLevel);
  QWidget::setTabOrder(cboLevel, chkRemTags);
  QWidget::setTabOrder(chkRemTags, btnStart);
  QWidget::setTabOrder(btnStart, btnClose);

  // The handler runs only when a click changes the selection.
  for (QRadioButton* option : {optMsde, optInterbase}) {
    connect(option, &QRadioButton::toggled, this, [this, option](bool checked) {
      if (checked) RunGuarded([&] { optMsdeClick(option); });
    });
  }
  connect(btnStart, &QPushButton::clicked, this,
          [this] { RunGuarded([&] { btnStartClick(btnStart); }); });
  connect(btnClose, &QPushButton::clicked, this,
          [this] { RunGuarded([&] { btnCloseClick(btnClose); }); });
}

void TForm1::FormCreate(QObject*) {
  cboLevel->setCurrentIndex(0);
}

void TForm1::optMsdeClick(QObject*) {
  if (optMsde->isChecked()) {
    SearchFolders->FileMask = "*.mdf";
    chkRemTags->setEnabled(true);
  } else {
    SearchFolders->FileMask = "*.gdb";
    chkRemTags->setEnabled(false);
  }
}

void TForm1::btnCloseClick(QObject*) {
  close();
}

void TForm1::showEvent(QShowEvent* event) {
  if (!centred_) {
    centred_ = true;
    CentreOnScreen(*this);
  }
  QWidget::showEvent(event);
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (CloseQuery())
    event->accept();
  else
    event->ignore();
}

void TForm1::btnStartClick(QObject*) {
  StartRun(edtSourceDir->text().toStdString(), edtDestDir->text().toStdString());
}

TWindowChoices TForm1::Choices() const {
  TWindowChoices choices;
  choices.recursive = cbRecursive->isChecked();
  choices.msde = optMsde->isChecked();
  choices.removeTags = chkRemTags->isChecked();
  choices.level = cboLevel->currentText().toInt();
  return choices;
}

void TForm1::EnableStartAndClose(bool enabled) {
  btnStart->setEnabled(enabled);
  btnClose->setEnabled(enabled);
}

void TForm1::ShowProgressWindow() {
  frmProgress->Show();
}

void TForm1::CloseProgressWindow() {
  if (frmProgress) frmProgress->Close();
}

void TForm1::ShowCurrentFile(const std::string& path) {
  frmProgress->lblCurrFile->SetCaption(path);
}

void TForm1::CloseWindow() {
  close();
}

void TForm1::SearchFoldersProcess(TObject*, const std::string& Dir, int32_t CountFiles, int32_t) {
  frmProgress->lblCurrFile->SetCaption(Dir);
  frmProgress->lblTotalFiles->setText(QString::number(CountFiles) + " databases found");
  frmProgress->lblTotalFiles->adjustSize();
}

void TForm1::SearchFoldersChanged(TObject*, int32_t CountFiles, int32_t) {
  frmProgress->lblCurrFile->SetCaption("");
  if (!SearchFolders->FoundFiles.empty()) {
    Ui().SetWaitCursor(true);
    frmProgress->lblTotalFiles->setText(QString::number(CountFiles) + " databases found");
    frmProgress->lblTotalFiles->adjustSize();
  }
}

// The writer is the run's; this shows what it is about to zip.
void TForm1::ZipDatabase(const std::string&, const std::string& sourcePath) {
  frmProgress->lblStatus->setText(
      QString::fromStdString("Zipping " + ExtractFileName(sourcePath) + "..."));
  frmProgress->lblStatus->adjustSize();
  Ui().ProcessMessages();
}

void TForm1::ZipWriter1TotalPercentDone(TObject*, int Percent) {
  frmProgress->prgBar->setValue(Percent);
  Ui().ProcessMessages();
}

void TForm1::ZipWriter1ZipComplete(TObject*, int) {
  frmProgress->prgBar->setValue(0);
  frmProgress->lblStatus->setText("");
  Ui().ProcessMessages();
}

namespace {
int g_signalPipe[2] = {-1, -1};
std::atomic<bool>* g_signalCancel = nullptr;

extern "C" void OnTerminationSignal(int) {
  const int saved = errno;
  // The token first: a run deep in a database ends at the writer's next
  // look, whether or not messages are processed meanwhile.
  if (g_signalCancel != nullptr) g_signalCancel->store(true);
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
  errno = saved;
}
}  // namespace

void CloseOnTerminationSignals(TForm1& form) {
  if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_signalCancel = &form.RunCancel();
  // The window closes from the event loop, where closing is safe: during a
  // run that is the next time messages are processed.
  auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &form);
  QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] {
    char bytes[16];
    while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    form.close();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGHUP, SIGINT}) sigaction(signal, &action, nullptr);
}
