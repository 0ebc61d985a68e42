// The wire's numbers are big-endian: high byte first.
#pragma once

#include <cstdint>

inline void PutBigEndian16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}

inline void PutBigEndian32(std::uint8_t* at, std::uint32_t value) {
  PutBigEndian16(at, static_cast<std::uint16_t>(value >> 16));
  PutBigEndian16(at + 2, static_cast<std::uint16_t>(value));
}

inline std::uint16_t GetBigEndian16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}
