// Several threads parsing one entry change nothing the host can see: the
// stream, the WriteOutput pieces, the ReadInput requests and the header
// fields are those of one thread, whatever the level, the thread count and
// the segment size. Tiny segments force splices everywhere (inside matches,
// pending lazy decisions, window slides, early block ends, stored blocks) and
// the fall-backs: segments nobody parsed, parses that never meet.
#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>
#include <vector>

#include "DeflateTestSupport.h"
#include "Inflate.h"

namespace {

using deflate_test::Bytes;
using deflate_test::Compress;
using deflate_test::Compressed;

void ExpectSameEntry(const Compressed& parallel, const Compressed& serial) {
  ASSERT_EQ(parallel.bytes.size(), serial.bytes.size());
  EXPECT_TRUE(parallel.bytes == serial.bytes);
  EXPECT_EQ(parallel.write_sizes, serial.write_sizes);
  EXPECT_EQ(parallel.read_requests, serial.read_requests);
  EXPECT_EQ(parallel.size, serial.size);
  EXPECT_EQ(parallel.method, serial.method);
  EXPECT_EQ(parallel.internal, serial.internal);
  EXPECT_EQ(parallel.flags, serial.flags);
}

DeflateOptions Threads(unsigned threads, size_t segment, bool second_thread = false) {
  DeflateOptions options;
  options.Threads = threads;
  options.SegmentBytes = segment;
  options.SecondThread = second_thread;
  return options;
}

// Input made of pieces that each stress one part of the splice.
Bytes SpliceTorture(size_t n, uint64_t seed) {
  Bytes out = deflate_test::MixedData(n / 2, seed);
  const Bytes text = deflate_test::EnglishText(n / 4, seed + 1);
  out.insert(out.end(), text.begin(), text.end());
  // Far 3-byte repeats (literals at the lazy levels, matches at the greedy).
  for (size_t i = 0; out.size() < n; ++i) {
    out.push_back(static_cast<uint8_t>('A' + i % 7));
    out.push_back(static_cast<uint8_t>('a' + i % 5));
    out.push_back(static_cast<uint8_t>('0' + i % 3));
    const Bytes noise = deflate_test::RandomBytes(1 + i % 97, seed + i);
    out.insert(out.end(), noise.begin(), noise.end());
  }
  out.resize(n);
  return out;
}

class DeflateParallel : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Levels, DeflateParallel, ::testing::Range(1, 10));

// One set of buffers per side, used for every entry in turn, as the writer
// does: what an entry leaves in the window must not tell the two apart.
TEST_P(DeflateParallel, SameEntryAsOneThread) {
  const int level = GetParam();
  struct Case {
    std::string name;
    Bytes input;
    std::vector<DeflateOptions> configs;
  };
  const std::vector<Case> cases = {
      {"mixed, 2.5 MB",
       deflate_test::MixedData(5 << 19, 91),
       {Threads(2, 0), Threads(3, 200000, true), Threads(4, 65536)}},
      {"torture, tiny segments",
       SpliceTorture(300000, 92),
       {Threads(2, 1024), Threads(3, 3000), Threads(4, 17000, true)}},
      {"database pages", deflate_test::GeneratedBinary(1 << 20, 93), {Threads(2, 40000)}},
      {"noise: stored blocks", deflate_test::RandomBytes(500000, 94), {Threads(3, 50000)}},
      {"ends on a read boundary",
       deflate_test::EnglishText(4 * 32768, 95),
       {Threads(2, 1024), Threads(2, 33000)}},
      {"one read and a bit", deflate_test::EnglishText(32768 + 300, 96), {Threads(2, 1024)}},
      {"shorter than a segment", deflate_test::EnglishText(30000, 97), {Threads(2, 0)}},
      {"empty", {}, {Threads(2, 1024)}},
  };
  auto parallel_buffers = DeflateWorkBuffers::Allocate();
  auto serial_buffers = DeflateWorkBuffers::Allocate();
  for (const Case& c : cases) {
    for (const DeflateOptions& options : c.configs) {
      SCOPED_TRACE(c.name + ", " + std::to_string(options.Threads) + " threads, segments of " +
                   std::to_string(options.SegmentBytes));
      const Compressed serial = Compress(c.input, level, serial_buffers.get());
      const Compressed parallel =
          Compress(c.input, level, parallel_buffers.get(), UINT_MAX, options);
      ExpectSameEntry(parallel, serial);
    }
  }
  // And the stream is right, not merely the same.
  const Bytes input = SpliceTorture(300000, 98);
  const Compressed c = Compress(input, level, nullptr, UINT_MAX, Threads(3, 2048));
  EXPECT_EQ(inflate::Inflate(c.bytes).data, input);
}

// A read that comes back short (not at the end) stops the parallel parse: the
// rest is parsed by one thread from before the point where the single
// thread would have made that read, and reads on with its request sizes.
TEST_P(DeflateParallel, ShortReadsHandTheRestToOneThread) {
  const int level = GetParam();
  const Bytes input = deflate_test::MixedData(1 << 20, 101);
  auto serial_buffers = DeflateWorkBuffers::Allocate();
  auto parallel_buffers = DeflateWorkBuffers::Allocate();
  for (int short_read : {0, 1, 2, 9, 20}) {
    for (unsigned count : {0u, 1u, 5000u}) {
      SCOPED_TRACE("read " + std::to_string(short_read) + " places " + std::to_string(count));
      Compressed results[2];
      for (int side = 0; side < 2; ++side) {
        deflate_test::MemoryHost host(input);
        host.short_on_read = short_read;
        host.short_count = count;
        Compressed& r = results[side];
        const DeflateOptions options = side == 0 ? DeflateOptions{} : Threads(2, 40000);
        r.size = deflate(host, level, side == 0 ? *serial_buffers : *parallel_buffers,
                         DeflateEntryFields{&r.flags, &r.internal, &r.method}, options);
        r.bytes = host.output;
        r.read_requests = host.read_requests;
        r.write_sizes = host.write_sizes;
      }
      ExpectSameEntry(results[1], results[0]);
    }
  }
  // Reads that are all short never start the threads.
  ExpectSameEntry(Compress(input, level, nullptr, 777, Threads(2, 40000)),
                  Compress(input, level, nullptr, 777));
}

// At the greedy levels a segment's parse often meets the next one before the
// parse of the segment before it meets it, or fails to. A parse that is
// dropped takes its meeting with it: the next segment's parse, never spliced,
// must then be dropped in turn and not run on beside the spliced one, into
// segments the splice has left behind.
TEST(DeflateParallelMeetings, ParsesNeverSplicedDoNotOutliveTheSplice) {
  const Bytes input = deflate_test::EnglishText(3 << 20, 111);
  auto parallel_buffers = DeflateWorkBuffers::Allocate();
  for (int level = 1; level <= 3; ++level) {
    const Compressed serial = Compress(input, level);
    for (const DeflateOptions& options : {Threads(3, 1024), Threads(4, 9000)}) {
      SCOPED_TRACE("level " + std::to_string(level) + ", " + std::to_string(options.Threads) +
                   " threads, segments of " + std::to_string(options.SegmentBytes));
      ExpectSameEntry(Compress(input, level, parallel_buffers.get(), UINT_MAX, options), serial);
    }
  }
}

// Exceptions from the host reach the caller however far the threads are,
// and leave the buffers fit for the next entry.
TEST(DeflateParallelFailures, HostExceptionsPassThroughAndBuffersStayUsable) {
  const Bytes input = deflate_test::MixedData(2 << 20, 103);
  auto buffers = DeflateWorkBuffers::Allocate();
  for (int level : {2, 6, 9}) {
    const DeflateOptions options = Threads(2, level == 2 ? 30000 : 100000);
    for (int failing_call : {0, 3, 30, 300}) {
      SCOPED_TRACE("level " + std::to_string(level) + ", call " + std::to_string(failing_call));
      uint16_t flags = 0, internal = 2, method = 8;
      const DeflateEntryFields fields{&flags, &internal, &method};
      deflate_test::MemoryHost writes(input);
      writes.fail_on_write = failing_call;
      try {
        deflate(writes, level, *buffers, fields, options);
        ADD_FAILURE() << "no exception from WriteOutput";
      } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "write failed");
      }
      deflate_test::MemoryHost reads(input);
      reads.fail_on_read = failing_call % 64;  // the input takes 65 reads
      EXPECT_THROW(deflate(reads, level, *buffers, fields, options), std::runtime_error);
    }
    ExpectSameEntry(Compress(input, level, buffers.get(), UINT_MAX, options),
                    Compress(input, level));
  }
}

}  // namespace
