#include "RunDriver.h"

#include <cerrno>
#include <cstring>

#include "Errors.h"
#include "File.h"
#include "Files.h"
#include "SFolders.h"
#include "Text.h"
#include "ZipWriter.h"

namespace {

// True when the file at path begins like a ZIP archive (a local header, or
// the end record of an empty archive), or holds nothing at all: such a file
// is an archive of an earlier run, finished or cut short, and may be replaced.
bool LooksLikeOurArchive(const std::string& path) {
  const THandle handle = FileOpen(path, TFileAccess::Read);
  if (handle == InvalidHandle) return false;
  unsigned char head[4] = {};
  const TFileIo io = FileRead(handle, head, sizeof head);
  FileClose(handle);
  if (io.error != 0) return false;
  if (io.count == 0) return true;
  if (io.count < 4) return false;
  return std::memcmp(head, "PK\x03\x04", 4) == 0 || std::memcmp(head, "PK\x05\x06", 4) == 0;
}

std::string Reason(const std::string& what, int error) {
  return error != 0 ? what + ": " + SysErrorMessage(error) : what;
}

// A writer's message, naming the archive where it names the file the archive
// was being written into.
std::string WriterReason(const Exception& e, const std::string& temp,
                         const std::string& archivePath) {
  std::string text = e.Message().empty() ? Reason("failed", e.OsError()) : e.Message();
  for (size_t at = text.find(temp); at != std::string::npos; at = text.find(temp, at)) {
    text.replace(at, temp.size(), archivePath);
    at += archivePath.size();
  }
  return text;
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
  cases_.clear();
}

void RunReport::FolderNotListed(const std::string& folder, int error) {
  Add(folder, Reason("could not be listed", error));
}

void RunReport::Archived(const std::string& archivePath, const std::string& source) {
  std::lock_guard lock(mutex_);
  auto [it, fresh] = written_.try_emplace(archivePath, source);
  if (!fresh) {
    cases_.push_back({it->second, "its archive was replaced by " + source});
    it->second = source;
  }
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

int TRunDriver::BeginRun(const std::string& outputDir) {
  outputDir_ = outputDir;
  report_.Clear();
  foundByName_.clear();
  return 0;
}

std::string TRunDriver::OutputProblem() const {
  const std::string temp = CreateTempFileBeside(PathJoin(outputDir_, "dry-run"));
  if (temp.empty()) return Reason("could not create a file in " + outputDir_, errno);
  DeleteFile(temp);
  return {};
}

int TRunDriver::EndRun() {
  return 0;
}

void TRunDriver::SearchDone(const TSearchFolders& search) {
  foundByName_.clear();
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

std::string TRunDriver::Untouchable(const std::string& archivePath,
                                    const std::string& source) const {
  // The name itself first: a file that another run puts there between two
  // looks must be seen as what it is, not as a link that points nowhere.
  if (!EntryExists(archivePath)) return {};
  const TFileKind kind = FileKindOf(archivePath);
  // A link that points nowhere is not an archive of ours, and may be a
  // database found.
  if (kind == TFileKind::None) return archivePath;
  if (SameFileName(archivePath, source) || SameFile(archivePath, source)) return source;
  if (std::string found = FoundDatabaseAt(archivePath); !found.empty()) return found;
  if (kind != TFileKind::Regular || !LooksLikeOurArchive(archivePath)) return archivePath;
  return {};
}

TZipResult TRunDriver::WouldSkip(const std::string& archivePath, const std::string& source) const {
  TZipResult result;
  errno = 0;
  switch (FileKindOf(source)) {
    case TFileKind::Regular:
      break;
    case TFileKind::None:
      // The system's reason: a link loop or a folder not searchable is not
      // a missing file.
      result.outcome = TZipOutcome::NotRead;
      result.reason = Reason("could not be read", errno != 0 ? errno : ENOENT);
      return result;
    default:
      result.outcome = TZipOutcome::NotRegular;
      result.reason = "not a regular file";
      return result;
  }
  if (const std::string file = Untouchable(archivePath, source); !file.empty()) {
    result.outcome = TZipOutcome::NotReplaced;
    result.reason = "its archive would replace " + file;
    return result;
  }
  // Opened, reading nothing: a database the run could not read is one the
  // dry run names too.
  if (const THandle handle = FileOpen(source, TFileAccess::Read); handle != InvalidHandle) {
    FileClose(handle);
  } else if (errno == ErrNotRegularFile || errno == EISDIR) {
    result.outcome = TZipOutcome::NotRegular;
    result.reason = "not a regular file";
  } else {
    result.outcome = TZipOutcome::NotRead;
    result.reason = Reason("could not be read", errno);
  }
  return result;
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

  // The archive is written beside its final name and put in place only when
  // complete, so the previous archive stays until then and a crash leaves
  // nothing at the final name but it.
  const std::string temp = CreateTempFileBeside(archivePath);
  if (temp.empty()) {
    return finish(TZipOutcome::Failed,
                  Reason("could not create a file beside " + archivePath, errno));
  }
  struct TempGuard {
    const std::string& path;
    bool keep = false;
    ~TempGuard() {
      if (!keep) DeleteFile(path);
    }
  } guard{temp};

  writer.FilesList.clear();
  writer.SetZipName(temp);
  writer.FilesList.push_back(source);
  writer.Recurse = false;
  writer.SetStorePaths(false);
  writer.PackLevel = level;
  writer.FreshArchive = true;
  writer.SyncOutput = true;
  writer.LiteralNames = true;  // a database named "a*.mdf" is not a pattern
  writer.CancelToken = &cancel;
  int added = 0;
  try {
    added = writer.Zip();
  } catch (const EUserCanceled&) {
    throw;  // the temporary file goes with the guard; the run ends
  } catch (const EReadError& e) {
    return finish(TZipOutcome::NotRead, "could not be read: " + WriterReason(e, temp, archivePath));
  } catch (const Exception& e) {
    return finish(TZipOutcome::Failed, "not archived: " + WriterReason(e, temp, archivePath));
  }
  result.sizeAtStart = writer.TotalBytes();
  result.bytesRead = writer.BytesDone();
  if (added == 0) {
    const int error = writer.SkipError();
    if (error == ErrNotRegularFile) return finish(TZipOutcome::NotRegular, "not a regular file");
    return finish(TZipOutcome::NotRead, Reason("could not be read", error));
  }

  // Looked at again: the other file may have appeared while this one was written.
  if (const std::string file = Untouchable(archivePath, source); !file.empty()) {
    return finish(TZipOutcome::NotReplaced, "its archive would replace " + file);
  }
  // The new archive is as private as the one it replaces.
  CopyFileMode(archivePath, temp);
  if (const int error = ReplaceFile(temp, archivePath); error != 0) {
    return finish(TZipOutcome::Failed,
                  Reason("its archive could not replace " + archivePath, error));
  }
  guard.keep = true;  // it is the archive now
  result.archiveSize = FileStatusOf(archivePath).Size;
  report_.Archived(archivePath, source);
  if (result.bytesRead != result.sizeAtStart) {
    return finish(TZipOutcome::ArchivedChanged,
                  "changed while read: " + std::to_string(result.sizeAtStart) +
                      " bytes at start, " + std::to_string(result.bytesRead) + " bytes archived");
  }
  return finish(TZipOutcome::Archived, {});
}
