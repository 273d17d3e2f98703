#include "ShortenPath.h"

#include <algorithm>

namespace {
// The part of the text kept in front of the marker. It is the drive part
// where a separator follows it; otherwise it reaches up to the next separator,
// so that a relative path keeps its first name whole and a network path
// (two leading separators) keeps its server name, as a drive part would be kept.
size_t HeadLength(const std::string& text, PathSyntax syntax) {
  size_t head = std::min(static_cast<size_t>(std::max(syntax.drivePartLength, 0)), text.size());
  const bool network =
      text.size() >= 2 && text[0] == syntax.separator && text[1] == syntax.separator;
  if (network) head = std::max<size_t>(head, 2);
  size_t next = text.find(syntax.separator, head);
  if (network && syntax.shareIsDrive && next != std::string::npos)
    next = text.find(syntax.separator, next + 1);
  return next == std::string::npos ? text.size() : next;
}
}  // namespace

std::string PathMarker(char separator) {
  return std::string(1, separator) + "...";
}

std::string ShortenPath(const std::string& text, int width, const TextWidth& measure,
                        PathSyntax syntax) {
  if (measure(text) <= width) return text;
  const char sep = syntax.separator;
  const size_t headLength = HeadLength(text, syntax);
  // A directory path keeps its trailing separator with its last name, so the
  // deepest directory stays in view however narrow the label.
  size_t end = text.size();
  if (end > 0 && text[end - 1] == sep) --end;
  const size_t lastSep = end == 0 ? std::string::npos : text.rfind(sep, end - 1);
  // Without a directory name between the head and the last name, a marker
  // would stand for nothing: the text stays whole and is cut off when drawn.
  if (lastSep == std::string::npos || lastSep <= headLength) return text;

  const std::string head = text.substr(0, headLength);
  const std::string marker = PathMarker(sep);
  // `from` is where the kept tail begins, always at a separator. Each pass
  // drops the separator there and the name after it; the width is measured
  // with the marker at the end, which holds the same characters as the text
  // shown with the marker behind the head.
  size_t from = headLength;
  do {
    from = text.find(sep, from + 1);
  } while (from < lastSep && measure(head + text.substr(from) + marker) > width);
  return head + marker + text.substr(from);
}
