#include "drivers/sql/ValueCheck.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "drivers/sql/DatePattern.h"
#include "platform/errors/Errors.h"
#include "platform/text/Characters.h"

namespace quillon::drivers::sql {
namespace {

constexpr double kSmallIntMin = -32768, kSmallIntMax = 32767;
constexpr double kIntegerMin = -2147483648.0, kIntegerMax = 2147483647.0;
constexpr int kMinYear = 100, kMaxYear = 9999;
// The words a source gives for the infinities of a date-time (PostgreSQL's).
constexpr std::wstring_view kDateInfinity = L"infinity";
constexpr std::wstring_view kDateNegativeInfinity = L"-infinity";
// Numbers longer than this are converted through a heap buffer.
constexpr std::size_t kNumberBuffer = 128;
// Every whole number of this many digits is exact in a double (below 2^53).
constexpr std::size_t kMaxExactWholeDigits = 15;
constexpr double kSecondsPerDay = 86400.0;

constexpr auto& IsDigit = text::IsAsciiDigit;
constexpr auto& IsBlank = text::IsSpaceOrTab;
constexpr auto& TrimBlanks = text::TrimSpaceAndTab;

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }
int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
long DaysFromCivil(long y, long m, long d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}
const long kSerialEpoch = DaysFromCivil(1899, 12, 30);

// Reads 1 to `maxDigits` digits at `pos`.
bool ReadField(std::wstring_view text, std::size_t& pos, int maxDigits, int& out) {
  int digits = 0;
  out = 0;
  while (pos < text.size() && IsDigit(text[pos]) && digits < maxDigits) {
    out = out * 10 + (text[pos] - L'0');
    ++pos, ++digits;
  }
  return digits > 0 && (pos >= text.size() || !IsDigit(text[pos]));
}
bool Take(std::wstring_view text, std::size_t& pos, wchar_t c) {
  if (pos < text.size() && text[pos] == c) {
    ++pos;
    return true;
  }
  return false;
}

// `nonFinite`: whether NaN and the infinities are values of the column.
double NumberOrRefuse(const Literal& literal, const ColumnDef& column, bool nonFinite = false) {
  double value = 0;
  const std::wstring_view text =
      literal.kind == Literal::Kind::Number ? std::wstring_view(literal.text) : TrimBlanks(literal.text);
  // A finite number the literal already holds is the one its text reads as.
  if (literal.kind == Literal::Kind::Number && literal.holdsNumber) return literal.number;
  // Only as number literals: text is converted as a number would be written.
  if (literal.kind == Literal::Kind::Number && ParseNonFinite(text, value)) {
    if (nonFinite) return value;
    throw odbc::errors::NumberOutOfRange(column.name, TypeName(column.type), literal.text,
                                         L"is not a finite number, which the column cannot hold");
  }
  if (!ParseNumber(text, value))
    throw odbc::errors::TypeMismatch(column.name, TypeName(column.type), literal.text, L"is not a number");
  if (!std::isfinite(value)) {
    throw odbc::errors::NumberOutOfRange(column.name, TypeName(column.type), literal.text,
                                         L"is too large for a number");
  }
  return value;
}

double WholeInRange(const Literal& literal, const ColumnDef& column, double low, double high, std::wstring_view range) {
  const double value = std::round(NumberOrRefuse(literal, column));
  if (value < low || value > high) {
    throw odbc::errors::NumberOutOfRange(
        column.name, TypeName(column.type), literal.text,
        std::wstring(L"does not fit ") + std::wstring(TypeName(column.type)) + L" (" + std::wstring(range) + L")");
  }
  return value;
}

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view upper) {
  if (a.size() != upper.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const wchar_t c = (a[i] >= L'a' && a[i] <= L'z') ? static_cast<wchar_t>(a[i] - L'a' + L'A') : a[i];
    if (c != upper[i]) return false;
  }
  return true;
}

// A sign and at most 15 digits, nothing else: a whole number every double holds exactly, read
// without a conversion call.
bool ReadShortWholeNumber(std::wstring_view text, double& out) {
  const std::size_t signEnd = !text.empty() && (text[0] == L'+' || text[0] == L'-') ? 1 : 0;
  const std::size_t digits = text.size() - signEnd;
  if (digits == 0 || digits > kMaxExactWholeDigits) return false;
  std::int64_t whole = 0;
  for (std::size_t i = signEnd; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return false;
    whole = whole * 10 + (text[i] - L'0');
  }
  const auto value = static_cast<double>(whole);
  out = text[0] == L'-' ? -value : value;
  return true;
}

constexpr std::wstring_view kNaNWord = L"NAN";
constexpr std::wstring_view kInfinityWord = L"INFINITY";

}  // namespace

bool ParseNonFinite(std::wstring_view text, double& out) {
  bool negative = false;
  if (!text.empty() && (text.front() == L'+' || text.front() == L'-')) {
    negative = text.front() == L'-';
    text.remove_prefix(1);
  }
  if (EqualsIgnoreCase(text, kNaNWord)) {
    out = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  if (EqualsIgnoreCase(text, kInfinityWord)) {
    out = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return true;
  }
  return false;
}

bool IsWholeNumberLiteral(std::wstring_view number) {
  if (!number.empty() && (number.front() == L'+' || number.front() == L'-')) number.remove_prefix(1);
  if (number.empty()) return false;
  for (wchar_t c : number) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

SheetNumber SheetNumberForm(const Value& value, double& number) {
  if (!value.sheetFormKnown) return SheetNumberForm(value.text, number);
  number = value.number;
  return value.sheetForm;
}

SheetNumber SheetNumberForm(std::wstring_view number, double& value) {
  if (ReadShortWholeNumber(number, value)) return SheetNumber::Number;  // the common case, read once
  if (ParseNonFinite(number, value)) return SheetNumber::Error;
  const bool whole = IsWholeNumberLiteral(number);
  if (whole && SignificantDigits(number) > static_cast<int>(kMaxExactWholeDigits)) return SheetNumber::Text;
  if (!ParseNumber(number, value)) return SheetNumber::Text;
  // A literal too large for a double keeps its digits rather than become an infinity.
  if (!std::isfinite(value)) return SheetNumber::Text;
  return whole || IsShortestForm(number, value) ? SheetNumber::Number : SheetNumber::Text;
}

namespace {

// The significant digits of a number literal (no leading or trailing zeros) and the power of ten
// of its first one.
void DecimalDigits(std::wstring_view number, std::string& digits, long& exponent) {
  digits.clear();
  exponent = 0;
  std::size_t end = number.find_first_of(L"eE");
  if (end != std::wstring_view::npos) {
    long e = 0;
    bool negative = false;
    std::size_t i = end + 1;
    if (i < number.size() && (number[i] == L'+' || number[i] == L'-')) negative = number[i++] == L'-';
    for (; i < number.size() && IsDigit(number[i]) && e < 100000; ++i) e = e * 10 + (number[i] - L'0');
    exponent = negative ? -e : e;
  } else {
    end = number.size();
  }
  // All mantissa digits in order, and how many stand before the point.
  std::string all;
  long beforePoint = -1;
  for (std::size_t i = 0; i < end; ++i) {
    if (number[i] == L'.') beforePoint = static_cast<long>(all.size());
    if (IsDigit(number[i])) all.push_back(static_cast<char>(number[i]));
  }
  if (beforePoint < 0) beforePoint = static_cast<long>(all.size());
  const std::size_t first = all.find_first_not_of('0');
  if (first == std::string::npos) return;  // zero
  digits.assign(all, first);
  exponent += beforePoint - 1 - static_cast<long>(first);
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
}

}  // namespace

bool IsShortestForm(std::wstring_view number, double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::wstring shortest(buffer, result.ptr);
  std::string a, b;
  long ea = 0, eb = 0;
  DecimalDigits(number, a, ea);
  DecimalDigits(shortest, b, eb);
  return a == b && (a.empty() || ea == eb);
}

bool ParseNumber(std::wstring_view text, double& out) {
  // Validate the literal form first; from_chars then reads the narrowed copy.
  std::size_t pos = 0, digits = 0;
  if (pos < text.size() && (text[pos] == L'+' || text[pos] == L'-')) ++pos;
  const std::size_t signEnd = pos;
  while (pos < text.size() && IsDigit(text[pos])) ++pos, ++digits;
  if (pos < text.size() && text[pos] == L'.') {
    ++pos;
    while (pos < text.size() && IsDigit(text[pos])) ++pos, ++digits;
  }
  if (digits == 0) return false;
  if (pos < text.size() && (text[pos] == L'e' || text[pos] == L'E')) {
    ++pos;
    if (pos < text.size() && (text[pos] == L'+' || text[pos] == L'-')) ++pos;
    const std::size_t expStart = pos;
    while (pos < text.size() && IsDigit(text[pos])) ++pos;
    if (pos == expStart) return false;
  }
  if (pos != text.size()) return false;

  if (ReadShortWholeNumber(text, out)) return true;

  char stack[kNumberBuffer];
  std::string heap;
  char* buffer = stack;
  const std::size_t length = text.size() - signEnd + (text[0] == L'-' ? 1 : 0);
  if (length + 1 > kNumberBuffer) {
    heap.resize(length + 1);
    buffer = heap.data();
  }
  std::size_t n = 0;
  if (text[0] == L'-') buffer[n++] = '-';
  for (std::size_t i = signEnd; i < text.size(); ++i) buffer[n++] = static_cast<char>(text[i]);
  buffer[n] = '\0';
  const auto result = std::from_chars(buffer, buffer + n, out);
  if (result.ec == std::errc::result_out_of_range) {
    // from_chars reports underflow and overflow alike; strtod tells them apart.
    out = std::strtod(buffer, nullptr);
  } else if (result.ec != std::errc() || result.ptr != buffer + n) {
    return false;
  }
  return true;
}

int SignificantDigits(std::wstring_view number) {
  std::size_t end = number.find_first_of(L"eE");
  if (end == std::wstring_view::npos) end = number.size();
  const std::wstring_view mantissa = number.substr(0, end);
  const bool hasPoint = mantissa.find(L'.') != std::wstring_view::npos;
  std::size_t first = 0, last = mantissa.size();
  while (first < last && !(IsDigit(mantissa[first]) && mantissa[first] != L'0')) ++first;
  if (hasPoint) {
    while (last > first && (mantissa[last - 1] == L'0' || mantissa[last - 1] == L'.')) {
      if (mantissa[last - 1] == L'.') {
        --last;
        break;
      }
      --last;
    }
  }
  int digits = 0;
  for (std::size_t i = first; i < last; ++i) digits += IsDigit(mantissa[i]) ? 1 : 0;
  return digits;
}

std::size_t Utf16Length(std::wstring_view text) {
  std::size_t length = text.size();
  for (wchar_t c : text) length += static_cast<std::size_t>(c) > 0xFFFF ? 1 : 0;
  return length;
}

bool ParseDateTime(std::wstring_view text, DateTime& out) {
  text = TrimBlanks(text);
  std::size_t pos = 0;
  int a = 0, b = 0, c = 0;
  DateTime value;
  if (!ReadField(text, pos, 4, a)) return false;
  if (Take(text, pos, L'-')) {
    if (!ReadField(text, pos, 2, b) || !Take(text, pos, L'-') || !ReadField(text, pos, 2, c)) return false;
    value.year = a, value.month = b, value.day = c;
  } else if (Take(text, pos, L'.')) {
    if (!ReadField(text, pos, 2, b) || !Take(text, pos, L'.') || !ReadField(text, pos, 4, c)) return false;
    value.day = a, value.month = b, value.year = c;
  } else if (Take(text, pos, L'/')) {
    if (!ReadField(text, pos, 2, b) || !Take(text, pos, L'/') || !ReadField(text, pos, 4, c)) return false;
    value.month = a, value.day = b, value.year = c;
  } else {
    return false;
  }
  if (pos < text.size()) {
    if (!IsBlank(text[pos])) return false;
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (!ReadField(text, pos, 2, value.hour) || !Take(text, pos, L':') || !ReadField(text, pos, 2, value.minute)) {
      return false;
    }
    if (Take(text, pos, L':') && !ReadField(text, pos, 2, value.second)) return false;
    if (pos != text.size()) return false;
  }
  if (value.year < kMinYear || value.year > kMaxYear || value.month < 1 || value.month > 12 || value.day < 1 ||
      value.day > DaysInMonth(value.year, value.month) || value.hour > 23 || value.minute > 59 || value.second > 59) {
    return false;
  }
  out = value;
  return true;
}

bool ParseTimeOfDay(std::wstring_view text, DateTime& out) {
  text = TrimBlanks(text);
  std::size_t pos = 0;
  DateTime value;
  if (!ReadField(text, pos, 2, value.hour) || !Take(text, pos, L':') || !ReadField(text, pos, 2, value.minute)) {
    return false;
  }
  if (Take(text, pos, L':') && !ReadField(text, pos, 2, value.second)) return false;
  if (pos != text.size() || value.hour > 23 || value.minute > 59 || value.second > 59) return false;
  out = value;
  return true;
}

double TimeFraction(const DateTime& value) {
  return (value.hour * 3600 + value.minute * 60 + value.second) / kSecondsPerDay;
}

double DateSerial(const DateTime& value) {
  const long days = DaysFromCivil(value.year, value.month, value.day) - kSerialEpoch;
  const int seconds = value.hour * 3600 + value.minute * 60 + value.second;
  return static_cast<double>(days) + seconds / kSecondsPerDay;
}

DateTime FromDateSerial(double serial) {
  // Round to the second first, so that 23:59:59.9999 does not fall back a day.
  const double totalSeconds = std::round(serial * kSecondsPerDay);
  long days = static_cast<long>(std::floor(totalSeconds / kSecondsPerDay));
  long seconds = static_cast<long>(totalSeconds - static_cast<double>(days) * kSecondsPerDay);
  // H. Hinnant's civil_from_days.
  long z = days + kSerialEpoch + 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  DateTime out;
  out.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  out.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  out.year = static_cast<int>(yoe + era * 400 + (out.month <= 2 ? 1 : 0));
  out.hour = static_cast<int>(seconds / 3600);
  out.minute = static_cast<int>(seconds / 60 % 60);
  out.second = static_cast<int>(seconds % 60);
  return out;
}

namespace {

// Below this magnitude a whole number has at most 15 digits, which a double holds exactly.
constexpr std::int64_t kShortWholeLimit = 1'000'000'000'000'000;
// No typed number's text is longer (-1.2345678901234567e-308, -9223372036854775808, -Infinity).
constexpr std::size_t kLongestNumberText = 32;

// The literal the SQL text holds for a typed one, as the engine writes it.
void RenderAsText(const Literal& typed, Literal& out) {
  out.text.clear();
  odbc::AppendLiteralText(out.text, typed);
  out.bytes.clear();
  if (typed.kind == Literal::Kind::DateTime) {
    out.kind = Literal::Kind::Text;
    out.wellFormed = out.holdsNumber = false;
    return;
  }
  out.kind = Literal::Kind::Number;
  out.wellFormed = true;
  out.number = typed.kind == Literal::Kind::Double ? typed.number : static_cast<double>(typed.integer);
  out.holdsNumber = std::isfinite(out.number);
}

Literal& RenderedStore(const CheckRules& rules) {
  thread_local Literal own;
  return rules.rendered != nullptr ? *rules.rendered : own;
}

void CheckInto(const Literal& literal, const ColumnDef& column, const CheckRules& rules, Value& value);

// A typed number as fromNumber text: how a sheet holds it, and its text where it is wanted.
void NumberAsText(const Literal& literal, const CheckRules& rules, Value& value) {
  value.kind = Value::Kind::Text;
  value.fromNumber = true;
  value.sheetFormKnown = true;
  if (literal.kind == Literal::Kind::Double) {
    // The shortest round-trip form reads back as the double itself; every NaN's text as the one
    // quiet NaN.
    value.number = std::isnan(literal.number) ? std::numeric_limits<double>::quiet_NaN() : literal.number;
    value.sheetForm = std::isfinite(literal.number) ? SheetNumber::Number : SheetNumber::Error;
  } else {
    value.number = static_cast<double>(literal.integer);
    // More than 15 digits stay text, as their digits.
    value.sheetForm = literal.integer > -kShortWholeLimit && literal.integer < kShortWholeLimit ? SheetNumber::Number
                                                                                                : SheetNumber::Text;
  }
  if (!rules.numberTextOnDemand || value.sheetForm == SheetNumber::Text) {
    Literal& store = RenderedStore(rules);
    RenderAsText(literal, store);
    value.text = store.text;
  }
}

// The typed literal's value where it is plainly the one its text gives; otherwise (a refusal,
// a rarer pairing of value and column) the text is written and checked as the text.
void CheckTyped(const Literal& literal, const ColumnDef& column, const CheckRules& rules, Value& value) {
  const bool whole = literal.kind == Literal::Kind::Integer || literal.kind == Literal::Kind::Boolean;
  const bool isNumber = literal.kind != Literal::Kind::DateTime;
  const double number = literal.kind == Literal::Kind::Double ? literal.number : static_cast<double>(literal.integer);
  switch (column.type) {
    case ColumnType::Integer:
    case ColumnType::SmallInt: {
      if (whole && rules.anyWholeNumber) {
        NumberAsText(literal, rules, value);
        return;
      }
      if (!isNumber || rules.anyWholeNumber || !std::isfinite(number)) break;
      const bool small = column.type == ColumnType::SmallInt;
      const double rounded = std::round(number);
      if (rounded < (small ? kSmallIntMin : kIntegerMin) || rounded > (small ? kSmallIntMax : kIntegerMax)) break;
      value.kind = Value::Kind::Number;
      value.number = rounded;
      return;
    }
    case ColumnType::Double:
      if (!isNumber) break;
      value.kind = Value::Kind::Number;
      // The text of every NaN reads back as the one quiet NaN.
      value.number = std::isnan(number) ? std::numeric_limits<double>::quiet_NaN() : number;
      return;
    case ColumnType::Bit:
      if (!isNumber || !std::isfinite(number)) break;
      value.kind = Value::Kind::Boolean;
      value.number = number != 0 ? 1 : 0;
      return;
    case ColumnType::Date:
    case ColumnType::Timestamp: {
      if (isNumber || literal.dateForm == Literal::DateForm::TimeOfDay || rules.datePattern == nullptr ||
          rules.datePattern->Text() != literal.datePattern) {
        break;
      }
      DateTime parsed;
      if (!rules.datePattern->ReadParts(literal.date, parsed)) break;
      value.kind = Value::Kind::Date;
      value.number = DateSerial(parsed);
      return;
    }
    case ColumnType::Text:
    case ColumnType::VarChar:
    case ColumnType::Memo:
      if (isNumber && rules.maxChars >= kLongestNumberText) {
        NumberAsText(literal, rules, value);
        return;
      }
      break;
    case ColumnType::Time:
    case ColumnType::LongBinary:
      break;
  }
  Literal& store = RenderedStore(rules);
  RenderAsText(literal, store);
  CheckInto(store, column, rules, value);
}

}  // namespace

Value CheckValue(const Literal& literal, const ColumnDef& column, std::size_t maxChars) {
  CheckRules rules;
  rules.maxChars = maxChars;
  return CheckValue(literal, column, rules);
}

void CheckRow(std::wstring_view table, std::span<const ColumnDef> columns, std::span<const Literal> values,
              CheckRules rules, std::size_t (*limit)(const ColumnDef&), std::vector<Value>& out) {
  if (values.size() != columns.size()) throw odbc::errors::ValueCountMismatch(table, columns.size(), values.size());
  out.resize(values.size());
  thread_local std::vector<Literal> rendered;  // each column's text of a typed literal
  if (rendered.size() < values.size()) rendered.resize(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    rules.maxChars = limit(columns[i]);
    rules.rendered = &rendered[i];
    CheckInto(values[i], columns[i], rules, out[i]);
  }
}

Value CheckValue(const Literal& literal, const ColumnDef& column, const CheckRules& rules) {
  Value value;
  CheckInto(literal, column, rules, value);
  return value;
}

namespace {

// CheckValue's value into `value`, which each check starts afresh.
// CheckInto for a literal that carries its text (Number, Text, Binary), into a fresh `value`.
void CheckWritten(const Literal& literal, const ColumnDef& column, const CheckRules& rules, Value& value) {
  const std::size_t maxChars = rules.maxChars;
  if (rules.anyWholeNumber && (column.type == ColumnType::Integer || column.type == ColumnType::SmallInt) &&
      literal.kind == Literal::Kind::Number && IsWholeNumberLiteral(literal.text)) {
    value.kind = Value::Kind::Text;
    value.text = literal.text;
    value.fromNumber = true;
    return;
  }
  switch (column.type) {
    case ColumnType::Double:
      value.kind = Value::Kind::Number;
      value.number = NumberOrRefuse(literal, column, true);
      break;
    case ColumnType::Integer:
      value.kind = Value::Kind::Number;
      value.number = WholeInRange(literal, column, kIntegerMin, kIntegerMax, L"-2147483648 to 2147483647");
      break;
    case ColumnType::SmallInt:
      value.kind = Value::Kind::Number;
      value.number = WholeInRange(literal, column, kSmallIntMin, kSmallIntMax, L"-32768 to 32767");
      break;
    case ColumnType::Bit: {
      value.kind = Value::Kind::Boolean;
      if (literal.kind == Literal::Kind::Text) {
        const std::wstring_view trimmed = TrimBlanks(literal.text);
        if (EqualsIgnoreCase(trimmed, L"TRUE")) {
          value.number = 1;
          break;
        }
        if (EqualsIgnoreCase(trimmed, L"FALSE")) break;
      }
      value.number = NumberOrRefuse(literal, column) != 0 ? 1 : 0;
      break;
    }
    case ColumnType::Time: {
      value.kind = Value::Kind::Date;
      if (literal.kind == Literal::Kind::Number) {
        if (!ParseNumber(literal.text, value.number) || !(value.number >= 0 && value.number < 1)) {
          throw odbc::errors::DateOverflow(column.name, TypeName(column.type), literal.text,
                                           L"is not a time of day (a fraction of a day from 0 to below 1)");
        }
        break;
      }
      DateTime parsed;
      // The export writes a time of day by its date pattern's time part.
      if (!ParseTimeOfDay(literal.text, parsed) &&
          !(rules.datePattern != nullptr && rules.datePattern->ReadTimeOfDay(literal.text, parsed)) &&
          !(rules.datePattern != nullptr ? rules.datePattern->Read(literal.text, parsed)
                                         : ParseDateTime(literal.text, parsed))) {
        throw odbc::errors::BadDate(column.name, TypeName(column.type), literal.text,
                                    L"is not a time of day (H:M or H:M:S) or a date and time");
      }
      value.number = TimeFraction(parsed);
      break;
    }
    case ColumnType::Date:
    case ColumnType::Timestamp: {
      // A date-time's infinities arrive as these words and stay words (a file that cannot hold
      // them as text in a date column refuses them there).
      if (literal.kind == Literal::Kind::Text &&
          (literal.text == kDateInfinity || literal.text == kDateNegativeInfinity)) {
        value.kind = Value::Kind::Text;
        value.text = literal.text;
        break;
      }
      value.kind = Value::Kind::Date;
      if (literal.kind == Literal::Kind::Number) {
        double serial = 0;
        static const double kLowest = DateSerial({kMinYear, 1, 1, 0, 0, 0});
        static const double kHighest = DateSerial({kMaxYear, 12, 31, 23, 59, 59});
        if (!ParseNumber(literal.text, serial) || !(serial >= kLowest && serial <= kHighest)) {
          throw odbc::errors::DateOverflow(column.name, TypeName(column.type), literal.text,
                                           L"is not a date serial from the year 100 to 9999");
        }
        value.number = serial;
        break;
      }
      DateTime parsed;
      if (rules.datePattern != nullptr) {
        if (!rules.datePattern->Read(literal.text, parsed)) {
          throw odbc::errors::BadDate(
              column.name, TypeName(column.type), literal.text,
              L"is not a date written by the date pattern '" + rules.datePattern->Text() + L"' (years 100 to 9999)");
        }
      } else if (!ParseDateTime(literal.text, parsed)) {
        throw odbc::errors::BadDate(
            column.name, TypeName(column.type), literal.text,
            L"is not a date (YYYY-MM-DD, D.M.YYYY or M/D/YYYY, years 100 to 9999, optionally followed by H:M or "
            L"H:M:S)");
      }
      value.number = DateSerial(parsed);
      break;
    }
    case ColumnType::Text:
    case ColumnType::VarChar:
    case ColumnType::Memo: {
      value.kind = Value::Kind::Text;
      value.text = literal.text;
      value.fromNumber = literal.kind == Literal::Kind::Number;
      // No character takes more than two UTF-16 units: short text needs no count.
      const std::size_t length = value.text.size() <= maxChars / 2 ? 0 : Utf16Length(value.text);
      if (length > maxChars) {
        throw odbc::errors::TextTooLong(column.name, TypeName(column.type), literal.text,
                                        L"has " + std::to_wstring(length) + L" characters, more than the " +
                                            std::to_wstring(maxChars) + L" that fit");
      }
      break;
    }
    case ColumnType::LongBinary: {
      if (literal.kind != Literal::Kind::Binary) {
        throw odbc::errors::TypeMismatch(column.name, TypeName(column.type), literal.text,
                                         L"is not a binary value (0x and two hexadecimal digits a byte)");
      }
      value.kind = Value::Kind::Binary;
      value.text = literal.text;
      value.bytes = literal.bytes;
      if (value.bytes.size() > maxChars) {
        throw odbc::errors::TextTooLong(column.name, TypeName(column.type), literal.text,
                                        L"has " + std::to_wstring(value.bytes.size()) + L" bytes, more than the " +
                                            std::to_wstring(maxChars) + L" that fit");
      }
      break;
    }
  }
}

// The typed literals and nulls are checked apart from the written ones, whose many refusals make
// their check cost more to enter.
void CheckInto(const Literal& literal, const ColumnDef& column, const CheckRules& rules, Value& value) {
  value = Value{};
  if (literal.kind == Literal::Kind::Null) return;
  if (literal.IsTyped()) {
    CheckTyped(literal, column, rules, value);
  } else {
    CheckWritten(literal, column, rules, value);
  }
}

}  // namespace

}  // namespace quillon::drivers::sql
