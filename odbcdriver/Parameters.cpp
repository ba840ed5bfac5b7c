#include "odbcdriver/Parameters.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "platform/errors/Errors.h"
#include "platform/text/Characters.h"
#include "platform/text/SqlLexer.h"
#include "platform/text/WideText.h"

namespace quillon::odbcdriver {
namespace {

// As the output drivers' parser reads statements (drivers/sql/Statement.cpp).
constexpr text::SqlDialect kDriverSql = {L"['\"", false};
constexpr wchar_t kMarker = L'?';
constexpr std::wstring_view kInsertInto = L"INSERTINTO";
constexpr std::wstring_view kValues = L"VALUES(";
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr int kNumericBytes = SQL_MAX_NUMERIC_LEN;
constexpr unsigned char kFirstNonAscii = 0x80;

// Puts the ASCII characters from `first` to `last` in `text` in place of what it held, in its
// storage (assign from a range of another character type would build a temporary string).
void AssignAscii(std::wstring& text, const char* first, const char* last) {
  text.resize(static_cast<std::size_t>(last - first));
  std::copy(first, last, text.begin());
}

// Makes `literal` an empty one of `kind`, keeping the storage of its text and bytes.
void Reset(odbc::Literal& literal, odbc::Literal::Kind kind) {
  literal.kind = kind;
  literal.text.clear();
  literal.bytes.clear();
  literal.wellFormed = false;
  literal.holdsNumber = false;
  literal.number = 0;
  literal.integer = 0;
  literal.date = {};
  literal.dateForm = odbc::Literal::DateForm::DateAndTime;
  literal.datePattern = {};
}

template <typename T>
void IntegerLiteral(T value, odbc::Literal& literal) {
  char digits[32];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  Reset(literal, odbc::Literal::Kind::Number);
  AssignAscii(literal.text, digits, end);
  literal.wellFormed = true;
  literal.number = static_cast<double>(value);
  literal.holdsNumber = static_cast<T>(literal.number) == value;
}

template <typename T>
void FloatingLiteral(T value, odbc::Literal& literal) {
  Reset(literal, odbc::Literal::Kind::Number);
  if (std::isnan(value)) {
    literal.text = L"NaN";
  } else if (std::isinf(value)) {
    literal.text = value > 0 ? L"Infinity" : L"-Infinity";
  } else {
    char digits[64];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    AssignAscii(literal.text, digits, end);
    literal.wellFormed = true;
    // The double the text reads as: for a float, its shortest text (0.1), not the float's
    // binary value widened (0.100000001...); a double's shortest text reads as itself.
    if constexpr (std::is_same_v<T, double>) {
      literal.number = value;
      literal.holdsNumber = true;
    } else {
      literal.holdsNumber = std::from_chars(digits, end, literal.number).ec == std::errc();
    }
  }
}

// SQL_NUMERIC_STRUCT: a 128-bit little-endian magnitude, a sign and a scale.
void NumericLiteral(const SQL_NUMERIC_STRUCT& numeric, odbc::Literal& literal) {
  unsigned char magnitude[kNumericBytes];
  std::memcpy(magnitude, numeric.val, kNumericBytes);
  std::string digits;
  for (;;) {
    bool zero = true;
    unsigned remainder = 0;
    for (int i = kNumericBytes - 1; i >= 0; --i) {
      const unsigned current = (remainder << 8) | magnitude[i];
      magnitude[i] = static_cast<unsigned char>(current / 10);
      remainder = current % 10;
      zero = zero && magnitude[i] == 0;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + remainder));
    if (zero) break;
  }
  const int scale = numeric.scale;
  if (scale < 0) {
    if (digits != "0") digits.append(static_cast<std::size_t>(-scale), '0');
  } else if (scale > 0) {
    if (digits.size() <= static_cast<std::size_t>(scale))
      digits.insert(0, static_cast<std::size_t>(scale) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<std::size_t>(scale), ".");
  }
  if (numeric.sign == 0 && digits.find_first_not_of("0.") != std::string::npos) digits.insert(0, "-");
  Reset(literal, odbc::Literal::Kind::Number);
  AssignAscii(literal.text, digits.data(), digits.data() + digits.size());
  literal.wellFormed = true;
}

// Writes `value` in decimal at `out`, as printf's %0<width>d writes it: zeros in front up to
// `width` characters, a minus sign among them. Returns the end.
char* WritePadded(char* out, int value, int width) {
  char digits[16];
  const char* const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  const char* first = digits;
  if (*first == '-') {
    *out++ = '-';
    ++first;
    --width;
  }
  for (auto n = end - first; n < width; ++n) *out++ = '0';
  return std::copy(first, end, out);
}

// The fields of a date or time as the C structures give them: a field past its range (hour 100)
// is refused rather than written as another value.
constexpr int kLastMonth = 12;
constexpr int kLastDay = 31;
constexpr int kLastHour = 23;
constexpr int kLastMinute = 59;
constexpr int kLastSecond = 59;

constexpr int kYearWidth = 4, kMonthDayWidth = 2;
// Room for the longest date and time the structures hold (-32768-65535-65535 65535:65535:65535).
constexpr std::size_t kDateTimeChars = 48;

// YYYY-MM-DD.
char* WriteDate(char* out, int year, int month, int day) {
  out = WritePadded(out, year, kYearWidth);
  *out++ = '-';
  out = WritePadded(out, month, kMonthDayWidth);
  *out++ = '-';
  return WritePadded(out, day, kMonthDayWidth);
}

// HH:MM:SS.
char* WriteTime(char* out, int hour, int minute, int second) {
  out = WritePadded(out, hour, kMonthDayWidth);
  *out++ = ':';
  out = WritePadded(out, minute, kMonthDayWidth);
  *out++ = ':';
  return WritePadded(out, second, kMonthDayWidth);
}

bool DateInRange(int month, int day) { return month >= 1 && month <= kLastMonth && day >= 1 && day <= kLastDay; }

bool TimeInRange(int hour, int minute, int second) {
  return hour <= kLastHour && minute <= kLastMinute && second <= kLastSecond;
}

// Puts the date or time written from `first` to `last` in `literal` as text; a field out of its
// range is refused, naming the parameter and its C type.
void DateTimeLiteral(const char* first, const char* last, bool inRange, std::size_t number, std::wstring_view cType,
                     odbc::Literal& literal) {
  Reset(literal, odbc::Literal::Kind::Text);
  AssignAscii(literal.text, first, last);
  if (!inRange) {
    throw odbc::errors::BadDate(L"parameter " + std::to_wstring(number), cType, literal.text,
                                L"has a field out of its range");
  }
}

// The size of one value of a fixed-size C type, 0 for the types whose values have a length.
std::size_t FixedSize(SQLSMALLINT cType) {
  switch (cType) {
    case SQL_C_BIT:
    case SQL_C_TINYINT:
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT:
      return 1;
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT:
      return sizeof(SQLSMALLINT);
    case SQL_C_LONG:
    case SQL_C_SLONG:
    case SQL_C_ULONG:
      return sizeof(SQLINTEGER);
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT:
      return sizeof(SQLBIGINT);
    case SQL_C_FLOAT:
      return sizeof(SQLREAL);
    case SQL_C_DOUBLE:
      return sizeof(SQLDOUBLE);
    case SQL_C_NUMERIC:
      return sizeof(SQL_NUMERIC_STRUCT);
    case SQL_C_DATE:
    case SQL_C_TYPE_DATE:
      return sizeof(SQL_DATE_STRUCT);
    case SQL_C_TIME:
    case SQL_C_TYPE_TIME:
      return sizeof(SQL_TIME_STRUCT);
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP:
      return sizeof(SQL_TIMESTAMP_STRUCT);
    default:
      return 0;
  }
}

// The C type SQL_C_DEFAULT stands for with a parameter of `sqlType`.
SQLSMALLINT DefaultCType(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
      return SQL_C_WCHAR;
    case SQL_BIT:
      return SQL_C_BIT;
    case SQL_TINYINT:
      return SQL_C_STINYINT;
    case SQL_SMALLINT:
      return SQL_C_SSHORT;
    case SQL_INTEGER:
      return SQL_C_SLONG;
    case SQL_BIGINT:
      return SQL_C_SBIGINT;
    case SQL_REAL:
      return SQL_C_FLOAT;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return SQL_C_DOUBLE;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return SQL_C_TYPE_DATE;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      return SQL_C_TYPE_TIME;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      return SQL_C_TYPE_TIMESTAMP;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return SQL_C_BINARY;
    default:
      return SQL_C_CHAR;  // CHAR, VARCHAR, DECIMAL, NUMERIC and the rest come as text
  }
}

// The output files end text at a NUL: a value with one before its end is refused (22021) rather
// than stored cut. NULs at the end (a length that counted a closing NUL or a padded buffer) are
// left off as the files leave them off.
template <typename Char>
void RefuseInnerNul(std::basic_string_view<Char> value, std::size_t number) {
  const std::size_t nul = value.find(Char{});
  if (nul != value.npos && value.find_first_not_of(Char{}, nul) != value.npos)
    throw odbc::errors::ArgumentHoldsNul(L"value of parameter " + std::to_wstring(number), nul);
}

template <typename T>
T Read(const char* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

}  // namespace

std::size_t FixedSizeOf(const BoundParameter& parameter) {
  return FixedSize(parameter.cType == SQL_C_DEFAULT ? DefaultCType(parameter.sqlType) : parameter.cType);
}

bool IsDataAtExecution(SQLLEN indicator) {
  return indicator == SQL_DATA_AT_EXEC || indicator <= SQL_LEN_DATA_AT_EXEC_OFFSET;
}

const SQLLEN* IndicatorOf(const Statement& statement, std::size_t number, SQLULEN row) {
  const BoundParameter& p = statement.parameters[number - 1];
  if (p.indicator == nullptr) return nullptr;
  const SQLULEN offset = statement.paramBindOffset != nullptr ? *statement.paramBindOffset : 0;
  const SQLULEN stride = statement.paramBindType != SQL_PARAM_BIND_BY_COLUMN ? statement.paramBindType : sizeof(SQLLEN);
  return reinterpret_cast<const SQLLEN*>(reinterpret_cast<const char*>(p.indicator) + offset + row * stride);
}

std::vector<std::size_t> FindMarkers(std::wstring_view statement) {
  std::vector<std::size_t> markers;
  for (std::size_t pos = 0; pos < statement.size();) {
    const text::SqlToken token = text::SqlTokenAt(statement, pos, kDriverSql);
    if (token.kind == text::SqlToken::Kind::Punct && statement[pos] == kMarker) markers.push_back(pos);
    pos = token.end;
  }
  return markers;
}

std::optional<std::wstring> InsertOfMarkersOnly(std::wstring_view statement, std::size_t markers) {
  if (markers == 0) return std::nullopt;
  // The statement without blanks, keywords in upper case, must be INSERT INTO t VALUES(?,...,?)
  // with an optional ';'. The table is read from the text as the drivers read it.
  std::wstring squeezed;
  for (const wchar_t c : statement) {
    if (!text::IsAsciiBlank(c)) squeezed.push_back(c);
  }
  std::wstring tail(kValues);
  for (std::size_t i = 0; i < markers; ++i) tail += i == 0 ? L"?" : L",?";
  tail += L")";
  if (!squeezed.empty() && squeezed.back() == L';') squeezed.pop_back();
  const std::wstring upper = text::AsciiUpper(std::wstring_view(squeezed));
  if (!upper.starts_with(kInsertInto) || !upper.ends_with(tail)) return std::nullopt;
  // The table: the text between INSERT INTO and the VALUES that opens the markers.
  const std::wstring upperStatement = text::AsciiUpper(std::wstring_view(statement));
  const auto into = upperStatement.find(L"INTO");
  const auto values = upperStatement.rfind(L"VALUES");
  if (into == std::wstring::npos || values == std::wstring::npos || values <= into + 4) return std::nullopt;
  std::wstring_view table = statement.substr(into + 4, values - into - 4);
  while (!table.empty() && text::IsAsciiBlank(table.front())) table.remove_prefix(1);
  while (!table.empty() && text::IsAsciiBlank(table.back())) table.remove_suffix(1);
  if (table.empty()) return std::nullopt;
  return std::wstring(table);
}

odbc::Literal ReadParameter(const Statement& statement, std::size_t number, SQLULEN row) {
  odbc::Literal literal;
  ReadParameter(statement, number, row, literal);
  return literal;
}

void ReadParameter(const Statement& statement, std::size_t number, SQLULEN row, odbc::Literal& literal) {
  if (number > statement.parameters.size() || !statement.parameters[number - 1].bound)
    throw odbc::errors::ParameterNotBound(number);
  const BoundParameter& p = statement.parameters[number - 1];
  const SQLSMALLINT cType = p.cType == SQL_C_DEFAULT ? DefaultCType(p.sqlType) : p.cType;
  const SQLULEN offset = statement.paramBindOffset != nullptr ? *statement.paramBindOffset : 0;
  const std::size_t fixed = FixedSize(cType);
  const SQLULEN stride = statement.paramBindType != SQL_PARAM_BIND_BY_COLUMN
                             ? statement.paramBindType
                             : (fixed != 0 ? fixed : static_cast<SQLULEN>(p.bufferLength));
  const SQLULEN indicatorStride =
      statement.paramBindType != SQL_PARAM_BIND_BY_COLUMN ? statement.paramBindType : sizeof(SQLLEN);
  SQLLEN length = SQL_NTS;
  if (p.indicator != nullptr) {
    length =
        *reinterpret_cast<const SQLLEN*>(reinterpret_cast<const char*>(p.indicator) + offset + row * indicatorStride);
  }
  if (length == SQL_NULL_DATA) return Reset(literal, odbc::Literal::Kind::Null);
  const char* at = nullptr;
  if (IsDataAtExecution(length)) {
    // The value came in pieces through SQLPutData, which an array of parameters does not take.
    if (row > 0) throw odbc::errors::FeatureNotImplemented(L"data at execution in an array of parameters");
    if (number > statement.putData.size() || !statement.putData[number - 1])
      return Reset(literal, odbc::Literal::Kind::Null);
    const std::string& data = *statement.putData[number - 1];
    at = data.data();
    length = static_cast<SQLLEN>(data.size());
    if (fixed != 0 && data.size() < fixed) throw odbc::errors::BadParameterLength(number);
  } else {
    if (p.value == nullptr) throw odbc::errors::ParameterBufferNull(number);
    at = static_cast<const char*>(p.value) + offset + row * stride;
    // A length past the buffer the application gave would read beyond it.
    if (fixed == 0 && p.bufferLength > 0 && length > p.bufferLength) throw odbc::errors::BadParameterLength(number);
  }
  if (fixed == 0 && length < 0 && length != SQL_NTS) throw odbc::errors::BadParameterLength(number);

  switch (cType) {
    case SQL_C_CHAR: {
      const std::size_t bytes = length == SQL_NTS ? std::strlen(at) : static_cast<std::size_t>(length);
      const std::string_view utf8(at, bytes);
      RefuseInnerNul(utf8, number);
      Reset(literal, odbc::Literal::Kind::Text);
      // ASCII, the usual text, is valid UTF-8 and its characters are its bytes: one pass.
      if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < kFirstNonAscii; }))
        return AssignAscii(literal.text, utf8.data(), utf8.data() + utf8.size());
      const std::size_t valid = text::ValidUtf8Length(utf8);
      if (valid != bytes) throw odbc::errors::TextNotUtf8(L"parameter " + std::to_wstring(number), valid);
      return text::Utf8ToWide(utf8, literal.text);
    }
    case SQL_C_WCHAR: {
      std::size_t units = 0;
      if (length == SQL_NTS) {
        while (Read<char16_t>(at + units * sizeof(char16_t)) != 0) ++units;
      } else {
        if (length % static_cast<SQLLEN>(sizeof(char16_t)) != 0) throw odbc::errors::BadParameterLength(number);
        units = static_cast<std::size_t>(length) / sizeof(char16_t);
      }
      // The units copied out of the application's buffer (which need not be aligned for them),
      // into storage the thread keeps from value to value.
      thread_local std::u16string utf16;
      utf16.resize(units);
      std::memcpy(utf16.data(), at, units * sizeof(char16_t));
      const std::size_t valid = text::ValidUtf16Length(utf16);
      if (valid != units) throw odbc::errors::ArgumentNotUtf16(L"value of parameter " + std::to_wstring(number), valid);
      RefuseInnerNul(std::u16string_view(utf16), number);
      Reset(literal, odbc::Literal::Kind::Text);
      return text::Utf16ToWide(utf16, literal.text);
    }
    case SQL_C_BINARY: {
      if (length == SQL_NTS) throw odbc::errors::BadParameterLength(number);
      Reset(literal, odbc::Literal::Kind::Binary);
      literal.bytes.assign(reinterpret_cast<const std::uint8_t*>(at),
                           reinterpret_cast<const std::uint8_t*>(at) + length);
      literal.text = L"0x";
      for (const std::uint8_t byte : literal.bytes) {
        literal.text.push_back(static_cast<wchar_t>(kHexDigits[byte >> 4]));
        literal.text.push_back(static_cast<wchar_t>(kHexDigits[byte & 0xF]));
      }
      return;
    }
    case SQL_C_BIT:
      return IntegerLiteral(Read<unsigned char>(at) != 0 ? 1 : 0, literal);
    case SQL_C_TINYINT:
    case SQL_C_STINYINT:
      return IntegerLiteral(static_cast<int>(Read<signed char>(at)), literal);
    case SQL_C_UTINYINT:
      return IntegerLiteral(static_cast<int>(Read<unsigned char>(at)), literal);
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
      return IntegerLiteral(static_cast<int>(Read<SQLSMALLINT>(at)), literal);
    case SQL_C_USHORT:
      return IntegerLiteral(static_cast<int>(Read<SQLUSMALLINT>(at)), literal);
    case SQL_C_LONG:
    case SQL_C_SLONG:
      return IntegerLiteral(static_cast<long long>(Read<SQLINTEGER>(at)), literal);
    case SQL_C_ULONG:
      return IntegerLiteral(static_cast<long long>(Read<SQLUINTEGER>(at)), literal);
    case SQL_C_SBIGINT:
      return IntegerLiteral(static_cast<long long>(Read<SQLBIGINT>(at)), literal);
    case SQL_C_UBIGINT:
      return IntegerLiteral(static_cast<unsigned long long>(Read<SQLUBIGINT>(at)), literal);
    case SQL_C_FLOAT:
      return FloatingLiteral(Read<SQLREAL>(at), literal);
    case SQL_C_DOUBLE:
      return FloatingLiteral(Read<SQLDOUBLE>(at), literal);
    case SQL_C_NUMERIC:
      return NumericLiteral(Read<SQL_NUMERIC_STRUCT>(at), literal);
    case SQL_C_DATE:
    case SQL_C_TYPE_DATE: {
      const auto date = Read<SQL_DATE_STRUCT>(at);
      char written[kDateTimeChars];
      return DateTimeLiteral(written, WriteDate(written, date.year, date.month, date.day),
                             DateInRange(date.month, date.day), number, L"SQL_C_TYPE_DATE", literal);
    }
    case SQL_C_TIME:
    case SQL_C_TYPE_TIME: {
      const auto time = Read<SQL_TIME_STRUCT>(at);
      char written[kDateTimeChars];
      return DateTimeLiteral(written, WriteTime(written, time.hour, time.minute, time.second),
                             TimeInRange(time.hour, time.minute, time.second), number, L"SQL_C_TYPE_TIME", literal);
    }
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP: {
      const auto stamp = Read<SQL_TIMESTAMP_STRUCT>(at);
      if (stamp.fraction != 0) throw odbc::errors::FractionNotKept(number);
      char written[kDateTimeChars];
      char* end = WriteDate(written, stamp.year, stamp.month, stamp.day);
      *end++ = ' ';
      end = WriteTime(end, stamp.hour, stamp.minute, stamp.second);
      return DateTimeLiteral(written, end,
                             DateInRange(stamp.month, stamp.day) && TimeInRange(stamp.hour, stamp.minute, stamp.second),
                             number, L"SQL_C_TYPE_TIMESTAMP", literal);
    }
    default:
      throw odbc::errors::ParameterTypeNotTaken(number, L"C type " + std::to_wstring(cType));
  }
}

std::wstring FillMarkers(std::wstring_view statement, const std::vector<std::size_t>& markers,
                         const std::vector<odbc::Literal>& values) {
  std::wstring out;
  std::size_t from = 0;
  for (std::size_t i = 0; i < markers.size(); ++i) {
    out.append(statement.substr(from, markers[i] - from));
    odbc::AppendSqlLiteral(out, values[i]);
    from = markers[i] + 1;
  }
  out.append(statement.substr(from));
  return out;
}

}  // namespace quillon::odbcdriver
