// Shortens arbitrary texts to arbitrary widths, in both path forms, with
// characters of uneven widths. The first byte is the width, the second picks
// the path form and the character widths, the rest is the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ShortenPath.h"

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

// Whether shown, with the marker at `at`, is text with whole names removed
// after its head: no more than needed to fit, or all but the last name.
bool Explains(const std::string& text, const std::string& shown, size_t at, int width,
              const TextWidth& measure, char sep) {
  const std::string marker = PathMarker(sep);
  const std::string head = shown.substr(0, at);
  const std::string tail = shown.substr(at + marker.size());
  if (text.compare(0, head.size(), head) != 0 || tail.empty() || tail.front() != sep ||
      tail.size() >= text.size() - head.size()) {
    return false;
  }
  const size_t from = text.size() - tail.size();
  // A name is kept whole: the head ends where a separator begins.
  if (text.compare(from, std::string::npos, tail) != 0 || text[head.size()] != sep) return false;
  // No more was removed than needed: keeping the name before the tail does
  // not fit.
  const size_t before = text.rfind(sep, from - 1);
  if (before != std::string::npos && before > head.size() &&
      measure(head + marker + text.substr(before)) <= width) {
    return false;
  }
  // What does not fit has nothing left to remove: the tail is the last name.
  if (measure(shown) > width) {
    const size_t inner = tail.find(sep, 1);
    if (inner != std::string::npos && inner != tail.size() - 1) return false;
  }
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int width = static_cast<int>(data[0]) - 1;
  const PathSyntax syntax = (data[1] & 1) != 0 ? PathSyntax{'\\', 2} : PathSyntax{'/', 0};
  const unsigned spread = (data[1] >> 1) % 4;  // 0: one pixel per character
  const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
  // A width that adds up character by character, as a font's advances do.
  const TextWidth measure = [spread](const std::string& s) {
    int w = 0;
    for (const char c : s) w += 1 + static_cast<int>(static_cast<unsigned char>(c) % (spread + 1));
    return w;
  };

  const std::string shown = ShortenPath(text, width, measure, syntax);
  if (measure(text) <= width || shown == text) {
    Check(measure(text) > width || shown == text);
    return 0;
  }
  // Shortened: a front part of the text, the marker, then a back part of the
  // text that starts at a separator. Names may hold the marker's characters,
  // so every place it could stand is tried.
  const std::string marker = PathMarker(syntax.separator);
  bool explained = false;
  for (size_t at = shown.find(marker); at != std::string::npos && !explained;
       at = shown.find(marker, at + 1)) {
    explained = Explains(text, shown, at, width, measure, syntax.separator);
  }
  Check(explained);
  return 0;
}
