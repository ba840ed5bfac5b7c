// Character classes and letter case for names and the text of statements, the same whatever
// the process locale is (no <cctype>/<cwctype>): the files written must not depend on how the
// program was started.
#pragma once

#include <string>
#include <string_view>

namespace quillon::text {

// Space, tab, line feed, carriage return, form feed and vertical tab: white space between the
// words of a statement or a name.
constexpr bool IsAsciiBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f' || c == L'\v';
}
// Space or tab: the blanks a value or a connect-string field may carry around it.
constexpr bool IsSpaceOrTab(wchar_t c) { return c == L' ' || c == L'\t'; }
constexpr bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
constexpr bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
// An ASCII letter in the other case; any other character as it is. Keywords and driver names
// are matched this way, never by the locale's rules (a Turkish locale lowers 'I' to a dotless i).
template <typename Char>
constexpr Char AsciiUpper(Char c) {
  return c >= Char('a') && c <= Char('z') ? static_cast<Char>(c - Char('a') + Char('A')) : c;
}
template <typename Char>
constexpr Char AsciiLower(Char c) {
  return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

// `text` without the characters `isBlank` accepts at either end.
template <typename IsBlank>
constexpr std::wstring_view TrimWith(std::wstring_view text, IsBlank isBlank) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}
constexpr std::wstring_view TrimAsciiBlanks(std::wstring_view text) { return TrimWith(text, IsAsciiBlank); }
constexpr std::wstring_view TrimSpaceAndTab(std::wstring_view text) { return TrimWith(text, IsSpaceOrTab); }

// The capital of a letter of the alphabets table, sheet and column names are compared in
// without regard to case: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic. Any other
// character is its own fold.
constexpr char32_t FoldNameCase(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 0x20;
  if (c < 0xE0) return c;
  if (c <= 0xFE) return c == 0xF7 ? c : c - 0x20;  // à..þ but ÷
  if (c == 0xFF) return 0x178;                     // ÿ, whose capital is in Latin Extended-A
  if (c >= 0x100 && c <= 0x17F) {
    // Pairs, capital first, in three runs; ı (0x131), ĸ (0x138), ŉ (0x149) and ſ (0x17F) are
    // left as they are.
    if ((c <= 0x137 && c != 0x131) || (c >= 0x14A && c <= 0x177)) return c & ~char32_t{1};
    if (c >= 0x139 && c <= 0x148) return (c & 1) != 0 ? c : c - 1;
    if (c >= 0x179 && c <= 0x17E) return (c & 1) != 0 ? c : c - 1;
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 0x20;  // α..ω but final ς
  if (c == 0x3C2) return 0x3A3;                                 // ς, as σ
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;                // а..я
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;                // ѐ..џ
  return c;
}

// Whether two names are the same name with letter case aside (FoldNameCase, unit by unit).
template <typename Char>
constexpr bool SameNameIgnoringCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldNameCase(static_cast<char32_t>(a[i])) != FoldNameCase(static_cast<char32_t>(b[i]))) return false;
  }
  return true;
}

// `name` with every character folded: names that are SameNameIgnoringCase have equal keys.
inline std::wstring NameCaseKey(std::wstring_view name) {
  std::wstring key(name);
  for (wchar_t& c : key) c = static_cast<wchar_t>(FoldNameCase(static_cast<char32_t>(c)));
  return key;
}

}  // namespace quillon::text
