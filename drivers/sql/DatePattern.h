// Reading date literals by the pattern that wrote them. The export writes each date by its date
// pattern (%d day, %m month, %y whole year, %H hour, %M minute, %S second, each in plain decimal,
// every other character as it is) and hands the same pattern to the output connection, so that
// a DATE column reads 5/3/2024 as 5 March when the pattern is %d/%m/%y, and as 3 May when it is
// %m/%d/%y, instead of guessing the order from the separators.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/sql/ValueCheck.h"

namespace quillon::drivers::sql {

class DatePattern {
 public:
  explicit DatePattern(std::wstring_view pattern);

  const std::wstring& Text() const { return m_text; }
  // Empty when every date the pattern writes reads back as that date; otherwise why not.
  const std::wstring& Problem() const { return m_problem; }
  // Reads `text` as the pattern writes a date; false when it is not such a text or names a day
  // or time that does not exist. Missing time tokens read as 0.
  bool Read(std::wstring_view text, DateTime& out) const;
  // Reads `text` as the pattern's time part writes a time of day (from its first time token to
  // the end of its last, as the export writes a TIME value); false when the pattern has no time
  // token, or for any other text. The date of `out` is left as 0.
  bool ReadTimeOfDay(std::wstring_view text, DateTime& out) const;
  // What Read gives for the text this pattern writes for `date`, without that text: the parts
  // the pattern writes, the others 0. False where Read would be false (nothing set then).
  bool ReadParts(const odbc::Literal::DateParts& date, DateTime& out) const;

 private:
  struct Part {
    wchar_t token = 0;  // 'd', 'm', 'y', 'H', 'M' or 'S'; 0 for literal text
    std::wstring text;
  };
  std::wstring m_text;
  std::vector<Part> m_parts;
  std::wstring m_problem;
  std::array<bool, 6> m_writes{};  // for each of d, m, y, H, M, S whether the pattern writes it

  // Matches `text` against parts [first, last), each number into `values` (day, month, year,
  // hour, minute, second); false when it does not match.
  bool Match(std::size_t first, std::size_t last, std::wstring_view text, std::array<int, 6>& values) const;
};

// Throws odbc::CDBException (HY000) when `table` has a DATE column and `pattern` cannot be read
// back, saying why; a table is refused before its first row rather than row by row.
void CheckDatePatternFor(const CreateTable& table, const DatePattern* pattern);

}  // namespace quillon::drivers::sql
