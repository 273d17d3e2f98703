// Packs the Windows distribution: one archive holding the given files under
// their bare names, written by the program's own archive writer at level 9.
// Usage: distzip ARCHIVE FILE...  Exit status 0 when every file went in.
#include <cstdio>
#include <string>

#include "Errors.h"
#include "Files.h"
#include "ZipWriter.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: distzip ARCHIVE FILE...\n");
    return 2;
  }
  const std::string archive = argv[1];
  DeleteFile(archive);  // a fresh archive, not an update of the last one
  TZipWriter writer;
  writer.SetZipName(archive);
  for (int i = 2; i < argc; ++i) writer.FilesList.push_back(argv[i]);
  writer.SetStorePaths(false);
  writer.PackLevel = 9;
  writer.DoProcessMessages = false;
  try {
    const int added = writer.Zip();
    if (added != argc - 2) {
      std::fprintf(stderr, "distzip: %d of %d files added\n", added, argc - 2);
      DeleteFile(archive);
      return 1;
    }
  } catch (const Exception& e) {
    std::fprintf(stderr, "distzip: %s\n", e.Message().c_str());
    return 1;
  }
  return 0;
}
