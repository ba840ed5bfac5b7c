#include "drivers/access/Catalog.h"

#include <algorithm>
#include <optional>

#include "drivers/access/Bytes.h"
#include "drivers/access/DataPage.h"
#include "drivers/access/Index.h"
#include "drivers/access/PageFile.h"
#include "drivers/access/RowWriter.h"
#include "drivers/access/UsageMap.h"
#include "platform/errors/Errors.h"

namespace quillon::drivers::access {
namespace {

using jet4::ColumnType;
namespace cat = jet4::catalog;

constexpr std::uint16_t kTextBytes = jet4::kMaxTextChars * 2;
constexpr std::uint16_t kAccessObjectsDataBytes = 3992;
constexpr std::size_t kTdefContinuationHeader = 8;
// Far more than 255 columns and their names take: a longer chain of pages is damaged.
constexpr std::size_t kMaxDefinitionBytes = std::size_t{1} << 20;

struct ColumnTemplate {
  const char16_t* name;
  ColumnType type;
  std::uint16_t length;
};

TableDefinition SystemTable(std::initializer_list<ColumnTemplate> columns) {
  TableDefinition table;
  table.system = true;
  for (const auto& c : columns) table.columns.push_back({c.name, c.type, c.length, 0, 0, 0});
  LayOutColumns(table);
  return table;
}

[[noreturn]] void ThrowCatalogDamaged() { throw odbc::errors::CatalogUnreadable(); }

std::size_t ColumnIndex(const TableDefinition& table, std::u16string_view name) {
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    if (table.columns[i].name == name) return i;
  }
  ThrowCatalogDamaged();
}

}  // namespace

TableDefinition CatalogDefinition() {
  return SystemTable({{u"Id", ColumnType::Long, 0},
                      {u"ParentId", ColumnType::Long, 0},
                      {u"Name", ColumnType::Text, kTextBytes},
                      {u"Type", ColumnType::Integer, 0},
                      {u"DateCreate", ColumnType::DateTime, 0},
                      {u"DateUpdate", ColumnType::DateTime, 0},
                      {u"Owner", ColumnType::Binary, kTextBytes},
                      {u"Flags", ColumnType::Long, 0},
                      {u"Database", ColumnType::Memo, 0},
                      {u"Connect", ColumnType::Memo, 0},
                      {u"ForeignName", ColumnType::Text, kTextBytes},
                      {u"RmtInfoShort", ColumnType::Binary, kTextBytes},
                      {u"RmtInfoLong", ColumnType::Ole, 0},
                      {u"Lv", ColumnType::Ole, 0},
                      {u"LvProp", ColumnType::Ole, 0},
                      {u"LvModule", ColumnType::Ole, 0},
                      {u"LvExtra", ColumnType::Ole, 0}});
}

TableDefinition AcesDefinition() {
  return SystemTable({{u"ObjectId", ColumnType::Long, 0},
                      {u"SID", ColumnType::Binary, kTextBytes},
                      {u"ACM", ColumnType::Long, 0},
                      {u"FInheritable", ColumnType::Bit, 0}});
}

TableDefinition QueriesDefinition() {
  return SystemTable({{u"ObjectId", ColumnType::Long, 0},
                      {u"Attribute", ColumnType::Byte, 0},
                      {u"Order", ColumnType::Binary, kTextBytes},
                      {u"Name1", ColumnType::Text, kTextBytes},
                      {u"Name2", ColumnType::Text, kTextBytes},
                      {u"Expression", ColumnType::Memo, 0},
                      {u"Flag", ColumnType::Integer, 0},
                      {u"LvExtra", ColumnType::Long, 0}});
}

TableDefinition RelationshipsDefinition() {
  return SystemTable({{u"szRelationship", ColumnType::Text, kTextBytes},
                      {u"grbit", ColumnType::Long, 0},
                      {u"ccolumn", ColumnType::Long, 0},
                      {u"icolumn", ColumnType::Long, 0},
                      {u"szObject", ColumnType::Text, kTextBytes},
                      {u"szColumn", ColumnType::Text, kTextBytes},
                      {u"szReferencedObject", ColumnType::Text, kTextBytes},
                      {u"szReferencedColumn", ColumnType::Text, kTextBytes}});
}

TableDefinition AccessObjectsDefinition() {
  auto table = SystemTable({{u"Data", ColumnType::FixedBinary, kAccessObjectsDataBytes}, {u"ID", ColumnType::Long, 0}});
  table.system = false;  // Access keeps it as an ordinary table flagged hidden in the catalog
  return table;
}

std::vector<std::uint8_t> EncodeCatalogRow(const CatalogEntry& entry, double date) {
  const auto table = CatalogDefinition();
  std::vector<Value> values(table.columns.size());
  values[ColumnIndex(table, u"Id")] = Value::Int(entry.id);
  values[ColumnIndex(table, u"ParentId")] = Value::Int(entry.parentId);
  values[ColumnIndex(table, u"Name")] = Value::Str(entry.name);
  values[ColumnIndex(table, u"Type")] = Value::Int(entry.type);
  values[ColumnIndex(table, u"DateCreate")] = Value::Real(date);
  values[ColumnIndex(table, u"DateUpdate")] = Value::Real(date);
  values[ColumnIndex(table, u"Flags")] = Value::Int(static_cast<std::int32_t>(entry.flags));
  if (!entry.properties.empty()) values[ColumnIndex(table, u"LvProp")] = Value::Bytes(entry.properties);
  // The catalog's long values written here are short and stay in their row.
  namespace lv = jet4::long_value;
  return EncodeRow(table, values, [](const ColumnSpec&, std::span<const std::uint8_t> data, std::size_t rowSize) {
    if (data.size() > lv::kMaxInline || rowSize + lv::kHeaderSize + data.size() > lv::kMaxInline) {
      throw odbc::errors::CatalogValueTooLong();
    }
    std::vector<std::uint8_t> field(lv::kHeaderSize + data.size(), 0);
    PutU24(field.data(), static_cast<std::uint32_t>(data.size()));
    field[lv::kFlagOffset] = lv::kInlineFlag;
    std::copy(data.begin(), data.end(), field.begin() + static_cast<std::ptrdiff_t>(lv::kHeaderSize));
    return field;
  });
}

namespace {

// The definition starting at `page`, its pages concatenated (continuations without their
// header), and the pages it takes, in order.
std::vector<std::uint8_t> ReadDefinitionBytes(const PageFile& file, std::uint32_t page,
                                              std::vector<std::uint32_t>& pages) {
  std::vector<std::uint8_t> bytes;
  Page buffer{};
  pages.clear();
  while (page != 0) {
    if (page >= file.PageCount() || pages.size() >= jet4::kMaxPages) ThrowCatalogDamaged();
    pages.push_back(page);
    file.Read(page, buffer);
    if (buffer[0] != jet4::page_type::kTableDefinition) ThrowCatalogDamaged();
    bytes.insert(bytes.end(),
                 buffer.begin() + (bytes.empty() ? 0 : static_cast<std::ptrdiff_t>(kTdefContinuationHeader)),
                 buffer.end());
    page = GetU32(buffer.data() + jet4::tdef::kNextPageOffset);
    if (bytes.size() > kMaxDefinitionBytes) ThrowCatalogDamaged();
  }
  return bytes;
}

// Mends one definition when it has the marks of one this driver wrote with the length field
// 8 short: the field is exactly 8 less than the bytes the definition takes, every byte after
// its end marker is zero, and each page's free space is what that writer put there. Anything
// else is left as it is.
bool MendDefinitionLength(PageFile& file, std::uint32_t first) {
  std::vector<std::uint32_t> pages;
  TableDefinition table;
  std::vector<std::uint8_t> bytes;
  try {
    bytes = ReadDefinitionBytes(file, first, pages);
    table = DecodeTableDefinition(bytes);
  } catch (const odbc::CDBException&) {
    return false;
  }
  constexpr std::size_t kShortBy = jet4::tdef::kContinuationHeaderSize;
  if (table.length == 0 || table.length != std::size_t{table.statedLength} + kShortBy) return false;
  if (std::any_of(bytes.begin() + static_cast<std::ptrdiff_t>(table.length), bytes.end(),
                  [](std::uint8_t b) { return b != 0; })) {
    return false;
  }
  // The pages the definition needs, and the free space that writer gave each.
  std::vector<Page> buffers(pages.size());
  std::size_t left = table.length;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const std::size_t start = i == 0 ? 0 : kTdefContinuationHeader;
    const std::size_t take = std::min(left, jet4::kPageSize - start);
    if (take == 0) return false;
    left -= take;
    file.Read(pages[i], buffers[i]);
    if (GetU16(buffers[i].data() + jet4::tdef::kFreeSpaceOffset) != jet4::kPageSize - start - take) return false;
    const std::size_t used = start + take + jet4::tdef::kFreeSpaceReserve;
    PutU16(buffers[i].data() + jet4::tdef::kFreeSpaceOffset,
           static_cast<std::uint16_t>(used < jet4::kPageSize ? jet4::kPageSize - used : 0));
  }
  if (left != 0) return false;
  PutU32(buffers.front().data() + jet4::tdef::kLengthOffset, static_cast<std::uint32_t>(table.length));
  for (std::size_t i = 0; i < pages.size(); ++i) file.Write(pages[i], buffers[i]);
  return true;
}

}  // namespace

TableDefinition ReadTableDefinition(const PageFile& file, std::uint32_t page) {
  std::vector<std::uint32_t> pages;
  return DecodeTableDefinition(ReadDefinitionBytes(file, page, pages));
}

std::size_t MendDefinitionLengths(PageFile& file, const std::vector<CatalogEntry>& catalog) {
  std::vector<std::uint32_t> firsts = {cat::kTdefPage};
  for (const auto& entry : catalog) {
    if (IsTableEntry(entry)) firsts.push_back(static_cast<std::uint32_t>(entry.id) & cat::kIdPageMask);
  }
  std::sort(firsts.begin(), firsts.end());
  firsts.erase(std::unique(firsts.begin(), firsts.end()), firsts.end());
  std::size_t mended = 0;
  for (const std::uint32_t first : firsts) {
    if (first != 0 && first < file.PageCount() && MendDefinitionLength(file, first)) ++mended;
  }
  return mended;
}

std::vector<CatalogEntry> ReadCatalog(const PageFile& file) {
  const TableDefinition table = ReadTableDefinition(file, cat::kTdefPage);
  const std::size_t id = ColumnIndex(table, u"Id");
  const std::size_t parentId = ColumnIndex(table, u"ParentId");
  const std::size_t name = ColumnIndex(table, u"Name");
  const std::size_t type = ColumnIndex(table, u"Type");
  const std::size_t flags = ColumnIndex(table, u"Flags");
  std::vector<CatalogEntry> entries;
  Page page{};
  for (const std::uint32_t number : MapPages(file, table.usageMap)) {
    if (number >= file.PageCount()) ThrowCatalogDamaged();
    file.Read(number, page);
    if (page[0] != jet4::page_type::kData || GetU32(page.data() + jet4::data_page::kOwnerOffset) != cat::kTdefPage) {
      continue;
    }
    for (std::uint16_t row = 0; row < RowCount(page); ++row) {
      std::span<const std::uint8_t> bytes = RowAt(static_cast<const Page&>(page), row);
      Page moved{};
      if (IsOverflowPointer(page, row)) {
        // The row was moved when it grew: read it where it is now.
        if (bytes.size() < jet4::kU32Size) continue;
        const std::uint32_t pointer = GetU32(bytes.data());
        if ((pointer >> 8) == 0 || (pointer >> 8) >= file.PageCount()) ThrowCatalogDamaged();
        file.Read(pointer >> 8, moved);
        const auto movedRow = static_cast<std::uint16_t>(pointer & 0xFF);
        if (moved[0] != jet4::page_type::kData || movedRow >= RowCount(moved)) ThrowCatalogDamaged();
        bytes = RawRowAt(moved, movedRow);
      }
      if (bytes.empty()) continue;
      const auto values = DecodeRow(table, bytes);
      CatalogEntry entry;
      entry.id = static_cast<std::int32_t>(values[id].integer);
      entry.parentId = static_cast<std::int32_t>(values[parentId].integer);
      entry.name = values[name].text;
      entry.type = static_cast<std::int16_t>(values[type].integer);
      entry.flags = static_cast<std::uint32_t>(values[flags].integer);
      entries.push_back(std::move(entry));
    }
  }
  return entries;
}

void AddSystemRow(PageFile& file, std::uint32_t tdefPage, std::span<const std::uint8_t> row) {
  const TableDefinition table = ReadTableDefinition(file, tdefPage);
  // The row's index keys are made before it is placed: a key that cannot be made stops here.
  auto pending = PrepareIndexEntries(file, tdefPage, table, DecodeRow(table, row));
  auto pages = MapPages(file, table.usageMap);
  Page page{};
  std::optional<std::uint32_t> placed;
  for (auto it = pages.rbegin(); it != pages.rend() && !placed; ++it) {
    if (*it >= file.PageCount()) continue;
    file.Read(*it, page);
    if (page[0] != jet4::page_type::kData || GetU32(page.data() + jet4::data_page::kOwnerOffset) != tdefPage) continue;
    if (const auto index = AddRow(page, row)) {
      file.Write(*it, page);
      placed = RowPointer(*it, *index);
    }
  }
  if (!placed) {
    InitDataPage(page, tdefPage);
    const auto index = AddRow(page, row);
    const std::uint32_t number = file.Allocate();
    if (!index || !AddPageToMap(file, table.usageMap, number)) {
      throw odbc::errors::SystemTablesFull();
    }
    file.Write(number, page);
    placed = RowPointer(number, *index);
  }
  AddIndexEntries(file, tdefPage, table, std::move(pending), *placed);
  Page tdef{};
  file.Read(tdefPage, tdef);
  const std::uint32_t rows = GetU32(tdef.data() + jet4::tdef::kRowCountOffset) + 1;
  PutU32(tdef.data() + jet4::tdef::kRowCountOffset, rows);
  // Each index counts the rows it holds too.
  for (std::size_t i = 0; i < table.realIndexes.size(); ++i) {
    const std::size_t at =
        jet4::tdef::kHeaderSize + i * jet4::tdef::kRealIndexEntrySize + jet4::index_def::kRowCountInEntry;
    if (at + jet4::kU32Size <= tdef.size()) PutU32(tdef.data() + at, rows);
  }
  file.Write(tdefPage, tdef);
}

void AddCatalogRow(PageFile& file, const std::vector<std::uint8_t>& row) { AddSystemRow(file, cat::kTdefPage, row); }

void CheckSystemIndexes(const PageFile& file, std::uint32_t tdefPage) {
  const TableDefinition table = ReadTableDefinition(file, tdefPage);
  for (const auto& index : table.realIndexes) {
    for (const auto& column : index.columns) {
      const auto it = std::find_if(table.columns.begin(), table.columns.end(),
                                   [&](const ColumnSpec& c) { return c.number == column.number; });
      const bool keyed =
          it != table.columns.end() && column.ascending &&
          (it->type == ColumnType::Long || it->type == ColumnType::Integer || it->type == ColumnType::Text);
      if (!keyed) {
        throw odbc::errors::SystemIndexNotUpdatable();
      }
    }
    ReadIndexEntries(file, tdefPage, index.firstPage);
  }
}

void CopyPermissions(PageFile& file, std::uint32_t acesTdefPage, std::int32_t fromObject, std::int32_t toObject) {
  const TableDefinition table = ReadTableDefinition(file, acesTdefPage);
  const ColumnSpec* objectId = nullptr;
  for (const auto& column : table.columns) {
    if (column.name == u"ObjectId" && column.type == ColumnType::Long) objectId = &column;
  }
  if (objectId == nullptr) return;
  const std::size_t at = jet4::row::kColumnCountSize + objectId->fixedOffset;
  std::vector<std::vector<std::uint8_t>> copies;
  Page page{};
  for (const std::uint32_t number : MapPages(file, table.usageMap)) {
    if (number >= file.PageCount()) continue;
    file.Read(number, page);
    if (page[0] != jet4::page_type::kData || GetU32(page.data() + jet4::data_page::kOwnerOffset) != acesTdefPage)
      continue;
    for (std::uint16_t row = 0; row < RowCount(page); ++row) {
      const auto bytes = RowAt(page, row);
      const auto values = DecodeRow(table, bytes);
      if (bytes.size() < at + jet4::kU32Size || values.empty()) continue;
      const auto index = static_cast<std::size_t>(objectId - table.columns.data());
      if (values[index].kind != Value::Kind::Integer || values[index].integer != fromObject) continue;
      std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
      PutU32(copy.data() + at, static_cast<std::uint32_t>(toObject));
      copies.push_back(std::move(copy));
    }
  }
  for (const auto& copy : copies) AddSystemRow(file, acesTdefPage, copy);
}

bool IsTableEntry(const CatalogEntry& entry) { return (entry.type & cat::kTypeMask) == cat::kTypeTable; }

}  // namespace quillon::drivers::access
