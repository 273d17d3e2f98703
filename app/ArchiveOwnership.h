// Whether the file at an archive's name, or at one of its generations'
// (NAME.zip.1, ...), is an archive this program made of the database, so
// that a run may replace, move or remove it. Every step of a run that acts
// on a name it did not just create asks here, and leaves anything else
// exactly as it is.
#pragma once

#include <string>

#include "FileOutput.h"

enum class TClaim {
  Absent,      // nothing is at the name
  Ours,        // an archive of ours of this database
  NotOurs,     // anything else; what says what it is
  Unreadable,  // it could not be looked at; what gives the system's reason
};

struct TClaimCheck {
  TClaim verdict = TClaim::Absent;
  TFileStamp stamp;  // the file's, when one is there
  std::string what;  // "another user's file", "not an archive of this database", ...
  int error = 0;     // for Unreadable
};

// How much is asked before a file counts as ours.
enum class TOursRule {
  // Everything that can be checked: a regular file of this user's with one
  // name, whose records read as an archive of one entry named as the
  // database. For the generations always, and for the archive's own name
  // where other users may create files.
  Strict,
  // Where only this user may write (the folder is theirs alone), the
  // archive's own name as the window always had it: a regular file that
  // begins like a ZIP archive, or is empty.
  Private,
};

// The steps of CheckOurs that come before the file's contents: name in dir,
// never through a link, is a regular file (under Strict this user's, with one
// name or a second that is twinA's or twinB's), opened for reading as the
// file that was looked at. Ours then means only that its contents are left to
// check, and handle is open for the caller to close; any other verdict
// leaves handle InvalidHandle.
TClaimCheck OpenToClaim(const TOutputDir& dir, const std::string& name, TOursRule rule,
                        THandle& handle, const TFileId& twinA = {}, const TFileId& twinB = {});

// Looks at name in dir, never through a link, for the database whose file
// name is entryName. A file with a second name counts as one name when that
// name is twinA's or twinB's file: a move between two generations that a
// stopped run did not finish.
TClaimCheck CheckOurs(const TOutputDir& dir, const std::string& name, const std::string& entryName,
                      TOursRule rule, const TFileId& twinA = {}, const TFileId& twinB = {});
