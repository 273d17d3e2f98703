// Copying one file into another, built on the file primitives alone, so both
// systems share it.
#include <cerrno>
#include <vector>

#include "File.h"

int64_t CopyFileContents(const std::string& source, const std::string& dest) {
  const THandle in = FileOpen(source, TFileAccess::Read);
  if (in == InvalidHandle) return -1;
  const THandle out = FileCreate(dest);
  if (out == InvalidHandle) {
    const int error = errno;
    FileClose(in);
    SetOsError(error);
    return -1;
  }
  std::vector<char> block(1 << 16);
  int64_t total = 0;
  int error = 0;
  for (;;) {
    const TFileIo got = FileRead(in, block.data(), static_cast<int64_t>(block.size()));
    if (got.count > 0) {
      const TFileIo put = FileWrite(out, block.data(), got.count);
      total += put.count;
      if (put.error != 0) {
        error = put.error;
        break;
      }
    }
    if (got.error != 0) {
      error = got.error;
      break;
    }
    if (got.count < static_cast<int64_t>(block.size())) break;
  }
  FileClose(in);
  if (const int closeError = FileClose(out); error == 0) error = closeError;
  if (error != 0) {
    DeleteFile(dest);
    SetOsError(error);
    return -1;
  }
  return total;
}
