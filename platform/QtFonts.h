// The design's window fonts on this platform. Debian's fonts-wine package
// holds free faces of "MS Sans Serif" and "Tahoma" with the designed metrics,
// so every text fits the bounds it was laid out for; Liberation Sans stands
// in where the package is missing.
#pragma once

#include <QFont>
#include <QString>

enum class DesignFace { MsSansSerif, Tahoma };

// Where fonts-wine installs the faces.
inline constexpr const char* kDesignFontDir = "/usr/share/wine/fonts";

// Makes the faces found in dir available to the windows (a face already
// loaded is kept) and maps both families to Liberation Sans for when a face
// is missing. Returns how many of the two faces are available afterwards.
int LoadDesignFonts(const QString& dir = kDesignFontDir);

// Forgets the faces LoadDesignFonts loaded, as if the package were missing.
void UnloadDesignFonts();

// The font of a face at a pixel height (the design's height -11 is 11).
// "MS Sans Serif" is a bitmap face with strikes for the small sizes only: on a
// screen scaled beyond 1 its glyphs would be drawn at their 1x size, tiny and
// spaced, so there the outline face Tahoma (or its stand-in) takes its place.
QFont DesignFont(DesignFace face, int pixelHeight);

// True when the design's own face is there to be drawn, not a stand-in.
bool DesignFaceAvailable(DesignFace face);
