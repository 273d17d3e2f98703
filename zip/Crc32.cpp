#include "Crc32.h"

#include <bit>
#include <cstring>

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

}  // namespace

uint32_t Crc32Update(uint32_t reg, const void* data, size_t size) {
  const auto& t = kTables.t;
  const auto* p = static_cast<const uint8_t*>(data);
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
