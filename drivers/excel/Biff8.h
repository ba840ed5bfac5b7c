// BIFF8, the record format of an Excel 97-2003 workbook stream: record ids, field layouts and a
// little-endian record builder.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes/Bytes.h"

namespace quillon::drivers::excel::biff {

// Record ids.
inline constexpr std::uint16_t kFormula = 0x0006;
inline constexpr std::uint16_t kEof = 0x000A;
inline constexpr std::uint16_t kPrecision = 0x000E;
inline constexpr std::uint16_t kProtect = 0x0012;
inline constexpr std::uint16_t kPassword = 0x0013;
inline constexpr std::uint16_t kWindowProtect = 0x0019;
inline constexpr std::uint16_t kDateMode = 0x0022;
inline constexpr std::uint16_t kFilePass = 0x002F;
inline constexpr std::uint16_t kFont = 0x0031;
inline constexpr std::uint16_t kContinue = 0x003C;
inline constexpr std::uint16_t kWindow1 = 0x003D;
inline constexpr std::uint16_t kBackup = 0x0040;
inline constexpr std::uint16_t kCodePage = 0x0042;
inline constexpr std::uint16_t kBoundSheet = 0x0085;
inline constexpr std::uint16_t kCountry = 0x008C;
inline constexpr std::uint16_t kHideObj = 0x008D;
inline constexpr std::uint16_t kFnGroupCount = 0x009C;
inline constexpr std::uint16_t kMms = 0x00C1;
inline constexpr std::uint16_t kBookBool = 0x00DA;
inline constexpr std::uint16_t kXf = 0x00E0;
inline constexpr std::uint16_t kInterfaceHdr = 0x00E1;
inline constexpr std::uint16_t kInterfaceEnd = 0x00E2;
inline constexpr std::uint16_t kSst = 0x00FC;
inline constexpr std::uint16_t kLabelSst = 0x00FD;
inline constexpr std::uint16_t kMulRk = 0x00BD;
inline constexpr std::uint16_t kExtSst = 0x00FF;
inline constexpr std::uint16_t kWriteAccess = 0x005C;
inline constexpr std::uint16_t kTabId = 0x013D;
inline constexpr std::uint16_t kUsesElfs = 0x0160;
inline constexpr std::uint16_t kDsf = 0x0161;
inline constexpr std::uint16_t kProt4Rev = 0x01AF;
inline constexpr std::uint16_t kProt4RevPass = 0x01BC;
inline constexpr std::uint16_t kRefreshAll = 0x01B7;
inline constexpr std::uint16_t kDimensions = 0x0200;
inline constexpr std::uint16_t kNumber = 0x0203;
inline constexpr std::uint16_t kLabel = 0x0204;
inline constexpr std::uint16_t kBoolErr = 0x0205;
inline constexpr std::uint16_t kIndex = 0x020B;
inline constexpr std::uint16_t kWindow2 = 0x023E;
inline constexpr std::uint16_t kRk = 0x027E;
inline constexpr std::uint16_t kStyle = 0x0293;
inline constexpr std::uint16_t kFormat = 0x041E;
inline constexpr std::uint16_t kBof = 0x0809;
// Sheet records the writer adds at their default values (see Sheet.cpp) and records an existing
// workbook may hold that refer to fonts by index.
inline constexpr std::uint16_t kHeader = 0x0014;
inline constexpr std::uint16_t kFooter = 0x0015;
inline constexpr std::uint16_t kPrintHeaders = 0x002A;
inline constexpr std::uint16_t kPrintGridlines = 0x002B;
inline constexpr std::uint16_t kDefColWidth = 0x0055;
inline constexpr std::uint16_t kColInfo = 0x007D;
inline constexpr std::uint16_t kGuts = 0x0080;
inline constexpr std::uint16_t kGridSet = 0x0082;
inline constexpr std::uint16_t kRString = 0x00D6;
inline constexpr std::uint16_t kTxo = 0x01B6;
inline constexpr std::uint16_t kChartFontX = 0x1026;
inline constexpr std::uint16_t kChartFbi = 0x1060;
inline constexpr std::uint16_t kChartFbi2 = 0x1068;

// The records this driver writes, each one Excel defines: a written workbook holds no other id
// than these and those of the existing workbook's records it keeps.
inline constexpr std::uint16_t kWrittenRecords[] = {kFormula,      kEof,           kPrecision,    kProtect,
                                                    kPassword,     kWindowProtect, kDateMode,     kFont,
                                                    kContinue,     kWindow1,       kBackup,       kCodePage,
                                                    kBoundSheet,   kCountry,       kHideObj,      kFnGroupCount,
                                                    kMms,          kBookBool,      kXf,           kInterfaceHdr,
                                                    kInterfaceEnd, kSst,           kLabelSst,     kExtSst,
                                                    kWriteAccess,  kTabId,         kUsesElfs,     kDsf,
                                                    kProt4Rev,     kProt4RevPass,  kRefreshAll,   kDimensions,
                                                    kNumber,       kBoolErr,       kIndex,        kWindow2,
                                                    kRk,           kStyle,         kFormat,       kBof,
                                                    kHeader,       kFooter,        kPrintHeaders, kPrintGridlines,
                                                    kDefColWidth,  kColInfo,       kGuts,         kGridSet};

// FONT: height, flags, colour, weight, super/subscript, underline, family, character set, a
// reserved byte, then the face name (ShortXLUnicodeString: length, flags, characters).
inline constexpr std::size_t kFontFixedSize = 14;
inline constexpr std::size_t kFontGrbit = 2;
// Fonts a workbook may hold (index 4 is never used).
inline constexpr std::size_t kMaxFonts = 510;
inline constexpr std::uint16_t kFontOutline = 0x0010;  // Macintosh only, as is the shadow
inline constexpr std::uint16_t kFontShadow = 0x0020;
inline constexpr std::uint8_t kUnderlineDoubleAccounting = 0x22;
inline constexpr std::uint16_t kSkippedFontIndex = 4;
// A rich text run: its first character (2 bytes), then its font (2 bytes).
inline constexpr std::size_t kRichRunFont = 2;

// BOF fields.
inline constexpr std::uint16_t kBiff8Version = 0x0600;
inline constexpr std::uint16_t kBofGlobals = 0x0005;
inline constexpr std::uint16_t kBofWorksheet = 0x0010;
inline constexpr std::uint16_t kBofBuild = 0x0DBB;
inline constexpr std::uint16_t kBofYear = 0x07CC;
inline constexpr std::uint32_t kBofHistory = 0x00000000;
inline constexpr std::uint32_t kBofLowestVersion = 0x00000006;

// Sizes and limits.
inline constexpr std::size_t kRecordHeaderSize = 4;
inline constexpr std::size_t kMaxRecordData = 8224;
inline constexpr std::size_t kBofSize = 16;
inline constexpr int kMaxRows = 65536;
inline constexpr int kMaxColumns = 256;
inline constexpr std::size_t kMaxCellChars = 32767;
inline constexpr std::size_t kMaxSheetNameChars = 31;
inline constexpr std::size_t kMaxXfs = 4050;
inline constexpr std::uint16_t kFirstCustomFormat = 164;
inline constexpr std::size_t kStyleXfCount = 16;

// String flags (XLUnicodeString grbit).
inline constexpr std::uint8_t kStringHighByte = 0x01;  // characters are UTF-16, else 8-bit
inline constexpr std::uint8_t kStringExtended = 0x04;  // phonetic data follows the runs
inline constexpr std::uint8_t kStringRich = 0x08;      // formatting runs follow the characters
inline constexpr std::size_t kRichRunSize = 4;

// BOUNDSHEET: absolute stream position of the sheet's BOF at 0, state at 4, type at 5, name at 6.
// The fields every cell record starts with, and where the text of LABEL and LABELSST lies.
inline constexpr std::size_t kCellRow = 0;
inline constexpr std::size_t kCellColumn = 2;
inline constexpr std::size_t kCellHeaderSize = 6;
inline constexpr std::size_t kLabelSstIndex = 6;
inline constexpr std::size_t kLabelText = 6;               // u16 length, flags, characters
inline constexpr std::size_t kMulRkLastColumnFromEnd = 2;  // MULRK: its last column ends the record
inline constexpr std::size_t kBoundSheetPosition = 0;
inline constexpr std::size_t kBoundSheetName = 6;
// INDEX: DBCELL positions (absolute) start at 16 in BIFF8.
inline constexpr std::size_t kIndexDbCellArray = 16;
// XF: font at 0, format at 2, type and parent at 4, used-attribute flags at 9.
inline constexpr std::size_t kXfSize = 20;
inline constexpr std::uint16_t kXfCellLocked = 0x0001;
inline constexpr std::uint8_t kXfUsedNumberFormat = 0x04;
inline constexpr std::uint8_t kXfAlignBottom = 0x20;
inline constexpr std::uint16_t kXfDefaultPattern = 0x20C0;
// BOOLERR: the value byte, then 0 for a boolean or 1 for an error code.
inline constexpr std::uint8_t kBoolErrIsError = 0x01;
inline constexpr std::uint8_t kErrorNum = 0x24;  // #NUM!
// RK: an integer in 30 bits, shifted left by two, bit 1 set.
inline constexpr std::uint32_t kRkInteger = 0x02;
inline constexpr double kRkLimit = 536870912.0;  // 2^29
// WINDOW2 option flags: grid, headers, zeros, default colours, outline symbols (+ selected, shown).
inline constexpr std::uint16_t kWindow2Options = 0x00B6;
inline constexpr std::uint16_t kWindow2Selected = 0x0600;
inline constexpr std::uint32_t kWindow2GridColour = 0x00000040;
// EXTSST: strings per bucket at least 8; at most this many buckets.
inline constexpr std::uint32_t kExtSstMinBucket = 8;
inline constexpr std::uint32_t kExtSstMaxBuckets = 128;
// Date serial offset between the 1900 and the 1904 date systems.
inline constexpr double k1904Offset = 1462.0;

// Builds one record's data, little-endian.
class RecordData {
 public:
  void U8(std::uint8_t v) { m_bytes.push_back(v); }
  void U16(std::uint16_t v) {
    m_bytes.push_back(static_cast<std::uint8_t>(v));
    m_bytes.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v));
    U16(static_cast<std::uint16_t>(v >> 16));
  }
  void F64(double v) {
    std::uint8_t raw[8];
    std::memcpy(raw, &v, sizeof raw);
    m_bytes.insert(m_bytes.end(), raw, raw + sizeof raw);
  }
  void Bytes(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    m_bytes.insert(m_bytes.end(), p, p + size);
  }
  void Zeros(std::size_t count) { m_bytes.insert(m_bytes.end(), count, 0); }
  // UTF-16 characters (no length, no flags).
  void Utf16(std::u16string_view text) {
    for (char16_t c : text) U16(static_cast<std::uint16_t>(c));
  }
  const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }
  std::size_t Size() const { return m_bytes.size(); }

 private:
  std::vector<std::uint8_t> m_bytes;
};

using bytes::GetU16;
using bytes::GetU32;
using bytes::PutU16;
using bytes::PutU32;

// A whole record: header and data.
inline std::vector<std::uint8_t> Record(std::uint16_t id, const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> out(kRecordHeaderSize + data.size());
  PutU16(out.data(), id);
  PutU16(out.data() + 2, static_cast<std::uint16_t>(data.size()));
  if (!data.empty()) std::memcpy(out.data() + kRecordHeaderSize, data.data(), data.size());
  return out;
}

// The data of a BOF record that opens a substream of `kind` (kBofGlobals, kBofWorksheet).
inline std::vector<std::uint8_t> BofData(std::uint16_t kind) {
  RecordData bof;
  bof.U16(kBiff8Version);
  bof.U16(kind);
  bof.U16(kBofBuild);
  bof.U16(kBofYear);
  bof.U32(kBofHistory);
  bof.U32(kBofLowestVersion);
  return bof.Bytes();
}

}  // namespace quillon::drivers::excel::biff
