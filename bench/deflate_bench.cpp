// Throughput of the deflate encoder alone (no files, no CRC) at levels 1, 6
// and 9, over English-like text and database-like binary made in memory.
// Bytes per second count input bytes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "Deflate.h"

namespace {

constexpr size_t kInputSize = 8 << 20;

std::vector<uint8_t> Text() {
  std::mt19937_64 rng(1);
  std::vector<std::string> words;
  for (int i = 0; i < 3000; ++i) {
    std::string w;
    const int len = 1 + static_cast<int>(rng() % 10);
    for (int j = 0; j < len; ++j) w += "etaoinshrdlucmfwypvbgkjqxz"[rng() % (j == 0 ? 26 : 14)];
    words.push_back(w);
  }
  std::vector<uint8_t> out;
  while (out.size() < kInputSize) {
    // Frequent words are far more common, as in prose.
    const size_t r = rng() % words.size();
    const std::string& w = words[r * r / words.size()];
    out.insert(out.end(), w.begin(), w.end());
    out.push_back(rng() % 13 == 0 ? '\n' : ' ');
  }
  out.resize(kInputSize);
  return out;
}

std::vector<uint8_t> Binary() {
  std::mt19937_64 rng(2);
  std::vector<uint8_t> out;
  uint32_t id = 0;
  while (out.size() < kInputSize) {
    // Pages of fixed-layout records with counters, small amounts, names and padding.
    const size_t page = out.size();
    while (out.size() - page < 3900) {
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(id >> (8 * i)));
      ++id;
      const uint32_t amount = static_cast<uint32_t>(rng() % 50000);
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(amount >> (8 * i)));
      const int name = 3 + static_cast<int>(rng() % 12);
      for (int i = 0; i < 16; ++i) out.push_back(i < name ? 'A' + rng() % 26 : 0);
      out.push_back(static_cast<uint8_t>(rng() % 3));
    }
    out.resize(page + 4096, 0);
  }
  out.resize(kInputSize);
  return out;
}

class NullHost : public DeflateHost {
 public:
  explicit NullHost(const std::vector<uint8_t>& input) : input_(input) {}
  unsigned ReadInput(uint8_t* buffer, unsigned count) override {
    const size_t n = std::min<size_t>(count, input_.size() - pos_);
    std::copy_n(input_.data() + pos_, n, buffer);
    pos_ += n;
    return static_cast<unsigned>(n);
  }
  void WriteOutput(const uint8_t*, size_t item_size, size_t count) override {
    written += item_size * count;
  }
  size_t written = 0;

 private:
  const std::vector<uint8_t>& input_;
  size_t pos_ = 0;
};

void Encode(benchmark::State& state, const std::vector<uint8_t>& input) {
  const int level = static_cast<int>(state.range(0));
  auto buffers = DeflateWorkBuffers::Allocate();
  size_t written = 0;
  for (auto _ : state) {
    NullHost host(input);
    uint16_t flags = 0, internal = 2, method = 8;
    benchmark::DoNotOptimize(
        deflate(host, level, *buffers, DeflateEntryFields{&flags, &internal, &method}));
    written = host.written;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
  state.counters["ratio"] = static_cast<double>(written) / static_cast<double>(input.size());
}

void BM_DeflateText(benchmark::State& state) {
  static const std::vector<uint8_t> input = Text();
  Encode(state, input);
}

void BM_DeflateBinary(benchmark::State& state) {
  static const std::vector<uint8_t> input = Binary();
  Encode(state, input);
}

BENCHMARK(BM_DeflateText)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeflateBinary)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
