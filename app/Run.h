// One run, whichever shell asked for it: the search of the source folder,
// the archive names, the order in which databases are zipped (several at
// once for dbzip's jobs), each through the driver's per-database step, and
// the end. The shells are views: they hear what happens through TRunView
// and decide nothing of the run themselves.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "ArchiveName.h"
#include "RunDriver.h"

class TSearchFolders;
class TZipWriter;

// What a run is asked to do.
struct TRunRequest {
  std::string sourceDir;
  std::string outputDir;
  bool recursive = false;
  std::string mask = "*.mdf";
  std::string exclude;  // masks of files found that are not databases
  int level = 9;
  TagRemoval tags = TagRemoval::Keep;
  int jobs = 1;          // databases zipped at once (a window zips one)
  unsigned threads = 0;  // deflate threads of each writer; 0 shares the cores out
  bool clone = true;     // read each database from a clone where its file system makes one
  bool verify = false;   // each archive read back and decoded before it replaces the old one
  int keep = 0;          // earlier archives kept beside each new one (dbzip)
  // Another run holding the output folder is waited for, not reported (dbzip).
  bool waitForFolder = false;
  bool update = false;  // an archive that already holds its database as it stands is left (dbzip)
  // Each archive goes into the folder below the output folder that its
  // database has below the source folder, made as needed (dbzip's --tree).
  bool tree = false;
  // The caller's thread runs a window: its pending messages run during the
  // search and after each block written, so it stays responsive, and one
  // database is zipped at a time, on that thread.
  bool processMessages = false;
};

// One database found, and what became of it.
struct TRunDatabase {
  std::string source;
  std::string archivePath;
  uint64_t size = 0;
  bool done = false;  // ZipDatabase returned for it
  TZipResult result;  // once done; in a plan, what WouldSkip said
  // In a plan: the later database whose archive replaces this one's, if any.
  size_t replacedBy = SIZE_MAX;
};

// How a run ended.
enum class TRunEnd {
  Finished,  // every database found was zipped or reported
  Canceled,  // the token was set: the archive being written was removed
  Failed,    // something no database can be blamed for ended it (Failure())
};

class TRun;

// What a shell hears of a run. Zipping, Percent, Written and Zipped come
// from worker threads when jobs > 1 (slot tells which), all else from the
// caller's.
class TRunView {
 public:
  virtual ~TRunView() = default;
  // The search entered dir, with count databases found before it.
  virtual void Searching(const std::string& /*dir*/, int32_t /*count*/) {}
  // The search ended with count databases found.
  virtual void SearchEnded(int32_t /*count*/) {}
  // The databases the run will zip are known, with their sizes.
  virtual void Counted(const std::vector<TRunDatabase>& /*dbs*/) {}
  virtual void Zipping(int /*slot*/, const TRunDatabase& /*db*/) {}
  virtual void Percent(int /*slot*/, int /*percent*/) {}
  // The writer has written the archive, not yet put in place, with files
  // entries (its OnZipComplete); a database never read has none of this.
  virtual void Written(int /*slot*/, int /*files*/) {}
  // A database's outcome is db.result: in place, or why not.
  virtual void Zipped(int /*slot*/, const TRunDatabase& /*db*/) {}
  // The end, once everything called archived is durable.
  virtual void Ended(const TRun& /*run*/, TRunEnd /*end*/) {}
};

class TRun {
 public:
  // A run whose events go to view; one TRun serves run after run.
  explicit TRun(TRunView& view);
  ~TRun();

  // The whole run: the output folder opened, the search, the databases it
  // found zipped (those that share an archive name, by the output system's
  // rules, one after the other), the folder's sync, and Ended.
  TRunEnd Execute(const TRunRequest& request, const TCancelToken& cancel);
  // A dry run: the search, then for each database what the run would do
  // (WouldSkip, the output folder's check, the update check, the archive
  // names shared), in Databases(); writes nothing. Ended follows.
  TRunEnd Plan(const TRunRequest& request, const TCancelToken& cancel);

  const std::vector<TRunDatabase>& Databases() const { return dbs_; }
  const RunReport& Report() const { return driver_.Report(); }
  // Empty, or what the output folder's check said (plans only).
  const std::string& OutputProblem() const { return outputProblem_; }
  // What ended a Failed run.
  std::exception_ptr Failure() const { return failure_; }
  // The databases found whose archive is in place at the end: the last of
  // each archive name put in place.
  std::vector<const TRunDatabase*> Survivors() const;

  // The run's components, kept from one run to the next with their events
  // wired to the view: the search, and the writer of the first job (a run of
  // one job's only one). A window names them as its own and shows what they
  // hold; each run sets them up as its request says.
  TSearchFolders& SearchComponent() { return *search_; }
  TZipWriter& WriterComponent() { return *writers_.front(); }

 private:
  // Clears the last run; false (the report says why) when the output folder
  // cannot be opened.
  bool Begin(const TRunRequest& request, const TCancelToken& cancel);
  // Runs the search, whose end zips what it found unless planning.
  void Search();
  void Found();
  void ZipFound();
  void ZipGroups(int workers);
  void AddWriter();
  void Fail(std::exception_ptr failure);
  // The folder's sync, and Ended.
  TRunEnd Finish();

  TRunView& view_;
  std::unique_ptr<TSearchFolders> search_;
  std::vector<std::unique_ptr<TZipWriter>> writers_;  // one per job, by slot
  TRunDriver driver_;
  TRunRequest request_;
  const TCancelToken* cancel_ = nullptr;
  bool planning_ = false;
  std::vector<TRunDatabase> dbs_;
  std::vector<std::vector<size_t>> groups_;
  std::string outputProblem_;
  std::exception_ptr failure_;
};

// The key under which archive paths fall together when the output system
// may take them for one file: exact on POSIX; on Windows, where case is
// ignored in every script, a rough key that SameFileName then settles.
std::string ArchiveGroupKey(const std::string& archivePath);
