// How the archive writer codes one entry, told without writing an archive:
// the compression method and general-purpose flags its headers carry and the
// first bytes of its data. For a caller that must know whether an archive
// already on the disk is the one the writer would write again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "Deflate.h"

class TZipHeaderInfo;

struct TEntryCoding {
  uint16_t method = 0;     // 0 stored, 8 deflated
  uint16_t flags = 0;      // general purpose: the name's bit 11, the level's hint
  std::string dataHead;    // the entry's first data bytes as the writer writes them
  bool wholeData = false;  // dataHead is all of the entry's data
};

// Gives up to count bytes of an entry's data at buffer, fewer only at its
// end; 0 there.
using TEntryRead = std::function<size_t(uint8_t* buffer, size_t count)>;

// How TZipWriter writes the entry of a file named fileName (no folder) at
// level 0 (stored) to 9, whose data read gives. At levels 1 to 9 the encoder
// codes the data as it does in the writer, until it has written wantBytes of
// it (all of it when it ends sooner): dataHead. What the encoder writes before
// it asks for more data cannot depend on that data, so dataHead is the start
// of the entry whatever follows. read is called for no more of the data than
// that takes; the caller reads on from there. At level 0 nothing is read.
TEntryCoding WriterCoding(const std::string& fileName, int level, const TEntryRead& read,
                          size_t wantBytes);

// Deflates an entry's data from host at level 1 to 9 into header as the
// writer does: method 8 and internal attributes 2, which the encoder changes
// for an entry it keeps stored, and the level's hint in the flags. Returns
// the encoder's result.
uint64_t DeflateEntry(DeflateHost& host, int level, DeflateWorkBuffers& buffers,
                      TZipHeaderInfo& header, const DeflateOptions& options = {});
