// Checks a literal of an INSERT against its column, as a database would, and gives the value in
// the column's own kind. Both output drivers call it once per value of every row, so it neither
// allocates nor copies: a Text value points into the literal.
//
// Rules:
// - NULL fits every column.
// - DOUBLE, INTEGER, SMALLINT: a number, or text that reads as one (surrounding blanks allowed),
//   the way a database converts a quoted number. DOUBLE takes NaN, Infinity and -Infinity as
//   those doubles, and refuses a literal too large for a double; INTEGER and SMALLINT round to
//   the nearest whole number (halves away from zero) and must then lie within 32 or 16 bits.
//   Other text: 22018; out of range: 22003. Where the rules allow any whole number (a sheet,
//   whose cells have no integer widths), INTEGER and SMALLINT take a whole number literal of any
//   size as its exact digits: a Text value with fromNumber set.
// - BIT: a number (or text reading as one), zero is false and anything else true; also the text
//   TRUE or FALSE in any letter case. Other text: 22018.
// - DATE: text by the connection's date pattern when it has one (DatePattern.h); otherwise in
//   YYYY-MM-DD, D.M.YYYY (day first) or M/D/YYYY (month first), one- or two-digit
//   day and month, year 100 to 9999, optionally followed by a blank and H:M or H:M:S (one or two
//   digits each); the date must exist. A number is taken as a date serial (days since
//   1899-12-30). Anything else: 22007; a serial out of the year range: 22008. TIMESTAMP reads as
//   DATE does. TIME takes H:M or H:M:S (or the time part of the date pattern, as the export
//   writes a time of day), or a date and time as DATE reads it, and keeps the time of day; a
//   number must be a fraction of a day from 0 to below 1. Both give a Date value.
// - TEXT, VARCHAR(n), MEMO: text, or a number kept as its text (fromNumber set). At most
//   `maxChars` UTF-16 code units (a character outside the Basic Multilingual Plane counts two),
//   else 22001. A binary value is text here: its 0x and hexadecimal digits.
// - LONGBINARY: a binary value, of at most `maxChars` bytes (else 22001); anything else: 22018.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "drivers/sql/Statement.h"

namespace quillon::drivers::sql {

// How a sheet cell holds a number literal (SheetNumberForm below).
enum class SheetNumber { Number, Text, Error };

struct Value {
  enum class Kind { Null, Number, Boolean, Date, Text, Binary };
  Kind kind = Kind::Null;
  // Number: the value; Boolean: 0 or 1; Date: days since 1899-12-30, the time as the fraction.
  double number = 0;
  // Text: the characters (pointing into the literal).
  std::wstring_view text;
  // Text that came from an unquoted number literal, as written.
  bool fromNumber = false;
  // Binary: the bytes (pointing into the literal).
  std::span<const std::uint8_t> bytes;
  // fromNumber text of a typed literal (a number the engine gave unwritten): how a sheet holds
  // it, as SheetNumberForm reads its text, and `number` the value then.
  bool sheetFormKnown = false;
  SheetNumber sheetForm = SheetNumber::Text;
};

class DatePattern;

// What, besides the column, decides whether a value fits.
struct CheckRules {
  std::size_t maxChars = 0;     // of a text column; bytes of a LONGBINARY one
  bool anyWholeNumber = false;  // INTEGER and SMALLINT take whole numbers of any size
  // DATE text is read by this pattern only (the one that wrote it), when there is one.
  const DatePattern* datePattern = nullptr;
  // The driver reads fromNumber text through SheetNumberForm(const Value&) alone: a typed
  // literal's number is then written as text only where a sheet keeps the text.
  bool numberTextOnDemand = false;
  // Where the text of a typed literal is written when its column takes it as text or refuses it
  // (CheckRow gives each column its own, kept until its next row); when null, storage of the
  // calling thread's, kept until the thread's next CheckValue.
  Literal* rendered = nullptr;
};

// Throws odbc::CDBException naming the column and the value when the literal does not fit. A
// typed literal (Integer, Double, Boolean, DateTime) gives exactly the value, or the refusal,
// of the text odbc::AppendLiteralText writes for it, mostly without writing that text: a date
// read by the pattern it is written by keeps the parts the pattern writes.
Value CheckValue(const Literal& literal, const ColumnDef& column, const CheckRules& rules);
Value CheckValue(const Literal& literal, const ColumnDef& column, std::size_t maxChars);
// Checks a row against its table's columns into `out`, one value a column: first the count
// (ValueCountMismatch naming `table`), then each literal by CheckValue with `rules`, its
// maxChars set by `limit` for each column. Every output driver checks its rows here. Text a
// typed literal needed stays until the calling thread's next CheckRow.
void CheckRow(std::wstring_view table, std::span<const ColumnDef> columns, std::span<const Literal> values,
              CheckRules rules, std::size_t (*limit)(const ColumnDef&), std::vector<Value>& out);

// How a sheet cell holds a number literal. A whole number of more than 15 significant digits
// stays text, since a double would change it; a literal with a decimal point or an exponent is
// a number when it is a double's shortest form (as doubles are written, however many digits),
// and stays text when a double cannot hold its digits (a long decimal); NaN and the infinities
// are the error #NUM!.
// Also sets `value` for a Number.
SheetNumber SheetNumberForm(std::wstring_view number, double& value);
// The same for the fromNumber text of a checked value, read from the typed literal it came from
// where it did.
SheetNumber SheetNumberForm(const Value& value, double& number);

// Reads NaN, Infinity or -Infinity (also +Infinity, any letter case); false for anything else.
bool ParseNonFinite(std::wstring_view text, double& out);
// Whether `value` (read from `number`) has the same significant digits as `number`, so that the
// double reads back as the literal's value.
bool IsShortestForm(std::wstring_view number, double value);
// Whether a number literal is a whole number written with digits only (and a sign).
bool IsWholeNumberLiteral(std::wstring_view number);

struct DateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Reads a date in one of the three forms above; false when the text is none of them or names a
// day that does not exist.
bool ParseDateTime(std::wstring_view text, DateTime& out);
// Reads a time of day, H:M or H:M:S (one or two digits each); false for anything else.
bool ParseTimeOfDay(std::wstring_view text, DateTime& out);
// The time of day of `value` as a fraction of a day; its date does not count.
double TimeFraction(const DateTime& value);
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
