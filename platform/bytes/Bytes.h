// Fixed-width unsigned integers and doubles in byte buffers: little-endian, as the file formats
// store their fields, and big-endian, as index keys store theirs so that bytes compare in order.
// The caller guarantees the bytes are there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quillon::bytes {

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
// IEEE 754 binary64 in the machine's byte order, which on every target is little-endian.
inline void PutDouble(std::uint8_t* at, double v) { std::memcpy(at, &v, sizeof v); }

inline std::uint16_t GetU16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] | (at[1] << 8)); }
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

// The low `size` bytes of `value` (at most 4), most significant first, appended to `out`.
inline void AppendBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, std::size_t size) {
  for (std::size_t i = size; i-- > 0;) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
// The `size` bytes at `at` (at most 4), most significant first.
inline std::uint32_t GetBigEndian(const std::uint8_t* at, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value = (value << 8) | at[i];
  return value;
}

}  // namespace quillon::bytes
