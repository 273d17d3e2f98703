// dbzip run in the test's own process, so that a test seam can reach into the
// run: its exit status and what it printed on each stream.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <vector>

#include "DbzipOptions.h"
#include "DbzipRun.h"

struct Outcome {
  int status;
  std::string out, err;
};

inline Outcome Dbzip(std::vector<std::string> args) {
  const DbzipCommand c = ParseDbzipArguments(args);
  EXPECT_EQ(c.kind, DbzipCommand::Kind::Run) << c.error;
  std::ostringstream out, err;
  const std::atomic<bool> cancel{false};
  const int status = RunDbzip(c.options, out, err, false, cancel);
  return {status, out.str(), err.str()};
}
