// Times one whole run of the main window (Start to the closing report) over a
// folder, offscreen, with the real message processing; the report is printed
// instead of shown. Compare with dbzip over the same folder
// (bench/window_vs_dbzip.py).
#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>

#include "QtUi.h"
#include "Unit1.h"
#include "Unit2.h"

namespace {
class BenchUi : public QtPlatformUi {
 public:
  void ShowMessage(DialogKind, const std::string& caption, const std::string& text) override {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  }
};
}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: window_run SOURCE_DIR OUTPUT_DIR LEVEL\n");
    return 2;
  }
  QApplication app(argc, argv);
  InstallFontSubstitutes();
  BenchUi ui;
  SetUi(&ui);
  TForm1 form;
  TfrmProgress progress(&form);
  form.SetProgressWindow(&progress);
  form.show();
  form.edtSourceDir->setText(argv[1]);
  form.edtDestDir->setText(argv[2]);
  form.cboLevel->setCurrentText(argv[3]);
  QElapsedTimer timer;
  timer.start();
  form.btnStart->click();
  std::printf("%.3f\n", timer.nsecsElapsed() / 1e9);
  SetUi(nullptr);
  return 0;
}
