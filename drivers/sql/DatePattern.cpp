#include "drivers/sql/DatePattern.h"

#include <algorithm>
#include <array>

#include "platform/errors/Errors.h"
#include "platform/text/Characters.h"

namespace quillon::drivers::sql {
namespace {

constexpr std::wstring_view kTokens = L"dmyHMS";
// More digits than any field of a date can have: a longer run is not one of its numbers.
constexpr int kMaxFieldDigits = 9;
constexpr int kMinYear = 100, kMaxYear = 9999;

std::wstring_view TokenName(wchar_t token) {
  switch (token) {
    case L'd':
      return L"the day (%d)";
    case L'm':
      return L"the month (%m)";
    case L'y':
      return L"the year (%y)";
    case L'H':
      return L"the hour (%H)";
    case L'M':
      return L"the minute (%M)";
    default:
      return L"the second (%S)";
  }
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }
int DaysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

}  // namespace

DatePattern::DatePattern(std::wstring_view pattern) : m_text(pattern) {
  // Split as the writer reads the pattern: '%' and a token letter, or literal text.
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == L'%' && i + 1 < pattern.size() && kTokens.find(pattern[i + 1]) != std::wstring_view::npos) {
      m_parts.push_back({pattern[i + 1], {}});
      m_writes[kTokens.find(pattern[i + 1])] = true;
      ++i;
      continue;
    }
    if (m_parts.empty() || m_parts.back().token != 0) m_parts.push_back({});
    m_parts.back().text.push_back(pattern[i]);
  }
  for (const wchar_t needed : {L'y', L'm', L'd'}) {
    bool found = false;
    for (const Part& part : m_parts) found = found || part.token == needed;
    if (!found) {
      m_problem =
          L"it has no place for " + std::wstring(TokenName(needed)) + L", so a date written by it cannot be read back";
      return;
    }
  }
  for (std::size_t i = 0; i + 1 < m_parts.size(); ++i) {
    const Part& part = m_parts[i];
    const Part& next = m_parts[i + 1];
    if (part.token == 0) continue;
    // Numbers are written without padding: where one ends shows only by a character that is no digit.
    if (next.token != 0) {
      m_problem = L"it writes " + std::wstring(TokenName(part.token)) + L" and " + std::wstring(TokenName(next.token)) +
                  L" with nothing between them, so where one number ends cannot be told";
      return;
    }
    if (text::IsAsciiDigit(next.text.front())) {
      m_problem =
          L"a digit follows " + std::wstring(TokenName(part.token)) + L", so where that number ends cannot be told";
      return;
    }
  }
}

bool DatePattern::Match(std::size_t first, std::size_t last, std::wstring_view text, std::array<int, 6>& values) const {
  // A field written twice must read the same both times.
  std::array<bool, 6> seen{};
  std::size_t pos = 0;
  for (std::size_t i = first; i < last; ++i) {
    const Part& part = m_parts[i];
    if (part.token == 0) {
      if (text.substr(pos, part.text.size()) != part.text) return false;
      pos += part.text.size();
      continue;
    }
    int value = 0, digits = 0;
    while (pos < text.size() && text::IsAsciiDigit(text[pos])) {
      if (++digits > kMaxFieldDigits) return false;
      value = value * 10 + (text[pos++] - L'0');
    }
    if (digits == 0) return false;
    const std::size_t slot = kTokens.find(part.token);
    if (seen[slot] && values[slot] != value) return false;
    seen[slot] = true;
    values[slot] = value;
  }
  return pos == text.size();
}

bool DatePattern::Read(std::wstring_view text, DateTime& out) const {
  std::array<int, 6> values{};
  if (!m_problem.empty() || !Match(0, m_parts.size(), text, values)) return false;
  DateTime value{values[2], values[1], values[0], values[3], values[4], values[5]};
  if (value.year < kMinYear || value.year > kMaxYear || value.month < 1 || value.month > 12 || value.day < 1 ||
      value.day > DaysInMonth(value.year, value.month) || value.hour > 23 || value.minute > 59 || value.second > 59) {
    return false;
  }
  out = value;
  return true;
}

bool DatePattern::ReadParts(const odbc::Literal::DateParts& date, DateTime& out) const {
  if (!m_problem.empty()) return false;
  // Read takes only digits: a negative part is written with a sign it does not read.
  if (date.year < 0 || date.month < 0 || date.day < 0 || date.hour < 0 || date.minute < 0 || date.second < 0) {
    return false;
  }
  // The day, month and year are always written (else m_problem says so).
  const DateTime value{date.year,
                       date.month,
                       date.day,
                       m_writes[3] ? date.hour : 0,
                       m_writes[4] ? date.minute : 0,
                       m_writes[5] ? date.second : 0};
  if (value.year < kMinYear || value.year > kMaxYear || value.month < 1 || value.month > 12 || value.day < 1 ||
      value.day > DaysInMonth(value.year, value.month) || value.hour > 23 || value.minute > 59 || value.second > 59) {
    return false;
  }
  out = value;
  return true;
}

bool DatePattern::ReadTimeOfDay(std::wstring_view text, DateTime& out) const {
  if (!m_problem.empty()) return false;
  std::size_t first = m_parts.size(), last = 0;
  for (std::size_t i = 0; i < m_parts.size(); ++i) {
    const wchar_t token = m_parts[i].token;
    if (token != L'H' && token != L'M' && token != L'S') continue;
    first = std::min(first, i);
    last = i + 1;
  }
  std::array<int, 6> values{};
  if (first >= last || !Match(first, last, text, values)) return false;
  if (values[3] > 23 || values[4] > 59 || values[5] > 59) return false;
  out = DateTime{0, 0, 0, values[3], values[4], values[5]};
  return true;
}

void CheckDatePatternFor(const CreateTable& table, const DatePattern* pattern) {
  if (pattern == nullptr || pattern->Problem().empty()) return;
  for (const ColumnDef& column : table.columns) {
    if (!IsDateTimeType(column.type)) continue;
    throw odbc::errors::DatePatternUnusable(pattern->Text(), column.name, pattern->Problem());
  }
}

}  // namespace quillon::drivers::sql
