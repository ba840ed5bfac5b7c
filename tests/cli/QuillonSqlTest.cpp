// quillon-sql as a user runs it: statements on standard input, rows on standard output, failures
// with their line numbers on standard error.
#include <gtest/gtest.h>

#include "tests/support/Command.h"
#include "tests/support/Readers.h"
#include "tests/support/TempDir.h"

namespace {

namespace support = quillon::testing;

struct Outcome {
  int status;
  std::string out, err;
};

Outcome RunTool(const support::TempDir& dir, const std::string& connect, const std::string& statements) {
  const auto input = dir / "input.sql";
  const auto errors = dir / "errors.txt";
  { std::ofstream(input, std::ios::binary) << statements; }
  const auto result =
      support::RunCommand(std::string(QUILLON_SQL_TOOL) + " " + support::ShellQuote(connect) + " < " +
                          support::ShellQuote(input.string()) + " 2> " + support::ShellQuote(errors.string()));
  return {result.status, result.output, support::ReadBytes(errors)};
}

TEST(QuillonSqlTest, WritesAWorkbookAndReportsFailingLines) {
  support::TempDir dir;
  const auto file = dir / "out.xls";
  const std::string connect =
      "DRIVER={Microsoft Excel Driver (*.xls)};CREATE_DB=\"" + file.string() + "\";DBQ=" + file.string();
  const auto outcome = RunTool(dir, connect,
                               "CREATE TABLE T ([A] INTEGER,[B] TEXT);\n"
                               "INSERT INTO T VALUES(1,'one');\r\n"
                               "\n"
                               "INSERT INTO T VALUES('x','bad');\n"
                               "INSERT INTO T VALUES(2,'tw\xC3\xB6 \xF0\x9F\x98\x80')\n"
                               "DROP TABLE T\n");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("line 4: Data type mismatch in column 'A'"), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("line 6: Syntax error"), std::string::npos) << outcome.err;
  EXPECT_EQ(outcome.err.find("line 2"), std::string::npos) << outcome.err;
  const auto lines = support::DumpXls(file);
  const std::vector<std::string> expected = {"sheet\tT\t3\t2",
                                             "0\t0\t0\ttext\tA",
                                             "0\t0\t1\ttext\tB",
                                             "0\t1\t0\tnumber\t1.0",
                                             "0\t1\t1\ttext\tone",
                                             "0\t2\t0\tnumber\t2.0",
                                             "0\t2\t1\ttext\ttw\xC3\xB6 \xF0\x9F\x98\x80"};
  EXPECT_EQ(lines, expected);
}

TEST(QuillonSqlTest, SelectOnAnOdbcSourcePrintsRowsTabSeparated) {
  support::TempDir dir;
  const std::string connect = "DRIVER=SQLite3;Database=" + (dir / "db.sqlite").string();
  const auto outcome = RunTool(dir, connect,
                               "CREATE TABLE t (id INTEGER, name TEXT, price DOUBLE)\n"
                               "INSERT INTO t VALUES (1, 'caf\xC3\xA9 \xF0\x9F\x98\x80', 2.5)\n"
                               "INSERT INTO t VALUES (2, NULL, -0.125)\n"
                               "SELECT id, name, price FROM t ORDER BY id\n");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.out, "1\tcaf\xC3\xA9 \xF0\x9F\x98\x80\t2.5\n2\tNULL\t-0.125\n");
}

TEST(QuillonSqlTest, AConnectionThatFailsEndsWithStatusTwo) {
  support::TempDir dir;
  const auto outcome = RunTool(dir, "DRIVER={Microsoft Excel Driver (*.xls)};DBQ=" + (dir / "none.xls").string(), "");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_NE(outcome.err.find("Could not find file"), std::string::npos) << outcome.err;
}

TEST(QuillonSqlTest, HelpIsHelpNotADataSource) {
  for (const char* option : {"--help", "-h"}) {
    const auto result = support::RunCommand(std::string(QUILLON_SQL_TOOL) + " " + option + " 2>&1");
    EXPECT_EQ(result.status, 0) << option;
    EXPECT_EQ(result.output.rfind("usage: quillon-sql", 0), 0u) << result.output;
    EXPECT_NE(result.output.find("Exit status"), std::string::npos);
  }
}

}  // namespace
