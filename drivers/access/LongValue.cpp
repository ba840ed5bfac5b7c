#include "drivers/access/LongValue.h"

#include <algorithm>

#include "drivers/access/DataPage.h"
#include "drivers/access/Jet4Format.h"
#include "drivers/access/PageFile.h"
#include "drivers/access/UsageMap.h"
#include "platform/errors/Errors.h"

namespace quillon::drivers::access {
namespace {

namespace lv = jet4::long_value;
// A row alone on a long-value page: the page less its header and one offset entry.
constexpr std::size_t kMaxLongValueRow =
    jet4::kPageSize - jet4::data_page::kRowOffsetsOffset - jet4::data_page::kRowOffsetSize;
constexpr std::size_t kMaxChunk = kMaxLongValueRow - lv::kChainPointerSize;
// Inline data keeps the row well inside its limit, leaving room for the other columns.
constexpr std::size_t kMaxInlineRow = 1024;
// Pages whose map bits are set together.
constexpr std::size_t kMapBatch = 256;

}  // namespace

std::vector<std::uint8_t> LongValueWriter::Store(std::span<const std::uint8_t> data, std::size_t rowSize) {
  std::vector<std::uint8_t> field(lv::kHeaderSize, 0);
  PutU24(field.data(), static_cast<std::uint32_t>(data.size()));
  if (data.size() <= lv::kMaxInline && rowSize + lv::kHeaderSize + data.size() <= kMaxInlineRow) {
    field[lv::kFlagOffset] = lv::kInlineFlag;
    field.insert(field.end(), data.begin(), data.end());
    return field;
  }
  if (data.size() <= kMaxLongValueRow) {
    field[lv::kFlagOffset] = lv::kSingleRowFlag;
    PutU32(field.data() + lv::kPointerOffset, PlaceRow(data));
    return field;
  }
  // A chain, written from its last piece back so that each piece knows its successor.
  field[lv::kFlagOffset] = lv::kChainedFlag;
  std::uint32_t next = 0;
  std::size_t end = data.size();
  const std::size_t pieces = (data.size() + kMaxChunk - 1) / kMaxChunk;
  std::vector<std::uint8_t> row;
  for (std::size_t piece = pieces; piece-- > 0;) {
    const std::size_t start = piece * kMaxChunk;
    row.assign(lv::kChainPointerSize, 0);
    PutU32(row.data(), next);
    row.insert(row.end(), data.begin() + static_cast<std::ptrdiff_t>(start),
               data.begin() + static_cast<std::ptrdiff_t>(end));
    next = PlaceRow(row);
    end = start;
  }
  PutU32(field.data() + lv::kPointerOffset, next);
  return field;
}

std::uint32_t LongValueWriter::PlaceRow(std::span<const std::uint8_t> row) {
  if (m_open && !RowFits(m_page, row.size())) WritePage();
  if (!m_open) {
    InitLongValuePage(m_page);
    m_pageNumber = m_file.Allocate();
    m_open = true;
  }
  const auto index = AddRow(m_page, row);
  return RowPointer(m_pageNumber, *index);
}

void LongValueWriter::WritePage() {
  if (!m_open) return;
  m_file.Write(m_pageNumber, m_page);
  m_open = false;
  m_unmapped.push_back(m_pageNumber);
  if (m_unmapped.size() >= kMapBatch) MapPages();
}

void LongValueWriter::MapPages() {
  if (m_ownedMap != 0 && !m_unmapped.empty() && !AddPagesToMap(m_file, m_ownedMap, m_unmapped)) {
    throw odbc::errors::MemoMapFull();
  }
  m_unmapped.clear();
}

void LongValueWriter::WriteSoFar() {
  std::vector<std::uint32_t> pages = m_unmapped;
  if (m_open) {
    m_file.Write(m_pageNumber, m_page);
    pages.push_back(m_pageNumber);
  }
  if (m_ownedMap != 0 && !pages.empty() && !AddPagesToMap(m_file, m_ownedMap, pages)) {
    throw odbc::errors::MemoMapFull();
  }
}

void LongValueWriter::Flush() {
  WritePage();
  MapPages();
}

}  // namespace quillon::drivers::access
