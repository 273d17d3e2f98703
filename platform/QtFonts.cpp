#include "QtFonts.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>

namespace {
constexpr const char* kFallbackFamily = "Liberation Sans";

struct Face {
  const char* family;
  const char* file;
  int id = -1;  // in the application font database, -1 when not loaded
};

Face faces[] = {{"MS Sans Serif", "ms_sans_serif.ttf"}, {"Tahoma", "tahoma.ttf"}};

Face& FaceOf(DesignFace face) {
  return faces[face == DesignFace::MsSansSerif ? 0 : 1];
}

bool Available(const char* family) {
  return QFontDatabase::families().contains(QString::fromLatin1(family));
}

// A bitmap face is drawn sharp only at the pixel size of its strikes.
bool ScreenIsScaled() {
  return qGuiApp && qGuiApp->devicePixelRatio() != 1.0;
}
}  // namespace

int LoadDesignFonts(const QString& dir) {
  int available = 0;
  for (Face& face : faces) {
    if (face.id < 0 && !Available(face.family)) {
      const QString file = QDir(dir).filePath(QString::fromLatin1(face.file));
      if (QFileInfo::exists(file)) face.id = QFontDatabase::addApplicationFont(file);
    }
    if (Available(face.family)) ++available;
    QFont::insertSubstitution(QString::fromLatin1(face.family), kFallbackFamily);
  }
  return available;
}

void UnloadDesignFonts() {
  for (Face& face : faces) {
    if (face.id >= 0) QFontDatabase::removeApplicationFont(face.id);
    face.id = -1;
  }
}

QFont DesignFont(DesignFace face, int pixelHeight) {
  QFont font;
  if (face == DesignFace::MsSansSerif && ScreenIsScaled())
    font.setFamilies({FaceOf(DesignFace::Tahoma).family, kFallbackFamily});
  else
    font.setFamilies({FaceOf(face).family, kFallbackFamily});
  font.setPixelSize(pixelHeight);
  return font;
}

bool DesignFaceAvailable(DesignFace face) {
  return Available(FaceOf(face).family);
}
