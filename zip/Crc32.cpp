#include "Crc32.h"

#include <bit>
#include <cstring>
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define CRC32_CARRYLESS 1
#endif

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// Slicing by 16: table 0 is the classic byte table; table k advances a byte
// that still has k more bytes to pass through the register, so sixteen
// lookups fold sixteen bytes at once and give exactly the byte-wise values.
constexpr int kSlices = 16;

struct Tables {
  uint32_t t[kSlices][256];
};

constexpr Tables MakeTables() {
  Tables tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ ((c & 1) ? kPolynomial : 0);
    tables.t[0][i] = c;
  }
  for (int s = 1; s < kSlices; ++s) {
    for (uint32_t i = 0; i < 256; ++i) {
      const uint32_t prev = tables.t[s - 1][i];
      tables.t[s][i] = (prev >> 8) ^ tables.t[0][prev & 0xFF];
    }
  }
  return tables;
}

constexpr Tables kTables = MakeTables();

static_assert(kTables.t[0][1] == 0x77073096u, "byte table of the reflected polynomial");

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}

uint32_t SlicedUpdate(uint32_t reg, const uint8_t* p, size_t size) {
  const auto& t = kTables.t;
  while (size >= 16) {
    const uint32_t a = Load32(p) ^ reg;
    const uint32_t b = Load32(p + 4);
    const uint32_t c = Load32(p + 8);
    const uint32_t d = Load32(p + 12);
    reg = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
          t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
          t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    p += 16;
    size -= 16;
  }
  while (size-- > 0) reg = t[0][(reg ^ *p++) & 0xFF] ^ (reg >> 8);
  return reg;
}

#if CRC32_CARRYLESS
// Folding with carry-less multiplication, for processors that have it
// (chosen at run time): about four times the sliced table's speed on long
// input.
// Sixteen bytes stand for a polynomial whose first bit is its highest term,
// and the stream so far is kept as such a block, equal to it modulo the
// polynomial. Moving a block D bits on multiplies its first eight bytes by
// x^(D+64) and its last eight by x^D; taken modulo the polynomial, each
// product fits the block again. The constants are those powers divided by x,
// as the product of two bit-reversed operands comes out one place up, and
// bit-reversed into the upper half of a 64-bit word.
constexpr uint64_t kFold128First = 0x65673B4600000000u;  // x^191 mod P
constexpr uint64_t kFold128Last = 0x9BA54C6F00000000u;   // x^127 mod P
constexpr uint64_t kFold512First = 0x653D982200000000u;  // x^575 mod P
constexpr uint64_t kFold512Last = 0xCAD38E8F00000000u;   // x^511 mod P

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i block, __m128i constants) {
  return _mm_xor_si128(_mm_clmulepi64_si128(block, constants, 0x00),
                       _mm_clmulepi64_si128(block, constants, 0x11));
}

__attribute__((target("pclmul,sse2"))) inline __m128i Load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Takes the whole 16-byte blocks of at least 64 bytes: four lanes fold 64
// bytes at a time, then one. The last block's table CRC from a zero register
// is the stream's register, since the register is the stream times x^32
// modulo the polynomial, bit-reversed.
__attribute__((target("pclmul,sse2"))) uint32_t FoldedUpdate(uint32_t reg, const uint8_t*& p,
                                                             size_t& size) {
  const __m128i by512 =
      _mm_set_epi64x(static_cast<long long>(kFold512Last), static_cast<long long>(kFold512First));
  const __m128i by128 =
      _mm_set_epi64x(static_cast<long long>(kFold128Last), static_cast<long long>(kFold128First));
  // The register acts on the stream as its first four bytes XORed with it,
  // as the table method applies it.
  __m128i x0 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
  __m128i x1 = Load128(p + 16);
  __m128i x2 = Load128(p + 32);
  __m128i x3 = Load128(p + 48);
  p += 64;
  size -= 64;
  for (; size >= 64; p += 64, size -= 64) {
    x0 = _mm_xor_si128(Fold(x0, by512), Load128(p));
    x1 = _mm_xor_si128(Fold(x1, by512), Load128(p + 16));
    x2 = _mm_xor_si128(Fold(x2, by512), Load128(p + 32));
    x3 = _mm_xor_si128(Fold(x3, by512), Load128(p + 48));
  }
  __m128i x = _mm_xor_si128(Fold(x0, by128), x1);
  x = _mm_xor_si128(Fold(x, by128), x2);
  x = _mm_xor_si128(Fold(x, by128), x3);
  for (; size >= 16; p += 16, size -= 16) x = _mm_xor_si128(Fold(x, by128), Load128(p));
  uint8_t last[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(last), x);
  return SlicedUpdate(0, last, sizeof last);
}

bool HasCarryless() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
  return has;
}
#endif

}  // namespace

uint32_t Crc32Update(uint32_t reg, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
#if CRC32_CARRYLESS
  if (size >= 64 && HasCarryless()) reg = FoldedUpdate(reg, p, size);
#endif
  return SlicedUpdate(reg, p, size);
}
