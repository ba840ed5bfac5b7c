// Index keys and index pages. Keys follow the General sort order Jet 4 databases use ("General
// Legacy"): Long and Integer values as big-endian numbers with the sign bit flipped, Text as
// sort codes per UTF-16 code unit (the whole Basic Multilingual Plane and surrogates; see
// sortorder/README.md), case-insensitive, with accents and unprintable characters after the
// text.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "drivers/access/TableDefinition.h"
#include "drivers/access/Value.h"

namespace quillon::drivers::access {

class PageFile;

// One leaf entry: the key and the row it points to (page << 8 | row).
struct IndexEntry {
  std::vector<std::uint8_t> key;
  std::uint32_t rowPointer = 0;
  bool operator==(const IndexEntry&) const = default;
};

// The key of a Text value, its flag byte included. Two texts with the same key are one value to
// a unique index.
std::vector<std::uint8_t> TextIndexKey(std::u16string_view text);

// The key of `values` (a row's values in column order) for `index`, or nothing when one of its
// columns has a type or a value this code cannot encode.
std::optional<std::vector<std::uint8_t>> IndexKey(const TableDefinition& table, const RealIndex& index,
                                                  std::span<const Value> values);

// The leaf entries of the index rooted at `rootPage`, in stored order. Throws CDBException
// when the pages are not an index of the table at `tdefPage`.
std::vector<IndexEntry> ReadIndexEntries(const PageFile& file, std::uint32_t tdefPage, std::uint32_t rootPage);

// Writes `entries` (in any order; sorted here) as the index's pages: the root stays at
// `index.firstPage`, the index's other pages are reused, and pages it needs beyond them are
// allocated and added to its usage map. Throws CDBException when the entries do not fit two
// levels of pages.
void WriteIndex(PageFile& file, std::uint32_t tdefPage, const RealIndex& index, std::vector<IndexEntry> entries);

// Writes an empty leaf page as the root of a new index of the table defined at `tdefPage`.
void WriteEmptyIndex(PageFile& file, std::uint32_t tdefPage, std::uint32_t rootPage);

// A new row's key for one index, with the entries the index holds.
struct PendingIndexEntry {
  std::vector<IndexEntry> entries;
  std::vector<std::uint8_t> key;
};

// The keys of a new row (`values`) for every index of the table defined at `tdefPage`, made
// before the row is placed: throws CDBException when a key cannot be made or would repeat
// one of a unique index.
std::vector<PendingIndexEntry> PrepareIndexEntries(const PageFile& file, std::uint32_t tdefPage,
                                                   const TableDefinition& table, std::span<const Value> values);
// Writes the prepared entries, pointing at the row's place.
void AddIndexEntries(PageFile& file, std::uint32_t tdefPage, const TableDefinition& table,
                     std::vector<PendingIndexEntry> pending, std::uint32_t rowPointer);

}  // namespace quillon::drivers::access
