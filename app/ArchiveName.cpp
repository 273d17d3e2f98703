#include "ArchiveName.h"

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
