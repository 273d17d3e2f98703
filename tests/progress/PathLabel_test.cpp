// The path label: the shortening with one pixel per character in the Windows
// and POSIX path forms, its end on any text, and the label in a real font.
#include <QtTest>
#include <string>

#include "Pathlab.h"
#include "QtFonts.h"
#include "QtUi.h"
#include "ShortenPath.h"

namespace {
constexpr PathSyntax kWindows{'\\', 2};
constexpr PathSyntax kPosix{'/', 0};

int OnePixelPerChar(const std::string& s) {
  return static_cast<int>(s.size());
}

// The shortening steps as written for drive-letter paths, pass by pass: the
// reference for texts whose drive part is followed by a separator.
std::string StepByStep(const std::string& t, int w, PathSyntax syntax) {
  const std::string marker = PathMarker(syntax.separator);
  const size_t drive = static_cast<size_t>(syntax.drivePartLength);
  if (OnePixelPerChar(t) <= w) return t;
  std::string s = t + marker;
  while (OnePixelPerChar(s) > w) {
    const size_t p = s.find(syntax.separator);
    if (p == std::string::npos) return t;
    s.erase(p, 1);
    const size_t q = s.find(syntax.separator);
    if (q != std::string::npos && q == s.size() - 4)
      return s.substr(0, drive) + marker + syntax.separator + s.substr(drive, q - drive);
    if (q != std::string::npos && q > p) s.erase(p, q - p);
  }
  s.erase(s.size() - 4);
  return s.insert(drive, marker);
}

QFont WindowFont() {
  return DesignFont(DesignFace::MsSansSerif, 11);
}
}  // namespace

class PathLabelTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { InstallFontSubstitutes(); }

  void shortensToWidth_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("shown");
    const QString path = R"(C:\Data\Remote\Users\file.mdf)";
    const auto row = [](const char* name, const QString& text, int width, bool windows,
                        const QString& shown) {
      QTest::newRow(name) << text << width << windows << shown;
    };
    row("empty", "", 0, true, "");
    row("fits", path, 29, true, path);
    row("drops one name", path, 28, true, R"(C:\...\Remote\Users\file.mdf)");
    row("drops two names", path, 21, true, R"(C:\...\Users\file.mdf)");
    row("only marker and name fit", path, 15, true, R"(C:\...\file.mdf)");
    row("not even that fits", path, 14, true, R"(C:\...\file.mdf)");
    row("zero width", path, 0, true, R"(C:\...\file.mdf)");
    row("directory keeps its separator", R"(C:\Data\Remote\)", 14, true, R"(C:\...\Remote\)");
    row("directory keeps its last name", R"(C:\Data\Remote\)", 3, true, R"(C:\...\Remote\)");
    row("no directory to remove", R"(C:\file.mdf)", 5, true, R"(C:\file.mdf)");
    row("network path keeps server", R"(\\server\share\dir\f.mdf)", 23, true,
        R"(\\server\...\dir\f.mdf)");
    row("relative path keeps first name", R"(Data\Remote\Users\f.mdf)", 16, true,
        R"(Data\...\f.mdf)");
    row("posix fits", "/Data/Remote/Users/file.mdf", 27, false, "/Data/Remote/Users/file.mdf");
    row("posix drops two names", "/Data/Remote/Users/file.mdf", 19, false, "/.../Users/file.mdf");
    row("posix only marker and name", "/Data/Remote/Users/file.mdf", 13, false, "/.../file.mdf");
    row("posix home", "/home/ann/data/sales.mdf", 19, false, "/.../data/sales.mdf");
    row("posix home, at the most", "/home/ann/data/sales.mdf", 18, false, "/.../sales.mdf");
    row("posix directory", "/Data/Remote/", 12, false, "/.../Remote/");
    row("posix root file", "/sales.mdf", 3, false, "/sales.mdf");
    row("posix root", "/", -1, false, "/");
    row("posix network path", "//server/share/dir/f.mdf", 14, false, "//server/.../f.mdf");
    row("posix double separator only", "//", 0, false, "//");
    row("no separator", "sales.mdf", 4, false, "sales.mdf");
    row("no separator, marker would fit", "sales.mdf", 12, false, "sales.mdf");
    row("backslash is no posix separator", R"(/a\b\c.mdf)", 3, false, R"(/a\b\c.mdf)");
  }
  void shortensToWidth() {
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(bool, windows);
    QFETCH(QString, shown);
    QCOMPARE(QString::fromStdString(ShortenPath(text.toStdString(), width, OnePixelPerChar,
                                                windows ? kWindows : kPosix)),
             shown);
  }

  // Every short text over separators, letters and dots ends; where the drive
  // part is followed by a separator and a text results that fits, it is the
  // one the passes give.
  void agreesWithThePassesOnEveryShortText() {
    for (const PathSyntax syntax : {kWindows, kPosix}) {
      const std::string alphabet = {syntax.separator, 'a', '.'};
      std::vector<std::string> texts = {""};
      for (size_t i = 0; i < texts.size() && texts[i].size() < 8; ++i)
        for (const char c : alphabet) texts.push_back(texts[i] + c);
      for (const std::string& rest : texts) {
        const std::string text = (syntax.drivePartLength ? "C:" : "") + rest;
        const bool drivePath = text.size() > size_t(syntax.drivePartLength) &&
                               text[syntax.drivePartLength] == syntax.separator &&
                               text.find(std::string(2, syntax.separator)) != 0 &&
                               text.back() != syntax.separator;
        for (int width = -1; width <= 14; ++width) {
          const std::string shown = ShortenPath(text, width, OnePixelPerChar, syntax);
          if (OnePixelPerChar(text) <= width) QCOMPARE(shown, text);
          const std::string expected = drivePath ? StepByStep(text, width, syntax) : shown;
          if (OnePixelPerChar(expected) <= width) QCOMPARE(shown, expected);
        }
      }
    }
  }

  void labelHeightComesFromOwnerFont() {
    int smallHeight = 0;
    for (const int pixels : {11, 30}) {
      QWidget owner;
      // An outline face: the bitmap one has strikes for small sizes only.
      owner.setFont(DesignFont(DesignFace::Tahoma, pixels));
      const TPathLabel label(&owner);
      QVERIFY(label.height() >= pixels && label.height() > smallHeight);
      smallHeight = label.height();
    }
  }

  void labelShortensInItsFont() {
    QWidget owner;
    owner.setFont(WindowFont());
    TPathLabel label(&owner);
    label.setGeometry(88, 17, 241, 17);
    const std::string full =
        "/srv/tamblewick/remote/databases/regional offices/north/QRN_Sales_dat.mdf";
    label.SetCaption(full);
    QCOMPARE(label.Caption(), full);
    const std::string shown = label.ShownText();
    QVERIFY2(shown.starts_with("/.../") && full.ends_with(shown.substr(4)), shown.c_str());
    QVERIFY(label.fontMetrics().horizontalAdvance(label.text()) <= 241);
    // The name removed last would not have fitted.
    const size_t kept = full.size() - (shown.size() - 4);
    const std::string oneMore = full.substr(full.rfind('/', kept - 1)) + "/...";
    QVERIFY(label.fontMetrics().horizontalAdvance(QString::fromStdString(oneMore)) > 241);

    // A wider label does not lengthen the text until it is set again.
    label.resize(1000, 17);
    QCOMPARE(label.ShownText(), shown);
    label.SetCaption(full);
    QCOMPARE(label.ShownText(), full);

    const std::string longName = "/data/" + std::string(80, 'W') + ".mdf";
    label.resize(241, 17);
    label.SetCaption(longName);
    QCOMPARE(label.ShownText(), "/.../" + std::string(80, 'W') + ".mdf");
    QCOMPARE(label.Caption(), longName);
  }

  // "&" and markup in a path are drawn as the characters they are.
  void labelShowsPathsLiterally() {
    QWidget owner;
    owner.setFont(WindowFont());
    TPathLabel label(&owner);
    label.resize(1000, 17);
    const QString path = "/data/Smith & Sons/<b>new</b>/x.mdf";
    label.SetCaption(path.toStdString());
    QVERIFY(label.sizeHint().width() >= label.fontMetrics().horizontalAdvance(path) - 1);
  }
};

QTEST_MAIN(PathLabelTest)
#include "PathLabel_test.moc"
