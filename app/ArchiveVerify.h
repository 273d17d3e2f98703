// The proof that an archive, as it lies on the disk, holds the database that
// was read: read back through the descriptor it was written with and decoded
// by zlib, a decoder independent of our encoder.
#pragma once

#include <cstdint>
#include <string>

#include "File.h"

class TZipHeaderInfo;

// Checks the archive open at handle: exactly one entry, its local and central
// records agreeing, and its name, method, sizes and CRC-32 those of expected,
// with dataSize bytes that inflate to exactly what expected says. The file is
// first dropped from the cache where the system allows, so that the bytes
// come from the disk. Empty when it holds; else what is wrong, as the
// report's text.
std::string VerifyArchive(THandle handle, const TZipHeaderInfo& expected, int64_t dataSize);

// Tests: called with the archive's handle just before it is read back.
using TBeforeVerify = void (*)(THandle handle);
void SetBeforeVerify(TBeforeVerify hook);
