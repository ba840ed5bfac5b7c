#include <algorithm>
#include <array>
#include <limits>

#include <gtest/gtest.h>

#include "platform/bytes/Bytes.h"

namespace quillon::bytes {
namespace {

TEST(Bytes, LittleEndianFieldsLieLowByteFirstAndReadBack) {
  std::array<std::uint8_t, 10> buffer{};
  PutU16(buffer.data(), 0xA1B2);
  PutU24(buffer.data() + 2, 0xC3D4E5);
  PutU32(buffer.data() + 5, 0xF6071829);
  EXPECT_EQ(buffer, (std::array<std::uint8_t, 10>{0xB2, 0xA1, 0xE5, 0xD4, 0xC3, 0x29, 0x18, 0x07, 0xF6, 0x00}));
  EXPECT_EQ(GetU16(buffer.data()), 0xA1B2);
  EXPECT_EQ(GetU24(buffer.data() + 2), 0xC3D4E5u);
  EXPECT_EQ(GetU32(buffer.data() + 5), 0xF6071829u);

  std::array<std::uint8_t, 8> number{};
  for (double value : {0.0, -1.5, 1e308, std::numeric_limits<double>::denorm_min()}) {
    PutDouble(number.data(), value);
    EXPECT_EQ(GetDouble(number.data()), value);
  }
  PutDouble(number.data(), 1.0);  // 0x3FF0000000000000 as a file stores it
  EXPECT_EQ(number, (std::array<std::uint8_t, 8>{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
}

// Index keys rely on big-endian bytes comparing in the numbers' order.
TEST(Bytes, BigEndianBytesCompareInTheOrderOfTheirValues) {
  const std::array<std::uint32_t, 5> values{0, 0xFF, 0x100, 0xFFFF00, 0xFFFFFF};
  std::vector<std::vector<std::uint8_t>> keys;
  for (std::uint32_t value : values) {
    std::vector<std::uint8_t> key{0x7F};  // whatever the buffer held before is kept
    AppendBigEndian(key, value, 3);
    ASSERT_EQ(key.size(), 4u);
    EXPECT_EQ(GetBigEndian(key.data() + 1, 3), value);
    keys.push_back(key);
  }
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  std::vector<std::uint8_t> wide;
  AppendBigEndian(wide, 0x01020304, 4);
  EXPECT_EQ(wide, (std::vector<std::uint8_t>{1, 2, 3, 4}));
  AppendBigEndian(wide, 0x01020304, 2);  // only the low bytes
  EXPECT_EQ(GetBigEndian(wide.data() + 4, 2), 0x0304u);
}

}  // namespace
}  // namespace quillon::bytes
