#include "DeflateTestSupport.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace deflate_test {

unsigned MemoryHost::ReadInput(uint8_t* buffer, unsigned count) {
  const int call = static_cast<int>(read_requests.size());
  read_requests.push_back(count);
  if (call == fail_on_read) throw std::runtime_error("read failed");
  size_t n = std::min<size_t>({count, max_read_, input_.size() - pos_});
  if (call == short_on_read) n = std::min<size_t>(n, short_count);
  std::copy_n(input_.begin() + static_cast<std::ptrdiff_t>(pos_), n, buffer);
  pos_ += n;
  return static_cast<unsigned>(n) + (n > 0 ? overstate : 0);
}

void MemoryHost::WriteOutput(const uint8_t* buffer, size_t item_size, size_t count) {
  const int call = static_cast<int>(write_sizes.size());
  write_sizes.push_back(item_size * count);
  if (call == fail_on_write) throw std::runtime_error("write failed");
  output.insert(output.end(), buffer, buffer + item_size * count);
}

Compressed Compress(const Bytes& input, int level, DeflateWorkBuffers* buffers, unsigned max_read,
                    DeflateOptions options) {
  std::unique_ptr<DeflateWorkBuffers> own;
  if (buffers == nullptr) {
    own = DeflateWorkBuffers::Allocate();
    buffers = own.get();
  }
  MemoryHost host(input, max_read);
  Compressed c;
  c.size =
      deflate(host, level, *buffers, DeflateEntryFields{&c.flags, &c.internal, &c.method}, options);
  c.bytes = std::move(host.output);
  c.read_requests = std::move(host.read_requests);
  c.write_sizes = std::move(host.write_sizes);
  return c;
}

Bytes RandomBytes(size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

Bytes EnglishText(size_t n, uint64_t seed) {
  static const char* const kWords[] = {
      "the",      "of",       "and",     "to",       "in",        "a",        "is",
      "that",     "for",      "it",      "as",       "was",       "with",     "be",
      "by",       "on",       "not",     "he",       "this",      "are",      "or",
      "his",      "from",     "at",      "which",    "but",       "have",     "an",
      "had",      "they",     "you",     "were",     "their",     "one",      "all",
      "we",       "can",      "her",     "has",      "there",     "been",     "if",
      "more",     "when",     "will",    "would",    "who",       "so",       "no",
      "database", "remote",   "archive", "window",   "compress",  "level",    "search",
      "folder",   "progress", "button",  "message",  "directory", "together", "whenever",
      "although", "morning",  "quickly", "harbour",  "lantern",   "merchant", "northern",
      "question", "silence",  "village", "wandered", "yesterday", "zephyr",   "quietly"};
  constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];
  std::mt19937_64 rng(seed);
  // Zipf-like: low word indexes are much more common.
  std::vector<double> weights;
  for (size_t i = 0; i < kWordCount; ++i) weights.push_back(1.0 / static_cast<double>(i + 1));
  std::discrete_distribution<size_t> pick(weights.begin(), weights.end());

  Bytes out;
  out.reserve(n + 16);
  bool capital = true;
  int words_in_line = 0;
  while (out.size() < n) {
    std::string word = kWords[pick(rng)];
    if (capital) word[0] = static_cast<char>(word[0] - 'a' + 'A');
    capital = false;
    out.insert(out.end(), word.begin(), word.end());
    const unsigned r = static_cast<unsigned>(rng() % 100);
    if (r < 8) {
      out.push_back('.');
      capital = true;
    } else if (r < 14) {
      out.push_back(',');
    }
    if (++words_in_line >= 12 && r % 3 == 0) {
      out.push_back('\n');
      words_in_line = 0;
    } else {
      out.push_back(' ');
    }
  }
  out.resize(n);
  return out;
}

Bytes GeneratedBinary(size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  Bytes out;
  out.reserve(n + 4096);
  uint32_t record_id = 1000;
  uint32_t page = 0;
  while (out.size() < n) {
    // A 4 KiB page: a header, fixed-layout records, zero padding.
    const size_t page_start = out.size();
    const uint8_t header[] = {
        0x01, 0x0F, 0x00, 0x00, static_cast<uint8_t>(page), static_cast<uint8_t>(page >> 8),
        0xAA, 0x55};
    out.insert(out.end(), std::begin(header), std::end(header));
    const int records = 20 + static_cast<int>(rng() % 40);
    for (int r = 0; r < records; ++r) {
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(record_id >> (8 * i)));
      ++record_id;
      const uint32_t amount = static_cast<uint32_t>(rng() % 100000);
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(amount >> (8 * i)));
      const int name_len = 4 + static_cast<int>(rng() % 12);
      for (int i = 0; i < 16; ++i) {
        out.push_back(i < name_len ? static_cast<uint8_t>('A' + rng() % 26) : 0);
      }
      out.push_back(static_cast<uint8_t>(rng() % 4));
      out.push_back(0xFF);
    }
    while (out.size() - page_start < 4096) out.push_back(0);
    ++page;
  }
  out.resize(n);
  return out;
}

Bytes MixedData(size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  Bytes out;
  out.reserve(n);
  while (out.size() < n) {
    const size_t chunk = 1000 + rng() % 60000;
    Bytes part;
    switch (rng() % 5) {
      case 0:
        part = EnglishText(chunk, rng());
        break;
      case 1:
        part = GeneratedBinary(chunk, rng());
        break;
      case 2:
        part = RandomBytes(chunk / 4, rng());
        break;
      case 3:
        part.assign(chunk / 8, static_cast<uint8_t>(rng()));
        break;
      default:
        // Repeats of earlier data from near and far.
        if (!out.empty()) {
          const size_t from = out.size() - 1 - rng() % std::min<size_t>(out.size(), 40000);
          const size_t len = std::min<size_t>(chunk / 4, out.size() - from);
          part.assign(out.begin() + static_cast<std::ptrdiff_t>(from),
                      out.begin() + static_cast<std::ptrdiff_t>(from + len));
        }
        break;
    }
    out.insert(out.end(), part.begin(), part.end());
  }
  out.resize(n);
  return out;
}

Bytes DeBruijn3(int k) {
  // Concatenated Lyndon words of length dividing 3, in lexicographic order.
  Bytes seq;
  std::vector<int> a(4 * static_cast<size_t>(k), 0);
  auto db = [&](auto&& self, int t, int p) -> void {
    if (t > 3) {
      if (3 % p == 0) {
        for (int j = 1; j <= p; ++j) seq.push_back(static_cast<uint8_t>('a' + a[j]));
      }
      return;
    }
    a[t] = a[t - p];
    self(self, t + 1, p);
    for (int j = a[t - p] + 1; j < k; ++j) {
      a[t] = j;
      self(self, t + 1, t);
    }
  };
  db(db, 1, 1);
  // The sequence is cyclic; its first two letters close the last strings.
  seq.push_back(seq[0]);
  seq.push_back(seq[1]);
  return seq;
}

Bytes RealBinary() {
  for (const char* path : {"/bin/ls", "/usr/bin/env", "/proc/self/exe"}) {
    std::ifstream f(path, std::ios::binary);
    if (!f) continue;
    Bytes data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (data.size() > 10000) return data;
  }
  return GeneratedBinary(300000, 99);
}

}  // namespace deflate_test
