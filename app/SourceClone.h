// Reading a database as it stood at one instant: where its file system shares
// data between files, the database is cloned into an unnamed file (in its own
// folder, else the output folder) that the writer reads in its place.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include "FileOutput.h"

// What a clone stands for: the database's stamp, time and attributes as they
// were when it was taken.
struct TSourceClone {
  THandle handle = InvalidHandle;
  TFileStamp stamp;
  uint32_t time = 0xFFFFFFFFu;  // the database's DOS date and time
  uint32_t attr = 0;
};

// Takes clones for a run; safe to use from several threads at once.
class TSourceCloner {
 public:
  // Forgets the file systems that made no clone, for a new run.
  void Reset();
  // A clone of the database at source, or false when its file system cannot
  // make one (it is then read directly); outDir is tried where the
  // database's own folder takes no file.
  bool Take(const std::string& source, const TOutputDir& outDir, TSourceClone& clone);

 private:
  std::mutex mutex_;
  // File systems (by device) that made no clone in this run: not tried again.
  std::set<uint64_t> noClone_;
};
