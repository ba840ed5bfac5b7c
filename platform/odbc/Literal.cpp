#include "platform/odbc/Literal.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/text/WideText.h"

namespace quillon::odbc {
namespace {

// How non-finite doubles are written; the output drivers read these words as numbers.
constexpr std::string_view kNotANumber = "NaN";
constexpr std::string_view kInfinity = "Infinity";
constexpr std::string_view kNegativeInfinity = "-Infinity";
// Digits of a whole number that every double holds exactly (below 2^53).
constexpr std::size_t kMaxExactWholeDigits = 15;
// The time of day of a TIME value when the date pattern has no time tokens.
constexpr std::wstring_view kDefaultTimePattern = L"%H:%M:%S";
constexpr std::wstring_view kDateTokens = L"dmyHMS";
// The most characters a date part takes in plain decimal: a sign and ten digits.
constexpr std::size_t kMaxDatePartChars = 11;
constexpr unsigned kDecimalBase = 10;

// The date part a token's letter stands for, or none.
int Literal::DateParts::*DatePart(wchar_t letter) {
  switch (letter) {
    case L'd':
      return &Literal::DateParts::day;
    case L'm':
      return &Literal::DateParts::month;
    case L'y':
      return &Literal::DateParts::year;
    case L'H':
      return &Literal::DateParts::hour;
    case L'M':
      return &Literal::DateParts::minute;
    case L'S':
      return &Literal::DateParts::second;
    default:
      return nullptr;
  }
}

// Puts a number below 100 as two digits.
template <typename Char>
Char* PutTwoDigits(Char* out, unsigned number) {
  *out++ = static_cast<Char>('0' + number / kDecimalBase);
  *out++ = static_cast<Char>('0' + number % kDecimalBase);
  return out;
}

// Puts a date part in plain decimal; those of up to four digits (all but rare years) need no
// conversion call.
template <typename Char>
Char* PutDatePart(Char* out, int number) {
  constexpr unsigned kHundred = kDecimalBase * kDecimalBase;
  const auto small = static_cast<unsigned>(number);
  if (small < kDecimalBase) {
    *out++ = static_cast<Char>('0' + small);
  } else if (small < kHundred) {
    out = PutTwoDigits(out, small);
  } else if (small < kHundred * kHundred) {
    const unsigned high = small / kHundred;
    if (high < kDecimalBase) {
      *out++ = static_cast<Char>('0' + high);
    } else {
      out = PutTwoDigits(out, high);
    }
    out = PutTwoDigits(out, small % kHundred);
  } else {
    std::array<char, kMaxDatePartChars> digits;
    const char* end = std::to_chars(digits.data(), digits.data() + digits.size(), number).ptr;
    for (const char* c = digits.data(); c != end; ++c) *out++ = static_cast<Char>(*c);
  }
  return out;
}

template <typename Number, typename... Format>
char* PutNumber(char* out, Number value, Format... format) {
  return std::to_chars(out, out + kMaxNumberTextChars, value, format...).ptr;
}

char* PutWord(char* out, std::string_view word) {
  for (const char c : word) *out++ = c;
  return out;
}

char* PutDouble(char* out, double value) {
  if (std::isnan(value)) return PutWord(out, kNotANumber);
  if (std::isinf(value)) return PutWord(out, value < 0 ? kNegativeInfinity : kInfinity);
  char* const end = PutNumber(out, value);
  // A double must read as a double: whole digits alone beyond 15 would be taken for an exact
  // integer (kept as text), so those are written with an exponent.
  const auto digits = static_cast<std::size_t>(end - out) - (*out == '-' ? 1 : 0);
  if (digits > kMaxExactWholeDigits && std::none_of(out, end, [](char c) { return c == '.' || c == 'e' || c == 'E'; }))
    return PutNumber(out, value, std::chars_format::scientific);
  return end;
}

// Appends ASCII text widened character by character: appending a narrow range would build a
// wide copy first.
void AppendAscii(std::wstring& out, const char* begin, const char* end) {
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(end - begin));
  std::copy(begin, end, out.begin() + static_cast<std::ptrdiff_t>(at));
}

// Appends `text` with each apostrophe doubled, whole runs between apostrophes at a time.
void AppendDoubledApostrophes(std::wstring& out, std::wstring_view text) {
  for (std::size_t quote = text.find(L'\''); quote != std::wstring_view::npos; quote = text.find(L'\'')) {
    out.append(text.substr(0, quote + 1));
    out += L'\'';
    text.remove_prefix(quote + 1);
  }
  out.append(text);
}

}  // namespace

char* PutNumberText(char* out, const Literal& literal) {
  switch (literal.kind) {
    case Literal::Kind::Integer:
      return PutNumber(out, literal.integer);
    case Literal::Kind::Boolean:
      *out++ = literal.integer != 0 ? '1' : '0';
      return out;
    case Literal::Kind::Double:
      return PutDouble(out, literal.number);
    default:
      return out;
  }
}

void AppendDouble(std::wstring& out, double value) {
  std::array<char, kMaxNumberTextChars> text;
  AppendAscii(out, text.data(), PutDouble(text.data(), value));
}

// In one pass: each token is '%' and a letter, and no number put in its place holds either, so
// the result is that of replacing each token in turn. Written in place into room for the most
// it can take (a token of two characters puts at most kMaxDatePartChars), then cut to what was put.
void AppendDateByPattern(std::wstring& out, const Literal::DateParts& date, std::wstring_view pattern) {
  const std::size_t at = out.size();
  out.resize(at + pattern.size() + pattern.size() / 2 * (kMaxDatePartChars - 2));
  wchar_t* const begin = out.data() + at;
  wchar_t* put = begin;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == L'%' && i + 1 < pattern.size()) {
      if (const auto part = DatePart(pattern[i + 1])) {
        put = PutDatePart(put, date.*part);
        ++i;
        continue;
      }
    }
    *put++ = pattern[i];
  }
  out.resize(at + static_cast<std::size_t>(put - begin));
}

DateWriter::DateWriter(std::wstring_view pattern) {
  m_steps.emplace_back();
  // The pattern read as AppendDateByPattern reads it.
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == L'%' && i + 1 < pattern.size()) {
      if (const auto part = DatePart(pattern[i + 1])) {
        m_steps.back().part = part;
        m_steps.emplace_back();
        ++i;
        continue;
      }
    }
    std::array<char, text::kMaxUtf8Bytes> bytes;
    const char* const end = text::PutUtf8(bytes.data(), static_cast<char32_t>(pattern[i]));
    for (const char* byte = bytes.data(); byte != end; ++byte) {
      if (m_steps.back().literalBytes == kStepBytes) m_steps.emplace_back();
      Step& step = m_steps.back();
      step.literal[step.literalBytes++] = *byte;
    }
  }
  for (const Step& step : m_steps) m_maxBytes += step.literalBytes + (step.part != nullptr ? kMaxDatePartChars : 0);
  m_maxBytes += kStepBytes;  // the word a step copies beyond its bytes
}

char* DateWriter::Write(char* out, const Literal::DateParts& date) const {
  for (const Step& step : m_steps) {
    std::memcpy(out, step.literal.data(), kStepBytes);
    out += step.literalBytes;
    if (step.part != nullptr) out = PutDatePart(out, date.*step.part);
  }
  return out;
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
    case Literal::Kind::Boolean:
    case Literal::Kind::Double: {
      std::array<char, kMaxNumberTextChars> text;
      AppendAscii(out, text.data(), PutNumberText(text.data(), literal));
      break;
    }
    case Literal::Kind::DateTime:
      AppendDateByPattern(out, literal.date,
                          literal.dateForm == Literal::DateForm::TimeOfDay ? TimeOfDayPattern(literal.datePattern)
                                                                           : literal.datePattern);
      break;
  }
}

void AppendSqlLiteral(std::wstring& out, const Literal& literal) {
  constexpr std::wstring_view kNull = L"NULL";
  switch (literal.kind) {
    case Literal::Kind::Null:
      out += kNull;
      return;
    case Literal::Kind::Text:
      out += L'\'';
      AppendDoubledApostrophes(out, literal.text);
      out += L'\'';
      return;
    case Literal::Kind::DateTime: {
      std::wstring written;
      AppendLiteralText(written, literal);
      out += L'\'';
      AppendDoubledApostrophes(out, written);
      out += L'\'';
      return;
    }
    default:
      AppendLiteralText(out, literal);
      return;
  }
}

}  // namespace quillon::odbc
