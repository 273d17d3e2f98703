#include "FolderPicture.h"

#include <cstdio>
#include <cstring>
#include <map>

namespace {
#include "resources/folder.xpm"

// "#RRGGBB" as an opaque pixel, "None" as a clear one; false for anything else.
bool ParseColour(const char* text, uint32_t& pixel) {
  if (std::strcmp(text, "None") == 0) {
    pixel = 0;
    return true;
  }
  unsigned rgb = 0;
  int used = 0;
  if (std::strlen(text) != 7 || std::sscanf(text, "#%6x%n", &rgb, &used) != 1 || used != 7)
    return false;
  pixel = 0xFF000000u | rgb;
  return true;
}
}  // namespace

const char* const* FolderPictureXpm() {
  return folder_xpm;
}

const Picture& FolderPicture() {
  static const Picture picture = DecodeXpm(folder_xpm);
  return picture;
}

Picture DecodeXpm(const char* const* lines) {
  int width = 0, height = 0, colours = 0, perPixel = 0;
  if (std::sscanf(lines[0], "%d %d %d %d", &width, &height, &colours, &perPixel) != 4 ||
      width <= 0 || height <= 0 || colours <= 0 || perPixel != 1)
    return {};
  std::map<char, uint32_t> palette;
  for (int i = 1; i <= colours; ++i) {
    const char* line = lines[i];
    char value[16] = {};
    uint32_t pixel = 0;
    if (line[0] == '\0' || std::sscanf(line + 1, " c %15s", value) != 1 ||
        !ParseColour(value, pixel))
      return {};
    palette[line[0]] = pixel;
  }
  Picture picture{width, height, {}};
  picture.Pixels.reserve(static_cast<size_t>(width * height));
  for (int y = 0; y < height; ++y) {
    const char* row = lines[1 + colours + y];
    if (std::strlen(row) != static_cast<size_t>(width)) return {};
    for (int x = 0; x < width; ++x) {
      const auto found = palette.find(row[x]);
      if (found == palette.end()) return {};
      picture.Pixels.push_back(found->second);
    }
  }
  return picture;
}
