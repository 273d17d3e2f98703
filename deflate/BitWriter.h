// Bit output: codes are appended least significant bit first (the order of
// RFC 1951), gathered into bytes in the run's 1,024-byte output buffer and
// handed to WriteOutput a buffer at a time.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "Checks.h"
#include "EncoderState.h"

namespace deflate_internal {

inline void flush_output(EncoderState& s) {
  if (s.out_len > 0) {
    const unsigned count = s.out_len;
    s.out_len = 0;
    s.host->WriteOutput(s.out_buf, 1, count);
  }
}

inline void emit_byte(EncoderState& s, uint8_t b) {
  if (s.out_len >= kOutBufSize) flush_output(s);
  s.out_buf[s.out_len++] = b;
}

inline void emit_word(EncoderState& s, unsigned w) {
  emit_byte(s, static_cast<uint8_t>(w));
  emit_byte(s, static_cast<uint8_t>(w >> 8));
}

// The low eight bytes of bits, least significant first, at out.
inline void store_le64(uint8_t* out, uint64_t bits) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, &bits, sizeof bits);
  } else {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(bits >> (8 * i));
  }
}

// The bit writer's state held in locals for the length of a loop, since every
// byte stored into the output buffer would otherwise make the compiler reload
// the state from the run's record. Written back when it goes out of scope.
//
// Whole bytes leave the bit buffer eight at a time (a word store; the bytes
// beyond the whole ones are rewritten by the next store), and the output
// buffer is handed over as soon as it holds 1,024 bytes, the rest kept for
// the next piece: WriteOutput gets the same 1,024-byte pieces as ever.
class BitSink {
 public:
  explicit BitSink(EncoderState& s)
      : s_(s), bit_buf_(s.bit_buf), bit_count_(s.bit_count), out_len_(s.out_len) {}
  BitSink(const BitSink&) = delete;
  BitSink& operator=(const BitSink&) = delete;
  ~BitSink() {
    s_.bit_buf = bit_buf_;
    s_.bit_count = bit_count_;
    s_.out_len = out_len_;
  }

  // Appends the low length bits of value (length up to 32; value has no
  // higher bits).
  void put(uint64_t value, int length) {
    bit_buf_ |= value << bit_count_;
    bit_count_ += length;
    if (bit_count_ >= 32) drain();
  }

  // Moves the whole bytes of the bit buffer to the output buffer.
  void drain() {
    drain_bytes();
    if (out_len_ >= kOutBufSize) hand_over();
  }

  // Appends up to 48 bits (a symbol), and moves the whole bytes out; at most
  // 7 bits are left, so the next call has room. The first call must follow a
  // drain(). The output buffer is not handed over: at most kSymbolsPerLook
  // calls may come between two of hand_over_full, which the buffer has room for.
  void put_and_keep(uint64_t value, int length) {
    bit_buf_ |= value << bit_count_;
    bit_count_ += length;
    drain_bytes();
  }
  void hand_over_full() {
    while (out_len_ >= kOutBufSize) hand_over();
  }

 private:
  void drain_bytes() {
    DEFLATE_CHECK(bit_count_ < 64, "bit buffer overrun");
    DEFLATE_CHECK(out_len_ < kOutBufSize + 6 * kSymbolsPerLook + 8, "output buffer overrun");
    store_le64(s_.out_buf + out_len_, bit_buf_);
    const int bytes = bit_count_ >> 3;  // at most 7
    out_len_ += static_cast<unsigned>(bytes);
    bit_buf_ >>= 8 * bytes;
    bit_count_ &= 7;
  }
  void hand_over() {
    s_.host->WriteOutput(s_.out_buf, 1, kOutBufSize);
    out_len_ -= kOutBufSize;
    std::memmove(s_.out_buf, s_.out_buf + kOutBufSize, out_len_);
  }

  EncoderState& s_;
  uint64_t bit_buf_;
  int bit_count_;
  unsigned out_len_;
};

inline void put_bits(EncoderState& s, uint32_t value, int length) {
  BitSink(s).put(value, length);
}

inline void send_bits(EncoderState& s, unsigned value, int length) {
  DEFLATE_CHECK(length >= 1 && length <= 15, "invalid length in send_bits");
  put_bits(s, value, length);
}

// Pads with zero bits to a byte boundary and hands over the output buffer.
inline void align_to_byte(EncoderState& s) {
  while (s.bit_count > 0) {
    emit_byte(s, static_cast<uint8_t>(s.bit_buf));
    s.bit_buf >>= 8;
    s.bit_count -= 8;
  }
  flush_output(s);
  s.bit_buf = 0;
  s.bit_count = 0;
}

enum class StoredHeader { kWithout, kWith };

// Writes len bytes of the window as they are, after the two length words of a
// stored block when asked; the payload goes to WriteOutput without a copy.
inline void write_stored(EncoderState& s, const uint8_t* data, unsigned len, StoredHeader header) {
  align_to_byte(s);
  if (header == StoredHeader::kWith) {
    emit_word(s, len);
    emit_word(s, len ^ 0xFFFF);
  }
  flush_output(s);
  if (len > 0) s.host->WriteOutput(data, 1, len);
}

}  // namespace deflate_internal
