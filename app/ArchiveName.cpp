#include "ArchiveName.h"

#include <algorithm>

#include "Files.h"
#include "Text.h"

namespace {
void RemoveFirst(std::string& s, std::string_view tag) {
  const size_t pos = FindTextAscii(s, tag);
  if (pos != std::string::npos) s.erase(pos, tag.size());
}
}  // namespace

std::string DatabaseBaseName(const std::string& fileName, TagRemoval tags) {
  std::string base = fileName;
  if (tags == TagRemoval::Remove) {
    RemoveFirst(base, "QRN_");
    RemoveFirst(base, "_dat");
  }
  return base;
}

std::string ArchiveName(const std::string& fileName, TagRemoval tags) {
  std::string name = LowerCaseAscii(DatabaseBaseName(fileName, tags));
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos) return name;
  const std::string_view ext = std::string_view(fileName).substr(dot);
  const size_t pos = FindTextAscii(name, ext);
  if (pos != std::string::npos) name.replace(pos, ext.size(), ".zip");
  return name;
}

std::string ArchivePath(const std::string& outputDir, const std::string& fileName,
                        TagRemoval tags) {
  return outputDir + PathDelim + ArchiveName(fileName, tags);
}

void RunReport::Clear() {
  written_.clear();
  cases_.clear();
}

void RunReport::Starting(const std::string& archivePath, const std::string& source) {
  auto it = std::find_if(written_.begin(), written_.end(),
                         [&](const Written& w) { return w.archivePath == archivePath; });
  if (it != written_.end()) {
    cases_.push_back({it->source, "its archive was replaced by " + source});
    it->source = source;
  } else {
    written_.push_back({archivePath, source});
  }
}

void RunReport::NotRead(const std::string& source) {
  cases_.push_back({source, "could not be read"});
  // Its archive path holds nothing of it any more.
  std::erase_if(written_, [&](const Written& w) { return w.source == source; });
}

std::string RunReport::Text() const {
  std::string text = std::string(kProcessComplete) + "\n\nSome databases were not archived:";
  for (const auto& c : cases_) text += "\n" + c.source + ": " + c.reason;
  return text;
}
