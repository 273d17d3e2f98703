#include "DbzipRun.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "ArchiveName.h"
#include "Errors.h"
#include "Files.h"
#include "SFolders.h"
#include "Ui.h"
#include "ZipWriter.h"

std::atomic<bool> g_dbzipInterrupted{false};

namespace {

using Clock = std::chrono::steady_clock;

// The writer zipping on this thread, so that an interrupt can cancel it at its
// next message-processing point.
thread_local TZipWriter* t_writer = nullptr;

class DbzipUi : public PlatformUi {
 public:
  void ProcessMessages() override {
    if (g_dbzipInterrupted.load(std::memory_order_relaxed) && t_writer)
      t_writer->CancelRequested = true;
  }
};

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

struct Database {
  std::string source;
  std::string archivePath;
  uint64_t size = 0;
  enum class Result { Pending, Archived, NotRead, Failed } result = Result::Pending;
  uint64_t archiveSize = 0;
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
    if (quiet_ || db.result != Database::Result::Archived) {
      if (terminal_ && !quiet_) DrawStatus();
      return;
    }
    if (terminal_) out_ << "\r\033[K";
    out_ << db.source << ": " << db.size << " bytes -> " << db.archiveSize << " bytes\n";
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

int RunDbzip(const DbzipOptions& options, std::ostream& out, std::ostream& err, bool terminal) {
  for (const std::string* dir : {&options.sourceDir, &options.outputDir}) {
    if (!DirectoryExists(*dir)) {
      err << "dbzip: no such directory: " << *dir << std::endl;
      return kExitUsage;
    }
  }
  DbzipUi ui;
  SetUi(&ui);
  struct RestoreUi {
    ~RestoreUi() { SetUi(nullptr); }
  } restoreUi;
  const auto started = Clock::now();

  // The search, as the window's Start runs it.
  TSearchFolders search;
  search.FileMask = options.FileMask();
  search.UpdateList = true;
  search.ScanOptions = TScanOptions::soSpecifiedDir;
  search.ScanDir = options.sourceDir;
  search.Messages = false;
  search.DoRecursive = options.recursive;
  search.OnProcess = [&](TObject*, const std::string&, int32_t, int32_t) {
    if (g_dbzipInterrupted) search.Stop();
  };
  try {
    search.Scan();
  } catch (const Exception& e) {
    err << "dbzip: " << e.Message() << std::endl;
    return kExitUsage;
  }
  if (g_dbzipInterrupted) return kExitInterrupted;

  const TagRemoval tags = options.RemoveTags() ? TagRemoval::Remove : TagRemoval::Keep;
  std::vector<Database> dbs;
  for (const TFilePack& pack : search.FoundFiles) {
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
  std::atomic<bool> stop{false};
  std::mutex errorMutex;
  std::string runError;

  auto work = [&](int slot) {
    TZipWriter writer;
    t_writer = &writer;
    writer.OnTotalPercentDone = [&](TObject*, int percent) { printer.Percent(slot, percent); };
    for (size_t n; !stop && (n = nextGroup++) < groups.size();) {
      for (size_t i : groups[order[n]]) {
        if (stop || g_dbzipInterrupted) break;
        Database& db = dbs[i];
        printer.Starting(slot, db);
        if (FileExists(db.archivePath)) DeleteFile(db.archivePath);
        writer.FilesList.clear();
        writer.SetZipName(db.archivePath);
        writer.FilesList.push_back(db.source);
        writer.Recurse = false;
        writer.SetStorePaths(false);
        writer.PackLevel = options.level;
    // One job leaves a core idle: the encoder codes its blocks on it.
    writer.SecondThread = workers == 1 && std::thread::hardware_concurrency() > 1;
    // The cores are shared out among the jobs: a lone database gets them all.
    writer.Threads = std::thread::hardware_concurrency() / static_cast<unsigned>(workers);
        try {
          if (writer.Zip() == 0) {
            DeleteFile(db.archivePath);
            db.result = Database::Result::NotRead;
          } else {
            db.result = Database::Result::Archived;
            db.archiveSize = FileSize(db.archivePath);
          }
        } catch (const EUserCanceled&) {
          db.result = Database::Result::Failed;
          stop = true;
        } catch (const std::exception& e) {
          db.result = Database::Result::Failed;
          std::lock_guard lock(errorMutex);
          if (runError.empty()) runError = e.what();
          stop = true;
        }
        printer.Finished(slot, db);
      }
    }
    t_writer = nullptr;
  };

  if (workers <= 1) {
    work(0);
  } else {
    std::vector<std::thread> threads;
    for (int s = 0; s < workers; ++s) threads.emplace_back(work, s);
    for (auto& t : threads) t.join();
  }

  if (g_dbzipInterrupted) {
    printer.Error("interrupted");
    return kExitInterrupted;
  }

  // The report, in the order the databases were found.
  RunReport report;
  uint64_t bytesIn = 0, bytesOut = 0;
  size_t archived = 0;
  for (const Database& db : dbs) {
    if (db.result == Database::Result::Pending || db.result == Database::Result::Failed) continue;
    report.Starting(db.archivePath, db.source);
    if (db.result == Database::Result::NotRead) report.NotRead(db.source);
  }
  // An archive survives when it is the last one written under its name.
  for (const auto& group : groups) {
    for (auto it = group.rbegin(); it != group.rend(); ++it) {
      const Database& db = dbs[*it];
      if (db.result == Database::Result::Pending) continue;
      if (db.result == Database::Result::Archived) {
        bytesIn += db.size;
        bytesOut += db.archiveSize;
        ++archived;
      }
      break;
    }
  }
  for (const auto& c : report.Cases()) printer.Error(c.source + ": " + c.reason);
  if (!runError.empty()) printer.Error(runError);

  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  char timeText[32];
  std::snprintf(timeText, sizeof timeText, "%.2f s", seconds);
  std::ostringstream summary;
  summary << dbs.size() << (dbs.size() == 1 ? " database" : " databases") << " found, "
          << archived << " archived, " << bytesIn << " bytes in, " << bytesOut
          << " bytes out, " << timeText;
  printer.Line(summary.str());

  if (!runError.empty() || !report.Empty()) return kExitNotAllArchived;
  return kExitOk;
}
