#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "drivers/sql/DatePattern.h"
#include "drivers/sql/ValueCheck.h"
#include "platform/errors/Errors.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::sql {
namespace {

Literal Number(std::wstring text) { return {Literal::Kind::Number, std::move(text)}; }
Literal Text(std::wstring text) { return {Literal::Kind::Text, std::move(text)}; }
ColumnDef Column(ColumnType type, int length = 0) { return {L"C", type, length}; }

// The SQLSTATE the check raises; empty when the value is accepted.
std::wstring Refusal(const Literal& literal, const ColumnDef& column, std::size_t maxChars = 255) {
  try {
    CheckValue(literal, column, maxChars);
  } catch (const odbc::CDBException& e) {
    EXPECT_NE(e.m_strMessage.find(L"column 'C'"), std::wstring::npos) << e.m_strMessage;
    return e.m_strSqlState;
  }
  return {};
}

TEST(ValueCheckTest, NumbersInNumberColumns) {
  EXPECT_EQ(CheckValue(Number(L"-2.5e3"), Column(ColumnType::Double), 0).number, -2500.0);
  EXPECT_EQ(CheckValue(Number(L"1e-400"), Column(ColumnType::Double), 0).number, 0.0);  // underflow reads as 0
  EXPECT_EQ(CheckValue(Number(L".5"), Column(ColumnType::Double), 0).number, 0.5);
  EXPECT_EQ(CheckValue(Number(L"+7."), Column(ColumnType::Double), 0).number, 7.0);
  EXPECT_EQ(CheckValue(Number(L"-.25e1"), Column(ColumnType::Double), 0).number, -2.5);
  EXPECT_EQ(Refusal(Number(L"1e400"), Column(ColumnType::Double)), L"22003");
  EXPECT_EQ(CheckValue(Number(L"32767"), Column(ColumnType::SmallInt), 0).number, 32767);
  EXPECT_EQ(CheckValue(Number(L"-32768"), Column(ColumnType::SmallInt), 0).number, -32768);
  EXPECT_EQ(Refusal(Number(L"32768"), Column(ColumnType::SmallInt)), L"22003");
  EXPECT_EQ(Refusal(Number(L"-32769"), Column(ColumnType::SmallInt)), L"22003");
  EXPECT_EQ(CheckValue(Number(L"2147483647"), Column(ColumnType::Integer), 0).number, 2147483647.0);
  EXPECT_EQ(Refusal(Number(L"2147483648"), Column(ColumnType::Integer)), L"22003");
  EXPECT_EQ(CheckValue(Number(L"-2147483648"), Column(ColumnType::Integer), 0).number, -2147483648.0);
  // Whole-number columns round, halves away from zero, before the range check.
  EXPECT_EQ(CheckValue(Number(L"2.5"), Column(ColumnType::Integer), 0).number, 3);
  EXPECT_EQ(CheckValue(Number(L"-2.5"), Column(ColumnType::SmallInt), 0).number, -3);
  EXPECT_EQ(Refusal(Number(L"32767.5"), Column(ColumnType::SmallInt)), L"22003");
  // Quoted numbers are converted; other text is a type mismatch.
  EXPECT_EQ(CheckValue(Text(L" 42 "), Column(ColumnType::Integer), 0).number, 42);
  EXPECT_EQ(CheckValue(Text(L"0.25"), Column(ColumnType::Double), 0).number, 0.25);
  for (const wchar_t* bad : {L"abc", L"", L"1,5", L"0x10", L"1 2", L"inf", L"nan", L"--1"}) {
    EXPECT_EQ(Refusal(Text(bad), Column(ColumnType::Double)), L"22018") << bad;
  }
  EXPECT_EQ(CheckValue(Literal{}, Column(ColumnType::SmallInt), 0).kind, Value::Kind::Null);
}

TEST(ValueCheckTest, BitTakesNumbersAndTrueFalse) {
  EXPECT_EQ(CheckValue(Number(L"0"), Column(ColumnType::Bit), 0).number, 0);
  EXPECT_EQ(CheckValue(Number(L"1"), Column(ColumnType::Bit), 0).number, 1);
  EXPECT_EQ(CheckValue(Number(L"-7.5"), Column(ColumnType::Bit), 0).number, 1);
  EXPECT_EQ(CheckValue(Text(L"True"), Column(ColumnType::Bit), 0).number, 1);
  EXPECT_EQ(CheckValue(Text(L"false"), Column(ColumnType::Bit), 0).number, 0);
  EXPECT_EQ(CheckValue(Text(L"0"), Column(ColumnType::Bit), 0).kind, Value::Kind::Boolean);
  EXPECT_EQ(Refusal(Text(L"yes please"), Column(ColumnType::Bit)), L"22018");
}

TEST(ValueCheckTest, TextLengthCountsUtf16Units) {
  const std::wstring bmp(255, L'x');
  EXPECT_EQ(CheckValue(Text(bmp), Column(ColumnType::Text, 255), 255).text, bmp);
  EXPECT_EQ(Refusal(Text(bmp + L"x"), Column(ColumnType::Text, 255), 255), L"22001");
  // Two characters outside the BMP are four UTF-16 units.
  EXPECT_EQ(Refusal(Text(L"\U0001F600\U0001F600"), Column(ColumnType::VarChar, 3), 3), L"22001");
  EXPECT_EQ(CheckValue(Text(L"\U0001F600x"), Column(ColumnType::VarChar, 3), 3).kind, Value::Kind::Text);
  // A number literal in a text column stays its text.
  const Literal number = Number(L"00123.40");
  const auto value = CheckValue(number, Column(ColumnType::Text, 255), 255);
  EXPECT_EQ(value.kind, Value::Kind::Text);
  EXPECT_TRUE(value.fromNumber);
  EXPECT_EQ(value.text, L"00123.40");
}

TEST(ValueCheckTest, DatesInTheThreeFormsAreValidatedAsRealDays) {
  const auto serial = [](const wchar_t* text) { return CheckValue(Text(text), Column(ColumnType::Date), 0).number; };
  EXPECT_EQ(serial(L"1899-12-30"), 0);
  EXPECT_EQ(serial(L"1900-03-01"), 61);
  EXPECT_EQ(serial(L"2024-03-05"), 45356);
  EXPECT_EQ(serial(L"5.3.2024"), 45356);
  EXPECT_EQ(serial(L"3/5/2024"), 45356);
  EXPECT_EQ(serial(L"05.03.2024 07:08:09"), serial(L"2024-3-5 7:8:9"));
  EXPECT_DOUBLE_EQ(serial(L"5.3.2024 7:8:9"), 45356 + (7 * 3600 + 8 * 60 + 9) / 86400.0);
  EXPECT_DOUBLE_EQ(serial(L"12/31/9999 23:59"), 2958465 + (23 * 60 + 59) / 1440.0);
  EXPECT_EQ(serial(L"29.2.2024"), serial(L"2024-02-29"));
  EXPECT_EQ(serial(L"1.1.100"), -657434);
  for (const wchar_t* bad :
       {L"29.2.2023", L"2023-02-29", L"31.4.2024", L"2024-13-01", L"13/13/2024", L"1900-02-29", L"5.3.2024 24:00",
        L"5.3.2024 7:60", L"5.3.2024 7:8:60", L"5.3.2024 7", L"5.3.99", L"2024-03-05T07:08", L"5.3.2024 7:8:9.5",
        L"yesterday", L"", L"123.3.2024", L"1.1.10000", L"5.3.2024x"}) {
    EXPECT_EQ(Refusal(Text(bad), Column(ColumnType::Date)), L"22007") << bad;
  }
  EXPECT_EQ(CheckValue(Number(L"45356.5"), Column(ColumnType::Date), 0).number, 45356.5);
  EXPECT_EQ(Refusal(Number(L"3000000"), Column(ColumnType::Date)), L"22008");

  for (const wchar_t* text :
       {L"1900-01-01", L"1900-02-28 23:59:59", L"2000-02-29 12:00", L"9999-12-31 23:59:59", L"0100-01-01"}) {
    DateTime parsed;
    ASSERT_TRUE(ParseDateTime(text, parsed)) << text;
    const DateTime back = FromDateSerial(DateSerial(parsed));
    EXPECT_EQ(std::tie(back.year, back.month, back.day, back.hour, back.minute, back.second),
              std::tie(parsed.year, parsed.month, parsed.day, parsed.hour, parsed.minute, parsed.second))
        << text;
  }
}

TEST(ValueCheckTest, TimestampReadsAsDateAndTimeKeepsOnlyTheTimeOfDay) {
  const auto check = [](const Literal& literal, ColumnType type) { return CheckValue(literal, Column(type), 0); };
  EXPECT_EQ(check(Text(L"5.3.2024 7:8:9"), ColumnType::Timestamp).number,
            check(Text(L"5.3.2024 7:8:9"), ColumnType::Date).number);
  const double seven = (7 * 3600 + 8 * 60 + 9) / 86400.0;
  for (const Literal& literal :
       {Text(L"7:8:9"), Text(L" 07:08:09 "), Text(L"2024-03-05 07:08:09"), Number(std::to_wstring(seven))}) {
    const Value value = check(literal, ColumnType::Time);
    EXPECT_EQ(value.kind, Value::Kind::Date) << literal.text;
    EXPECT_NEAR(value.number, seven, 1e-6) << literal.text;  // well within a second
  }
  EXPECT_EQ(check(Text(L"23:59"), ColumnType::Time).number, (23 * 60 + 59) / 1440.0);
  for (const Literal& bad :
       {Text(L"24:00"), Text(L"7:60"), Text(L"7"), Text(L"7:8:9.5"), Text(L"noon"), Number(L"1"), Number(L"-0.5")}) {
    EXPECT_FALSE(Refusal(bad, Column(ColumnType::Time)).empty()) << bad.text;
  }
  const DatePattern dayFirst(L"%d/%m/%y %H:%M:%S");
  CheckRules rules;
  rules.datePattern = &dayFirst;
  EXPECT_NEAR(CheckValue(Text(L"05/03/2024 07:08:09"), Column(ColumnType::Time), rules).number, seven, 1e-9);
  // The export writes a time of day by the pattern's time part: read back by that part.
  for (const auto& [pattern, text] :
       {std::pair{L"%d/%m/%y %H.%M.%S", L"7.8.9"}, std::pair{L"%y-%m-%d (%Hh%M:%S)", L"7h8:9"}}) {
    const DatePattern written(pattern);
    rules.datePattern = &written;
    EXPECT_NEAR(CheckValue(Text(text), Column(ColumnType::Time), rules).number, seven, 1e-9) << text;
    DateTime out;
    EXPECT_FALSE(written.ReadTimeOfDay(L"24" + std::wstring(text).substr(1), out)) << text;
  }
}

TEST(ValueCheckTest, WholeNumbersReadExactlyAtEveryLength) {
  // Up to 15 digits a whole number is summed digit by digit; longer ones go through the full
  // conversion. Both must agree with the correctly rounded value.
  const std::string cases[] = {"0",
                               "-0",
                               "+0",
                               "007",
                               "-42",
                               "+999999999999999",
                               "-123456789012345",
                               "1234567890123456",
                               "9007199254740993",
                               "-99999999999999999999"};
  for (const std::string& narrow : cases) {
    double out = 1;
    ASSERT_TRUE(ParseNumber(std::wstring(narrow.begin(), narrow.end()), out)) << narrow;
    const std::string plain = narrow[0] == '+' ? narrow.substr(1) : narrow;
    EXPECT_EQ(out, std::strtod(plain.c_str(), nullptr)) << narrow;
    EXPECT_EQ(std::signbit(out), narrow[0] == '-') << narrow;
  }
  double out = 0;
  EXPECT_FALSE(ParseNumber(L"12a", out));
  EXPECT_FALSE(ParseNumber(L"-", out));
  EXPECT_FALSE(ParseNumber(L"1 2", out));
}

TEST(ValueCheckTest, SignificantDigitsOfNumberLiterals) {
  EXPECT_EQ(SignificantDigits(L"123456789012345"), 15);
  EXPECT_EQ(SignificantDigits(L"-1234567890123456"), 16);
  EXPECT_EQ(SignificantDigits(L"0.000123"), 3);
  EXPECT_EQ(SignificantDigits(L"1.2300"), 3);
  EXPECT_EQ(SignificantDigits(L"1200"), 4);
  EXPECT_EQ(SignificantDigits(L"1.5e300"), 2);
  EXPECT_EQ(SignificantDigits(L"0"), 0);
  EXPECT_EQ(SignificantDigits(L"100.0"), 3);
}

TEST(ValueCheckTest, NaNAndTheInfinitiesAreDoublesAndNothingElse) {
  EXPECT_TRUE(std::isnan(CheckValue(Number(L"NaN"), Column(ColumnType::Double), 0).number));
  EXPECT_EQ(CheckValue(Number(L"Infinity"), Column(ColumnType::Double), 0).number, HUGE_VAL);
  EXPECT_EQ(CheckValue(Number(L"-Infinity"), Column(ColumnType::Double), 0).number, -HUGE_VAL);
  EXPECT_EQ(Refusal(Text(L"-Infinity"), Column(ColumnType::Double)), L"22018");  // text is no number literal
  // A literal too large for a double is no infinity.
  EXPECT_EQ(Refusal(Number(L"1e400"), Column(ColumnType::Double)), L"22003");
  EXPECT_EQ(Refusal(Number(L"NaN"), Column(ColumnType::Integer)), L"22003");
  EXPECT_EQ(Refusal(Number(L"Infinity"), Column(ColumnType::Bit)), L"22003");
  EXPECT_EQ(Refusal(Number(L"Infinity"), Column(ColumnType::Date)), L"22008");
  const Literal word = Number(L"-Infinity");
  const Value text = CheckValue(word, Column(ColumnType::VarChar, 255), 255);
  EXPECT_EQ(text.kind, Value::Kind::Text);
  EXPECT_EQ(text.text, L"-Infinity");
}

TEST(ValueCheckTest, ASheetKeepsWholeNumbersBeyondADoubleAsTheirDigits) {
  double value = 0;
  EXPECT_EQ(SheetNumberForm(L"123456789012345", value), SheetNumber::Number);
  EXPECT_EQ(value, 123456789012345.0);
  EXPECT_EQ(SheetNumberForm(L"9007199254740993", value), SheetNumber::Text);
  EXPECT_EQ(SheetNumberForm(L"-9223372036854775808", value), SheetNumber::Text);
  // A literal with a point or an exponent is a double already: a number however many digits.
  EXPECT_EQ(SheetNumberForm(L"0.30000000000000004", value), SheetNumber::Number);
  EXPECT_EQ(value, 0.1 + 0.2);
  EXPECT_EQ(SheetNumberForm(L"0.3333333333333333", value), SheetNumber::Number);
  EXPECT_EQ(SheetNumberForm(L"1.7976931348623157e+308", value), SheetNumber::Number);
  EXPECT_EQ(SheetNumberForm(L"0.10", value), SheetNumber::Number);
  EXPECT_EQ(SheetNumberForm(L"1.234567890123456e+15", value), SheetNumber::Number);
  EXPECT_EQ(value, 1234567890123456.0);
  // A long decimal (a NUMERIC's digits) that no double holds keeps its digits.
  EXPECT_EQ(SheetNumberForm(L"12345678901234567890.5", value), SheetNumber::Text);
  EXPECT_EQ(SheetNumberForm(L"0.12345678901234567890", value), SheetNumber::Text);
  EXPECT_EQ(SheetNumberForm(L"-0", value), SheetNumber::Number);
  EXPECT_TRUE(std::signbit(value));
  EXPECT_EQ(SheetNumberForm(L"NaN", value), SheetNumber::Error);
  EXPECT_EQ(SheetNumberForm(L"-Infinity", value), SheetNumber::Error);
  EXPECT_EQ(SheetNumberForm(L"1e999", value), SheetNumber::Text);
  EXPECT_EQ(SheetNumberForm(L"+7", value), SheetNumber::Number);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(SheetNumberForm(L"0000000000000000001234", value), SheetNumber::Number);
  EXPECT_EQ(value, 1234);
  for (const wchar_t* notANumber : {L"", L"-", L"+", L"1-", L"12a", L"1 "}) {
    EXPECT_EQ(SheetNumberForm(notANumber, value), SheetNumber::Text) << notANumber;
  }

  // INTEGER and SMALLINT of a sheet take any whole number, exactly.
  CheckRules sheet;
  sheet.anyWholeNumber = true;
  const Literal digits = Number(L"9007199254740993");
  const Value big = CheckValue(digits, Column(ColumnType::Integer), sheet);
  EXPECT_EQ(big.kind, Value::Kind::Text);
  EXPECT_TRUE(big.fromNumber);
  EXPECT_EQ(big.text, L"9007199254740993");
  const Literal small = Number(L"40000");
  EXPECT_EQ(CheckValue(small, Column(ColumnType::SmallInt), sheet).text, L"40000");
  // A database table keeps its widths.
  EXPECT_EQ(Refusal(Number(L"2147483648"), Column(ColumnType::Integer)), L"22003");
}

// A literal that already holds the number its text reads as is checked as that text would be.
TEST(ValueCheckTest, AHeldNumberMeetsTheColumnsRulesAsItsText) {
  const auto held = [](std::wstring text, double number) {
    Literal literal = Number(std::move(text));
    literal.wellFormed = literal.holdsNumber = true;
    literal.number = number;
    return literal;
  };
  EXPECT_EQ(Refusal(held(L"40000", 40000), Column(ColumnType::SmallInt)), L"22003");
  EXPECT_EQ(Refusal(held(L"-2147483649", -2147483649.0), Column(ColumnType::Integer)), L"22003");
  EXPECT_EQ(CheckValue(held(L"2.5", 2.5), Column(ColumnType::Integer), 255).number, 3);
  EXPECT_EQ(CheckValue(held(L"-0.25", -0.25), Column(ColumnType::Double), 255).number, -0.25);
  EXPECT_EQ(CheckValue(held(L"2", 2), Column(ColumnType::Bit), 255).number, 1);
  const Value text = CheckValue(held(L"12", 12), Column(ColumnType::VarChar, 10), 10);
  EXPECT_EQ(text.text, L"12");
  EXPECT_TRUE(text.fromNumber);
}

TEST(ValueCheckTest, DatesReadByThePatternThatWroteThem) {
  const ColumnDef date = Column(ColumnType::Date);
  auto read = [&](const wchar_t* pattern, const wchar_t* text) {
    const DatePattern reader(pattern);
    CheckRules rules;
    rules.datePattern = &reader;
    return FromDateSerial(CheckValue(Text(text), date, rules).number);
  };
  DateTime d = read(L"%d/%m/%y", L"5/3/2024");
  EXPECT_EQ(std::make_tuple(d.year, d.month, d.day), std::make_tuple(2024, 3, 5));
  d = read(L"%m/%d/%y", L"5/3/2024");
  EXPECT_EQ(std::make_tuple(d.year, d.month, d.day), std::make_tuple(2024, 5, 3));
  d = read(L"%d/%m/%y", L"25/12/2024");
  EXPECT_EQ(std::make_tuple(d.month, d.day), std::make_tuple(12, 25));
  d = read(L"%y-%m-%d %H:%M:%S", L"2024-12-31 23:59:59");
  EXPECT_EQ(std::make_tuple(d.year, d.month, d.day, d.hour, d.minute, d.second),
            std::make_tuple(2024, 12, 31, 23, 59, 59));
  d = read(L"%d.%m.%y %H:%M:%S", L"5.3.2024 7:8:9");
  EXPECT_EQ(std::make_tuple(d.day, d.month, d.hour, d.minute, d.second), std::make_tuple(5, 3, 7, 8, 9));
  d = read(L"Day %d of %m, %y (%H h)", L"Day 1 of 2, 2000 (13 h)");
  EXPECT_EQ(std::make_tuple(d.year, d.month, d.day, d.hour), std::make_tuple(2000, 2, 1, 13));

  const DatePattern dayFirst(L"%d/%m/%y");
  CheckRules rules;
  rules.datePattern = &dayFirst;
  for (const wchar_t* wrong : {L"2024-03-05", L"5/13/2024", L"31/2/2024", L"5/3/2024 7:8", L"5/3/99"}) {
    try {
      CheckValue(Text(wrong), date, rules);
      ADD_FAILURE() << "accepted " << wrong;
    } catch (const odbc::CDBException& e) {
      EXPECT_EQ(e.m_strSqlState, L"22007");
      EXPECT_NE(e.m_strMessage.find(L"'%d/%m/%y'"), std::wstring::npos) << e.m_strMessage;
    }
  }

  // Patterns that cannot be read back say why; a table refuses them only for a DATE column.
  EXPECT_EQ(DatePattern(L"%d.%m.%y %H:%M:%S").Problem(), L"");
  EXPECT_NE(DatePattern(L"%d.%m").Problem().find(L"the year (%y)"), std::wstring::npos);
  EXPECT_NE(DatePattern(L"%y-%d").Problem().find(L"the month (%m)"), std::wstring::npos);
  EXPECT_NE(DatePattern(L"%d%m%y").Problem().find(L"nothing between"), std::wstring::npos);
  EXPECT_NE(DatePattern(L"%d0%m/%y").Problem().find(L"a digit follows"), std::wstring::npos);
  const DatePattern noYear(L"%d.%m");
  CreateTable table{L"T", {{L"when", ColumnType::Date, 0}}};
  try {
    CheckDatePatternFor(table, &noYear);
    ADD_FAILURE() << "a pattern without a year was taken for a DATE column";
  } catch (const odbc::CDBException& e) {
    EXPECT_NE(e.m_strMessage.find(L"'%d.%m'"), std::wstring::npos) << e.m_strMessage;
    EXPECT_NE(e.m_strMessage.find(L"'when'"), std::wstring::npos) << e.m_strMessage;
  }
  table.columns[0].type = ColumnType::Text;
  EXPECT_NO_THROW(CheckDatePatternFor(table, &noYear));
}

// What a check gives: the value (its number bit for bit, its text, how a sheet holds it) or the
// refusal's message.
std::wstring Outcome(const Literal& literal, const ColumnDef& column, const CheckRules& rules) {
  try {
    const Value v = CheckValue(literal, column, rules);
    double sheetNumber = 0;
    const SheetNumber form = v.fromNumber ? SheetNumberForm(v, sheetNumber) : SheetNumber::Text;
    std::uint64_t bits = 0, sheetBits = 0;
    if (v.kind != Value::Kind::Text) std::memcpy(&bits, &v.number, sizeof bits);  // text has no number of its own
    if (form != SheetNumber::Text) std::memcpy(&sheetBits, &sheetNumber, sizeof sheetBits);
    // A typed number's text is left out where the driver reads it only through SheetNumberForm.
    const bool textAsked = !rules.numberTextOnDemand || !v.fromNumber || form == SheetNumber::Text;
    return std::to_wstring(static_cast<int>(v.kind)) + L" " + std::to_wstring(bits) + L" " +
           (textAsked ? std::wstring(v.text) : L"") + L" " + std::to_wstring(v.fromNumber) + L" " +
           std::to_wstring(static_cast<int>(form)) + L" " + std::to_wstring(sheetBits);
  } catch (const odbc::CDBException& e) {
    return e.m_strSqlState + L" " + e.m_strMessage;
  }
}

// A typed literal checks as the text the engine writes for it would: every kind against every
// column type, with and without any-size whole numbers and by patterns that write a date whole,
// without seconds or with another order (and none at all).
TEST(ValueCheckTest, TypedLiteralsGiveWhatTheirTextGives) {
  const auto integer = [](std::int64_t i, Literal::Kind kind = Literal::Kind::Integer) {
    Literal l;
    l.kind = kind;
    l.integer = i;
    return l;
  };
  const auto real = [](double d) {
    Literal l;
    l.kind = Literal::Kind::Double;
    l.number = d;
    return l;
  };
  std::vector<Literal> literals = {integer(0),
                                   integer(-5),
                                   integer(32768),
                                   integer(2147483648LL),
                                   integer(999999999999999LL),
                                   integer(-1000000000000000LL),
                                   integer(std::numeric_limits<std::int64_t>::min()),
                                   integer(1, Literal::Kind::Boolean),
                                   integer(0, Literal::Kind::Boolean),
                                   real(0.1),
                                   real(-0.0),
                                   real(5.0),
                                   real(0.5),
                                   real(-2147483648.4),
                                   real(1e16),
                                   real(123456789012345678.0),
                                   real(-1.7976931348623157e308),
                                   real(std::numeric_limits<double>::denorm_min()),
                                   real(-std::numeric_limits<double>::quiet_NaN()),
                                   real(std::numeric_limits<double>::infinity()),
                                   real(-std::numeric_limits<double>::infinity())};
  const std::vector<std::wstring> patterns = {L"%d.%m.%y %H:%M:%S", L"%y-%m-%d at %H o'clock", L"%m/%d/%y %M"};
  const std::vector<Literal::DateParts> dates = {
      {2024, 3, 5, 7, 8, 9},  {1850, 1, 2, 23, 59, 59},  {99, 12, 31, 0, 0, 0},   {2023, 2, 29, 1, 1, 1},
      {2024, 13, 1, 0, 0, 0}, {2024, 1, 1, 24, 0, 0},    {2024, 1, 1, 5, 60, 61}, {0, 0, 0, 12, 30, 45},
      {-1, 1, 1, 0, 0, 0},    {9999, 12, 31, 23, 59, 59}};
  for (const std::wstring& pattern : patterns) {
    for (const auto& parts : dates) {
      for (const auto form : {Literal::DateForm::Date, Literal::DateForm::DateAndTime}) {
        Literal l;
        l.kind = Literal::Kind::DateTime;
        l.date = parts;
        l.dateForm = parts.year == 0 && parts.month == 0 && parts.day == 0 ? Literal::DateForm::TimeOfDay : form;
        l.datePattern = pattern;
        literals.push_back(l);
      }
    }
  }
  const std::vector<ColumnDef> columns = {
      Column(ColumnType::Text, 255), Column(ColumnType::VarChar, 3), Column(ColumnType::Memo),
      Column(ColumnType::Double),    Column(ColumnType::Bit),        Column(ColumnType::Integer),
      Column(ColumnType::SmallInt),  Column(ColumnType::Date),       Column(ColumnType::Timestamp),
      Column(ColumnType::Time),      Column(ColumnType::LongBinary)};
  const DatePattern byDefault(patterns[0]), withoutSeconds(patterns[1]), other(patterns[2]);
  for (const Literal& typed : literals) {
    Literal text;
    odbc::AppendLiteralText(text.text, typed);
    text.kind = typed.kind == Literal::Kind::DateTime ? Literal::Kind::Text : Literal::Kind::Number;
    for (const ColumnDef& column : columns) {
      for (const DatePattern* pattern :
           {&byDefault, &withoutSeconds, &other, static_cast<const DatePattern*>(nullptr)}) {
        for (const bool anyWhole : {false, true}) {
          CheckRules rules;
          rules.maxChars = column.length > 0 ? static_cast<std::size_t>(column.length) : 65535;
          rules.anyWholeNumber = anyWhole;
          rules.datePattern = pattern;
          rules.numberTextOnDemand = anyWhole;
          EXPECT_EQ(Outcome(typed, column, rules), Outcome(text, column, rules))
              << text::WideToUtf8(text.text) << " in " << text::WideToUtf8(TypeName(column.type))
              << (pattern ? " by " + text::WideToUtf8(pattern->Text()) : "");
        }
      }
    }
  }
}

}  // namespace
}  // namespace quillon::drivers::sql
