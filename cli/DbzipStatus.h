// What dbzip prints while a run goes on: the results on standard output, a
// line at a time, and on a terminal a status line redrawn in place on
// standard error; every write serialised, since workers run at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "Run.h"

using DbzipClock = std::chrono::steady_clock;

// Standard output, where the results go: each line is flushed as it is
// written, and the first failure kept with the system's reason, since results
// that never arrived make the run a failure.
class ResultOut {
 public:
  explicit ResultOut(std::ostream& out) : out_(out) {}
  void Line(const std::string& text);
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

  void Counted(const std::vector<TRunDatabase>& dbs);
  void Starting(int slot, const TRunDatabase& db);
  void Percent(int slot, int percent);
  // Returns the seconds the database took.
  double Finished(int slot, const TRunDatabase& db);
  void Error(const std::string& text);
  void Line(const std::string& text);

 private:
  struct Slot {
    std::string name;
    int percent = 0;
    uint64_t size = 0;
    DbzipClock::time_point start;
  };

  // Before anything else is printed: out and err may be the same terminal.
  void ClearStatus();
  // One line, redrawn in place: the run's progress (databases ended of those
  // found, bytes read of their total, the rate and the time left at it),
  // then each database being zipped with its percentage.
  void DrawStatus();

  ResultOut& out_;
  std::ostream& err_;
  const bool status_;
  const bool quiet_;
  std::vector<Slot> slots_;
  std::mutex mutex_;
  DbzipClock::time_point lastDraw_{};
  DbzipClock::time_point zipStart_ = DbzipClock::now();
  size_t count_ = 0, done_ = 0;
  uint64_t totalBytes_ = 0, doneBytes_ = 0;
};
