#include "drivers/access/UsageMap.h"

#include <algorithm>
#include <cstring>

#include "drivers/access/DataPage.h"
#include "drivers/access/Jet4Format.h"
#include "drivers/access/PageFile.h"
#include "platform/errors/Errors.h"

namespace quillon::drivers::access {
namespace {

namespace um = jet4::usage_map;

std::size_t SlotCount(std::size_t rowSize) { return (rowSize - um::kReferenceFirstSlot) / um::kReferenceSlotSize; }
std::size_t Slot(std::size_t index) { return um::kReferenceFirstSlot + um::kReferenceSlotSize * index; }

[[noreturn]] void ThrowDamaged() { throw odbc::errors::DatabaseDamaged(L"usage map"); }

void AddBitmapPages(const std::uint8_t* bitmap, std::size_t bytes, std::uint32_t first,
                    std::vector<std::uint32_t>& out) {
  for (std::size_t i = 0; i < bytes; ++i) {
    // A map lists few pages of its range: a word of bytes without a bit set is passed over whole.
    if (i % sizeof(std::uint64_t) == 0 && bytes - i >= sizeof(std::uint64_t)) {
      std::uint64_t word = 0;
      std::memcpy(&word, bitmap + i, sizeof word);
      if (word == 0) {
        i += sizeof word - 1;
        continue;
      }
    }
    if (bitmap[i] == 0) continue;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if (bitmap[i] & (1u << bit)) out.push_back(first + static_cast<std::uint32_t>(i * 8 + bit));
    }
  }
}

// Marks `page` in a bitmap page of a reference map.
void MarkInBitmapPage(Page& bitmap, std::uint32_t page) {
  const std::size_t bit = page % um::kPagesPerBitmapPage;
  bitmap[um::kBitmapPageHeader + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
}

// Reads into `bitmap` the bitmap page in slot `index` of the reference map `row` (on `mapPage`,
// page `mapPageNumber`). An empty slot gets a new, empty bitmap page, recorded in the slot with
// the map page written at once. The bitmap page's number.
std::uint32_t BitmapPageInSlot(PageFile& file, std::span<std::uint8_t> row, std::size_t index,
                               std::uint32_t mapPageNumber, const Page& mapPage, Page& bitmap) {
  std::uint32_t bitmapPage = GetU32(row.data() + Slot(index));
  if (bitmapPage == 0) {
    bitmapPage = file.Allocate();
    bitmap.fill(0);
    bitmap[0] = jet4::page_type::kUsageBitmap;
    bitmap[jet4::kPageMarkerOffset] = jet4::kPageMarker;
    PutU32(row.data() + Slot(index), bitmapPage);
    file.Write(mapPageNumber, mapPage);
  } else {
    file.Read(bitmapPage, bitmap);
  }
  return bitmapPage;
}

}  // namespace

std::vector<std::uint8_t> EmptyReferenceMap() {
  std::vector<std::uint8_t> row(um::kRowSize, 0);
  row[0] = um::kReference;
  return row;
}

std::vector<std::uint8_t> EmptyInlineMap() {
  std::vector<std::uint8_t> row(um::kRowSize, 0);
  row[0] = um::kInline;
  return row;
}

std::vector<std::uint32_t> MapPages(const PageFile& file, std::uint32_t rowPointer) {
  Page page{};
  const std::uint32_t mapPage = rowPointer >> 8;
  if (mapPage == 0 || mapPage >= file.PageCount()) ThrowDamaged();
  file.Read(mapPage, page);
  const auto row = RowAt(page, static_cast<std::uint16_t>(rowPointer & 0xFF));
  if (row.empty()) ThrowDamaged();
  std::vector<std::uint32_t> pages;
  if (row[0] == um::kInline) {
    if (row.size() < um::kInlineBitmapOffset) ThrowDamaged();
    AddBitmapPages(row.data() + um::kInlineBitmapOffset, row.size() - um::kInlineBitmapOffset,
                   GetU32(row.data() + um::kInlineStartOffset), pages);
  } else if (row[0] == um::kReference) {
    const std::vector<std::uint8_t> copy(row.begin(), row.end());
    Page bitmap{};
    for (std::size_t i = 0; i < SlotCount(copy.size()); ++i) {
      const std::uint32_t bitmapPage = GetU32(&copy[Slot(i)]);
      if (bitmapPage == 0) continue;
      if (bitmapPage >= file.PageCount()) ThrowDamaged();
      file.Read(bitmapPage, bitmap);
      if (bitmap[0] != jet4::page_type::kUsageBitmap) ThrowDamaged();
      AddBitmapPages(bitmap.data() + um::kBitmapPageHeader, jet4::kPageSize - um::kBitmapPageHeader,
                     static_cast<std::uint32_t>(i * um::kPagesPerBitmapPage), pages);
    }
  } else {
    ThrowDamaged();
  }
  return pages;
}

bool AddPageToMap(PageFile& file, std::uint32_t rowPointer, std::uint32_t page) {
  Page mapPage{};
  const std::uint32_t mapPageNumber = rowPointer >> 8;
  file.Read(mapPageNumber, mapPage);
  auto row = RowAt(mapPage, static_cast<std::uint16_t>(rowPointer & 0xFF));
  if (row.empty()) ThrowDamaged();
  if (row[0] == um::kInline) {
    if (row.size() < um::kInlineBitmapOffset) ThrowDamaged();
    const std::uint32_t first = GetU32(row.data() + um::kInlineStartOffset);
    const std::size_t bits = (row.size() - um::kInlineBitmapOffset) * 8;
    if (page < first || page - first >= bits) {
      // Out of the bitmap's reach: the same row becomes a reference map listing bitmap pages.
      std::vector<std::uint32_t> pages;
      AddBitmapPages(row.data() + um::kInlineBitmapOffset, row.size() - um::kInlineBitmapOffset, first, pages);
      pages.push_back(page);
      const std::size_t slots = SlotCount(row.size());
      for (const std::uint32_t listed : pages) {
        if (listed / um::kPagesPerBitmapPage >= slots) return false;
      }
      std::fill(row.begin(), row.end(), 0);
      row[0] = um::kReference;
      file.Write(mapPageNumber, mapPage);
      for (const std::uint32_t listed : pages) AddPageToMap(file, rowPointer, listed);
      return true;
    }
    const std::uint32_t bit = page - first;
    row[um::kInlineBitmapOffset + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    file.Write(mapPageNumber, mapPage);
    return true;
  }
  if (row[0] != um::kReference) ThrowDamaged();
  const std::size_t index = page / um::kPagesPerBitmapPage;
  if (index >= SlotCount(row.size())) return false;
  Page bitmap{};
  const std::uint32_t bitmapPage = BitmapPageInSlot(file, row, index, mapPageNumber, mapPage, bitmap);
  MarkInBitmapPage(bitmap, page);
  file.Write(bitmapPage, bitmap);
  return true;
}

bool AddPagesToMap(PageFile& file, std::uint32_t rowPointer, std::span<const std::uint32_t> pages) {
  Page mapPage{};
  const std::uint32_t mapPageNumber = rowPointer >> 8;
  file.Read(mapPageNumber, mapPage);
  auto row = RowAt(mapPage, static_cast<std::uint16_t>(rowPointer & 0xFF));
  if (row.empty() || row[0] != um::kReference) {
    for (const std::uint32_t page : pages) {
      if (!AddPageToMap(file, rowPointer, page)) return false;
    }
    return true;
  }
  Page bitmap{};
  std::size_t at = 0;
  while (at < pages.size()) {
    const std::size_t index = pages[at] / um::kPagesPerBitmapPage;
    if (index >= SlotCount(row.size())) return false;
    const std::uint32_t bitmapPage = BitmapPageInSlot(file, row, index, mapPageNumber, mapPage, bitmap);
    for (; at < pages.size() && pages[at] / um::kPagesPerBitmapPage == index; ++at) MarkInBitmapPage(bitmap, pages[at]);
    file.Write(bitmapPage, bitmap);
  }
  return true;
}

void UpdateGlobalFreeMap(PageFile& file, std::uint32_t firstNewPage) {
  constexpr std::uint32_t kGlobalMapPage = 1;
  const std::uint32_t pointer = RowPointer(kGlobalMapPage, 0);
  std::vector<std::uint32_t> freeBefore;
  try {
    freeBefore = MapPages(file, pointer);
  } catch (const odbc::CDBException&) {
    return;
  }
  auto isFree = [&](std::uint32_t page, std::uint32_t pageCount) {
    if (page >= pageCount) return true;
    return page < firstNewPage && std::binary_search(freeBefore.begin(), freeBefore.end(), page);
  };
  std::sort(freeBefore.begin(), freeBefore.end());

  Page mapPage{};
  file.Read(kGlobalMapPage, mapPage);
  auto row = RowAt(mapPage, 0);
  if (row.size() < um::kInlineBitmapOffset) return;
  const std::size_t inlineCapacity = (row.size() - um::kInlineBitmapOffset) * 8;
  std::uint32_t pageCount = file.PageCount();
  if (pageCount <= inlineCapacity) {
    std::fill(row.begin(), row.end(), 0);
    row[0] = um::kInline;
    for (std::uint32_t page = 0; page < inlineCapacity; ++page) {
      if (isFree(page, pageCount))
        row[um::kInlineBitmapOffset + page / 8] |= static_cast<std::uint8_t>(1u << (page % 8));
    }
    file.Write(kGlobalMapPage, mapPage);
    return;
  }
  // Reference form: its bitmap pages are themselves pages of the file, in use.
  const std::size_t slots = SlotCount(row.size());
  std::vector<std::uint32_t> bitmapPages;
  while (bitmapPages.size() * um::kPagesPerBitmapPage < pageCount) {
    if (bitmapPages.size() == slots) return;
    bitmapPages.push_back(file.Allocate());
    pageCount = file.PageCount();
  }
  std::fill(row.begin(), row.end(), 0);
  row[0] = um::kReference;
  Page bitmap{};
  for (std::size_t i = 0; i < bitmapPages.size(); ++i) {
    bitmap.fill(0);
    bitmap[0] = jet4::page_type::kUsageBitmap;
    bitmap[jet4::kPageMarkerOffset] = jet4::kPageMarker;
    const auto first = static_cast<std::uint32_t>(i * um::kPagesPerBitmapPage);
    for (std::uint32_t bit = 0; bit < um::kPagesPerBitmapPage; ++bit) {
      if (isFree(first + bit, pageCount))
        bitmap[um::kBitmapPageHeader + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    }
    file.Write(bitmapPages[i], bitmap);
    PutU32(row.data() + Slot(i), bitmapPages[i]);
  }
  file.Write(kGlobalMapPage, mapPage);
}

}  // namespace quillon::drivers::access
