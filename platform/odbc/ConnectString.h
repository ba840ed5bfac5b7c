// ODBC connect strings: an optional "ODBC;" prefix, then KEY=value pairs separated by ';'.
// Keys are matched in any letter case. A value may be in braces ({...}, "}}" for a literal '}')
// or in double quotes. The value of DBQ, the database file, always runs to the end of the
// string (braces around the whole of it aside), so a path may hold ';', '=', braces or quotes:
// whoever builds a connect string puts DBQ last.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillon::odbc {

class ConnectString {
 public:
  static ConnectString Parse(std::wstring_view text);

  // The value of `key` (first occurrence), unquoted; nothing when the key is absent.
  std::optional<std::wstring> Get(std::wstring_view key) const;
  const std::vector<std::pair<std::wstring, std::wstring>>& Pairs() const { return m_pairs; }
  // The text as given, prefix included.
  const std::wstring& Text() const { return m_text; }

 private:
  std::wstring m_text;
  std::vector<std::pair<std::wstring, std::wstring>> m_pairs;
};

// The connect string with the values of PWD and Password replaced by asterisks, for display.
std::wstring MaskPassword(std::wstring_view connect);

}  // namespace quillon::odbc
