#include "platform/odbc/TableName.h"

#include <string>
#include <vector>

#include "platform/text/Characters.h"
#include "platform/text/QuotedText.h"
#include "platform/text/WideText.h"

namespace quillon::odbc {
namespace {

// Words that end the FROM clause of a SELECT.
constexpr std::wstring_view kClauseEnds[] = {L"WHERE",  L"GROUP", L"ORDER",  L"HAVING", L"UNION", L"INTERSECT",
                                             L"EXCEPT", L"LIMIT", L"OFFSET", L"FETCH",  L"FOR",   L"WINDOW"};

struct Token {
  enum class Kind { Word, Literal, Open, Close, Comma } kind;
  std::wstring text;
  int depth;  // parentheses around the token
};

constexpr auto& IsBlank = text::IsAsciiBlank;

// Advances past a quoted part that starts at `i` (quote character `open`); a doubled closing
// quote stands for itself. Returns the position after the closing quote, or the end.
std::size_t SkipQuoted(std::wstring_view s, std::size_t i, wchar_t close) {
  for (++i; i < s.size(); ++i) {
    if (s[i] == close) {
      if (i + 1 < s.size() && s[i + 1] == close) {
        ++i;
        continue;
      }
      return i + 1;
    }
  }
  return s.size();
}

wchar_t ClosingQuote(wchar_t c) {
  switch (c) {
    case L'[':
      return L']';
    case L'"':
      return L'"';
    case L'`':
      return L'`';
    default:
      return 0;
  }
}

std::vector<Token> Tokenize(std::wstring_view s) {
  std::vector<Token> tokens;
  int depth = 0;
  std::size_t i = 0;
  while (i < s.size()) {
    const wchar_t c = s[i];
    if (IsBlank(c)) {
      ++i;
    } else if (c == L'-' && i + 1 < s.size() && s[i + 1] == L'-') {
      const std::size_t eol = s.find(L'\n', i);
      i = eol == std::wstring_view::npos ? s.size() : eol + 1;
    } else if (c == L'/' && i + 1 < s.size() && s[i + 1] == L'*') {
      const std::size_t end = s.find(L"*/", i + 2);
      i = end == std::wstring_view::npos ? s.size() : end + 2;
    } else if (c == L'\'') {
      const std::size_t end = SkipQuoted(s, i, L'\'');
      tokens.push_back({Token::Kind::Literal, std::wstring(s.substr(i, end - i)), depth});
      i = end;
    } else if (c == L'(') {
      tokens.push_back({Token::Kind::Open, L"(", depth++});
      ++i;
    } else if (c == L')') {
      depth = depth > 0 ? depth - 1 : 0;
      tokens.push_back({Token::Kind::Close, L")", depth});
      ++i;
    } else if (c == L',') {
      tokens.push_back({Token::Kind::Comma, L",", depth});
      ++i;
    } else {
      // A word runs to a blank, comma or parenthesis; quoted parts inside it belong to it.
      const std::size_t start = i;
      while (i < s.size() && !IsBlank(s[i]) && s[i] != L',' && s[i] != L'(' && s[i] != L')' && s[i] != L'\'') {
        const wchar_t close = ClosingQuote(s[i]);
        i = close ? SkipQuoted(s, i, close) : i + 1;
      }
      tokens.push_back({Token::Kind::Word, std::wstring(s.substr(start, i - start)), depth});
    }
  }
  return tokens;
}

bool IsWord(const Token& t, std::wstring_view word) {
  return t.kind == Token::Kind::Word && text::EqualsIgnoreAsciiCase(t.text, word);
}

bool EndsClause(const Token& t) {
  for (auto word : kClauseEnds) {
    if (IsWord(t, word)) return true;
  }
  return false;
}

}  // namespace

std::wstring FindSourceTable(std::wstring_view statement) {
  const std::vector<Token> tokens = Tokenize(statement);
  std::wstring table;
  bool seenFrom = false;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].depth != 0 || !IsWord(tokens[i], L"FROM")) continue;
    if (seenFrom) return {};  // a second top-level FROM: more than one table
    seenFrom = true;
    if (i + 1 >= tokens.size() || tokens[i + 1].kind != Token::Kind::Word) return {};
    table = tokens[i + 1].text;
    for (std::size_t j = i + 2; j < tokens.size(); ++j) {
      const Token& t = tokens[j];
      if (t.depth != 0) continue;
      if (EndsClause(t)) break;
      if (t.kind == Token::Kind::Comma || IsWord(t, L"JOIN") || IsWord(t, L"APPLY")) return {};
    }
  }
  return table;
}

std::wstring UnquoteTableName(std::wstring_view name) {
  std::wstring unquoted;
  for (std::size_t i = 0; i < name.size();) {
    const wchar_t close = ClosingQuote(name[i]);
    std::wstring content;
    const std::size_t end = close ? text::EndOfQuoted(name, i, close, &content) : std::wstring_view::npos;
    if (end == std::wstring_view::npos) {
      unquoted.push_back(name[i++]);
      continue;
    }
    unquoted += content;
    i = end;
  }
  return unquoted;
}

}  // namespace quillon::odbc
