#include <clocale>
#include <string>

#include <gtest/gtest.h>

#include "platform/text/Characters.h"

namespace quillon::text {
namespace {

TEST(Characters, NamesFoldTheSameWhateverTheProcessLocale) {
  const std::wstring lower = L"abzàéþÿāıĳĺňŋźžαςσωабяёџ";
  const std::wstring upper = L"ABZÀÉÞŸĀıĲĹŇŊŹŽΑΣΣΩАБЯЁЏ";
  for (const char* locale : {"C", "C.UTF-8"}) {
    std::setlocale(LC_ALL, locale);
    EXPECT_TRUE(SameNameIgnoringCase<wchar_t>(lower, upper)) << locale;
    EXPECT_EQ(NameCaseKey(lower), NameCaseKey(upper)) << locale;
    EXPECT_EQ(NameCaseKey(upper), upper) << locale;  // capitals are their own fold
  }
  std::setlocale(LC_ALL, "C");
  // Letters that are not one another's capitals stay apart: ß, ÷/×, İ/i, ſ/s, ĸ/K, ς/Σ vs ς/σ
  // (both fold to Σ), and characters outside the folded alphabets.
  for (auto [a, b] : {std::pair{L"÷", L"×"},
                      {L"İ", L"i"},
                      {L"ſ", L"s"},
                      {L"ĸ", L"K"},
                      {L"ß", L"SS"},
                      {L"\u0561", L"\u0531"},
                      {L"ab", L"abc"}}) {
    EXPECT_FALSE(SameNameIgnoringCase<wchar_t>(a, b)) << static_cast<unsigned>(a[0]);
  }
  EXPECT_TRUE(SameNameIgnoringCase<char16_t>(u"Łódź", u"ŁÓDŹ"));
}

TEST(Characters, BlanksDigitsAndTrimmingAreAsciiOnly) {
  EXPECT_EQ(TrimAsciiBlanks(L" \t\r\n\f\vx y\v "), L"x y");
  EXPECT_EQ(TrimSpaceAndTab(L" \tx\n\t "), L"x\n");
  EXPECT_EQ(TrimAsciiBlanks(L"\u00A0x\u3000"), L"\u00A0x\u3000");  // no-break and ideographic space
  EXPECT_EQ(TrimAsciiBlanks(L" \t "), L"");
  EXPECT_TRUE(IsAsciiDigit(L'0') && IsAsciiDigit(L'9'));
  EXPECT_FALSE(IsAsciiDigit(L'\u0660') || IsAsciiDigit(L'\uFF11'));  // Arabic-Indic and full-width digits
  EXPECT_FALSE(IsAsciiLetter(L'é') || IsAsciiLetter(L'_'));
}

}  // namespace
}  // namespace quillon::text
