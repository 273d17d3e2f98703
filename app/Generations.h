// The earlier archives kept beside an archive, as log rotation keeps them:
// NAME.zip.1 (the newest) to NAME.zip.N. The new archive enters the chain by
// swaps of two names at a time, from the end of the chain back to NAME.zip,
// so that at every instant each generation has a name, NAME.zip holds the
// old archive until one swap gives it the new one, and a step that fails can
// be undone. Only files that are ours (CheckOurs, strictly) ever move.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "FileOutput.h"

struct TGenerationPlan {
  // ids[k]: the file of NAME.zip.k for k = 0 (the archive replaced) to hole.
  std::vector<TFileId> ids;
  // The name through which the new archive enters: the new archive and the
  // file there swap, then the new one moves down to NAME.zip name by name,
  // each generation taking the name above it.
  int hole = 0;
  // The file at the hole is first given the free name above it as well.
  bool grow = false;
  // The file at the hole leaves the chain (the oldest, or the archive
  // replaced when none can be kept); else it has a second name above it,
  // from grow or from a move that a stopped run did not finish.
  bool drops = false;
  // What moves, as the report shows it: from a path to a path, or to "" for
  // the oldest, which leaves the chain.
  std::vector<std::pair<std::string, std::string>> moves;
  // Why fewer earlier archives are kept than asked; empty when none are lost.
  std::string shortBy;

  // Nothing but NAME.zip itself changes: the new archive simply replaces it.
  bool ReplaceOnly() const { return hole == 0 && !grow; }
};

// Looks at the chain of the archive at archivePath (its name in dir) for the
// database whose file name is entryName, keeping keep earlier archives, when
// the file replaced has id replaced. Looks only: a dry run shows its moves.
TGenerationPlan PlanGenerations(const TOutputDir& dir, const std::string& archivePath,
                                const std::string& entryName, int keep, const TFileId& replaced);

// Carries plan out with the new archive temp, which is given a name of ours
// first; on success the new archive is at NAME.zip and temp has no name.
// 0, or the error number with failedAt the path it met; then every step
// made is undone and the chain is as it was.
int MoveGenerations(const TOutputDir& dir, const std::string& archivePath,
                    const TGenerationPlan& plan, TTempFile& temp, std::string& failedAt);
