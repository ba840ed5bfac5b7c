// Reading past a quoted name or literal in the text of a statement: the one rule both the
// built-in drivers' parser and the engine's read-only check follow.
#pragma once

#include <string>
#include <string_view>

namespace quillon::text {

// The position just after the closing character of the quoted text whose opening character is
// at `text[open]`; npos when it is not closed. The closing character doubled stands for itself
// ('it''s', [a]]b]); with `backslashEscapes`, a backslash takes the next character as it is.
// When `content` is given, the characters between the quotes are appended to it, a doubled
// closing character once (backslashes are kept as written).
inline std::size_t EndOfQuoted(std::wstring_view text, std::size_t open, wchar_t close, std::wstring* content = nullptr,
                               bool backslashEscapes = false) {
  const wchar_t stops[] = {close, L'\\'};
  const std::wstring_view stopSet(stops, backslashEscapes ? 2 : 1);
  std::size_t pos = open + 1;
  for (;;) {
    // Runs between stops are copied in one go.
    const std::size_t stop = text.find_first_of(stopSet, pos);
    if (stop == std::wstring_view::npos) return stop;
    if (content != nullptr) content->append(text.substr(pos, stop - pos));
    const bool escaped = text[stop] != close;
    const bool doubled = !escaped && stop + 1 < text.size() && text[stop + 1] == close;
    if (!escaped && !doubled) return stop + 1;
    if (stop + 1 >= text.size()) return std::wstring_view::npos;
    if (content != nullptr) {
      if (escaped) content->push_back(text[stop]);
      content->push_back(text[stop + 1]);
    }
    pos = stop + 2;
  }
}

}  // namespace quillon::text
