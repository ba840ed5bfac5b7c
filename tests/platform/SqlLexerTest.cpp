#include <string>

#include <gtest/gtest.h>

#include "platform/text/SqlLexer.h"

namespace quillon::text {
namespace {

constexpr std::size_t kNotClosed = std::wstring_view::npos;

// The tokens of `text` but blanks, each as a letter of its kind and the text it covers ("W:a
// P:. W:b"), "!" after one that is not closed.
std::wstring Lex(std::wstring_view text, const SqlDialect& dialect) {
  std::wstring out;
  for (std::size_t i = 0; i < text.size();) {
    const SqlToken token = SqlTokenAt(text, i, dialect);
    if (token.kind != SqlToken::Kind::Blank) {
      if (!out.empty()) out += L' ';
      out += L"CWNQXP"[static_cast<int>(token.kind) - 1];
      out += L':';
      out += text.substr(i, token.end - i);
      if (!token.closed) out += L'!';
    }
    EXPECT_GT(token.end, i);
    i = token.end;
  }
  return out;
}

TEST(SqlLexer, ReadsEachDialectsQuotesAndComments) {
  constexpr SqlDialect kDefault;
  constexpr SqlDialect kNoComments = {L"'", false};
  constexpr SqlDialect kPostgres = {L"'\"", true, true, true};
  const struct {
    const SqlDialect& dialect;
    std::wstring_view text;
    std::wstring_view tokens;
  } cases[] = {
      {kDefault, L"Sé_1$x 1.5e3 a.b;", L"W:Sé_1$x N:1.5e3 W:a P:. W:b P:;"},
      {kDefault, L"a--c\nb/* x /* y */ z */c", L"W:a C:--c W:b C:/* x /* y */ z */ W:c"},
      {kDefault, L"'it''s'\"a\"[b]]]`c`", L"Q:'it''s' Q:\"a\" Q:[b]]] Q:`c`"},
      {kDefault, L"'a\\' b'", L"Q:'a\\' W:b Q:'!"},
      {kDefault, L"x /* /* */", L"W:x C:/* /* */!"},
      {kDefault, L"$1 $a$ [b", L"P:$ N:1 P:$ W:a$ Q:[b!"},
      {kNoComments, L"--/*\"a\"", L"P:- P:- P:/ P:* P:\" W:a P:\""},
      {kPostgres, L"'a\\' b' [c]", L"Q:'a\\' b' P:[ W:c P:]"},
      {kPostgres, L"$$x$$ $t$ ' $t$ $n $1 $t$", L"Q:$$x$$ Q:$t$ ' $t$ X:$n P:$ N:1 Q:$t$!"},
  };
  for (const auto& c : cases) EXPECT_EQ(Lex(c.text, c.dialect), std::wstring(c.tokens)) << std::wstring(c.text);

  std::wstring content;
  EXPECT_EQ(SqlTokenAt(L"x [a]]b]", 2, kDefault, &content).end, 8u);
  EXPECT_EQ(content, L"a]b");
}

TEST(QuotedText, EndsAfterTheClosingCharacterWithDoubledOnesStandingForThemselves) {
  struct Case {
    std::wstring_view text;
    wchar_t close;
    bool backslashEscapes;
    std::size_t end;
    std::wstring_view content;
  };
  const Case cases[] = {
      {L"'it''s' rest", L'\'', false, 7, L"it's"},
      {L"[a]]b] x", L']', false, 6, L"a]b"},
      {L"''", L'\'', false, 2, L""},
      {L"''''", L'\'', false, 4, L"'"},
      {L"'a\\' b'", L'\'', false, 4, L"a\\"},
      {L"'a\\' b'", L'\'', true, 7, L"a\\' b"},
      {L"'a\\\\'x", L'\'', true, 5, L"a\\\\"},
      {L"\"no end", L'"', false, kNotClosed, L""},
      {L"'ends doubled''", L'\'', false, kNotClosed, L""},
      {L"'ends escaped\\'", L'\'', true, kNotClosed, L""},
      {L"'ends on a backslash\\", L'\'', true, kNotClosed, L""},
  };
  for (const Case& c : cases) {
    std::wstring content;
    EXPECT_EQ(EndOfQuoted(c.text, 0, c.close, &content, c.backslashEscapes), c.end) << std::wstring(c.text);
    if (c.end != kNotClosed) EXPECT_EQ(content, std::wstring(c.content)) << std::wstring(c.text);
    EXPECT_EQ(EndOfQuoted(c.text, 0, c.close, nullptr, c.backslashEscapes), c.end) << std::wstring(c.text);
  }
  // Quoted text further into a statement.
  EXPECT_EQ(EndOfQuoted(L"SELECT 'a''b', 1", 7, L'\''), 13u);
}

}  // namespace
}  // namespace quillon::text
