#include "DbzipRun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "ArchiveName.h"
#include "File.h"
#include "RunDriver.h"
#include "Errors.h"
#include "Files.h"
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

// Serialises everything printed while workers run.
class Printer {
 public:
  Printer(std::ostream& out, std::ostream& err, bool terminal, bool quiet, int slots)
      : out_(out), err_(err), terminal_(terminal), quiet_(quiet), slots_(slots) {}

  void Starting(int slot, const Database& db) {
    std::lock_guard lock(mutex_);
    slots_[slot] = {db.source, 0, db.size, Clock::now()};
    if (quiet_) return;
    if (terminal_)
      DrawStatus();
    else
      out_ << "Zipping " << db.source << "..." << std::endl;
  }

  void Percent(int slot, int percent) {
    if (!terminal_ || quiet_) return;
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
      if (terminal_ && !quiet_) DrawStatus();
      return;
    }
    if (terminal_) out_ << "\r\033[K";
    out_ << db.source << ": " << db.result.bytesRead << " bytes -> " << db.result.archiveSize
         << " bytes\n";
    if (terminal_) DrawStatus();
    out_.flush();
  }

  void Error(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (terminal_ && !quiet_) out_ << "\r\033[K" << std::flush;
    err_ << "dbzip: " << text << std::endl;
  }

  void Line(const std::string& text) {
    if (quiet_) return;
    std::lock_guard lock(mutex_);
    if (terminal_) out_ << "\r\033[K";
    out_ << text << std::endl;
  }

 private:
  struct Slot {
    std::string name;
    int percent = 0;
    uint64_t size = 0;
    Clock::time_point start;
  };

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
    out_ << "\r\033[K" << line.str() << std::flush;
  }

  std::ostream& out_;
  std::ostream& err_;
  const bool terminal_;
  const bool quiet_;
  std::vector<Slot> slots_;
  std::mutex mutex_;
  Clock::time_point lastDraw_{};
};

}  // namespace

// The size of the file at path now, or 0.
uint64_t FileSize(const std::string& path) {
  const THandle handle = FileOpen(path, TFileAccess::Read);
  if (handle == InvalidHandle) return 0;
  const int64_t size = FileSizeOf(handle);
  FileClose(handle);
  return size > 0 ? static_cast<uint64_t>(size) : 0;
}

int RunDbzip(const DbzipOptions& options, std::ostream& out, std::ostream& err, bool terminal) {
  for (const std::string* dir : {&options.sourceDir, &options.outputDir}) {
    const TFolderProblem problem = CheckFolder(*dir);
    if (problem != TFolderProblem::None) {
      err << "dbzip: " << (problem == TFolderProblem::Missing ? "no such directory: " : "not a directory: ")
          << *dir << std::endl;
      return kExitUsage;
    }
  }
  const auto started = Clock::now();
  TRunDriver driver(g_dbzipInterrupted);
  driver.BeginRun();

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

  const int workers = static_cast<int>(std::min<size_t>(options.jobs, std::max<size_t>(groups.size(), 1)));
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
  Printer printer(out, err, terminal, options.quiet, workers);
  std::atomic<size_t> nextGroup{0};
  std::mutex errorMutex;
  std::string runError;

  auto work = [&](int slot) {
    TZipWriter writer;
    writer.DoProcessMessages = false;
    writer.OnTotalPercentDone = [&](TObject*, int percent) { printer.Percent(slot, percent); };
    // One job leaves a core idle: the encoder codes its blocks on it.
    writer.SecondThread = workers == 1 && std::thread::hardware_concurrency() > 1;
    for (size_t n; !g_dbzipInterrupted && (n = nextGroup++) < groups.size();) {
      for (size_t i : groups[order[n]]) {
        if (g_dbzipInterrupted) break;
        Database& db = dbs[i];
        printer.Starting(slot, db);
        try {
          db.result = driver.ZipDatabase(writer, db.archivePath, db.source, options.level);
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

  // Everything reported, in the order met.
  for (const auto& c : driver.Report().Cases()) printer.Error(c.source + ": " + c.reason);
  if (!runError.empty()) {
    printer.Error(runError);
    return kExitNotAllArchived;
  }
  if (g_dbzipInterrupted) {
    printer.Error("interrupted");
    return kExitInterrupted;
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
  summary << dbs.size() << (dbs.size() == 1 ? " database" : " databases") << " found, "
          << archived << " archived, " << bytesIn << " bytes in, " << bytesOut
          << " bytes out, " << timeText;
  printer.Line(summary.str());

  return driver.Report().Empty() ? kExitOk : kExitNotAllArchived;
}
