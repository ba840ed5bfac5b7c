#include "drivers/access/TableDefinition.h"

#include <algorithm>

#include "drivers/access/Bytes.h"
#include "platform/errors/Errors.h"

namespace quillon::drivers::access {
namespace {

namespace td = jet4::tdef;
namespace cr = jet4::column_record;
namespace ix = jet4::index_def;

constexpr std::size_t kContinuationHeader = td::kContinuationHeaderSize;
// Every column record carries the sort order the database was created with.
constexpr std::uint16_t kGeneralSortOrder = 0x0409;

[[noreturn]] void ThrowMalformed() { throw odbc::errors::DatabaseDamaged(L"table definition"); }

}  // namespace

void LayOutColumns(TableDefinition& table) {
  std::uint16_t number = 0;
  std::uint16_t varIndex = 0;
  std::uint16_t fixedOffset = 0;
  for (auto& column : table.columns) {
    column.number = number++;
    if (jet4::IsVariable(column.type)) {
      column.varIndex = varIndex++;
      column.fixedOffset = 0;
    } else {
      // As Jet writes it: a fixed column carries the number of variable columns before it,
      // and a Yes/No column, which has no fixed data, offset 0.
      column.varIndex = varIndex;
      column.fixedOffset = column.type == jet4::ColumnType::Bit ? 0 : fixedOffset;
      if (column.type == jet4::ColumnType::FixedBinary) {
        fixedOffset = static_cast<std::uint16_t>(fixedOffset + column.length);
      } else {
        column.length = static_cast<std::uint16_t>(jet4::FixedSize(column.type));
        fixedOffset = static_cast<std::uint16_t>(fixedOffset + column.length);
      }
      if (column.type == jet4::ColumnType::Bit) column.length = 1;
    }
  }
  table.varColumnCount = varIndex;
  table.fixedSize = fixedOffset;
  table.varColumns.assign(varIndex, 0);
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    if (jet4::IsVariable(table.columns[i].type)) table.varColumns[table.columns[i].varIndex] = i;
  }
}

namespace {

// The fixed header and the real indexes' row-count entries.
std::vector<std::uint8_t> EncodeHeader(const TableDefinition& table) {
  std::vector<std::uint8_t> bytes(td::kHeaderSize, 0);
  bytes[0] = jet4::page_type::kTableDefinition;
  bytes[jet4::kPageMarkerOffset] = jet4::kPageMarker;
  PutU32(&bytes[td::kMagicOffset], td::kMagicTableNumber);
  PutU32(&bytes[td::kRowCountOffset], table.rowCount);
  bytes[td::kAutoNumberFlagOffset] = 1;
  bytes[td::kTableTypeOffset] = table.system ? td::kTableTypeSystem : td::kTableTypeUser;
  const auto columnCount = static_cast<std::uint16_t>(table.columns.size());
  PutU16(&bytes[td::kMaxColumnsOffset], columnCount);
  PutU16(&bytes[td::kVarColumnsOffset], table.varColumnCount);
  PutU16(&bytes[td::kColumnCountOffset], columnCount);
  PutU32(&bytes[td::kIndexCountOffset], static_cast<std::uint32_t>(table.indexes.size()));
  PutU32(&bytes[td::kRealIndexCountOffset], static_cast<std::uint32_t>(table.realIndexes.size()));
  PutU32(&bytes[td::kUsageMapOffset], table.usageMap);
  PutU32(&bytes[td::kFreeMapOffset], table.freeMap);
  for (std::size_t i = 0; i < table.realIndexes.size(); ++i) {
    std::uint8_t entry[td::kRealIndexEntrySize] = {};
    PutU32(entry + ix::kRowCountInEntry, table.rowCount);
    bytes.insert(bytes.end(), std::begin(entry), std::end(entry));
  }
  return bytes;
}

void AppendColumnRecord(const ColumnSpec& column, bool system, std::vector<std::uint8_t>& bytes) {
  std::uint8_t record[td::kColumnRecordSize] = {};
  const bool fixed = !jet4::IsVariable(column.type);
  record[cr::kType] = static_cast<std::uint8_t>(column.type);
  PutU32(record + cr::kTableNumber, td::kMagicTableNumber);
  PutU16(record + cr::kNumber, column.number);
  PutU16(record + cr::kVarIndex, column.varIndex);
  PutU16(record + cr::kIndex, column.number);
  PutU16(record + cr::kSortOrder, kGeneralSortOrder);
  record[cr::kFlags] =
      static_cast<std::uint8_t>((fixed ? cr::kFlagFixed : 0) | cr::kFlagNullable | (system ? cr::kFlagSystem : 0));
  if (!system && (column.type == jet4::ColumnType::Text || column.type == jet4::ColumnType::Memo)) {
    record[cr::kExtFlags] = cr::kExtFlagCompressedUnicode;
  }
  PutU16(record + cr::kFixedOffset, column.fixedOffset);
  PutU16(record + cr::kLength, column.type == jet4::ColumnType::Bit ? 1 : column.length);
  bytes.insert(bytes.end(), std::begin(record), std::end(record));
}

// A column or index name: its byte length, then UTF-16.
void AppendName(std::u16string_view name, std::vector<std::uint8_t>& bytes) {
  const std::size_t at = bytes.size();
  bytes.resize(at + jet4::kU16Size + name.size() * 2);
  PutU16(&bytes[at], static_cast<std::uint16_t>(name.size() * 2));
  for (std::size_t i = 0; i < name.size(); ++i) PutU16(&bytes[at + jet4::kU16Size + 2 * i], name[i]);
}

void AppendRealIndex(const RealIndex& index, std::vector<std::uint8_t>& bytes) {
  std::uint8_t record[ix::kRealIndexSize] = {};
  PutU32(record, ix::kRealIndexMagic);
  for (std::size_t slot = 0; slot < ix::kColumnSlots; ++slot) {
    std::uint8_t* at = record + ix::kColumnSlotsOffset + slot * ix::kColumnSlotSize;
    if (slot < index.columns.size()) {
      PutU16(at, index.columns[slot].number);
      at[jet4::kU16Size] = index.columns[slot].ascending ? ix::kAscending : 0;
    } else {
      PutU16(at, ix::kNoColumn);
    }
  }
  PutU32(record + ix::kUsageMapOffset, index.usageMap);
  PutU32(record + ix::kFirstPageOffset, index.firstPage);
  record[ix::kFlagsOffset] = index.flags;
  bytes.insert(bytes.end(), std::begin(record), std::end(record));
}

void AppendLogicalIndex(const LogicalIndex& index, std::vector<std::uint8_t>& bytes) {
  std::uint8_t record[ix::kLogicalIndexSize] = {};
  PutU32(record, td::kMagicTableNumber);
  PutU32(record + ix::kLogicalNumberOffset, index.number);
  PutU32(record + ix::kLogicalRealIndexOffset, index.realIndex);
  PutU32(record + ix::kLogicalRelatedIndexOffset, ix::kNoRelatedIndex);
  record[ix::kLogicalCascadeUpdatesOffset] = ix::kCascadeNone;
  record[ix::kLogicalCascadeDeletesOffset] = ix::kCascadeNone;
  record[ix::kLogicalTypeOffset] = index.type;
  bytes.insert(bytes.end(), std::begin(record), std::end(record));
}

// A long-value column's own usage maps; other columns have none.
void AppendLongValueMaps(const ColumnSpec& column, std::vector<std::uint8_t>& bytes) {
  if (!jet4::IsLongValue(column.type) || column.longValueMap == 0) return;
  std::uint8_t entry[td::kLongValueMapEntrySize] = {};
  PutU16(entry, column.number);
  PutU32(entry + jet4::kU16Size, column.longValueMap);
  PutU32(entry + jet4::kU16Size + jet4::kU32Size, column.longValueFreeMap);
  bytes.insert(bytes.end(), std::begin(entry), std::end(entry));
}

// Splits a definition over pages: the first carries the header, continuations an 8-byte page header.
std::vector<std::vector<std::uint8_t>> SplitIntoPages(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::vector<std::uint8_t>> pages;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::vector<std::uint8_t> page(jet4::kPageSize, 0);
    std::size_t start = 0;
    if (pages.empty()) {
      start = 0;
    } else {
      page[0] = jet4::page_type::kTableDefinition;
      page[jet4::kPageMarkerOffset] = jet4::kPageMarker;
      start = kContinuationHeader;
    }
    const std::size_t take = std::min(bytes.size() - at, jet4::kPageSize - start);
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), take,
                page.begin() + static_cast<std::ptrdiff_t>(start));
    at += take;
    const std::size_t used = start + take + td::kFreeSpaceReserve;
    PutU16(&page[td::kFreeSpaceOffset],
           static_cast<std::uint16_t>(used < jet4::kPageSize ? jet4::kPageSize - used : 0));
    pages.push_back(std::move(page));
  }
  return pages;
}

}  // namespace

std::vector<std::vector<std::uint8_t>> EncodeTableDefinition(const TableDefinition& table) {
  std::vector<std::uint8_t> bytes = EncodeHeader(table);
  for (const auto& column : table.columns) AppendColumnRecord(column, table.system, bytes);
  for (const auto& column : table.columns) AppendName(column.name, bytes);
  for (const auto& index : table.realIndexes) AppendRealIndex(index, bytes);
  for (const auto& index : table.indexes) AppendLogicalIndex(index, bytes);
  for (const auto& index : table.indexes) AppendName(index.name, bytes);
  for (const auto& column : table.columns) AppendLongValueMaps(column, bytes);
  bytes.insert(bytes.end(), std::begin(td::kEnd), std::end(td::kEnd));
  PutU32(&bytes[td::kLengthOffset], static_cast<std::uint32_t>(bytes.size()));
  return SplitIntoPages(bytes);
}

TableDefinition DecodeTableDefinition(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < td::kHeaderSize || bytes[0] != jet4::page_type::kTableDefinition) ThrowMalformed();
  TableDefinition table;
  table.system = bytes[td::kTableTypeOffset] == td::kTableTypeSystem;
  table.rowCount = GetU32(&bytes[td::kRowCountOffset]);
  table.varColumnCount = GetU16(&bytes[td::kVarColumnsOffset]);
  const std::uint16_t columnCount = GetU16(&bytes[td::kColumnCountOffset]);
  const std::uint32_t realIndexes = GetU32(&bytes[td::kRealIndexCountOffset]);
  const std::uint32_t logicalIndexes = GetU32(&bytes[td::kIndexCountOffset]);
  table.usageMap = GetU32(&bytes[td::kUsageMapOffset]);
  table.freeMap = GetU32(&bytes[td::kFreeMapOffset]);
  if (realIndexes > 1000 || logicalIndexes > 1000) ThrowMalformed();
  std::size_t at = td::kHeaderSize + realIndexes * td::kRealIndexEntrySize;
  std::size_t names = at + std::size_t{columnCount} * td::kColumnRecordSize;
  if (names > bytes.size()) ThrowMalformed();
  for (std::uint16_t i = 0; i < columnCount; ++i, at += td::kColumnRecordSize) {
    const std::uint8_t* record = &bytes[at];
    ColumnSpec column;
    column.type = static_cast<jet4::ColumnType>(record[cr::kType]);
    column.number = GetU16(record + cr::kNumber);
    column.varIndex = GetU16(record + cr::kVarIndex);
    column.fixedOffset = GetU16(record + cr::kFixedOffset);
    column.length = GetU16(record + cr::kLength);
    if (names + jet4::kU16Size > bytes.size()) ThrowMalformed();
    const std::uint16_t nameBytes = GetU16(&bytes[names]);
    names += jet4::kU16Size;
    if (names + nameBytes > bytes.size()) ThrowMalformed();
    for (std::size_t c = 0; c + 1 < nameBytes; c += 2) column.name.push_back(GetU16(&bytes[names + c]));
    names += nameBytes;
    table.columns.push_back(std::move(column));
  }
  // The index definitions follow the column names.
  if (names + realIndexes * ix::kRealIndexSize + logicalIndexes * ix::kLogicalIndexSize > bytes.size())
    ThrowMalformed();
  for (std::uint32_t i = 0; i < realIndexes; ++i, names += ix::kRealIndexSize) {
    const std::uint8_t* record = &bytes[names];
    RealIndex index;
    for (std::size_t slot = 0; slot < ix::kColumnSlots; ++slot) {
      const std::uint8_t* slotBytes = record + ix::kColumnSlotsOffset + slot * ix::kColumnSlotSize;
      if (GetU16(slotBytes) == ix::kNoColumn) continue;
      index.columns.push_back({GetU16(slotBytes), (slotBytes[jet4::kU16Size] & ix::kAscending) != 0});
    }
    index.usageMap = GetU32(record + ix::kUsageMapOffset);
    index.firstPage = GetU32(record + ix::kFirstPageOffset);
    index.flags = record[ix::kFlagsOffset];
    table.realIndexes.push_back(std::move(index));
  }
  for (std::uint32_t i = 0; i < logicalIndexes; ++i, names += ix::kLogicalIndexSize) {
    const std::uint8_t* record = &bytes[names];
    LogicalIndex index;
    index.number = GetU32(record + ix::kLogicalNumberOffset);
    index.realIndex = GetU32(record + ix::kLogicalRealIndexOffset);
    index.type = record[ix::kLogicalTypeOffset];
    table.indexes.push_back(std::move(index));
  }
  for (auto& index : table.indexes) {
    if (names + jet4::kU16Size > bytes.size()) ThrowMalformed();
    const std::uint16_t nameBytes = GetU16(&bytes[names]);
    names += jet4::kU16Size;
    if (names + nameBytes > bytes.size()) ThrowMalformed();
    for (std::size_t c = 0; c + 1 < nameBytes; c += 2) index.name.push_back(GetU16(&bytes[names + c]));
    names += nameBytes;
  }
  // The long-value columns' maps, up to the end marker.
  table.statedLength = GetU32(&bytes[td::kLengthOffset]);
  while (names + jet4::kU16Size <= bytes.size()) {
    const std::uint16_t number = GetU16(&bytes[names]);
    if (number == ix::kNoColumn) {
      table.length = names + jet4::kU16Size;
      break;
    }
    if (names + td::kLongValueMapEntrySize > bytes.size()) break;
    for (auto& column : table.columns) {
      if (column.number != number) continue;
      column.longValueMap = GetU32(&bytes[names + jet4::kU16Size]);
      column.longValueFreeMap = GetU32(&bytes[names + jet4::kU16Size + jet4::kU32Size]);
    }
    names += td::kLongValueMapEntrySize;
  }
  std::sort(table.columns.begin(), table.columns.end(),
            [](const ColumnSpec& a, const ColumnSpec& b) { return a.number < b.number; });
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    if (!jet4::IsVariable(table.columns[i].type)) continue;
    if (table.columns[i].varIndex >= table.varColumns.size())
      table.varColumns.resize(table.columns[i].varIndex + 1u, 0);
    table.varColumns[table.columns[i].varIndex] = i;
  }
  return table;
}

}  // namespace quillon::drivers::access
