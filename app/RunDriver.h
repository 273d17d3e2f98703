// The run driver every shell shares: it zips one found database into its
// archive so that nothing of the user's is lost (written beside, put in place
// only when complete, never over a file that is not an archive of ours), and
// keeps the report of everything that did not go as planned. The window's
// handlers and dbzip call it; it knows nothing of either.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ArchiveName.h"
#include "ArchiveUpToDate.h"
#include "FileOutput.h"
#include "RunReport.h"
#include "SourceClone.h"

class TSearchFolders;
class TZipWriter;

// How zipping one database ended.
enum class TZipOutcome {
  Archived,         // the archive holds the database as it stood
  ArchivedChanged,  // archived as read, but it changed while it was read
  Unchanged,        // its archive already held it as it would be written: left as it is
  NotRegular,       // a FIFO, device, socket or folder: never opened
  NotRead,          // it could not be opened or read; the old archive is kept
  NotReplaced,      // its archive would have replaced a file that is not ours
  Failed,           // the archive could not be written or put in place
};

struct TZipResult {
  TZipOutcome outcome = TZipOutcome::Archived;
  std::string reason;       // the report's text for anything but Archived
  int64_t sizeAtStart = 0;  // the database's size when the writer looked
  int64_t bytesRead = 0;    // what the archive holds of it
  int64_t archiveSize = 0;  // the archive's size once in place
  bool cloned = false;      // read from a clone of it taken at one instant
  // With earlier archives kept: each move of one, from the first path to the
  // second (done, or in a plan to be done); an empty second path is the
  // oldest, removed.
  std::vector<std::pair<std::string, std::string>> kept;
  // Why fewer earlier archives are kept than asked (reported, exit 1).
  std::string keptShort;
  // With update and verify: why the archive in place, whose records held the
  // database as it is, did not decode; it is (or would be) written again.
  std::string damaged;

  bool InPlace() const {
    return outcome == TZipOutcome::Archived || outcome == TZipOutcome::ArchivedChanged ||
           outcome == TZipOutcome::Unchanged;
  }
};

// Why a shell's Start cannot begin: a folder missing or not a folder.
enum class TFolderProblem { None, Missing, NotAFolder };
TFolderProblem CheckFolder(const std::string& path);

// A request to end the run, from any thread or a signal handler.
using TCancelToken = std::atomic<bool>;

// A run that writes, or a dry run that only looks.
enum class TRunMode { Run, DryRun };

class TRunDriver {
 public:
  // Sets up the search for a run from sourceDir (the mask is the caller's).
  static void SetUpSearch(TSearchFolders& search, const std::string& sourceDir, bool recursive);

  // Starts a run into outputDir: the report afresh, the folder opened once
  // for the whole run and taken for it against other runs (a dry run shares
  // it with other dry runs), and temporary files that killed runs left there
  // removed (a dry run only finds them) and reported. 0, or the error number
  // when the folder cannot be opened, or ErrFolderBusy when another run holds
  // it (LockHolder says which) and wait was not asked, or cancel came first.
  int BeginRun(const std::string& outputDir, TRunMode mode = TRunMode::Run, bool wait = false,
               const TCancelToken* cancel = nullptr);
  // The process that held the output folder when BeginRun met ErrFolderBusy
  // (0 where the system does not say).
  long LockHolder() const { return lockHolder_; }
  // Takes the finished search's results: the databases found (whose files no
  // archive may replace) and the folders it could not list.
  void SearchDone(const TSearchFolders& search);

  // Why a run would leave the database at source unzipped before reading a
  // byte of it, as the outcome and report text ZipDatabase gives then; an
  // Archived outcome with no reason when it would go on to zip it. Looks only,
  // so a dry run can ask it of every database found.
  // The database is opened for reading (nothing is read), so one that the
  // run could not read is said to be so.
  TZipResult WouldSkip(const std::string& archivePath, const std::string& source) const;
  // Why the run's output folder would take no archive, as the run would
  // report it; empty when a new file can be made there (one is made and
  // removed).
  std::string OutputProblem() const;

  // Zips the database at source into archivePath at level, with writer, as a
  // run does; records the outcome in the report. Raises only EUserCanceled
  // (after cleaning up; never once the archive is in place) and what no
  // database can be blamed for. The archive is written into the run's output
  // folder when archivePath is in it, else into its own folder, made durable
  // at once.
  TZipResult ZipDatabase(TZipWriter& writer, const std::string& archivePath,
                         const std::string& source, int level, const TCancelToken& cancel);

  // Whether ZipDatabase reads each database from a clone of it taken at one
  // instant where its file system can make one (the default), so that a
  // database written meanwhile is archived whole.
  void SetCloning(bool on) { cloning_ = on; }
  bool Cloning() const { return cloning_; }
  // Every archive is read back from the disk and decoded by an independent
  // decoder before it replaces the old one.
  void SetVerify(bool verify) { verify_ = verify; }
  // The count earlier archives kept beside each new one, as NAME.zip.1 (the
  // newest) to NAME.zip.count; 0 keeps none.
  void SetKeep(int count) { keep_ = count; }
  // What putting a new archive at archivePath would do to the earlier ones:
  // result's kept and keptShort, as ZipDatabase would do it. Looks only.
  void PlanKeep(const std::string& archivePath, const std::string& source,
                TZipResult& result) const;
  // With update, ZipDatabase leaves an archive that already holds the
  // database exactly as it would write it at its level (read whole for its
  // CRC-32, from the clone where one is taken): Unchanged, and no earlier
  // archive moves. An archive this run wrote is never left so for another
  // database. With verify the archive's data is decoded too; one that does
  // not decode is written again and reported.
  void SetUpdate(bool update) { update_ = update; }
  // What ZipDatabase's update check would find for a database that WouldSkip
  // lets through: true and result Unchanged when its archive would be left;
  // else result's damaged says why it would be written again, if damaged.
  // Reads the database directly, never a clone; raises EUserCanceled once
  // cancel is set.
  bool PlanUpdate(const std::string& archivePath, const std::string& source, int level,
                  TZipResult& result, const TCancelToken& cancel) const;

  // Makes every archive this run put in place durable (their folder's
  // entries); the run's summary comes after it. 0, or the error number.
  int EndRun();

  RunReport& Report() { return report_; }
  const RunReport& Report() const { return report_; }

 private:
  // The found database that a file at path would be, if any.
  std::string FoundDatabaseAt(const std::string& path) const;
  // Whether the file read (id read) is the regular file the search found at
  // source, reached without a link.
  bool ReadAtItsName(const std::string& source, const TFileId& read) const;
  // Where an archive goes: the folder's handle (the run's output folder, or
  // own, opened on another) and the archive's path and name in it, resolved
  // once and passed down.
  struct TArchiveTarget {
    const TOutputDir* dir = nullptr;
    std::string path;
    std::string name;
    bool below = false;  // in a folder below the output folder (--tree)
  };
  // The target of archivePath, its folder below the output folder made
  // where missing when create says so; 0, or the error number of opening its
  // folder (ENOENT for one not made).
  int Resolve(const std::string& archivePath, TOutputDir& own, TArchiveTarget& target,
              bool create) const;
  // Why the file at the target must not be replaced (the report's text);
  // empty when it may be.
  std::string Untouchable(const TArchiveTarget& target, const std::string& source) const;

  // Whether the archive at the target holds the database at source as it
  // would be written at level, read from clone or else opened now; archive
  // is the archive's id when it was read.
  TUpToDateAnswer CheckUpToDate(const TArchiveTarget& target, const std::string& source,
                                const TSourceClone* clone, int level, TFileId& archive,
                                const TCancelToken& cancel) const;

  // One database on its way to its archive, and the steps it takes; each
  // step answers false after recording in job.result why it stopped.
  struct TZipJob;
  // The update check: true when nothing more is to be done, the archive
  // left as it is (Unchanged) or the clone not readable again (NotRead);
  // else the database is to be written, its clone read from its start.
  bool Settled(TZipJob& job, int level, const TCancelToken& cancel);
  bool WriteArchive(TZipWriter& writer, TZipJob& job, int level, const TCancelToken& cancel);
  bool Seal(TZipWriter& writer, TZipJob& job);
  bool PutInPlace(TZipJob& job);

  TOutputDir outputDir_;
  bool cloning_ = true;
  TSourceCloner cloner_;
  int openError_ = 0;  // why BeginRun could not open the folder
  long lockHolder_ = 0;
  // Archives were put in place since the folder was last synced.
  std::atomic<bool> unsynced_{false};
  RunReport report_;
  bool verify_ = false;
  int keep_ = 0;
  bool update_ = false;
  // Found databases by file name, for the check that an archive never
  // replaces one of them.
  std::unordered_multimap<std::string, std::string> foundByName_;
  std::string sourceRoot_;  // the folder searched
};
