#include "BrowseRules.h"

#include <utility>

namespace {
using enum TBrowseDlgOption;

// Each option and the shell flags it sets.
constexpr std::pair<TBrowseDlgOption, unsigned> kOptionFlags[] = {
    {doBrowseForComputer, BIF_BROWSEFORCOMPUTER},
    {doBrowseForPrinter, BIF_BROWSEFORPRINTER},
    {doDontGoBelowDomain, BIF_DONTGOBELOWDOMAIN},
    {doReturnFileSysAncestors, BIF_RETURNFSANCESTORS},
    {doReturnFileSysDirs, BIF_RETURNONLYFSDIRS},
    {doStatusText, BIF_STATUSTEXT},
    {doShowFiles, BIF_BROWSEINCLUDEFILES},
    {doAllowEdit, BIF_EDITBOX | BIF_VALIDATE},
    {doShowPath, 0},
    {doEnableOK, 0},
};

// Names are UTF-8: a character is every byte that does not continue another.
size_t Characters(std::string_view s) {
  size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}
}  // namespace

unsigned BrowseFlags(TBrowseDlgOptions options) {
  unsigned flags = 0;
  for (const auto& [option, bits] : kOptionFlags)
    if (options.Contains(option)) flags |= bits;
  return flags;
}

TDlgPoint CentreDialog(const TDlgRect& reference, TDlgSize dialog, TDlgSize screen) {
  // C++ division rounds towards zero, as the placement wants for a dialog
  // larger than its reference.
  int left = reference.Left + (reference.Width() - dialog.Width) / 2;
  int top = reference.Top + (reference.Height() - dialog.Height) / 2;
  if (top + dialog.Height > screen.Height) top = reference.Bottom - dialog.Height;
  if (left + dialog.Width > screen.Width) left = reference.Right - dialog.Width;
  return {left < 0 ? 0 : left, top < 0 ? 0 : top};
}

std::string ShortenStatusText(std::string_view path, size_t maxLength, TPathStyle style) {
  const char delim = style.Delim;
  const std::string marker = std::string("...") + delim;  // stands for the cut directories
  const std::string rootMarker = delim + marker;

  const size_t split =
      style.Drives ? path.find_last_of(std::string{delim, ':'}) : path.find_last_of(delim);
  std::string dir(path.substr(0, split == std::string_view::npos ? 0 : split + 1));
  const std::string name(path.substr(dir.size()));
  std::string drive;
  if (style.Drives && dir.size() >= 2 && dir[1] == ':') {
    drive = dir.substr(0, 2);
    dir.erase(0, 2);
  }

  std::string result(path);
  while ((!dir.empty() || !drive.empty()) && Characters(result) > maxLength) {
    if (dir == rootMarker) {
      drive.clear();
      dir = marker;
    } else if (dir.empty()) {
      drive.clear();
    } else if (dir.size() == 1 && dir[0] == delim) {
      dir.clear();
    } else {
      const bool leading = dir[0] == delim;
      if (leading) dir.erase(0, 1);
      // Only the marker of an earlier cut is dropped here: a directory whose
      // own name starts with "." (common on POSIX) is cut like any other.
      if (dir.starts_with(marker)) dir.erase(0, marker.size());
      const size_t cut = dir.find(delim);
      dir = cut == std::string::npos ? std::string() : marker + dir.substr(cut + 1);
      if (leading) dir.insert(0, 1, delim);
    }
    result = drive + dir + name;
  }
  return result;
}
