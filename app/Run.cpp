#include "Run.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "Errors.h"
#include "File.h"
#include "Files.h"
#include "Masks.h"
#include "SFolders.h"
#include "Text.h"
#include "ZipWriter.h"

std::string ArchiveGroupKey(const std::string& archivePath) {
#ifdef _WIN32
  // ASCII letters fold to lower case; every other code point, and the two
  // ASCII letters that have non-ASCII twins (the long s, the Kelvin sign),
  // stand as one mark, so that every pair the system takes for one name
  // shares a key and SameFileName tells the rest apart.
  std::string key;
  key.reserve(archivePath.size());
  for (size_t i = 0; i < archivePath.size(); ++i) {
    const auto c = static_cast<unsigned char>(archivePath[i]);
    if (c >= 0x80) {
      if ((c & 0xC0) != 0x80) key += '\x01';  // a lead byte starts a code point
      continue;
    }
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : char(c);
    key += (lower == 's' || lower == 'k') ? '\x01' : lower;
  }
  return key;
#else
  return archivePath;
#endif
}

namespace {

// How a run shares the machine, decided here alone for every shell.

// The databases zipped at once: the jobs asked for, no more than there are
// archive names; one where the caller's thread runs a window, whose
// messages run on that thread only.
int Workers(const TRunRequest& request, size_t groups) {
  if (request.processMessages) return 1;
  return static_cast<int>(std::min<size_t>(std::max(request.jobs, 1), std::max<size_t>(groups, 1)));
}

// A writer set up for one of workers jobs.
void SetUpWriter(TZipWriter& writer, const TRunRequest& request, int workers) {
  const unsigned cores = std::max(std::thread::hardware_concurrency(), 1u);
  writer.DoProcessMessages = request.processMessages && workers == 1;
  // One job leaves a core idle: the encoder codes its blocks on it.
  writer.SecondThread = workers == 1 && cores > 1;
  // The cores are shared out among the jobs: a lone database gets them all.
  writer.Threads = request.threads != 0 ? request.threads : cores / static_cast<unsigned>(workers);
}

}  // namespace

TRun::TRun(TRunView& view) : view_(view), search_(std::make_unique<TSearchFolders>()) {
  search_->UpdateList = true;
  search_->ScanOptions = TScanOptions::soSpecifiedDir;
  search_->OnProcess = [this](TObject*, const std::string& dir, int32_t count, int32_t) {
    view_.Searching(dir, count);
  };
  search_->OnChanged = [this](TObject*, int32_t count, int32_t) {
    view_.SearchEnded(count);
    if (!planning_) ZipFound();
  };
  AddWriter();
}

void TRun::AddWriter() {
  const int slot = static_cast<int>(writers_.size());
  auto writer = std::make_unique<TZipWriter>();
  writer->OnTotalPercentDone = [this, slot](TObject*, int percent) {
    view_.Percent(slot, percent);
  };
  writer->OnZipComplete = [this, slot](TObject*, int files) { view_.Written(slot, files); };
  writers_.push_back(std::move(writer));
}

TRun::~TRun() = default;

TRunEnd TRun::Execute(const TRunRequest& request, const TCancelToken& cancel) {
  planning_ = false;
  if (Begin(request, cancel)) Search();
  return Finish();
}

TRunEnd TRun::Plan(const TRunRequest& request, const TCancelToken& cancel) {
  planning_ = true;
  if (Begin(request, cancel)) Search();
  if (!failure_ && !cancel) {
    Found();
    // A folder that takes no new file fails every database alike.
    if (!dbs_.empty()) outputProblem_ = driver_.OutputProblem();
    // Within a group of one archive name, the last database zipped wins.
    for (const auto& group : groups_) {
      size_t later = SIZE_MAX;
      for (auto it = group.rbegin(); it != group.rend() && !cancel; ++it) {
        TRunDatabase& db = dbs_[*it];
        db.result = driver_.WouldSkip(db.archivePath, db.source);
        if (db.result.reason.empty() && !outputProblem_.empty()) {
          db.result.outcome = TZipOutcome::Failed;
          db.result.reason = outputProblem_;
        }
        if (!db.result.reason.empty()) continue;
        db.replacedBy = later;
        later = *it;
      }
      // Each database is checked against the archive in place, as the run
      // checks it, until one would be written: an archive this run wrote is
      // never left for another database.
      bool moves = later != SIZE_MAX;
      try {
        for (auto it = group.begin(); request_.update && it != group.end(); ++it) {
          TRunDatabase& db = dbs_[*it];
          if (!db.result.reason.empty()) continue;
          if (driver_.PlanUpdate(db.archivePath, db.source, request_.level, db.result, cancel))
            continue;
          // A damaged archive of the database as it is enters no chain.
          moves = db.result.damaged.empty();
          break;
        }
      } catch (const EUserCanceled&) {
        break;  // the token says so; Finish tells
      }
      // The earlier archives move once for the group, when its first
      // archive replaces the one in place.
      if (moves && dbs_[later].result.outcome != TZipOutcome::Unchanged)
        driver_.PlanKeep(dbs_[later].archivePath, dbs_[later].source, dbs_[later].result);
    }
  }
  planning_ = false;
  return Finish();
}

bool TRun::Begin(const TRunRequest& request, const TCancelToken& cancel) {
  request_ = request;
  cancel_ = &cancel;
  dbs_.clear();
  groups_.clear();
  outputProblem_.clear();
  failure_ = nullptr;
  driver_.SetCloning(request.clone);
  driver_.SetVerify(request.verify);
  driver_.SetKeep(request.keep);
  driver_.SetUpdate(request.update);
  if (const int error =
          driver_.BeginRun(request.outputDir, planning_ ? TRunMode::DryRun : TRunMode::Run,
                           request.waitForFolder, &cancel);
      error != 0) {
    const long holder = driver_.LockHolder();
    const std::string why =
        error == ErrFolderBusy && holder > 0
            ? "another run (process " + std::to_string(holder) + ") is writing into it"
            : SysErrorMessage(error);
    Fail(std::make_exception_ptr(std::runtime_error(request.outputDir + ": " + why)));
    return false;
  }
  return true;
}

void TRun::Search() {
  TRunDriver::SetUpSearch(*search_, request_.sourceDir, request_.recursive);
  search_->FileMask = request_.mask;
  search_->Messages = request_.processMessages;
  try {
    search_->Scan(*cancel_);
  } catch (const EUserCanceled&) {
    // The token says so; Finish tells.
  } catch (...) {
    Fail(std::current_exception());
  }
}

namespace {

// The folder an archive goes into: the output folder, or with tree the
// folder below it that the database's folder is below the source folder.
std::string ArchiveFolder(const TRunRequest& request, const std::string& databaseDir) {
  if (!request.tree) return request.outputDir;
  std::string source = request.sourceDir;
  while (source.size() > 1 && (source.back() == PathDelim || source.back() == '/'))
    source.pop_back();
  if (databaseDir.size() <= source.size() + 1 || databaseDir.compare(0, source.size(), source) != 0)
    return request.outputDir;
  std::string below = databaseDir.substr(source.size() + 1);
  while (!below.empty() && (below.back() == PathDelim || below.back() == '/')) below.pop_back();
  if (below.empty()) return request.outputDir;
  const std::string& out = request.outputDir;
  return out.empty() || out.back() == PathDelim ? out + below : out + PathDelim + below;
}

}  // namespace

void TRun::Found() {
  dbs_.clear();
  groups_.clear();
  if (*cancel_) return;  // nothing will be zipped: a million names need no index
  driver_.SearchDone(*search_);
  dbs_.reserve(search_->FoundFiles.size());
  // The request's masks were checked by the shell; an empty list leaves
  // nothing out.
  const TMaskList excluded(request_.exclude);
  for (const TFilePack& pack : search_->FoundFiles) {
    if (*cancel_) break;  // a million sizes take seconds
    if (excluded.Matches(pack.FileName)) continue;
    TRunDatabase db;
    db.source = pack.Dir + pack.FileName;
    db.archivePath = ArchivePath(ArchiveFolder(request_, pack.Dir), pack.FileName, request_.tags);
    db.size = static_cast<uint64_t>(FileStatusOf(db.source).Size);
    dbs_.push_back(std::move(db));
  }
  // Databases that share an archive name are zipped one after the other, in
  // the order found, so the outcome is the same whatever the job count. The
  // group's first spelling names the archive of all, so that on a system
  // that ignores case the later ones are reported as replacing it.
  std::unordered_map<std::string, std::vector<size_t>> groupsByKey;
  for (size_t i = 0; i < dbs_.size(); ++i) {
    std::vector<size_t>& candidates = groupsByKey[ArchiveGroupKey(dbs_[i].archivePath)];
    size_t group = SIZE_MAX;
    for (size_t g : candidates) {
      if (SameFileName(dbs_[groups_[g].front()].archivePath, dbs_[i].archivePath)) {
        group = g;
        break;
      }
    }
    if (group == SIZE_MAX) {
      group = groups_.size();
      groups_.emplace_back();
      candidates.push_back(group);
    } else {
      dbs_[i].archivePath = dbs_[groups_[group].front()].archivePath;
    }
    groups_[group].push_back(i);
  }
}

void TRun::ZipFound() {
  Found();
  view_.Counted(dbs_);
  if (dbs_.empty()) return;
  ZipGroups(Workers(request_, groups_.size()));
}

void TRun::ZipGroups(int workers) {
  // With several workers the largest groups are taken first, so a big
  // database found last does not run alone while the others wait idle; the
  // archives are the same in any order.
  std::vector<size_t> order(groups_.size());
  for (size_t g = 0; g < order.size(); ++g) order[g] = g;
  if (workers > 1) {
    std::vector<uint64_t> groupSize(groups_.size(), 0);
    for (size_t g = 0; g < groups_.size(); ++g) {
      for (size_t i : groups_[g]) groupSize[g] += dbs_[i].size;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return groupSize[a] > groupSize[b]; });
  }
  std::atomic<size_t> nextGroup{0};
  std::atomic<bool> failed{false};  // a worker met what ends the run
  std::mutex failureMutex;
  while (writers_.size() < static_cast<size_t>(workers)) AddWriter();
  for (int slot = 0; slot < workers; ++slot)
    SetUpWriter(*writers_[static_cast<size_t>(slot)], request_, workers);

  auto work = [&](int slot) {
    TZipWriter* writer = writers_[static_cast<size_t>(slot)].get();
    // The encoder's buffers serve every database of the run and go with it.
    struct KeptMemory {
      TZipWriter& writer;
      explicit KeptMemory(TZipWriter& w) : writer(w) { writer.KeepEncoderMemory = true; }
      ~KeptMemory() {
        writer.KeepEncoderMemory = false;
        writer.ReleaseEncoderMemory();
      }
    } kept(*writer);
    const auto stopping = [&] { return *cancel_ || failed; };
    for (size_t n; !stopping() && (n = nextGroup++) < groups_.size();) {
      for (size_t i : groups_[order[n]]) {
        if (stopping()) break;
        TRunDatabase& db = dbs_[i];
        try {
          view_.Zipping(slot, db);
          db.result =
              driver_.ZipDatabase(*writer, db.archivePath, db.source, request_.level, *cancel_);
          db.done = true;
          // An archive in place is reported so, whatever interrupt follows.
          view_.Zipped(slot, db);
        } catch (const EUserCanceled&) {
          if (*cancel_) break;
          std::lock_guard lock(failureMutex);
          Fail(std::current_exception());
          failed = true;
          break;
        } catch (...) {
          // Nothing a database can be blamed for: the run ends.
          std::lock_guard lock(failureMutex);
          Fail(std::current_exception());
          failed = true;
          break;
        }
      }
    }
  };

  if (workers <= 1) {
    work(0);
  } else {
    std::vector<std::thread> threads;
    for (int s = 0; s < workers; ++s) threads.emplace_back(work, s);
    for (auto& t : threads) t.join();
  }
}

void TRun::Fail(std::exception_ptr failure) {
  if (!failure_) failure_ = std::move(failure);
}

TRunEnd TRun::Finish() {
  // The summary and the report come only once what they call archived is
  // durable.
  if (const int error = driver_.EndRun(); error != 0) {
    Fail(std::make_exception_ptr(std::runtime_error(
        request_.outputDir + ": could not be synced: " + SysErrorMessage(error))));
  }
  const TRunEnd end = failure_                         ? TRunEnd::Failed
                      : cancel_ != nullptr && *cancel_ ? TRunEnd::Canceled
                                                       : TRunEnd::Finished;
  view_.Ended(*this, end);
  return end;
}

std::vector<const TRunDatabase*> TRun::Survivors() const {
  std::vector<const TRunDatabase*> survivors;
  for (const auto& group : groups_) {
    for (auto it = group.rbegin(); it != group.rend(); ++it) {
      const TRunDatabase& db = dbs_[*it];
      if (!db.done || !db.result.InPlace()) continue;
      survivors.push_back(&db);
      break;
    }
  }
  return survivors;
}
