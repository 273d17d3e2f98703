#include "DbzipJson.h"

#include <chrono>
#include <cstdint>
#include <ctime>

#include "Files.h"
#include "JsonObject.h"
#include "Version.h"

namespace {

// A note of a temporary file in the output folder: removed, to be removed,
// or left as it is.
std::string TemporaryLine(const RunReport::Case& c, bool plan) {
  const bool left = c.reason != kStaleTempFound && c.reason != kStaleTempRemoved;
  return JsonObject()
      .Text("type", "temporary")
      .Text("source", c.source)
      .Text("outcome", left   ? "left"
                       : plan ? "would-be-removed"
                              : "removed")
      .Text("reason", c.reason)
      .Bool("dry_run", plan)
      .Line();
}

std::string FolderLine(const RunReport::Case& c, bool plan) {
  return JsonObject()
      .Text("type", "folder")
      .Text("source", c.source)
      .Text("outcome", "not-listed")
      .Text("reason", c.reason)
      .Bool("dry_run", plan)
      .Line();
}

std::string DatabaseLine(const TDatabaseOutcome& o, bool plan,
                         const std::map<const TRunDatabase*, double>& seconds) {
  const TRunDatabase& db = *o.db;
  JsonObject line;
  line.Text("type", "database").Text("source", db.source).Text("archive", db.archivePath);
  line.Text("outcome", OutcomeName(o.outcome)).TextOrNull("reason", o.reason);
  if (o.replacedBy != nullptr)
    line.Text("replaced_by", o.replacedBy->source);
  else
    line.Null("replaced_by");
  line.Number("bytes_in", static_cast<uint64_t>(db.result.bytesRead))
      .Number("bytes_out", static_cast<uint64_t>(db.result.archiveSize));
  if (const auto t = seconds.find(&db); t != seconds.end())
    line.Seconds("seconds", t->second);
  else
    line.Null("seconds");
  return line.Bool("dry_run", plan).Line();
}

void Stamped(JsonObject& summary, const TRunStamp& stamp) {
  summary.Text("started", stamp.started)
      .Text("ended", stamp.ended)
      .Text("host", stamp.host)
      .Text("version", stamp.version);
}

std::string UtcText(std::chrono::system_clock::time_point at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace

TRunStamp RunStampNow(std::chrono::system_clock::time_point started) {
  return {UtcText(started), UtcText(std::chrono::system_clock::now()), HostName(), kProductVersion};
}

std::vector<std::string> DbzipJsonLines(const TRunOutcome& outcome, const DbzipOptions& options,
                                        const std::string& failure,
                                        const std::map<const TRunDatabase*, double>& seconds,
                                        double totalSeconds, int exitStatus,
                                        const TRunStamp& stamp) {
  const bool plan = outcome.plan;
  std::vector<std::string> lines;
  for (const RunReport::Case& c : outcome.notes) lines.push_back(TemporaryLine(c, plan));
  for (const RunReport::Case& c : outcome.folders) lines.push_back(FolderLine(c, plan));
  for (const TDatabaseOutcome& o : outcome.databases)
    lines.push_back(DatabaseLine(o, plan, seconds));
  const size_t found = outcome.databases.size();
  JsonObject summary;
  summary.Text("type", "summary")
      .Bool("dry_run", plan)
      .Text("end", outcome.end == TRunEnd::Finished   ? "finished"
                   : outcome.end == TRunEnd::Canceled ? "interrupted"
                                                      : "failed");
  if (outcome.end == TRunEnd::Failed)
    summary.Text("error", failure);
  else
    summary.Null("error");
  summary.Text("source_dir", options.sourceDir)
      .Text("output_dir", options.outputDir)
      .Number("found", found)
      .Number("archived", outcome.archived)
      .Number("unchanged", outcome.unchanged)
      .Number("not_archived", found - outcome.archived)
      .Number("folders_not_listed", outcome.folders.size())
      .Number("bytes_in", outcome.bytesIn)
      .Number("bytes_out", outcome.bytesOut)
      .Seconds("seconds", totalSeconds)
      .Number("exit_status", static_cast<uint64_t>(exitStatus));
  Stamped(summary, stamp);
  lines.push_back(summary.Line());
  return lines;
}

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
  for (const char* key : {"found", "archived", "unchanged", "not_archived", "folders_not_listed",
                          "bytes_in", "bytes_out"})
    summary.Null(key);
  summary.Null("seconds").Number("exit_status", static_cast<uint64_t>(status));
  const auto now = std::chrono::system_clock::now();
  Stamped(summary, RunStampNow(now));
  return summary.Line();
}
