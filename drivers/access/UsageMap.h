// Usage maps: the rows that say which pages a table owns. An inline map (type 0) is a first
// page and a bitmap in the row itself; a reference map (type 1) lists bitmap pages, each
// covering the next (4096 - 4) x 8 pages of the file. Readers find a table's data pages only
// through its map.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "drivers/access/Bytes.h"

namespace quillon::drivers::access {

class PageFile;

// An empty reference map row / an empty inline map row.
std::vector<std::uint8_t> EmptyReferenceMap();
std::vector<std::uint8_t> EmptyInlineMap();

// The pages listed in the map stored at `rowPointer` (page << 8 | row).
std::vector<std::uint32_t> MapPages(const PageFile& file, std::uint32_t rowPointer);

// Adds `page` to the map at `rowPointer`, allocating a bitmap page when a reference map needs
// one; an inline map that cannot reach the page turns into a reference map in the same row.
// False when the map cannot list the page at all.
bool AddPageToMap(PageFile& file, std::uint32_t rowPointer, std::uint32_t page);

// Adds pages in increasing order; a reference map's bitmap pages are read and written once
// for all the pages they cover. False when the map cannot list one of them.
bool AddPagesToMap(PageFile& file, std::uint32_t rowPointer, std::span<const std::uint32_t> pages);

// Rewrites the global map of free pages (page 1, row 0): pages from `firstNewPage` to the end
// of the file are in use, pages past the end are free, and pages before `firstNewPage` keep
// what the map said of them. Grows the map from inline to reference form when the file has
// outgrown the inline bitmap. Leaves a map it does not recognise alone.
void UpdateGlobalFreeMap(PageFile& file, std::uint32_t firstNewPage);

}  // namespace quillon::drivers::access
