#include "engine/ReadOnlyStatement.h"

#include <array>
#include <vector>

#include "platform/text/Characters.h"
#include "platform/text/SqlLexer.h"

namespace quillon::engine {
namespace {

constexpr std::wstring_view kRefusedPrefix = L"The statement was not run: ";
constexpr std::wstring_view kReadOnlyNote = L"; the export only reads from the source.";

// Leading keywords of statements that read.
constexpr std::array<std::wstring_view, 9> kReadingKeywords = {L"SELECT",  L"WITH",     L"VALUES", L"TABLE", L"SHOW",
                                                               L"EXPLAIN", L"DESCRIBE", L"DESC",   L"PRAGMA"};
// Leading keywords of stored-procedure calls, whose results the export copies as they come.
constexpr std::array<std::wstring_view, 3> kProcedureKeywords = {L"EXEC", L"EXECUTE", L"CALL"};
// Words that change data or schema wherever they stand in a statement.
constexpr std::array<std::wstring_view, 14> kChangingWords = {L"INSERT",  L"UPDATE",   L"DELETE", L"MERGE", L"UPSERT",
                                                              L"REPLACE", L"TRUNCATE", L"CREATE", L"ALTER", L"DROP",
                                                              L"GRANT",   L"REVOKE",   L"ATTACH", L"DETACH"};
// Pragmas whose argument names what they describe or check, rather than a value to set.
constexpr std::array<std::wstring_view, 9> kDescribingPragmas = {
    L"TABLE_INFO",       L"TABLE_XINFO",       L"INDEX_LIST",      L"INDEX_INFO", L"INDEX_XINFO",
    L"FOREIGN_KEY_LIST", L"FOREIGN_KEY_CHECK", L"INTEGRITY_CHECK", L"QUICK_CHECK"};
// EXPLAIN's own words before the statement it explains.
constexpr std::array<std::wstring_view, 5> kExplainOptions = {L"ANALYZE", L"ANALYSE", L"VERBOSE", L"QUERY", L"PLAN"};

template <std::size_t N>
bool OneOf(std::wstring_view word, const std::array<std::wstring_view, N>& words) {
  for (std::wstring_view w : words) {
    if (w == word) return true;
  }
  return false;
}

struct Token {
  enum class Kind { Word, Punct, Quoted };
  Kind kind;
  std::wstring text;  // a word upper-cased; a punctuation character
  bool Is(wchar_t c) const { return kind == Kind::Punct && text.size() == 1 && text[0] == c; }
  bool IsWord(std::wstring_view w) const { return kind == Kind::Word && text == w; }
};

// Splits `text` into tokens as `dialect` reads it, passing over blanks and comments; literals,
// quoted names, numbers and parameters are all Quoted. Reading stops at a literal or comment that
// is not closed (the source refuses that text itself).
std::vector<Token> Tokenize(std::wstring_view text, const quillon::text::SqlDialect& dialect) {
  using Kind = quillon::text::SqlToken::Kind;
  std::vector<Token> tokens;
  for (std::size_t i = 0; i < text.size();) {
    const quillon::text::SqlToken token = quillon::text::SqlTokenAt(text, i, dialect);
    if (!token.closed) break;
    if (token.kind == Kind::Word) {
      // E'...' (a literal with backslash escapes) and the like: the prefix is a word of its own.
      std::wstring word;
      for (std::size_t j = i; j < token.end; ++j) word.push_back(quillon::text::AsciiUpper(text[j]));
      tokens.push_back({Token::Kind::Word, std::move(word)});
    } else if (token.kind == Kind::Punct) {
      tokens.push_back({Token::Kind::Punct, std::wstring(1, text[i])});
    } else if (token.kind != Kind::Blank && token.kind != Kind::Comment) {
      tokens.push_back({Token::Kind::Quoted, {}});
    }
    i = token.end;
  }
  return tokens;
}

std::wstring Refused(std::wstring_view why) {
  std::wstring message(kRefusedPrefix);
  message += why;
  message += kReadOnlyNote;
  return message;
}

// Why the statement of `tokens` [begin, end) changes the source; empty when it reads.
std::wstring CheckStatement(const std::vector<Token>& tokens, std::size_t begin, std::size_t end) {
  std::size_t first = begin;
  while (first < end && tokens[first].Is(L'(')) ++first;
  if (first == end) return {};
  const Token& lead = tokens[first];
  if (lead.kind != Token::Kind::Word) return Refused(L"it does not begin with a keyword that reads");
  if (OneOf(lead.text, kProcedureKeywords)) return {};
  if (!OneOf(lead.text, kReadingKeywords)) {
    return Refused(L"it begins with " + lead.text +
                   L", which is not a statement that reads (SELECT, WITH, VALUES, TABLE, SHOW, EXPLAIN, DESCRIBE, "
                   L"PRAGMA without a value, or EXEC, EXECUTE or CALL of a procedure)");
  }
  if (lead.text == L"EXPLAIN") {
    std::size_t inner = first + 1;
    for (;;) {
      if (inner < end && tokens[inner].kind == Token::Kind::Word && OneOf(tokens[inner].text, kExplainOptions)) {
        ++inner;
      } else if (inner < end && tokens[inner].Is(L'(')) {
        int depth = 0;
        do {
          if (tokens[inner].Is(L'(')) ++depth;
          if (tokens[inner].Is(L')')) --depth;
          ++inner;
        } while (depth > 0 && inner < end);
      } else {
        break;
      }
    }
    const std::wstring why = CheckStatement(tokens, inner, end);
    return why.empty() ? why : Refused(L"it explains a statement that is refused by itself, and EXPLAIN may run it");
  }
  if (lead.text == L"PRAGMA") {
    std::size_t name = first + 1;
    // schema.pragma
    if (name + 2 < end && tokens[name + 1].Is(L'.')) name += 2;
    for (std::size_t i = name; i < end; ++i) {
      if (tokens[i].Is(L'=')) return Refused(L"it sets a PRAGMA to a value");
      if (tokens[i].Is(L'(') && !(i == name + 1 && OneOf(tokens[name].text, kDescribingPragmas))) {
        return Refused(L"it gives a PRAGMA a value");
      }
    }
    return {};
  }
  for (std::size_t i = first; i < end; ++i) {
    const Token& token = tokens[i];
    if (token.kind != Token::Kind::Word) continue;
    if (token.text == L"INTO") return Refused(L"it holds INTO, which writes its rows into a table or a file");
    if (!OneOf(token.text, kChangingWords)) continue;
    if (i + 1 < end && tokens[i + 1].Is(L'(')) continue;  // a function such as replace(...)
    if (token.text == L"UPDATE" && i > first &&
        (tokens[i - 1].IsWord(L"FOR") || (tokens[i - 1].IsWord(L"KEY") && i >= first + 3 &&
                                          tokens[i - 2].IsWord(L"NO") && tokens[i - 3].IsWord(L"FOR")))) {
      continue;  // a row lock, which changes nothing
    }
    return Refused(L"it holds " + token.text + L", which changes data or schema");
  }
  return {};
}

std::wstring CheckTokens(const std::vector<Token>& tokens) {
  // The statements between ';'; all but one must be empty.
  std::size_t begin = 0;
  std::size_t statements = 0;
  std::size_t firstBegin = 0, firstEnd = 0;
  for (std::size_t i = 0; i <= tokens.size(); ++i) {
    if (i < tokens.size() && !tokens[i].Is(L';')) continue;
    if (i > begin) {
      if (++statements == 1) {
        firstBegin = begin;
        firstEnd = i;
      }
    }
    begin = i + 1;
  }
  if (statements > 1) return Refused(L"it holds more than one statement (separated by ';'), and the export runs one");
  if (statements == 0) return {};
  return CheckStatement(tokens, firstBegin, firstEnd);
}

}  // namespace

std::wstring WhyNotReadOnly(std::wstring_view statement) {
  // Sources differ in what they quote, so the statement is read every way.
  for (const bool backslashEscapes : {false, true}) {
    for (const bool dollarQuotes : {true, false}) {
      for (const std::wstring_view quotes : {L"'\"`[", L"'\"`"}) {  // [...] a name, or a subscript
        for (const bool nestedComments : {true, false}) {
          std::wstring why =
              CheckTokens(Tokenize(statement, {quotes, true, backslashEscapes, dollarQuotes, nestedComments}));
          if (!why.empty()) return why;
        }
      }
    }
  }
  return {};
}

}  // namespace quillon::engine
