// A Jet 4 database file opened for adding tables and rows. Work goes to a working copy beside
// the file (pages written out as they fill, only bookkeeping kept in memory); Close, or
// destruction, puts the complete new version in the file's place. Tables created here have no
// indexes of their own; their catalog and permission rows go into the system tables' indexes.
// Rows are appended to tables created through this object.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "drivers/access/Catalog.h"
#include "drivers/access/LongValue.h"
#include "drivers/access/PageFile.h"
#include "drivers/access/RowWriter.h"
#include "drivers/access/TableDefinition.h"
#include "drivers/access/Value.h"

namespace quillon::drivers::access {

struct FieldSpec {
  std::u16string name;
  jet4::ColumnType type = jet4::ColumnType::Text;
  std::uint16_t maxChars = jet4::kMaxTextChars;  // Text only
};

class AccessDatabase {
 public:
  // Creates an empty database at `path`. Throws CDBException when the path exists or cannot
  // be written; nothing is left behind then.
  static void Create(const std::filesystem::path& path);

  // Throws CDBException when the file at `path` cannot be opened for writing (missing, not a
  // file, read-only, not Jet 4, encrypted, password). Only reads the file.
  static void CheckFile(const std::filesystem::path& path);

  // Opens an existing Jet 4 database; throws CDBException (leaving the file untouched) when
  // CheckFile refuses it or its catalog cannot be read.
  explicit AccessDatabase(const std::filesystem::path& path);
  // Starts an empty database that replaces the file at `path` (or creates it) on Close, when a
  // table was created; the file's content is never read.
  enum class Fresh { ReplaceFile };
  AccessDatabase(const std::filesystem::path& path, Fresh);
  ~AccessDatabase();  // writes out like Close, never throws
  AccessDatabase(const AccessDatabase&) = delete;
  AccessDatabase& operator=(const AccessDatabase&) = delete;

  // Throws CDBException "Table 'X' already exists." (42S01), or for an invalid name or column.
  void CreateTable(std::u16string_view name, const std::vector<FieldSpec>& fields);
  // The columns of a table created through this object, or null.
  const TableDefinition* FindTable(std::u16string_view name) const;
  // The catalog's tables with their definitions (those created here as they stand now), system
  // tables marked; a table whose definition cannot be read is listed without columns.
  struct ListedTable {
    std::u16string name;
    bool system = false;
    std::vector<ColumnSpec> columns;
  };
  std::vector<ListedTable> ListTables() const;
  // Appends a row; values in column order, checked against their columns (CDBException).
  void Insert(std::u16string_view table, const std::vector<Value>& values);
  // Writes everything out and replaces the file; throws CDBException when that fails. After a
  // failed write (odbc::errors::IsIoError) every later call throws and Close leaves the file as it was.
  void Close();
  // Puts a copy of everything so far in the file's place, complete as Close would write it,
  // and goes on: later tables and rows are added as if no checkpoint had been taken, so the
  // file Close writes is the same. Nothing is written when nothing changed. Throws
  // CDBException; every later call then throws and Close leaves the last checkpoint's file.
  void Checkpoint();
  // Ends without writing: the working copy is dropped and the file keeps its previous version.
  void Abandon() noexcept;

 private:
  struct TableWriter;

  // Writes the pages of an empty database (header, system tables, catalog) into `file`.
  static void WriteEmptyDatabase(PageFile& file, const std::filesystem::path& path);
  void CheckUsable() const;
  // Refuses (CDBException) a database whose tables reach past the end of the file.
  void CheckAccountedFor() const;
  // Runs `work`; a failed write (odbc::errors::IsIoError) leaves the database refusing everything after.
  template <typename Work>
  void Guarded(Work work);
  void AddTable(std::u16string_view name, const std::vector<FieldSpec>& fields);
  // Refuses a table name that is invalid or taken, or a catalog whose indexes cannot take it.
  void CheckNewTableName(std::u16string_view name) const;
  const CatalogEntry* FindSystemTable(std::u16string_view name) const;
  // Gives a new table's definition its usage maps, and its long-value columns theirs.
  void PlaceTableMaps(TableDefinition& definition);
  // Writes a definition on new pages, chained; the first page's number.
  std::uint32_t WriteDefinition(const TableDefinition& definition);
  void AddToCatalog(const TableWriter& table);
  void AppendRow(std::u16string_view name, const std::vector<Value>& values);
  TableWriter* Find(std::u16string_view name) const;
  std::uint32_t PlaceMapRow(const std::vector<std::uint8_t>& row);
  void FlushDataPage(TableWriter& table);
  void UpdateUsageMap(TableWriter& table);
  void WriteRowCount(const TableWriter& table);
  // Writes a table's open pages and lists them and the pages not yet listed in their maps,
  // leaving the writer as it is (Checkpoint undoes the changes to the maps after).
  void WriteTableSoFar(const TableWriter& table);

  std::filesystem::path m_path;
  std::unique_ptr<PageFile> m_file;
  std::vector<CatalogEntry> m_catalog;
  std::vector<std::unique_ptr<TableWriter>> m_tables;
  Page m_mapPage{};  // the page the last map row went to; its storage reused
  std::uint32_t m_mapPageNumber = 0;
  std::uint32_t m_firstNewPage = 0;       // pages from here on were added by this object
  RowBuffer m_row;                        // the row being encoded
  TableWriter* m_lastAppended = nullptr;  // the table the last row went to
  bool m_closed = false;
  bool m_fresh = false;   // started empty: without a table nothing is written
  bool m_failed = false;  // a write failed: nothing more is done and nothing is committed
};

// The current local time as a Jet date.
double NowAsJetDate();

}  // namespace quillon::drivers::access
