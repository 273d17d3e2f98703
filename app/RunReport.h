// The report of one run: everything the user must hear about, in the order
// met (databases not archived, folders not listed, notes of the output
// folder), and which archive each database's file became, so that one
// replaced by a later database of the same run is told.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "FileOutput.h"

// Everything of one run that the user must hear about, in the order met.
// Safe to use from several threads at once.
class RunReport {
 public:
  struct Case {
    std::string source;  // a database, a folder, or a file in the output folder
    std::string reason;
    bool note = false;  // said for the record; the run still succeeds
  };

  void Clear();
  // A folder of the search that could not be listed.
  void FolderNotListed(const std::string& folder, int error);
  // A database whose archive is now in place at archivePath, as the file
  // written, having taken the place of the file replaced (when one was
  // there). An earlier database of this run whose archive was that file, or
  // was at the same path, is recorded as replaced: names that differ only in
  // a way the file system ignores are one file.
  void Archived(const std::string& archivePath, const std::string& source,
                const TFileId& replaced = {}, const TFileId& written = {});
  // A database that was not archived, or archived with a remark.
  void Add(const std::string& source, const std::string& reason);
  // Something the user should hear of that is no failure of the run: a
  // temporary file a killed run left, removed or left as it is.
  void Note(const std::string& source, const std::string& reason);
  // Whether the run wrote the file id as an archive (still in place).
  bool WroteThisRun(const TFileId& id) const;

  // No case but notes.
  bool Empty() const;
  bool HasNotes() const;
  std::vector<Case> Cases() const;
  // "Process Complete!", an empty line, "Some databases were not archived:"
  // and one line per case (notes last), at most maxLines of them followed by
  // "and N more"; with notes alone, "Process Complete!", an empty line and
  // the notes.
  std::string Text(size_t maxLines = SIZE_MAX) const;
  // Every case, one per line.
  std::string Details() const;

 private:
  struct Written {
    std::string source;
    TFileId id;
  };
  void Forget(const std::string& archivePath);

  mutable std::mutex mutex_;
  std::unordered_map<std::string, Written> written_;             // by archive path
  std::map<std::pair<uint64_t, uint64_t>, std::string> pathOf_;  // archive path by file id
  std::vector<Case> cases_;
};

// The lines the window's end report shows before "and N more".
inline constexpr size_t kReportLines = 20;

// What a temporary file that a killed run left in the output folder is
// reported with: removed by a run, found by a dry run.
inline constexpr char kStaleTempRemoved[] = "stale temporary file removed";
inline constexpr char kStaleTempFound[] = "stale temporary file, the run would remove it";
// The start of what a file that has a temporary's name but not its form is
// reported with; the reason it is not ours follows.
inline constexpr char kStaleTempLeft[] = "left as it is, not a temporary of ours: ";
