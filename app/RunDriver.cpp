#include "RunDriver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ArchiveMode.h"
#include "ArchiveOwnership.h"
#include "ArchiveVerify.h"
#include "Errors.h"
#include "File.h"
#include "Files.h"
#include "Generations.h"
#include "SFolders.h"
#include "Text.h"
#include "ZipWriter.h"

namespace {

std::string Reason(const std::string& what, int error) {
  // A name the system takes for a device is the whole cause, whatever the step.
  if (error == ErrDeviceName) return SysErrorMessage(error);
  return error != 0 ? what + ": " + SysErrorMessage(error) : what;
}

// Why a database could not be read; a server's hold on it says what to do.
std::string NotReadReason(int error) {
  if (IsInUseError(error)) {
    return "is in use by another program (detach the database or stop its service first)";
  }
  return Reason("could not be read", error);
}

std::string WouldReplace(const std::string& file) {
  return "its archive would replace " + file;
}

// A folder's text without the separators it may end in, so that "/out/" and
// "/out" compare equal.
std::string FolderText(std::string dir) {
  while (dir.size() > 1 && (dir.back() == PathDelim || dir.back() == '/')) dir.pop_back();
  return dir.empty() ? std::string(".") : dir;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == PathDelim ? dir + name : dir + PathDelim + name;
}

// Whether a database changed while it was read, as its open handle showed it
// before and after: the report's text, empty when it did not.
std::string ChangedWhileRead(const TZipResult& result, const TFileStamp& before,
                             const TFileStamp& after) {
  if (result.bytesRead != result.sizeAtStart) {
    return "changed while read: " + std::to_string(result.sizeAtStart) + " bytes at start, " +
           std::to_string(result.bytesRead) + " bytes archived";
  }
  // The same size is no proof: a live database rewrites its pages in place.
  if (!before.SameContentAs(after)) return "changed while read: written to while it was read";
  return {};
}

}  // namespace

TFolderProblem CheckFolder(const std::string& path) {
  switch (FileKindOf(path)) {
    case TFileKind::Directory:
      return TFolderProblem::None;
    case TFileKind::None:
      return TFolderProblem::Missing;
    default:
      return TFolderProblem::NotAFolder;
  }
}

// --- TRunDriver ---

void TRunDriver::SetUpSearch(TSearchFolders& search, const std::string& sourceDir, bool recursive) {
  search.ScanOptions = TScanOptions::soSpecifiedDir;
  search.ScanDir = sourceDir;
  search.DoRecursive = recursive;
}

int TRunDriver::BeginRun(const std::string& outputDir, TRunMode mode, bool wait,
                         const TCancelToken* cancel) {
  report_.Clear();
  foundByName_.clear();
  sourceRoot_.clear();
  unsynced_ = false;
  cloner_.Reset();
  openError_ = outputDir_.Open(outputDir);
  if (openError_ != 0) return openError_;
  const bool dry = mode == TRunMode::DryRun;
  // Two runs into one folder would take each other's names and generations.
  const TCancelToken never{false};
  if (const int error =
          outputDir_.Lock(!dry, wait, cancel != nullptr ? *cancel : never, lockHolder_);
      error != 0) {
    outputDir_.Close();
    return openError_ = error;
  }
  for (const TOutputDir::TStaleTemp& temp :
       outputDir_.StaleTemps(dry ? TOutputDir::TStale::Find : TOutputDir::TStale::Remove)) {
    report_.Note(JoinPath(outputDir, temp.name), !temp.leftBecause.empty()
                                                     ? kStaleTempLeft + temp.leftBecause
                                                 : dry ? kStaleTempFound
                                                       : kStaleTempRemoved);
  }
  return 0;
}

int TRunDriver::EndRun() {
  int error = 0;
  if (outputDir_.IsOpen() && unsynced_.exchange(false)) error = outputDir_.Sync();
  outputDir_.Close();
  return error;
}

void TRunDriver::SearchDone(const TSearchFolders& search) {
  foundByName_.clear();
  sourceRoot_ = search.ScanDir;
  for (const TFilePack& pack : search.FoundFiles) {
    foundByName_.emplace(LowerCaseAscii(pack.FileName), pack.Dir + pack.FileName);
  }
  for (const TFolderError& folder : search.UnlistedFolders) {
    report_.FolderNotListed(folder.Dir, folder.Error);
  }
}

std::string TRunDriver::FoundDatabaseAt(const std::string& path) const {
  // Only a found database of the same name can be the file at path; the
  // identity check sees through other spellings of its folder.
  const auto [first, last] = foundByName_.equal_range(LowerCaseAscii(ExtractFileName(path)));
  for (auto it = first; it != last; ++it) {
    if (SameFileName(it->second, path) || SameFile(it->second, path)) return it->second;
  }
  return {};
}

bool TRunDriver::ReadAtItsName(const std::string& source, const TFileId& read) const {
  // Below the folder searched nothing may be a link, nor a folder swapped
  // for one since the search: each step is taken without following one.
  std::string root = sourceRoot_;
  if (!root.empty() && root.back() != PathDelim) root += PathDelim;
  if (!root.empty() && source.size() > root.size() && source.compare(0, root.size(), root) == 0)
    return FileAtPathBelow(root, source.substr(root.size()), read);
  return FileAtPathBelow(ExtractFilePath(source), ExtractFileName(source), read);
}

std::string TRunDriver::Untouchable(const TArchiveTarget& target, const std::string& source) const {
  const TOutputDir& dir = *target.dir;
  const std::string& archivePath = target.path;
  const std::string& name = target.name;
  const auto notOurs = [&](const std::string& file, const std::string& what = {}) {
    return WouldReplace(file) + (what.empty() ? std::string() : ", " + what);
  };
  // The name itself, never what a link there points to.
  const TEntryStatus entry = dir.StatusAt(name);
  if (entry.kind == TEntryKind::None) {
    return entry.error == ENOENT
               ? std::string()
               : Reason("its archive " + archivePath + " could not be read", entry.error);
  }
  // A link is no archive of ours, and may be a database found even when it
  // points nowhere.
  if (entry.kind == TEntryKind::Link) return notOurs(archivePath, "a link");
  if (SameFileName(archivePath, source) || SameFile(archivePath, source)) {
    return notOurs(source);
  }
  if (std::string found = FoundDatabaseAt(archivePath); !found.empty()) return notOurs(found);
  // What this run wrote is its own, whichever database of the same name it holds.
  if (entry.kind == TEntryKind::Regular && report_.WroteThisRun(entry.stamp.id)) return {};
  // Where others may create files, only what every check proves ours; in a
  // folder that is the user's alone, an archive as the window always took it.
  const TFileId firstGeneration = dir.StatusAt(name + ".1").stamp.id;
  const TClaimCheck verdict =
      CheckOurs(dir, name, ExtractFileName(source),
                dir.Shared() ? TOursRule::Strict : TOursRule::Private, firstGeneration);
  switch (verdict.verdict) {
    case TClaim::Absent:
    case TClaim::Ours:
      return {};
    case TClaim::Unreadable:
      return Reason("its archive " + archivePath + " could not be read", verdict.error);
    case TClaim::NotOurs:
      break;
  }
  return notOurs(archivePath, verdict.what);
}

int TRunDriver::Resolve(const std::string& archivePath, TOutputDir& own, TArchiveTarget& target,
                        bool create) const {
  target.path = archivePath;
  target.name = ExtractFileName(archivePath);
  const std::string folder = FolderText(ExtractFilePath(archivePath));
  const std::string top = FolderText(outputDir_.Path());
  if (outputDir_.IsOpen() && folder == top) {
    target.dir = &outputDir_;
    return 0;
  }
  // A folder below the output folder (--tree) is reached through the output
  // folder's handle, never through a link someone planted there.
  if (outputDir_.IsOpen() && folder.size() > top.size() + 1 &&
      folder.compare(0, top.size(), top) == 0 &&
      (folder[top.size()] == PathDelim || folder[top.size()] == '/')) {
    target.dir = &own;
    target.below = true;
    std::string relative = folder.substr(top.size() + 1);
    for (char& c : relative)
      if (c == PathDelim) c = '/';
    return own.OpenBelow(outputDir_, relative, create);
  }
  target.dir = &own;
  return own.Open(folder.empty() ? "." : folder);
}

void TRunDriver::PlanKeep(const std::string& archivePath, const std::string& source,
                          TZipResult& result) const {
  if (keep_ <= 0) return;
  TOutputDir own;
  TArchiveTarget target;
  if (Resolve(archivePath, own, target, false) != 0) return;
  const TEntryStatus replaced = target.dir->StatusAt(target.name);
  // Only an archive replaced enters the chain, and one this run wrote does
  // not: two databases of one name take one step between them.
  if (replaced.kind != TEntryKind::Regular || report_.WroteThisRun(replaced.stamp.id)) return;
  const TGenerationPlan plan =
      PlanGenerations(*target.dir, archivePath, ExtractFileName(source), keep_, replaced.stamp.id);
  result.kept = plan.moves;
  result.keptShort = plan.shortBy;
}

TUpToDateAnswer TRunDriver::CheckUpToDate(const TArchiveTarget& target, const std::string& source,
                                          const TSourceClone* clone, int level, TFileId& archive,
                                          const TCancelToken& cancel) const {
  const TEntryStatus entry = target.dir->StatusAt(target.name);
  // An archive this run wrote holds another database of the same name.
  if (entry.kind != TEntryKind::Regular || report_.WroteThisRun(entry.stamp.id)) return {};
  struct Closer {
    THandle handle = InvalidHandle;
    ~Closer() {
      if (handle != InvalidHandle) FileClose(handle);
    }
  } archiveHandle, sourceHandle;
  archiveHandle.handle = target.dir->OpenForReadingAt(target.name);
  TFileStamp opened;
  if (archiveHandle.handle == InvalidHandle || FileStampOf(archiveHandle.handle, opened) != 0 ||
      !(opened.id == entry.stamp.id)) {
    return {};
  }
  archive = opened.id;
  // The database as the writer would take it: the clone's time and
  // attributes, or its own as opened now.
  TDatabaseLook look;
  look.fileName = ExtractFileName(source);
  THandle data = InvalidHandle;
  if (clone != nullptr) {
    data = clone->handle;
    look.dosTime = clone->time;
    look.attr = clone->attr;
  } else {
    // Opened as the writer opens it.
    data = sourceHandle.handle = FileOpen(source, TFileAccess::Read);
    if (data == InvalidHandle) return {};
    look.dosTime = FileDosDateTime(data);
    look.attr = FileGetAttr(source);
  }
  return ArchiveUpToDate(archiveHandle.handle, data, look, level,
                         verify_ ? TDecode::Data : TDecode::RecordsOnly, cancel);
}

bool TRunDriver::PlanUpdate(const std::string& archivePath, const std::string& source, int level,
                            TZipResult& result, const TCancelToken& cancel) const {
  if (!update_) return false;
  TOutputDir own;
  TArchiveTarget target;
  if (Resolve(archivePath, own, target, false) != 0) return false;
  TFileId archive;
  const TUpToDateAnswer answer = CheckUpToDate(target, source, nullptr, level, archive, cancel);
  if (answer.verdict == TUpToDate::Damaged) result.damaged = answer.damage;
  if (answer.verdict != TUpToDate::Yes) return false;
  result.outcome = TZipOutcome::Unchanged;
  return true;
}

TZipResult TRunDriver::WouldSkip(const std::string& archivePath, const std::string& source) const {
  TZipResult result;
  const auto skip = [&](TZipOutcome outcome, std::string reason) {
    result.outcome = outcome;
    result.reason = std::move(reason);
    return result;
  };
  errno = 0;
  switch (FileKindOf(source)) {
    case TFileKind::Regular:
      break;
    case TFileKind::None:
      // The system's reason: a link loop or a folder not searchable is not
      // a missing file.
      return skip(TZipOutcome::NotRead, Reason("could not be read", errno != 0 ? errno : ENOENT));
    default:
      return skip(TZipOutcome::NotRegular, "not a regular file");
  }
  // Opened as the writer opens it, so that what the run could not read is
  // said now; nothing is read.
  if (const THandle handle = FileOpen(source, TFileAccess::Read); handle != InvalidHandle) {
    FileClose(handle);
  } else if (const int error = errno; error == ErrNotRegularFile || error == EISDIR) {
    return skip(TZipOutcome::NotRegular, "not a regular file");
  } else {
    return skip(TZipOutcome::NotRead, NotReadReason(error));
  }
  TOutputDir own;
  TArchiveTarget target;
  if (const int error = Resolve(archivePath, own, target, false); error != 0) {
    // A folder of --tree's that is not there yet is made by the run.
    if (error == ENOENT && target.below) return result;
    return skip(TZipOutcome::Failed,
                Reason("could not create a file beside " + archivePath, error));
  }
  if (std::string reason = Untouchable(target, source); !reason.empty()) {
    return skip(TZipOutcome::NotReplaced, std::move(reason));
  }
  // Said before a byte is read, so that a dry run foresees what the replace
  // would meet and the run does not zip for nothing.
  if (const int error = target.dir->ReplaceRefusal(target.name); error != 0) {
    return skip(TZipOutcome::Failed, Reason("its archive could not replace " + archivePath, error));
  }
  return result;
}

std::string TRunDriver::OutputProblem() const {
  const std::string folder = outputDir_.Path();
  if (!outputDir_.IsOpen()) return Reason("could not be opened", openError_);
  TTempFile probe;
  if (const int error = outputDir_.CreateTemp("probe.zip", probe); error != 0) {
    return Reason("could not create a file in " + folder, error);
  }
  outputDir_.Discard(probe);
  return {};
}

// One database on its way: where its archive goes, the temporary it is
// written into, the clone it is read from, and what became of it.
struct TRunDriver::TZipJob {
  std::string source;
  TOutputDir own;
  TArchiveTarget target;
  TTempFile temp;
  TSourceClone clone;
  TZipResult result;
  TEntryStatus replaced;  // the file at the archive's name when it was sealed
  uint32_t mode = 0600;   // the bits it takes once it has the archive's name
  TFileId damaged;        // the archive in place, found damaged by the update check

  ~TZipJob() {
    if (target.dir != nullptr) target.dir->Discard(temp);
    if (clone.handle != InvalidHandle) FileClose(clone.handle);
  }
  bool Stop(TZipOutcome outcome, std::string reason) {
    result.outcome = outcome;
    result.reason = std::move(reason);
    return false;
  }
};

bool TRunDriver::Settled(TZipJob& job, int level, const TCancelToken& cancel) {
  TFileId archive;
  const TUpToDateAnswer answer = CheckUpToDate(
      job.target, job.source, job.result.cloned ? &job.clone : nullptr, level, archive, cancel);
  if (answer.verdict == TUpToDate::Damaged) {
    job.damaged = archive;
    job.result.damaged = answer.damage;
  }
  if (answer.verdict != TUpToDate::Yes) {
    // The writer reads the clone from where its offset stands.
    if (job.result.cloned && FileSeek(job.clone.handle, 0, 0) != 0) {
      job.Stop(TZipOutcome::NotRead, Reason("could not be read", errno));
      return true;
    }
    return false;
  }
  TZipResult& result = job.result;
  result.outcome = TZipOutcome::Unchanged;
  result.sizeAtStart = result.bytesRead = answer.bytesRead;
  result.archiveSize = answer.archiveSize;
  // Told like an archive put in place, so that a later database of the same
  // name that replaces it is reported; yet not as one this run wrote: that
  // one would still enter the chain of earlier archives, and be checked.
  report_.Archived(job.target.path, job.source);
  return true;
}

bool TRunDriver::WriteArchive(TZipWriter& writer, TZipJob& job, int level,
                              const TCancelToken& cancel) {
  const std::string& source = job.source;
  const std::string& archivePath = job.target.path;
  const TTempFile& temp = job.temp;
  TZipResult& result = job.result;
  const THandle clone = job.clone.handle;
  const uint32_t cloneTime = job.clone.time, cloneAttr = job.clone.attr;
  const auto finish = [&](TZipOutcome outcome, std::string reason) {
    return job.Stop(outcome, std::move(reason));
  };
  // The handles are the driver's: the writer never keeps them beyond this
  // call. The archive is synced later, once its mode is set.
  const TArchiveJob archive{.archivePath = archivePath,
                            .output = temp.handle,
                            .source = source,
                            .sourceHandle = clone,
                            .sourceTime = cloneTime,
                            .sourceAttr = cloneAttr,
                            .level = level};
  int added = 0;
  try {
    added = writer.ZipOne(archive, cancel);
  } catch (const EUserCanceled&) {
    throw;  // the temporary file goes with the job; the run ends
  } catch (const EReadError& e) {
    if (IsInUseError(e.OsError())) return finish(TZipOutcome::NotRead, NotReadReason(e.OsError()));
    return finish(TZipOutcome::NotRead,
                  "could not be read: " +
                      (e.Message().empty() ? Reason("failed", e.OsError()) : e.Message()));
  } catch (const Exception& e) {
    return finish(
        TZipOutcome::Failed,
        "not archived: " + (e.Message().empty() ? Reason("failed", e.OsError()) : e.Message()));
  }
  result.sizeAtStart = writer.TotalBytes();
  result.bytesRead = writer.BytesDone();
  if (added == 0) {
    const int skipError = writer.SkipError();
    if (skipError == ErrNotRegularFile)
      return finish(TZipOutcome::NotRegular, "not a regular file");
    return finish(TZipOutcome::NotRead, NotReadReason(skipError));
  }
  return true;
}

bool TRunDriver::Seal(TZipWriter& writer, TZipJob& job) {
  // Looked at again: the other file may have appeared while this one was written.
  if (std::string reason = Untouchable(job.target, job.source); !reason.empty())
    return job.Stop(TZipOutcome::NotReplaced, std::move(reason));
  job.replaced = job.target.dir->StatusAt(job.target.name);
  // The database as it was opened: a clone of it has bits and an identity of its own.
  const TFileStamp& database = job.result.cloned ? job.clone.stamp : writer.SourceStampAtOpen();
  const THandle handle = job.temp.handle;
  TModeFacts facts;
  facts.replacing = job.replaced.kind == TEntryKind::Regular;
  facts.replacedMode = job.replaced.stamp.mode;
  facts.newFileMode = NewFileMode();
  facts.databaseMode = database.mode;
  // The new file takes the database's group where it may.
  TFileStamp written;
  int error = FileStampOf(handle, written);
  facts.databaseGroup =
      error == 0 && (written.group == database.group || FileSetGroup(handle, database.group) == 0);
  facts.readAtItsName = ReadAtItsName(job.source, database.id);
  // It keeps a temporary's 0600 until it has the archive's name: a file left
  // under a temporary's name by a stop in between is then one a later run
  // knows as ours. A stop after the name leaves it more private, never
  // more open.
  job.mode = ArchiveMode(facts);
  // Its bytes reach the disk before its name does.
  if (error == 0) error = FileSync(handle);
  if (error != 0) {
    return job.Stop(TZipOutcome::Failed,
                    Reason("not archived: Cannot write file " + job.target.path, error));
  }
  // What lies on the disk must decode to what was read before it may take
  // the old archive's place.
  if (verify_) {
    if (std::string problem = VerifyArchive(handle, writer, job.result.bytesRead); !problem.empty())
      return job.Stop(TZipOutcome::Failed, std::move(problem));
  }
  return true;
}

bool TRunDriver::PutInPlace(TZipJob& job) {
  const TArchiveTarget& target = job.target;
  const TEntryStatus& replaced = job.replaced;
  // Another file may have taken the name since it was looked at, while the
  // archive was synced and verified: what is there must be ours too.
  if (const TEntryStatus now = target.dir->StatusAt(target.name);
      now.kind != replaced.kind || !now.stamp.SameContentAs(replaced.stamp)) {
    if (std::string reason = Untouchable(target, job.source); !reason.empty())
      return job.Stop(TZipOutcome::NotReplaced, std::move(reason));
    job.replaced = now;  // ours too: that is the archive replaced now
  }
  // The earlier archives move only now that the new one is complete, and
  // the new one enters the chain by the same moves. Only an archive replaced
  // enters it, and not one this run wrote: two databases of one name take
  // one step between them.
  // Nor does a damaged archive of the database as it is now: it would push
  // a real earlier archive out of the chain for a broken copy of this one.
  bool placed = false;
  if (keep_ > 0 && replaced.kind == TEntryKind::Regular &&
      !report_.WroteThisRun(replaced.stamp.id) && !(job.damaged == replaced.stamp.id)) {
    // A name planted in a free place of the chain since it was looked at
    // is met by a fresh look.
    for (int attempt = 0; attempt < 2 && !placed; ++attempt) {
      const TGenerationPlan plan = PlanGenerations(
          *target.dir, target.path, ExtractFileName(job.source), keep_, replaced.stamp.id);
      job.result.keptShort = plan.shortBy;
      if (plan.ReplaceOnly()) break;
      std::string failedAt;
      const int error = MoveGenerations(*target.dir, target.path, plan, job.temp, failedAt);
      if (error == 0) {
        placed = true;
        job.result.kept = plan.moves;
      } else if (error != EEXIST || attempt == 1) {
        // The chain is as it was; the new archive still takes its place,
        // if what is at its name is still ours.
        if (std::string reason = Untouchable(target, job.source); !reason.empty())
          return job.Stop(TZipOutcome::NotReplaced, std::move(reason));
        job.result.keptShort = Reason(
            "the archive it replaces is not kept: the earlier archives could not be moved (" +
                failedAt + ")",
            error);
        break;
      }
    }
  }
  if (!placed) {
    const bool replacing = job.replaced.kind == TEntryKind::Regular;
    int error = target.dir->Replace(job.temp, target.name, !replacing);
    // A file put at the free name since it was looked at is left as it is,
    // unless it is ours too (another run's archive of the database).
    if (!replacing && error == EEXIST) {
      if (std::string reason = Untouchable(target, job.source); !reason.empty())
        return job.Stop(TZipOutcome::NotReplaced, std::move(reason));
      error = target.dir->Replace(job.temp, target.name);
    }
    if (error != 0) {
      job.result.keptShort.clear();
      return job.Stop(TZipOutcome::Failed,
                      Reason("its archive could not replace " + target.path, error));
    }
  }
  return true;
}

TZipResult TRunDriver::ZipDatabase(TZipWriter& writer, const std::string& archivePath,
                                   const std::string& source, int level,
                                   const TCancelToken& cancel) {
  if (cancel) throw EUserCanceled("User Aborted Operation");
  TZipJob job;
  job.source = source;
  const auto finish = [&]() {
    // A damaged archive is told whatever became of the database.
    if (const std::string& damage = job.result.damaged; !damage.empty()) {
      std::string& reason = job.result.reason;
      reason += (reason.empty() ? "" : "; ") +
                std::string(job.result.InPlace() ? "its archive was damaged and is written again: "
                                                 : "its archive in place is damaged: ") +
                damage;
    }
    if (!job.result.reason.empty()) report_.Add(source, job.result.reason);
    return job.result;
  };
  if (TZipResult skip = WouldSkip(archivePath, source); !skip.reason.empty()) {
    job.Stop(skip.outcome, std::move(skip.reason));
    return finish();
  }
  int error = Resolve(archivePath, job.own, job.target, true);
  if (error == 0) {
    // Read from a clone where the file system makes one: the archive then
    // holds the database as one instant left it, whatever is written
    // meanwhile.
    if (cloning_) job.result.cloned = cloner_.Take(source, *job.target.dir, job.clone);
    if (update_ && Settled(job, level, cancel)) return finish();
    // The archive is written into a private file of its own, through its
    // handle alone, and put in place only when complete, so the previous
    // archive stays until then and a crash leaves nothing at the final name
    // but it.
    error = job.target.dir->CreateTemp(job.target.name, job.temp);
  }
  if (error != 0) {
    job.Stop(TZipOutcome::Failed, Reason("could not create a file beside " + archivePath, error));
    return finish();
  }
  if (!WriteArchive(writer, job, level, cancel) || !Seal(writer, job)) return finish();
  // The last moment a cancel keeps the previous archive; after the replace
  // the archive is in place and reported so, whatever follows.
  if (cancel) throw EUserCanceled("User Aborted Operation");
  if (!PutInPlace(job)) return finish();

  TZipResult& result = job.result;
  // In place: an archive of ours whatever its bits, which only a failure of
  // the system could leave private.
  FileSetMode(job.temp.handle, job.mode);
  result.archiveSize = FileSizeOf(job.temp.handle);
  TOutputDir::Release(job.temp);
  if (job.target.dir == &job.own) {
    job.own.Sync();
  } else {
    unsynced_ = true;
  }
  report_.Archived(archivePath, source,
                   job.replaced.kind == TEntryKind::Regular ? job.replaced.stamp.id : TFileId{},
                   job.temp.id);
  if (!result.keptShort.empty()) report_.Add(source, result.keptShort);
  const std::string changed =
      ChangedWhileRead(result, writer.SourceStampAtOpen(), writer.SourceStampAtEnd());
  result.outcome = changed.empty() ? TZipOutcome::Archived : TZipOutcome::ArchivedChanged;
  result.reason = changed;
  return finish();
}
