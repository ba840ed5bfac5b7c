#include "platform/odbc/Recordset.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <limits>

#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/OdbcHandles.h"
#include "platform/odbc/SourceDrivers.h"
#include "platform/odbc/TableName.h"
#include "platform/text/Characters.h"
#include "platform/text/WideText.h"

namespace quillon::odbc {
namespace {

constexpr SQLSMALLINT kMaxColumnNameBytes = 1024;
// Text columns are bound into buffers of at most this many bytes, long ones included: most values
// fit, one SQLFetch delivers them with the row, and a small buffer costs little to fill; a longer
// value is read again whole with SQLGetData.
constexpr std::size_t kMaxBoundTextBytes = 256;
// A date-time read as text: "yyyy-mm-dd hh:mm:ss" with up to nine digits of fraction, and its
// terminator, with room to spare.
constexpr std::size_t kDateTimeTextBytes = 32;
// Room for the driver's library name that SQL_DRIVER_NAME gives.
constexpr SQLSMALLINT kDriverNameBytes = 1024;
// Most bytes one character can take: four in UTF-8, two UTF-16 units.
constexpr std::size_t kMaxUtf8BytesPerChar = 4;
constexpr std::size_t kUtf16UnitBytes = 2;
constexpr unsigned char kFirstNonAscii = 0x80;
// Bound buffers start on this boundary, enough for every fixed-size C type.
constexpr std::size_t kBoundAlignment = alignof(std::max_align_t);

// The C type in which a column of `sqlType` is fetched with the default field type.
SQLSMALLINT DefaultCType(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_BIT:
      return SQL_C_BIT;
    // Whole numbers at full width: SQLite reports its 64-bit integers as SQL_INTEGER (or as any
    // integer type a column declares), and a narrower C type would keep only their low bits.
    case SQL_TINYINT:  // a number, not a character
    case SQL_SMALLINT:
    case SQL_INTEGER:
      return SQL_C_SBIGINT;
    case SQL_REAL:
      return SQL_C_FLOAT;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return SQL_C_DOUBLE;
    // A time of day as a time: as a timestamp the driver would fill in today's date.
    case SQL_TIME:
    case SQL_TYPE_TIME:
      return SQL_C_TIME;
    case SQL_DATE:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
      return SQL_C_TIMESTAMP;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return SQL_C_BINARY;
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
      return SQL_C_WCHAR;
    default:
      return SQL_C_CHAR;  // text, and decimal, numeric and big integers as their digits
  }
}

// The source drivers whose values some columns read as text (see CellForm).
enum class SourceDriver { Other, Sqlite, Postgres };

CellForm FormOf(SQLSMALLINT sqlType, SourceDriver driver) {
  if (driver == SourceDriver::Sqlite) {
    switch (sqlType) {
      case SQL_TIMESTAMP:
      case SQL_TYPE_TIMESTAMP:
        return CellForm::DateTimeText;
      case SQL_TINYINT:
      case SQL_SMALLINT:
      case SQL_INTEGER:
      case SQL_BIGINT:
        return CellForm::WholeText;
      case SQL_BIT:
        return CellForm::BitText;
      case SQL_REAL:
      case SQL_FLOAT:
      case SQL_DOUBLE:
        return CellForm::RealText;
      default:
        return CellForm::Native;
    }
  }
  if (driver == SourceDriver::Postgres) {
    if (sqlType == SQL_DATE || sqlType == SQL_TYPE_DATE) return CellForm::DateText;
    if (sqlType == SQL_TIMESTAMP || sqlType == SQL_TYPE_TIMESTAMP) return CellForm::CheckedTimestamp;
  }
  return CellForm::Native;
}

// Whether a column of `form` is fetched as the driver's text and read by ConvertValue.
bool FetchedAsText(CellForm form) {
  return form == CellForm::WholeText || form == CellForm::BitText || form == CellForm::RealText ||
         form == CellForm::DateText;
}

// The C type a column's values are fetched in.
SQLSMALLINT FetchCType(SQLSMALLINT sqlType, CellForm form) {
  return FetchedAsText(form) ? SQL_C_CHAR : DefaultCType(sqlType);
}

// The bytes of a bound text value's buffer, its terminator included: room for the longest value
// the column declares, at most kMaxBoundTextBytes (also when it declares no size).
std::size_t BoundTextBytes(SQLSMALLINT cType, std::uint32_t declaredSize) {
  if (declaredSize == 0) return kMaxBoundTextBytes;
  const std::size_t bytes = cType == SQL_C_CHAR ? std::size_t{declaredSize} * kMaxUtf8BytesPerChar + 1
                                                : (std::size_t{declaredSize} + 1) * kUtf16UnitBytes;
  return std::min(bytes, kMaxBoundTextBytes);
}

std::size_t FixedBytes(SQLSMALLINT cType) {
  switch (cType) {
    case SQL_C_BIT:
      return sizeof(unsigned char);
    case SQL_C_SSHORT:
      return sizeof(SQLSMALLINT);
    case SQL_C_SLONG:
      return sizeof(SQLINTEGER);
    case SQL_C_SBIGINT:
      return sizeof(SQLBIGINT);
    case SQL_C_TIME:
      return sizeof(SQL_TIME_STRUCT);
    case SQL_C_FLOAT:
      return sizeof(SQLREAL);
    case SQL_C_DOUBLE:
      return sizeof(SQLDOUBLE);
    case SQL_C_TIMESTAMP:
      return sizeof(SQL_TIMESTAMP_STRUCT);
    default:
      return 0;
  }
}

// Reads `text` of the form "yyyy-mm-dd hh:mm:ss[.f...]" (one to nine digits of fraction) naming
// a real moment of the Gregorian calendar from year 1 on. False for any other text, which is
// then left to the driver's own conversion: anything unusual keeps the driver's answer.
bool ReadDateTimeText(std::string_view text, SQL_TIMESTAMP_STRUCT& out) {
  static constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd";
  constexpr std::size_t kMaxFractionDigits = 9;
  constexpr SQLUINTEGER kFractionUnitsPerSecond = 1000000000;
  constexpr unsigned kDecimal = 10;
  if (text.size() < kShape.size() || text.size() == kShape.size() + 1 ||
      text.size() > kShape.size() + 1 + kMaxFractionDigits) {
    return false;
  }
  // Where kShape has its digits and its other characters, so that each is tested once.
  static constexpr auto kDigitsAt = [] {
    std::array<std::size_t, 14> at{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < kShape.size(); ++i) {
      if (kShape[i] == 'd') at[n++] = i;
    }
    return at;
  }();
  static constexpr auto kSeparatorsAt = [] {
    std::array<std::size_t, kShape.size() - kDigitsAt.size()> at{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < kShape.size(); ++i) {
      if (kShape[i] != 'd') at[n++] = i;
    }
    return at;
  }();
  for (const std::size_t i : kDigitsAt) {
    if (!text::IsAsciiDigit(text[i])) return false;
  }
  for (const std::size_t i : kSeparatorsAt) {
    if (text[i] != kShape[i]) return false;
  }
  const auto number = [&text](std::size_t at, std::size_t digits) {
    unsigned value = 0;
    for (std::size_t i = at; i < at + digits; ++i) value = value * kDecimal + static_cast<unsigned>(text[i] - '0');
    return value;
  };
  const unsigned year = number(0, 4), month = number(5, 2), day = number(8, 2);
  const unsigned hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  constexpr std::array<unsigned, 12> kDaysInMonth = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  if (year == 0 || month < 1 || month > kDaysInMonth.size() || day < 1 ||
      day > kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0) || hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  SQLUINTEGER fraction = 0;
  if (text.size() > kShape.size()) {
    if (text[kShape.size()] != '.') return false;
    SQLUINTEGER scale = kFractionUnitsPerSecond;
    for (const char c : text.substr(kShape.size() + 1)) {
      if (!text::IsAsciiDigit(c)) return false;
      scale /= kDecimal;
      fraction += static_cast<SQLUINTEGER>(c - '0') * scale;
    }
  }
  out = SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(year),
                             static_cast<SQLUSMALLINT>(month),
                             static_cast<SQLUSMALLINT>(day),
                             static_cast<SQLUSMALLINT>(hour),
                             static_cast<SQLUSMALLINT>(minute),
                             static_cast<SQLUSMALLINT>(second),
                             fraction};
  return true;
}

template <typename T>
T ReadAs(const unsigned char* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return value;
}

// The variant's text, reusing the string it already holds when it holds one of `kind`.
std::wstring& TextSlot(CDBVariant& value, std::uint32_t kind) {
  if (value.m_dwType != kind) {
    if (kind == DBVT_WSTRING) {
      value.SetWString({});
    } else {
      value.SetString({});
    }
  }
  return kind == DBVT_WSTRING ? *value.m_pstringW : *value.m_pstring;
}

TIMESTAMP_STRUCT DateOf(const SQL_TIMESTAMP_STRUCT& v) {
  return {v.year, v.month, v.day, v.hour, v.minute, v.second, v.fraction};
}

// A time of day has no date: its date parts are 0.
TIMESTAMP_STRUCT DateOf(const SQL_TIME_STRUCT& v) { return {0, 0, 0, v.hour, v.minute, v.second, 0}; }

void SetDateValue(CDBVariant& value, const TIMESTAMP_STRUCT& date) {
  if (value.m_dwType == DBVT_DATE) {
    *value.m_pdate = date;
  } else {
    value.SetDate(date);
  }
}

// A whole number in its column's usual kind (DBVT_SHORT for the small integer types, DBVT_LONG
// for INTEGER) when that holds it, else in the narrowest wider kind (DBVT_LONG, DBVT_BIGINT).
void SetWholeValue(CDBVariant& value, SQLSMALLINT sqlType, std::int64_t v) {
  const bool small = sqlType == SQL_SMALLINT || sqlType == SQL_TINYINT;
  if (small && v >= std::numeric_limits<std::int16_t>::min() && v <= std::numeric_limits<std::int16_t>::max()) {
    value.SetShort(static_cast<std::int16_t>(v));
  } else if (v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max()) {
    value.SetLong(static_cast<std::int32_t>(v));
  } else {
    value.SetBigInt(v);
  }
}

// The byte offset of the first UTF-16 unit of `units` that is half a surrogate pair; npos when none.
std::size_t FirstUnpairedSurrogate(std::u16string_view units) {
  constexpr char16_t kHighFirst = 0xD800, kLowFirst = 0xDC00, kLowLast = 0xDFFF;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    if (unit < kHighFirst || unit > kLowLast) continue;
    if (unit < kLowFirst && i + 1 < units.size() && units[i + 1] >= kLowFirst && units[i + 1] <= kLowLast) {
      ++i;
      continue;
    }
    return i * kUtf16UnitBytes;
  }
  return std::u16string_view::npos;
}

// Text exactly as the driver delivered it (in `cType`, SQL_C_CHAR or SQL_C_WCHAR) into `text`, or
// the row refused: bytes that are no characters would turn into U+FFFD, and a NUL inside the
// length the driver reports is text it cut there.
void DecodeText(SQLSMALLINT cType, std::string_view bytes, std::wstring_view column, std::wstring& text) {
  if (cType == SQL_C_WCHAR) {
    std::u16string units(bytes.size() / kUtf16UnitBytes, u'\0');
    std::memcpy(units.data(), bytes.data(), units.size() * kUtf16UnitBytes);
    text = text::Utf16ToWide(units);
    if (std::wmemchr(text.data(), static_cast<wchar_t>(text::kReplacementCharacter), text.size()) != nullptr) {
      if (const std::size_t at = FirstUnpairedSurrogate(units); at != std::u16string_view::npos) {
        throw errors::TextNotUtf8(column, at);
      }
    }
  } else {
    // Text of ASCII characters alone, the common case, is copied as it is.
    text.resize(bytes.size());
    std::size_t ascii = 0;
    for (; ascii < bytes.size(); ++ascii) {
      const auto byte = static_cast<unsigned char>(bytes[ascii]);
      if (byte == 0 || byte >= kFirstNonAscii) break;
      text[ascii] = static_cast<wchar_t>(byte);
    }
    if (ascii == bytes.size()) return;
    if (const void* nul = std::memchr(bytes.data(), '\0', bytes.size()); nul != nullptr) {
      throw errors::TextCutAtNul(column, static_cast<std::size_t>(static_cast<const char*>(nul) - bytes.data()));
    }
    text::Utf8ToWide(bytes, text);
    if (std::wmemchr(text.data(), static_cast<wchar_t>(text::kReplacementCharacter), text.size()) != nullptr) {
      if (const std::size_t valid = text::ValidUtf8Length(bytes); valid < bytes.size()) {
        throw errors::TextNotUtf8(column, valid);
      }
    }
  }
}

// The kinds a column's text must be to arrive as its column's kind, as a refusal names them.
constexpr std::wstring_view kWholeNumberKind = L"a whole number";
constexpr std::wstring_view kBitKind = L"a bit (0 or 1)";
constexpr std::wstring_view kFloatingKind = L"a floating-point number";
constexpr std::wstring_view kDateKind = L"a date";
// SQLite's text of the infinities.
constexpr std::string_view kSqliteInfinity = "Inf";
constexpr std::string_view kSqliteNegativeInfinity = "-Inf";
// What psqlODBC makes of PostgreSQL's infinities: the text of a date of either infinity, and the
// year of a date-time of -infinity (no date-time it reads has a year before 1). A date-time of
// infinity it gives as 9999-12-31 23:59:59, the same as that very moment.
constexpr std::string_view kPostgresInfiniteDate = "0000-00-00";
constexpr SQLSMALLINT kPostgresNegativeInfinityYear = -9999;
constexpr SQL_TIMESTAMP_STRUCT kPostgresInfinity{9999, 12, 31, 23, 59, 59, 0};
constexpr std::wstring_view kNegativeInfinityWord = L"-infinity";

[[noreturn]] void RefuseKind(std::wstring_view column, std::string_view text, std::wstring_view kind) {
  throw errors::NotOfColumnKind(column, text::Utf8ToWide(text), kind);
}

// A whole number exactly as SQLite writes one (an optional '-', digits without a leading zero)
// within 64 bits.
bool ReadWholeText(std::string_view text, std::int64_t& out) {
  // Up to 18 digits cannot overflow; longer text is left to from_chars, which checks the range.
  constexpr std::size_t kSafeDigits = 18;
  const bool negative = !text.empty() && text[0] == '-';
  const std::string_view digits = text.substr(negative ? 1 : 0);
  if (digits.empty() || (digits[0] == '0' && (digits.size() > 1 || negative))) return false;
  if (digits.size() > kSafeDigits) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size();
  }
  std::int64_t value = 0;
  for (const char c : digits) {
    if (!text::IsAsciiDigit(c)) return false;
    value = value * 10 + (c - '0');
  }
  out = negative ? -value : value;
  return true;
}

// The common REAL text, [-]digits[.digits] with a whole of at most 2^53 once the point is
// dropped and at most 22 digits after it: both that whole and the power of ten are exact doubles,
// so one division gives the correctly rounded value, the one std::from_chars gives. False for
// anything else (the caller reads it the long way).
bool ReadPlainDecimal(std::string_view text, double& out) {
  constexpr std::uint64_t kMaxExactWhole = std::uint64_t{1} << 53;
  constexpr std::size_t kMaxDigits = 19;  // always fit in 64 bits
  static constexpr std::array<double, 23> kPowersOfTen = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const char* p = text.data();
  const char* const end = p + text.size();
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  // The digits before and after the point, as one whole; more than kMaxDigits of them may wrap
  // it, but such text is refused below before the whole is used.
  std::uint64_t whole = 0;
  const char* const first = p;
  while (p != end && text::IsAsciiDigit(*p)) whole = whole * 10 + static_cast<std::uint64_t>(*p++ - '0');
  const std::size_t before = static_cast<std::size_t>(p - first);
  std::size_t decimals = 0;
  if (p != end) {
    if (*p != '.') return false;
    const char* const afterPoint = ++p;
    while (p != end && text::IsAsciiDigit(*p)) whole = whole * 10 + static_cast<std::uint64_t>(*p++ - '0');
    decimals = static_cast<std::size_t>(p - afterPoint);
    // SQLite never writes a bare point at the end; such text goes the long way, as does any other.
    if (p != end || decimals == 0) return false;
  }
  // Nor a bare point at the start.
  if (before == 0 || before + decimals > kMaxDigits) return false;
  if (whole > kMaxExactWhole || decimals >= kPowersOfTen.size()) return false;
  const double magnitude = static_cast<double>(whole) / kPowersOfTen[decimals];
  out = negative ? -magnitude : magnitude;
  return true;
}

// A number as SQLite writes a REAL: decimal digits with an optional '-', point and exponent, or
// its words for the infinities (SQLite keeps no NaN).
bool ReadRealText(std::string_view text, double& out) {
  if (text == kSqliteInfinity || text == kSqliteNegativeInfinity) {
    out = text[0] == '-' ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return true;
  }
  if (ReadPlainDecimal(text, out)) return true;
  for (const char c : text) {
    if (!text::IsAsciiDigit(c) && c != '-' && c != '.' && c != 'e' && c != 'E' && c != '+') return false;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && text[0] != '+' && error == std::errc() && end == text.data() + text.size();
}

// A date as psqlODBC writes one, "yyyy-mm-dd" of a real day; the time of day is midnight.
bool ReadDateText(std::string_view text, SQL_TIMESTAMP_STRUCT& out) {
  constexpr std::string_view kMidnight = " 00:00:00";
  constexpr std::size_t kDateChars = 10;
  if (text.size() != kDateChars) return false;
  char dateTime[kDateChars + kMidnight.size()];
  std::memcpy(dateTime, text.data(), kDateChars);
  std::memcpy(dateTime + kDateChars, kMidnight.data(), kMidnight.size());
  return ReadDateTimeText(std::string_view(dateTime, sizeof dateTime), out);
}

// A value of a column from the bytes the driver delivered, in the C type its form fetches, before
// it is stored: text stays the driver's bytes (or a word of Quillon's) until its user decodes it
// where it keeps it, and the kinds CellValue does not carry stay their bytes.
struct DecodedValue {
  CellValue cell;
  std::string_view bytes;             // Text (unless `word` is set) and Other
  SQLSMALLINT textType = SQL_C_CHAR;  // Text: the C type of `bytes`
  std::wstring_view word;             // Text: the text itself, when not empty
};

// The one reading of a value for values read now and values read ahead. A value that cannot
// arrive exactly throws CDBException naming `column`.
// Inlined where rows are read, as it runs once a value.
[[gnu::always_inline]] inline DecodedValue DecodeValue(SQLSMALLINT sqlType, CellForm form, std::wstring_view column,
                                                       bool null, const char* bytes, std::size_t size) {
  DecodedValue decoded;
  CellValue& cell = decoded.cell;
  if (null) return decoded;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes);
  const std::string_view text(bytes, size);
  switch (form) {
    case CellForm::WholeText: {
      std::int64_t whole = 0;
      if (!ReadWholeText(text, whole)) RefuseKind(column, text, kWholeNumberKind);
      // A big integer stays its digits, as it arrives from every other driver.
      if (sqlType == SQL_BIGINT) {
        cell.kind = CellValue::Kind::Text;
        decoded.bytes = text;
      } else {
        cell.kind = CellValue::Kind::Whole;
        cell.whole = whole;
      }
      return decoded;
    }
    case CellForm::BitText:
      if (text != "0" && text != "1") RefuseKind(column, text, kBitKind);
      cell.kind = CellValue::Kind::Bool;
      cell.whole = text == "1" ? 1 : 0;
      return decoded;
    case CellForm::RealText:
      if (!ReadRealText(text, cell.real)) RefuseKind(column, text, kFloatingKind);
      cell.kind = CellValue::Kind::Double;
      return decoded;
    case CellForm::DateText: {
      if (text == kPostgresInfiniteDate) throw errors::InfiniteDate(column);
      SQL_TIMESTAMP_STRUCT date{};
      if (!ReadDateText(text, date)) RefuseKind(column, text, kDateKind);
      cell.kind = CellValue::Kind::Date;
      cell.date = DateOf(date);
      return decoded;
    }
    case CellForm::CheckedTimestamp: {
      const auto stamp = ReadAs<SQL_TIMESTAMP_STRUCT>(data);
      if (stamp.year == kPostgresNegativeInfinityYear) {
        cell.kind = CellValue::Kind::Text;
        decoded.word = kNegativeInfinityWord;
        return decoded;
      }
      if (std::memcmp(&stamp, &kPostgresInfinity, sizeof stamp) == 0) throw errors::InfiniteOrLastMoment(column);
      break;
    }
    default:
      break;
  }
  switch (const SQLSMALLINT cType = DefaultCType(sqlType)) {
    case SQL_C_BIT:
      cell.kind = CellValue::Kind::Bool;
      cell.whole = ReadAs<unsigned char>(data) != 0 ? 1 : 0;
      break;
    case SQL_C_SBIGINT:
      cell.kind = CellValue::Kind::Whole;
      cell.whole = ReadAs<SQLBIGINT>(data);
      break;
    case SQL_C_TIME:
      cell.kind = CellValue::Kind::Date;
      cell.date = DateOf(ReadAs<SQL_TIME_STRUCT>(data));
      break;
    case SQL_C_DOUBLE:
      cell.kind = CellValue::Kind::Double;
      cell.real = ReadAs<SQLDOUBLE>(data);
      break;
    case SQL_C_TIMESTAMP:
      cell.kind = CellValue::Kind::Date;
      cell.date = DateOf(ReadAs<SQL_TIMESTAMP_STRUCT>(data));
      break;
    case SQL_C_FLOAT:
    case SQL_C_BINARY:
      cell.kind = CellValue::Kind::Other;
      decoded.bytes = text;
      break;
    default:
      cell.kind = CellValue::Kind::Text;
      decoded.bytes = text;
      decoded.textType = cType;
      break;
  }
  return decoded;
}

// The text of a decoded Text value into `out`.
void DecodedText(const DecodedValue& decoded, std::wstring_view column, std::wstring& out) {
  if (decoded.word.empty()) {
    DecodeText(decoded.textType, decoded.bytes, column, out);
  } else {
    out = decoded.word;
  }
}

// A decoded value of a column of `sqlType` as a CDBVariant.
void StoreValue(const DecodedValue& decoded, SQLSMALLINT sqlType, std::wstring_view column, CDBVariant& value) {
  const CellValue& cell = decoded.cell;
  switch (cell.kind) {
    case CellValue::Kind::Null:
      value.Clear();
      return;
    case CellValue::Kind::Bool:
      value.SetBool(cell.whole != 0);
      return;
    case CellValue::Kind::Whole:
      SetWholeValue(value, sqlType, cell.whole);
      return;
    case CellValue::Kind::Double:
      value.SetDouble(cell.real);
      return;
    case CellValue::Kind::Date:
      SetDateValue(value, cell.date);
      return;
    case CellValue::Kind::Text:
      DecodedText(
          decoded, column,
          TextSlot(value, decoded.word.empty() && decoded.textType == SQL_C_WCHAR ? DBVT_WSTRING : DBVT_STRING));
      return;
    case CellValue::Kind::Other:
      if (DefaultCType(sqlType) == SQL_C_FLOAT) {
        value.SetSingle(ReadAs<SQLREAL>(reinterpret_cast<const unsigned char*>(decoded.bytes.data())));
      } else {
        value.SetBinary(std::vector<std::uint8_t>(decoded.bytes.begin(), decoded.bytes.end()));
      }
      return;
  }
}

}  // namespace

// Every column whose values have a bounded size gets a buffer bound with SQLBindCol, so that one
// SQLFetch delivers the row instead of one SQLGetData call per column. The rest are read with
// SQLGetData, as is a bound text value that turns out longer than its buffer.
struct CRecordset::Binding {
  struct Column {
    SQLSMALLINT cType = 0;
    bool bound = false;
    std::size_t offset = 0;       // into the buffer
    std::size_t bytes = 0;        // bound buffer size
    std::size_t fixed = 0;        // the size of a fixed-size C type; 0 for text
    std::size_t terminator = 0;   // the bytes a text value's terminator takes
    bool dateTimeAsText = false;  // a date-time bound as its text; cType stays SQL_C_TIMESTAMP
  };
  std::vector<Column> columns;
  std::vector<SQLLEN> indicators;
  std::vector<std::max_align_t> buffer;

  const unsigned char* Data(const Column& column) const {
    return reinterpret_cast<const unsigned char*>(buffer.data()) + column.offset;
  }
};

namespace {

// Binding needs SQLGetData on bound columns (to read a truncated value whole) and on any column
// (the unbound ones come between bound ones).
bool DriverAllowsBinding(SQLHDBC connection) {
  SQLUINTEGER extensions = 0;
  const SQLRETURN rc = SQLGetInfo(connection, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr);
  if (!SQL_SUCCEEDED(rc)) return false;
  const SQLUINTEGER needed = SQL_GD_BOUND | SQL_GD_ANY_COLUMN;
  return (extensions & needed) == needed;
}

// The driver behind `connection`, for the columns read as text or checked. The SQLite3 driver
// keeps every value as SQLite's text and converts that text to the bound type without a word when
// it is not of that type ('12abc' becomes 12, 1e20 in an integer column 1): its text is the value
// itself, and for a date-time in the form ReadDateTimeText reads it costs less to fetch.
// psqlODBC's text of a date is the date it parsed printed again (both infinities alike as
// 0000-00-00, where its date value is today's date).
SourceDriver DriverOf(SQLHDBC connection) {
  std::array<SQLCHAR, kDriverNameBytes> name{};
  SQLSMALLINT length = 0;
  const SQLRETURN rc = SQLGetInfo(connection, SQL_DRIVER_NAME, name.data(), kDriverNameBytes, &length);
  if (!SQL_SUCCEEDED(rc)) return SourceDriver::Other;
  const auto* library = reinterpret_cast<const char*>(name.data());
  if (IsDriverLibrary(library, kSqliteDriverLibrary)) return SourceDriver::Sqlite;
  if (IsDriverLibrary(library, kPostgresDriverLibrary)) return SourceDriver::Postgres;
  return SourceDriver::Other;
}

}  // namespace

std::unique_ptr<CRecordset::Binding> CRecordset::BindColumns(SQLHDBC connection, SQLHSTMT stmt,
                                                             const std::vector<CODBCFieldInfo>& fields,
                                                             const std::vector<CellForm>& forms) {
  auto binding = std::make_unique<Binding>();
  binding->columns.resize(fields.size());
  std::size_t total = 0;
  bool any = false;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    Binding::Column& column = binding->columns[i];
    column.cType = FetchCType(fields[i].m_nSQLType, forms[i]);
    column.bytes = column.fixed = FixedBytes(column.cType);
    if (forms[i] == CellForm::DateTimeText) {
      column.dateTimeAsText = true;
      column.fixed = 0;
      column.bytes = kDateTimeTextBytes;
      column.terminator = 1;
    } else if (column.bytes == 0 && (column.cType == SQL_C_CHAR || column.cType == SQL_C_WCHAR)) {
      column.bytes = BoundTextBytes(column.cType, fields[i].m_nPrecision);
      column.terminator = column.cType == SQL_C_CHAR ? 1 : kUtf16UnitBytes;
    }
    if (column.bytes == 0) continue;
    column.bound = true;
    column.offset = total;
    total += (column.bytes + kBoundAlignment - 1) / kBoundAlignment * kBoundAlignment;
    any = true;
  }
  if (!any || !DriverAllowsBinding(connection)) return nullptr;
  binding->buffer.resize(total / kBoundAlignment);
  binding->indicators.assign(fields.size(), 0);
  auto* base = reinterpret_cast<unsigned char*>(binding->buffer.data());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const Binding::Column& column = binding->columns[i];
    if (!column.bound) continue;
    const SQLRETURN rc =
        SQLBindCol(stmt, static_cast<SQLUSMALLINT>(i + 1), column.dateTimeAsText ? SQL_C_CHAR : column.cType,
                   base + column.offset, static_cast<SQLLEN>(column.bytes), &binding->indicators[i]);
    if (!SQL_SUCCEEDED(rc)) {
      // A driver that refuses a binding is read value by value, as without binding.
      SQLFreeStmt(stmt, SQL_UNBIND);
      return nullptr;
    }
  }
  return binding;
}

CRecordset::CRecordset(CDatabase* database) : m_database(database) {}

CRecordset::~CRecordset() = default;

bool CRecordset::Open(unsigned openType, std::wstring_view statement, unsigned options) {
  if (IsOpen()) throw errors::RecordsetAlreadyOpen();
  if (openType != forwardOnly || (options & ~static_cast<unsigned>(readOnly)) != 0) {
    throw errors::OnlyForwardOnly();
  }
  if (m_database == nullptr || !m_database->IsOpen()) throw errors::ConnectionClosed();
  OdbcConnection* connection = m_database->GetOdbcConnection();
  if (connection == nullptr) throw errors::NoResultSets();

  auto handle = std::make_unique<OdbcStatement>(*connection);
  const SQLHSTMT stmt = handle->Handle();
  handle->ExecDirect(statement);

  SQLSMALLINT columns = 0;
  CheckOdbc(SQLNumResultCols(stmt, &columns), SQL_HANDLE_STMT, stmt);
  std::vector<CODBCFieldInfo> fields;
  fields.reserve(static_cast<std::size_t>(columns));
  for (SQLUSMALLINT i = 1; i <= columns; ++i) {
    std::array<SQLCHAR, kMaxColumnNameBytes> name{};
    SQLSMALLINT nameLength = 0, type = 0, scale = 0, nullable = 0;
    SQLULEN size = 0;
    CheckOdbc(SQLDescribeCol(stmt, i, name.data(), kMaxColumnNameBytes, &nameLength, &type, &size, &scale, &nullable),
              SQL_HANDLE_STMT, stmt);
    CODBCFieldInfo info;
    info.m_strName = text::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(name.data()),
                                                       std::min<std::size_t>(nameLength, name.size() - 1)));
    info.m_nSQLType = type;
    info.m_nPrecision = static_cast<std::uint32_t>(size);
    info.m_nScale = scale;
    info.m_nNullability = nullable;
    fields.push_back(std::move(info));
  }

  std::vector<CellForm> forms;
  const SourceDriver driver = columns > 0 ? DriverOf(connection->Handle()) : SourceDriver::Other;
  for (const CODBCFieldInfo& field : fields) forms.push_back(FormOf(field.m_nSQLType, driver));
  std::unique_ptr<Binding> binding;
  if (columns > 0) binding = BindColumns(connection->Handle(), stmt, fields, forms);

  bool eof = true;
  if (columns > 0) eof = handle->Fetch(/*cancellable=*/true) == SQL_NO_DATA;

  m_binding = std::move(binding);
  m_statement = std::move(handle);
  m_fields = std::move(fields);
  m_forms = std::move(forms);
  m_tableName = FindSourceTable(statement);
  m_eof = eof;
  return true;
}

bool CRecordset::IsOpen() const { return m_statement != nullptr; }

void CRecordset::Close() {
  m_statement.reset();
  m_binding.reset();
  m_fields.clear();
  m_forms.clear();
  m_tableName.clear();
  m_eof = true;
}

bool CRecordset::IsEOF() const { return m_eof; }

void CRecordset::MoveNext() {
  if (!IsOpen()) throw errors::RecordsetNotOpen();
  if (m_eof) throw errors::PastTheEnd();
  m_eof = m_statement->Fetch() == SQL_NO_DATA;
}

std::int16_t CRecordset::GetODBCFieldCount() const { return static_cast<std::int16_t>(m_fields.size()); }

void CRecordset::GetODBCFieldInfo(std::int16_t index, CODBCFieldInfo& info) const { info = GetODBCFieldInfo(index); }

const CODBCFieldInfo& CRecordset::GetODBCFieldInfo(std::int16_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= m_fields.size()) {
    throw errors::ColumnOutOfRange(index);
  }
  return m_fields[static_cast<std::size_t>(index)];
}

void CRecordset::GetFieldValue(std::int16_t index, CDBVariant& value, std::int16_t fieldType) {
  if (fieldType != DEFAULT_FIELD_TYPE) throw errors::OnlyDefaultFieldType();
  if (!IsOpen() || m_eof) throw errors::NoCurrentRow();
  try {
    const CODBCFieldInfo& field = GetODBCFieldInfo(index);  // throws for a column out of range
    const CellBytes cell = ReadCell(static_cast<std::size_t>(index));
    StoreValue(DecodeValue(field.m_nSQLType, m_forms[static_cast<std::size_t>(index)], field.m_strName, cell.null,
                           cell.data, cell.size),
               field.m_nSQLType, field.m_strName, value);
  } catch (...) {
    value.Clear();
    throw;
  }
}

void CRecordset::CaptureRow(CRowBatch& batch) {
  if (!IsOpen() || m_eof) throw errors::NoCurrentRow();
  if (batch.m_columnCount == 0) {
    batch.m_columnCount = m_fields.size();
    batch.m_columns.clear();
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
      batch.m_columns.push_back({m_fields[i].m_nSQLType, m_forms[i], m_fields[i].m_strName});
    }
  } else if (batch.m_columnCount != m_fields.size()) {
    throw errors::BatchOfAnotherResult();
  }
  const std::size_t cells = batch.m_cells.size();
  const std::size_t bytes = batch.m_bytes.size();
  try {
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
      const CellBytes cell = ReadCell(i);
      if (cell.null) {
        batch.m_cells.push_back({batch.m_bytes.size(), CRowBatch::kNullCell});
      } else {
        batch.m_cells.push_back({batch.m_bytes.size(), cell.size});
        batch.m_bytes.append(cell.data, cell.size);
      }
    }
  } catch (...) {
    batch.m_cells.resize(cells);
    batch.m_bytes.resize(bytes);
    throw;
  }
}

void CRowBatch::Clear() {
  m_cells.clear();
  m_bytes.clear();
}

void CRowBatch::GetValue(std::size_t row, std::int16_t column, CDBVariant& value) const {
  const Cell& cell = CellAt(row, column);
  const Column& info = m_columns[static_cast<std::size_t>(column)];
  const bool null = cell.size == kNullCell;
  StoreValue(DecodeValue(info.sqlType, info.form, info.name, null, m_bytes.data() + cell.offset, null ? 0 : cell.size),
             info.sqlType, info.name, value);
}

void CRowBatch::ThrowOutsideTheBatch(std::size_t row, std::int16_t column) {
  throw errors::OutsideTheBatch(row, column);
}

void CRowBatch::ReadRow(std::size_t row, std::span<CellValue> cells, std::span<Literal> literals) const {
  const std::size_t first = row * m_columnCount;
  if (m_columnCount == 0 || cells.size() != m_columnCount || literals.size() != m_columnCount ||
      first + m_columnCount > m_cells.size()) {
    ThrowOutsideTheBatch(row, static_cast<std::int16_t>(cells.size()));
  }
  const Cell* cell = m_cells.data() + first;
  for (std::size_t c = 0; c < m_columnCount; ++c) {
    std::wstring& text = literals[c].text;
    text.clear();
    if (cell[c].size == kNullCell) {
      cells[c] = CellValue{};
      continue;
    }
    const Column& info = m_columns[c];
    const DecodedValue decoded =
        DecodeValue(info.sqlType, info.form, info.name, false, m_bytes.data() + cell[c].offset, cell[c].size);
    if (decoded.cell.kind == CellValue::Kind::Text) DecodedText(decoded, info.name, text);
    cells[c] = decoded.cell;
  }
}

CRecordset::CellBytes CRecordset::ReadCell(std::size_t column) {
  const auto index = static_cast<std::int16_t>(column);
  const CODBCFieldInfo& info = m_fields[column];
  return m_binding != nullptr && m_binding->columns[column].bound ? ReadBound(index, info) : ReadUnbound(index, info);
}

CRecordset::CellBytes CRecordset::ReadBound(std::int16_t index, const CODBCFieldInfo& info) {
  const Binding::Column& column = m_binding->columns[static_cast<std::size_t>(index)];
  const SQLLEN indicator = m_binding->indicators[static_cast<std::size_t>(index)];
  if (indicator == SQL_NULL_DATA) return {};
  const auto* data = reinterpret_cast<const char*>(m_binding->Data(column));
  if (column.fixed != 0) return {false, data, column.fixed};
  if (column.dateTimeAsText) {
    const bool whole = indicator >= 0 && static_cast<std::size_t>(indicator) + column.terminator <= column.bytes;
    return ReadDateTime(index,
                        whole ? std::string_view(data, static_cast<std::size_t>(indicator)) : std::string_view());
  }
  if (indicator >= 0 && static_cast<std::size_t>(indicator) + column.terminator <= column.bytes) {
    return {false, data, static_cast<std::size_t>(indicator)};
  }
  // Longer than its buffer (or of unknown length): read again whole.
  const auto number = static_cast<SQLUSMALLINT>(index + 1);
  const std::size_t hint = indicator > 0 ? static_cast<std::size_t>(indicator) : column.bytes;
  const std::size_t n = m_statement->GetLongData(number, column.cType, hint, m_buffer);
  if (n == OdbcStatement::kNullData) return {};
  if (indicator != SQL_NO_TOTAL && n != static_cast<std::size_t>(indicator)) {
    throw errors::ValueCutShort(info.m_strName, n, indicator);
  }
  return {false, m_buffer.data(), n};
}

CRecordset::CellBytes CRecordset::ReadDateTime(std::int16_t index, std::string_view text) {
  auto* dateTime = reinterpret_cast<SQL_TIMESTAMP_STRUCT*>(m_fixed.data());
  static_assert(sizeof m_fixed >= sizeof *dateTime);
  if (!ReadDateTimeText(text, *dateTime)) {
    // Any other text: the driver's own conversion, as if the column were bound as a date-time.
    const SQLHSTMT stmt = m_statement->Handle();
    SQLLEN length = 0;
    CheckOdbc(
        SQLGetData(stmt, static_cast<SQLUSMALLINT>(index + 1), SQL_C_TIMESTAMP, dateTime, sizeof *dateTime, &length),
        SQL_HANDLE_STMT, stmt);
    if (length == SQL_NULL_DATA) return {};
  }
  return {false, reinterpret_cast<const char*>(dateTime), sizeof *dateTime};
}

CRecordset::CellBytes CRecordset::ReadUnbound(std::int16_t index, const CODBCFieldInfo& info) {
  const SQLHSTMT stmt = m_statement->Handle();
  const auto column = static_cast<SQLUSMALLINT>(index + 1);
  const SQLSMALLINT cType = FetchCType(info.m_nSQLType, m_forms[static_cast<std::size_t>(index)]);
  if (const std::size_t fixed = FixedBytes(cType); fixed != 0) {
    SQLLEN indicator = 0;
    CheckOdbc(SQLGetData(stmt, column, cType, m_fixed.data(), static_cast<SQLLEN>(fixed), &indicator), SQL_HANDLE_STMT,
              stmt);
    if (indicator == SQL_NULL_DATA) return {};
    return {false, reinterpret_cast<const char*>(m_fixed.data()), fixed};
  }
  std::size_t hint = info.m_nPrecision;
  if (cType == SQL_C_WCHAR) hint *= kUtf16UnitBytes;
  if (cType == SQL_C_CHAR) hint *= kMaxUtf8BytesPerChar;
  const std::size_t n = m_statement->GetLongData(column, cType, hint, m_buffer);
  if (n == OdbcStatement::kNullData) return {};
  return {false, m_buffer.data(), n};
}

}  // namespace quillon::odbc
