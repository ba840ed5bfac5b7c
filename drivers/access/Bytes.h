// Little-endian reads and writes into page buffers.
#pragma once

#include <cstdint>
#include <cstring>
#include <array>

#include "drivers/access/Jet4Format.h"

namespace quillon::drivers::access {

using Page = std::array<std::uint8_t, jet4::kPageSize>;

inline void PutU16(std::uint8_t* at, std::uint16_t v) {
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU24(std::uint8_t* at, std::uint32_t v) {
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
  at[2] = static_cast<std::uint8_t>(v >> 16);
}
inline void PutU32(std::uint8_t* at, std::uint32_t v) {
  PutU16(at, static_cast<std::uint16_t>(v));
  PutU16(at + 2, static_cast<std::uint16_t>(v >> 16));
}
inline void PutDouble(std::uint8_t* at, double v) { std::memcpy(at, &v, sizeof v); }

inline std::uint16_t GetU16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}
inline std::uint32_t GetU24(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0] | (at[1] << 8) | (at[2] << 16));
}
inline std::uint32_t GetU32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(GetU16(at)) | (static_cast<std::uint32_t>(GetU16(at + 2)) << 16);
}
inline double GetDouble(const std::uint8_t* at) {
  double v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

// A row pointer as Jet stores it: row number in the low byte, page above.
inline std::uint32_t RowPointer(std::uint32_t page, std::uint32_t row) { return (page << 8) | row; }

}  // namespace quillon::drivers::access
