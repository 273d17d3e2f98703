// Coding blocks on a second thread changes nothing the host can see: the
// same bytes in the same WriteOutput pieces, the same header fields, and the
// host's exceptions still reach the caller, the buffers usable afterwards.
#include <gtest/gtest.h>

#include <stdexcept>

#include "DeflateTestSupport.h"
#include "Inflate.h"

namespace {

using deflate_test::Bytes;
using deflate_test::Compress;
using deflate_test::Compressed;

constexpr DeflateOptions kSecondThread{true};

void ExpectSameEntry(const Compressed& aside, const Compressed& in_place) {
  EXPECT_EQ(aside.bytes, in_place.bytes);
  EXPECT_EQ(aside.write_sizes, in_place.write_sizes);
  EXPECT_EQ(aside.size, in_place.size);
  EXPECT_EQ(aside.method, in_place.method);
  EXPECT_EQ(aside.internal, in_place.internal);
  EXPECT_EQ(aside.flags, in_place.flags);
}

class DeflateSecondThread : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Levels, DeflateSecondThread, ::testing::Range(1, 10));

// Many blocks of each kind (noise gives stored blocks whose input the window
// has long dropped when they are written), one-block entries that never start
// the thread, and short reads; one set of buffers for all, as the writer has.
TEST_P(DeflateSecondThread, SameStreamAndPiecesAsCodingInPlace) {
  const int level = GetParam();
  struct Case {
    const char* name;
    Bytes input;
    unsigned max_read;
  };
  const Case cases[] = {
      {"mixed", deflate_test::MixedData(3 << 20, 81), UINT_MAX},
      {"noise", deflate_test::RandomBytes(400000, 82), UINT_MAX},
      {"binary, short reads", deflate_test::GeneratedBinary(1 << 20, 83), 777},
      {"text", deflate_test::EnglishText(20000, 84), UINT_MAX},
      {"empty", {}, UINT_MAX},
  };
  auto aside_buffers = DeflateWorkBuffers::Allocate();
  auto in_place_buffers = DeflateWorkBuffers::Allocate();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Compressed aside =
        Compress(c.input, level, aside_buffers.get(), c.max_read, kSecondThread);
    const Compressed in_place = Compress(c.input, level, in_place_buffers.get(), c.max_read);
    ExpectSameEntry(aside, in_place);
  }
}

// Failures early (before the thread starts), while blocks wait to be
// written, and late (writing the output of blocks coded aside).
TEST(DeflateSecondThreadFailures, HostExceptionsPassThroughAndBuffersStayUsable) {
  const Bytes input = deflate_test::MixedData(1 << 20, 85);
  auto buffers = DeflateWorkBuffers::Allocate();
  for (int level : {1, 6}) {
    const Compressed in_place = Compress(input, level);
    for (int failing_call : {0, 3, 40, 200}) {
      SCOPED_TRACE(failing_call);
      uint16_t flags = 0, internal = 2, method = 8;
      const DeflateEntryFields fields{&flags, &internal, &method};
      deflate_test::MemoryHost writes(input);
      writes.fail_on_write = failing_call;
      try {
        deflate(writes, level, *buffers, fields, kSecondThread);
        ADD_FAILURE() << "no exception from WriteOutput";
      } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "write failed");
      }
      // Blocks the failed entry had coded but not written are never written.
      ExpectSameEntry(Compress(input, level, buffers.get(), UINT_MAX, kSecondThread), in_place);
      deflate_test::MemoryHost reads(input, 4096);
      reads.fail_on_read = failing_call;
      EXPECT_THROW(deflate(reads, level, *buffers, fields, kSecondThread), std::runtime_error);
    }
    ExpectSameEntry(Compress(input, level, buffers.get(), UINT_MAX, kSecondThread), in_place);
  }
}

}  // namespace
