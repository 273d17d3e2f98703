#include "Generations.h"

#include "ArchiveOwnership.h"
#include "Files.h"

namespace {

std::string NameAt(const std::string& name, int k) {
  return k == 0 ? name : name + "." + std::to_string(k);
}

std::string ShortBy(int kept, const std::string& path, const TClaimCheck& verdict) {
  const std::string why = verdict.verdict == TClaim::Unreadable
                              ? path + " could not be read: " + verdict.what
                              : path + " is " + verdict.what + " and is left as it is";
  if (kept == 0) return "the archive it replaces is not kept: " + why;
  return "only " + std::to_string(kept) +
         (kept == 1 ? " earlier archive is" : " earlier archives are") + " kept: " + why;
}

}  // namespace

TGenerationPlan PlanGenerations(const TOutputDir& dir, const std::string& archivePath,
                                const std::string& entryName, int keep, const TFileId& replaced) {
  TGenerationPlan plan;
  const std::string name = ExtractFileName(archivePath);
  const auto pathAt = [&](int k) { return NameAt(archivePath, k); };
  plan.ids.push_back(replaced);
  // Only an archive of ours enters the chain, though a folder that is the
  // user's alone lets the window's rule replace it.
  if (const TClaimCheck top = CheckOurs(dir, name, entryName, TOursRule::Strict, {},
                                        dir.StatusAt(NameAt(name, 1)).stamp.id);
      top.verdict != TClaim::Ours) {
    plan.shortBy = ShortBy(0, archivePath, top);
    plan.drops = true;
    return plan;
  }
  bool full = true;  // no free name within keep: the oldest leaves
  for (int k = 1; k <= keep; ++k) {
    const TFileId above = dir.StatusAt(NameAt(name, k + 1)).stamp.id;
    const TClaimCheck verdict =
        CheckOurs(dir, NameAt(name, k), entryName, TOursRule::Strict, plan.ids[k - 1], above);
    if (verdict.verdict == TClaim::Absent) {
      full = false;
      plan.grow = true;
      break;
    }
    if (verdict.verdict != TClaim::Ours) {
      plan.shortBy = ShortBy(k - 1, pathAt(k), verdict);
      break;
    }
    if (verdict.stamp.id == plan.ids[k - 1]) {
      // A move that a stopped run did not finish: the file has both names,
      // and the lower one is free to take the next generation.
      full = false;
      break;
    }
    plan.ids.push_back(verdict.stamp.id);
  }
  plan.hole = static_cast<int>(plan.ids.size()) - 1;
  if (plan.grow) plan.moves.emplace_back(pathAt(plan.hole), pathAt(plan.hole + 1));
  plan.drops = full;
  if (full && plan.hole > 0) plan.moves.emplace_back(pathAt(plan.hole), std::string());
  for (int k = plan.hole - 1; k >= 0; --k) plan.moves.emplace_back(pathAt(k), pathAt(k + 1));
  return plan;
}

int MoveGenerations(const TOutputDir& dir, const std::string& archivePath,
                    const TGenerationPlan& plan, TTempFile& temp, std::string& failedAt) {
  const std::string name = ExtractFileName(archivePath);
  const int hole = plan.hole;
  if (const int error = dir.NameTemp(temp, name); error != 0) {
    failedAt = archivePath;
    return error;
  }
  // The oldest waits under the temporary's name until it goes: with a
  // temporary's bits, so that a stop in between leaves a file the next run
  // knows as ours. Its bits come back if the moves are undone.
  // Held open only for the change: an open file cannot be moved on Windows.
  const auto setMode = [&](uint32_t mode, uint32_t* before) {
    const THandle handle = dir.OpenForReadingAt(NameAt(name, hole));
    if (handle == InvalidHandle) return false;
    TFileStamp now;
    bool done = FileStampOf(handle, now) == 0 && now.id == plan.ids[hole];
    if (done && before != nullptr) *before = now.mode;
    done = done && FileSetMode(handle, mode) == 0;
    FileClose(handle);
    return done;
  };
  uint32_t oldestMode = 0;
  const bool privateNow = plan.drops && setMode(0600, &oldestMode);
  if (plan.grow) {
    if (const int error =
            dir.KeepAs(NameAt(name, hole), plan.ids[hole], NameAt(name, hole + 1), true);
        error != 0) {
      failedAt = NameAt(archivePath, hole + 1);
      return error;
    }
  }
  // Each swap as made: the names and what each held before it.
  struct TSwap {
    std::string a, b;
    TFileId idA, idB;
  };
  std::vector<TSwap> made;
  // The new archive is always the first of a swap: where only its handle
  // can move it, the swap is given that.
  const auto swap = [&](const std::string& a, const TFileId& idA, const std::string& b,
                        const TFileId& idB) {
    const int error = dir.Exchange(a, idA, b, idB, temp.handle);
    if (error == 0) made.push_back({a, b, idA, idB});
    return error;
  };
  int error = swap(temp.name, temp.id, NameAt(name, hole), plan.ids[hole]);
  int at = hole;
  for (int k = hole - 1; error == 0 && k >= 0; --k) {
    at = k;
    error = swap(NameAt(name, k + 1), temp.id, NameAt(name, k), plan.ids[k]);
  }
  if (error != 0) {
    failedAt = NameAt(archivePath, at);
    for (auto s = made.rbegin(); s != made.rend(); ++s)
      dir.Exchange(s->b, s->idA, s->a, s->idB, temp.handle);
    // The second name given goes only while the first still holds the file.
    if (plan.grow && dir.Holds(NameAt(name, hole), plan.ids[hole]))
      dir.RemoveAt(NameAt(name, hole + 1), plan.ids[hole]);
    if (privateNow) setMode(oldestMode, nullptr);
    return error;
  }
  // The temporary's name now holds the oldest, which leaves, or a second
  // name of the generation above, which goes only while that one is there.
  if (plan.drops || dir.Holds(NameAt(name, hole + 1), plan.ids[hole]))
    dir.RemoveAt(temp.name, plan.ids[hole]);
  temp.name.clear();
  return 0;
}
