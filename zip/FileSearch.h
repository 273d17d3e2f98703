// The directory search behind pattern entries of a file list: the files of a
// directory (and, when asked, of its sub-directories) whose names match a mask.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class TMask;

struct TFoundFile {
  std::string Path;  // the directory as given, followed by the name
  int64_t Size = 0;
  uint32_t Attr = 0;
};

using TFoundFileEvent = std::function<void(const TFoundFile& file)>;

// Calls found for every file (anything that is not a directory) in dir whose
// name matches mask: the files of a directory in name order, then its
// sub-directories in name order when recurse is set. dir is empty (the
// current directory; the paths are then bare names) or ends in the separator.
// A sub-directory reached through a symbolic link is not entered, so a link
// loop cannot make the search endless. A directory that cannot be listed
// yields nothing.
void SearchFiles(const std::string& dir, const TMask& mask, bool recurse,
                 const TFoundFileEvent& found);
