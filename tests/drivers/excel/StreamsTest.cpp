// The spool files cells and strings go through: whatever the sizes of the pieces written (much
// smaller and much larger than the spool's own buffer), the bytes read back are those written.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/excel/SharedStrings.h"
#include "drivers/excel/Streams.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::excel {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = static_cast<std::uint8_t>(seed >> 16);
  }
  return bytes;
}

TEST(TempFile, PiecesOfEverySizeReadBackExactlyWholeInPiecesAndAtOffsets) {
  TempFile file;
  std::vector<std::uint8_t> written;
  std::uint32_t seed = 1;
  for (std::size_t size : {0, 1, 3, 4095, 4096, 65535, 65536, 65537, 200000, 7, 131072, 12}) {
    const std::vector<std::uint8_t> piece = Pattern(size, seed++);
    file.Write(piece.data(), piece.size());
    written.insert(written.end(), piece.begin(), piece.end());
    // Reading at an offset while writing sees everything written so far.
    if (!written.empty()) {
      std::uint8_t last = 0;
      file.ReadAt(written.size() - 1, &last, 1);
      ASSERT_EQ(last, written.back()) << "after a piece of " << size;
    }
  }
  ASSERT_EQ(file.Size(), written.size());

  MemorySink whole;
  CopyTo(file, whole);
  EXPECT_EQ(whole.Bytes(), written);

  // Again, through reads of odd sizes, past the end at last.
  file.Rewind();
  std::vector<std::uint8_t> again;
  for (std::size_t size = 1; again.size() < written.size(); size = size * 3 + 1) {
    std::vector<std::uint8_t> piece(std::min(size, written.size() - again.size()));
    ASSERT_TRUE(file.Read(piece.data(), piece.size()));
    again.insert(again.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(again, written);
  std::uint8_t beyond = 0;
  EXPECT_FALSE(file.Read(&beyond, 1));

  std::vector<std::uint8_t> middle(70000);
  file.ReadAt(100000, middle.data(), middle.size());
  EXPECT_TRUE(std::equal(middle.begin(), middle.end(), written.begin() + 100000));

  // A counting sink takes the size without reading.
  CountingSink count;
  CopyTo(file, count);
  EXPECT_EQ(count.Position(), written.size());
}

// Wide text goes into the string table as its UTF-16 does: the same indexes and the same bytes,
// through repeats, more strings than the cache has slots, and text beyond the BMP or invalid.
TEST(SharedStrings, WideTextIsAddedAsItsUtf16) {
  SpoolFile wideSpool, utf16Spool;
  SharedStrings wide(wideSpool), utf16(utf16Spool);
  std::vector<std::wstring> texts = {
      L"", L"a", L"ab\U0001F600", L"ab\xD83D\xDE00", std::wstring(64, L'x'), std::wstring(65, L'x')};
  for (int i = 0; i < 40000; ++i) texts.push_back(L"text " + std::to_wstring(i * 7919 % 30000));
  for (int round = 0; round < 2; ++round) {
    for (const std::wstring& text : texts) {
      ASSERT_EQ(wide.Add(std::wstring_view(text)), utf16.Add(std::u16string_view(text::WideToUtf16(text))));
    }
  }
  MemorySink wideBytes, utf16Bytes;
  wide.Write(wideBytes);
  utf16.Write(utf16Bytes);
  EXPECT_EQ(wideBytes.Bytes(), utf16Bytes.Bytes());
}

}  // namespace
}  // namespace quillon::drivers::excel
