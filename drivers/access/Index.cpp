#include "drivers/access/Index.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "drivers/access/Bytes.h"
#include "drivers/access/PageFile.h"
#include "drivers/access/UsageMap.h"
#include "platform/errors/Errors.h"

namespace quillon::drivers::access {
namespace {

namespace ip = jet4::index_page;
namespace key = jet4::index_key;
using jet4::ColumnType;

// The bytes of an index page's entry mask: a bit for each byte of the entries, from bit 1.
constexpr std::size_t kMaskBytes = ip::kEntriesCapacity / 8 + 1;

#include "drivers/access/GeneralSortCodes.inc"

// How a UTF-16 code unit enters a Text key under the General sort order. A simple character
// has sort bytes only; an international one (accented letters and the like) has the sort
// bytes of its base and accent bytes kept after the text; an unprintable one has no sort
// bytes, only a code kept after the text with its position; an accent modifier adds to the
// accent byte before it; a flagged international one also leaves a 2-bit flag; surrogates
// have computed sort bytes and a fixed accent byte; ignored ones leave nothing.
enum class SortKind : std::uint8_t {
  Ignored = 0,
  Simple = 1,
  International = 2,
  Unprintable = 3,
  AccentModifier = 4,
  FlaggedInternational = 5,
  HighSurrogate = 6,
  LowSurrogate = 7,
};

struct SortCode {
  SortKind kind = SortKind::Ignored;
  std::uint8_t sortLength = 0;
  std::uint8_t sort[4] = {};
  std::uint8_t extraLength = 0;
  std::uint8_t extra[2] = {};
  std::uint8_t flag = 0;
};

// The record layout generate.py writes.
constexpr unsigned kKindBits = 0;
constexpr unsigned kSortLengthBits = 3;
constexpr unsigned kExtraLengthBits = 6;
constexpr unsigned kFlagBits = 8;
constexpr unsigned kSortBytesBits = 16;
constexpr unsigned kExtraBytesBits = 48;
constexpr std::uint64_t kKindMask = 0x7;
constexpr std::uint64_t kSortLengthMask = 0x7;
constexpr std::uint64_t kExtraLengthMask = 0x3;
constexpr std::uint64_t kFlagMask = 0x3;

// Surrogates: the sort bytes are the code unit less an offset, which for low surrogates
// depends on the unit's place in its block of 1024; the accent byte is fixed.
constexpr std::uint32_t kHighSurrogateOffset = 10238;
constexpr char16_t kFirstLowSurrogate = 0xDC00;
constexpr std::uint32_t kLowSurrogateBlock = 1024;
constexpr std::uint32_t kLowSurrogateSpans[] = {8, 8 + 254, 8 + 254 * 2, 8 + 254 * 3};
constexpr std::uint32_t kLowSurrogateOffsets[] = {9992, 9990, 9988, 9986, 9984};
constexpr std::uint8_t kSurrogateAccent = 0x3F;

SortCode CodeOf(char16_t c) {
  const std::uint64_t record = kGeneralSortCodes[c];
  SortCode code;
  code.kind = static_cast<SortKind>((record >> kKindBits) & kKindMask);
  if (code.kind == SortKind::HighSurrogate || code.kind == SortKind::LowSurrogate) {
    std::uint32_t offset = kHighSurrogateOffset;
    if (code.kind == SortKind::LowSurrogate) {
      const std::uint32_t place = (static_cast<std::uint32_t>(c) - kFirstLowSurrogate) % kLowSurrogateBlock;
      std::size_t span = 0;
      while (span < std::size(kLowSurrogateSpans) && place >= kLowSurrogateSpans[span]) ++span;
      offset = kLowSurrogateOffsets[span];
    }
    const std::uint32_t value = static_cast<std::uint32_t>(c) - offset;
    code.sortLength = 2;
    code.sort[0] = static_cast<std::uint8_t>(value >> 8);
    code.sort[1] = static_cast<std::uint8_t>(value);
    code.extraLength = 1;
    code.extra[0] = kSurrogateAccent;
    return code;
  }
  code.sortLength = static_cast<std::uint8_t>((record >> kSortLengthBits) & kSortLengthMask);
  code.extraLength = static_cast<std::uint8_t>((record >> kExtraLengthBits) & kExtraLengthMask);
  code.flag = static_cast<std::uint8_t>((record >> kFlagBits) & kFlagMask);
  for (unsigned i = 0; i < code.sortLength; ++i)
    code.sort[i] = static_cast<std::uint8_t>(record >> (kSortBytesBits + 8 * i));
  for (unsigned i = 0; i < code.extraLength; ++i)
    code.extra[i] = static_cast<std::uint8_t>(record >> (kExtraBytesBits + 8 * i));
  return code;
}

// The text key: sort bytes, kEndText, then what tells apart texts with the same sort bytes.
// Accent bytes follow, one per sort character up to the last accented one (kNoAccent for
// plain ones). Flags and unprintable characters follow after two more kEndText: the flags
// packed three to a byte with a fixed suffix, then kEndText and each unprintable character as
// a big-endian position (kUnprintableStart + kUnprintableStep x its place counted in accent
// bytes and sort characters, with kUnprintableFlag), kUnprintableMidfix and its code.
constexpr std::uint8_t kNoAccent = 0x02;
constexpr std::uint32_t kUnprintableStart = 7;
constexpr std::uint32_t kUnprintableStep = 4;
constexpr std::uint32_t kUnprintableFlag = 0x8000;
constexpr std::uint8_t kUnprintableMidfix = 0x06;
constexpr std::uint8_t kFlagsStart = 0x80;
constexpr std::uint8_t kFlagTrailing = 0x03;  // flags of this value at the end are left out
constexpr std::size_t kFlagsPerByte = 3;
constexpr std::uint8_t kFlagsSuffix[] = {0xFF, 0x02, 0x80, 0xFF, 0x80};
constexpr std::uint8_t kFlagsBeforeUnprintable = 0xFF;
// Keys index at most the first 255 characters, and trailing blanks not at all.
constexpr std::size_t kMaxKeyChars = 255;

void AppendTextKey(std::vector<std::uint8_t>& out, std::u16string_view text) {
  if (text.size() > kMaxKeyChars) text = text.substr(0, kMaxKeyChars);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  std::vector<std::uint8_t> accents;
  std::size_t accentChars = 0;   // sort characters that the accent bytes account for
  std::size_t accentPrefix = 0;  // a modifier that came before any accent byte
  bool anyAccent = false;
  std::vector<std::uint8_t> unprintable;
  std::vector<std::uint8_t> flags;
  std::size_t sortChars = 0;
  for (const char16_t c : text) {
    const SortCode code = CodeOf(c);
    const std::size_t place = sortChars;
    if (code.sortLength > 0) {
      out.insert(out.end(), code.sort, code.sort + code.sortLength);
      ++sortChars;
    }
    if (code.kind == SortKind::Simple || code.kind == SortKind::Ignored) continue;
    const bool accent = code.kind == SortKind::International || code.kind == SortKind::FlaggedInternational ||
                        code.kind == SortKind::HighSurrogate || code.kind == SortKind::LowSurrogate;
    const std::uint8_t modifier = code.kind == SortKind::AccentModifier ? code.extra[0] : 0;
    if ((accent && code.extraLength > 0) || modifier != 0) {
      anyAccent = true;
      if (accentChars < place) {
        accents.insert(accents.end(), place - accentChars, kNoAccent);
        accentChars = place;
      }
      if (modifier == 0) {
        accents.insert(accents.end(), code.extra, code.extra + code.extraLength);
        ++accentChars;
      } else if (!accents.empty()) {
        accents.back() = static_cast<std::uint8_t>(accents.back() + modifier);
      } else {
        accents.push_back(modifier);
        accentPrefix = 1;
      }
    }
    if (code.kind == SortKind::Unprintable) {
      const std::size_t position = anyAccent ? accents.size() + (place - accentChars) - accentPrefix : place;
      const auto value =
          static_cast<std::uint32_t>((kUnprintableStart + kUnprintableStep * position) | kUnprintableFlag);
      bytes::AppendBigEndian(unprintable, value & 0xFFFF, jet4::kU16Size);
      unprintable.push_back(kUnprintableMidfix);
      unprintable.insert(unprintable.end(), code.extra, code.extra + code.extraLength);
    }
    if (code.flag != 0) flags.push_back(code.flag);
  }
  out.push_back(key::kEndText);
  // Trailing plain-character markers say nothing and are left out.
  while (!accents.empty() && accents.back() <= kNoAccent) accents.pop_back();
  out.insert(out.end(), accents.begin(), accents.end());
  if (!unprintable.empty() || !flags.empty()) {
    out.push_back(key::kEndText);
    out.push_back(key::kEndText);
    if (!flags.empty()) {
      while (!flags.empty() && flags.back() == kFlagTrailing) flags.pop_back();
      std::uint8_t packed = kFlagsStart;
      std::size_t inByte = 0;
      for (const std::uint8_t flag : flags) {
        packed = static_cast<std::uint8_t>(packed | flag << ((kFlagsPerByte - 1 - inByte) * 2));
        if (++inByte == kFlagsPerByte) {
          out.push_back(packed);
          packed = kFlagsStart;
          inByte = 0;
        }
      }
      if (inByte > 0) out.push_back(packed);
      out.insert(out.end(), std::begin(kFlagsSuffix), std::end(kFlagsSuffix));
      if (!unprintable.empty()) out.push_back(kFlagsBeforeUnprintable);
    }
    if (!unprintable.empty()) {
      out.push_back(key::kEndText);
      out.insert(out.end(), unprintable.begin(), unprintable.end());
    }
  }
  out.push_back(key::kEndExtraText);
}

// Two levels hold far more entries than a catalog has; deeper indexes are not read.
constexpr std::size_t kMaxDepth = 8;

[[noreturn]] void ThrowIndexDamaged() { throw odbc::errors::DatabaseDamaged(L"index"); }

// The entry as stored on a leaf page: key, 3-byte page and row byte.
std::vector<std::uint8_t> LeafBytes(const IndexEntry& entry) {
  std::vector<std::uint8_t> bytes = entry.key;
  bytes::AppendBigEndian(bytes, entry.rowPointer >> 8, ip::kRowPointerPageSize);
  bytes.push_back(static_cast<std::uint8_t>(entry.rowPointer));
  return bytes;
}

// The entries of one index page, whole.
std::vector<std::vector<std::uint8_t>> PageEntries(const Page& page) {
  const std::size_t prefix = GetU16(page.data() + ip::kPrefixLengthOffset);
  std::vector<std::vector<std::uint8_t>> entries;
  std::size_t start = 0;
  for (std::size_t bit = 1; bit <= ip::kEntriesCapacity; ++bit) {
    // Most of the mask is clear: bytes without a bit set are passed over whole, a word of them
    // at a time where the mask reaches that far.
    if (bit % 8 == 0) {
      const std::uint8_t* byte = page.data() + ip::kMaskOffset + bit / 8;
      std::uint64_t word = 1;
      if (bit / 8 + sizeof word <= kMaskBytes) std::memcpy(&word, byte, sizeof word);
      if (word == 0) {
        bit += 8 * sizeof word - 1;
        continue;
      }
      if (*byte == 0) {
        bit += 7;
        continue;
      }
    }
    if ((page[ip::kMaskOffset + bit / 8] & (1u << (bit % 8))) == 0) continue;
    const auto* from = page.data() + ip::kEntriesOffset + start;
    std::vector<std::uint8_t> entry;
    if (!entries.empty()) {
      if (entries.front().size() < prefix) ThrowIndexDamaged();
      entry.assign(entries.front().begin(), entries.front().begin() + static_cast<std::ptrdiff_t>(prefix));
    }
    entry.insert(entry.end(), from, page.data() + ip::kEntriesOffset + bit);
    entries.push_back(std::move(entry));
    start = bit;
  }
  return entries;
}

void CheckIndexPage(const Page& page, std::uint32_t tdefPage) {
  if ((page[0] != jet4::page_type::kIndexLeaf && page[0] != jet4::page_type::kIndexNode) ||
      GetU32(page.data() + ip::kOwnerOffset) != tdefPage) {
    ThrowIndexDamaged();
  }
}

// Walks the index from `pageNumber` down, children in order, collecting leaf entries and pages.
void Walk(const PageFile& file, std::uint32_t tdefPage, std::uint32_t pageNumber, std::size_t depth,
          std::vector<IndexEntry>* entries, std::vector<std::uint32_t>& pages, std::set<std::uint32_t>& seen) {
  if (depth > kMaxDepth || pageNumber == 0 || pageNumber >= file.PageCount() || !seen.insert(pageNumber).second) {
    ThrowIndexDamaged();
  }
  Page page;  // Read fills it whole
  file.Read(pageNumber, page);
  CheckIndexPage(page, tdefPage);
  pages.push_back(pageNumber);
  const auto stored = PageEntries(page);
  if (page[0] == jet4::page_type::kIndexLeaf) {
    for (const auto& bytes : stored) {
      if (bytes.size() < ip::kRowPointerSize) ThrowIndexDamaged();
      const std::size_t keySize = bytes.size() - ip::kRowPointerSize;
      IndexEntry entry;
      entry.key.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(keySize));
      entry.rowPointer = RowPointer(bytes::GetBigEndian(&bytes[keySize], ip::kRowPointerPageSize),
                                    bytes[keySize + ip::kRowPointerPageSize]);
      if (entries) entries->push_back(std::move(entry));
    }
    return;
  }
  for (const auto& bytes : stored) {
    if (bytes.size() < ip::kRowPointerSize + ip::kChildPageSize) ThrowIndexDamaged();
    Walk(file, tdefPage, bytes::GetBigEndian(&bytes[bytes.size() - ip::kChildPageSize], ip::kChildPageSize), depth + 1,
         entries, pages, seen);
  }
  const std::uint32_t tail = GetU32(page.data() + ip::kTailOffset);
  if (tail != 0) Walk(file, tdefPage, tail, depth + 1, entries, pages, seen);
}

// Lays `entries` (whole, in order) on an index page; true when they fit.
bool FillPage(Page& page, std::uint8_t type, std::uint32_t tdefPage,
              const std::vector<std::vector<std::uint8_t>>& entries) {
  page.fill(0);
  page[0] = type;
  page[jet4::kPageMarkerOffset] = jet4::kPageMarker;
  PutU32(page.data() + ip::kOwnerOffset, tdefPage);
  std::size_t used = 0;
  for (const auto& entry : entries) {
    if (used + entry.size() > ip::kEntriesCapacity) return false;
    std::copy(entry.begin(), entry.end(), page.begin() + static_cast<std::ptrdiff_t>(ip::kEntriesOffset + used));
    used += entry.size();
    page[ip::kMaskOffset + used / 8] |= static_cast<std::uint8_t>(1u << (used % 8));
  }
  PutU16(page.data() + ip::kFreeSpaceOffset, static_cast<std::uint16_t>(ip::kEntriesCapacity - used));
  return true;
}

bool AppendKey(std::vector<std::uint8_t>& out, const ColumnSpec& column, const Value& value) {
  if (value.kind == Value::Kind::Null) {
    out.push_back(key::kAscendingNull);
    return true;
  }
  switch (column.type) {
    case ColumnType::Long:
      if (value.kind != Value::Kind::Integer) return false;
      out.push_back(key::kAscendingValue);
      bytes::AppendBigEndian(out, static_cast<std::uint32_t>(value.integer) ^ key::kLongSignFlip, jet4::kU32Size);
      return true;
    case ColumnType::Integer:
      if (value.kind != Value::Kind::Integer) return false;
      out.push_back(key::kAscendingValue);
      bytes::AppendBigEndian(
          out, (static_cast<std::uint32_t>(value.integer) & key::kIntegerMask) ^ key::kIntegerSignFlip, jet4::kU16Size);
      return true;
    case ColumnType::Text:
      if (value.kind != Value::Kind::Text) return false;
      out.push_back(key::kAscendingValue);
      AppendTextKey(out, value.text);
      return true;
    default:
      return false;
  }
}

}  // namespace

std::vector<std::uint8_t> TextIndexKey(std::u16string_view text) {
  std::vector<std::uint8_t> out{key::kAscendingValue};
  AppendTextKey(out, text);
  return out;
}

std::optional<std::vector<std::uint8_t>> IndexKey(const TableDefinition& table, const RealIndex& index,
                                                  std::span<const Value> values) {
  std::vector<std::uint8_t> out;
  for (const auto& column : index.columns) {
    if (!column.ascending) return std::nullopt;
    const auto it = std::find_if(table.columns.begin(), table.columns.end(),
                                 [&](const ColumnSpec& c) { return c.number == column.number; });
    if (it == table.columns.end()) return std::nullopt;
    const auto position = static_cast<std::size_t>(it - table.columns.begin());
    if (position >= values.size() || !AppendKey(out, *it, values[position])) return std::nullopt;
  }
  return out;
}

std::vector<IndexEntry> ReadIndexEntries(const PageFile& file, std::uint32_t tdefPage, std::uint32_t rootPage) {
  std::vector<IndexEntry> entries;
  std::vector<std::uint32_t> pages;
  std::set<std::uint32_t> seen;
  Walk(file, tdefPage, rootPage, 0, &entries, pages, seen);
  return entries;
}

void WriteIndex(PageFile& file, std::uint32_t tdefPage, const RealIndex& index, std::vector<IndexEntry> entries) {
  std::vector<std::vector<std::uint8_t>> leafEntries;
  leafEntries.reserve(entries.size());
  for (const auto& entry : entries) leafEntries.push_back(LeafBytes(entry));
  std::sort(leafEntries.begin(), leafEntries.end());

  // The pages the index has now, root first, are used again before any new one.
  std::vector<std::uint32_t> pages;
  std::set<std::uint32_t> seen;
  Walk(file, tdefPage, index.firstPage, 0, nullptr, pages, seen);
  std::size_t nextFree = 1;
  const auto takePage = [&]() {
    if (nextFree < pages.size()) return pages[nextFree++];
    const std::uint32_t page = file.Allocate();
    if (!AddPageToMap(file, index.usageMap, page)) {
      throw odbc::errors::SystemIndexCannotGrow();
    }
    return page;
  };

  Page page{};
  if (FillPage(page, jet4::page_type::kIndexLeaf, tdefPage, leafEntries)) {
    file.Write(index.firstPage, page);
  } else {
    // Two levels: leaves chained in order under a root node page. Every leaf but the last has
    // an entry in the root (the leaf's last entry and the leaf's page); the last is the tail.
    std::vector<std::vector<std::vector<std::uint8_t>>> leaves(1);
    std::size_t used = 0;
    for (auto& entry : leafEntries) {
      if (entry.size() + ip::kChildPageSize > ip::kEntriesCapacity) ThrowIndexDamaged();
      if (used + entry.size() > ip::kEntriesCapacity) {
        leaves.emplace_back();
        used = 0;
      }
      used += entry.size();
      leaves.back().push_back(std::move(entry));
    }
    std::vector<std::uint32_t> numbers;
    for (std::size_t i = 0; i < leaves.size(); ++i) numbers.push_back(takePage());
    std::vector<std::vector<std::uint8_t>> nodeEntries;
    for (std::size_t i = 0; i + 1 < leaves.size(); ++i) {
      std::vector<std::uint8_t> entry = leaves[i].back();
      bytes::AppendBigEndian(entry, numbers[i], ip::kChildPageSize);
      nodeEntries.push_back(std::move(entry));
    }
    if (!FillPage(page, jet4::page_type::kIndexNode, tdefPage, nodeEntries)) {
      throw odbc::errors::SystemIndexTooLarge();
    }
    PutU32(page.data() + ip::kTailOffset, numbers.back());
    file.Write(index.firstPage, page);
    for (std::size_t i = 0; i < leaves.size(); ++i) {
      FillPage(page, jet4::page_type::kIndexLeaf, tdefPage, leaves[i]);
      PutU32(page.data() + ip::kPrevOffset, i > 0 ? numbers[i - 1] : 0);
      PutU32(page.data() + ip::kNextOffset, i + 1 < numbers.size() ? numbers[i + 1] : 0);
      file.Write(numbers[i], page);
    }
  }
  // Pages the index no longer links to stay its own, empty.
  for (; nextFree < pages.size(); ++nextFree) {
    FillPage(page, jet4::page_type::kIndexLeaf, tdefPage, {});
    file.Write(pages[nextFree], page);
  }
}

void WriteEmptyIndex(PageFile& file, std::uint32_t tdefPage, std::uint32_t rootPage) {
  Page page{};
  FillPage(page, jet4::page_type::kIndexLeaf, tdefPage, {});
  file.Write(rootPage, page);
}

std::vector<PendingIndexEntry> PrepareIndexEntries(const PageFile& file, std::uint32_t tdefPage,
                                                   const TableDefinition& table, std::span<const Value> values) {
  std::vector<PendingIndexEntry> pending;
  for (const auto& index : table.realIndexes) {
    auto indexKey = IndexKey(table, index, values);
    if (!indexKey) {
      throw odbc::errors::IndexKeyUnwritable();
    }
    PendingIndexEntry entry{ReadIndexEntries(file, tdefPage, index.firstPage), std::move(*indexKey)};
    if ((index.flags & jet4::index_def::kFlagUnique) != 0 &&
        std::any_of(entry.entries.begin(), entry.entries.end(),
                    [&](const IndexEntry& e) { return e.key == entry.key; })) {
      throw odbc::errors::DuplicateKey();
    }
    pending.push_back(std::move(entry));
  }
  return pending;
}

void AddIndexEntries(PageFile& file, std::uint32_t tdefPage, const TableDefinition& table,
                     std::vector<PendingIndexEntry> pending, std::uint32_t rowPointer) {
  for (std::size_t i = 0; i < pending.size() && i < table.realIndexes.size(); ++i) {
    pending[i].entries.push_back({std::move(pending[i].key), rowPointer});
    WriteIndex(file, tdefPage, table.realIndexes[i], std::move(pending[i].entries));
  }
}

}  // namespace quillon::drivers::access
