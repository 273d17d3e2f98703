#include "DbzipRun.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "Errors.h"
#include "File.h"
#include "Files.h"
#include "PrintedName.h"
#include "Run.h"
#include "RunDriver.h"

std::atomic<bool> g_dbzipInterrupted{false};
std::atomic<int> g_dbzipSignal{0};

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
// or a file on standard output gets the results alone. With json the
// results are the view's objects, and no plain line goes to out.
class Printer {
 public:
  Printer(ResultOut& out, std::ostream& err, bool statusLine, bool quiet, bool json, int slots)
      : out_(out),
        err_(err),
        status_(statusLine && !quiet),
        quiet_(quiet || json),
        slots_(static_cast<size_t>(slots)) {}

  void Counted(const std::vector<TRunDatabase>& dbs) {
    std::lock_guard lock(mutex_);
    count_ = dbs.size();
    for (const TRunDatabase& db : dbs) totalBytes_ += db.size;
    zipStart_ = Clock::now();
  }

  void Starting(int slot, const TRunDatabase& db) {
    std::lock_guard lock(mutex_);
    slots_[static_cast<size_t>(slot)] = {db.source, 0, db.size, Clock::now()};
    if (status_)
      DrawStatus();
    else if (!quiet_)
      out_.Line("Zipping " + QuoteName(db.source) + "...");
  }

  void Percent(int slot, int percent) {
    if (!status_) return;
    std::lock_guard lock(mutex_);
    slots_[static_cast<size_t>(slot)].percent = percent;
    const auto now = Clock::now();
    if (now - lastDraw_ < std::chrono::milliseconds(100) && percent != 100) return;
    lastDraw_ = now;
    DrawStatus();
  }

  // Returns the seconds the database took.
  double Finished(int slot, const TRunDatabase& db) {
    std::lock_guard lock(mutex_);
    Slot& s = slots_[static_cast<size_t>(slot)];
    const double seconds = std::chrono::duration<double>(Clock::now() - s.start).count();
    s.name.clear();
    ++done_;
    doneBytes_ += db.size;
    if (quiet_ || !db.result.InPlace()) {
      if (status_) DrawStatus();
      return seconds;
    }
    ClearStatus();
    out_.Line(QuoteName(db.source) + ": " + std::to_string(db.result.bytesRead) + " bytes -> " +
              std::to_string(db.result.archiveSize) + " bytes");
    if (status_) DrawStatus();
    return seconds;
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

  // One line, redrawn in place: the run's progress (databases ended of those
  // found, bytes read of their total, the rate and the time left at it),
  // then each database being zipped with its percentage.
  void DrawStatus() {
    uint64_t bytes = doneBytes_;
    for (const Slot& s : slots_)
      if (!s.name.empty()) bytes += s.size / 100 * static_cast<uint64_t>(s.percent);
    bytes = std::min(bytes, totalBytes_);
    const double seconds = std::chrono::duration<double>(Clock::now() - zipStart_).count();
    const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0.0;
    char progress[160];
    std::snprintf(progress, sizeof progress, "%zu of %zu databases  %.1f of %.1f MB  %.1f MB/s",
                  done_, count_, static_cast<double>(bytes) / 1e6,
                  static_cast<double>(totalBytes_) / 1e6, rate / 1e6);
    std::ostringstream line;
    line << progress;
    // A rate taken over less than a second says little of the rest.
    if (seconds >= 1 && rate > 0) {
      const auto left = static_cast<uint64_t>(static_cast<double>(totalBytes_ - bytes) / rate);
      char leftText[48];
      std::snprintf(leftText, sizeof leftText, "  %llu:%02llu:%02llu left",
                    static_cast<unsigned long long>(left / 3600),
                    static_cast<unsigned long long>(left / 60 % 60),
                    static_cast<unsigned long long>(left % 60));
      line << leftText;
    }
    for (const Slot& s : slots_) {
      if (s.name.empty()) continue;
      line << "  |  " << QuoteName(ExtractFileName(s.name)) << "  " << s.percent << "%";
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
  Clock::time_point zipStart_ = Clock::now();
  size_t count_ = 0, done_ = 0;
  uint64_t totalBytes_ = 0, doneBytes_ = 0;
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

int InterruptedStatus() {
  const int signal = g_dbzipSignal;
  return signal > 0 ? 128 + signal : kExitInterrupted;
}

// One JSON object on one line, its members in the order added.
class JsonObject {
 public:
  // A string member; beside it "<key>_base64" holds the exact bytes when
  // they are not UTF-8, since the string then has U+FFFD for each byte that
  // is not.
  JsonObject& Text(const char* key, std::string_view text) {
    Key(key) += JsonString(text);
    if (!IsUtf8(text)) Key((std::string(key) + "_base64").c_str()) += '"' + Base64(text) + '"';
    return *this;
  }
  JsonObject& TextOrNull(const char* key, std::string_view text) {
    if (text.empty()) return Null(key);
    return Text(key, text);
  }
  JsonObject& Number(const char* key, uint64_t n) {
    Key(key) += std::to_string(n);
    return *this;
  }
  JsonObject& Seconds(const char* key, double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    Key(key) += text;
    return *this;
  }
  JsonObject& Bool(const char* key, bool b) {
    Key(key) += b ? "true" : "false";
    return *this;
  }
  JsonObject& Null(const char* key) {
    Key(key) += "null";
    return *this;
  }
  std::string Line() const { return text_ + '}'; }

 private:
  std::string& Key(const char* key) {
    if (text_.size() > 1) text_ += ',';
    text_ += JsonString(key) + ':';
    return text_;
  }
  std::string text_ = "{";
};

const char* OutcomeName(TZipOutcome outcome) {
  switch (outcome) {
    case TZipOutcome::Archived:
      return "archived";
    case TZipOutcome::ArchivedChanged:
      return "archived-changed";
    case TZipOutcome::NotRegular:
      return "not-regular";
    case TZipOutcome::NotRead:
      return "not-read";
    case TZipOutcome::NotReplaced:
      return "not-replaced";
    case TZipOutcome::Failed:
      break;
  }
  return "failed";
}

// dbzip as a view of the run: each database as it starts and ends, the
// report and the summary at the end, and the exit status they make.
class DbzipView : public TRunView {
 public:
  DbzipView(const DbzipOptions& options, Printer& printer, ResultOut& results, std::ostream& err)
      : options_(options), printer_(printer), results_(results), err_(err) {}

  void Counted(const std::vector<TRunDatabase>& dbs) override { printer_.Counted(dbs); }
  void Zipping(int slot, const TRunDatabase& db) override { printer_.Starting(slot, db); }
  void Percent(int slot, int percent) override { printer_.Percent(slot, percent); }
  void Zipped(int slot, const TRunDatabase& db) override {
    const double seconds = printer_.Finished(slot, db);
    std::lock_guard lock(secondsMutex_);
    seconds_[&db] = seconds;
  }

  void Ended(const TRun& run, TRunEnd end) override {
    status_ = options_.dryRun ? EndPlan(run, end) : EndRun(run, end);
    if (options_.json) PrintJson(run, end);
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

  // A run that failed or was interrupted says so on standard error and ends
  // with its status; one that finished has none here.
  std::optional<int> Unfinished(const TRun& run, TRunEnd end) {
    if (end == TRunEnd::Failed) {
      printer_.Error(EscapeControls(FailureText(run.Failure())));
      return kExitNotAllArchived;
    }
    if (end == TRunEnd::Canceled) {
      printer_.Error("interrupted");
      return InterruptedStatus();
    }
    return std::nullopt;
  }

  int EndRun(const TRun& run, TRunEnd end) {
    PrintReport(run);
    if (const std::optional<int> status = Unfinished(run, end)) return *status;
    uint64_t bytesIn = 0, bytesOut = 0;
    size_t cloned = 0;
    const auto survivors = run.Survivors();
    for (const TRunDatabase* db : survivors) {
      bytesIn += static_cast<uint64_t>(db->result.bytesRead);
      bytesOut += static_cast<uint64_t>(db->result.archiveSize);
      if (db->result.cloned) ++cloned;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
    char timeText[32];
    std::snprintf(timeText, sizeof timeText, "%.2f s", seconds);
    const size_t found = run.Databases().size();
    std::ostringstream summary;
    summary << found << (found == 1 ? " database" : " databases") << " found, " << survivors.size()
            << " archived (" << cloned << " read from a clone), " << bytesIn << " bytes in, "
            << bytesOut << " bytes out, " << timeText;
    printer_.Line(summary.str());
    return NothingFound(run, run.Report().Empty() ? kExitOk : kExitNotAllArchived);
  }

  // What the run would do with each database found, as lines on standard
  // output: the archive each would get, and what would be skipped and why.
  int EndPlan(const TRun& run, TRunEnd end) {
    if (const std::optional<int> status = Unfinished(run, end)) return *status;
    const bool lines = !options_.json;
    size_t archived = 0, notArchived = 0, remarks = 0;
    // The stale temporaries and the folders the search could not list come
    // first, as they were met; a temporary is a note, neither skipped nor a
    // failure.
    for (const auto& c : run.Report().Cases()) {
      if (lines)
        results_.Line(QuoteName(c.source) + (c.note ? ": " : ": would be skipped: ") +
                      EscapeControls(c.reason));
      if (!c.note) ++notArchived;
    }
    const auto& dbs = run.Databases();
    for (const TRunDatabase& db : dbs) {
      if (!db.result.reason.empty()) {
        if (lines)
          results_.Line(QuoteName(db.source) +
                        ": would be skipped: " + EscapeControls(db.result.reason));
        ++notArchived;
      } else if (db.replacedBy != SIZE_MAX) {
        if (lines)
          results_.Line(QuoteName(db.source) + ": its archive " + QuoteName(db.archivePath) +
                        " would be replaced by " + QuoteName(dbs[db.replacedBy].source));
        ++notArchived;
      } else {
        if (lines && !options_.quiet) {
          results_.Line(QuoteName(db.source) + " -> " + QuoteName(db.archivePath));
          for (const auto& [from, to] : db.result.kept) {
            results_.Line(to.empty() ? QuoteName(from) + " would be removed"
                                     : QuoteName(from) + " would become " + QuoteName(to));
          }
        }
        if (!db.result.keptShort.empty()) {
          if (lines)
            results_.Line(QuoteName(db.source) +
                          ": would be reported: " + EscapeControls(db.result.keptShort));
          ++remarks;  // the run reports it, with exit status 1
        }
        ++archived;
      }
    }
    if (lines && !options_.quiet) {
      results_.Line(std::to_string(dbs.size()) + (dbs.size() == 1 ? " database" : " databases") +
                    " found, " + std::to_string(archived) + " would be archived");
    }
    return NothingFound(run, notArchived + remarks == 0 ? kExitOk : kExitNotAllArchived);
  }

  // The run's end as JSON Lines: a folder that could not be listed, each
  // database found in the order found with what became of it (or, in a dry
  // run, would), then the summary.
  void PrintJson(const TRun& run, TRunEnd end) {
    const bool plan = options_.dryRun;
    const auto& dbs = run.Databases();
    std::map<std::string, const TRunDatabase*> survivorAt;
    for (const TRunDatabase* db : run.Survivors()) survivorAt[db->archivePath] = db;
    std::map<std::string, std::string> reasonOf;  // the report's last word on a name
    for (const auto& c : run.Report().Cases()) reasonOf[c.source] = c.reason;
    std::map<std::string, bool> isDatabase;
    for (const TRunDatabase& db : dbs) isDatabase[db.source] = true;

    size_t folders = 0;
    for (const auto& c : run.Report().Cases()) {
      if (isDatabase.count(c.source) != 0) continue;
      // A temporary file that a killed run left in the output folder.
      if (c.note) {
        const bool left = c.reason != kStaleTempFound && c.reason != kStaleTempRemoved;
        results_.Line(JsonObject()
                          .Text("type", "temporary")
                          .Text("source", c.source)
                          .Text("outcome", left   ? "left"
                                           : plan ? "would-be-removed"
                                                  : "removed")
                          .Text("reason", c.reason)
                          .Bool("dry_run", plan)
                          .Line());
        continue;
      }
      ++folders;
      results_.Line(JsonObject()
                        .Text("type", "folder")
                        .Text("source", c.source)
                        .Text("outcome", "not-listed")
                        .Text("reason", c.reason)
                        .Bool("dry_run", plan)
                        .Line());
    }
    size_t archived = 0;
    uint64_t bytesIn = 0, bytesOut = 0;
    for (const TRunDatabase& db : dbs) {
      JsonObject o;
      o.Text("type", "database").Text("source", db.source).Text("archive", db.archivePath);
      const TRunDatabase* replacer = nullptr;
      std::string outcome, reason = db.result.reason;
      bool kept = false;  // its archive is (or would be) in place at the end
      if (plan) {
        if (!reason.empty() || end != TRunEnd::Finished) {
          outcome = reason.empty() ? "not-zipped" : OutcomeName(db.result.outcome);
        } else if (db.replacedBy != SIZE_MAX) {
          outcome = "replaced";
          replacer = &dbs[db.replacedBy];
          reason = "its archive would be replaced by " + replacer->source;
        } else {
          outcome = "archived";
          kept = true;
        }
      } else if (!db.done) {
        outcome = "not-zipped";
      } else if (db.result.InPlace() && survivorAt[db.archivePath] != &db) {
        outcome = "replaced";
        replacer = survivorAt[db.archivePath];
        if (const auto r = reasonOf.find(db.source); r != reasonOf.end()) reason = r->second;
      } else {
        outcome = OutcomeName(db.result.outcome);
        kept = db.result.InPlace();
      }
      o.Text("outcome", outcome).TextOrNull("reason", reason);
      if (replacer != nullptr)
        o.Text("replaced_by", replacer->source);
      else
        o.Null("replaced_by");
      o.Number("bytes_in", static_cast<uint64_t>(db.result.bytesRead))
          .Number("bytes_out", static_cast<uint64_t>(db.result.archiveSize));
      {
        std::lock_guard lock(secondsMutex_);
        if (const auto t = seconds_.find(&db); t != seconds_.end())
          o.Seconds("seconds", t->second);
        else
          o.Null("seconds");
      }
      o.Bool("dry_run", plan);
      results_.Line(o.Line());
      if (kept) {
        ++archived;
        bytesIn += static_cast<uint64_t>(db.result.bytesRead);
        bytesOut += static_cast<uint64_t>(db.result.archiveSize);
      }
    }
    JsonObject summary;
    summary.Text("type", "summary")
        .Bool("dry_run", plan)
        .Text("end", end == TRunEnd::Finished   ? "finished"
                     : end == TRunEnd::Canceled ? "interrupted"
                                                : "failed");
    if (end == TRunEnd::Failed)
      summary.Text("error", FailureText(run.Failure()));
    else
      summary.Null("error");
    summary.Text("source_dir", options_.sourceDir)
        .Text("output_dir", options_.outputDir)
        .Number("found", dbs.size())
        .Number("archived", archived)
        .Number("not_archived", dbs.size() - archived)
        .Number("folders_not_listed", folders)
        .Number("bytes_in", bytesIn)
        .Number("bytes_out", bytesOut)
        .Seconds("seconds", std::chrono::duration<double>(Clock::now() - started_).count())
        .Number("exit_status", static_cast<uint64_t>(status_));
    results_.Line(summary.Line());
  }

  const DbzipOptions& options_;
  Printer& printer_;
  ResultOut& results_;
  std::ostream& err_;
  const Clock::time_point started_ = Clock::now();
  std::mutex secondsMutex_;
  std::map<const TRunDatabase*, double> seconds_;
  int status_ = kExitOk;
};

}  // namespace

std::string DbzipNotStartedJson(const DbzipOptions& options, bool foldersGiven,
                                const std::string& error, int status) {
  JsonObject summary;
  summary.Text("type", "summary")
      .Bool("dry_run", options.dryRun)
      .Text("end", "not-started")
      .Text("error", error);
  if (foldersGiven)
    summary.Text("source_dir", options.sourceDir).Text("output_dir", options.outputDir);
  else
    summary.Null("source_dir").Null("output_dir");
  // Nothing was searched: no count would be true.
  for (const char* key :
       {"found", "archived", "not_archived", "folders_not_listed", "bytes_in", "bytes_out"})
    summary.Null(key);
  return summary.Null("seconds").Number("exit_status", static_cast<uint64_t>(status)).Line();
}

int RunDbzip(const DbzipOptions& options, std::ostream& out, std::ostream& err, bool statusLine,
             const std::atomic<bool>& cancel) {
  // A run refused before it starts still gives a monitor its summary: an
  // unmounted disk is the commonest failure of a night.
  const auto refuse = [&](const std::string& text) {
    err << "dbzip: " << text << std::endl;
    if (options.json) out << DbzipNotStartedJson(options, true, text, kExitUsage) << std::endl;
    return kExitUsage;
  };
  for (const std::string& masks : {options.FileMask(), options.exclude.value_or("")}) {
    if (const std::string problem = MaskListProblem(masks); !problem.empty())
      return refuse(EscapeControls(problem));
  }
  for (const std::string* dir : {&options.sourceDir, &options.outputDir}) {
    if (const std::string problem = FolderProblem(*dir); !problem.empty())
      return refuse(QuoteName(*dir) + ": " + problem);
  }
  TRunRequest request;
  request.sourceDir = options.sourceDir;
  request.outputDir = options.outputDir;
  request.recursive = options.recursive;
  request.mask = options.FileMask();
  request.level = options.level;
  request.tags = options.RemoveTags() ? TagRemoval::Remove : TagRemoval::Keep;
  request.exclude = options.exclude.value_or("");
  // -j 0 as make and xz take it: one job per processor.
  request.jobs = options.jobs != 0
                     ? options.jobs
                     : static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
  request.clone = options.clone;
  request.verify = options.verify;
  request.keep = options.keep;

  ResultOut results(out);
  Printer printer(results, err, statusLine && !options.dryRun, options.quiet, options.json,
                  request.jobs);
  DbzipView view(options, printer, results, err);
  TRun run(view);
  if (options.dryRun)
    run.Plan(request, cancel);
  else
    run.Execute(request, cancel);
  // Results that never reached their file (a full disk, a closed pipe) are a
  // failure of the run, not a success.
  if (results.Error() == 0) return view.Status();
  err << "dbzip: cannot write the results to standard output: " << SysErrorMessage(results.Error())
      << std::endl;
#ifdef SIGPIPE
  // A reader that went away ends the run by SIGPIPE whenever its write came,
  // during the run or after it, as the signal's own action would have; where
  // SIGPIPE is ignored the write failed with EPIPE and the run went on.
  if (g_dbzipSignal == SIGPIPE) return 128 + SIGPIPE;
#endif
  return view.Status() == kExitOk ? kExitNotAllArchived : view.Status();
}
