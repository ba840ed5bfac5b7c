#include <string>

#include <gtest/gtest.h>

#include "platform/text/QuotedText.h"

namespace quillon::text {
namespace {

constexpr std::size_t kNotClosed = std::wstring_view::npos;

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
