#include "RunReport.h"

#include <algorithm>

#include "ArchiveName.h"
#include "File.h"
#include "Files.h"

void RunReport::Clear() {
  std::lock_guard lock(mutex_);
  written_.clear();
  pathOf_.clear();
  cases_.clear();
}

void RunReport::FolderNotListed(const std::string& folder, int error) {
  Add(folder, error != 0 ? "could not be listed: " + SysErrorMessage(error)
                         : std::string("could not be listed"));
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
