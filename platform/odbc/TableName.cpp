#include "platform/odbc/TableName.h"

#include <string>
#include <vector>

#include "platform/text/Characters.h"
#include "platform/text/SqlLexer.h"
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

// Literals ('...'), quoted names ("...", [...], `...`) and comments (--, /* */ nested).
constexpr text::SqlDialect kStatementText = {};

std::vector<Token> Tokenize(std::wstring_view s) {
  using Kind = text::SqlToken::Kind;
  std::vector<Token> tokens;
  int depth = 0;
  bool inWord = false;  // the previous token continues into this one
  for (std::size_t i = 0; i < s.size();) {
    const text::SqlToken token = text::SqlTokenAt(s, i, kStatementText);
    const wchar_t c = s[i];
    const bool literal = token.kind == Kind::Quoted && c == L'\'';
    const bool separate = token.kind == Kind::Blank || token.kind == Kind::Comment || literal;
    if (literal) {
      tokens.push_back({Token::Kind::Literal, std::wstring(s.substr(i, token.end - i)), depth});
    } else if (c == L'(') {
      tokens.push_back({Token::Kind::Open, L"(", depth++});
    } else if (c == L')') {
      depth = depth > 0 ? depth - 1 : 0;
      tokens.push_back({Token::Kind::Close, L")", depth});
    } else if (c == L',') {
      tokens.push_back({Token::Kind::Comma, L",", depth});
    } else if (!separate) {
      // A word runs to a blank, comment, literal, comma or parenthesis; quoted parts inside it
      // belong to it ("Sales Data".Items, Orders;).
      if (inWord) {
        tokens.back().text.append(s.substr(i, token.end - i));
      } else {
        tokens.push_back({Token::Kind::Word, std::wstring(s.substr(i, token.end - i)), depth});
      }
    }
    inWord = !separate && c != L'(' && c != L')' && c != L',';
    i = token.end;
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
  constexpr text::SqlDialect kNameQuotes = {L"\"`[", false};
  std::wstring unquoted;
  for (std::size_t i = 0; i < name.size();) {
    std::wstring content;
    const text::SqlToken token = text::SqlTokenAt(name, i, kNameQuotes, &content);
    if (token.kind != text::SqlToken::Kind::Quoted) {
      unquoted.append(name.substr(i, token.end - i));
      i = token.end;
    } else if (!token.closed) {
      unquoted.push_back(name[i++]);  // stays as it is written; what follows may still be quoted
    } else {
      unquoted += content;
      i = token.end;
    }
  }
  return unquoted;
}

}  // namespace quillon::odbc
