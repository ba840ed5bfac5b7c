#include "drivers/xlsx/SheetWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "drivers/xlsx/SpreadsheetML.h"
#include "platform/errors/Errors.h"

namespace quillon::drivers::xlsx {
namespace {

// Rows are deflated in pieces of about this size once the sheet streams.
constexpr std::size_t kStreamPiece = 1 << 16;
constexpr std::size_t kDoubleChars = 32;
// What a boolean, an error and the date formats show, in characters.
constexpr std::size_t kBooleanChars = 5;
constexpr std::size_t kDateChars = sml::kDateFormatCode.size();
constexpr std::size_t kDateTimeChars = sml::kDateTimeFormatCode.size();
constexpr std::size_t kTimeChars = sml::kTimeFormatCode.size();
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char32_t kLastBmp = 0xFFFF, kLastCodePoint = 0x10FFFF;
constexpr char32_t kFirstSurrogate = 0xD800, kLastSurrogate = 0xDFFF;
constexpr char32_t kNotACharacter = 0xFFFE;

bool IsHex(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

// A character XML 1.0 holds as it is (tab and line feed included; a carriage return would be
// read as a line feed).
bool XmlHolds(char32_t c) {
  if (c < 0x20) return c == U'\t' || c == U'\n';
  if (c >= kFirstSurrogate && c <= kLastSurrogate) return false;
  return c <= kLastCodePoint && c != kNotACharacter && c != kLastBmp;
}

void AppendEscape(std::string& out, char32_t unit) {
  out += sml::kEscapeStart;
  for (int shift = 12; shift >= 0; shift -= 4) out += kHexDigits[(unit >> shift) & 0xF];
  out += sml::kEscapeEnd;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Text as the content of <t>: XML's entities, a carriage return as a character reference, a
// character XML cannot hold as Excel writes it (_xHHHH_), and an underscore that would start
// such an escape escaped itself (_x005F_). Returns the characters it shows.
std::size_t AppendCellText(std::string& out, std::wstring_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<char32_t>(text[i]);
    switch (c) {
      case U'&':
        out += "&amp;";
        continue;
      case U'<':
        out += "&lt;";
        continue;
      case U'>':
        out += "&gt;";
        continue;
      case U'\r':
        out += "&#13;";
        continue;
      case U'_':
        if (i + 2 + sml::kEscapeHexDigits < text.size() && text[i + 1] == L'x' &&
            std::all_of(text.begin() + i + 2, text.begin() + i + 2 + sml::kEscapeHexDigits, IsHex) &&
            text[i + 2 + sml::kEscapeHexDigits] == L'_') {
          AppendEscape(out, c);
          continue;
        }
        break;
      default:
        break;
    }
    if (XmlHolds(c)) {
      AppendUtf8(out, c);
    } else if (c <= kLastBmp) {
      AppendEscape(out, c);
    }
  }
  return text.size();
}

// The date as text, for days Excel cannot show as a date (before 1900-01-01).
std::wstring DateText(double serial) {
  const auto d = sql::FromDateSerial(serial);
  wchar_t buffer[32];
  std::swprintf(buffer, sizeof buffer / sizeof buffer[0], L"%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day,
                d.hour, d.minute, d.second);
  return buffer;
}

std::size_t TextLimit(const sql::ColumnDef& column) {
  return column.type == sql::ColumnType::VarChar ? static_cast<std::size_t>(column.length) : sml::kMaxCellChars;
}

}  // namespace

std::string ColumnLetters(std::size_t column) {
  std::string letters;
  for (std::size_t n = column + 1; n > 0; n = (n - 1) / sml::kColumnLetters) {
    letters.insert(letters.begin(), static_cast<char>('A' + (n - 1) % sml::kColumnLetters));
  }
  return letters;
}

SheetWriter::SheetWriter(std::wstring table, std::u16string sheetName, std::vector<sql::ColumnDef> columns,
                         const CellStyles& styles, bool date1904, std::uint32_t maxRows, bool selected)
    : m_table(std::move(table)),
      m_name(std::move(sheetName)),
      m_columns(std::move(columns)),
      m_styles(styles),
      m_date1904(date1904),
      m_maxRows(maxRows),
      m_selected(selected) {
  // A cell holds no bytes: a binary column's values are their text, 0x and hexadecimal digits.
  for (sql::ColumnDef& column : m_columns) {
    if (column.type == sql::ColumnType::LongBinary) column.type = sql::ColumnType::Text;
  }
  m_widths.assign(m_columns.size(), 0);
  for (std::size_t c = 0; c < m_columns.size(); ++c) m_letters.push_back(ColumnLetters(c));
  m_rows = 1;
  m_rowNumber = "1";
  m_xml += "<row r=\"1\">";
  for (std::size_t c = 0; c < m_columns.size(); ++c) {
    PutText(c, m_columns[c].name, m_styles.header);
    m_widths[c] += static_cast<std::size_t>(sml::kHeaderWidthPadding - sml::kColumnWidthPadding);
  }
  m_xml += "</row>";
}

void SheetWriter::Measure(std::size_t column, std::size_t chars) {
  if (!m_streaming) m_widths[column] = std::max(m_widths[column], chars);
}

void SheetWriter::OpenCell(std::size_t column, std::uint32_t style, std::string_view type) {
  m_xml += "<c r=\"";
  m_xml += m_letters[column];
  m_xml += m_rowNumber;
  m_xml += '"';
  if (style != 0) {
    m_xml += " s=\"";
    m_xml += std::to_string(style);
    m_xml += '"';
  }
  if (!type.empty()) {
    m_xml += " t=\"";
    m_xml += type;
    m_xml += '"';
  }
  m_xml += '>';
}

void SheetWriter::PutRaw(std::size_t column, std::string_view ascii, std::string_view type) {
  OpenCell(column, 0, type);
  m_xml += "<v>";
  m_xml += ascii;
  m_xml += "</v></c>";
  Measure(column, ascii.size());
}

void SheetWriter::PutNumber(std::size_t column, double value, std::uint32_t style) {
  if (!std::isfinite(value)) {
    // A cell number is finite: NaN and the infinities are the error a calculation gives them.
    PutRaw(column, sml::kNumError, sml::kErrorCell);
    return;
  }
  char buffer[kDoubleChars];
  // A whole number is written in its digits, as Excel writes it: the shortest form of 2000000 is
  // 2e+06, which readers take for a floating value where the column holds integers.
  const bool whole = std::abs(value) < sml::kMaxExactWholeNumber && value == std::trunc(value);
  const auto end = whole ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<std::int64_t>(value)).ptr
                         : std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  OpenCell(column, style, {});
  m_xml += "<v>";
  m_xml.append(buffer, end);
  m_xml += "</v></c>";
  if (style == 0) Measure(column, static_cast<std::size_t>(end - buffer));
}

void SheetWriter::PutText(std::size_t column, std::wstring_view text, std::uint32_t style) {
  OpenCell(column, style, sml::kInlineStringCell);
  m_xml += "<is><t xml:space=\"preserve\">";
  const std::size_t chars = AppendCellText(m_xml, text);
  m_xml += "</t></is></c>";
  Measure(column, chars);
}

void SheetWriter::AddCell(std::size_t column, const sql::Value& v) {
  switch (v.kind) {
    case sql::Value::Kind::Null:
      return;
    case sql::Value::Kind::Number:
      PutNumber(column, v.number, 0);
      return;
    case sql::Value::Kind::Boolean:
      PutRaw(column, v.number != 0 ? "1" : "0", sml::kBooleanCell);
      Measure(column, kBooleanChars);
      return;
    case sql::Value::Kind::Date: {
      if (m_columns[column].type == sql::ColumnType::Time) {
        PutNumber(column, v.number, m_styles.time);
        Measure(column, kTimeChars);
        return;
      }
      double serial = v.number;
      if (serial >= sml::kFirstExcelDay && serial < sml::kFirstTrueSerial) serial -= 1;
      if (m_date1904) serial -= sml::k1904Offset;
      if (v.number < sml::kFirstExcelDay || serial < 0) {
        PutText(column, DateText(v.number), 0);
        return;
      }
      const bool dateOnly = m_columns[column].type == sql::ColumnType::Date && serial == std::floor(serial);
      PutNumber(column, serial, dateOnly ? m_styles.date : m_styles.dateTime);
      Measure(column, dateOnly ? kDateChars : kDateTimeChars);
      return;
    }
    case sql::Value::Kind::Binary:
    case sql::Value::Kind::Text: {
      double number = 0;
      if (v.fromNumber) {
        switch (sql::SheetNumberForm(v, number)) {
          case sql::SheetNumber::Number:
            PutNumber(column, number, 0);
            return;
          case sql::SheetNumber::Error:
            PutRaw(column, sml::kNumError, sml::kErrorCell);
            return;
          case sql::SheetNumber::Text:
            break;
        }
      }
      PutText(column, v.text, 0);
      return;
    }
  }
}

void SheetWriter::AddRow(const std::vector<sql::Literal>& values) {
  // A row of the wrong width is refused as such (by CheckRow) even when the sheet is full.
  if (m_rows >= m_maxRows && values.size() == m_columns.size()) {
    throw odbc::errors::TableFull(
        m_table, L"a sheet holds at most " + std::to_wstring(m_maxRows - 1) + L" rows under its header row");
  }
  sql::CheckRules rules;
  rules.anyWholeNumber = true;      // a cell has no integer widths
  rules.numberTextOnDemand = true;  // a number's text is only read through SheetNumberForm
  rules.datePattern = m_datePattern;
  sql::CheckRow(m_table, m_columns, values, rules, TextLimit, m_values);
  const std::size_t rowStart = m_xml.size();
  ++m_rows;
  m_rowNumber = std::to_string(m_rows);
  try {
    m_xml += "<row r=\"";
    m_xml += m_rowNumber;
    m_xml += "\">";
    for (std::size_t c = 0; c < m_values.size(); ++c) AddCell(c, m_values[c]);
    m_xml += "</row>";
  } catch (...) {
    m_xml.resize(rowStart);
    --m_rows;
    throw;
  }
  if (!m_streaming) {
    if (m_rows > sml::kWidthSampleRows || m_xml.size() >= sml::kWidthSampleBytes) StartStreaming();
  } else if (m_xml.size() >= kStreamPiece) {
    m_part.Write(m_xml);
    m_xml.clear();
  }
}

void SheetWriter::StartStreaming() {
  m_part.Write(Head());
  m_part.Write(m_xml);
  m_xml.clear();
  m_streaming = true;
  m_widths.clear();
}

std::string SheetWriter::Head() const {
  std::string head(sml::kXmlDeclaration);
  head += "<worksheet xmlns=\"";
  head += sml::kMainNamespace;
  head += "\" xmlns:r=\"";
  head += sml::kRelationshipsNamespace;
  head += "\"><sheetViews><sheetView";
  if (m_selected) head += " tabSelected=\"1\"";
  head +=
      " workbookViewId=\"0\"><pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" state=\"frozen\"/>"
      "<selection pane=\"bottomLeft\" activeCell=\"A2\" sqref=\"A2\"/></sheetView></sheetViews>"
      "<sheetFormatPr defaultRowHeight=\"15\"/><cols>";
  for (std::size_t c = 0; c < m_columns.size(); ++c) {
    const double width = std::clamp(static_cast<double>(m_widths[c]) + sml::kColumnWidthPadding, sml::kMinColumnWidth,
                                    sml::kMaxColumnWidth);
    char buffer[kDoubleChars];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, width).ptr;
    head += "<col min=\"" + std::to_string(c + 1) + "\" max=\"" + std::to_string(c + 1) + "\" width=\"" +
            std::string(buffer, end) + "\" customWidth=\"1\"/>";
  }
  head += "</cols><sheetData>";
  return head;
}

std::string SheetWriter::Tail() const { return "</sheetData><autoFilter ref=\"" + Range(false) + "\"/></worksheet>"; }

std::string SheetWriter::Range(bool absolute) const {
  const std::string mark = absolute ? "$" : "";
  return mark + "A" + mark + "1:" + mark + ColumnLetters(m_columns.size() - 1) + mark + std::to_string(m_rows);
}

std::string SheetWriter::FilterRange() const { return Range(true); }

void SheetWriter::Finish() {
  if (m_part.Finished()) return;
  if (!m_streaming) StartStreaming();
  m_xml += Tail();
  m_part.Write(m_xml);
  m_xml.clear();
  m_part.Finish();
}

void SheetWriter::AddSnapshot(ZipWriter& zip, std::string_view name) const {
  // The bytes go through the compressor in the same pieces as at Finish, so the part is the one
  // Finish would write now, byte for byte.
  if (!m_streaming) {
    DeflatedFile part;
    part.Write(Head());
    part.Write(m_xml);
    part.Write(Tail());
    part.Finish();
    zip.AddDeflatedFile(name, part);
    return;
  }
  zip.AddDeflatedFile(name, m_part, m_part.EndingWith(m_xml + Tail()));
}

}  // namespace quillon::drivers::xlsx
