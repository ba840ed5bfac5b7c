// The names a table or a field of an Access (Jet) database may take: the rule the Access driver
// holds every name it creates to, and the one the export fits result column names to before
// the driver sees them.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillon::odbc {

inline constexpr std::size_t kMaxAccessNameChars = 64;
// Characters Jet reads as part of a reference (a.b, Forms!x, `x`, [x]) rather than of a name.
inline constexpr std::u32string_view kAccessNameRefusedChars = U".!`[]";
inline constexpr char32_t kAccessNameFirstPrintable = 0x20;
// A name may hold a blank, but not begin with one.
inline constexpr char32_t kAccessNameBlank = U' ';

// A control character or one of kAccessNameRefusedChars: no Access name holds it.
constexpr bool IsRefusedInAccessName(char32_t c) {
  return c < kAccessNameFirstPrintable || kAccessNameRefusedChars.find(c) != std::u32string_view::npos;
}

// 1 to kMaxAccessNameChars characters (code units of `Char`), none refused, the first no blank.
template <typename Char>
constexpr bool IsValidAccessName(std::basic_string_view<Char> name) {
  if (name.empty() || name.size() > kMaxAccessNameChars || name.front() == static_cast<Char>(kAccessNameBlank)) {
    return false;
  }
  for (const Char c : name) {
    if (IsRefusedInAccessName(static_cast<char32_t>(c))) return false;
  }
  return true;
}

}  // namespace quillon::odbc
