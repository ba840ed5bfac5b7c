// Reading the text of an SQL statement one token at a time: blanks, comments, literals and
// quoted names, words, numbers and single punctuation characters. Every part that looks into a
// statement reads it here (the read-only check, the table name a recordset reports, the built-in
// drivers' parser); what they read differently is a SqlDialect, never a copy of the rules.
//
// The rules:
// - Blanks are ASCII blanks (text::IsAsciiBlank); a run of them is one token.
// - Comments (SqlDialect::comments): -- to the end of the line (the line break is not part of
//   it), and /* */, which nest (/* a /* b */ c */ is one comment) unless
//   SqlDialect::nestedComments is false (then the first */ ends it, as in SQLite and MySQL).
// - A literal or quoted name opens with one of SqlDialect::quotes ('...', "...", `...`, [...])
//   and closes with the same character (']' for '['); that character doubled stands for itself
//   ('it''s', [a]]b]). With SqlDialect::backslashEscapes, a backslash in '...' takes the next
//   character as it is. With SqlDialect::dollarQuotes, $$...$$ and $tag$...$tag$ are literals
//   too, and $name (no closing '$') is a parameter.
// - A word starts with an ASCII letter, '_' or any character beyond ASCII (sources read keywords
//   in ASCII only; any other character belongs to a name) and goes on with those, digits and '$'.
// - A number starts with a digit and goes on with word characters and '.' (1.5e3, 0x1F).
// - Any other character is a token of its own.
// A literal, quoted name or comment that the text ends inside runs to the end and is not closed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillon::text {

// How a source quotes; sources differ, so a reader that must not miss anything reads each way.
struct SqlDialect {
  std::wstring_view quotes = L"'\"`[";  // characters that open a literal or a quoted name
  bool comments = true;                 // -- and /* */ are comments
  bool backslashEscapes = false;        // in '...', a backslash takes the next character
  bool dollarQuotes = false;            // $$...$$ and $tag$...$tag$ literals, $name parameters
  bool nestedComments = true;           // /* inside /* */ opens a further level
};

struct SqlToken {
  enum class Kind { Blank, Comment, Word, Number, Quoted, Parameter, Punct };
  Kind kind;
  std::size_t end;     // just past the token; the end of the text when it is not closed
  bool closed = true;  // false for a quoted part or comment that the text ends inside
};

// The token that starts at `text[pos]` (pos < text.size()). For a closed Quoted token other than
// a dollar quote, the characters between the quotes are appended to `content` when it is given, a
// doubled closing character once (backslashes are kept as written).
SqlToken SqlTokenAt(std::wstring_view text, std::size_t pos, const SqlDialect& dialect,
                    std::wstring* content = nullptr);

// The characters that start and continue a word, as above.
bool IsSqlWordStart(wchar_t c);
bool IsSqlWordChar(wchar_t c);

// The character that closes a quote opened by `open`: ']' for '[', else `open` itself.
constexpr wchar_t ClosingQuote(wchar_t open) { return open == L'[' ? L']' : open; }

// The position just after the closing character of the quoted text whose opening character is
// at `text[open]`; npos when it is not closed. Doubled closing characters, backslashes and
// `content` as for SqlTokenAt.
std::size_t EndOfQuoted(std::wstring_view text, std::size_t open, wchar_t close, std::wstring* content = nullptr,
                        bool backslashEscapes = false);

}  // namespace quillon::text
