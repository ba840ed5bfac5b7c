#include "drivers/access/DataPage.h"

#include <algorithm>

#include "drivers/access/Jet4Format.h"
#include "platform/errors/Errors.h"

namespace quillon::drivers::access {
namespace {

namespace dp = jet4::data_page;

std::uint16_t RowStart(const Page& page, std::uint16_t row) {
  return GetU16(page.data() + dp::kRowOffsetsOffset + dp::kRowOffsetSize * row);
}

// Where the lowest row starts, i.e. where the next row ends.
std::size_t LowestRowStart(const Page& page) {
  const std::uint16_t count = RowCount(page);
  std::size_t lowest = jet4::kPageSize;
  for (std::uint16_t i = 0; i < count; ++i) {
    lowest = std::min<std::size_t>(lowest, RowStart(page, i) & dp::kRowOffsetMask);
  }
  return lowest;
}

std::size_t OffsetTableEnd(std::size_t rows) { return dp::kRowOffsetsOffset + dp::kRowOffsetSize * rows; }

// Puts `row` to end at `end`, where the lowest row starts, when it fits above the offset table.
std::optional<std::uint16_t> PlaceRow(Page& page, std::span<const std::uint8_t> row, std::size_t end) {
  const std::uint16_t count = RowCount(page);
  if (end < OffsetTableEnd(count + 1) + row.size()) return std::nullopt;
  const std::size_t start = end - row.size();
  std::copy(row.begin(), row.end(), page.begin() + static_cast<std::ptrdiff_t>(start));
  PutU16(page.data() + OffsetTableEnd(count), static_cast<std::uint16_t>(start));
  PutU16(page.data() + dp::kRowCountOffset, static_cast<std::uint16_t>(count + 1));
  PutU16(page.data() + dp::kFreeSpaceOffset,
         static_cast<std::uint16_t>(FreeSpace(page) - row.size() - dp::kRowOffsetSize));
  return count;
}

}  // namespace

void InitDataPage(Page& page, std::uint32_t ownerTdef) {
  page.fill(0);
  page[0] = jet4::page_type::kData;
  page[jet4::kPageMarkerOffset] = jet4::kPageMarker;
  PutU16(page.data() + dp::kFreeSpaceOffset, static_cast<std::uint16_t>(jet4::kPageSize - dp::kRowOffsetsOffset));
  PutU32(page.data() + dp::kOwnerOffset, ownerTdef);
}

void InitLongValuePage(Page& page) {
  InitDataPage(page, 0);
  std::copy(std::begin(dp::kLongValueOwner), std::end(dp::kLongValueOwner), page.begin() + dp::kOwnerOffset);
}

std::uint16_t RowCount(const Page& page) { return GetU16(page.data() + dp::kRowCountOffset); }
std::uint16_t FreeSpace(const Page& page) { return GetU16(page.data() + dp::kFreeSpaceOffset); }

bool RowFits(const Page& page, std::size_t size) {
  return RowCount(page) < dp::kMaxRowsPerPage && size + dp::kRowOffsetSize <= FreeSpace(page);
}

std::optional<std::uint16_t> AddRow(Page& page, std::span<const std::uint8_t> row) {
  if (!RowFits(page, row.size())) return std::nullopt;
  return PlaceRow(page, row, LowestRowStart(page));
}

std::optional<std::uint16_t> AddPackedRow(Page& page, std::span<const std::uint8_t> row) {
  if (!RowFits(page, row.size())) return std::nullopt;
  // Nothing deleted, nothing moved: the only free bytes lie between the offset table and the rows.
  return PlaceRow(page, row, OffsetTableEnd(RowCount(page)) + FreeSpace(page));
}

bool IsOverflowPointer(const Page& page, std::uint16_t row) {
  const std::uint16_t raw = RowStart(page, row);
  return row < RowCount(page) && (raw & dp::kRowOverflowFlag) != 0 && (raw & dp::kRowDeletedFlag) == 0;
}

std::span<const std::uint8_t> RowAt(const Page& page, std::uint16_t row) {
  if (row < RowCount(page) && (RowStart(page, row) & dp::kRowDeletedFlag) != 0) return {};
  return RawRowAt(page, row);
}

std::span<const std::uint8_t> RawRowAt(const Page& page, std::uint16_t row) {
  const std::uint16_t count = RowCount(page);
  if (row >= count || dp::kRowOffsetsOffset + dp::kRowOffsetSize * count > jet4::kPageSize) {
    throw odbc::errors::DatabaseDamaged(L"data page");
  }
  const std::uint16_t raw = RowStart(page, row);
  const std::size_t start = raw & dp::kRowOffsetMask;
  std::size_t end = jet4::kPageSize;
  if (row > 0) end = RowStart(page, static_cast<std::uint16_t>(row - 1)) & dp::kRowOffsetMask;
  if (start > end || end > jet4::kPageSize) throw odbc::errors::DatabaseDamaged(L"data page");
  return {page.data() + start, end - start};
}

std::span<std::uint8_t> RowAt(Page& page, std::uint16_t row) {
  const auto view = RowAt(static_cast<const Page&>(page), row);
  if (view.empty()) return {};
  return {page.data() + (view.data() - page.data()), view.size()};
}

}  // namespace quillon::drivers::access
