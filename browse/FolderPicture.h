// The browse button's picture, a 13 x 14 open yellow folder, kept in one XPM
// file (resources/folder.xpm) that the Qt and the Windows button both draw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A picture as rows of 0xAARRGGBB pixels, top row first; alpha is 0 where
// the button's face shows through and 0xFF elsewhere.
struct Picture {
  int Width = 0;
  int Height = 0;
  std::vector<uint32_t> Pixels;

  uint32_t At(int x, int y) const { return Pixels[static_cast<size_t>(y * Width + x)]; }
};

// The picture file's lines, as the XPM format gives them.
const char* const* FolderPictureXpm();

// The folder picture, decoded from its file.
const Picture& FolderPicture();

// Decodes the XPM subset the picture file uses: one character per pixel,
// colours as "c #RRGGBB" or "c None". Empty when the lines are not such.
Picture DecodeXpm(const char* const* lines);
