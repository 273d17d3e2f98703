#include "EntryCoding.h"

#include "ZipRecords.h"

namespace {

// Ends the encoder's run once it has written what was asked for.
struct TEnough {};

// Feeds the encoder the entry's data and keeps what it writes, until it has
// written enough: then its next request for data ends it.
class TProbe : public DeflateHost {
 public:
  TProbe(const TEntryRead& read, size_t want, std::string& out)
      : read_(read), want_(want), out_(out) {}
  unsigned ReadInput(uint8_t* buffer, unsigned count) override {
    if (out_.size() >= want_) throw TEnough{};
    return static_cast<unsigned>(read_(buffer, count));
  }
  void WriteOutput(const uint8_t* buffer, size_t itemSize, size_t count) override {
    out_.append(reinterpret_cast<const char*>(buffer), itemSize * count);
  }

 private:
  const TEntryRead& read_;
  size_t want_;
  std::string& out_;
};

}  // namespace

TEntryCoding WriterCoding(const std::string& fileName, int level, const TEntryRead& read,
                          size_t wantBytes) {
  TEntryCoding coding;
  // The header starts as the writer's does: the name sets bit 11.
  TZipHeaderInfo header;
  header.SetFileName(fileName);
  if (level == 0) {
    coding.flags = header.GeneralPurposeFlags;
    return coding;
  }
  const auto buffers = DeflateWorkBuffers::Allocate();
  TProbe probe(read, wantBytes, coding.dataHead);
  try {
    // The writer's run on one thread: its threads write the same bytes.
    DeflateEntry(probe, level, *buffers, header);
    coding.wholeData = true;
  } catch (const TEnough&) {
    // Data that goes on is deflated: only a whole entry in one block is kept stored.
  }
  coding.method = header.CompressionMethod;
  coding.flags = header.GeneralPurposeFlags;
  return coding;
}

uint64_t DeflateEntry(DeflateHost& host, int level, DeflateWorkBuffers& buffers,
                      TZipHeaderInfo& header, const DeflateOptions& options) {
  header.InternalAttributes = 2;
  header.CompressionMethod = 8;
  return deflate(
      host, level, buffers,
      {&header.GeneralPurposeFlags, &header.InternalAttributes, &header.CompressionMethod},
      options);
}
