// Table definitions (TDEF pages): the column records and names of a table, its row count and
// the pointers to its usage maps, and its indexes (only the catalog's are written here).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "drivers/access/Jet4Format.h"

namespace quillon::drivers::access {

struct ColumnSpec {
  std::u16string name;
  jet4::ColumnType type = jet4::ColumnType::Long;
  std::uint16_t length = 0;  // bytes in the row: Text holds 2 bytes a character
  std::uint16_t number = 0;  // also the column's bit in the null mask
  std::uint16_t varIndex = 0;
  std::uint16_t fixedOffset = 0;
  // Memo and OLE columns: row pointers of the maps of the column's long-value pages and of
  // those among them with free space (0: none).
  std::uint32_t longValueMap = 0;
  std::uint32_t longValueFreeMap = 0;
};

struct IndexColumn {
  std::uint16_t number = 0;  // the column's number
  bool ascending = true;
};

// An index as stored (a "real" index): its columns, its pages and their map.
struct RealIndex {
  std::vector<IndexColumn> columns;
  std::uint32_t usageMap = 0;   // row pointer of the map of the index's pages
  std::uint32_t firstPage = 0;  // the root page
  std::uint8_t flags = 0;
};

// An index by name, as Access lists it, over one real index.
struct LogicalIndex {
  std::u16string name;
  std::uint32_t number = 0;
  std::uint32_t realIndex = 0;
  std::uint8_t type = 0;
};

struct TableDefinition {
  std::vector<ColumnSpec> columns;
  bool system = false;
  std::uint32_t rowCount = 0;
  std::uint32_t usageMap = 0;  // row pointers (page << 8 | row)
  std::uint32_t freeMap = 0;
  std::uint16_t varColumnCount = 0;
  std::uint16_t fixedSize = 0;          // bytes of fixed data after the column count
  std::vector<std::size_t> varColumns;  // positions in `columns`, by variable index
  std::vector<RealIndex> realIndexes;
  std::vector<LogicalIndex> indexes;  // stored in this order
  // Read back only: the length the definition states, and the bytes it takes up to and
  // including its end marker (0 when the marker was not found).
  std::uint32_t statedLength = 0;
  std::size_t length = 0;
};

// Numbers the columns in order and assigns variable indexes and fixed offsets.
void LayOutColumns(TableDefinition& table);

// The definition as stored, spread over pages: element 0 is the first page's bytes, the
// rest are continuation pages. Each element is a whole page except for its next-page pointer,
// which the caller fills in (jet4::tdef::kNextPageOffset) once the pages are placed.
std::vector<std::vector<std::uint8_t>> EncodeTableDefinition(const TableDefinition& table);

// Reads a definition from its pages concatenated (continuation pages without their 8-byte
// header). Throws CDBException when the bytes do not hold a definition.
TableDefinition DecodeTableDefinition(std::span<const std::uint8_t> bytes);

}  // namespace quillon::drivers::access
