// CRC-32 as ZIP entries carry it (ISO 3309 / ITU-T V.42: reflected polynomial
// 0xEDB88320, register preset to all ones, complemented at the end).
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t Crc32Preset = 0xFFFFFFFFu;

// Runs the register over size bytes: the preset and the final complement are
// the caller's, so a stream can be checked block by block.
uint32_t Crc32Update(uint32_t reg, const void* data, size_t size);

// The CRC-32 of one whole block.
inline uint32_t Crc32(const void* data, size_t size) {
  return ~Crc32Update(Crc32Preset, data, size);
}
