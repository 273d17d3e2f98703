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

// --- RunReport ---

void RunReport::Clear() {
  std::lock_guard lock(mutex_);
  written_.clear();
  pathOf_.clear();
  cases_.clear();
}

void RunReport::FolderNotListed(const std::string& folder, int error) {
  Add(folder, Reason("could not be listed", error));
}

void RunReport::Archived(const std::string& archivePath, const std::string& source,
                         const TFileId& replaced, const TFileId& written) {
  std::lock_guard lock(mutex_);
  auto earlier = written_.find(archivePath);
  if (earlier == written_.end() && replaced.Valid()) {
    // The same file under another spelling, not a number the file system
    // gave again once another process replaced that earlier archive.
    if (const auto byId = pathOf_.find({replaced.device, replaced.index});
        byId != pathOf_.end() && SameFile(byId->second, archivePath)) {
      earlier = written_.find(byId->second);
    }
  }
  if (earlier != written_.end()) {
    cases_.push_back({earlier->second.source, "its archive was replaced by " + source});
    Forget(earlier->first);
  }
  written_[archivePath] = {source, written};
  if (written.Valid()) pathOf_[{written.device, written.index}] = archivePath;
}

void RunReport::Forget(const std::string& archivePath) {
  const auto it = written_.find(archivePath);
  if (it == written_.end()) return;
  const TFileId id = it->second.id;
  if (const auto byId = pathOf_.find({id.device, id.index});
      id.Valid() && byId != pathOf_.end() && byId->second == archivePath) {
    pathOf_.erase(byId);
  }
  written_.erase(it);
}

void RunReport::Add(const std::string& source, const std::string& reason) {
  std::lock_guard lock(mutex_);
  cases_.push_back({source, reason});
}

void RunReport::Note(const std::string& source, const std::string& reason) {
  std::lock_guard lock(mutex_);
  cases_.push_back({source, reason, true});
}

bool RunReport::WroteThisRun(const TFileId& id) const {
  std::lock_guard lock(mutex_);
  return id.Valid() && pathOf_.count({id.device, id.index}) != 0;
}

bool RunReport::Empty() const {
  std::lock_guard lock(mutex_);
  return std::all_of(cases_.begin(), cases_.end(), [](const Case& c) { return c.note; });
}

bool RunReport::HasNotes() const {
  std::lock_guard lock(mutex_);
  return std::any_of(cases_.begin(), cases_.end(), [](const Case& c) { return c.note; });
}

std::vector<RunReport::Case> RunReport::Cases() const {
  std::lock_guard lock(mutex_);
  return cases_;
}

std::string RunReport::Text(size_t maxLines) const {
  std::lock_guard lock(mutex_);
  // The failures first, then the notes, each group in the order met.
  std::vector<const Case*> ordered;
  for (const bool notes : {false, true})
    for (const Case& c : cases_)
      if (c.note == notes) ordered.push_back(&c);
  const bool failures = !ordered.empty() && !ordered.front()->note;
  std::string text =
      std::string(kProcessComplete) + (failures ? "\n\nSome databases were not archived:" : "\n");
  const size_t shown = ordered.size() <= maxLines ? ordered.size() : maxLines;
  for (size_t i = 0; i < shown; ++i) text += "\n" + ordered[i]->source + ": " + ordered[i]->reason;
  if (shown < ordered.size()) text += "\nand " + std::to_string(ordered.size() - shown) + " more";
  return text;
}

std::string RunReport::Details() const {
  std::lock_guard lock(mutex_);
  std::string text;
  for (const Case& c : cases_) text += c.source + ": " + c.reason + "\n";
  return text;
}

// --- TRunDriver ---

void TRunDriver::SetUpSearch(TSearchFolders& search, const std::string& sourceDir, bool recursive) {
  search.ScanOptions = TScanOptions::soSpecifiedDir;
  search.ScanDir = sourceDir;
  search.DoRecursive = recursive;
}

int TRunDriver::BeginRun(const std::string& outputDir, TRunMode mode) {
  report_.Clear();
  foundByName_.clear();
  sourceRoot_.clear();
  unsynced_ = false;
  {
    std::lock_guard lock(noCloneMutex_);
    noClone_.clear();
  }
  openError_ = outputDir_.Open(outputDir);
  if (openError_ != 0) return openError_;
  const bool dry = mode == TRunMode::DryRun;
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

std::string TRunDriver::Untouchable(const TOutputDir& dir, const std::string& archivePath,
                                    const std::string& source, bool* foreign) const {
  if (foreign != nullptr) *foreign = false;
  const auto notOurs = [&](const std::string& file, const std::string& what = {}) {
    if (foreign != nullptr) *foreign = true;
    return WouldReplace(file) + (what.empty() ? std::string() : ", " + what);
  };
  const std::string name = ExtractFileName(archivePath);
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

int TRunDriver::FolderOf(const std::string& archivePath, TOutputDir& own,
                         const TOutputDir*& dir) const {
  const std::string folder = ExtractFilePath(archivePath);
  if (outputDir_.IsOpen() && FolderText(folder) == FolderText(outputDir_.Path())) {
    dir = &outputDir_;
    return 0;
  }
  dir = &own;
  return own.Open(folder.empty() ? "." : folder);
}

void TRunDriver::PlanKeep(const std::string& archivePath, const std::string& source,
                          TZipResult& result) const {
  if (keep_ <= 0) return;
  TOutputDir own;
  const TOutputDir* dir = nullptr;
  if (FolderOf(archivePath, own, dir) != 0) return;
  const TEntryStatus replaced = dir->StatusAt(ExtractFileName(archivePath));
  // Only an archive replaced enters the chain, and one this run wrote does
  // not: two databases of one name take one step between them.
  if (replaced.kind != TEntryKind::Regular || report_.WroteThisRun(replaced.stamp.id)) return;
  const TGenerationPlan plan =
      PlanGenerations(*dir, archivePath, ExtractFileName(source), keep_, replaced.stamp.id);
  result.kept = plan.moves;
  result.keptShort = plan.shortBy;
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
  const TOutputDir* dir = nullptr;
  if (const int error = FolderOf(archivePath, own, dir); error != 0) {
    return skip(TZipOutcome::Failed,
                Reason("could not create a file beside " + archivePath, error));
  }
  if (std::string reason = Untouchable(*dir, archivePath, source); !reason.empty()) {
    return skip(TZipOutcome::NotReplaced, std::move(reason));
  }
  // Said before a byte is read, so that a dry run foresees what the replace
  // would meet and the run does not zip for nothing.
  if (const int error = dir->ReplaceRefusal(ExtractFileName(archivePath)); error != 0) {
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

bool TRunDriver::CloneSource(const std::string& source, const TOutputDir& outDir, THandle& clone,
                             TFileStamp& stamp, uint32_t& time, uint32_t& attr) {
  clone = InvalidHandle;
  const THandle original = FileOpen(source, TFileAccess::Read);
  // What stands in the way is said by the writer's own open, as without a clone.
  if (original == InvalidHandle) return false;
  struct Closer {
    THandle handle;
    ~Closer() { FileClose(handle); }
  } closer{original};
  if (FileStampOf(original, stamp) != 0) return false;
  {
    std::lock_guard lock(noCloneMutex_);
    if (noClone_.count(stamp.id.device) != 0) return false;
  }
  attr = FileGetAttr(source);
  if (attr == faInvalid) return false;
  TOutputDir own;
  const std::string folder = ExtractFilePath(source);
  const bool ownOpen = own.Open(folder.empty() ? "." : folder) == 0;
  // A file written without pause moves its stamp during any clone; a few
  // tries find a moment between writes, so that the time stored is the
  // time of the data. Should none come, the last clone still holds the
  // database between two of its writes, with the time from before it.
  constexpr int kAttempts = 3;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    TFileStamp before;
    if (FileStampOf(original, before) != 0) return false;
    const uint32_t timeBefore = FileDosDateTime(original);
    // Its own folder first; the output folder where the database's own
    // cannot take a file but shares its file system.
    const int ownError = ownOpen ? own.CloneUnnamed(original, clone) : ENOENT;
    if (ownError != 0) {
      // The database's file system can make no clone: not asked again.
      if (ownError == ErrNoClone) {
        std::lock_guard lock(noCloneMutex_);
        noClone_.insert(stamp.id.device);
        return false;
      }
      if (!outDir.IsOpen() || outDir.CloneUnnamed(original, clone) != 0) return false;
    }
    TFileStamp after;
    const bool still = FileStampOf(original, after) == 0 && before.SameContentAs(after);
    if (still || attempt == kAttempts) {
      stamp = before;
      time = timeBefore;
      return true;
    }
    FileClose(clone);
    clone = InvalidHandle;
  }
  return false;
}

TZipResult TRunDriver::ZipDatabase(TZipWriter& writer, const std::string& archivePath,
                                   const std::string& source, int level,
                                   const TCancelToken& cancel) {
  TZipResult result;
  const auto finish = [&](TZipOutcome outcome, std::string reason) {
    result.outcome = outcome;
    result.reason = std::move(reason);
    if (!result.reason.empty()) report_.Add(source, result.reason);
    return result;
  };
  if (cancel) throw EUserCanceled("User Aborted Operation");

  if (TZipResult skip = WouldSkip(archivePath, source); !skip.reason.empty()) {
    return finish(skip.outcome, std::move(skip.reason));
  }

  // The archive is written into a private file of its own, through its
  // handle alone, and put in place only when complete, so the previous
  // archive stays until then and a crash leaves nothing at the final name
  // but it.
  TOutputDir own;
  const TOutputDir* dir = nullptr;
  const std::string name = ExtractFileName(archivePath);
  TTempFile temp;
  int error = FolderOf(archivePath, own, dir);
  if (error == 0) error = dir->CreateTemp(name, temp);
  if (error != 0) {
    return finish(TZipOutcome::Failed,
                  Reason("could not create a file beside " + archivePath, error));
  }
  struct TempGuard {
    const TOutputDir& dir;
    TTempFile& temp;
    ~TempGuard() { dir.Discard(temp); }
  } guard{*dir, temp};

  // Read from a clone where the file system makes one: the archive then
  // holds the database as one instant left it, whatever is written meanwhile.
  THandle clone = InvalidHandle;
  TFileStamp cloneOf;
  uint32_t cloneTime = 0xFFFFFFFFu, cloneAttr = 0;
  if (cloning_) result.cloned = CloneSource(source, *dir, clone, cloneOf, cloneTime, cloneAttr);
  struct CloneCloser {
    THandle handle;
    ~CloneCloser() {
      if (handle != InvalidHandle) FileClose(handle);
    }
  } cloneCloser{clone};

  // The handles are the driver's: the writer never keeps them beyond this
  // call. The archive is synced below, once its mode is set.
  const TArchiveJob job{.archivePath = archivePath,
                        .output = temp.handle,
                        .source = source,
                        .sourceHandle = clone,
                        .sourceTime = cloneTime,
                        .sourceAttr = cloneAttr,
                        .level = level};
  int added = 0;
  try {
    added = writer.ZipOne(job, cancel);
  } catch (const EUserCanceled&) {
    throw;  // the temporary file goes with the guard; the run ends
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

  // Looked at again: the other file may have appeared while this one was written.
  if (std::string reason = Untouchable(*dir, archivePath, source); !reason.empty()) {
    return finish(TZipOutcome::NotReplaced, std::move(reason));
  }
  const TEntryStatus replaced = dir->StatusAt(name);
  const bool replacing = replaced.kind == TEntryKind::Regular;
  // The database as it was opened: a clone of it has bits and an identity of its own.
  const TFileStamp& database = result.cloned ? cloneOf : writer.SourceStampAtOpen();
  TModeFacts facts;
  facts.replacing = replacing;
  facts.replacedMode = replaced.stamp.mode;
  facts.newFileMode = NewFileMode();
  facts.databaseMode = database.mode;
  // The new file takes the database's group where it may.
  TFileStamp written;
  error = FileStampOf(temp.handle, written);
  facts.databaseGroup = error == 0 && (written.group == database.group ||
                                       FileSetGroup(temp.handle, database.group) == 0);
  facts.readAtItsName = ReadAtItsName(source, database.id);
  if (error == 0) error = FileSetMode(temp.handle, ArchiveMode(facts));
  // Its bytes and mode reach the disk before its name does.
  if (error == 0) error = FileSync(temp.handle);
  if (error != 0) {
    return finish(TZipOutcome::Failed,
                  Reason("not archived: Cannot write file " + archivePath, error));
  }
  // What lies on the disk must decode to what was read before it may take
  // the old archive's place.
  if (verify_) {
    std::string problem = VerifyArchive(temp.handle, writer, result.bytesRead);
    if (!problem.empty()) return finish(TZipOutcome::Failed, std::move(problem));
  }
  // The last moment a cancel keeps the previous archive; after the replace
  // the archive is in place and reported so, whatever follows.
  if (cancel) throw EUserCanceled("User Aborted Operation");
  // The earlier archives move only now that the new one is complete, and
  // the new one enters the chain by the same moves. Only an archive replaced
  // enters it, and not one this run wrote: two databases of one name take
  // one step between them.
  std::string keptShort;
  bool placed = false;
  if (keep_ > 0 && replacing && !report_.WroteThisRun(replaced.stamp.id)) {
    // A name planted in a free place of the chain since it was looked at
    // is met by a fresh look.
    for (int attempt = 0; attempt < 2 && !placed; ++attempt) {
      const TGenerationPlan plan =
          PlanGenerations(*dir, archivePath, ExtractFileName(source), keep_, replaced.stamp.id);
      keptShort = plan.shortBy;
      if (plan.ReplaceOnly()) break;
      std::string failedAt;
      error = MoveGenerations(*dir, archivePath, plan, temp, failedAt);
      if (error == 0) {
        placed = true;
        result.kept = plan.moves;
      } else if (error != EEXIST || attempt == 1) {
        // The chain is as it was; the new archive still takes its place,
        // if what is at its name is still ours.
        if (std::string reason = Untouchable(*dir, archivePath, source); !reason.empty())
          return finish(TZipOutcome::NotReplaced, std::move(reason));
        keptShort = Reason(
            "the archive it replaces is not kept: the earlier archives could not "
            "be moved (" +
                failedAt + ")",
            error);
        break;
      }
    }
  }
  if (!placed) {
    if (error = dir->Replace(temp, name); error != 0) {
      return finish(TZipOutcome::Failed,
                    Reason("its archive could not replace " + archivePath, error));
    }
  }
  result.archiveSize = FileSizeOf(temp.handle);
  TOutputDir::Release(temp);
  if (dir == &own) {
    own.Sync();
  } else {
    unsynced_ = true;
  }
  report_.Archived(archivePath, source, replacing ? replaced.stamp.id : TFileId{}, temp.id);
  if (!keptShort.empty()) {
    result.keptShort = keptShort;
    report_.Add(source, keptShort);
  }
  const std::string changed =
      ChangedWhileRead(result, writer.SourceStampAtOpen(), writer.SourceStampAtEnd());
  return finish(changed.empty() ? TZipOutcome::Archived : TZipOutcome::ArchivedChanged, changed);
}
