// Data pages: a header, a table of row offsets growing forward, rows packed from the page's
// end backwards. The same layout carries table rows, usage-map rows and long values.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "drivers/access/Bytes.h"

namespace quillon::drivers::access {

// Starts an empty data page owned by the table whose definition is at `ownerTdef`.
void InitDataPage(Page& page, std::uint32_t ownerTdef);
// Starts an empty long-value page.
void InitLongValuePage(Page& page);

std::uint16_t RowCount(const Page& page);
std::uint16_t FreeSpace(const Page& page);
// True when a row of `size` bytes still fits (with its offset entry and the row limit).
bool RowFits(const Page& page, std::size_t size);
// Adds a row; returns its row number, or nothing when it does not fit.
std::optional<std::uint16_t> AddRow(Page& page, std::span<const std::uint8_t> row);
// The same for a page that only AddRow and AddPackedRow have filled since InitDataPage: its
// rows lie packed from the page's end, so where they start follows from the free space
// without looking at every row.
std::optional<std::uint16_t> AddPackedRow(Page& page, std::span<const std::uint8_t> row);
// True when row `row` only points to where the row was moved (its 4 bytes: page << 8 | row).
bool IsOverflowPointer(const Page& page, std::uint16_t row);
// The bytes of row `row`; empty for a deleted row. Throws CDBException on a damaged page.
std::span<const std::uint8_t> RowAt(const Page& page, std::uint16_t row);
// The bytes of row `row` whatever its flags: a moved row's new place is flagged deleted, so
// that scans pass it over and only its pointer leads there.
std::span<const std::uint8_t> RawRowAt(const Page& page, std::uint16_t row);
std::span<std::uint8_t> RowAt(Page& page, std::uint16_t row);

}  // namespace quillon::drivers::access
