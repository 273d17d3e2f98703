// deflate_tool [--second-thread] [--threads N] [--segment BYTES] [--cpu] LEVEL
//              INPUT OUTPUT [INPUT OUTPUT]...
// Compresses each INPUT file as one entry, in order and with one set of work
// buffers, writes exactly the bytes the encoder hands over into OUTPUT, and
// prints "method=M internal=I flags=F size=N" per entry. Used to compare the
// encoder's output with other implementations byte for byte; with
// --second-thread, blocks are coded on a second thread; with --threads N,
// N threads parse segments of the input (of BYTES with --segment) at once;
// --cpu prints the processor time of the calling thread and of all threads
// per entry.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "Deflate.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

class FileHost : public DeflateHost {
 public:
  FileHost(std::FILE* in, std::FILE* out) : in_(in), out_(out) {}
  unsigned ReadInput(uint8_t* buffer, unsigned count) override {
    const size_t n = std::fread(buffer, 1, count, in_);
    if (n < count && std::ferror(in_)) throw std::runtime_error("read error");
    return static_cast<unsigned>(n);
  }
  void WriteOutput(const uint8_t* buffer, size_t item_size, size_t count) override {
    if (std::fwrite(buffer, item_size, count, out_) != count)
      throw std::runtime_error("write error");
  }

 private:
  std::FILE* in_;
  std::FILE* out_;
};

// Processor time of the calling thread (what the encoder leaves on it when
// threads parse: reading, splicing, block ends, writing) or of all threads.
double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int Usage() {
  std::fprintf(
      stderr,
      "usage: deflate_tool [--second-thread] [--threads N] [--segment BYTES] [--cpu] LEVEL INPUT "
      "OUTPUT [INPUT OUTPUT]...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  DeflateOptions options;
  bool report_cpu = false;
  for (;;) {
    const std::string arg = argc > 1 ? argv[1] : "";
    if (arg == "--second-thread") {
      options.SecondThread = true;
    } else if (arg == "--cpu") {
      report_cpu = true;
    } else if ((arg == "--threads" || arg == "--segment") && argc > 2) {
      const unsigned long value = std::strtoul(argv[2], nullptr, 10);
      if (arg == "--threads") {
        options.Threads = static_cast<unsigned>(value);
      } else {
        options.SegmentBytes = value;
      }
      --argc;
      ++argv;
    } else {
      break;
    }
    --argc;
    ++argv;
  }
  if (argc < 4 || (argc - 2) % 2 != 0) return Usage();
  char* end = nullptr;
  const long level = std::strtol(argv[1], &end, 10);
  if (*end != '\0' || level < 1 || level > 9) return Usage();
  try {
    auto buffers = DeflateWorkBuffers::Allocate();
    for (int arg = 2; arg + 1 < argc; arg += 2) {
      File in(std::fopen(argv[arg], "rb"));
      if (!in) {
        std::fprintf(stderr, "deflate_tool: cannot open %s\n", argv[arg]);
        return 1;
      }
      File out(std::fopen(argv[arg + 1], "wb"));
      if (!out) {
        std::fprintf(stderr, "deflate_tool: cannot create %s\n", argv[arg + 1]);
        return 1;
      }
      uint16_t flags = 0;
      uint16_t internal = 2;
      uint16_t method = 8;
      // As the archive writer does, the encoder is told the input's size.
      std::error_code size_error;
      const auto size_now = std::filesystem::file_size(argv[arg], size_error);
      options.ExpectedBytes = size_error ? 0 : size_now;
      FileHost host(in.get(), out.get());
      const double before = CpuSeconds(RUSAGE_THREAD);
      const double all_before = CpuSeconds(RUSAGE_SELF);
      const uint64_t size = deflate(host, static_cast<int>(level), *buffers,
                                    DeflateEntryFields{&flags, &internal, &method}, options);
      if (report_cpu) {
        std::fprintf(stderr, "calling thread %.3f s, all threads %.3f s of processor time\n",
                     CpuSeconds(RUSAGE_THREAD) - before, CpuSeconds(RUSAGE_SELF) - all_before);
      }
      if (std::fclose(out.release()) != 0) throw std::runtime_error("write error");
      std::printf("method=%u internal=%u flags=%u size=%llu\n", method, internal, flags,
                  static_cast<unsigned long long>(size));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "deflate_tool: %s\n", e.what());
    return 1;
  }
  return 0;
}
