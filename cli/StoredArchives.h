// The archives already stored in a folder, as dbzip --check finds and reads
// them: every name of the folder (and of the sub-folders below it that are
// no links) in sorted order, told apart as an archive of ours to read, a
// temporary file of a run, or something left alone; and one archive read
// through with the strict check of --verify. Nothing is ever written.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "FileOutput.h"

enum class TStoredKind {
  Archive,    // named as an archive of ours: NAME.zip or NAME.zip.N, to be read
  Other,      // anything else, left alone; reason says what it is
  Temporary,  // a temporary file of a run (NAME.zip.tzw-XXXXXX, .tzk-XXXXXX): a note
  Unlisted,   // a folder that could not be listed; reason gives the system's words
};

struct TStoredEntry {
  std::string path;   // the folder's path, the separator and the name
  std::string name;   // in its folder
  size_t folder = 0;  // its folder in TStoredSurvey::folders
  TStoredKind kind = TStoredKind::Other;
  std::string reason;
  // The file's id when another name of its chain holds the same file (a
  // move between two generations that a stopped run did not finish).
  TFileId twin;
};

struct TStoredFolder {
  std::string path;
  TFileId id;  // the folder as it was listed, to know it again
};

struct TStoredSurvey {
  std::vector<TStoredFolder> folders;
  std::vector<TStoredEntry> entries;  // in the order they are told
};

// True for NAME.zip and NAME.zip.N (N decimal digits); on Windows ".zip"
// without regard to case, as its file names compare.
bool IsStoredArchiveName(const std::string& name);
// Whether a name comes before another as dbzip --check lists them: bytes in
// order, but the generations of a chain by their numbers (NAME.zip, .1, .2,
// ... .10).
bool StoredNameBefore(const std::string& a, const std::string& b);

// Lists the folder at root, open as dir, and with recursive every
// sub-folder below it that is no link, each name at its place in sorted
// order, a folder's entries right after it. Stops early when cancel is set.
TStoredSurvey SurveyStored(const std::string& root, const TOutputDir& dir, bool recursive,
                           const std::atomic<bool>& cancel);

enum class TCheckVerdict {
  Whole,        // one entry in sound records, decoded to its size and CRC-32
  Damaged,      // reason: CheckArchive's words, the record or the entry and the offset
  Unreadable,   // reason: the system's words
  NotOurs,      // a ZIP archive of another form, a link, another user's file...
  Gone,         // removed between the listing and the reading
  Interrupted,  // cancel came while it was read
};

struct TArchiveCheck {
  TCheckVerdict verdict = TCheckVerdict::Interrupted;
  std::string reason;
  int64_t bytes = 0;  // the archive's size, when it was opened
  double seconds = 0;
};

// Reads the archive entry in dir, its open folder, without writing to it:
// ours by the rule of CheckOurs (a regular file of this user's with one
// name, never through a link), then CheckArchive through it. A file whose
// records read as a ZIP archive of several entries, or of one in a folder,
// is no archive of ours; one whose records do not read at all is damaged.
TArchiveCheck CheckStoredArchive(const TOutputDir& dir, const TStoredEntry& entry,
                                 const std::atomic<bool>& cancel);
