// The catalog MSysObjects (its definition always on page 2) and the other system tables a
// new database holds: MSysACEs, MSysQueries, MSysRelationships, MSysAccessObjects.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "drivers/access/TableDefinition.h"

namespace quillon::drivers::access {

class PageFile;

struct CatalogEntry {
  std::int32_t id = 0;  // for a table, its definition's page (id & 0xFFFFFF)
  std::int32_t parentId = 0;
  std::u16string name;
  std::int16_t type = 0;
  std::uint32_t flags = 0;
  std::vector<std::uint8_t> properties;  // LvProp, written only (see Properties.h); empty: none
};

TableDefinition CatalogDefinition();
TableDefinition AcesDefinition();
TableDefinition QueriesDefinition();
TableDefinition RelationshipsDefinition();
TableDefinition AccessObjectsDefinition();

// The catalog's row for `entry`, created and updated at `date`.
std::vector<std::uint8_t> EncodeCatalogRow(const CatalogEntry& entry, double date);

// Reads a table definition from its first page on, following continuation pages.
TableDefinition ReadTableDefinition(const PageFile& file, std::uint32_t page);

// Definitions this driver wrote when it stated their length 8 bytes short (the marks are checked
// one by one, see Catalog.cpp) get the length Jet states. Others are not touched, nor are
// tables whose definition cannot be read. Returns how many were mended.
std::size_t MendDefinitionLengths(PageFile& file, const std::vector<CatalogEntry>& catalog);

// Every live row of the catalog. Throws CDBException when the catalog cannot be read.
std::vector<CatalogEntry> ReadCatalog(const PageFile& file);

// Adds a row to the system table defined at `tdefPage`, on one of its pages with room or on a
// new one, enters it in the table's indexes and counts it. Throws CDBException, before
// anything is written, when an index key of the row cannot be made or a unique one repeats.
void AddSystemRow(PageFile& file, std::uint32_t tdefPage, std::span<const std::uint8_t> row);
void AddCatalogRow(PageFile& file, const std::vector<std::uint8_t>& row);

// Reads every index of the system table defined at `tdefPage`: throws CDBException when one
// cannot be read or has a column whose keys are not written here, so that a table is refused
// before any of its pages is written.
void CheckSystemIndexes(const PageFile& file, std::uint32_t tdefPage);

// Gives `toObject` the permission rows (MSysACEs, defined at `acesTdefPage`) that
// `fromObject` has, the way a new table takes those of the Tables container.
void CopyPermissions(PageFile& file, std::uint32_t acesTdefPage, std::int32_t fromObject, std::int32_t toObject);

// True for an entry that names a table (user or system).
bool IsTableEntry(const CatalogEntry& entry);

}  // namespace quillon::drivers::access
