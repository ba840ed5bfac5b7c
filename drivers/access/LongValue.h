// Memo values. A row holds a 12-byte field: the data length (3 bytes) and a flag, a row
// pointer and 4 unused bytes. Short data follows the field in the row (flag 0x80); longer
// data takes one row of a long-value page (0x40); data longer than a page is a chain of rows,
// each starting with the pointer to the next (0x00).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "drivers/access/Bytes.h"

namespace quillon::drivers::access {

class PageFile;

class LongValueWriter {
 public:
  explicit LongValueWriter(PageFile& file) : m_file(file) {}

  // The field for `data` as it goes into the row; `rowSize` is the row's size so far, which
  // decides whether the data may stay inline.
  std::vector<std::uint8_t> Store(std::span<const std::uint8_t> data, std::size_t rowSize);
  // Writes the long-value page being filled.
  void Flush();

 private:
  std::uint32_t PlaceRow(std::span<const std::uint8_t> row);

  PageFile& m_file;
  Page m_page{};
  std::uint32_t m_pageNumber = 0;
  bool m_open = false;
};

}  // namespace quillon::drivers::access
