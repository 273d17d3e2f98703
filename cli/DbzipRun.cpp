#include "DbzipRun.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <vector>

#include "Errors.h"
#include "File.h"
#include "Files.h"
#include "PrintedName.h"
#include "Run.h"
#include "RunDriver.h"

std::atomic<bool> g_dbzipInterrupted{false};

namespace {

using Clock = std::chrono::steady_clock;

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

  void Starting(int slot, const TRunDatabase& db) {
    std::lock_guard lock(mutex_);
    slots_[slot] = {db.source, 0, db.size, Clock::now()};
    if (quiet_) return;
    if (status_)
      DrawStatus();
    else
      out_.Line("Zipping " + QuoteName(db.source) + "...");
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

  void Finished(int slot, const TRunDatabase& db) {
    std::lock_guard lock(mutex_);
    slots_[slot].name.clear();
    if (quiet_ || !db.result.InPlace()) {
      if (status_) DrawStatus();
      return;
    }
    ClearStatus();
    out_.Line(QuoteName(db.source) + ": " + std::to_string(db.result.bytesRead) + " bytes -> " +
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
      line << QuoteName(ExtractFileName(s.name)) << "  " << s.percent << "%  " << speed;
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

}  // namespace

namespace {

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

std::string FailureText(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Exception& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
}

// dbzip as a view of the run: each database as it starts and ends, the
// report and the summary at the end, and the exit status they make.
class DbzipView : public TRunView {
 public:
  DbzipView(const DbzipOptions& options, Printer& printer, ResultOut& results, std::ostream& err)
      : options_(options), printer_(printer), results_(results), err_(err) {}

  void Zipping(int slot, const TRunDatabase& db) override { printer_.Starting(slot, db); }
  void Percent(int slot, int percent) override { printer_.Percent(slot, percent); }
  void Zipped(int slot, const TRunDatabase& db) override { printer_.Finished(slot, db); }

  void Ended(const TRun& run, TRunEnd end) override {
    status_ = options_.dryRun ? EndPlan(run, end) : EndRun(run, end);
  }

  int Status() const { return status_; }

 private:
  // Everything reported, in the order met.
  void PrintReport(const TRun& run) {
    for (const auto& c : run.Report().Cases())
      printer_.Error(QuoteName(c.source) + ": " + EscapeControls(c.reason));
  }

  // A run that found nothing is said to have done so: a missing -r or an
  // empty mount point must not look like a good backup.
  int NothingFound(const TRun& run, int status) {
    if (!run.Databases().empty() || options_.allowEmpty) return status;
    printer_.Error("no database found in " + QuoteName(options_.sourceDir));
    return status == kExitOk ? kExitNothingFound : status;
  }

  int EndRun(const TRun& run, TRunEnd end) {
    PrintReport(run);
    if (end == TRunEnd::Failed) {
      printer_.Error(EscapeControls(FailureText(run.Failure())));
      return kExitNotAllArchived;
    }
    if (end == TRunEnd::Canceled) {
      printer_.Error("interrupted");
      return kExitInterrupted;
    }
    uint64_t bytesIn = 0, bytesOut = 0;
    const auto survivors = run.Survivors();
    for (const TRunDatabase* db : survivors) {
      bytesIn += static_cast<uint64_t>(db->result.bytesRead);
      bytesOut += static_cast<uint64_t>(db->result.archiveSize);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    char timeText[32];
    std::snprintf(timeText, sizeof timeText, "%.2f s", seconds);
    const size_t found = run.Databases().size();
    std::ostringstream summary;
    summary << found << (found == 1 ? " database" : " databases") << " found, " << survivors.size()
            << " archived, " << bytesIn << " bytes in, " << bytesOut << " bytes out, " << timeText;
    printer_.Line(summary.str());
    return NothingFound(run, run.Report().Empty() ? kExitOk : kExitNotAllArchived);
  }

  // What the run would do with each database found, as lines on standard
  // output: the archive each would get, and what would be skipped and why.
  int EndPlan(const TRun& run, TRunEnd end) {
    if (end == TRunEnd::Failed) {
      printer_.Error(EscapeControls(FailureText(run.Failure())));
      return kExitNotAllArchived;
    }
    if (end == TRunEnd::Canceled) {
      printer_.Error("interrupted");
      return kExitInterrupted;
    }
    size_t archived = 0, notArchived = 0, remarks = 0;
    // The folders the search could not list come first, as it met them.
    for (const auto& c : run.Report().Cases()) {
      results_.Line(QuoteName(c.source) + ": would be skipped: " + EscapeControls(c.reason));
      ++notArchived;
    }
    const auto& dbs = run.Databases();
    for (const TRunDatabase& db : dbs) {
      if (!db.result.reason.empty()) {
        results_.Line(QuoteName(db.source) +
                      ": would be skipped: " + EscapeControls(db.result.reason));
        ++notArchived;
      } else if (db.replacedBy != SIZE_MAX) {
        results_.Line(QuoteName(db.source) + ": its archive " + QuoteName(db.archivePath) +
                      " would be replaced by " + QuoteName(dbs[db.replacedBy].source));
        ++notArchived;
      } else {
        if (!options_.quiet) {
          results_.Line(QuoteName(db.source) + " -> " + QuoteName(db.archivePath));
          for (const auto& [from, to] : db.result.kept) {
            results_.Line(to.empty() ? QuoteName(from) + " would be removed"
                                     : QuoteName(from) + " would become " + QuoteName(to));
          }
        }
        if (!db.result.keptShort.empty()) {
          results_.Line(QuoteName(db.source) +
                        ": would be reported: " + EscapeControls(db.result.keptShort));
          ++remarks;  // the run reports it, with exit status 1
        }
        ++archived;
      }
    }
    if (!options_.quiet) {
      results_.Line(std::to_string(dbs.size()) + (dbs.size() == 1 ? " database" : " databases") +
                    " found, " + std::to_string(archived) + " would be archived");
    }
    return NothingFound(run, notArchived + remarks == 0 ? kExitOk : kExitNotAllArchived);
  }

  const DbzipOptions& options_;
  Printer& printer_;
  ResultOut& results_;
  std::ostream& err_;
  const Clock::time_point started_ = Clock::now();
  int status_ = kExitOk;
};

}  // namespace

int RunDbzip(const DbzipOptions& options, std::ostream& out, std::ostream& err, bool statusLine,
             const std::atomic<bool>& cancel) {
  if (const std::string problem = MaskListProblem(options.FileMask()); !problem.empty()) {
    err << "dbzip: " << EscapeControls(problem) << std::endl;
    return kExitUsage;
  }
  for (const std::string* dir : {&options.sourceDir, &options.outputDir}) {
    if (const std::string problem = FolderProblem(*dir); !problem.empty()) {
      err << "dbzip: " << QuoteName(*dir) << ": " << problem << std::endl;
      return kExitUsage;
    }
  }
  TRunRequest request;
  request.sourceDir = options.sourceDir;
  request.outputDir = options.outputDir;
  request.recursive = options.recursive;
  request.mask = options.FileMask();
  request.level = options.level;
  request.tags = options.RemoveTags() ? TagRemoval::Remove : TagRemoval::Keep;
  request.jobs = options.jobs;
  request.verify = options.verify;
  request.keep = options.keep;

  ResultOut results(out);
  Printer printer(results, err, statusLine && !options.dryRun, options.quiet, options.jobs);
  DbzipView view(options, printer, results, err);
  TRun run(view);
  if (options.dryRun)
    run.Plan(request, cancel);
  else
    run.Execute(request, cancel);
  // Results that never reached their file (a full disk, a closed pipe) are a
  // failure of the run, not a success.
  if (results.Error() == 0) return view.Status();
  err << "dbzip: standard output: " << SysErrorMessage(results.Error()) << std::endl;
  return view.Status() == kExitOk ? kExitNotAllArchived : view.Status();
}
