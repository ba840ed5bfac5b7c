#include <utility>

#include <gtest/gtest.h>

#include "platform/odbc/TableName.h"

namespace quillon::odbc {
namespace {

TEST(TableName, TheSingleTableAfterTheTopLevelFromAsWritten) {
  EXPECT_EQ(FindSourceTable(L"SELECT * FROM dbo.Orders"), L"dbo.Orders");
  EXPECT_EQ(FindSourceTable(L"SELECT * FROM Orders;"), L"Orders;");
  EXPECT_EQ(FindSourceTable(L"select a, b\nfrom\tOrders o where a > 1 order by b"), L"Orders");
  EXPECT_EQ(FindSourceTable(L"SELECT * FROM [Order Details] WHERE x = 'FROM y'"), L"[Order Details]");
  EXPECT_EQ(FindSourceTable(L"SELECT * FROM \"Sales Data\".Items AS i"), L"\"Sales Data\".Items");
  // FROM inside functions, subqueries and literals does not count.
  EXPECT_EQ(FindSourceTable(L"SELECT EXTRACT(YEAR FROM d), 'from x' FROM Events WHERE id IN (SELECT id FROM Other)"),
            L"Events");
  EXPECT_EQ(FindSourceTable(L"WITH c AS (SELECT * FROM a, b) SELECT * FROM c"), L"c");
  EXPECT_EQ(FindSourceTable(L"SELECT 1 -- FROM comment\nFROM /* FROM x */ Real"), L"Real");
  // Comments nest, and one right after the name is no part of it.
  EXPECT_EQ(FindSourceTable(L"SELECT 1 /* a /* b */ FROM x */ FROM Real/* c */"), L"Real");
  EXPECT_EQ(FindSourceTable(L"SELECT * FROM [Order Details]-- all\n"), L"[Order Details]");
}

TEST(TableName, EmptyForJoinsSeveralTablesOrNone) {
  EXPECT_EQ(FindSourceTable(L"SELECT * FROM a JOIN b ON a.id = b.id"), L"");
  EXPECT_EQ(FindSourceTable(L"SELECT * FROM a LEFT OUTER JOIN b ON 1=1"), L"");
  EXPECT_EQ(FindSourceTable(L"SELECT * FROM a, b"), L"");
  EXPECT_EQ(FindSourceTable(L"SELECT a FROM t1 UNION SELECT a FROM t2"), L"");
  EXPECT_EQ(FindSourceTable(L"SELECT * FROM (SELECT 1) AS d"), L"");
  EXPECT_EQ(FindSourceTable(L"SELECT 1"), L"");
  EXPECT_EQ(FindSourceTable(L"EXEC GetOrders 5"), L"");
  EXPECT_EQ(FindSourceTable(L""), L"");
  EXPECT_EQ(FindSourceTable(L"SELECT * FROM"), L"");
}

TEST(TableName, UnquotedPartByPart) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"\"dd\"", L"dd"},
      {L"[Order Details]", L"Order Details"},
      {L"`back tick`", L"back tick"},
      {L"\"Sales Data\".Items", L"Sales Data.Items"},
      {L"\"a\"\"b\".[c]]d].`e``f`", L"a\"b.c]d.e`f"},
      {L"plain", L"plain"},
      {L"\"never closed", L"\"never closed"},
  };
  for (const auto& [quoted, unquoted] : cases) EXPECT_EQ(UnquoteTableName(quoted), unquoted) << quoted;
}

}  // namespace
}  // namespace quillon::odbc
