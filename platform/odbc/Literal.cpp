#include "platform/odbc/Literal.h"

#include <array>
#include <charconv>
#include <cmath>

namespace quillon::odbc {
namespace {

// How non-finite doubles are written; the output drivers read these words as numbers.
constexpr std::wstring_view kNotANumber = L"NaN";
constexpr std::wstring_view kInfinity = L"Infinity";
constexpr std::wstring_view kNegativeInfinity = L"-Infinity";
// Digits of a whole number that every double holds exactly (below 2^53).
constexpr std::size_t kMaxExactWholeDigits = 15;
// The time of day of a TIME value when the date pattern has no time tokens.
constexpr std::wstring_view kDefaultTimePattern = L"%H:%M:%S";
constexpr std::wstring_view kDateTokens = L"dmyHMS";

template <typename Number, typename... Format>
void AppendNumber(std::wstring& out, Number value, Format... format) {
  std::array<char, 64> buffer;
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, format...);
  // Widened character by character: appending a narrow range would build a wide copy first.
  const auto length = static_cast<std::size_t>(result.ptr - buffer.data());
  const std::size_t at = out.size();
  out.resize(at + length);
  for (std::size_t i = 0; i < length; ++i) out[at + i] = static_cast<wchar_t>(buffer[i]);
}

// Characters gathered in a small buffer and appended to a string a buffer at a time: a string
// append per date part or separator costs more than the characters themselves. What is still
// in the buffer reaches the string at Flush.
class BufferedAppend {
 public:
  explicit BufferedAppend(std::wstring& out) : m_out(out) {}

  void Put(wchar_t c) {
    if (m_used == m_buffer.size()) Flush();
    m_buffer[m_used++] = c;
  }
  // A date part in plain decimal, without a conversion call (they are small numbers).
  void PutNumber(int number) {
    std::array<wchar_t, kMaxIntChars> digits;
    std::size_t at = digits.size();
    auto magnitude = static_cast<unsigned>(number < 0 ? -static_cast<long>(number) : number);
    do {
      digits[--at] = static_cast<wchar_t>(L'0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (number < 0) digits[--at] = L'-';
    for (; at < digits.size(); ++at) Put(digits[at]);
  }
  void Flush() {
    m_out.append(m_buffer.data(), m_used);
    m_used = 0;
  }

 private:
  static constexpr std::size_t kMaxIntChars = 12;  // a sign and ten digits, with room
  static constexpr std::size_t kBufferChars = 64;
  std::wstring& m_out;
  std::array<wchar_t, kBufferChars> m_buffer;
  std::size_t m_used = 0;
};

}  // namespace

void AppendDouble(std::wstring& out, double value) {
  if (std::isnan(value)) {
    out += kNotANumber;
  } else if (std::isinf(value)) {
    out += value < 0 ? kNegativeInfinity : kInfinity;
  } else {
    const std::size_t at = out.size();
    AppendNumber(out, value);
    // A double must read as a double: whole digits alone beyond 15 would be taken for an exact
    // integer (kept as text), so those are written with an exponent.
    const std::size_t digits = out.size() - at - (out[at] == L'-' ? 1 : 0);
    if (out.find_first_of(L".eE", at) == std::wstring::npos && digits > kMaxExactWholeDigits) {
      out.resize(at);
      AppendNumber(out, value, std::chars_format::scientific);
    }
  }
}

// In one pass: each token is '%' and a letter, and no number put in its place holds either, so
// the result is that of replacing each token in turn.
void AppendDateByPattern(std::wstring& out, const Literal::DateParts& date, std::wstring_view pattern) {
  BufferedAppend text(out);
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == L'%' && i + 1 < pattern.size()) {
      int number = 0;
      bool token = true;
      switch (pattern[i + 1]) {
        case L'd':
          number = date.day;
          break;
        case L'm':
          number = date.month;
          break;
        case L'y':
          number = date.year;
          break;
        case L'H':
          number = date.hour;
          break;
        case L'M':
          number = date.minute;
          break;
        case L'S':
          number = date.second;
          break;
        default:
          token = false;
          break;
      }
      if (token) {
        text.PutNumber(number);
        ++i;
        continue;
      }
    }
    text.Put(pattern[i]);
  }
  text.Flush();
}

std::wstring_view TimeOfDayPattern(std::wstring_view pattern) {
  std::size_t first = std::wstring_view::npos, end = 0;
  for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
    if (pattern[i] != L'%') continue;
    const wchar_t token = pattern[i + 1];
    if (token == L'H' || token == L'M' || token == L'S') {
      if (first == std::wstring_view::npos) first = i;
      end = i + 2;
    }
    if (kDateTokens.find(token) != std::wstring_view::npos) ++i;  // as AppendDateByPattern reads it
  }
  return first == std::wstring_view::npos ? kDefaultTimePattern : pattern.substr(first, end - first);
}

void AppendLiteralText(std::wstring& out, const Literal& literal) {
  switch (literal.kind) {
    case Literal::Kind::Null:
      break;
    case Literal::Kind::Number:
    case Literal::Kind::Text:
    case Literal::Kind::Binary:
      out += literal.text;
      break;
    case Literal::Kind::Integer:
      AppendNumber(out, literal.integer);
      break;
    case Literal::Kind::Boolean:
      out += literal.integer != 0 ? L'1' : L'0';
      break;
    case Literal::Kind::Double:
      AppendDouble(out, literal.number);
      break;
    case Literal::Kind::DateTime:
      AppendDateByPattern(out, literal.date,
                          literal.dateForm == Literal::DateForm::TimeOfDay ? TimeOfDayPattern(literal.datePattern)
                                                                           : literal.datePattern);
      break;
  }
}

}  // namespace quillon::odbc
