// Behaviour of the encoder in the cases its rules single out: entries that
// end up stored, the first positions of the window, runs, literal-only and
// incompressible data, early block ends, the reads it makes, the state kept
// between entries, and failures of the host.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

#include "DeflateTestSupport.h"
#include "Inflate.h"

namespace {

using deflate_test::Bytes;
using deflate_test::Compress;
using deflate_test::Compressed;
using inflate::BlockType;

uint16_t ExpectedFlags(int level) {
  return level <= 2 ? 4 : level >= 8 ? 2 : 0;
}

Bytes Str(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

std::vector<inflate::Symbol> AllSymbols(const inflate::Result& r) {
  std::vector<inflate::Symbol> out;
  for (const auto& b : r.blocks) out.insert(out.end(), b.symbols.begin(), b.symbols.end());
  return out;
}

class DeflateEachLevel : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Levels, DeflateEachLevel, ::testing::Range(1, 10));

// Entries that do not compress within their one block are kept as they are,
// with the level's option bits all the same.
TEST_P(DeflateEachLevel, SmallIncompressibleEntriesAreStoredWhole) {
  const int level = GetParam();
  struct Case {
    const char* name;
    Bytes input;
    uint16_t internal;
  };
  const Case cases[] = {
      {"empty", {}, 1},
      {"one byte", {'x'}, 1},
      {"abcabc", Str("abcabc"), 1},
      {"10,000 random bytes", deflate_test::RandomBytes(10000, 11), 0},
      {"60,000 random bytes", deflate_test::RandomBytes(60000, 12), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Compressed out = Compress(c.input, level);
    if (c.input.size() > 32767) {
      // Two blocks: the first is written before the entry's end is known.
      EXPECT_EQ(out.method, 8);
      continue;
    }
    EXPECT_EQ(out.method, 0);
    EXPECT_EQ(out.bytes, c.input);
    EXPECT_EQ(out.size, c.input.size());
    EXPECT_EQ(out.internal, c.internal);
    EXPECT_EQ(out.flags, ExpectedFlags(level));
    if (c.input.empty()) {
      EXPECT_TRUE(out.write_sizes.empty());
    }
  }
}

// Position 0 stands for "no position": the second "abc" cannot refer to it.
TEST_P(DeflateEachLevel, StringAtWindowStartIsNeverAMatch) {
  const Bytes input = [] {
    Bytes b = Str("abcabc");
    b.insert(b.end(), 3000, 'z');
    return b;
  }();
  const Compressed out = Compress(input, GetParam());
  ASSERT_EQ(out.method, 8);
  const auto symbols = AllSymbols(inflate::Inflate(out.bytes));
  ASSERT_GE(symbols.size(), 8u);
  const std::string expected = "abcabcz";
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(symbols[i].length, 0) << "symbol " << i;
    EXPECT_EQ(symbols[i].literal, expected[i]) << "symbol " << i;
  }
  EXPECT_EQ(symbols[7].length, 258);
  EXPECT_EQ(symbols[7].distance, 1);
}

// Ends an input with a long run so that it is coded, not stored.
Bytes WithRun(const std::string& s) {
  Bytes b = Str(s);
  b.insert(b.end(), 2000, '~');
  return b;
}

TEST_P(DeflateEachLevel, NearestOfEquallyLongCandidatesWins) {
  const std::string head = "#QRSTUV1abcdefghQRSTUV2ijklmnop";
  const Bytes input = WithRun(head + "QRSTUV3");
  const Compressed out = Compress(input, GetParam());
  const auto symbols = AllSymbols(inflate::Inflate(out.bytes));
  const inflate::Symbol* s = inflate::SymbolAt(symbols, head.size());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->length, 6);
  EXPECT_EQ(s->distance, head.size() - head.find("QRSTUV2"));
}

TEST_P(DeflateEachLevel, EquallyLongMatchOneLaterDoesNotReplaceTheFirst) {
  // At "QABCDEF" the match "QABCDE" and, one byte on, "ABCDEF" are both 6 long.
  const std::string head = "#QABCDE9abcdefghABCDEF8ijklmnop";
  const Bytes input = WithRun(head + "QABCDEF7");
  const Compressed out = Compress(input, GetParam());
  const auto symbols = AllSymbols(inflate::Inflate(out.bytes));
  const inflate::Symbol* s = inflate::SymbolAt(symbols, head.size());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->length, 6);
  EXPECT_EQ(s->distance, head.size() - 1);
}

TEST_P(DeflateEachLevel, RunOfOneByteIsTwoLiteralsThenLongMatches) {
  const int level = GetParam();
  const Bytes input(100000, 'a');
  const Compressed out = Compress(input, level);
  const auto symbols = AllSymbols(inflate::Inflate(out.bytes));
  ASSERT_GE(symbols.size(), 3u);
  EXPECT_EQ(symbols[0].length, 0);
  EXPECT_EQ(symbols[1].length, 0);
  EXPECT_EQ(symbols[2].distance, 1);
  for (size_t i = 2; i < symbols.size(); ++i) {
    ASSERT_NE(symbols[i].length, 0) << "symbol " << i;
    if (i + 1 < symbols.size()) {
      EXPECT_EQ(symbols[i].length, 258) << "symbol " << i;
    }
    // The lazy levels hash inside every match; the greedy ones skip the
    // inside of long matches and so refer one match back.
    EXPECT_EQ(symbols[i].distance, level >= 4 || i == 2 ? 1 : 258) << "symbol " << i;
  }
}

TEST_P(DeflateEachLevel, LiteralsOnlyBlockSendsTwoDistanceCodes) {
  // No string of three letters repeats, so there is nothing to match.
  const Bytes input = deflate_test::DeBruijn3(16);
  const Compressed out = Compress(input, GetParam());
  ASSERT_EQ(out.method, 8);
  const auto r = inflate::Inflate(out.bytes);
  ASSERT_EQ(r.blocks.size(), 1u);
  const auto& block = r.blocks[0];
  ASSERT_EQ(block.type, BlockType::kDynamic);
  EXPECT_EQ(block.symbols.size(), input.size());
  EXPECT_EQ(block.hdist, 2);
  EXPECT_EQ(block.dist_lengths, (std::vector<uint8_t>{1, 1}));
}

TEST_P(DeflateEachLevel, IncompressibleInputOverSeveralBlocksStaysDeflated) {
  const Bytes input = deflate_test::RandomBytes(200000, 13);
  const Compressed out = Compress(input, GetParam());
  EXPECT_EQ(out.method, 8);
  const auto r = inflate::Inflate(out.bytes);
  EXPECT_EQ(r.data, input);
  ASSERT_GT(r.blocks.size(), 1u);
  for (const auto& block : r.blocks) EXPECT_EQ(block.type, BlockType::kStored);
  // Per block: 3 header bits padded to a byte, then the two length words.
  EXPECT_EQ(out.size, input.size() + 5 * r.blocks.size());
}

// WriteOutput gets 1,024-byte pieces, counted afresh after each stored block:
// the bytes before a stored block's length words as one piece, the two words
// as another and its payload as a third. The pieces follow from where the
// blocks lie in the stream.
TEST_P(DeflateEachLevel, OutputPiecesAreWholeBuffersBetweenStoredBlocks) {
  const int level = GetParam();
  Bytes input = deflate_test::EnglishText(150000, 51);
  const Bytes noise = deflate_test::RandomBytes(90000, 52);
  input.insert(input.begin() + 70000, noise.begin(), noise.end());
  const Compressed out = Compress(input, level);
  ASSERT_EQ(out.method, 8);
  const auto r = inflate::Inflate(out.bytes);
  ASSERT_EQ(r.data, input);

  std::vector<size_t> expected;
  const auto pieces_up_to = [&expected](size_t from, size_t to) {
    for (; to - from >= 1024; from += 1024) expected.push_back(1024);
    if (to > from) expected.push_back(to - from);
  };
  size_t start = 0;
  int stored = 0;
  for (const auto& b : r.blocks) {
    if (b.type != BlockType::kStored) continue;
    ++stored;
    const size_t words = (b.bit_begin + 3 + 7) / 8;
    const size_t payload = b.out_end - b.out_begin;
    pieces_up_to(start, words);
    expected.push_back(4);
    if (payload > 0) expected.push_back(payload);
    start = words + 4 + payload;
  }
  pieces_up_to(start, out.bytes.size());
  EXPECT_GT(stored, 0);
  EXPECT_EQ(out.write_sizes, expected);
}

// Data where every sixth symbol is a 40-byte match: few matches, yet well
// compressed, which is what ends a block early from level 3 on.
Bytes SparseLongMatches() {
  std::mt19937_64 rng(21);
  Bytes out = deflate_test::RandomBytes(2000, 22);
  while (out.size() < 300000) {
    for (int i = 0; i < 5; ++i) out.push_back(static_cast<uint8_t>(rng()));
    const size_t from = out.size() - 100 - rng() % std::min<size_t>(out.size() - 100, 20000);
    for (size_t i = 0; i < 40; ++i) out.push_back(out[from + i]);
  }
  return out;
}

TEST_P(DeflateEachLevel, BlocksEndEarlyOnlyFromLevelThree) {
  const int level = GetParam();
  const Bytes input = SparseLongMatches();
  const Compressed out = Compress(input, level);
  const auto r = inflate::Inflate(out.bytes);
  ASSERT_EQ(r.data, input);
  ASSERT_GT(r.blocks.size(), 1u);
  int early = 0;
  for (size_t b = 0; b + 1 < r.blocks.size(); ++b) {
    ASSERT_NE(r.blocks[b].type, BlockType::kStored);
    const size_t count = r.blocks[b].symbols.size();
    if (count != 32767) {
      EXPECT_EQ(count % 4096, 0u);
      ++early;
    }
  }
  if (level <= 2) {
    EXPECT_EQ(early, 0);
  } else {
    EXPECT_GT(early, 0);
  }
}

TEST(DeflateReads, RequestSizesFollowTheWindow) {
  struct Case {
    const char* name;
    size_t size;
    std::vector<unsigned> requests;
  };
  const Case cases[] = {
      {"empty", 0, {32768}},
      // 65,535 would mean "end of input", so one byte less is asked for.
      {"one byte", 1, {32768, 65534}},
      {"one half", 32768, {32768, 32768}},
      {"whole window", 65536, {32768, 32768, 32768}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes input = deflate_test::EnglishText(c.size, 31);
    for (int level : {1, 9}) EXPECT_EQ(Compress(input, level).read_requests, c.requests);
  }
  // Once primed, whole halves are read until the input runs short.
  const auto requests = Compress(deflate_test::EnglishText(300000, 32), 6).read_requests;
  ASSERT_GT(requests.size(), 3u);
  for (size_t i = 0; i + 2 < requests.size(); ++i) EXPECT_EQ(requests[i], 32768u) << i;
}

// Short reads leave the window holding the same bytes at the same positions
// whenever a decision is made, so the stream does not change.
TEST_P(DeflateEachLevel, ShortReadsGiveTheSameStream) {
  const int level = GetParam();
  const Bytes inputs[] = {deflate_test::MixedData(300000, 41),
                          deflate_test::EnglishText(70000, 42)};
  for (const Bytes& input : inputs) {
    const Compressed whole = Compress(input, level);
    for (unsigned max_read : {1u, 261u, 1000u, 40000u}) {
      SCOPED_TRACE("reads of at most " + std::to_string(max_read));
      const Compressed pieces = Compress(input, level, nullptr, max_read);
      EXPECT_EQ(pieces.bytes, whole.bytes);
      EXPECT_EQ(pieces.size, whole.size);
    }
  }
}

// The buffers' hash chains change layout with the level (four successors a
// record, or eight); entries of either kind may follow each other.
TEST(DeflateState, RunsAreRepeatable) {
  const Bytes input = deflate_test::MixedData(500000, 51);
  auto buffers = DeflateWorkBuffers::Allocate();
  for (int level : {1, 4, 9, 5, 6, 2}) {
    const Compressed first = Compress(input, level, buffers.get());
    const Compressed second = Compress(input, level, buffers.get());
    const Compressed fresh = Compress(input, level);
    EXPECT_EQ(first.bytes, second.bytes);
    EXPECT_EQ(first.bytes, fresh.bytes);
  }
}

// The search may read past the end of the input; the window is wiped after
// each entry, so what an earlier entry left there cannot steer the choice
// between equally long candidates.
TEST(DeflateState, EarlierEntryDoesNotChangeTheNextOne) {
  // Ending in the lower and in the upper half of the window.
  for (size_t prefix : {size_t{0}, size_t{40000}}) {
    SCOPED_TRACE("prefix of " + std::to_string(prefix));
    const std::string x = "QRSTUVWX";
    Bytes b = Str("#");
    std::mt19937_64 rng(prefix);
    for (size_t i = 0; i < prefix; ++i) b.push_back(static_cast<uint8_t>('a' + rng() % 16));
    const size_t far_x = b.size();
    b.insert(b.end(), x.begin(), x.end());
    b.insert(b.end(), 20, 0);  // after the far copy: zeros, like a wiped window
    const Bytes middle = Str("mm" + x + "!abcdefghijabcdefghijabcdefghij");
    b.insert(b.end(), middle.begin(), middle.end());
    const size_t last_x = b.size();
    b.insert(b.end(), x.begin(), x.end());

    const Bytes a(70000, 'Z');
    auto buffers = DeflateWorkBuffers::Allocate();
    const Compressed alone = Compress(b, 6);
    Compress(a, 6, buffers.get());
    const Compressed after = Compress(b, 6, buffers.get());
    ASSERT_EQ(after.method, 8);
    EXPECT_EQ(after.bytes, alone.bytes);

    // Past the end the far copy of x goes on matching zeros, so it wins.
    const auto symbols = AllSymbols(inflate::Inflate(after.bytes));
    ASSERT_FALSE(symbols.empty());
    EXPECT_EQ(symbols.back().length, x.size());
    EXPECT_EQ(symbols.back().distance, last_x - far_x);

    // Nor can an entry given up halfway, its window full of a's bytes, on
    // one thread or on two.
    for (const DeflateOptions options : {DeflateOptions{}, DeflateOptions{.SecondThread = true}}) {
      uint16_t flags = 0, internal = 2, method = 8;
      deflate_test::MemoryHost failing(a);
      failing.fail_on_read = 2;
      EXPECT_THROW(deflate(failing, 6, *buffers, {&flags, &internal, &method}, options),
                   std::runtime_error);
      EXPECT_EQ(Compress(b, 6, buffers.get(), UINT_MAX, options).bytes, alone.bytes);
    }
  }
}

// Writers in several threads share nothing but the constant tables.
TEST(DeflateState, WritersInThreadsDoNotDisturbEachOther) {
  std::vector<Bytes> inputs;
  std::vector<Bytes> expected;
  for (int i = 0; i < 4; ++i) {
    inputs.push_back(deflate_test::MixedData(400000, 80 + static_cast<uint64_t>(i)));
    expected.push_back(Compress(inputs.back(), 1 + 2 * i).bytes);
  }
  std::vector<Bytes> results(inputs.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < inputs.size(); ++i) {
    threads.emplace_back([&, i] {
      auto buffers = DeflateWorkBuffers::Allocate();
      for (int round = 0; round < 3; ++round) {
        results[i] = Compress(inputs[i], 1 + 2 * static_cast<int>(i), buffers.get()).bytes;
      }
    });
  }
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < inputs.size(); ++i) EXPECT_EQ(results[i], expected[i]) << i;
}

TEST(DeflateState, TextOrBinaryComesFromTheFirstBlock) {
  // Long enough for the first block to hold nothing else.
  const Bytes text = deflate_test::EnglishText(400000, 61);
  const Bytes noise = deflate_test::RandomBytes(100000, 62);
  Bytes text_first = text;
  text_first.insert(text_first.end(), noise.begin(), noise.end());
  Bytes noise_first = noise;
  noise_first.insert(noise_first.end(), text.begin(), text.end());
  for (int level : {1, 6}) {
    EXPECT_EQ(Compress(text_first, level).internal, 1);
    EXPECT_EQ(Compress(noise_first, level).internal, 0);
  }
}

TEST(DeflateFailures, HostExceptionsPassThroughAndBuffersStayUsable) {
  const Bytes input = deflate_test::MixedData(400000, 71);
  auto buffers = DeflateWorkBuffers::Allocate();
  for (int level : {2, 7}) {
    for (int failing_call : {0, 1, 5}) {
      uint16_t flags = 0, internal = 2, method = 8;
      const DeflateEntryFields fields{&flags, &internal, &method};
      deflate_test::MemoryHost writes(input);
      writes.fail_on_write = failing_call;
      try {
        deflate(writes, level, *buffers, fields);
        ADD_FAILURE() << "no exception from WriteOutput";
      } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "write failed");
      }
      deflate_test::MemoryHost reads(input);
      reads.fail_on_read = failing_call;
      EXPECT_THROW(deflate(reads, level, *buffers, fields), std::runtime_error);
    }
    const Compressed next = Compress(input, level, buffers.get());
    EXPECT_EQ(inflate::Inflate(next.bytes).data, input);
  }
}

// A host that answers more than it was asked for cannot push the encoder past
// its window (this matters most under the address sanitizer): the stream
// stays well formed, whatever it holds.
TEST(DeflateFailures, ReadAnswersBeyondTheRequestAreCut) {
  const Bytes input = deflate_test::MixedData(200000, 72);
  for (int level : {1, 9}) {
    uint16_t flags = 0, internal = 2, method = 8;
    deflate_test::MemoryHost host(input);
    host.overstate = 1000;
    auto buffers = DeflateWorkBuffers::Allocate();
    const uint64_t size =
        deflate(host, level, *buffers, DeflateEntryFields{&flags, &internal, &method});
    EXPECT_EQ(size, host.output.size());
    if (method == 8) {
      EXPECT_NO_THROW(inflate::Inflate(host.output));
    }
  }
}

TEST(DeflateFailures, LevelOutsideOneToNineIsRejected) {
  const Bytes input = Str("some input");
  auto buffers = DeflateWorkBuffers::Allocate();
  for (int level : {0, 10, -1, 100}) {
    uint16_t flags = 0, internal = 2, method = 8;
    deflate_test::MemoryHost host(input);
    EXPECT_THROW(deflate(host, level, *buffers, DeflateEntryFields{&flags, &internal, &method}),
                 std::invalid_argument);
    EXPECT_TRUE(host.read_requests.empty());
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(method, 8);
  }
}

}  // namespace
