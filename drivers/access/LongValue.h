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

// The long values of one column. Its pages are its own and are listed in the column's map of
// owned pages (a row pointer; 0 for none), as Jet keeps them.
class LongValueWriter {
 public:
  LongValueWriter(PageFile& file, std::uint32_t ownedMap) : m_file(file), m_ownedMap(ownedMap) {}

  // The field for `data` as it goes into the row; `rowSize` is the row's size so far, which
  // decides whether the data may stay inline.
  std::vector<std::uint8_t> Store(std::span<const std::uint8_t> data, std::size_t rowSize);
  // Writes the long-value page being filled and lists the pages written in the column's map.
  // Throws CDBException when the map cannot list them.
  void Flush();
  // Writes what Flush writes and goes on as if it had not: the page being filled stays open
  // and the pages listed are listed again by the next Flush. For a checkpoint, whose changes to
  // the maps are undone after (PageFile::Undo).
  void WriteSoFar();

 private:
  std::uint32_t PlaceRow(std::span<const std::uint8_t> row);
  void WritePage();
  void MapPages();

  PageFile& m_file;
  std::uint32_t m_ownedMap = 0;
  Page m_page{};
  std::uint32_t m_pageNumber = 0;
  bool m_open = false;
  std::vector<std::uint32_t> m_unmapped;  // pages written, not yet in the map
};

}  // namespace quillon::drivers::access
