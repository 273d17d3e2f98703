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

#include "DbzipHints.h"
#include "DbzipJson.h"
#include "DbzipStatus.h"
#include "Errors.h"
#include "File.h"
#include "Files.h"
#include "PrintedName.h"
#include "Run.h"
#include "RunDriver.h"
#include "RunOutcome.h"

std::atomic<bool> g_dbzipInterrupted{false};
std::atomic<int> g_dbzipSignal{0};

namespace {

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

// dbzip as a view of the run: each database as it starts and ends, then the
// outcome, told as plain lines (the report and the summary, or the plan)
// and, with --json, as JSON Lines, and the exit status it makes.
class DbzipView : public TRunView {
 public:
  DbzipView(const DbzipOptions& options, Printer& printer, ResultOut& results)
      : options_(options), printer_(printer), results_(results) {}

  void Counted(const std::vector<TRunDatabase>& dbs) override { printer_.Counted(dbs); }
  void Zipping(int slot, const TRunDatabase& db) override { printer_.Starting(slot, db); }
  void Percent(int slot, int percent) override { printer_.Percent(slot, percent); }
  void Zipped(int slot, const TRunDatabase& db) override {
    const double seconds = printer_.Finished(slot, db);
    std::lock_guard lock(secondsMutex_);
    seconds_[&db] = seconds;
  }

  void Ended(const TRun& run, TRunEnd end) override {
    const TRunOutcome outcome = OutcomeOf(run, end, options_.dryRun, options_.allowEmpty);
    const std::string failure = end == TRunEnd::Failed ? FailureText(run.Failure()) : "";
    if (options_.dryRun) {
      TellPlan(outcome, failure);
    } else {
      TellRun(run, outcome, failure);
    }
    status_ = StatusOf(outcome);
    if (options_.json) {
      std::lock_guard lock(secondsMutex_);
      const double seconds = std::chrono::duration<double>(DbzipClock::now() - started_).count();
      for (const std::string& line : DbzipJsonLines(outcome, options_, failure, seconds_, seconds,
                                                    status_, RunStampNow(startedUtc_)))
        results_.Line(line);
    }
  }

  int Status() const { return status_; }

 private:
  static int StatusOf(const TRunOutcome& outcome) {
    switch (outcome.exitClass) {
      case TExitClass::Ok:
        return kExitOk;
      case TExitClass::NothingFound:
        return kExitNothingFound;
      case TExitClass::Interrupted:
        return DbzipInterruptedStatus();
      case TExitClass::NotAllArchived:
        break;
    }
    return kExitNotAllArchived;
  }

  // A run that failed or was interrupted says so on standard error; one that
  // finished and found nothing says that, since a missing -r or an empty
  // mount point must not look like a good backup.
  void TellEnd(const TRunOutcome& outcome, const std::string& failure) {
    if (outcome.end == TRunEnd::Failed) printer_.Error(EscapeControls(failure));
    if (outcome.end == TRunEnd::Canceled) printer_.Error("interrupted");
    if (outcome.end == TRunEnd::Finished && outcome.nothingFound)
      printer_.Error("no database found in " + QuoteName(options_.sourceDir) +
                     SubfolderHint(options_));
    // Sites that keep databases of one name in folders of their own lose
    // one every night to a flat output folder.
    const auto elsewhere = [](const TDatabaseOutcome& o) {
      return o.replacedBy != nullptr &&
             ExtractFilePath(o.replacedBy->source) != ExtractFilePath(o.db->source);
    };
    if (!options_.tree &&
        std::any_of(outcome.databases.begin(), outcome.databases.end(), elsewhere))
      printer_.Error(
          "databases of one name in different folders share one archive: --tree "
          "keeps each folder's archives apart");
  }

  // Everything reported, in the order met, then the summary.
  void TellRun(const TRun& run, const TRunOutcome& outcome, const std::string& failure) {
    for (const auto& c : run.Report().Cases())
      printer_.Error(QuoteName(c.source) + ": " + EscapeControls(c.reason));
    if (outcome.end != TRunEnd::Finished) return TellEnd(outcome, failure);
    char timeText[32];
    std::snprintf(timeText, sizeof timeText, "%.2f s",
                  std::chrono::duration<double>(DbzipClock::now() - started_).count());
    const size_t found = outcome.databases.size();
    std::ostringstream summary;
    summary << found << (found == 1 ? " database" : " databases") << " found, " << outcome.archived
            << " archived";
    // Said only where they apply: a count of no clone would read as a fault
    // where cloning was off or no file system could clone.
    std::string counts;
    if (options_.update) counts = std::to_string(outcome.unchanged) + " unchanged";
    if (outcome.cloned > 0)
      counts +=
          (counts.empty() ? "" : ", ") + std::to_string(outcome.cloned) + " read from a clone";
    if (!counts.empty()) summary << " (" << counts << ")";
    // When and where, for a log kept beyond the night.
    const TRunStamp stamp = RunStampNow(startedUtc_);
    summary << ", " << outcome.bytesIn << " bytes in, " << outcome.bytesOut << " bytes out, "
            << timeText << ", " << stamp.started << " to " << stamp.ended << " on "
            << QuoteName(stamp.host) << ", dbzip " << stamp.version;
    printer_.Line(summary.str());
    TellEnd(outcome, failure);
  }

  // What the run would do with each database found, as lines on standard
  // output: the temporaries and the folders not listed first, as met, then
  // the archive each database would get, or what would be skipped and why.
  void TellPlan(const TRunOutcome& outcome, const std::string& failure) {
    if (outcome.end != TRunEnd::Finished || options_.json) return TellEnd(outcome, failure);
    for (const RunReport::Case& c : outcome.notes)
      results_.Line(QuoteName(c.source) + ": " + EscapeControls(c.reason));
    for (const RunReport::Case& c : outcome.folders)
      results_.Line(QuoteName(c.source) + ": would be skipped: " + EscapeControls(c.reason));
    for (const TDatabaseOutcome& o : outcome.databases) TellPlanned(o);
    if (!options_.quiet) {
      const size_t found = outcome.databases.size();
      results_.Line(std::to_string(found) + (found == 1 ? " database" : " databases") + " found, " +
                    std::to_string(outcome.archived) + " would be archived" +
                    (options_.update ? " (" + std::to_string(outcome.unchanged) + " unchanged)"
                                     : std::string()));
    }
    TellEnd(outcome, failure);
  }

  void TellPlanned(const TDatabaseOutcome& o) {
    const TRunDatabase& db = *o.db;
    if (o.outcome == TOutcome::Replaced) {
      results_.Line(QuoteName(db.source) + ": its archive " + QuoteName(db.archivePath) +
                    " would be replaced by " + QuoteName(o.replacedBy->source));
      return;
    }
    if (!o.inPlace) {
      results_.Line(QuoteName(db.source) + ": would be skipped: " + EscapeControls(o.reason));
      return;
    }
    if (o.outcome == TOutcome::Unchanged) {
      if (!options_.quiet) results_.Line(QuoteName(db.source) + ": unchanged");
      return;
    }
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
    }
    if (!db.result.damaged.empty())
      results_.Line(QuoteName(db.source) + ": would be reported: " + EscapeControls(o.reason));
  }

  const DbzipOptions& options_;
  Printer& printer_;
  ResultOut& results_;
  const DbzipClock::time_point started_ = DbzipClock::now();
  const std::chrono::system_clock::time_point startedUtc_ = std::chrono::system_clock::now();
  std::mutex secondsMutex_;
  std::map<const TRunDatabase*, double> seconds_;
  int status_ = kExitOk;
};

}  // namespace

std::string DbzipFolderProblem(const std::string& dir) {
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

int DbzipInterruptedStatus() {
  const int signal = g_dbzipSignal;
  return signal > 0 ? 128 + signal : kExitInterrupted;
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
    if (const std::string problem = DbzipFolderProblem(*dir); !problem.empty())
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
  request.jobs = DbzipJobs(options);
  request.clone = options.clone;
  request.verify = options.verify;
  request.keep = options.keep;
  request.waitForFolder = options.wait;
  request.tree = options.tree;
  request.update = options.update;

  ResultOut results(out);
  Printer printer(results, err, statusLine && !options.dryRun, options.quiet, options.json,
                  request.jobs);
  DbzipView view(options, printer, results);
  TRun run(view);
  if (options.dryRun)
    run.Plan(request, cancel);
  else
    run.Execute(request, cancel);
  return DbzipStatusWritten(results, view.Status(), err);
}

int DbzipJobs(const DbzipOptions& options) {
  if (options.jobs != 0) return options.jobs;
  return static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
}

int DbzipStatusWritten(const ResultOut& results, int status, std::ostream& err) {
  // Results that never reached their file are a failure, not a success.
  if (results.Error() == 0) return status;
  err << "dbzip: cannot write the results to standard output: " << SysErrorMessage(results.Error())
      << std::endl;
#ifdef SIGPIPE
  // A reader that went away ends the run by SIGPIPE whenever its write came,
  // during the run or after it, as the signal's own action would have; where
  // SIGPIPE is ignored the write failed with EPIPE and the run went on.
  if (g_dbzipSignal == SIGPIPE) return 128 + SIGPIPE;
#endif
  return status == kExitOk ? kExitNotAllArchived : status;
}
