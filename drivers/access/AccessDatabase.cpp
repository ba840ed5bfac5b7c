#include "drivers/access/AccessDatabase.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <fstream>

#include "drivers/OutputDriver.h"
#include "drivers/access/DataPage.h"
#include "drivers/access/HeaderPage.h"
#include "drivers/access/Index.h"
#include "drivers/access/Properties.h"
#include "drivers/access/RowWriter.h"
#include "drivers/access/UsageMap.h"
#include "platform/errors/Errors.h"
#include "platform/file/FileDescriptor.h"
#include "platform/odbc/AccessNames.h"
#include "platform/text/Characters.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::access {
namespace {

namespace cat = jet4::catalog;

// Data pages whose usage-map bits are set together.
constexpr std::size_t kMapBatch = 256;

// Pages of a new database, in the order they are laid out.
constexpr std::uint32_t kGlobalMapPage = 1;
constexpr std::uint32_t kAcesTdefPage = 3;
constexpr std::uint32_t kQueriesTdefPage = 4;
constexpr std::uint32_t kRelationshipsTdefPage = 5;
constexpr std::uint32_t kSystemMapPage = 6;
constexpr std::uint32_t kAccessObjectsTdefPage = 7;
// The roots of the catalog's indexes: on (ParentId, Name) and on Id.
constexpr std::uint32_t kCatalogNameIndexPage = 8;
constexpr std::uint32_t kCatalogIdIndexPage = 9;
// The root of the permissions' index on ObjectId.
constexpr std::uint32_t kAcesIndexPage = 10;
// Page 1's two rows: the map of free pages (filled in once the file is laid out) and a
// second, empty map, as Access lays them out in a new database.
constexpr std::uint8_t kGlobalMapFill[2] = {0xFF, 0x00};
// The containers of forms, reports and the like take ids from the top bit up.
constexpr std::int32_t kFirstObjectContainerId = static_cast<std::int32_t>(0x80000000u);
constexpr const char16_t* kObjectContainers[] = {u"DataAccessPages", u"Forms",   u"Modules",
                                                 u"Reports",         u"Scripts", u"SysRel"};
// The documents of the database's summary and user-defined properties, in the Databases container.
constexpr std::int16_t kTypePropertyDocument = static_cast<std::int16_t>(0x800B);
// How a refused file is named to the user: "Cannot open 'x' as an Access database: ...".
constexpr const wchar_t* kFormatName = L"an Access database";

std::wstring Wide(std::u16string_view text) { return text::Utf16ToWide(text); }
std::wstring PathText(const std::filesystem::path& path) { return text::Utf8ToWide(path.string()); }

bool SameName(std::u16string_view a, std::u16string_view b) { return text::SameNameIgnoringCase(a, b); }

// Whether two names are the same units, compared as bytes rather than unit by unit.
bool SameUnits(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0;
}

void CheckName(std::u16string_view name, const wchar_t* what) {
  if (!odbc::IsValidAccessName(name)) {
    throw odbc::errors::BadName(Wide(name), what);
  }
}

}  // namespace

struct AccessDatabase::TableWriter {
  std::u16string name;
  TableDefinition definition;
  std::uint32_t tdefPage = 0;
  Page page{};
  std::uint32_t pageNumber = 0;
  bool pageOpen = false;
  // One writer a long-value column, by column position (null for the others).
  std::vector<std::unique_ptr<LongValueWriter>> longValues;
  // Data pages written since the usage map was last brought up to date.
  std::vector<std::uint32_t> unmappedPages;
  // Stores the long values of a row being encoded, made once for all the table's rows.
  LongValueStore storeLongValue;
};

double NowAsJetDate() {
  const std::time_t now = FileTime();
  std::tm local{};
  localtime_r(&now, &local);
  return JetDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

namespace {

// A system table of a new database: where its definition goes, and its catalog row.
struct SystemTable {
  std::uint32_t page;
  TableDefinition definition;
  const char16_t* name;
  std::uint32_t flags;
};

// The global usage map page: which pages of the file are in use.
void WriteGlobalMap(PageFile& file) {
  Page page{};
  InitDataPage(page, 0);
  std::vector<std::uint8_t> globalMap(jet4::usage_map::kRowSize, 0);
  for (const std::uint8_t fill : kGlobalMapFill) {
    std::fill(globalMap.begin() + jet4::usage_map::kInlineBitmapOffset, globalMap.end(), fill);
    AddRow(page, globalMap);
  }
  file.Write(kGlobalMapPage, page);
}

// Gives every system table, and each of its long-value columns, its maps as rows of `page`;
// the catalog and MSysACEs also get their indexes, as Access keeps them.
void PlaceSystemMaps(std::vector<SystemTable>& tables, Page& page) {
  InitDataPage(page, 0);
  for (auto& table : tables) {
    table.definition.usageMap = RowPointer(kSystemMapPage, *AddRow(page, EmptyReferenceMap()));
    table.definition.freeMap = RowPointer(kSystemMapPage, *AddRow(page, EmptyInlineMap()));
    for (auto& column : table.definition.columns) {
      if (!jet4::IsLongValue(column.type)) continue;
      column.longValueMap = RowPointer(kSystemMapPage, *AddRow(page, EmptyInlineMap()));
      column.longValueFreeMap = RowPointer(kSystemMapPage, *AddRow(page, EmptyInlineMap()));
    }
  }
  // The catalog's indexes: a primary key on Id and a unique index on (ParentId, Name); each has
  // its own map of pages.
  auto& catalog = tables.front().definition;
  const auto indexMap = [&](std::uint32_t root) {
    auto map = EmptyInlineMap();
    PutU32(map.data() + jet4::usage_map::kInlineStartOffset, root);
    map[jet4::usage_map::kInlineBitmapOffset] = 1;
    return RowPointer(kSystemMapPage, *AddRow(page, map));
  };
  constexpr std::uint8_t kUniqueFlags = jet4::index_def::kFlagUnique | jet4::index_def::kFlagAlwaysSet;
  catalog.realIndexes = {{{{1, true}, {2, true}}, indexMap(kCatalogNameIndexPage), kCatalogNameIndexPage, kUniqueFlags},
                         {{{0, true}}, indexMap(kCatalogIdIndexPage), kCatalogIdIndexPage, kUniqueFlags}};
  catalog.indexes = {{u"Id", 1, 1, jet4::index_def::kTypePrimaryKey}, {u"ParentIdName", 0, 0, 0}};
  auto& aces = tables[1].definition;
  aces.realIndexes = {{{{0, true}},
                       indexMap(kAcesIndexPage),
                       kAcesIndexPage,
                       jet4::index_def::kFlagRequired | jet4::index_def::kFlagAlwaysSet}};
  aces.indexes = {{u"ObjectId", 0, 0, 0}};
}

// The system tables' pages: their shared map page, their empty indexes and their definitions.
void WriteSystemTables(PageFile& file, const std::vector<SystemTable>& tables, const Page& mapPage) {
  for (std::uint32_t p = kGlobalMapPage + 1; p <= kAcesIndexPage; ++p) file.Allocate();
  file.Write(kSystemMapPage, mapPage);
  for (const auto& index : tables.front().definition.realIndexes) {
    WriteEmptyIndex(file, cat::kTdefPage, index.firstPage);
  }
  WriteEmptyIndex(file, kAcesTdefPage, kAcesIndexPage);
  for (const auto& table : tables) {
    const auto pages = EncodeTableDefinition(table.definition);
    Page tdef{};
    std::copy(pages.front().begin(), pages.front().end(), tdef.begin());
    file.Write(table.page, tdef);
  }
}

// The catalog rows of a new database: its containers, its system tables and its property
// documents (the summary's title is the file's name without its extension).
std::vector<CatalogEntry> NewCatalogEntries(const std::vector<SystemTable>& tables, const std::u16string& title) {
  std::vector<CatalogEntry> entries = {
      {cat::kTablesContainerId, cat::kRootId, u"Tables", cat::kTypeContainer, cat::kFlagSystem, {}},
      {cat::kDatabasesContainerId, cat::kRootId, u"Databases", cat::kTypeContainer, cat::kFlagSystem, {}},
      {cat::kRelationshipsContainerId, cat::kRootId, u"Relationships", cat::kTypeContainer, cat::kFlagSystem, {}},
      {cat::kMSysDbId, cat::kDatabasesContainerId, u"MSysDb", cat::kTypeDatabase, cat::kFlagSystem,
       EncodeProperties(NewDatabaseProperties())},
  };
  for (const auto& table : tables) {
    entries.push_back(
        {static_cast<std::int32_t>(table.page), cat::kTablesContainerId, table.name, cat::kTypeTable, table.flags, {}});
  }
  std::int32_t containerId = kFirstObjectContainerId;
  for (const char16_t* name : kObjectContainers) {
    entries.push_back({containerId++, cat::kRootId, name, cat::kTypeContainer, 0, {}});
  }
  entries.push_back({containerId++, cat::kDatabasesContainerId, u"SummaryInfo", kTypePropertyDocument, 0,
                     EncodeProperties(NewSummaryProperties(title))});
  entries.push_back({containerId++, cat::kDatabasesContainerId, u"UserDefined", kTypePropertyDocument, 0,
                     EncodeProperties(NewUserDefinedProperties())});
  return entries;
}

// The columns of a new table, checked: names valid and not repeated, Text lengths in range.
std::vector<ColumnSpec> NewColumns(std::u16string_view table, const std::vector<FieldSpec>& fields) {
  if (fields.empty()) throw odbc::errors::NoColumns(Wide(table));
  if (fields.size() > jet4::kMaxColumns)
    throw odbc::errors::TooManyColumns(Wide(table), fields.size(), jet4::kMaxColumns);
  std::vector<ColumnSpec> columns;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const auto& field = fields[i];
    CheckName(field.name, L"column");
    for (std::size_t j = 0; j < i; ++j) {
      if (SameName(fields[j].name, field.name)) {
        throw odbc::errors::ColumnRepeated(Wide(table), Wide(field.name));
      }
    }
    ColumnSpec column;
    column.name = field.name;
    column.type = field.type;
    if (field.type == jet4::ColumnType::Text) {
      if (field.maxChars < 1 || field.maxChars > jet4::kMaxTextChars) {
        throw odbc::errors::BadTextLength(Wide(field.name));
      }
      column.length = static_cast<std::uint16_t>(field.maxChars * 2);
    }
    columns.push_back(std::move(column));
  }
  return columns;
}

}  // namespace

void AccessDatabase::Create(const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found) {
    throw odbc::errors::FileExists(PathText(path));
  }
  PageFile file(path, PageFile::Mode::CreateNew);
  WriteEmptyDatabase(file, path);
  file.Commit();
}

void AccessDatabase::WriteEmptyDatabase(PageFile& file, const std::filesystem::path& path) {
  const double now = NowAsJetDate();
  file.Write(0, BuildHeaderPage(now));
  WriteGlobalMap(file);
  // System tables: definitions on their fixed pages, their maps on one shared page.
  std::vector<SystemTable> tables = {
      {cat::kTdefPage, CatalogDefinition(), u"MSysObjects", cat::kFlagSystem},
      {kAcesTdefPage, AcesDefinition(), u"MSysACEs", cat::kFlagSystem},
      {kQueriesTdefPage, QueriesDefinition(), u"MSysQueries", cat::kFlagSystem},
      {kRelationshipsTdefPage, RelationshipsDefinition(), u"MSysRelationships", cat::kFlagSystem},
      {kAccessObjectsTdefPage, AccessObjectsDefinition(), u"MSysAccessObjects", cat::kFlagHiddenSystem},
  };
  Page mapPage{};
  PlaceSystemMaps(tables, mapPage);
  WriteSystemTables(file, tables, mapPage);
  const std::u16string title = text::WideToUtf16(text::Utf8ToWide(path.stem().string()));
  for (const auto& entry : NewCatalogEntries(tables, title)) AddCatalogRow(file, EncodeCatalogRow(entry, now));
  UpdateGlobalFreeMap(file, 0);
}

void AccessDatabase::CheckFile(const std::filesystem::path& path) {
  const std::wstring shown = PathText(path);
  const auto refuse = [&](std::wstring_view cause) { return odbc::errors::FileUnreadable(shown, kFormatName, cause); };
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) throw odbc::errors::FileNotFound(shown);
  if (status.type() != std::filesystem::file_type::regular) throw refuse(L"it is not a file");
  // Writing means replacing the file: a file marked read-only stays as it is (even for root).
  constexpr auto kWriteBits =
      std::filesystem::perms::owner_write | std::filesystem::perms::group_write | std::filesystem::perms::others_write;
  if ((status.permissions() & kWriteBits) == std::filesystem::perms::none || ::access(path.c_str(), W_OK) != 0) {
    throw refuse(L"it is read-only");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw refuse(L"it cannot be read");
  std::vector<std::uint8_t> first(jet4::kPageSize, 0);
  in.read(reinterpret_cast<char*>(first.data()), static_cast<std::streamsize>(first.size()));
  first.resize(static_cast<std::size_t>(in.gcount()));
  const auto size = std::filesystem::file_size(path, error);
  const std::wstring problem = HeaderPageProblem(first, error ? 0 : size);
  if (!problem.empty()) throw refuse(problem);
  Page catalog{};
  in.seekg(static_cast<std::streamoff>(cat::kTdefPage * jet4::kPageSize));
  in.read(reinterpret_cast<char*>(catalog.data()), static_cast<std::streamsize>(catalog.size()));
  if (!in || catalog[0] != jet4::page_type::kTableDefinition)
    throw refuse(L"it is not an Access database (it has no catalog)");
}

AccessDatabase::AccessDatabase(const std::filesystem::path& path) : m_path(path) {
  CheckFile(path);
  m_file = std::make_unique<PageFile>(path, PageFile::Mode::CopyExisting);
  m_firstNewPage = m_file->PageCount();
  m_catalog = ReadCatalog(*m_file);
  CheckAccountedFor();
  MendDefinitionLengths(*m_file, m_catalog);
}

void AccessDatabase::CheckAccountedFor() const {
  // Every page a table's definition, data or index lives on must be in the file: a database cut
  // short would otherwise be written back with a table more and its lost pages still missing.
  const std::uint32_t pages = m_file->PageCount();
  const auto findDamage = [&]() -> std::wstring {
    for (const auto& entry : m_catalog) {
      if (!IsTableEntry(entry)) continue;
      const std::uint32_t tdef = static_cast<std::uint32_t>(entry.id) & cat::kIdPageMask;
      if (tdef >= pages) return L"the table '" + Wide(entry.name) + L"' lies past the end of the file";
      const TableDefinition definition = ReadTableDefinition(*m_file, tdef);
      for (const std::uint32_t page : MapPages(*m_file, definition.usageMap)) {
        if (page >= pages) return L"rows of the table '" + Wide(entry.name) + L"' lie past the end of the file";
      }
      for (const auto& index : definition.realIndexes) {
        if (index.firstPage >= pages)
          return L"an index of the table '" + Wide(entry.name) + L"' lies past the end of the file";
      }
    }
    return {};
  };
  std::wstring damage;
  try {
    damage = findDamage();
  } catch (const odbc::CDBException& e) {
    if (odbc::errors::IsIoError(e)) throw;
    damage = e.m_strMessage;
  }
  if (!damage.empty()) throw odbc::errors::FileDamaged(PathText(m_path), damage);
}

AccessDatabase::AccessDatabase(const std::filesystem::path& path, Fresh) : m_path(path), m_fresh(true) {
  m_file = std::make_unique<PageFile>(path, PageFile::Mode::ReplaceWithNew);
  WriteEmptyDatabase(*m_file, path);
  m_firstNewPage = m_file->PageCount();
  m_catalog = ReadCatalog(*m_file);
}

AccessDatabase::~AccessDatabase() {
  try {
    Close();
  } catch (...) {
    // Destruction never throws; the file keeps its previous complete version.
  }
}

AccessDatabase::TableWriter* AccessDatabase::Find(std::u16string_view name) const {
  for (const auto& table : m_tables) {
    if (SameName(table->name, name)) return table.get();
  }
  return nullptr;
}

const TableDefinition* AccessDatabase::FindTable(std::u16string_view name) const {
  const TableWriter* table = Find(name);
  return table ? &table->definition : nullptr;
}

std::vector<AccessDatabase::ListedTable> AccessDatabase::ListTables() const {
  CheckUsable();
  std::vector<ListedTable> tables;
  const auto listed = [&](std::u16string_view name) {
    return std::any_of(tables.begin(), tables.end(), [&](const ListedTable& t) { return t.name == name; });
  };
  for (const auto& entry : m_catalog) {
    if (!IsTableEntry(entry) || listed(entry.name)) continue;
    ListedTable table{entry.name, (entry.flags & cat::kFlagSystem) != 0 || entry.name.starts_with(u"MSys"), {}};
    if (const TableWriter* created = Find(entry.name)) {
      table.columns = created->definition.columns;
    } else {
      const std::uint32_t tdef = static_cast<std::uint32_t>(entry.id) & cat::kIdPageMask;
      try {
        if (tdef < m_file->PageCount()) table.columns = ReadTableDefinition(*m_file, tdef).columns;
      } catch (const odbc::CDBException&) {
      }
    }
    tables.push_back(std::move(table));
  }
  for (const auto& created : m_tables) {
    if (!listed(created->name)) tables.push_back({created->name, false, created->definition.columns});
  }
  return tables;
}

std::uint32_t AccessDatabase::PlaceMapRow(const std::vector<std::uint8_t>& row) {
  // The rows already there change as their maps grow: the page is read afresh, never kept.
  if (m_mapPageNumber != 0) m_file->Read(m_mapPageNumber, m_mapPage);
  if (m_mapPageNumber == 0 || !RowFits(m_mapPage, row.size())) {
    InitDataPage(m_mapPage, 0);
    m_mapPageNumber = m_file->Allocate();
  }
  const auto index = AddRow(m_mapPage, row);
  m_file->Write(m_mapPageNumber, m_mapPage);
  return RowPointer(m_mapPageNumber, *index);
}

void AccessDatabase::CheckUsable() const {
  if (m_closed) throw odbc::errors::ConnectionClosed();
  if (m_failed) throw odbc::errors::NoMoreChanges(PathText(m_path));
}

template <typename Work>
void AccessDatabase::Guarded(Work work) {
  CheckUsable();
  try {
    work();
  } catch (const odbc::CDBException& e) {
    // After a failed write the working copy may hold half a change: it is never committed.
    if (odbc::errors::IsIoError(e)) m_failed = true;
    throw;
  }
}

void AccessDatabase::CreateTable(std::u16string_view name, const std::vector<FieldSpec>& fields) {
  Guarded([&] { AddTable(name, fields); });
}

void AccessDatabase::AddTable(std::u16string_view name, const std::vector<FieldSpec>& fields) {
  CheckNewTableName(name);
  auto table = std::make_unique<TableWriter>();
  table->name = name;
  table->definition.columns = NewColumns(name, fields);
  LayOutColumns(table->definition);
  PlaceTableMaps(table->definition);
  table->tdefPage = WriteDefinition(table->definition);
  for (const auto& column : table->definition.columns) {
    table->longValues.push_back(
        jet4::IsLongValue(column.type) ? std::make_unique<LongValueWriter>(*m_file, column.longValueMap) : nullptr);
  }
  table->storeLongValue = [writer = table.get()](const ColumnSpec& column, std::span<const std::uint8_t> data,
                                                 std::size_t rowSize) {
    return writer->longValues.at(column.number)->Store(data, rowSize);
  };
  AddToCatalog(*table);
  m_tables.push_back(std::move(table));
}

void AccessDatabase::CheckNewTableName(std::u16string_view name) const {
  CheckName(name, L"table");
  const auto nameKey = TextIndexKey(name);
  for (const auto& entry : m_catalog) {
    // Tables and queries share the Tables container, whose names are one unique index: a name
    // is taken when it differs only in case, or has the same index key.
    if ((IsTableEntry(entry) || entry.parentId == cat::kTablesContainerId) &&
        (SameName(entry.name, name) || TextIndexKey(entry.name) == nameKey)) {
      throw odbc::errors::TableExists(Wide(name));
    }
  }
  // The system tables' indexes must take the new rows: checked before anything is written.
  CheckSystemIndexes(*m_file, cat::kTdefPage);
  if (const CatalogEntry* aces = FindSystemTable(u"MSysACEs")) {
    CheckSystemIndexes(*m_file, static_cast<std::uint32_t>(aces->id) & cat::kIdPageMask);
  }
}

const CatalogEntry* AccessDatabase::FindSystemTable(std::u16string_view name) const {
  for (const auto& entry : m_catalog) {
    if (IsTableEntry(entry) && entry.name == name) return &entry;
  }
  return nullptr;
}

void AccessDatabase::PlaceTableMaps(TableDefinition& definition) {
  definition.usageMap = PlaceMapRow(EmptyReferenceMap());
  definition.freeMap = PlaceMapRow(EmptyInlineMap());
  // Each Memo column has maps of its own long-value pages, as Access gives it.
  for (auto& column : definition.columns) {
    if (!jet4::IsLongValue(column.type)) continue;
    column.longValueMap = PlaceMapRow(EmptyInlineMap());
    column.longValueFreeMap = PlaceMapRow(EmptyInlineMap());
  }
}

std::uint32_t AccessDatabase::WriteDefinition(const TableDefinition& definition) {
  const auto pages = EncodeTableDefinition(definition);
  std::vector<std::uint32_t> numbers;
  for (std::size_t i = 0; i < pages.size(); ++i) numbers.push_back(m_file->Allocate());
  for (std::size_t i = 0; i < pages.size(); ++i) {
    Page page{};
    std::copy(pages[i].begin(), pages[i].end(), page.begin());
    PutU32(page.data() + jet4::tdef::kNextPageOffset, i + 1 < numbers.size() ? numbers[i + 1] : 0);
    m_file->Write(numbers[i], page);
  }
  return numbers.front();
}

void AccessDatabase::AddToCatalog(const TableWriter& table) {
  CatalogEntry entry{
      static_cast<std::int32_t>(table.tdefPage), cat::kTablesContainerId, table.name, cat::kTypeTable, 0, {}};
  AddCatalogRow(*m_file, EncodeCatalogRow(entry, NowAsJetDate()));
  if (const CatalogEntry* aces = FindSystemTable(u"MSysACEs")) {
    CopyPermissions(*m_file, static_cast<std::uint32_t>(aces->id) & cat::kIdPageMask, cat::kTablesContainerId,
                    entry.id);
  }
  m_catalog.push_back(std::move(entry));
}

void AccessDatabase::Insert(std::u16string_view name, const std::vector<Value>& values) {
  Guarded([&] { AppendRow(name, values); });
}

void AccessDatabase::AppendRow(std::u16string_view name, const std::vector<Value>& values) {
  // An export appends to one table many times over: the table of the last row is tried first,
  // by its exact name (table names differ in more than letter case).
  TableWriter* table = m_lastAppended != nullptr && SameUnits(m_lastAppended->name, name) ? m_lastAppended : Find(name);
  if (table == nullptr) {
    const bool exists = std::any_of(m_catalog.begin(), m_catalog.end(),
                                    [&](const CatalogEntry& e) { return IsTableEntry(e) && SameName(e.name, name); });
    throw exists ? odbc::errors::TableFromBefore(Wide(name)) : odbc::errors::NoSuchTable(Wide(name));
  }
  const auto& columns = table->definition.columns;
  if (values.size() != columns.size()) {
    throw odbc::errors::ValueCountMismatch(Wide(name), columns.size(), values.size());
  }
  std::wstring problem;
  if (const auto refused = RowProblem(columns, values, problem)) {
    throw odbc::errors::ValueNotTaken(Wide(columns[*refused].name), problem);
  }
  const auto row = EncodeRow(table->definition, values, table->storeLongValue, m_row);
  if (table->pageOpen && !RowFits(table->page, row.size())) FlushDataPage(*table);
  if (!table->pageOpen) {
    InitDataPage(table->page, table->tdefPage);
    table->pageNumber = m_file->Allocate();
    table->pageOpen = true;
  }
  AddPackedRow(table->page, row);
  ++table->definition.rowCount;
  m_lastAppended = table;
}

void AccessDatabase::FlushDataPage(TableWriter& table) {
  if (!table.pageOpen) return;
  m_file->Write(table.pageNumber, table.page);
  table.pageOpen = false;
  // The map's bitmap pages are updated for many data pages at once.
  table.unmappedPages.push_back(table.pageNumber);
  if (table.unmappedPages.size() >= kMapBatch) UpdateUsageMap(table);
}

void AccessDatabase::UpdateUsageMap(TableWriter& table) {
  const bool mapped = AddPagesToMap(*m_file, table.definition.usageMap, table.unmappedPages);
  table.unmappedPages.clear();
  if (!mapped) throw odbc::errors::TableFull(Wide(table.name), L"its map of pages cannot list more");
}

void AccessDatabase::Abandon() noexcept {
  m_closed = true;
  m_file.reset();
}

void AccessDatabase::Close() {
  if (m_closed) return;
  m_closed = true;
  if (m_failed) {
    m_file.reset();
    throw odbc::errors::LeftAsItWas(PathText(m_path));
  }
  for (auto& table : m_tables) {
    FlushDataPage(*table);
    UpdateUsageMap(*table);
    for (const auto& longValues : table->longValues) {
      if (longValues) longValues->Flush();
    }
    WriteRowCount(*table);
  }
  auto file = std::move(m_file);
  if (m_fresh && m_tables.empty()) return;  // the file stays as it was
  if (file->PageCount() > m_firstNewPage) UpdateGlobalFreeMap(*file, m_firstNewPage);
  file->Commit();
}

void AccessDatabase::WriteRowCount(const TableWriter& table) {
  Page tdef{};
  m_file->Read(table.tdefPage, tdef);
  PutU32(tdef.data() + jet4::tdef::kRowCountOffset, table.definition.rowCount);
  m_file->Write(table.tdefPage, tdef);
}

void AccessDatabase::WriteTableSoFar(const TableWriter& table) {
  std::vector<std::uint32_t> pages = table.unmappedPages;
  if (table.pageOpen) {
    m_file->Write(table.pageNumber, table.page);
    pages.push_back(table.pageNumber);
  }
  if (!pages.empty() && !AddPagesToMap(*m_file, table.definition.usageMap, pages)) {
    throw odbc::errors::TableFull(Wide(table.name), L"its map of pages cannot list more");
  }
  for (const auto& longValues : table.longValues) {
    if (longValues) longValues->WriteSoFar();
  }
  WriteRowCount(table);
}

void AccessDatabase::Checkpoint() {
  CheckUsable();
  if (m_fresh && m_tables.empty()) return;  // the file stays as it was
  try {
    // What Close completes is completed for the copy only: the maps' new bitmap pages, the
    // file's map of free pages and the open pages' place in the maps are undone after, so that
    // the pages go on being laid out as without the checkpoint.
    m_file->StartUndo();
    for (const auto& table : m_tables) WriteTableSoFar(*table);
    if (m_file->PageCount() > m_firstNewPage) UpdateGlobalFreeMap(*m_file, m_firstNewPage);
    m_file->CommitCopy();
    m_file->Undo();
  } catch (...) {
    // The working copy may hold half of the checkpoint: it is never committed.
    m_failed = true;
    throw;
  }
}

}  // namespace quillon::drivers::access
