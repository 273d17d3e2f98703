#include "RunOutcome.h"

#include <map>
#include <set>

namespace {

TOutcome FromZip(TZipOutcome outcome) {
  switch (outcome) {
    case TZipOutcome::Archived:
      return TOutcome::Archived;
    case TZipOutcome::ArchivedChanged:
      return TOutcome::ArchivedChanged;
    case TZipOutcome::Unchanged:
      return TOutcome::Unchanged;
    case TZipOutcome::NotRegular:
      return TOutcome::NotRegular;
    case TZipOutcome::NotRead:
      return TOutcome::NotRead;
    case TZipOutcome::NotReplaced:
      return TOutcome::NotReplaced;
    case TZipOutcome::Failed:
      break;
  }
  return TOutcome::Failed;
}

// A dry run's word on one database.
TDatabaseOutcome Planned(const TRunDatabase& db, const std::vector<TRunDatabase>& dbs,
                         TRunEnd end) {
  TDatabaseOutcome o;
  o.db = &db;
  o.reason = db.result.reason;
  if (!o.reason.empty() || end != TRunEnd::Finished) {
    o.outcome = o.reason.empty() ? TOutcome::NotZipped : FromZip(db.result.outcome);
  } else if (db.replacedBy != SIZE_MAX) {
    o.outcome = TOutcome::Replaced;
    o.replacedBy = &dbs[db.replacedBy];
    o.reason = "its archive would be replaced by " + o.replacedBy->source;
  } else {
    o.outcome = FromZip(db.result.outcome);
    o.inPlace = true;
    if (!db.result.damaged.empty())
      o.reason = "its archive is damaged and would be written again: " + db.result.damaged;
  }
  return o;
}

}  // namespace

const char* OutcomeName(TOutcome outcome) {
  switch (outcome) {
    case TOutcome::Archived:
      return "archived";
    case TOutcome::ArchivedChanged:
      return "archived-changed";
    case TOutcome::Unchanged:
      return "unchanged";
    case TOutcome::NotRegular:
      return "not-regular";
    case TOutcome::NotRead:
      return "not-read";
    case TOutcome::NotReplaced:
      return "not-replaced";
    case TOutcome::Replaced:
      return "replaced";
    case TOutcome::NotZipped:
      return "not-zipped";
    case TOutcome::Failed:
      break;
  }
  return "failed";
}

TRunOutcome OutcomeOf(const TRun& run, TRunEnd end, bool plan, bool allowEmpty) {
  TRunOutcome result;
  result.plan = plan;
  result.end = end;
  const auto& dbs = run.Databases();
  std::map<std::string, const TRunDatabase*> survivorAt;
  for (const TRunDatabase* db : run.Survivors()) survivorAt[db->archivePath] = db;
  std::map<std::string, std::string> reasonOf;  // the report's last word on a name
  std::set<std::string> isDatabase;
  for (const TRunDatabase& db : dbs) isDatabase.insert(db.source);
  bool failures = false;  // a case of the report that is no note
  for (const RunReport::Case& c : run.Report().Cases()) {
    reasonOf[c.source] = c.reason;
    failures |= !c.note;
    if (isDatabase.count(c.source) != 0) continue;
    (c.note ? result.notes : result.folders).push_back(c);
  }

  bool remarks = false;  // a plan's database in place but reported
  for (const TRunDatabase& db : dbs) {
    TDatabaseOutcome o;
    if (plan) {
      o = Planned(db, dbs, end);
      remarks |= o.inPlace && (!db.result.keptShort.empty() || !db.result.damaged.empty());
    } else {
      o.db = &db;
      o.reason = db.result.reason;
      if (!db.done) {
        o.outcome = TOutcome::NotZipped;
      } else if (const TRunDatabase* survivor = survivorAt[db.archivePath];
                 db.result.InPlace() && survivor != &db) {
        o.outcome = TOutcome::Replaced;
        o.replacedBy = survivor;
        if (const auto r = reasonOf.find(db.source); r != reasonOf.end()) o.reason = r->second;
      } else {
        o.outcome = FromZip(db.result.outcome);
        o.inPlace = db.result.InPlace();
      }
    }
    if (o.inPlace) {
      ++result.archived;
      if (o.outcome == TOutcome::Unchanged) ++result.unchanged;
      result.bytesIn += static_cast<uint64_t>(db.result.bytesRead);
      result.bytesOut += static_cast<uint64_t>(db.result.archiveSize);
      if (db.result.cloned) ++result.cloned;
    }
    result.databases.push_back(std::move(o));
  }

  if (end == TRunEnd::Canceled) {
    result.exitClass = TExitClass::Interrupted;
  } else if (end == TRunEnd::Failed) {
    result.exitClass = TExitClass::NotAllArchived;
  } else {
    // A dry run foresees what the run reports: every database not in place
    // and every remark it would make.
    const bool reported =
        plan ? !result.folders.empty() || result.archived != dbs.size() || remarks : failures;
    result.exitClass = reported ? TExitClass::NotAllArchived : TExitClass::Ok;
    result.nothingFound = dbs.empty() && !allowEmpty;
    if (result.nothingFound && result.exitClass == TExitClass::Ok)
      result.exitClass = TExitClass::NothingFound;
  }
  return result;
}
