// The window's refill and slide. A slide moves the upper half down and
// every position in the head table and the chains down with it; the tables
// are large enough for the move to be worth doing with vector instructions.
#include "Window.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define DEFLATE_AVX2_SLIDE 1
#endif

#include "Checks.h"
#include "LevelTable.h"

namespace deflate_internal {
namespace {

#if DEFLATE_AVX2_SLIDE
// Sixteen entries at a time, for processors with AVX2 (chosen at run time);
// returns the bytes done, the whole 32-byte groups.
__attribute__((target("avx2"))) size_t slide_positions_avx2(void* table, size_t bytes) {
  auto* const v = static_cast<__m256i*>(table);
  const __m256i half = _mm256_set1_epi16(static_cast<int16_t>(0x8000));
  for (size_t i = 0; i < bytes / 32; ++i) {
    _mm256_storeu_si256(v + i, _mm256_subs_epu16(_mm256_loadu_si256(v + i), half));
  }
  return bytes / 32 * 32;
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

}  // namespace

// A saturating subtraction of 32,768 is exactly the slide's rule, sixteen
// entries at a time with AVX2, eight with SSE2 (which every x86-64 processor
// has), and one at a time for what is left.
void slide_positions(void* table, size_t bytes) {
  auto* const p = static_cast<unsigned char*>(table);
  size_t done = 0;
#if DEFLATE_AVX2_SLIDE
  if (HasAvx2()) done = slide_positions_avx2(p, bytes);
#endif
#if defined(__SSE2__)
  const __m128i half = _mm_set1_epi16(static_cast<int16_t>(0x8000));
  for (; done + 16 <= bytes; done += 16) {
    auto* const v = reinterpret_cast<__m128i*>(p + done);
    _mm_storeu_si128(v, _mm_subs_epu16(_mm_loadu_si128(v), half));
  }
#endif
  for (; done + 2 <= bytes; done += 2) {
    uint16_t v;
    std::memcpy(&v, p + done, 2);
    v = static_cast<uint16_t>(v >= kWindowHalf ? v - kWindowHalf : 0);
    std::memcpy(p + done, &v, 2);
  }
}

namespace {

void slide_window(EncoderState& s) {
  std::memcpy(s.window, s.window + kWindowHalf, kWindowHalf);
  s.match_pos = (s.match_pos - kWindowHalf) & 0xFFFF;
  s.cur_pos -= kWindowHalf;
  s.block_origin -= static_cast<int32_t>(kWindowHalf);
  s.window_base += kWindowHalf;
  slide_positions(s.head_table, kWindowHalf * sizeof s.head_table[0]);
  if (kLevelTable[s.PackLevel].stride == Stride::kEight) {
    slide_positions(s.jump_chains, kWindowHalf * sizeof s.jump_chains[0]);
  } else {
    slide_positions(s.chains, kWindowHalf * sizeof s.chains[0]);
  }
}

}  // namespace

void refill_window(EncoderState& s) {
  do {
    unsigned free = (2 * kWindowHalf - s.lookahead - s.cur_pos) & 0xFFFF;
    if (free == 0xFFFF) {
      // 65,535 would read as the end-of-input answer; ask for one byte less.
      free = 0xFFFE;
    } else if (s.cur_pos >= kSlideAt) {
      slide_window(s);
      free += kWindowHalf;
    }
    if (s.input_done) return;
    DEFLATE_CHECK(free >= 2, "more < 2");
    const unsigned n = read_input(s, s.window + s.cur_pos + s.lookahead, free);
    if (n == 0 || n == 0xFFFF) {
      s.input_done = true;
    } else {
      s.lookahead += n;
    }
  } while (s.lookahead < kMinLookahead && !s.input_done);
}

}  // namespace deflate_internal
