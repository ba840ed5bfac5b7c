#include <gtest/gtest.h>

#include "drivers/sql/Statement.h"
#include "platform/errors/Errors.h"

namespace quillon::drivers::sql {
namespace {

CreateTable ParseCreate(std::wstring_view text) { return std::get<CreateTable>(Parse(text)); }
Insert ParseInsert(std::wstring_view text) { return std::get<Insert>(Parse(text)); }

// The message of the syntax error the statement raises; empty when it parses.
std::wstring SyntaxError(std::wstring_view text) {
  try {
    Parse(text);
  } catch (const odbc::CDBException& e) {
    EXPECT_EQ(e.m_strSqlState, L"42000");
    return e.m_strMessage;
  }
  return {};
}

TEST(StatementTest, CreateTableAsTheStatementBuilderWritesIt) {
  const auto create = ParseCreate(
      L"CREATE TABLE dbo_Orders ([ID] INTEGER,[Name] VARCHAR(50),'Unit Price' DOUBLE,"
      L"[Pct%] TEXT,'R&D' MEMO,[On] BIT,[Qty] SMALLINT,[When] DATE,[At] timestamp,[Hour] TIME);");
  EXPECT_EQ(create.table, L"dbo_Orders");
  ASSERT_EQ(create.columns.size(), 10u);
  const std::pair<std::wstring, ColumnType> expected[] = {
      {L"ID", ColumnType::Integer},   {L"Name", ColumnType::VarChar}, {L"Unit Price", ColumnType::Double},
      {L"Pct%", ColumnType::Text},    {L"R&D", ColumnType::Memo},     {L"On", ColumnType::Bit},
      {L"Qty", ColumnType::SmallInt}, {L"When", ColumnType::Date},    {L"At", ColumnType::Timestamp},
      {L"Hour", ColumnType::Time}};
  for (std::size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(create.columns[i].name, expected[i].first);
    EXPECT_EQ(create.columns[i].type, expected[i].second);
  }
  EXPECT_EQ(create.columns[1].length, 50);
  EXPECT_EQ(create.columns[3].length, 255);
  EXPECT_EQ(create.columns[0].length, 0);
}

TEST(StatementTest, NamesInEveryQuotingAndKeywordsInAnyCase) {
  auto create =
      ParseCreate(L"  create   table [My Table] ( \"a \"\"b\"\"\" text , 'it''s' varChar( 7 ) , plain Date ) ");
  EXPECT_EQ(create.table, L"My Table");
  EXPECT_EQ(create.columns[0].name, L"a \"b\"");
  EXPECT_EQ(create.columns[1].name, L"it's");
  EXPECT_EQ(create.columns[1].length, 7);
  EXPECT_EQ(create.columns[2].name, L"plain");
  // A bare table name runs up to the column list, blanks inside included.
  EXPECT_EQ(ParseCreate(L"CREATE TABLE Sales 2024 ([a] TEXT)").table, L"Sales 2024");
  EXPECT_EQ(ParseCreate(L"CREATE TABLE 'x y'([a] TEXT)").table, L"x y");
  EXPECT_EQ(ParseInsert(L"INSERT INTO Sales 2024 VALUES(1)").table, L"Sales 2024");
  EXPECT_EQ(ParseInsert(L"insert into [Results_Sheet0] values (1)").table, L"Results_Sheet0");
  EXPECT_EQ(ParseInsert(L"INSERT INTO \"q\"\"t\" VALUES(1);").table, L"q\"t");
  EXPECT_EQ(ParseInsert(L"INSERT INTO Tab_VALUES VALUES(1)").table, L"Tab_VALUES");
  // A name that only starts quoted is read bare, as the export puts it in.
  EXPECT_EQ(ParseCreate(L"CREATE TABLE \"dbo\"_\"Orders\" ([a] TEXT)").table, L"\"dbo\"_\"Orders\"");
  EXPECT_EQ(ParseInsert(L"INSERT INTO [dbo]_[Order Details] VALUES(1)").table, L"[dbo]_[Order Details]");
  EXPECT_EQ(ParseInsert(L"INSERT INTO dbo_[Order Details] VALUES(1)").table, L"dbo_[Order Details]");
}

TEST(StatementTest, LiteralsKeepNumbersAsWrittenAndUndoubleApostrophes) {
  const auto insert = ParseInsert(
      L"INSERT INTO T VALUES(NULL,null,-12,+3.5,1e-07,-2.5E+300,.5,7.,'it''s','','NULL','a,b)c','\U0001F600');");
  ASSERT_EQ(insert.values.size(), 13u);
  EXPECT_EQ(insert.values[0].kind, Literal::Kind::Null);
  EXPECT_EQ(insert.values[1].kind, Literal::Kind::Null);
  const wchar_t* numbers[] = {L"-12", L"+3.5", L"1e-07", L"-2.5E+300", L".5", L"7."};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(insert.values[2 + i].kind, Literal::Kind::Number);
    EXPECT_EQ(insert.values[2 + i].text, numbers[i]);
  }
  EXPECT_EQ(insert.values[8].text, L"it's");
  EXPECT_EQ(insert.values[9].kind, Literal::Kind::Text);
  EXPECT_EQ(insert.values[9].text, L"");
  EXPECT_EQ(insert.values[10].kind, Literal::Kind::Text);
  EXPECT_EQ(insert.values[10].text, L"NULL");
  EXPECT_EQ(insert.values[11].text, L"a,b)c");
  EXPECT_EQ(insert.values[12].text, L"\U0001F600");
}

TEST(StatementTest, BinaryLiteralsHoldTheirBytesAndNoBytesIsNotNull) {
  const auto insert = ParseInsert(L"INSERT INTO T VALUES(0x00fF7A, 0X, '0x00')");
  ASSERT_EQ(insert.values.size(), 3u);
  EXPECT_EQ(insert.values[0].kind, Literal::Kind::Binary);
  EXPECT_EQ(insert.values[0].bytes, (std::vector<std::uint8_t>{0x00, 0xFF, 0x7A}));
  EXPECT_EQ(insert.values[0].text, L"0x00fF7A");
  EXPECT_EQ(insert.values[1].kind, Literal::Kind::Binary);
  EXPECT_TRUE(insert.values[1].bytes.empty());
  EXPECT_EQ(insert.values[2].kind, Literal::Kind::Text);
  EXPECT_EQ(ParseCreate(L"CREATE TABLE T (b LONGBINARY)").columns.at(0).type, ColumnType::LongBinary);
}

TEST(StatementTest, EveryNameReadsBackWithItsClosingCharacterDoubled) {
  const auto create = ParseCreate(
      L"CREATE TABLE T ([a]]b] TEXT,[]]] TEXT,'Customer''s Name' TEXT,'x]] y' TEXT,[[x]]] DOUBLE,'R&D' TEXT)");
  ASSERT_EQ(create.columns.size(), 6u);
  EXPECT_EQ(create.columns[0].name, L"a]b");
  EXPECT_EQ(create.columns[1].name, L"]");
  EXPECT_EQ(create.columns[2].name, L"Customer's Name");
  EXPECT_EQ(create.columns[3].name, L"x]] y");  // only the closing character is doubled
  EXPECT_EQ(create.columns[4].name, L"[x]");
  EXPECT_EQ(create.columns[4].type, ColumnType::Double);
  EXPECT_EQ(create.columns[5].name, L"R&D");
  // A table name that is not wholly bracketed is still read bare.
  EXPECT_EQ(ParseInsert(L"INSERT INTO [a]]_b VALUES(1)").table, L"[a]]_b");
  EXPECT_EQ(ParseInsert(L"INSERT INTO [a]]b] VALUES(1)").table, L"a]b");
}

TEST(StatementTest, NaNAndTheInfinitiesAreNumberLiterals) {
  const auto insert = ParseInsert(L"INSERT INTO T VALUES(NaN,Infinity,-Infinity,+infinity,nan,'NaN')");
  ASSERT_EQ(insert.values.size(), 6u);
  const wchar_t* words[] = {L"NaN", L"Infinity", L"-Infinity", L"+infinity", L"nan"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(insert.values[i].kind, Literal::Kind::Number) << i;
    EXPECT_EQ(insert.values[i].text, words[i]);
  }
  EXPECT_EQ(insert.values[5].kind, Literal::Kind::Text);
  EXPECT_NE(SyntaxError(L"INSERT INTO T VALUES(Infinit)"), L"");
  EXPECT_NE(SyntaxError(L"INSERT INTO T VALUES(NaNa)"), L"");
  EXPECT_NE(SyntaxError(L"INSERT INTO T VALUES(inf)"), L"");
}

TEST(StatementTest, SyntaxErrorsNameTheProblemAndPosition) {
  struct Case {
    const wchar_t* sql;
    const wchar_t* expected;  // a part of the message
  };
  const Case cases[] = {
      {L"SELECT * FROM t", L"at character 1: expected CREATE TABLE or INSERT INTO"},
      {L"CREATE TABLES t (a TEXT)", L"at character 8: expected TABLE"},
      {L"CREATE TABLE t (a TEXT", L"at character 23: expected ',' or ')' after a column definition"},
      {L"CREATE TABLE t (a CHAR)", L"at character 19: expected a column type"},
      {L"CREATE TABLE t (a VARCHAR(0))", L"at character 27: the length of VARCHAR must be from 1 to 255"},
      {L"CREATE TABLE t (a VARCHAR(256))", L"the length of VARCHAR must be from 1 to 255"},
      {L"CREATE TABLE t ()", L"expected a column name"},
      {L"CREATE TABLE t ([a TEXT)", L"at character 17: the column name is not closed"},
      {L"CREATE TABLE t ([] TEXT)", L"the column name is empty"},
      {L"CREATE TABLE (a TEXT)", L"expected a table name"},
      {L"CREATE TABLE t (a TEXT) x", L"at character 25: unexpected text after the end"},
      {L"CREATE TABLE t (a TEXT);;", L"unexpected text after the end"},
      {L"INSERT INTO t VALUES(1,)", L"at character 24: expected a value"},
      {L"INSERT INTO t VALUES(1 2)", L"at character 24: expected ',' or ')' after a value"},
      {L"INSERT INTO t VALUES('abc)", L"at character 22: the text value is not closed"},
      {L"INSERT INTO t VALUES(1e)", L"expected the digits of an exponent"},
      {L"INSERT INTO t VALUES(12abc)", L"unexpected character in a number"},
      {L"INSERT INTO t VALUES(1.2.3)", L"unexpected character in a number"},
      {L"INSERT INTO t VALUES(inf)", L"expected a value"},
      {L"INSERT INTO t VALUES(0xABC)", L"at character 27: a binary value needs two hexadecimal digits a byte"},
      {L"INSERT INTO t VALUES(0x00G)", L"at character 26: unexpected character in a binary value"},
      {L"INSERT INTO t (a) VALUES(1)", L"expected VALUES"},
      {L"INSERT INTO t", L"expected VALUES"},
      {L"INSERT INTO t VALUES(", L"found the end of the statement"},
      {L"INSERT INTO t VALUES(", L"INSERT INTO statement"},
  };
  for (const auto& c : cases) {
    const std::wstring message = SyntaxError(c.sql);
    EXPECT_NE(message.find(c.expected), std::wstring::npos) << c.sql << L"\n" << message;
  }
}

// Rows that come as literals read as the statement "INSERT INTO <table> VALUES(...)" would: the
// same table name, and only when the text would read back as exactly those values.
TEST(StatementTest, LiteralRowsReadAsTheirStatementWould) {
  using Kind = Literal::Kind;
  const auto number = [](std::wstring text) { return Literal{Kind::Number, std::move(text)}; };
  InsertWithoutText row;
  for (const std::wstring table :
       {L"Orders", L"  dbo_Orders \t", L"[a]]b]", L"'it''s'", L"\"dbo\"_\"x\"", L"a VALUESb"}) {
    const std::vector<Literal> values = {number(L"1"), Literal{Kind::Text, L"it's"}, Literal{}};
    ASSERT_TRUE(row.Read(table, values)) << table;
    EXPECT_EQ(row.Table(), ParseInsert(L"INSERT INTO " + table + L" VALUES(1,'it''s',NULL);").table) << table;
  }
  // The last name is remembered, and a new one read afresh.
  ASSERT_TRUE(row.Read(L"x ", {number(L"2")}));
  EXPECT_EQ(row.Table(), L"x");

  for (const std::wstring text : {L"-12", L"+1.5e-7", L"NaN", L"-Infinity", L"1.", L".5", L"9223372036854775808"}) {
    EXPECT_TRUE(row.Read(L"t", {number(text)})) << text;
  }
  // Text that would not read back as that number, which only the statement's text may answer.
  for (const std::wstring text : {L"", L"1 ", L" 1", L"abc", L"1,2", L"1)", L"'1'", L"NULL", L"1e", L"1x", L"0x1F"}) {
    EXPECT_FALSE(row.Read(L"t", {number(text)})) << text;
    const std::wstring statement = L"INSERT INTO t VALUES(" + text + L");";
    if (SyntaxError(statement).empty()) {
      const auto values = ParseInsert(statement).values;
      EXPECT_FALSE(values.size() == 1 && values[0].kind == Kind::Number && values[0].text == text) << text;
    }
  }
  EXPECT_FALSE(row.Read(L"t", {}));
  for (const std::wstring table : {L"", L"  ", L"f(x)", L"a(b"}) {
    EXPECT_FALSE(row.Read(table, {number(L"1")})) << table;
    EXPECT_NE(SyntaxError(L"INSERT INTO " + table + L" VALUES(1);"), L"") << table;
  }
}

}  // namespace
}  // namespace quillon::drivers::sql
