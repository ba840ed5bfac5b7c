// Checks a literal of an INSERT against its column, as a database would, and gives the value in
// the column's own kind. Both output drivers call it once per value of every row, so it neither
// allocates nor copies: a Text value points into the literal.
//
// Rules:
// - NULL fits every column.
// - DOUBLE, INTEGER, SMALLINT: a number, or text that reads as one (surrounding blanks allowed),
//   the way a database converts a quoted number. DOUBLE must be finite; INTEGER and SMALLINT
//   round to the nearest whole number (halves away from zero) and must then lie within 32 or 16
//   bits. Other text: 22018; out of range: 22003.
// - BIT: a number (or text reading as one), zero is false and anything else true; also the text
//   TRUE or FALSE in any letter case. Other text: 22018.
// - DATE: text in YYYY-MM-DD, D.M.YYYY (day first) or M/D/YYYY (month first), one- or two-digit
//   day and month, year 100 to 9999, optionally followed by a blank and H:M or H:M:S (one or two
//   digits each); the date must exist. A number is taken as a date serial (days since
//   1899-12-30). Anything else: 22007; a serial out of the year range: 22008.
// - TEXT, VARCHAR(n), MEMO: text, or a number kept as its text (fromNumber set). At most
//   `maxChars` UTF-16 code units (a character outside the Basic Multilingual Plane counts two),
//   else 22001.
#pragma once

#include <cstddef>
#include <string_view>

#include "drivers/sql/Statement.h"

namespace quillon::drivers::sql {

struct Value {
  enum class Kind { Null, Number, Boolean, Date, Text };
  Kind kind = Kind::Null;
  // Number: the value; Boolean: 0 or 1; Date: days since 1899-12-30, the time as the fraction.
  double number = 0;
  // Text: the characters (pointing into the literal).
  std::wstring_view text;
  // Text that came from an unquoted number literal, as written.
  bool fromNumber = false;
};

// Throws odbc::CDBException naming the column and the value when the literal does not fit.
Value CheckValue(const Literal& literal, const ColumnDef& column, std::size_t maxChars);

struct DateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Reads a date in one of the three forms above; false when the text is none of them or names a
// day that does not exist.
bool ParseDateTime(std::wstring_view text, DateTime& out);
// Days since 1899-12-30, the time of day as the fraction.
double DateSerial(const DateTime& value);
// The calendar date and time of a serial (the inverse of DateSerial, to the second).
DateTime FromDateSerial(double serial);

// Reads a number in literal form ([+-]digits[.digits][e[+-]digits]); false when it is not one.
// `out` may be infinite when the magnitude is too large for a double.
bool ParseNumber(std::wstring_view text, double& out);
// Significant digits of a number literal: its digits without leading zeros (and, after a
// decimal point, without trailing zeros); the exponent does not count.
int SignificantDigits(std::wstring_view number);
// Length in UTF-16 code units.
std::size_t Utf16Length(std::wstring_view text);

}  // namespace quillon::drivers::sql
