// How a database file found by the search becomes an archive path. Shared by
// every shell.
#pragma once

#include <string>

enum class TagRemoval { Keep, Remove };

// FileName with the first "QRN_" and then the first "_dat" removed (without
// regard to ASCII case) when asked, else FileName unchanged.
std::string DatabaseBaseName(const std::string& fileName, TagRemoval tags);

// The archive name: the base name in lower case (ASCII letters only) with the
// first occurrence of FileName's own extension replaced by ".zip".
std::string ArchiveName(const std::string& fileName, TagRemoval tags);

// The output directory text, the separator and the archive name, joined as
// they are.
std::string ArchivePath(const std::string& outputDir, const std::string& fileName, TagRemoval tags);

inline constexpr const char* kProcessComplete = "Process Complete!";
