#include "drivers/excel/Sheet.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "drivers/excel/Biff8.h"
#include "platform/errors/Errors.h"

namespace quillon::drivers::excel {
namespace {

// Cell records are written as the machine holds their fields.
static_assert(std::endian::native == std::endian::little);

constexpr std::size_t kCellHeaderSize = 6;  // row, column, XF
constexpr std::uint16_t kNumberSize = 14;
constexpr std::uint16_t kRkSize = 10;
constexpr std::uint16_t kLabelSstSize = 10;
constexpr std::uint16_t kBoolErrSize = 8;
// The largest cell record, header included: a row never needs more than this a column.
constexpr std::size_t kMaxCellRecordSize = biff::kRecordHeaderSize + kNumberSize;
static_assert(kNumberSize >= kRkSize && kNumberSize >= kLabelSstSize && kNumberSize >= kBoolErrSize);
constexpr std::size_t kDimensionsSize = 14;
constexpr std::size_t kWindow2Size = 18;
// Records a sheet may hold once each between BOF and DIMENSIONS, at the values Excel gives a
// new sheet, and their sizes, headers included: PRINTHEADERS and PRINTGRIDLINES (off, together),
// GRIDSET, GUTS (no outline), HEADER and FOOTER (empty, together).
constexpr std::uint16_t kGridSetValue = 1;
constexpr std::size_t kPrintFlagsSize = 2 * (biff::kRecordHeaderSize + 2);
constexpr std::size_t kGridSetSize = biff::kRecordHeaderSize + 2;
constexpr std::size_t kGutsDataSize = 8;
constexpr std::size_t kGutsSize = biff::kRecordHeaderSize + kGutsDataSize;
constexpr std::size_t kHeaderFooterSize = 2 * biff::kRecordHeaderSize;
// DEFCOLWIDTH: Excel's default width of 8 characters, which opens the columns' records.
constexpr std::uint16_t kDefaultColumnChars = 8;
constexpr std::size_t kDefColWidthSize = biff::kRecordHeaderSize + 2;
// COLINFO: first and last column, width (1/256 of a character: the 8.43 Excel shows for the
// default width with Arial 10 or Calibri 11), the columns' cell format (XF 15, Excel's default, in
// a workbook that has it), no flags (the default width, not set by hand); any number of them, so
// long as they cover each column once.
constexpr std::size_t kColInfoSize = biff::kRecordHeaderSize + 12;
constexpr std::uint16_t kDefaultColumnWidth = 2340;
constexpr std::uint16_t kDefaultCellXf = biff::kStyleXfCount - 1;
// Which of the once-only records fill each even remainder of 16 (COLINFO's size) bytes.
enum FillerPart : unsigned { kPrintFlags = 1, kGridSet = 2, kGuts = 4, kHeaderFooter = 8 };
constexpr unsigned kFillerParts[kColInfoSize / 2] = {
    0,                                 // 0
    kPrintFlags | kGridSet,            // 18
    kGuts | kHeaderFooter,             // 20
    kGridSet,                          // 6
    kHeaderFooter,                     // 8
    kGridSet | kGuts | kHeaderFooter,  // 26
    kGuts,                             // 12
    kGridSet | kHeaderFooter,          // 14
};
constexpr std::size_t FillerPartsSize(unsigned parts) {
  return (parts & kPrintFlags ? kPrintFlagsSize : 0) + (parts & kGridSet ? kGridSetSize : 0) +
         (parts & kGuts ? kGutsSize : 0) + (parts & kHeaderFooter ? kHeaderFooterSize : 0);
}
constexpr bool FillerPartsFit() {
  for (std::size_t r = 0; r < kColInfoSize / 2; ++r) {
    if (FillerPartsSize(kFillerParts[r]) % kColInfoSize != 2 * r) return false;
  }
  return true;
}
static_assert(FillerPartsFit());
constexpr std::size_t kBeforeFiller = biff::kRecordHeaderSize + biff::kBofSize;
constexpr std::size_t kDimensionsRecordSize = biff::kRecordHeaderSize + kDimensionsSize;

// The size of the records that take the first cell from stream position `from` to the start of a
// sector; 0 when no such records exist (an odd distance), the cells then being copied.
// DEFCOLWIDTH, then once-only records by what is left of 16 bytes, then COLINFO records.
std::uint64_t FillerSize(std::uint64_t from) {
  std::uint64_t gap = (SpoolFile::kSectorSize - from % SpoolFile::kSectorSize) % SpoolFile::kSectorSize;
  if (gap % 2 != 0) return 0;
  const unsigned parts = kFillerParts[(gap + SpoolFile::kSectorSize - kDefColWidthSize) % kColInfoSize / 2];
  if (kDefColWidthSize + FillerPartsSize(parts) > gap) gap += SpoolFile::kSectorSize;
  return gap;
}

void WriteFiller(Sink& sink, std::uint64_t size, std::uint16_t columnXf) {
  if (size == 0) return;
  const unsigned parts = kFillerParts[(size - kDefColWidthSize) % kColInfoSize / 2];
  const auto put = [&sink](std::uint16_t id, const std::vector<std::uint8_t>& data) {
    const auto record = biff::Record(id, data);
    sink.Write(record.data(), record.size());
  };
  if (parts & kPrintFlags) {
    put(biff::kPrintHeaders, {0, 0});
    put(biff::kPrintGridlines, {0, 0});
  }
  if (parts & kGridSet) put(biff::kGridSet, {static_cast<std::uint8_t>(kGridSetValue), 0});
  if (parts & kGuts) put(biff::kGuts, std::vector<std::uint8_t>(kGutsDataSize, 0));
  if (parts & kHeaderFooter) {
    put(biff::kHeader, {});
    put(biff::kFooter, {});
  }
  put(biff::kDefColWidth, {static_cast<std::uint8_t>(kDefaultColumnChars), 0});
  // Columns one by one, the last record covering the rest of the sheet's.
  const auto count = static_cast<std::uint16_t>((size - kDefColWidthSize - FillerPartsSize(parts)) / kColInfoSize);
  for (std::uint16_t i = 0; i < count; ++i) {
    biff::RecordData column;
    column.U16(i);
    column.U16(i + 1 < count ? i : static_cast<std::uint16_t>(biff::kMaxColumns - 1));
    column.U16(kDefaultColumnWidth);
    column.U16(columnXf);
    column.U16(0);  // shown, width not set by hand, no outline
    column.U16(0);
    put(biff::kColInfo, column.Bytes());
  }
}

// Excel's first day (serial 1) is 1900-01-01; it counts a 29 February 1900 that never was, so
// its serials agree with days since 1899-12-30 only from 1900-03-01 (serial 61) on.
constexpr double kFirstExcelDay = 2.0;     // 1900-01-01 in days since 1899-12-30
constexpr double kFirstTrueSerial = 61.0;  // 1900-03-01

// The date as text, for days Excel cannot show as a date (before 1900-01-01).
std::u16string DateText(double serial) {
  const auto d = sql::FromDateSerial(serial);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, d.hour, d.minute,
                d.second);
  std::u16string out;
  for (const char* p = buffer; *p; ++p) out.push_back(static_cast<char16_t>(*p));
  return out;
}

// Whether `value` is an RK integer (whole, within the RK range, not negative zero; never NaN or
// an infinity), that integer in `whole`. Within the range the conversion drops only a fraction,
// so converting back gives the very same bits exactly when all three hold.
bool AsRkInteger(double value, std::int32_t& whole) {
  if (!(std::fabs(value) < biff::kRkLimit)) return false;
  whole = static_cast<std::int32_t>(value);
  return std::bit_cast<std::uint64_t>(static_cast<double>(whole)) == std::bit_cast<std::uint64_t>(value);
}

// value == std::floor(value) without the call: the doubles of 2^63 and more are all whole, as
// are the infinities, and below that the conversion to int64 drops the fraction exactly.
constexpr double kTwoTo63 = 9223372036854775808.0;
bool IsWhole(double value) {
  if (std::fabs(value) < kTwoTo63) return static_cast<double>(static_cast<std::int64_t>(value)) == value;
  return !std::isnan(value);
}

}  // namespace

std::size_t CellTextLimit(const sql::ColumnDef& column) {
  return column.type == sql::ColumnType::VarChar ? static_cast<std::size_t>(column.length) : biff::kMaxCellChars;
}

Sheet::Sheet(std::wstring table, std::u16string sheetName, std::vector<sql::ColumnDef> columns,
             const CellFormats& formats, SharedStrings& strings, SpoolFile& spool)
    : m_table(std::move(table)),
      m_name(std::move(sheetName)),
      m_columns(std::move(columns)),
      m_formats(formats),
      m_strings(strings),
      m_cells(spool) {
  // A cell holds no bytes: a binary column's values are their text, 0x and hexadecimal digits.
  for (sql::ColumnDef& column : m_columns) {
    if (column.type == sql::ColumnType::LongBinary) column.type = sql::ColumnType::Text;
  }
  // Sized once: a row's records are written in place, with no growth or zero-fill per cell.
  m_row.resize(m_columns.size() * kMaxCellRecordSize);
  m_rowEnd = m_row.data();
  for (std::size_t c = 0; c < m_columns.size(); ++c) PutText(static_cast<int>(c), m_columns[c].name);
  m_cells.Write(m_row.data(), static_cast<std::size_t>(m_rowEnd - m_row.data()));
  m_rows = 1;
}

std::uint8_t* Sheet::PutCellHeader(std::uint16_t id, std::uint16_t size, int column, std::uint16_t xf) {
  // The whole record at once: its header, the cell's row, column and XF, and room for the value.
  // The fields go in as pairs, the machine's byte order being the file's: the header's pair is
  // a constant where the record's kind is known, the place's is the row and the column.
  const std::uint32_t header = id | (std::uint32_t{size} << 16);
  const std::uint32_t place = static_cast<std::uint16_t>(m_rows) | (static_cast<std::uint32_t>(column) << 16);
  static_assert(sizeof header + sizeof place + sizeof xf == biff::kRecordHeaderSize + kCellHeaderSize);
  std::uint8_t* const p = m_rowEnd;
  std::memcpy(p, &header, sizeof header);
  std::memcpy(p + sizeof header, &place, sizeof place);
  std::memcpy(p + sizeof header + sizeof place, &xf, sizeof xf);
  m_rowEnd = p + biff::kRecordHeaderSize + size;
  return p + biff::kRecordHeaderSize + kCellHeaderSize;
}

// Inline in AddRow: most cells are numbers, and the call cost as much as a good part of the work.
inline void Sheet::PutNumber(int column, double value, std::uint16_t xf) {
  std::int32_t whole = 0;
  if (AsRkInteger(value, whole)) {
    const auto rk = static_cast<std::uint32_t>(whole * 4) | biff::kRkInteger;
    std::memcpy(PutCellHeader(biff::kRk, kRkSize, column, xf), &rk, sizeof rk);
    return;
  }
  if (!std::isfinite(value)) {
    // A cell number is finite: NaN and the infinities are the error a calculation gives them.
    std::uint8_t* cell = PutCellHeader(biff::kBoolErr, kBoolErrSize, column, xf);
    cell[0] = biff::kErrorNum;
    cell[1] = biff::kBoolErrIsError;
    return;
  }
  std::memcpy(PutCellHeader(biff::kNumber, kNumberSize, column, xf), &value, sizeof value);
}

void Sheet::PutString(int column, std::u16string_view text) {
  const std::uint32_t index = m_strings.Add(text);
  std::memcpy(PutCellHeader(biff::kLabelSst, kLabelSstSize, column, m_formats.general), &index, sizeof index);
}

void Sheet::PutText(int column, std::wstring_view text) {
  const std::uint32_t index = m_strings.Add(text);
  std::memcpy(PutCellHeader(biff::kLabelSst, kLabelSstSize, column, m_formats.general), &index, sizeof index);
}

void Sheet::AddRow(const std::vector<sql::Literal>& values) {
  // A row of the wrong width is refused as such (by CheckRow) even when the sheet is full.
  if (m_rows >= biff::kMaxRows && values.size() == m_columns.size()) {
    throw odbc::errors::TableFull(
        m_table, L"a sheet holds at most " + std::to_wstring(biff::kMaxRows - 1) + L" rows under its header row");
  }
  sql::CheckRules rules;
  rules.anyWholeNumber = true;  // a cell has no integer widths
  rules.datePattern = m_datePattern;
  rules.numberTextOnDemand = true;  // a number's text is only read through SheetNumberForm
  sql::CheckRow(m_table, m_columns, values, rules, CellTextLimit, m_values);
  // The row goes straight into the spool's buffer when it has room for the largest row.
  std::uint8_t* const inPlace = m_cells.Room(m_row.size());
  std::uint8_t* const start = inPlace != nullptr ? inPlace : m_row.data();
  m_rowEnd = start;
  const sql::Value* const checked = m_values.data();
  const int count = static_cast<int>(m_values.size());
  for (int column = 0; column < count; ++column) {
    const sql::Value& v = checked[column];
    switch (v.kind) {
      case sql::Value::Kind::Null:
        break;
      case sql::Value::Kind::Number:
        PutNumber(column, v.number, m_formats.general);
        break;
      case sql::Value::Kind::Boolean: {
        std::uint8_t* value = PutCellHeader(biff::kBoolErr, kBoolErrSize, column, m_formats.general);
        value[0] = v.number != 0 ? 1 : 0;
        value[1] = 0;  // a boolean, not an error code
        break;
      }
      case sql::Value::Kind::Date: {
        double serial = v.number;
        if (serial < kFirstExcelDay) {
          PutString(column, DateText(serial));
          break;
        }
        if (serial < kFirstTrueSerial) serial -= 1;
        if (m_formats.date1904) serial -= biff::k1904Offset;
        if (serial < 0) {
          PutString(column, DateText(v.number));
          break;
        }
        // A whole day is a date, anything else a date and time.
        PutNumber(column, serial, IsWhole(serial) ? m_formats.date : m_formats.dateTime);
        break;
      }
      case sql::Value::Kind::Binary:
      case sql::Value::Kind::Text: {
        double number = 0;
        if (v.fromNumber && sql::SheetNumberForm(v, number) != sql::SheetNumber::Text) {
          // NaN and the infinities have no number to show: PutNumber writes them as an error.
          PutNumber(column, number, m_formats.general);
          break;
        }
        PutText(column, v.text);
        break;
      }
    }
  }
  const auto size = static_cast<std::size_t>(m_rowEnd - start);
  if (inPlace != nullptr) {
    m_cells.Commit(size);
  } else {
    m_cells.Write(start, size);
  }
  ++m_rows;
}

std::uint64_t Sheet::FillerAt(std::uint64_t at) const {
  return Spooled() ? FillerSize(at + kBeforeFiller + kDimensionsRecordSize) : 0;
}

std::uint64_t Sheet::StreamSize(std::uint64_t at) const { return BytesSoFar() + FillerAt(at); }

const std::uint64_t Sheet::kRecordBytes = biff::kRecordHeaderSize * 4 + biff::kBofSize + kDimensionsSize + kWindow2Size;

void Sheet::Write(Sink& sink, bool selected) {
  const std::uint64_t filler = FillerAt(sink.Position());
  auto record = biff::Record(biff::kBof, biff::BofData(biff::kBofWorksheet));
  sink.Write(record.data(), record.size());
  WriteFiller(sink, filler, m_formats.general > kDefaultCellXf ? kDefaultCellXf : m_formats.general);

  biff::RecordData dimensions;
  dimensions.U32(0);
  dimensions.U32(static_cast<std::uint32_t>(m_rows));
  dimensions.U16(0);
  dimensions.U16(static_cast<std::uint16_t>(m_columns.size()));
  dimensions.U16(0);
  record = biff::Record(biff::kDimensions, dimensions.Bytes());
  sink.Write(record.data(), record.size());

  sink.WriteSpool(m_cells);

  biff::RecordData window;
  window.U16(static_cast<std::uint16_t>(biff::kWindow2Options | (selected ? biff::kWindow2Selected : 0)));
  window.U16(0);  // top row
  window.U16(0);  // left column
  window.U32(biff::kWindow2GridColour);
  window.U16(0);  // zoom in page-break preview: default
  window.U16(0);  // zoom in normal view: default
  window.U32(0);
  record = biff::Record(biff::kWindow2, window.Bytes());
  sink.Write(record.data(), record.size());

  record = biff::Record(biff::kEof, {});
  sink.Write(record.data(), record.size());
}

}  // namespace quillon::drivers::excel
