// Parameter markers and bound values as literals, the parts of the ODBC driver that read a
// statement's text and an application's buffers.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "odbcdriver/Parameters.h"
#include "platform/errors/Errors.h"
#include "platform/text/WideText.h"

namespace quillon::odbcdriver {
namespace {

TEST(Parameters, MarkersOutsideQuotesAndTheInsertsThatTakeRowsWithoutText) {
  const std::wstring statement = L"INSERT INTO t VALUES(?, '?', [a?], \"?\", ?)";
  EXPECT_EQ(FindMarkers(statement), (std::vector<std::size_t>{21, statement.size() - 2}));
  struct Case {
    std::wstring_view statement;
    std::size_t markers;
    std::optional<std::wstring> table;
  };
  const Case cases[] = {
      {L"INSERT INTO t VALUES(?,?)", 2, L"t"},          {L" insert  into [My t] values ( ? , ? ) ;", 2, L"[My t]"},
      {L"INSERT INTO t VALUES(?, 1)", 1, std::nullopt}, {L"INSERT INTO t VALUES(?)", 2, std::nullopt},
      {L"CREATE TABLE t (a TEXT)", 0, std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(InsertOfMarkersOnly(c.statement, c.markers), c.table) << text::WideToUtf8(c.statement);
}

// One bound parameter of `cType` over `buffer`, `length` its indicator; read into `into` when
// given (and returned empty).
odbc::Literal Read(SQLSMALLINT cType, const void* buffer, SQLLEN length, SQLLEN bufferLength = 0,
                   odbc::Literal* into = nullptr) {
  Environment env;
  Connection connection(env);
  Statement statement(connection);
  statement.parameters.push_back(
      {true, SQL_PARAM_INPUT, cType, SQL_VARCHAR, 0, 0, const_cast<void*>(buffer), bufferLength, &length});
  if (into == nullptr) return ReadParameter(statement, 1, 0);
  ReadParameter(statement, 1, 0, *into);
  return {};
}

SQL_NUMERIC_STRUCT Numeric(unsigned value, signed char scale, bool positive) {
  SQL_NUMERIC_STRUCT numeric{};
  numeric.scale = scale;
  numeric.sign = positive ? 1 : 0;
  std::memcpy(numeric.val, &value, sizeof value);
  return numeric;
}

TEST(Parameters, NumbersAreTheShortestTextThatReadsBackAsTheValue) {
  struct Case {
    SQL_NUMERIC_STRUCT numeric;
    std::wstring text;
  };
  const Case cases[] = {
      {Numeric(5, 3, true), L"0.005"}, {Numeric(12345, 2, false), L"-123.45"},         {Numeric(0, 2, false), L"0.00"},
      {Numeric(7, -2, true), L"700"},  {Numeric(4294967295u, 0, true), L"4294967295"},
  };
  for (const Case& c : cases) {
    const odbc::Literal literal = Read(SQL_C_NUMERIC, &c.numeric, 0);
    EXPECT_EQ(literal.kind, odbc::Literal::Kind::Number);
    EXPECT_EQ(literal.text, c.text);
  }
  const double third = 1.0 / 3;
  EXPECT_EQ(Read(SQL_C_DOUBLE, &third, 0).text, L"0.3333333333333333");
  const SQLUBIGINT most = 18446744073709551615ull;
  EXPECT_EQ(Read(SQL_C_UBIGINT, &most, 0).text, L"18446744073709551615");
}

// The rows of an array are read into the same literals: each holds its own value alone.
TEST(Parameters, ALiteralReadAgainHoldsOnlyTheNewValue) {
  const unsigned char bytes[] = {0x00, 0xAB};
  const float tenth = 0.1f;
  const SQL_TIMESTAMP_STRUCT stamp{2024, 1, 2, 3, 4, 5, 0};
  struct Value {
    SQLSMALLINT cType;
    const void* buffer;
    SQLLEN length;
  };
  const Value values[] = {{SQL_C_BINARY, bytes, 2},
                          {SQL_C_FLOAT, &tenth, 0},
                          {SQL_C_TYPE_TIMESTAMP, &stamp, 0},
                          {SQL_C_BINARY, bytes, SQL_NULL_DATA}};
  odbc::Literal reused;
  for (const Value& v : values) {
    const odbc::Literal fresh = Read(v.cType, v.buffer, v.length);
    Read(v.cType, v.buffer, v.length, 0, &reused);
    EXPECT_EQ(reused.kind, fresh.kind) << v.cType;
    EXPECT_EQ(reused.text, fresh.text) << v.cType;
    EXPECT_EQ(reused.bytes, fresh.bytes) << v.cType;
    EXPECT_EQ(reused.wellFormed, fresh.wellFormed) << v.cType;
    EXPECT_EQ(reused.holdsNumber, fresh.holdsNumber) << v.cType;
    EXPECT_EQ(reused.number, fresh.number) << v.cType;
  }
  EXPECT_EQ(Read(SQL_C_TYPE_TIMESTAMP, &stamp, 0).text, L"2024-01-02 03:04:05");
}

TEST(Parameters, TextLengthsNullsAndTheRefusals) {
  const char utf8[] =
      "a\xc3\xa9"
      "bc";
  EXPECT_EQ(Read(SQL_C_CHAR, utf8, 3).text, L"a\u00e9");
  EXPECT_EQ(Read(SQL_C_CHAR, utf8, SQL_NTS).text, L"a\u00e9bc");
  const char16_t utf16[] = u"x\U0001F600";
  EXPECT_EQ(Read(SQL_C_WCHAR, utf16, SQL_NTS).text, L"x\U0001F600");
  EXPECT_EQ(Read(SQL_C_WCHAR, utf16, SQL_NULL_DATA).kind, odbc::Literal::Kind::Null);
  const unsigned char bytes[] = {0x00, 0xAB};
  const odbc::Literal binary = Read(SQL_C_BINARY, bytes, 2);
  EXPECT_EQ(binary.bytes, (std::vector<std::uint8_t>{0x00, 0xAB}));
  EXPECT_EQ(FillMarkers(L"VALUES(?, ?, ?)", {7, 10, 13},
                        {odbc::Literal{odbc::Literal::Kind::Text, L"it's"}, odbc::Literal{}, binary}),
            L"VALUES('it''s', NULL, 0x00AB)");
  struct Refusal {
    SQLSMALLINT cType;
    const void* buffer;
    SQLLEN length;
    const wchar_t* state;
  };
  const char notUtf8[] = "a\xff";
  SQL_TIMESTAMP_STRUCT stamp{2024, 1, 2, 3, 4, 5, 1000};
  const Refusal refusals[] = {
      {SQL_C_CHAR, notUtf8, 2, odbc::errors::state::kNotInRepertoire},
      {SQL_C_TYPE_TIMESTAMP, &stamp, 0, odbc::errors::state::kDateOverflow},
      {SQL_C_WCHAR, utf16, 3, odbc::errors::state::kBadLength},
      {SQL_C_GUID, bytes, 16, odbc::errors::state::kRestrictedType},
  };
  for (const Refusal& r : refusals) {
    try {
      Read(r.cType, r.buffer, r.length);
      ADD_FAILURE() << "C type " << r.cType << " taken";
    } catch (const odbc::CDBException& e) {
      EXPECT_EQ(e.m_strSqlState, r.state) << "C type " << r.cType;
    }
  }
}

}  // namespace
}  // namespace quillon::odbcdriver
