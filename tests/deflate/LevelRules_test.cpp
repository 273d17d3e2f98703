// The rules of the level rows, each decided on a small input built so that
// the rule alone chooses between two streams at the levels it applies to: the
// nice-length cut, the quarter chain after a good match, the lazy threshold,
// the 3-byte matches too far back, and the early block end at its two limits.
// The expected streams are those of the independent reference encoder
// (reference/deflate_ref.py), recorded as size and CRC-32: the rules fix every
// byte, so any other stream breaks one of them. The early end is also checked
// on the parallel engine, which measures blocks its own way. To record the
// streams again, run this test with DEFLATE_RULES_DUMP set to a directory,
// which receives each input as NAME.in, and run deflate_ref.py LEVEL NAME.in
// NAME.out on them.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "DeflateTestSupport.h"

namespace {

using deflate_test::Bytes;

uint32_t Crc32(const Bytes& data) {
  uint32_t crc = 0xFFFFFFFF;
  for (uint8_t byte : data) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
  }
  return ~crc;
}

// Bytes of 16 letters from `first` on in which no three-byte string repeats,
// handed out from where the last Take stopped.
class UniqueBytes {
 public:
  explicit UniqueBytes(uint8_t first) : seq_(deflate_test::DeBruijn3(16)) {
    for (uint8_t& b : seq_) b = static_cast<uint8_t>(b - 'a' + first);
  }
  Bytes Take(size_t n) {
    const auto from = seq_.begin() + static_cast<std::ptrdiff_t>(at_);
    at_ += n;
    return Bytes(from, from + static_cast<std::ptrdiff_t>(n));
  }

 private:
  Bytes seq_;
  size_t at_ = 0;
};

// An input under construction; Mark() appends a byte used nowhere else, so
// that no match runs across it. The first byte is one of them: the string at
// position 0 is never a match.
struct Input {
  Bytes b{0x00};
  uint8_t marker = 0x01;
  void Mark() { b.push_back(marker++); }
  void Put(const Bytes& s, size_t n) { b.insert(b.end(), s.begin(), s.begin() + n); }
};

// For each nice_len k (and k - 1): a string, a nearer copy of its first k
// bytes, and the string again. A search there meets the nearer copy first and
// stops at it only when it is nice_len long.
Bytes NiceInput() {
  Input in;
  UniqueBytes strings(0x80);
  for (size_t k : {7, 8, 15, 16, 31, 32, 127, 128, 257}) {
    const size_t longer = std::min<size_t>(k + 10, 258);
    const Bytes s = strings.Take(longer);
    in.Mark();
    in.Put(s, longer);
    in.Mark();
    in.Put(s, k);
    in.Mark();
    in.Put(s, longer);
  }
  in.Mark();
  return in.b;
}

// For each good_len g, and g - 1: at the probe a match k long, then at the
// next position a longer one behind `decoys` positions of the same three
// bytes (a run), which a whole chain reaches and a quarter of it does not.
Bytes GoodInput() {
  Input in;
  UniqueBytes strings(0x80);
  uint8_t run = 0xC0;
  for (auto [good, decoys] :
       {std::pair<size_t, size_t>{8, 20}, {8, 80}, {8, 150}, {32, 600}, {32, 2000}}) {
    for (size_t k : {good - 1, good}) {
      Bytes body(3, run);
      const Bytes tail = strings.Take(k + 5);
      body.insert(body.end(), tail.begin(), tail.end());
      const uint8_t lead = in.marker++;
      in.b.push_back(lead);  // lead and k - 1 bytes of body: a match of k at the probe
      in.Put(body, k - 1);
      in.Mark();
      in.Mark();
      in.Put(body, body.size());  // the longer match
      in.Mark();
      in.b.insert(in.b.end(), decoys + 2, run);
      in.Mark();
      in.b.push_back(lead);  // the probe
      in.Put(body, body.size());
      in.Mark();
      ++run;
    }
  }
  return in.b;
}

// For each lazy_len k (and k - 1): at the probe a match k long, then at the
// next position a longer one that only a search there finds.
Bytes LazyInput() {
  Input in;
  UniqueBytes strings(0x80);
  for (size_t k : {3, 4, 15, 16, 31, 32, 127, 128, 257}) {
    const Bytes body = strings.Take(k + 8);
    const uint8_t lead = in.marker++;
    in.b.push_back(lead);
    in.Put(body, k - 1);
    in.Mark();
    in.Mark();
    in.Put(body, body.size());
    in.Mark();
    in.b.push_back(lead);
    in.Put(body, body.size());
    in.Mark();
  }
  return in.b;
}

// Strings of 3 and 4 bytes found again 4,095, 4,096 and 4,097 bytes on, in
// letters that repeat no three-byte string.
Bytes TooFarInput() {
  Bytes b = deflate_test::DeBruijn3(17);
  b.resize(4600);
  uint8_t fresh = 0x80;
  struct Repeat {
    size_t at, distance, length;
  };
  for (const Repeat& r : {Repeat{100, 4095, 3}, {120, 4096, 3}, {140, 4097, 3}, {160, 4097, 4}}) {
    for (size_t i = 0; i < r.length; ++i) b[r.at + i] = b[r.at + r.distance + i] = fresh++;
    for (size_t at : {r.at, r.at + r.distance}) {
      b[at - 1] = fresh++;
      b[at + r.length] = fresh++;
    }
  }
  return b;
}

// Letters with 17 copies of one string among them (a marker, the copy, a
// marker), the last copy `shift` bytes longer: measured up to the start of
// the last of them, the first 4,096 symbols cover twice the estimate of their
// coded size plus 1 + shift bytes. The greedy loop ends the block there from
// shift 1 on, the lazy one (whose measure takes one byte more) from shift 0.
Bytes EstimateInput(int shift) {
  const Bytes letters = deflate_test::DeBruijn3(16);
  Bytes b;
  uint8_t marker = 0x80;
  size_t next = 0;
  for (size_t j = 0; j < 17; ++j) {
    const size_t at = 300 + 200 * j;
    b.insert(b.end(), letters.begin() + static_cast<std::ptrdiff_t>(next),
             letters.begin() + static_cast<std::ptrdiff_t>(at));
    next = at;
    const size_t length = j < 16 ? 250 : static_cast<size_t>(165 + shift);
    b.push_back(marker++);
    b.insert(b.end(), letters.begin() + 1,
             letters.begin() + 1 + static_cast<std::ptrdiff_t>(length));
    b.push_back(marker++);
  }
  b.insert(b.end(), letters.begin() + static_cast<std::ptrdiff_t>(next), letters.end());
  return b;
}

// Runs of 16 byte values, 8 bytes each, then the same runs again and again
// with a literal before each: exactly every other symbol of the block is a
// match, and the block codes to far less than half its input. With one
// literal more, the first 4,096 symbols hold one match fewer than half of
// them and the block ends there.
Bytes HalfInput(bool literal_more) {
  Bytes b{0xEF};
  const auto run = [&b](size_t c) { b.insert(b.end(), 8, static_cast<uint8_t>(0xF0 + c)); };
  for (size_t c = 0; c < 16; ++c) run(c);  // a literal and a match each
  run(0);                                  // a match alone
  if (literal_more) b.push_back(0xEE);
  for (size_t i = 1; i < 2100; ++i) {
    b.push_back(static_cast<uint8_t>(i / 16 % 224));  // never twice before one run
    run(i % 16);
  }
  return b;
}

struct Expected {
  int level;
  size_t size;
  uint32_t crc;
};

void ExpectReferenceStreams(const std::string& name, const Bytes& input,
                            const std::vector<Expected>& rows) {
  if (const char* dir = std::getenv("DEFLATE_RULES_DUMP")) {
    std::ofstream(std::string(dir) + "/" + name + ".in", std::ios::binary)
        .write(reinterpret_cast<const char*>(input.data()),
               static_cast<std::streamsize>(input.size()));
  }
  for (const Expected& e : rows) {
    const deflate_test::Compressed out = deflate_test::Compress(input, e.level);
    EXPECT_EQ(out.bytes.size(), e.size) << name << " at level " << e.level;
    EXPECT_EQ(Crc32(out.bytes), e.crc) << name << " at level " << e.level;
  }
}

// The parallel engine ends blocks early by a measure of its own: parsed by
// threads, which take on an entry more than one read long, the input (with
// text after it) gives the same stream as parsed alone.
void ExpectSameOnThreads(Bytes input) {
  const Bytes tail = deflate_test::EnglishText(80000, 7);
  input.insert(input.end(), tail.begin(), tail.end());
  DeflateOptions threads;
  threads.Threads = 2;
  threads.SegmentBytes = 4096;
  for (int level : {3, 4}) {
    EXPECT_EQ(deflate_test::Compress(input, level, nullptr, UINT_MAX, threads).bytes,
              deflate_test::Compress(input, level).bytes)
        << "level " << level;
  }
}

TEST(DeflateLevelRules, NiceLengthEndsTheSearch) {
  ExpectReferenceStreams("nice", NiceInput(),
                         {{1, 441, 0x9A603FAE},
                          {2, 438, 0x68E4B830},
                          {3, 435, 0x35871215},
                          {4, 438, 0x68E4B830},
                          {5, 435, 0x35871215},
                          {6, 432, 0xA8874D1A},
                          {7, 432, 0xA8874D1A},
                          {8, 429, 0x1EDE09FA},
                          {9, 429, 0x1EDE09FA}});
}

TEST(DeflateLevelRules, GoodMatchQuartersTheChain) {
  ExpectReferenceStreams("good", GoodInput(),
                         {{4, 346, 0x636750AD},
                          {5, 345, 0x9E87B6D0},
                          {6, 343, 0xDF85A827},
                          {7, 342, 0xB6217910},
                          {8, 345, 0xFE8F981F},
                          {9, 340, 0x6E3E1C1D}});
}

TEST(DeflateLevelRules, LazyLengthStopsTheNextSearch) {
  ExpectReferenceStreams("lazy", LazyInput(),
                         {{3, 466, 0x5F3DD291},
                          {4, 462, 0xC4D9AF47},
                          {5, 461, 0x46556A86},
                          {6, 461, 0x46556A86},
                          {7, 462, 0xF9AF7D7C},
                          {8, 459, 0xBADFA82E},
                          {9, 460, 0x1CF292C7}});
}

TEST(DeflateLevelRules, ThreeByteMatchesBeyond4096AreLiteralsInTheLazyLoop) {
  std::vector<Expected> rows;
  for (int level = 1; level <= 9; ++level) {
    rows.push_back({level, 2440, level <= 3 ? 0x99EAEF3Cu : 0xAE64C94Du});
  }
  ExpectReferenceStreams("toofar", TooFarInput(), rows);
}

TEST(DeflateLevelRules, BlockEndsEarlyBelowHalfItsInputWithFewerMatchesThanHalf) {
  ExpectReferenceStreams(
      "estimate0", EstimateInput(-1),
      {{2, 2199, 0xAEF478D3}, {3, 2199, 0xAEF478D3}, {4, 2199, 0xAEF478D3}, {9, 2199, 0xAEF478D3}});
  ExpectReferenceStreams(
      "estimate1", EstimateInput(0),
      {{2, 2199, 0xD3AA3F54}, {3, 2199, 0xD3AA3F54}, {4, 2202, 0x46FCE9DF}, {9, 2202, 0x46FCE9DF}});
  ExpectReferenceStreams(
      "estimate2", EstimateInput(1),
      {{2, 2199, 0x4E4F0016}, {3, 2202, 0x3A95FFD2}, {4, 2202, 0x3A95FFD2}, {9, 2202, 0x3A95FFD2}});
  ExpectReferenceStreams("half", HalfInput(false),
                         {{2, 4305, 0x6EA2BC34}, {3, 4305, 0x6EA2BC34}, {9, 4308, 0x6131A21F}});
  ExpectReferenceStreams("half_literal", HalfInput(true),
                         {{2, 4308, 0xD766BBD7}, {3, 4259, 0x776E5645}, {9, 4261, 0x166987F1}});
  for (int shift : {-1, 0, 1}) ExpectSameOnThreads(EstimateInput(shift));
  ExpectSameOnThreads(HalfInput(false));
  ExpectSameOnThreads(HalfInput(true));
}

}  // namespace
