#include "DbzipRun.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "ArchiveName.h"
#include "Errors.h"
#include "File.h"
#include "Files.h"
#include "RunDriver.h"
#include "SFolders.h"
#include "ZipWriter.h"

std::atomic<bool> g_dbzipInterrupted{false};

namespace {

using Clock = std::chrono::steady_clock;

struct Database {
  std::string source;
  std::string archivePath;
  uint64_t size = 0;
  bool done = false;
  TZipResult result;
};

// Standard output, where the results go: each line is flushed as it is
// written, and the first failure kept with the system's reason, since results
// that never arrived make the run a failure.
class ResultOut {
 public:
  explicit ResultOut(std::ostream& out) : out_(out) {}
  void Line(const std::string& text) {
    errno = 0;
    out_ << text << '\n' << std::flush;
    if (!out_ && error_ == 0) error_ = errno != 0 ? errno : EIO;
  }
  int Error() const { return error_; }

 private:
  std::ostream& out_;
  int error_ = 0;
};

// Serialises everything printed while workers run. Results go to out; the
// status line, when there is one, and the diagnostics to err, so that a pipe
// or a file on standard output gets the results alone.
class Printer {
 public:
  Printer(ResultOut& out, std::ostream& err, bool statusLine, bool quiet, int slots)
      : out_(out), err_(err), status_(statusLine && !quiet), quiet_(quiet), slots_(slots) {}

  void Starting(int slot, const Database& db) {
    std::lock_guard lock(mutex_);
    slots_[slot] = {db.source, 0, db.size, Clock::now()};
    if (quiet_) return;
    if (status_)
      DrawStatus();
    else
      out_.Line("Zipping " + db.source + "...");
  }

  void Percent(int slot, int percent) {
    if (!status_) return;
    std::lock_guard lock(mutex_);
    slots_[slot].percent = percent;
    const auto now = Clock::now();
    if (now - lastDraw_ < std::chrono::milliseconds(100) && percent != 100) return;
    lastDraw_ = now;
    DrawStatus();
  }

  void Finished(int slot, const Database& db) {
    std::lock_guard lock(mutex_);
    slots_[slot].name.clear();
    if (quiet_ || !db.result.InPlace()) {
      if (status_) DrawStatus();
      return;
    }
    ClearStatus();
    out_.Line(db.source + ": " + std::to_string(db.result.bytesRead) + " bytes -> " +
              std::to_string(db.result.archiveSize) + " bytes");
    if (status_) DrawStatus();
  }

  void Error(const std::string& text) {
    std::lock_guard lock(mutex_);
    ClearStatus();
    err_ << "dbzip: " << text << std::endl;
  }

  void Line(const std::string& text) {
    if (quiet_) return;
    std::lock_guard lock(mutex_);
    ClearStatus();
    out_.Line(text);
  }

 private:
  struct Slot {
    std::string name;
    int percent = 0;
    uint64_t size = 0;
    Clock::time_point start;
  };

  // Before anything else is printed: out and err may be the same terminal.
  void ClearStatus() {
    if (status_) err_ << "\r\033[K" << std::flush;
  }

  // One line, redrawn in place: each database being zipped, its percentage
  // and its reading speed.
  void DrawStatus() {
    std::ostringstream line;
    for (const Slot& s : slots_) {
      if (s.name.empty()) continue;
      const double seconds = std::chrono::duration<double>(Clock::now() - s.start).count();
      const double mb = static_cast<double>(s.size) * s.percent / 100.0 / 1e6;
      char speed[32];
      std::snprintf(speed, sizeof speed, "%.1f MB/s", seconds > 0 ? mb / seconds : 0.0);
      if (line.tellp() > 0) line << "  |  ";
      line << ExtractFileName(s.name) << "  " << s.percent << "%  " << speed;
    }
    err_ << "\r\033[K" << line.str() << std::flush;
  }

  ResultOut& out_;
  std::ostream& err_;
  const bool status_;
  const bool quiet_;
  std::vector<Slot> slots_;
  std::mutex mutex_;
  Clock::time_point lastDraw_{};
};

// What a run would do with each database found, as lines on out: the archive
// each would get, and what would be skipped and why (asked of the driver,
// which decides it for the run too). Writes nothing. Returns the exit status
// the run would end with.
int DryRun(const TRunDriver& driver, const std::vector<Database>& dbs,
           const std::vector<std::vector<size_t>>& groups, bool quiet, ResultOut& out) {
  size_t archived = 0, skipped = 0, replaced = 0;
  // The folders the search could not list come first, as it met them.
  for (const auto& c : driver.Report().Cases()) {
    out.Line(c.source + ": would be skipped: " + c.reason);
    ++skipped;
  }
  // Within a group of one archive name, the last database zipped wins.
  std::vector<std::string> reasons(dbs.size());
  std::vector<size_t> replacedBy(dbs.size(), SIZE_MAX);
  for (const auto& group : groups) {
    size_t later = SIZE_MAX;
    for (auto it = group.rbegin(); it != group.rend(); ++it) {
      reasons[*it] = driver.WouldSkip(dbs[*it].archivePath, dbs[*it].source).reason;
      if (!reasons[*it].empty()) continue;
      replacedBy[*it] = later;
      later = *it;
    }
  }
  for (size_t i = 0; i < dbs.size(); ++i) {
    if (!reasons[i].empty()) {
      out.Line(dbs[i].source + ": would be skipped: " + reasons[i]);
      ++skipped;
    } else if (replacedBy[i] != SIZE_MAX) {
      out.Line(dbs[i].source + ": its archive " + dbs[i].archivePath + " would be replaced by " +
               dbs[replacedBy[i]].source);
      ++replaced;
    } else {
      if (!quiet) out.Line(dbs[i].source + " -> " + dbs[i].archivePath);
      ++archived;
    }
  }
  if (!quiet) {
    out.Line(std::to_string(dbs.size()) + (dbs.size() == 1 ? " database" : " databases") +
             " found, " + std::to_string(archived) + " would be archived");
  }
  return skipped == 0 && replaced == 0 ? kExitOk : kExitNotAllArchived;
}

}  // namespace

// The size of the file at path now, or 0.
uint64_t FileSize(const std::string& path) {
  return static_cast<uint64_t>(FileStatusOf(path).Size);
}

// Why dir cannot be a source or output directory, with the system's reason
// where it has one; empty when it can.
std::string FolderProblem(const std::string& dir) {
  switch (CheckFolder(dir)) {
    case TFolderProblem::None:
      return {};
    case TFolderProblem::NotAFolder:
      return "not a directory";
    case TFolderProblem::Missing:
      break;
  }
  // Missing or out of reach: opening it tells which, in the system's words.
  const THandle handle = FileOpen(dir, TFileAccess::Read);
  if (handle != InvalidHandle) {
    FileClose(handle);
    return "not a directory";
  }
  return SysErrorMessage(errno);
}

int RunDbzip(const DbzipOptions& options, std::ostream& out, std::ostream& err, bool statusLine) {
  if (const std::string problem = MaskListProblem(options.FileMask()); !problem.empty()) {
    err << "dbzip: " << problem << std::endl;
    return kExitUsage;
  }
  for (const std::string* dir : {&options.sourceDir, &options.outputDir}) {
    if (const std::string problem = FolderProblem(*dir); !problem.empty()) {
      err << "dbzip: " << *dir << ": " << problem << std::endl;
      return kExitUsage;
    }
  }
  const auto started = Clock::now();
  TRunDriver driver;
  if (const int error = driver.BeginRun(options.outputDir); error != 0) {
    err << "dbzip: " << options.outputDir << ": " << SysErrorMessage(error) << std::endl;
    return kExitUsage;
  }

  // The search, as the window's Start runs it.
  TSearchFolders search;
  search.FileMask = options.FileMask();
  search.UpdateList = true;
  search.ScanOptions = TScanOptions::soSpecifiedDir;
  search.Messages = false;
  TRunDriver::SetUpSearch(search, options.sourceDir, options.recursive);
  search.CancelToken = &g_dbzipInterrupted;
  try {
    search.Scan();
  } catch (const Exception& e) {
    err << "dbzip: " << e.Message() << std::endl;
    return kExitUsage;
  }
  if (g_dbzipInterrupted) {
    err << "dbzip: interrupted" << std::endl;
    return kExitInterrupted;
  }
  driver.SearchDone(search);

  const TagRemoval tags = options.RemoveTags() ? TagRemoval::Remove : TagRemoval::Keep;
  std::vector<Database> dbs;
  for (const TFilePack& pack : search.FoundFiles) {
    if (g_dbzipInterrupted) break;  // a million sizes take seconds
    Database db;
    db.source = pack.Dir + pack.FileName;
    db.archivePath = ArchivePath(options.outputDir, pack.FileName, tags);
    db.size = FileSize(db.source);
    dbs.push_back(std::move(db));
  }

  // Databases that share an archive name are zipped one after the other, in
  // the order found, so the outcome is the window's whatever the job count.
  std::vector<std::vector<size_t>> groups;
  std::map<std::string, size_t> groupOf;
  for (size_t i = 0; i < dbs.size(); ++i) {
    auto [it, fresh] = groupOf.emplace(dbs[i].archivePath, groups.size());
    if (fresh) groups.emplace_back();
    groups[it->second].push_back(i);
  }

  ResultOut results(out);
  // Results that never reached their file (a full disk, a closed pipe) are a
  // failure of the run, not a success.
  const auto resultsLost = [&](int status) {
    if (results.Error() == 0) return status;
    err << "dbzip: standard output: " << SysErrorMessage(results.Error()) << std::endl;
    return status == kExitOk ? kExitNotAllArchived : status;
  };
  if (options.dryRun) return resultsLost(DryRun(driver, dbs, groups, options.quiet, results));

  const int workers =
      static_cast<int>(std::min<size_t>(options.jobs, std::max<size_t>(groups.size(), 1)));
  // With several workers the largest groups are taken first, so a big database
  // found last does not run alone while the others wait idle; the archives are
  // the same in any order.
  std::vector<size_t> order(groups.size());
  for (size_t g = 0; g < order.size(); ++g) order[g] = g;
  if (workers > 1) {
    std::vector<uint64_t> groupSize(groups.size(), 0);
    for (size_t g = 0; g < groups.size(); ++g) {
      for (size_t i : groups[g]) groupSize[g] += dbs[i].size;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return groupSize[a] > groupSize[b]; });
  }
  Printer printer(results, err, statusLine, options.quiet, workers);
  std::atomic<size_t> nextGroup{0};
  std::mutex errorMutex;
  std::string runError;

  auto work = [&](int slot) {
    TZipWriter writer;
    writer.DoProcessMessages = false;
    writer.OnTotalPercentDone = [&](TObject*, int percent) { printer.Percent(slot, percent); };
    // One job leaves a core idle: the encoder codes its blocks on it.
    writer.SecondThread = workers == 1 && std::thread::hardware_concurrency() > 1;
    // The cores are shared out among the jobs: a lone database gets them all.
    writer.Threads = std::thread::hardware_concurrency() / static_cast<unsigned>(workers);
    for (size_t n; !g_dbzipInterrupted && (n = nextGroup++) < groups.size();) {
      for (size_t i : groups[order[n]]) {
        if (g_dbzipInterrupted) break;
        Database& db = dbs[i];
        printer.Starting(slot, db);
        try {
          db.result = driver.ZipDatabase(writer, db.archivePath, db.source, options.level,
                                         g_dbzipInterrupted);
          db.done = true;
        } catch (const EUserCanceled&) {
          break;
        } catch (const std::exception& e) {
          // Nothing a database can be blamed for: the run ends.
          std::lock_guard lock(errorMutex);
          if (runError.empty()) runError = e.what();
          g_dbzipInterrupted = true;
          break;
        }
        printer.Finished(slot, db);
      }
    }
  };

  if (workers <= 1) {
    work(0);
  } else {
    std::vector<std::thread> threads;
    for (int s = 0; s < workers; ++s) threads.emplace_back(work, s);
    for (auto& t : threads) t.join();
  }
  // Nothing is called archived before it is durable.
  if (const int error = driver.EndRun(); error != 0 && runError.empty()) {
    runError = options.outputDir + ": " + SysErrorMessage(error);
  }

  // Everything reported, in the order met.
  for (const auto& c : driver.Report().Cases()) printer.Error(c.source + ": " + c.reason);
  if (!runError.empty()) {
    printer.Error(runError);
    return resultsLost(kExitNotAllArchived);
  }
  if (g_dbzipInterrupted) {
    printer.Error("interrupted");
    return resultsLost(kExitInterrupted);
  }

  // An archive survives when it is the last one put in place under its name.
  uint64_t bytesIn = 0, bytesOut = 0;
  size_t archived = 0;
  for (const auto& group : groups) {
    for (auto it = group.rbegin(); it != group.rend(); ++it) {
      const Database& db = dbs[*it];
      if (!db.done || !db.result.InPlace()) continue;
      bytesIn += static_cast<uint64_t>(db.result.bytesRead);
      bytesOut += static_cast<uint64_t>(db.result.archiveSize);
      ++archived;
      break;
    }
  }

  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  char timeText[32];
  std::snprintf(timeText, sizeof timeText, "%.2f s", seconds);
  std::ostringstream summary;
  summary << dbs.size() << (dbs.size() == 1 ? " database" : " databases") << " found, " << archived
          << " archived, " << bytesIn << " bytes in, " << bytesOut << " bytes out, " << timeText;
  printer.Line(summary.str());

  return resultsLost(driver.Report().Empty() ? kExitOk : kExitNotAllArchived);
}
