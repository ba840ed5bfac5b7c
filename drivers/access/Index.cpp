#include "drivers/access/Index.h"

#include <algorithm>
#include <set>

#include "drivers/access/Bytes.h"
#include "drivers/access/PageFile.h"
#include "drivers/access/UsageMap.h"
#include "platform/odbc/DBException.h"

namespace quillon::drivers::access {
namespace {

namespace ip = jet4::index_page;
namespace key = jet4::index_key;
using jet4::ColumnType;

// General Legacy sort codes of U+0020 to U+00FF. A simple character has one or two sort bytes;
// an international one (accented letters) has the sort byte of its base letter and an accent
// byte kept after the text; an unprintable one (apostrophe, hyphen, C1 controls) has no sort
// byte, only a code kept after the text with its position. Letters sort without case.
void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, std::size_t bytes) {
  for (std::size_t i = bytes; i-- > 0;) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

enum CharKind : std::uint8_t { kSimple, kInternational, kUnprintable };
struct CharCode {
  CharKind kind;
  std::uint16_t code;  // sort bytes (big-endian when two), or the unprintable code
  std::uint8_t extra;  // the accent byte of an international character
};
constexpr CharCode kTextCodes[] = {
    {kSimple, 0x07, 0x00}, {kSimple, 0x09, 0x00}, {kSimple, 0x0A, 0x00}, {kSimple, 0x0C, 0x00},  // U+0020
    {kSimple, 0x0E, 0x00}, {kSimple, 0x10, 0x00}, {kSimple, 0x12, 0x00}, {kUnprintable, 0x80, 0x00},  // U+0024
    {kSimple, 0x14, 0x00}, {kSimple, 0x16, 0x00}, {kSimple, 0x18, 0x00}, {kSimple, 0x2C, 0x00},  // U+0028
    {kSimple, 0x1A, 0x00}, {kUnprintable, 0x82, 0x00}, {kSimple, 0x1C, 0x00}, {kSimple, 0x1E, 0x00},  // U+002C
    {kSimple, 0x36, 0x00}, {kSimple, 0x38, 0x00}, {kSimple, 0x3A, 0x00}, {kSimple, 0x3C, 0x00},  // U+0030
    {kSimple, 0x3E, 0x00}, {kSimple, 0x40, 0x00}, {kSimple, 0x42, 0x00}, {kSimple, 0x44, 0x00},  // U+0034
    {kSimple, 0x46, 0x00}, {kSimple, 0x48, 0x00}, {kSimple, 0x20, 0x00}, {kSimple, 0x22, 0x00},  // U+0038
    {kSimple, 0x2E, 0x00}, {kSimple, 0x30, 0x00}, {kSimple, 0x32, 0x00}, {kSimple, 0x24, 0x00},  // U+003C
    {kSimple, 0x26, 0x00}, {kSimple, 0x4A, 0x00}, {kSimple, 0x4C, 0x00}, {kSimple, 0x4D, 0x00},  // U+0040
    {kSimple, 0x4F, 0x00}, {kSimple, 0x51, 0x00}, {kSimple, 0x53, 0x00}, {kSimple, 0x55, 0x00},  // U+0044
    {kSimple, 0x57, 0x00}, {kSimple, 0x59, 0x00}, {kSimple, 0x5B, 0x00}, {kSimple, 0x5C, 0x00},  // U+0048
    {kSimple, 0x5E, 0x00}, {kSimple, 0x60, 0x00}, {kSimple, 0x62, 0x00}, {kSimple, 0x64, 0x00},  // U+004C
    {kSimple, 0x66, 0x00}, {kSimple, 0x68, 0x00}, {kSimple, 0x69, 0x00}, {kSimple, 0x6B, 0x00},  // U+0050
    {kSimple, 0x6D, 0x00}, {kSimple, 0x6F, 0x00}, {kSimple, 0x71, 0x00}, {kSimple, 0x73, 0x00},  // U+0054
    {kSimple, 0x75, 0x00}, {kSimple, 0x76, 0x00}, {kSimple, 0x78, 0x00}, {kSimple, 0x27, 0x00},  // U+0058
    {kSimple, 0x29, 0x00}, {kSimple, 0x2A, 0x00}, {kSimple, 0x2B02, 0x00}, {kSimple, 0x2B03, 0x00},  // U+005C
    {kSimple, 0x2B07, 0x00}, {kSimple, 0x4A, 0x00}, {kSimple, 0x4C, 0x00}, {kSimple, 0x4D, 0x00},  // U+0060
    {kSimple, 0x4F, 0x00}, {kSimple, 0x51, 0x00}, {kSimple, 0x53, 0x00}, {kSimple, 0x55, 0x00},  // U+0064
    {kSimple, 0x57, 0x00}, {kSimple, 0x59, 0x00}, {kSimple, 0x5B, 0x00}, {kSimple, 0x5C, 0x00},  // U+0068
    {kSimple, 0x5E, 0x00}, {kSimple, 0x60, 0x00}, {kSimple, 0x62, 0x00}, {kSimple, 0x64, 0x00},  // U+006C
    {kSimple, 0x66, 0x00}, {kSimple, 0x68, 0x00}, {kSimple, 0x69, 0x00}, {kSimple, 0x6B, 0x00},  // U+0070
    {kSimple, 0x6D, 0x00}, {kSimple, 0x6F, 0x00}, {kSimple, 0x71, 0x00}, {kSimple, 0x73, 0x00},  // U+0074
    {kSimple, 0x75, 0x00}, {kSimple, 0x76, 0x00}, {kSimple, 0x78, 0x00}, {kSimple, 0x2B09, 0x00},  // U+0078
    {kSimple, 0x2B0B, 0x00}, {kSimple, 0x2B0D, 0x00}, {kSimple, 0x2B0F, 0x00}, {kUnprintable, 0x1D, 0x00},  // U+007C
    {kUnprintable, 0x1E, 0x00}, {kUnprintable, 0x1F, 0x00}, {kUnprintable, 0x20, 0x00}, {kUnprintable, 0x21, 0x00},  // U+0080
    {kUnprintable, 0x22, 0x00}, {kUnprintable, 0x23, 0x00}, {kUnprintable, 0x24, 0x00}, {kUnprintable, 0x25, 0x00},  // U+0084
    {kUnprintable, 0x26, 0x00}, {kUnprintable, 0x27, 0x00}, {kUnprintable, 0x28, 0x00}, {kUnprintable, 0x29, 0x00},  // U+0088
    {kUnprintable, 0x2A, 0x00}, {kUnprintable, 0x2B, 0x00}, {kUnprintable, 0x2C, 0x00}, {kUnprintable, 0x2D, 0x00},  // U+008C
    {kUnprintable, 0x2E, 0x00}, {kUnprintable, 0x2F, 0x00}, {kUnprintable, 0x30, 0x00}, {kUnprintable, 0x31, 0x00},  // U+0090
    {kUnprintable, 0x32, 0x00}, {kUnprintable, 0x33, 0x00}, {kUnprintable, 0x34, 0x00}, {kUnprintable, 0x35, 0x00},  // U+0094
    {kUnprintable, 0x36, 0x00}, {kUnprintable, 0x37, 0x00}, {kUnprintable, 0x38, 0x00}, {kUnprintable, 0x39, 0x00},  // U+0098
    {kUnprintable, 0x3A, 0x00}, {kUnprintable, 0x3B, 0x00}, {kUnprintable, 0x3C, 0x00}, {kUnprintable, 0x3D, 0x00},  // U+009C
    {kSimple, 0x0802, 0x00}, {kSimple, 0x2B10, 0x00}, {kSimple, 0x34A6, 0x00}, {kSimple, 0x34A7, 0x00},  // U+00A0
    {kSimple, 0x34A8, 0x00}, {kSimple, 0x34A9, 0x00}, {kSimple, 0x2B11, 0x00}, {kSimple, 0x34AA, 0x00},  // U+00A4
    {kSimple, 0x2B12, 0x00}, {kSimple, 0x34AB, 0x00}, {kInternational, 0x4A, 0x03}, {kSimple, 0x3305, 0x00},  // U+00A8
    {kSimple, 0x34AC, 0x00}, {kUnprintable, 0x83, 0x00}, {kSimple, 0x34AD, 0x00}, {kSimple, 0x2B13, 0x00},  // U+00AC
    {kSimple, 0x34AE, 0x00}, {kSimple, 0x3304, 0x00}, {kSimple, 0x3A, 0x00}, {kSimple, 0x3C, 0x00},  // U+00B0
    {kSimple, 0x2B14, 0x00}, {kSimple, 0x34AF, 0x00}, {kSimple, 0x34B0, 0x00}, {kSimple, 0x34B1, 0x00},  // U+00B4
    {kSimple, 0x2B15, 0x00}, {kSimple, 0x38, 0x00}, {kInternational, 0x64, 0x03}, {kSimple, 0x3307, 0x00},  // U+00B8
    {kSimple, 0x3712, 0x00}, {kSimple, 0x3716, 0x00}, {kSimple, 0x371A, 0x00}, {kSimple, 0x2B16, 0x00},  // U+00BC
    {kInternational, 0x4A, 0x0F}, {kInternational, 0x4A, 0x0E}, {kInternational, 0x4A, 0x12}, {kInternational, 0x4A, 0x19},  // U+00C0
    {kInternational, 0x4A, 0x13}, {kInternational, 0x4A, 0x1A}, {kSimple, 0x4A51, 0x00}, {kInternational, 0x4D, 0x1C},  // U+00C4
    {kInternational, 0x51, 0x0F}, {kInternational, 0x51, 0x0E}, {kInternational, 0x51, 0x12}, {kInternational, 0x51, 0x13},  // U+00C8
    {kInternational, 0x59, 0x0F}, {kInternational, 0x59, 0x0E}, {kInternational, 0x59, 0x12}, {kInternational, 0x59, 0x13},  // U+00CC
    {kInternational, 0x4F, 0x68}, {kInternational, 0x62, 0x19}, {kInternational, 0x64, 0x0F}, {kInternational, 0x64, 0x0E},  // U+00D0
    {kInternational, 0x64, 0x12}, {kInternational, 0x64, 0x19}, {kInternational, 0x64, 0x13}, {kSimple, 0x3309, 0x00},  // U+00D4
    {kInternational, 0x64, 0x21}, {kInternational, 0x6F, 0x0F}, {kInternational, 0x6F, 0x0E}, {kInternational, 0x6F, 0x12},  // U+00D8
    {kInternational, 0x6F, 0x13}, {kInternational, 0x76, 0x0E}, {kSimple, 0x6D57, 0x00}, {kSimple, 0x6B6B, 0x00},  // U+00DC
    {kInternational, 0x4A, 0x0F}, {kInternational, 0x4A, 0x0E}, {kInternational, 0x4A, 0x12}, {kInternational, 0x4A, 0x19},  // U+00E0
    {kInternational, 0x4A, 0x13}, {kInternational, 0x4A, 0x1A}, {kSimple, 0x4A51, 0x00}, {kInternational, 0x4D, 0x1C},  // U+00E4
    {kInternational, 0x51, 0x0F}, {kInternational, 0x51, 0x0E}, {kInternational, 0x51, 0x12}, {kInternational, 0x51, 0x13},  // U+00E8
    {kInternational, 0x59, 0x0F}, {kInternational, 0x59, 0x0E}, {kInternational, 0x59, 0x12}, {kInternational, 0x59, 0x13},  // U+00EC
    {kInternational, 0x4F, 0x68}, {kInternational, 0x62, 0x19}, {kInternational, 0x64, 0x0F}, {kInternational, 0x64, 0x0E},  // U+00F0
    {kInternational, 0x64, 0x12}, {kInternational, 0x64, 0x19}, {kInternational, 0x64, 0x13}, {kSimple, 0x330A, 0x00},  // U+00F4
    {kInternational, 0x64, 0x21}, {kInternational, 0x6F, 0x0F}, {kInternational, 0x6F, 0x0E}, {kInternational, 0x6F, 0x12},  // U+00F8
    {kInternational, 0x6F, 0x13}, {kInternational, 0x76, 0x0E}, {kSimple, 0x6D57, 0x00}, {kInternational, 0x76, 0x13},  // U+00FC
};
constexpr char16_t kFirstCoded = u' ';

const CharCode* TextCode(char16_t c) {
  const std::size_t at = static_cast<std::size_t>(c) - kFirstCoded;
  return c < kFirstCoded || at >= std::size(kTextCodes) ? nullptr : &kTextCodes[at];
}

void PutCode(std::vector<std::uint8_t>& out, std::uint16_t code) {
  if (code > 0xFF) out.push_back(static_cast<std::uint8_t>(code >> 8));
  out.push_back(static_cast<std::uint8_t>(code));
}

// The text key: sort bytes, kEndText, then what tells apart texts with the same sort bytes.
// Accent bytes follow, one per character up to the last accented one (kNoAccent for plain
// ones); unprintable characters follow after three kEndText, each as a big-endian position
// (kUnprintableStart + kUnprintableStep x its place counted in accent bytes and sort
// characters, with kUnprintableFlag), kUnprintableMidfix and its code.
constexpr std::uint8_t kNoAccent = 0x02;
constexpr std::uint32_t kUnprintableStart = 7;
constexpr std::uint32_t kUnprintableStep = 4;
constexpr std::uint32_t kUnprintableFlag = 0x8000;
constexpr std::uint8_t kUnprintableMidfix = 0x06;
constexpr std::size_t kEndTextsBeforeUnprintable = 3;

bool AppendTextKey(std::vector<std::uint8_t>& out, std::u16string_view text) {
  std::vector<std::uint8_t> accents;
  std::size_t accentChars = 0;  // sort characters that the accent bytes account for
  bool anyAccent = false;
  std::vector<std::uint8_t> unprintable;
  std::size_t sortChars = 0;
  for (const char16_t c : text) {
    const CharCode* code = TextCode(c);
    if (code == nullptr) return false;
    const std::size_t place = sortChars;
    if (code->kind != kUnprintable) {
      PutCode(out, code->code);
      ++sortChars;
    }
    if (code->kind == kInternational) {
      if (accentChars < place) accents.insert(accents.end(), place - accentChars, kNoAccent);
      accents.push_back(code->extra);
      accentChars = place + 1;
      anyAccent = true;
    } else if (code->kind == kUnprintable) {
      const std::size_t position = anyAccent ? accents.size() + (place - accentChars) : place;
      const auto value = static_cast<std::uint32_t>((kUnprintableStart + kUnprintableStep * position) | kUnprintableFlag);
      PutBigEndian(unprintable, value, jet4::kU16Size);
      unprintable.push_back(kUnprintableMidfix);
      unprintable.push_back(static_cast<std::uint8_t>(code->code));
    }
  }
  out.push_back(key::kEndText);
  // Trailing plain-character markers say nothing and are left out.
  while (!accents.empty() && accents.back() <= kNoAccent) accents.pop_back();
  out.insert(out.end(), accents.begin(), accents.end());
  if (!unprintable.empty()) {
    out.insert(out.end(), kEndTextsBeforeUnprintable, key::kEndText);
    out.insert(out.end(), unprintable.begin(), unprintable.end());
  }
  out.push_back(key::kEndExtraText);
  return true;
}

// Two levels hold far more entries than a catalog has; deeper indexes are not read.
constexpr std::size_t kMaxDepth = 8;

[[noreturn]] void ThrowIndexDamaged() {
  throw odbc::CDBException(L"The database holds a damaged index", L"HY000");
}

std::uint32_t GetBigEndian(const std::uint8_t* at, std::size_t bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < bytes; ++i) value = (value << 8) | at[i];
  return value;
}

// The entry as stored on a leaf page: key, 3-byte page and row byte.
std::vector<std::uint8_t> LeafBytes(const IndexEntry& entry) {
  std::vector<std::uint8_t> bytes = entry.key;
  PutBigEndian(bytes, entry.rowPointer >> 8, ip::kRowPointerPageSize);
  bytes.push_back(static_cast<std::uint8_t>(entry.rowPointer));
  return bytes;
}

// The entries of one index page, whole.
std::vector<std::vector<std::uint8_t>> PageEntries(const Page& page) {
  const std::size_t prefix = GetU16(page.data() + ip::kPrefixLengthOffset);
  std::vector<std::vector<std::uint8_t>> entries;
  std::size_t start = 0;
  for (std::size_t bit = 1; bit <= ip::kEntriesCapacity; ++bit) {
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
  Page page{};
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
      entry.rowPointer = RowPointer(GetBigEndian(&bytes[keySize], ip::kRowPointerPageSize), bytes[keySize + ip::kRowPointerPageSize]);
      if (entries) entries->push_back(std::move(entry));
    }
    return;
  }
  for (const auto& bytes : stored) {
    if (bytes.size() < ip::kRowPointerSize + ip::kChildPageSize) ThrowIndexDamaged();
    Walk(file, tdefPage, GetBigEndian(&bytes[bytes.size() - ip::kChildPageSize], ip::kChildPageSize), depth + 1,
         entries, pages, seen);
  }
  const std::uint32_t tail = GetU32(page.data() + ip::kTailOffset);
  if (tail != 0) Walk(file, tdefPage, tail, depth + 1, entries, pages, seen);
}

// Lays `entries` (whole, in order) on an index page; true when they fit.
bool FillPage(Page& page, std::uint8_t type, std::uint32_t tdefPage, const std::vector<std::vector<std::uint8_t>>& entries) {
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
      PutBigEndian(out, static_cast<std::uint32_t>(value.integer) ^ key::kLongSignFlip, jet4::kU32Size);
      return true;
    case ColumnType::Integer:
      if (value.kind != Value::Kind::Integer) return false;
      out.push_back(key::kAscendingValue);
      PutBigEndian(out, (static_cast<std::uint32_t>(value.integer) & key::kIntegerMask) ^ key::kIntegerSignFlip, jet4::kU16Size);
      return true;
    case ColumnType::Text:
      if (value.kind != Value::Kind::Text) return false;
      out.push_back(key::kAscendingValue);
      return AppendTextKey(out, value.text);
    default:
      return false;
  }
}

}  // namespace

std::optional<std::vector<std::uint8_t>> TextIndexKey(std::u16string_view text) {
  std::vector<std::uint8_t> out{key::kAscendingValue};
  if (!AppendTextKey(out, text)) return std::nullopt;
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
      throw odbc::CDBException(L"An index of the database's system tables has no room to grow", L"HY000");
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
      PutBigEndian(entry, numbers[i], ip::kChildPageSize);
      nodeEntries.push_back(std::move(entry));
    }
    if (!FillPage(page, jet4::page_type::kIndexNode, tdefPage, nodeEntries)) {
      throw odbc::CDBException(L"An index of the database's system tables has grown too large", L"HY000");
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
      throw odbc::CDBException(L"A value of the new row cannot be written into the table's index", L"HY000");
    }
    PendingIndexEntry entry{ReadIndexEntries(file, tdefPage, index.firstPage), std::move(*indexKey)};
    if ((index.flags & jet4::index_def::kFlagUnique) != 0 &&
        std::any_of(entry.entries.begin(), entry.entries.end(), [&](const IndexEntry& e) { return e.key == entry.key; })) {
      throw odbc::CDBException(L"The new row would duplicate a value of a unique index", L"23000");
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
