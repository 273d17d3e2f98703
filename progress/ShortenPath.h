// Fitting a path into a width: whole directory names leave from the front,
// the drive part stays, and a marker stands where the names were.
#pragma once

#include <functional>
#include <string>

#include "Files.h"

// The pixel width of a text drawn in one line.
using TextWidth = std::function<int(const std::string&)>;

// How paths are written: their separator and the length of their drive part.
struct PathSyntax {
  char separator = PathDelim;
  int drivePartLength = DrivePartLength;
  // A network path's drive part is its server and share ("\\srv\share"),
  // as Windows names it, rather than its server alone.
  bool shareIsDrive = false;
};

// The marker that stands for removed directory names: the separator and "...".
std::string PathMarker(char separator);

// What a label `width` pixels wide shows for `text`. A text that fits is shown
// as it is. Otherwise directory names are removed from the front, one at a
// time, until the text with the marker at its end fits or only the last name
// (with a trailing separator, if any) is left; the marker then goes right
// after the drive part ("C:\...\Users\a.mdf", "/.../data/a.mdf"). A text with
// no directory name to remove is shown as it is. Widths are measured on the
// kept text with the marker at its end: the same characters as the result.
std::string ShortenPath(const std::string& text, int width, const TextWidth& measure,
                        PathSyntax syntax = {});
