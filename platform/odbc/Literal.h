// One value of an INSERT as the built-in drivers take it: the literal the SQL text would hold,
// already read. The engine hands rows of these to a built-in driver without writing SQL text.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::odbc {

struct Literal {
  // Null, Number, Text and Binary carry their text. The others are values the engine read from
  // the source and hands over without writing them: Integer (`integer`), Double (`number`, NaN
  // and the infinities too) and Boolean (`integer`, 0 or 1) stand for the number literal
  // AppendLiteralText writes for them, DateTime (`date`) for the text literal of the date by
  // `datePattern`. A driver reads them as it would read that text.
  enum class Kind { Null, Number, Text, Binary, Integer, Double, Boolean, DateTime };
  Kind kind = Kind::Null;
  // A number as written (sign included); text as it is, without quotes; a binary value as
  // written: 0x and two hexadecimal digits a byte.
  std::wstring text;
  std::vector<std::uint8_t> bytes{};  // Binary: the bytes themselves
  // A Number the engine wrote itself from an integer or floating value: one number token as the
  // SQL text reads it, so a driver need not scan it again. False for number text a source gave.
  bool wellFormed = false;
  // With wellFormed: `number` is the finite double the text reads as, so a driver need not read it.
  bool holdsNumber = false;
  double number = 0;
  std::int64_t integer = 0;
  // DateTime: the parts as the source gave them; which of them the source gave says which part
  // of the pattern writes it (a time of day has no date: the pattern's time part alone).
  enum class DateForm { Date, TimeOfDay, DateAndTime };
  struct DateParts {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  };
  DateParts date{};
  DateForm dateForm = DateForm::DateAndTime;
  // DateTime: the date pattern its text is written by (%d day, %m month, %y whole year, %H hour,
  // %M minute, %S second, each in plain decimal; every other character as it is), already the
  // effective one. Points at text that outlives the literal's use.
  std::wstring_view datePattern;

  bool IsTyped() const { return kind >= Kind::Integer; }
};

// Appends the literal's text as the SQL text holds it, without quotes or doubled apostrophes:
// the text of Number, Text and Binary; for the typed kinds what the engine writes for them: a
// whole number in decimal, a double in its shortest round-trip form (with an exponent when it
// would be more than 15 whole digits alone) or NaN, Infinity, -Infinity, a boolean as 1 or 0, a
// date by its pattern (a time of day by the pattern's time part). Nothing for Null.
void AppendLiteralText(std::wstring& out, const Literal& literal);
// Appends the literal as SQL text holds it: NULL; a number or binary value as written; text and
// a date's text between apostrophes, each inner apostrophe doubled (a date pattern may hold some).
void AppendSqlLiteral(std::wstring& out, const Literal& literal);
// The part of `pattern` that writes a time of day: from its first time token to the end of its
// last one; %H:%M:%S when it has none.
std::wstring_view TimeOfDayPattern(std::wstring_view pattern);
// Appends the date parts by `pattern` as given.
void AppendDateByPattern(std::wstring& out, const Literal::DateParts& date, std::wstring_view pattern);
// Appends `value` as AppendLiteralText writes a Double.
void AppendDouble(std::wstring& out, double value);

// The most characters PutNumberText puts.
constexpr std::size_t kMaxNumberTextChars = 32;
// Puts the text AppendLiteralText writes for an Integer, Double or Boolean literal at `out`, which
// has room for kMaxNumberTextChars; returns the end of what it put. That text is never empty and
// holds only ASCII letters, digits, '+', '-' and '.'.
char* PutNumberText(char* out, const Literal& literal);

// A date pattern read once, to write many dates by it in UTF-8 as AppendDateByPattern writes
// them: reading the pattern again for each date costs more than the date's text.
class DateWriter {
 public:
  explicit DateWriter(std::wstring_view pattern);

  // The room Write needs: the most bytes it puts, and some it may write over beyond them.
  std::size_t MaxBytes() const { return m_maxBytes; }
  // Puts the date's text at `out`, which has room for MaxBytes(); returns the end of what it put.
  char* Write(char* out, const Literal::DateParts& date) const;

  // Bytes of the pattern a step puts at most.
  static constexpr std::size_t kStepBytes = 8;

 private:
  // Up to kStepBytes of the pattern's characters other than tokens (in UTF-8), then a date part
  // (or none). The bytes are copied as one word, whatever their number.
  struct Step {
    std::array<char, kStepBytes> literal{};
    std::size_t literalBytes = 0;
    int Literal::DateParts::*part = nullptr;
  };
  std::vector<Step> m_steps;
  std::size_t m_maxBytes = 0;
};

}  // namespace quillon::odbc
