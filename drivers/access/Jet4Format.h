// Layout constants of the Jet 4 (Access 2000-2003) database format: page types, page header
// offsets, table-definition and column-record offsets, column type codes and flags.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillon::drivers::access::jet4 {

inline constexpr std::size_t kPageSize = 4096;
inline constexpr std::uint32_t kMaxPages = 0x80000000u / kPageSize;  // 2 GB file limit
// The byte after a page's type on every page written here.
inline constexpr std::size_t kPageMarkerOffset = 1;
inline constexpr std::uint8_t kPageMarker = 0x01;
// Little-endian field sizes used throughout.
inline constexpr std::size_t kU16Size = 2;
inline constexpr std::size_t kU32Size = 4;

namespace page_type {
inline constexpr std::uint8_t kHeader = 0x00;
inline constexpr std::uint8_t kData = 0x01;
inline constexpr std::uint8_t kTableDefinition = 0x02;
inline constexpr std::uint8_t kIndexNode = 0x03;
inline constexpr std::uint8_t kIndexLeaf = 0x04;
inline constexpr std::uint8_t kUsageBitmap = 0x05;
}  // namespace page_type

// Page 0.
namespace header {
inline constexpr std::uint8_t kMagic[4] = {0x00, 0x01, 0x00, 0x00};
inline constexpr char kJetSignature[] = "Standard Jet DB";  // at 4, NUL-terminated
inline constexpr char kAceSignature[] = "Standard ACE DB";
inline constexpr std::size_t kSignatureOffset = 4;
inline constexpr std::size_t kVersionOffset = 0x14;
inline constexpr std::uint8_t kVersionJet3 = 0x00;
inline constexpr std::uint8_t kVersionJet4 = 0x01;
inline constexpr std::size_t kMaskedOffset = 0x18;
inline constexpr std::size_t kMaskedLength = 128;
inline constexpr std::uint8_t kMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
// Offsets below are inside the masked area (absolute page offsets).
inline constexpr std::size_t kCodePageOffset = 0x3C;
inline constexpr std::uint16_t kCodePage1252 = 1252;
inline constexpr std::size_t kEncodingKeyOffset = 0x3E;  // 4 bytes
inline constexpr std::size_t kPasswordOffset = 0x42;
inline constexpr std::size_t kPasswordLength = 40;
inline constexpr std::size_t kSortOrderOffset = 0x6E;
inline constexpr std::uint16_t kSortOrderGeneral = 0x0409;
inline constexpr std::size_t kCreationDateOffset = 0x72;
// After the masked area: the engine's version number and its text.
inline constexpr std::size_t kEngineVersionOffset = 0x98;
inline constexpr std::uint32_t kEngineVersion = 0x0654;
inline constexpr std::size_t kEngineVersionTextOffset = 0x9C;
inline constexpr char kEngineVersionText[] = "4.0";
}  // namespace header

// Data pages (also the pages holding usage-map rows and long values).
namespace data_page {
inline constexpr std::size_t kFreeSpaceOffset = 2;
inline constexpr std::size_t kOwnerOffset = 4;  // TDEF page, or "LVAL" on long-value pages
inline constexpr std::size_t kRowCountOffset = 12;
inline constexpr std::size_t kRowOffsetsOffset = 14;
inline constexpr std::uint8_t kLongValueOwner[4] = {'L', 'V', 'A', 'L'};
inline constexpr std::uint16_t kRowOffsetMask = 0x1FFF;
inline constexpr std::uint16_t kRowDeletedFlag = 0x8000;
inline constexpr std::uint16_t kRowOverflowFlag = 0x4000;
inline constexpr std::size_t kMaxRowsPerPage = 255;
inline constexpr std::size_t kMaxRowSize = 4060;
inline constexpr std::size_t kRowOffsetSize = 2;
}  // namespace data_page

// A row: the column count, then fixed-length data at the columns' fixed offsets.
namespace row {
inline constexpr std::size_t kColumnCountSize = 2;
inline constexpr std::size_t kVarOffsetSize = 2;
}  // namespace row

// Table definition page.
namespace tdef {
inline constexpr std::size_t kFreeSpaceOffset = 2;
inline constexpr std::size_t kNextPageOffset = 4;
inline constexpr std::size_t kLengthOffset = 8;  // bytes the whole definition takes, from its first byte
inline constexpr std::size_t kMagicOffset = 12;
inline constexpr std::uint32_t kMagicTableNumber = 1625;
inline constexpr std::size_t kRowCountOffset = 16;
inline constexpr std::size_t kAutoNumberOffset = 20;
inline constexpr std::size_t kAutoNumberFlagOffset = 24;
inline constexpr std::size_t kTableTypeOffset = 40;
inline constexpr std::uint8_t kTableTypeUser = 0x4E;
inline constexpr std::uint8_t kTableTypeSystem = 0x53;
inline constexpr std::size_t kMaxColumnsOffset = 41;
inline constexpr std::size_t kVarColumnsOffset = 43;
inline constexpr std::size_t kColumnCountOffset = 45;
inline constexpr std::size_t kIndexCountOffset = 47;
inline constexpr std::size_t kRealIndexCountOffset = 51;
inline constexpr std::size_t kUsageMapOffset = 55;  // row byte, then 3-byte page
inline constexpr std::size_t kFreeMapOffset = 59;
inline constexpr std::size_t kHeaderSize = 63;
inline constexpr std::size_t kRealIndexEntrySize = 12;
inline constexpr std::size_t kColumnRecordSize = 25;
// After the index names, per long-value column: its number, then the row pointers of the maps
// of its own pages and of those with free space; the list ends with kEnd.
inline constexpr std::size_t kLongValueMapEntrySize = 10;
// Every page of a definition is 8 bytes short of its free space, as Jet counts it.
inline constexpr std::size_t kFreeSpaceReserve = 8;
inline constexpr std::size_t kContinuationHeaderSize = 8;
inline constexpr std::uint8_t kEnd[2] = {0xFF, 0xFF};
}  // namespace tdef

// The index section of a TDEF. After the header: one 12-byte entry per real index (its row
// count at kRowCountInEntry); after the column names: one 52-byte definition per real index,
// one 28-byte record per logical index, then the logical indexes' names.
namespace index_def {
inline constexpr std::size_t kRowCountInEntry = 4;
inline constexpr std::size_t kRealIndexSize = 52;
inline constexpr std::uint32_t kRealIndexMagic = 1923;
inline constexpr std::size_t kColumnSlotsOffset = 4;  // 10 slots: column number (2), order (1)
inline constexpr std::size_t kColumnSlots = 10;
inline constexpr std::size_t kColumnSlotSize = 3;
inline constexpr std::uint16_t kNoColumn = 0xFFFF;
inline constexpr std::uint8_t kAscending = 0x01;
inline constexpr std::size_t kUsageMapOffset = 34;  // row pointer of the map of the index's pages
inline constexpr std::size_t kFirstPageOffset = 38;
inline constexpr std::size_t kFlagsOffset = 46;
inline constexpr std::uint8_t kFlagUnique = 0x01;
inline constexpr std::uint8_t kFlagRequired = 0x08;
inline constexpr std::uint8_t kFlagAlwaysSet = 0x80;  // set on every index Access 2000 writes
inline constexpr std::size_t kLogicalIndexSize = 28;
inline constexpr std::size_t kLogicalNumberOffset = 4;
inline constexpr std::size_t kLogicalRealIndexOffset = 8;
inline constexpr std::size_t kLogicalRelatedIndexOffset = 13;
inline constexpr std::uint32_t kNoRelatedIndex = 0xFFFFFFFF;
inline constexpr std::size_t kLogicalCascadeUpdatesOffset = 21;
inline constexpr std::size_t kLogicalCascadeDeletesOffset = 22;
inline constexpr std::uint8_t kCascadeNone = 0x04;  // what Access writes in both for no relation
inline constexpr std::size_t kLogicalTypeOffset = 23;
inline constexpr std::uint8_t kTypePrimaryKey = 0x01;
}  // namespace index_def

// Index pages (node 0x03, leaf 0x04): a header, a bitmap with a bit set at the end of each
// entry (counted from kEntriesOffset), then the entries. An entry is the key, the row pointer
// (3-byte big-endian page, row byte) and, on node pages, the child page (4 bytes big-endian).
// Entries after the first on a page leave out the first kPrefixLengthOffset bytes they share.
namespace index_page {
inline constexpr std::size_t kFreeSpaceOffset = 2;
inline constexpr std::size_t kOwnerOffset = 4;
inline constexpr std::size_t kPrevOffset = 0x0C;
inline constexpr std::size_t kNextOffset = 0x10;
inline constexpr std::size_t kTailOffset = 0x14;  // node pages: the last child, which has no entry
inline constexpr std::size_t kPrefixLengthOffset = 0x18;
inline constexpr std::size_t kMaskOffset = 0x1B;
inline constexpr std::size_t kEntriesOffset = 0x1E0;
inline constexpr std::size_t kEntriesCapacity = kPageSize - kEntriesOffset;
inline constexpr std::size_t kRowPointerSize = 4;
inline constexpr std::size_t kRowPointerPageSize = 3;  // then the row byte
inline constexpr std::size_t kChildPageSize = 4;
}  // namespace index_page

// Index keys: per column a flag byte, then the value's sort bytes.
namespace index_key {
inline constexpr std::uint8_t kAscendingValue = 0x7F;
inline constexpr std::uint8_t kAscendingNull = 0x00;
inline constexpr std::uint8_t kEndText = 0x01;
inline constexpr std::uint8_t kEndExtraText = 0x00;
// Numbers sort as unsigned big-endian once their sign bit is flipped.
inline constexpr std::uint32_t kLongSignFlip = 0x80000000u;
inline constexpr std::uint32_t kIntegerSignFlip = 0x8000u;
inline constexpr std::uint32_t kIntegerMask = 0xFFFFu;
}  // namespace index_key

// One 25-byte column record in a TDEF.
namespace column_record {
inline constexpr std::size_t kType = 0;
inline constexpr std::size_t kTableNumber = 1;  // the TDEF magic again
inline constexpr std::size_t kNumber = 5;
inline constexpr std::size_t kVarIndex = 7;
inline constexpr std::size_t kIndex = 9;
inline constexpr std::size_t kSortOrder = 11;
inline constexpr std::size_t kFlags = 15;
inline constexpr std::size_t kExtFlags = 16;
inline constexpr std::size_t kFixedOffset = 21;
inline constexpr std::size_t kLength = 23;
inline constexpr std::uint8_t kFlagFixed = 0x01;
inline constexpr std::uint8_t kFlagNullable = 0x02;
inline constexpr std::uint8_t kFlagSystem = 0x10;
inline constexpr std::uint8_t kExtFlagCompressedUnicode = 0x01;
}  // namespace column_record

enum class ColumnType : std::uint8_t {
  Bit = 0x01,
  Byte = 0x02,
  Integer = 0x03,  // 16-bit
  Long = 0x04,     // 32-bit
  Double = 0x07,
  DateTime = 0x08,
  Binary = 0x09,
  Text = 0x0A,
  Ole = 0x0B,
  Memo = 0x0C,
  FixedBinary = 0x11,
};

// Bytes a fixed-length type takes in a row (0 for BIT, which lives in the null mask).
constexpr std::size_t FixedSize(ColumnType type) {
  switch (type) {
    case ColumnType::Bit:
      return 0;
    case ColumnType::Byte:
      return 1;
    case ColumnType::Integer:
      return 2;
    case ColumnType::Long:
      return 4;
    case ColumnType::Double:
    case ColumnType::DateTime:
      return 8;
    default:
      return 0;
  }
}

// Memo and OLE data live on long-value pages, which each such column keeps in maps of its own.
constexpr bool IsLongValue(ColumnType type) { return type == ColumnType::Memo || type == ColumnType::Ole; }

constexpr bool IsVariable(ColumnType type) {
  return type == ColumnType::Text || type == ColumnType::Memo || type == ColumnType::Binary || type == ColumnType::Ole;
}

// Usage maps.
namespace usage_map {
inline constexpr std::uint8_t kInline = 0x00;
inline constexpr std::uint8_t kReference = 0x01;
inline constexpr std::size_t kRowSize = 69;  // type byte + 68 bytes
inline constexpr std::size_t kInlineStartOffset = 1;
inline constexpr std::size_t kInlineBitmapOffset = 5;
inline constexpr std::size_t kReferenceFirstSlot = 1;  // after the type byte
inline constexpr std::size_t kReferenceSlotSize = 4;
inline constexpr std::size_t kReferenceCount = (kRowSize - kReferenceFirstSlot) / kReferenceSlotSize;
inline constexpr std::size_t kBitmapPageHeader = 4;
inline constexpr std::size_t kPagesPerBitmapPage = (kPageSize - kBitmapPageHeader) * 8;
}  // namespace usage_map

// Long values (Memo): the 12-byte field in the row.
namespace long_value {
inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::uint8_t kInlineFlag = 0x80;
inline constexpr std::uint8_t kSingleRowFlag = 0x40;
inline constexpr std::uint8_t kChainedFlag = 0x00;
inline constexpr std::size_t kFlagOffset = 3;
inline constexpr std::size_t kPointerOffset = 4;
inline constexpr std::size_t kMaxLength = 0xFFFFFF;
inline constexpr std::size_t kChainPointerSize = 4;
// Memo data up to this size stays in the row.
inline constexpr std::size_t kMaxInline = 1024;
}  // namespace long_value

// Compressed unicode text starts with this marker; a 0x00 byte switches modes.
inline constexpr std::uint8_t kCompressedTextMarker[2] = {0xFF, 0xFE};

inline constexpr std::size_t kMaxTextChars = 255;
inline constexpr std::size_t kMaxColumns = 255;

// MSysObjects.
namespace catalog {
inline constexpr std::uint32_t kTdefPage = 2;
inline constexpr std::int32_t kTablesContainerId = 0x0F000001;
inline constexpr std::int32_t kDatabasesContainerId = 0x0F000002;
inline constexpr std::int32_t kRelationshipsContainerId = 0x0F000003;
inline constexpr std::int32_t kRootId = 0x0F000000;
inline constexpr std::int32_t kMSysDbId = 0x10000000;
inline constexpr std::int16_t kTypeTable = 1;
inline constexpr std::int16_t kTypeDatabase = 2;
inline constexpr std::int16_t kTypeContainer = 3;
inline constexpr std::uint32_t kFlagSystem = 0x80000000u;
inline constexpr std::uint32_t kFlagHiddenSystem = 0x00000002u;
inline constexpr std::uint32_t kIdPageMask = 0x00FFFFFF;
inline constexpr std::int16_t kTypeMask = 0x7F;
}  // namespace catalog

}  // namespace quillon::drivers::access::jet4
