// What became of a run, or in a dry run what would: computed once from the
// run, so that every way of telling it (dbzip's lines, its plan, its JSON)
// says the same of each database, the same totals and the same exit class.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Run.h"

// One database's end, as every printer names it.
enum class TOutcome {
  Archived,         // in place (or would be)
  ArchivedChanged,  // in place, archived as read though it changed meanwhile
  Unchanged,        // in place: its archive already held it as it stands (--update)
  NotRegular,
  NotRead,
  NotReplaced,
  Failed,
  Replaced,   // its archive was (or would be) replaced by a later database's
  NotZipped,  // the run ended before it, or a dry run that did not finish
};
const char* OutcomeName(TOutcome outcome);

struct TDatabaseOutcome {
  const TRunDatabase* db = nullptr;
  TOutcome outcome = TOutcome::NotZipped;
  std::string reason;  // the report's text; empty for none
  const TRunDatabase* replacedBy = nullptr;
  bool inPlace = false;  // its archive is (or would be) in place at the end
};

// How the run ends for its exit status.
enum class TExitClass {
  Ok,              // every database found archived (or, allowed, none found)
  NotAllArchived,  // something reported, or the run failed
  NothingFound,    // no database, and an empty run is not allowed
  Interrupted,     // cancelled
};

struct TRunOutcome {
  bool plan = false;
  TRunEnd end = TRunEnd::Finished;
  std::vector<TDatabaseOutcome> databases;  // in the order found
  // The report's cases that are no database: notes (temporaries) and the
  // folders that could not be listed, as met.
  std::vector<RunReport::Case> notes, folders;
  size_t archived = 0;   // in place at the end
  size_t unchanged = 0;  // of those, left as they were
  size_t cloned = 0;     // of those, read from a clone
  uint64_t bytesIn = 0, bytesOut = 0;
  TExitClass exitClass = TExitClass::Ok;
  // A finished run found no database and an empty run is not allowed: said
  // whatever else the status says.
  bool nothingFound = false;
};

// The outcome of run, ended as end; plan for a dry run. allowEmpty lets a
// run that found nothing end well.
TRunOutcome OutcomeOf(const TRun& run, TRunEnd end, bool plan, bool allowEmpty);
