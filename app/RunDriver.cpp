#include "RunDriver.h"

#include <cerrno>
#include <cstring>

#include "ArchiveVerify.h"
#include "Errors.h"
#include "File.h"
#include "Files.h"
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

// True when the open file begins like a ZIP archive (a local header, or the
// end record of an empty archive), or holds nothing at all: such a file is an
// archive of an earlier run, finished or cut short, and may be replaced. The
// error of reading it is left in error.
bool LooksLikeOurArchive(THandle handle, int& error) {
  unsigned char head[4] = {};
  const TFileIo io = FileRead(handle, head, sizeof head);
  error = io.error;
  if (io.error != 0) return false;
  if (io.count == 0) return true;
  if (io.count < 4) return false;
  return std::memcmp(head, "PK\x03\x04", 4) == 0 || std::memcmp(head, "PK\x05\x06", 4) == 0;
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

bool RunReport::Empty() const {
  std::lock_guard lock(mutex_);
  return cases_.empty();
}

std::vector<RunReport::Case> RunReport::Cases() const {
  std::lock_guard lock(mutex_);
  return cases_;
}

std::string RunReport::Text(size_t maxLines) const {
  std::lock_guard lock(mutex_);
  std::string text = std::string(kProcessComplete) + "\n\nSome databases were not archived:";
  const size_t shown = cases_.size() <= maxLines ? cases_.size() : maxLines;
  for (size_t i = 0; i < shown; ++i) text += "\n" + cases_[i].source + ": " + cases_[i].reason;
  if (shown < cases_.size()) text += "\nand " + std::to_string(cases_.size() - shown) + " more";
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
  for (const std::string& name :
       outputDir_.StaleTemps(dry ? TOutputDir::TStale::Find : TOutputDir::TStale::Remove)) {
    report_.Add(JoinPath(outputDir, name), dry ? kStaleTempFound : kStaleTempRemoved);
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
  const auto notOurs = [&](const std::string& file) {
    if (foreign != nullptr) *foreign = true;
    return WouldReplace(file);
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
  if (entry.kind == TEntryKind::Link) return notOurs(archivePath);
  if (SameFileName(archivePath, source) || SameFile(archivePath, source)) {
    return notOurs(source);
  }
  if (std::string found = FoundDatabaseAt(archivePath); !found.empty()) return notOurs(found);
  if (entry.kind != TEntryKind::Regular) return notOurs(archivePath);
  const THandle handle = dir.OpenForReadingAt(name);
  int error = handle == InvalidHandle ? errno : 0;
  if (handle != InvalidHandle) {
    const bool ours = LooksLikeOurArchive(handle, error);
    FileClose(handle);
    if (ours) return {};
  }
  // An archive of ours that is merely locked or unreadable is not foreign:
  // the system's reason says what stands in the way.
  if (error != 0 && error != ErrNotRegularFile && error != ELOOP) {
    return Reason("its archive " + archivePath + " could not be read", error);
  }
  return notOurs(archivePath);
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

TRunDriver::TChain TRunDriver::Survey(const TOutputDir& dir, const std::string& archivePath,
                                      const std::string& source) const {
  TChain chain;
  chain.ids.emplace_back();
  const std::string name = ExtractFileName(archivePath);
  for (int k = 1; k <= keep_; ++k) {
    const std::string path = archivePath + "." + std::to_string(k);
    bool foreign = false;
    // The same rule as for the archive's own name: a file that is not an
    // archive of ours stays, and the chain ends before it.
    if (std::string reason = Untouchable(dir, path, source, &foreign); !reason.empty()) {
      const std::string why =
          foreign ? path + " is not an archive of ours and is left as it is" : reason;
      chain.shortBy = k == 1 ? "the archive it replaces is not kept: " + why
                             : "only " + std::to_string(k - 1) +
                                   (k == 2 ? " earlier archive is" : " earlier archives are") +
                                   " kept: " + why;
      break;
    }
    const TEntryStatus entry = dir.StatusAt(name + "." + std::to_string(k));
    chain.ids.push_back(entry.kind == TEntryKind::Regular ? entry.stamp.id : TFileId{});
    // The moves end at the first free name: what lies beyond stays as it is.
    if (!chain.ids.back().Valid()) break;
  }
  return chain;
}

int TRunDriver::Rotate(const TOutputDir* dir, const std::string& archivePath, const TChain& chain,
                       const TFileId& replacedId, TZipResult& result, std::string& failedAt) const {
  const std::string name = ExtractFileName(archivePath);
  const auto nameAt = [&](int k) { return name + "." + std::to_string(k); };
  const auto pathAt = [&](int k) { return archivePath + "." + std::to_string(k); };
  const auto step = [&](int error, const std::string& path) {
    if (error != 0) failedAt = path;
    return error;
  };
  const int usable = static_cast<int>(chain.ids.size()) - 1;
  if (usable == 0) return 0;
  // As log rotation does: the moves reach only the first gap; with none,
  // the oldest goes to make room.
  int gap = 1;
  while (gap <= usable && chain.ids[gap].Valid()) ++gap;
  if (gap > usable) {
    gap = usable;
    if (dir != nullptr) {
      if (const int error = step(dir->RemoveAt(nameAt(gap), chain.ids[gap]), pathAt(gap)))
        return error;
    }
    result.kept.emplace_back(pathAt(gap), std::string());
  }
  for (int k = gap - 1; k >= 1; --k) {
    if (dir != nullptr) {
      if (const int error =
              step(dir->KeepAs(nameAt(k), chain.ids[k], nameAt(k + 1), false), pathAt(k)))
        return error;
    }
    result.kept.emplace_back(pathAt(k), pathAt(k + 1));
  }
  if (replacedId.Valid()) {
    if (dir != nullptr) {
      if (const int error = step(dir->KeepAs(name, replacedId, nameAt(1), true), archivePath))
        return error;
    }
    result.kept.emplace_back(archivePath, pathAt(1));
  }
  return 0;
}

void TRunDriver::PlanKeep(const std::string& archivePath, const std::string& source,
                          TZipResult& result) const {
  if (keep_ <= 0) return;
  TOutputDir own;
  const TOutputDir* dir = nullptr;
  if (FolderOf(archivePath, own, dir) != 0) return;
  const TEntryStatus replaced = dir->StatusAt(ExtractFileName(archivePath));
  if (replaced.kind != TEntryKind::Regular) return;
  const TChain chain = Survey(*dir, archivePath, source);
  std::string unused;
  Rotate(nullptr, archivePath, chain, replaced.stamp.id, result, unused);
  result.keptShort = chain.shortBy;
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

  writer.FilesList.clear();
  writer.SetZipName(archivePath);
  writer.FilesList.push_back(source);
  writer.Recurse = false;
  writer.SetStorePaths(false);
  writer.PackLevel = level;
  writer.FreshArchive = true;
  writer.OutputHandle = temp.handle;
  // The handle is the driver's: the writer never keeps it beyond this call.
  writer.SourceHandle = clone;
  writer.SourceTime = cloneTime;
  writer.SourceAttr = cloneAttr;
  struct HandleLent {
    TZipWriter& writer;
    ~HandleLent() {
      writer.OutputHandle = InvalidHandle;
      writer.SourceHandle = InvalidHandle;
    }
  } lent{writer};
  writer.SyncOutput = false;   // synced below, once its mode is set
  writer.LiteralNames = true;  // a database named "a*.mdf" is not a pattern
  writer.EarlyWriteback = true;
  int added = 0;
  try {
    added = writer.Zip(cancel);
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
  // The new archive is as private as the one it replaces, never more open
  // than the database it holds, and never setuid, setgid or sticky.
  const TEntryStatus replaced = dir->StatusAt(name);
  const uint32_t base =
      replaced.kind == TEntryKind::Regular ? replaced.stamp.mode & 0777u : NewFileMode();
  // The database as it was opened: a clone of it has bits and an identity of its own.
  const TFileStamp& database = result.cloned ? cloneOf : writer.SourceStampAtOpen();
  uint32_t mode = base & database.mode & 0777u;
  // The group's bits mean the database's group: the new file takes that
  // group, or, where it may not (or the folder gave it another), no group
  // bits at all.
  TFileStamp written;
  error = FileStampOf(temp.handle, written);
  if (error == 0 && written.group != database.group &&
      FileSetGroup(temp.handle, database.group) != 0) {
    mode &= ~070u;
  }
  // A link at the database's name may lead into a folder closed to others,
  // which the file's own bits do not show: what was read through one (or
  // from a name swapped meanwhile) is archived for its owner alone.
  if (!ReadAtItsName(source, database.id)) mode &= 0700u;
  if (error == 0) error = FileSetMode(temp.handle, mode);
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
  // The earlier archives move only now that the new one is complete.
  // Only an archive replaced enters the chain: with none, nothing moves.
  TChain chain;
  if (keep_ > 0 && replaced.kind == TEntryKind::Regular) {
    chain = Survey(*dir, archivePath, source);
    std::string failedAt;
    if (error = Rotate(dir, archivePath, chain,
                       replaced.kind == TEntryKind::Regular ? replaced.stamp.id : TFileId{}, result,
                       failedAt);
        error != 0) {
      return finish(
          TZipOutcome::Failed,
          Reason("not archived: the earlier archives could not be kept (" + failedAt + ")", error));
    }
  }
  if (error = dir->Replace(temp, name); error != 0) {
    return finish(TZipOutcome::Failed,
                  Reason("its archive could not replace " + archivePath, error));
  }
  result.archiveSize = FileSizeOf(temp.handle);
  TOutputDir::Release(temp);
  if (dir == &own) {
    own.Sync();
  } else {
    unsynced_ = true;
  }
  report_.Archived(archivePath, source,
                   replaced.kind == TEntryKind::Regular ? replaced.stamp.id : TFileId{}, temp.id);
  if (!chain.shortBy.empty()) {
    result.keptShort = chain.shortBy;
    report_.Add(source, chain.shortBy);
  }
  const std::string changed =
      ChangedWhileRead(result, writer.SourceStampAtOpen(), writer.SourceStampAtEnd());
  return finish(changed.empty() ? TZipOutcome::Archived : TZipOutcome::ArchivedChanged, changed);
}
