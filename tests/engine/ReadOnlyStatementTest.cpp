// Which statements the export refuses to run because they would change the source.
#include <clocale>
#include <string>

#include <gtest/gtest.h>

#include "engine/ReadOnlyStatement.h"

namespace quillon::engine {
namespace {

TEST(ReadOnlyStatement, ReadingStatementsRun) {
  for (const wchar_t* statement : {
           L"SELECT * FROM Customers",
           L"  select * from Customers;  ",
           L"SELECT * FROM Customers; -- the last word",
           L"(SELECT 1) UNION (SELECT 2)",
           L"WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 9) SELECT i FROM c",
           L"SELECT replace(Name, 'a', 'b'), \"update\", `delete` FROM Customers WHERE Note = 'DROP TABLE x; --'",
           L"SELECT * FROM Orders FOR UPDATE",
           L"SELECT * FROM Orders FOR NO KEY UPDATE",
           L"SELECT 'it''s' AS created, updated_at FROM t",
           L"VALUES (1), (2)",
           L"TABLE Customers",
           L"EXEC dbo.MonthlyReport 2024",
           L"EXECUTE ShowAll",
           L"CALL report()",
           L"EXPLAIN QUERY PLAN SELECT * FROM t",
           L"PRAGMA table_info(Customers)",
           L"PRAGMA foreign_keys",
       }) {
    EXPECT_EQ(WhyNotReadOnly(statement), L"") << statement;
  }
}

TEST(ReadOnlyStatement, StatementsThatChangeTheSourceAreRefusedWithTheReason) {
  struct Case {
    const wchar_t* statement;
    const wchar_t* reason;  // part of the message
  };
  const Case cases[] = {
      {L"DELETE FROM Customers", L"it begins with DELETE"},
      {L"delete from Customers", L"it begins with DELETE"},
      {L"/* a comment */ -- and another\n  UPDATE Customers SET Name = ''", L"it begins with UPDATE"},
      {L"/* nested /* comments */ still */ DROP TABLE Customers", L"it begins with DROP"},
      {L"INSERT INTO Customers VALUES (1)", L"it begins with INSERT"},
      {L"REPLACE INTO Customers VALUES (1)", L"it begins with REPLACE"},
      {L"MERGE INTO t USING s ON 1 = 1 WHEN MATCHED THEN DELETE", L"it begins with MERGE"},
      {L"CREATE TABLE x (a int)", L"it begins with CREATE"},
      {L"ALTER TABLE x ADD b int", L"it begins with ALTER"},
      {L"TRUNCATE Customers", L"it begins with TRUNCATE"},
      {L"GRANT ALL ON t TO public", L"it begins with GRANT"},
      {L"REVOKE ALL ON t FROM public", L"it begins with REVOKE"},
      {L"ATTACH DATABASE 'x.db' AS x", L"it begins with ATTACH"},
      {L"DO $$ BEGIN DELETE FROM t; END $$", L"it begins with DO"},
      {L"COPY t FROM '/tmp/x'", L"it begins with COPY"},
      {L"VACUUM", L"it begins with VACUUM"},
      {L"(DELETE FROM t)", L"it begins with DELETE"},
      {L"PRAGMA user_version = 7", L"sets a PRAGMA"},
      {L"PRAGMA journal_mode(WAL)", L"gives a PRAGMA a value"},
      {L"SELECT 1; DELETE FROM Customers", L"more than one statement"},
      {L"SELECT 1;; DELETE FROM Customers", L"more than one statement"},
      {L"SELECT 1 /* ; */ ; SELECT 2", L"more than one statement"},
      // Comments nest in PostgreSQL but not in SQLite or MySQL, where the first */ ends this one.
      {L"SELECT 1 /* /* */ ; DROP TABLE t; -- */", L"more than one statement"},
      {L"WITH x AS (SELECT 1) DELETE FROM Customers", L"it holds DELETE"},
      {L"WITH d AS (DELETE FROM t RETURNING *) SELECT * FROM d", L"it holds DELETE"},
      {L"WITH u AS (UPDATE t SET a = 1 RETURNING a) SELECT * FROM u", L"it holds UPDATE"},
      {L"SELECT * INTO Copy FROM Customers", L"INTO"},
      {L"SELECT * FROM t INTO OUTFILE '/tmp/x'", L"INTO"},
      {L"EXPLAIN ANALYZE DELETE FROM t", L"EXPLAIN"},
      // A backslash ends no literal in standard SQL but escapes the quote in some sources: either
      // reading that finds a second statement refuses it.
      {L"SELECT 'a\\'; DELETE FROM t; -- '", L"more than one statement"},
      {L"SELECT E'\\''; DELETE FROM t; --'", L"more than one statement"},
      // Dollar quotes are literals only in some sources.
      {L"SELECT $$; DELETE FROM t; $$", L"more than one statement"},
  };
  for (const auto& c : cases) {
    const std::wstring why = WhyNotReadOnly(c.statement);
    EXPECT_EQ(why.rfind(L"The statement was not run: ", 0), 0u) << c.statement << " -> " << why;
    EXPECT_NE(why.find(c.reason), std::wstring::npos) << c.statement << " -> " << why;
    EXPECT_NE(why.find(L"the export only reads from the source"), std::wstring::npos) << why;
  }
}

// Keywords are ASCII words whatever the process locale: under a UTF-8 locale the dotless ı and
// the long ſ upper-case to I and S, yet a source reads "ınsert" as a name, not as INSERT.
TEST(ReadOnlyStatement, KeywordsAreReadTheSameInAnyLocale) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  for (const char* locale : {"C", "C.UTF-8"}) {
    if (std::setlocale(LC_ALL, locale) == nullptr) continue;
    EXPECT_EQ(WhyNotReadOnly(L"SELECT 1 AS \u0131nsert, 2 AS dro\u0440 FROM t"), L"") << locale;
    EXPECT_EQ(WhyNotReadOnly(L"SELECT \u017Felect FROM t"), L"") << locale;
    EXPECT_NE(WhyNotReadOnly(L"\u017Felect 1; delete from t"), L"") << locale;
    EXPECT_NE(WhyNotReadOnly(L"SELECT 1; insert into t values (1)").find(L"more than one statement"),
              std::wstring::npos)
        << locale;
  }
  std::setlocale(LC_ALL, before.c_str());
}

}  // namespace
}  // namespace quillon::engine
