#include "DbzipCheck.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "DbzipStatus.h"
#include "Files.h"
#include "JsonObject.h"
#include "PrintedName.h"
#include "StoredArchives.h"

namespace {

using Clock = std::chrono::steady_clock;

// The archives of a survey checked by a pool of workers, each taking the
// next one in order, so that the printer, which waits for each in turn,
// seldom waits long. A worker keeps the folder of its last archive open.
class TCheckPool {
 public:
  TCheckPool(const TStoredSurvey& survey, int jobs, const std::atomic<bool>& cancel)
      : survey_(survey), cancel_(cancel), results_(survey.entries.size()) {
    for (size_t i = 0; i < survey.entries.size(); ++i)
      if (survey.entries[i].kind == TStoredKind::Archive) archives_.push_back(i);
    done_.assign(survey.entries.size(), false);
    const size_t workers = std::min(static_cast<size_t>(std::max(jobs, 1)), archives_.size());
    running_ = workers;
    for (size_t w = 0; w < workers; ++w) threads_.emplace_back([this] { Work(); });
  }
  ~TCheckPool() {
    for (std::thread& t : threads_) t.join();
  }
  TCheckPool(const TCheckPool&) = delete;
  TCheckPool& operator=(const TCheckPool&) = delete;

  // The check of the archive at entry index, once it is done; Interrupted
  // when the workers stopped before it.
  TArchiveCheck Wait(size_t index) {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return done_[index] || running_ == 0; });
    return done_[index] ? results_[index] : TArchiveCheck{};
  }

 private:
  void Work() {
    TOutputDir dir;
    size_t open = survey_.folders.size();
    int openError = 0;
    for (size_t k; !cancel_ && (k = next_++) < archives_.size();) {
      const size_t index = archives_[k];
      const TStoredEntry& entry = survey_.entries[index];
      if (entry.folder != open) {
        open = entry.folder;
        openError = OpenFolder(survey_.folders[open], dir);
      }
      TArchiveCheck check;
      if (openError != 0) {
        check.verdict = TCheckVerdict::Unreadable;
        check.reason = "its folder could not be opened: " + SysErrorMessage(openError);
      } else {
        try {
          check = CheckStoredArchive(dir, entry, cancel_);
        } catch (const std::exception& e) {
          // Out of memory, say: told of this archive, never the end of the others.
          check.verdict = TCheckVerdict::Unreadable;
          check.reason = std::string("it could not be read: ") + e.what();
        }
      }
      std::lock_guard lock(mutex_);
      results_[index] = std::move(check);
      done_[index] = true;
      ready_.notify_all();
    }
    std::lock_guard lock(mutex_);
    --running_;
    ready_.notify_all();
  }

  // Opens the folder as it was listed: a folder put in its place since is
  // not read.
  static int OpenFolder(const TStoredFolder& folder, TOutputDir& dir) {
    if (const int error = dir.Open(folder.path); error != 0) return error;
    if (folder.id.Valid() && !(dir.StatusAt(".").stamp.id == folder.id)) {
      dir.Close();
      return ErrNameTaken;
    }
    return 0;
  }

  const TStoredSurvey& survey_;
  const std::atomic<bool>& cancel_;
  std::vector<size_t> archives_;  // the entries to read, in order
  std::atomic<size_t> next_{0};
  std::vector<TArchiveCheck> results_;
  std::vector<bool> done_;
  size_t running_ = 0;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<std::thread> threads_;
};

struct TCheckTotals {
  size_t whole = 0, damaged = 0, unreadable = 0;
  size_t notChecked = 0;  // files left alone: not ours, or gone before they were read
  size_t temporaries = 0, foldersNotListed = 0;
  uint64_t bytes = 0;
  size_t Archives() const { return whole + damaged + unreadable; }
};

const char* VerdictName(TCheckVerdict verdict) {
  switch (verdict) {
    case TCheckVerdict::Whole:
      return "whole";
    case TCheckVerdict::Damaged:
      return "damaged";
    case TCheckVerdict::Unreadable:
      return "unreadable";
    case TCheckVerdict::NotOurs:
      return "not-ours";
    case TCheckVerdict::Gone:
      return "gone";
    case TCheckVerdict::Interrupted:
      break;
  }
  return "not-checked";
}

// Tells each entry of the survey as plain lines or JSON Lines, and counts.
class TCheckTeller {
 public:
  TCheckTeller(const DbzipOptions& options, ResultOut& out, std::ostream& err)
      : options_(options), out_(out), err_(err) {}

  void Unlisted(const TStoredEntry& e) {
    ++totals_.foldersNotListed;
    err_ << "dbzip: " << QuoteName(e.path) << ": " << EscapeControls(e.reason) << std::endl;
    if (options_.json)
      out_.Line(JsonObject()
                    .Text("type", "folder")
                    .Text("path", e.path)
                    .Text("outcome", "not-listed")
                    .Text("reason", e.reason)
                    .Line());
  }

  void Temporary(const TStoredEntry& e) {
    ++totals_.temporaries;
    constexpr const char* kWhat = "a temporary file of a run, not an archive";
    if (options_.json)
      out_.Line(JsonObject()
                    .Text("type", "temporary")
                    .Text("path", e.path)
                    .Text("outcome", "left")
                    .Text("reason", kWhat)
                    .Line());
    else if (!options_.quiet)
      out_.Line(QuoteName(e.path) + ": " + kWhat);
  }

  void Other(const std::string& path, TCheckVerdict verdict, const std::string& reason) {
    ++totals_.notChecked;
    const std::string what = verdict == TCheckVerdict::Gone ? "removed before it was read"
                                                            : "not an archive of ours: " + reason;
    if (options_.json)
      out_.Line(JsonObject()
                    .Text("type", "file")
                    .Text("path", path)
                    .Text("outcome", VerdictName(verdict))
                    .TextOrNull("reason", reason)
                    .Line());
    else if (!options_.quiet)
      out_.Line(QuoteName(path) + ": " + EscapeControls(what));
  }

  void Archive(const TStoredEntry& e, const TArchiveCheck& c) {
    if (c.verdict == TCheckVerdict::NotOurs || c.verdict == TCheckVerdict::Gone)
      return Other(e.path, c.verdict, c.reason);
    const bool whole = c.verdict == TCheckVerdict::Whole;
    if (whole)
      ++totals_.whole;
    else if (c.verdict == TCheckVerdict::Damaged)
      ++totals_.damaged;
    else
      ++totals_.unreadable;
    totals_.bytes += static_cast<uint64_t>(c.bytes);
    if (options_.json) {
      out_.Line(JsonObject()
                    .Text("type", "archive")
                    .Text("path", e.path)
                    .Text("outcome", VerdictName(c.verdict))
                    .TextOrNull("reason", c.reason)
                    .Number("bytes", static_cast<uint64_t>(c.bytes))
                    .Seconds("seconds", c.seconds)
                    .Line());
    } else if (!whole) {
      out_.Line(QuoteName(e.path) + ": " + VerdictName(c.verdict) + ": " +
                EscapeControls(c.reason));
    } else if (!options_.quiet) {
      out_.Line(QuoteName(e.path) + ": whole");
    }
  }

  // The summary and the exit status it makes.
  int End(bool interrupted, double seconds) {
    const size_t archives = totals_.Archives();
    const bool empty = archives == 0 && !interrupted;
    int status = kExitOk;
    if (interrupted)
      status = DbzipInterruptedStatus();
    else if (totals_.damaged + totals_.unreadable + totals_.foldersNotListed > 0)
      status = kExitNotAllArchived;
    else if (empty && !options_.allowEmpty)
      status = kExitNothingFound;
    if (options_.json) {
      out_.Line(JsonObject()
                    .Text("type", "summary")
                    .Bool("check", true)
                    .Text("end", interrupted ? "interrupted" : "finished")
                    .Null("error")
                    .Text("dir", options_.checkDir)
                    .Number("archives", archives)
                    .Number("whole", totals_.whole)
                    .Number("damaged", totals_.damaged)
                    .Number("unreadable", totals_.unreadable)
                    .Number("not_checked", totals_.notChecked)
                    .Number("temporaries", totals_.temporaries)
                    .Number("folders_not_listed", totals_.foldersNotListed)
                    .Number("bytes", totals_.bytes)
                    .Seconds("seconds", seconds)
                    .Number("exit_status", static_cast<uint64_t>(status))
                    .Line());
    } else if (!options_.quiet && !interrupted) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "%zu %s checked, %zu whole, %zu damaged, %zu unreadable, %llu bytes, %.2f s",
                    archives, archives == 1 ? "archive" : "archives", totals_.whole,
                    totals_.damaged, totals_.unreadable,
                    static_cast<unsigned long long>(totals_.bytes), seconds);
      out_.Line(text);
    }
    if (interrupted) err_ << "dbzip: interrupted" << std::endl;
    if (empty && !options_.allowEmpty)
      err_ << "dbzip: no archive found in " << QuoteName(options_.checkDir) << std::endl;
    return status;
  }

 private:
  const DbzipOptions& options_;
  ResultOut& out_;
  std::ostream& err_;
  TCheckTotals totals_;
};

}  // namespace

int CheckDbzip(const DbzipOptions& options, std::ostream& out, std::ostream& err,
               const std::atomic<bool>& cancel) {
  const auto started = Clock::now();
  TOutputDir dir;
  std::string problem = DbzipFolderProblem(options.checkDir);
  if (problem.empty()) {
    if (const int error = dir.Open(options.checkDir); error != 0) problem = SysErrorMessage(error);
  }
  if (!problem.empty()) {
    const std::string text = QuoteName(options.checkDir) + ": " + problem;
    err << "dbzip: " << text << std::endl;
    if (options.json) out << DbzipCheckNotStartedJson(options, true, text, kExitUsage) << std::endl;
    return kExitUsage;
  }

  const TStoredSurvey survey = SurveyStored(options.checkDir, dir, options.recursive, cancel);
  dir.Close();
  ResultOut results(out);
  TCheckTeller teller(options, results, err);
  bool interrupted = false;
  {
    TCheckPool pool(survey, DbzipJobs(options), cancel);
    for (size_t i = 0; i < survey.entries.size() && !interrupted; ++i) {
      const TStoredEntry& e = survey.entries[i];
      switch (e.kind) {
        case TStoredKind::Unlisted:
          teller.Unlisted(e);
          break;
        case TStoredKind::Temporary:
          teller.Temporary(e);
          break;
        case TStoredKind::Other:
          teller.Other(e.path, TCheckVerdict::NotOurs, e.reason);
          break;
        case TStoredKind::Archive: {
          const TArchiveCheck check = pool.Wait(i);
          interrupted = check.verdict == TCheckVerdict::Interrupted;
          if (!interrupted) teller.Archive(e, check);
          break;
        }
      }
    }
  }
  interrupted = interrupted || cancel;
  const int status =
      teller.End(interrupted, std::chrono::duration<double>(Clock::now() - started).count());
  return DbzipStatusWritten(results, status, err);
}

std::string DbzipCheckNotStartedJson(const DbzipOptions& options, bool dirGiven,
                                     const std::string& error, int status) {
  JsonObject summary;
  summary.Text("type", "summary")
      .Bool("check", true)
      .Text("end", "not-started")
      .Text("error", error);
  if (dirGiven)
    summary.Text("dir", options.checkDir);
  else
    summary.Null("dir");
  for (const char* key : {"archives", "whole", "damaged", "unreadable", "not_checked",
                          "temporaries", "folders_not_listed", "bytes", "seconds"})
    summary.Null(key);
  return summary.Number("exit_status", static_cast<uint64_t>(status)).Line();
}
