// dbzip's --json output: JSON Lines told from a run's outcome (one object per
// temporary noted, per folder not listed and per database, then the
// summary), and the summary of a run refused before it started.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "DbzipOptions.h"
#include "RunOutcome.h"

// When and where a run ran, so that a log read nights later tells which
// night a line belongs to: its start and end in UTC (ISO 8601), the host and
// dbzip's version.
struct TRunStamp {
  std::string started, ended, host, version;
};
// The stamp of a run that started at started and ends now.
TRunStamp RunStampNow(std::chrono::system_clock::time_point started);

// The lines of a run that ended, in order. failure is what ended a failed
// run; seconds what each database zipped took; totalSeconds the run's time.
std::vector<std::string> DbzipJsonLines(const TRunOutcome& outcome, const DbzipOptions& options,
                                        const std::string& failure,
                                        const std::map<const TRunDatabase*, double>& seconds,
                                        double totalSeconds, int exitStatus,
                                        const TRunStamp& stamp);

// The --json summary of a run refused before it started (a usage error, a
// missing folder): its end "not-started", error what was wrong as standard
// error words it, the folders when both were given (else null), no counts,
// and its exit status.
std::string DbzipNotStartedJson(const DbzipOptions& options, bool foldersGiven,
                                const std::string& error, int status);
