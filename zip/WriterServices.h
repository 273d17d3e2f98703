// What the archive writer reaches outside itself, and only for features a run
// never uses: the folder search behind the pattern entries of FilesList, and
// the message box of an update that could not be put in place. The writer
// declares them and the program installs them, so the writer depends on
// neither the folder search nor the dialogs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A file that a pattern entry found.
struct TPatternFile {
  std::string Path;   // its full path
  uint32_t Attr = 0;  // its attributes as the search saw them
};

// Lists the files (no directories) in dir, which ends in the separator, whose
// names match the mask name, in the order they are to be added; with recurse,
// those of its sub-directories too; with processMessages, pending window
// messages run while it searches. It may raise (for an invalid mask, say):
// the exception then leaves Zip.
using TPatternSearch = std::function<std::vector<TPatternFile>(
    const std::string& dir, const std::string& name, bool recurse, bool processMessages)>;

// Shows a modal message box with the caption, the text and one OK button.
using TWriterMessage = std::function<void(const std::string& caption, const std::string& text)>;

// Install these before any writer runs; they serve every writer. Without a
// search (the default) a pattern entry finds nothing and adds no file, as a
// pattern that matches nothing would. Without a message function (the
// default) the message goes nowhere; the temporary archive it would name is
// kept all the same. An empty function restores the default.
void SetPatternSearch(TPatternSearch search);
void SetWriterMessage(TWriterMessage message);

// The installed ones, for the writer; empty when none is.
const TPatternSearch& PatternSearch();
const TWriterMessage& WriterMessage();
