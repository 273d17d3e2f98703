// How a database file found by the search becomes an archive path, and the
// record of databases a run could not archive. Shared by the window and dbzip.
#pragma once

#include <string>
#include <vector>

enum class TagRemoval { Keep, Remove };

// FileName with the first "QRN_" and then the first "_dat" removed (without
// regard to ASCII case) when asked, else FileName unchanged.
std::string DatabaseBaseName(const std::string& fileName, TagRemoval tags);

// The archive name: the base name in lower case (ASCII letters only) with the
// first occurrence of FileName's own extension replaced by ".zip".
std::string ArchiveName(const std::string& fileName, TagRemoval tags);

// The output directory text, the separator and the archive name, joined as
// they are.
std::string ArchivePath(const std::string& outputDir, const std::string& fileName,
                        TagRemoval tags);

// The databases of one run that were found but not archived: unreadable ones
// (whose empty archive is removed) and those whose archive a later database of
// the same archive name replaced.
class RunReport {
 public:
  struct Case {
    std::string source;
    std::string reason;
  };

  void Clear();
  // Notes that source is about to be zipped into archivePath; when an earlier
  // database of this run went to the same path, that one is recorded as replaced.
  void Starting(const std::string& archivePath, const std::string& source);
  // Notes that the writer added nothing for source.
  void NotRead(const std::string& source);

  bool Empty() const { return cases_.empty(); }
  const std::vector<Case>& Cases() const { return cases_; }
  // "Process Complete!", an empty line, "Some databases were not archived:"
  // and one line per case.
  std::string Text() const;

 private:
  struct Written {
    std::string archivePath;
    std::string source;
  };
  std::vector<Written> written_;
  std::vector<Case> cases_;
};

inline constexpr const char* kProcessComplete = "Process Complete!";
