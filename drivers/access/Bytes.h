// Jet pages and the byte helpers their fields are read and written with.
#pragma once

#include <array>
#include <cstdint>

#include "drivers/access/Jet4Format.h"
#include "platform/bytes/Bytes.h"

namespace quillon::drivers::access {

using Page = std::array<std::uint8_t, jet4::kPageSize>;

using bytes::GetDouble;
using bytes::GetU16;
using bytes::GetU24;
using bytes::GetU32;
using bytes::PutDouble;
using bytes::PutU16;
using bytes::PutU24;
using bytes::PutU32;

// A row pointer as Jet stores it: row number in the low byte, page above.
inline std::uint32_t RowPointer(std::uint32_t page, std::uint32_t row) { return (page << 8) | row; }

}  // namespace quillon::drivers::access
