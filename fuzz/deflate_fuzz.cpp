// Round trip of the deflate encoder. The first byte picks the level (1..9),
// the second how many bytes each ReadInput call may return; the rest is the
// entry. The stream must decode to the entry (or be the entry, when stored),
// and must not depend on the read sizes, on entries compressed before or on
// the thread that codes the blocks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "Deflate.h"
#include "Inflate.h"

namespace {

class Host : public DeflateHost {
 public:
  Host(const uint8_t* data, size_t size, unsigned max_read)
      : data_(data), size_(size), max_read_(max_read) {}
  unsigned ReadInput(uint8_t* buffer, unsigned count) override {
    size_t n = size_ - pos_;
    if (n > count) n = count;
    if (n > max_read_) n = max_read_;
    for (size_t i = 0; i < n; ++i) buffer[i] = data_[pos_ + i];
    pos_ += n;
    return static_cast<unsigned>(n);
  }
  void WriteOutput(const uint8_t* buffer, size_t item_size, size_t count) override {
    out.insert(out.end(), buffer, buffer + item_size * count);
  }
  std::vector<uint8_t> out;

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  unsigned max_read_;
};

struct Entry {
  std::vector<uint8_t> bytes;
  uint64_t size;
  uint16_t method;
};

Entry Compress(DeflateWorkBuffers& buffers, int level, const uint8_t* data, size_t size,
               unsigned max_read, DeflateOptions options = {}) {
  Host host(data, size, max_read);
  uint16_t flags = 0, internal = 2, method = 8;
  const uint64_t n =
      deflate(host, level, buffers, DeflateEntryFields{&flags, &internal, &method}, options);
  if (internal > 1 || (method != 0 && method != 8)) std::abort();
  return Entry{std::move(host.out), n, method};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int level = 1 + data[0] % 9;
  const unsigned max_read = data[1] == 0 ? 65536u : data[1] * 97u;
  const uint8_t segment_choice = data[1];
  data += 2;
  size -= 2;

  // Kept across inputs, like the archive writer keeps them across entries.
  static std::unique_ptr<DeflateWorkBuffers> shared = DeflateWorkBuffers::Allocate();
  const Entry e = Compress(*shared, level, data, size, max_read);
  if (e.size != e.bytes.size()) std::abort();
  if (e.method == 0) {
    if (e.bytes != std::vector<uint8_t>(data, data + size)) std::abort();
  } else {
    const inflate::Result r = inflate::Inflate(e.bytes, false);
    if (r.data != std::vector<uint8_t>(data, data + size)) std::abort();
  }

  auto fresh = DeflateWorkBuffers::Allocate();
  const Entry again = Compress(*fresh, level, data, size, 65536u, DeflateOptions{true});
  if (again.bytes != e.bytes || again.method != e.method) std::abort();

  // Several threads parsing segments must give the single thread's stream.
  // The entry is tiled, each copy with one byte changed, to some 100 KB: long
  // enough to be cut into many small segments. The greedy levels (1 to 3)
  // parse 128 KiB before a segment, so theirs go to some 300 KB, or every
  // segment's parse would start at the entry's start.
  const size_t tiled_size = level <= 3 ? 300000 : 100000;
  std::vector<uint8_t> tiled;
  for (size_t copy = 0; size > 0 && tiled.size() < tiled_size; ++copy) {
    tiled.insert(tiled.end(), data, data + size);
    tiled[tiled.size() - 1 - copy % size] ^= static_cast<uint8_t>(copy);
  }
  DeflateOptions split;
  split.Threads = 2 + level % 3;
  split.SegmentBytes = 1024 + static_cast<size_t>(segment_choice) * 97;
  const Entry one = Compress(*fresh, level, tiled.data(), tiled.size(), 65536u);
  const Entry many = Compress(*fresh, level, tiled.data(), tiled.size(), 65536u, split);
  if (many.bytes != one.bytes || many.method != one.method || many.size != one.size) std::abort();
  return 0;
}
