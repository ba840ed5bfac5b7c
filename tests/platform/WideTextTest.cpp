#include <gtest/gtest.h>

#include "platform/text/WideText.h"

namespace quillon::text {
namespace {

const std::wstring kMixed = L"a'é ж 中 \U0001F600 \U00010348 end";

TEST(WideText, Utf8AndUtf16RoundTripEveryPlane) {
  EXPECT_EQ(Utf8ToWide(WideToUtf8(kMixed)), kMixed);
  EXPECT_EQ(Utf16ToWide(WideToUtf16(kMixed)), kMixed);
  // U+1F600 is four UTF-8 bytes and a surrogate pair in UTF-16.
  EXPECT_EQ(WideToUtf8(L"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf16(L"\U0001F600"), u"\xD83D\xDE00");
}

TEST(WideText, InvalidUtf8BecomesReplacementCharacters) {
  // A lone continuation byte, a cut-off sequence, an overlong '/', and an encoded surrogate.
  EXPECT_EQ(Utf8ToWide("a\x80z"), L"a\xFFFDz");
  EXPECT_EQ(Utf8ToWide("a\xE4\xB8"), L"a\xFFFD");
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\xFFFD");
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80x"), L"\xFFFDx");
  // The character after a broken sequence survives.
  EXPECT_EQ(Utf8ToWide("\xE4\xB8z\xC3\xA9"), L"\xFFFDz\xE9");
}

TEST(WideText, ValidUtf8LengthStopsAtTheFirstByteThatIsNoPartOfACharacter) {
  EXPECT_EQ(ValidUtf8Length(WideToUtf8(kMixed)), WideToUtf8(kMixed).size());
  EXPECT_EQ(ValidUtf8Length(""), 0u);
  EXPECT_EQ(ValidUtf8Length("caf\xE9.xls"), 3u);       // Latin-1
  EXPECT_EQ(ValidUtf8Length("ab\xE4\xB8"), 2u);        // cut off at the end
  EXPECT_EQ(ValidUtf8Length("a\xC0\xAF"), 1u);         // overlong
  EXPECT_EQ(ValidUtf8Length("a\xED\xA0\x80"), 1u);     // an encoded surrogate
  EXPECT_EQ(ValidUtf8Length("\xF4\x90\x80\x80"), 0u);  // above U+10FFFF
  EXPECT_EQ(ValidUtf8Length("\xC3\xA9\x80"), 2u);      // a lone continuation byte
}

// Every two-byte string after an ASCII letter: the valid prefix is the text that decodes
// without a replacement character, so the two never disagree about what is UTF-8.
TEST(WideText, ValidUtf8LengthAgreesWithTheDecoderOnEveryShortSequence) {
  for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
    for (unsigned next : {0x00u, 0x41u, 0x80u, 0x9Fu, 0xA0u, 0xBFu, 0xC0u, 0xFFu}) {
      const std::string bytes{'a', static_cast<char>(lead), static_cast<char>(next)};
      const std::size_t valid = ValidUtf8Length(bytes);
      const std::wstring decoded = Utf8ToWide(bytes.substr(0, valid));
      EXPECT_EQ(decoded.find(kReplacementCharacter), std::wstring::npos) << lead << ' ' << next;
      if (valid < bytes.size()) {
        EXPECT_EQ(Utf8ToWide(bytes.substr(valid)).front(), static_cast<wchar_t>(kReplacementCharacter))
            << lead << ' ' << next;
      }
    }
  }
}

TEST(WideText, DecodingIntoAStringReplacesWhatItHeld) {
  std::wstring out = L"a much longer text than the one decoded next";
  Utf8ToWide(WideToUtf8(kMixed), out);
  EXPECT_EQ(out, kMixed);
  Utf8ToWide("plain ascii", out);
  EXPECT_EQ(out, L"plain ascii");
  Utf8ToWide("x\xC3", out);
  EXPECT_EQ(out, L"x\xFFFD");
  Utf8ToWide("", out);
  EXPECT_EQ(out, L"");
  Utf16ToWide(WideToUtf16(kMixed), out);
  EXPECT_EQ(out, kMixed);
  Utf16ToWide(u"y", out);
  EXPECT_EQ(out, L"y");
}

TEST(WideText, UnpairedSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf16ToWide(u"x\xD800y"), L"x\xFFFDy");
  EXPECT_EQ(Utf16ToWide(u"\xDC00"), L"\xFFFD");
  EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

// Both conversions to UTF-16 give each character's units, on each side of every boundary where a
// character's UTF-16 form changes, at each place in a run of plain text (where blocks of
// characters are converted together); what is no character becomes U+FFFD.
TEST(WideText, Utf16OfEveryKindOfCharacterInBothForms) {
  const struct {
    long character;
    std::u16string units;
  } kCases[] = {{0x41, u"A"},          {0x7FFF, u"\x7FFF"}, {0x8000, u"\x8000"},        {0xD7FF, u"\xD7FF"},
                {0xD800, u"\xFFFD"},   {0xDBFF, u"\xFFFD"}, {0xDC00, u"\xFFFD"},        {0xDFFF, u"\xFFFD"},
                {0xE000, u"\xE000"},   {0xFFFF, u"\xFFFF"}, {0x10000, u"\xD800\xDC00"}, {0x10FFFF, u"\xDBFF\xDFFF"},
                {0x110000, u"\xFFFD"}, {-1, u"\xFFFD"}};
  for (const auto& [c, units] : kCases) {
    for (std::size_t at = 0; at < 9; ++at) {
      const std::wstring wide = std::wstring(at, L'a') + static_cast<wchar_t>(c) + L"bcdefgh";
      const std::u16string expected = std::u16string(at, u'a') + units + u"bcdefgh";
      char16_t buffer[32];
      EXPECT_EQ(std::u16string_view(buffer, WideToUtf16(wide, buffer)), expected) << c << ' ' << at;
      EXPECT_EQ(WideToUtf16(wide), expected) << c << ' ' << at;
    }
  }
}

TEST(WideText, AsciiCaseRulesLeaveOtherLettersAlone) {
  EXPECT_EQ(AsciiUpper(L"select é"), L"SELECT é");
  EXPECT_TRUE(EqualsIgnoreAsciiCase(L"DbQ", L"dbq"));
  EXPECT_FALSE(EqualsIgnoreAsciiCase(L"dbq", L"dbqx"));
}

}  // namespace
}  // namespace quillon::text
