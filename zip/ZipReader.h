// The archive reader: the base of the archive writer. It holds the archive
// name, the file list, the percent events and the in-memory directory of the
// current archive, and reads the directory of an existing archive (the end
// record, then every central header it announces).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "Errors.h"
#include "SortedZip.h"
#include "ZipRecords.h"

class TStream;
class TBufferedFileStream;

// No end record was found: the file is not a whole archive.
class EIncompleteZip : public Exception {
 public:
  EIncompleteZip() : Exception("Incomplete Zip File") {}
};

// The central directory is not where the end record says, or is broken.
class EBadZipFile : public Exception {
 public:
  EBadZipFile() : Exception("Not a valid zip file!") {}
};

// Reads the end record into end and returns one record per central header,
// in archive order (an owning ByNone list). Raises EIncompleteZip when there
// is no end record and EBadZipFile when the directory does not hold the
// entries the end record counts, or two of them claim the same local header.
TSortedZip ReadZipDirectory(TStream& archive, TEndCentral& end);

using TPercentDoneEvent = std::function<void(TObject* Sender, int Percent)>;

class TZipReader : public TComponent {
 public:
  TZipReader();
  ~TZipReader() override;
  TZipReader(const TZipReader&) = delete;
  TZipReader& operator=(const TZipReader&) = delete;

  const std::string& ZipName() const { return zipName_; }
  // Stores a new archive name; the directory held for the previous archive
  // is discarded and its open stream closed. The file is neither opened nor
  // checked. The same name again changes nothing.
  virtual void SetZipName(const std::string& value);

  // Entries to add: file paths or patterns.
  std::vector<std::string> FilesList;
  // Order of the in-memory view of the directory.
  TZipSortMode SortMode = TZipSortMode::ByNone;
  // Keep the stream on an existing archive open between calls.
  bool KeepZipOpen = false;

  // Percent of all bytes of a run, and of the file being read.
  TPercentDoneEvent OnTotalPercentDone;
  TPercentDoneEvent OnFilePercentDone;

  // The directory of the last archive written (or read for an update), in
  // archive order; empty when nothing is held.
  const TSortedZip& ArchiveEntries() const { return archiveEntries_; }
  // The end record of that archive.
  const TEndCentral& EndCentral() const { return endCentral_; }
  // 1 once an archive is held, 0 before.
  int NumberOfDisks() const { return numberOfDisks_; }

 protected:
  // Forgets the held directory, its end record and file stamp.
  void ForgetArchive();
  // Opens the stream on the existing archive ZipName (when it is not open)
  // and reads its directory unless the one held is still current.
  void LoadArchiveDirectory();
  // The stream on the existing archive, or nullptr.
  TBufferedFileStream* ArchiveStream() const { return zipStream_.get(); }
  void CloseArchiveStream();
  // Makes entries the held directory of ZipName as it now is on disk.
  void HoldArchive(TSortedZip entries, const TEndCentral& end, int disks);

 private:
  // What tells whether the file still holds the directory read from it.
  struct TFileStamp {
    int64_t time = 0;  // last write, nanoseconds
    int64_t size = 0;
    bool operator==(const TFileStamp&) const = default;
  };
  static bool StampOf(const std::string& path, TFileStamp& stamp);

  std::string zipName_;
  TSortedZip archiveEntries_;
  TEndCentral endCentral_;
  bool holding_ = false;
  TFileStamp stamp_;
  int numberOfDisks_ = 0;
  std::unique_ptr<TBufferedFileStream> zipStream_;
};
