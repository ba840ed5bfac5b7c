// The Excel driver end to end through CDatabase, each workbook read back by xlrd.
#include <algorithm>
#include <fstream>

#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/text/WideText.h"
#include "tests/support/Command.h"
#include "tests/support/Readers.h"
#include "tests/support/Require.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers::excel {
namespace {

using odbc::CDatabase;
using odbc::CDBException;
using testing::DumpXls;
using testing::TempDir;

std::wstring NewWorkbookConnect(const std::filesystem::path& file) {
  const std::wstring path = text::Utf8ToWide(file.string());
  return L"DRIVER={Microsoft Excel Driver (*.xls)};DSN='';FIRSTROWHASNAMES=1;READONLY=FALSE;CREATE_DB=\"" + path +
         L"\";DBQ=" + path;
}
std::wstring ExistingWorkbookConnect(const std::filesystem::path& file) {
  return L"ODBC;DRIVER={Microsoft Excel Driver (*.xls)};DSN='';DBQ=" + text::Utf8ToWide(file.string());
}

// The SQLSTATE of the refusal; empty when the statement went through.
std::wstring Refusal(CDatabase& db, const std::wstring& sql, std::wstring* message = nullptr) {
  try {
    db.ExecuteSQL(sql);
  } catch (const CDBException& e) {
    if (message != nullptr) *message = e.m_strMessage;
    return e.m_strSqlState;
  }
  return {};
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class ExcelDriverTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterBuiltInDrivers(); }
  TempDir m_dir;
};

TEST_F(ExcelDriverTest, EveryValueKindReadsBackThroughXlrd) {
  const auto file = m_dir / "kinds.xls";
  {
    CDatabase db;
    ASSERT_TRUE(db.OpenEx(NewWorkbookConnect(file), CDatabase::noOdbcDialog));
    db.ExecuteSQL(
        L"CREATE TABLE dbo_Orders ([ID] INTEGER,[Name] TEXT,'Unit Price' DOUBLE,[On] BIT,[Qty] SMALLINT,"
        L"[When] DATE,[Code] TEXT,[Note] MEMO);");
    db.ExecuteSQL(L"INSERT INTO dbo_Orders VALUES(1,'Apple',1.5,1,3,'5.3.2024 7:8:9',123456789012345,'x');");
    db.ExecuteSQL(
        L"INSERT INTO dbo_Orders VALUES(-536870913,'it''s \U0001F600 \u00e9\u4e2d',-2.5e-7,0,-32768,"
        L"'2024-03-05',1234567890123456,'NULL');");
    db.ExecuteSQL(L"INSERT INTO dbo_Orders VALUES(NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL);");
    db.ExecuteSQL(L"INSERT INTO dbo_Orders VALUES('42',' 7 ',1e300,'true','12','12/31/9999 23:59:59',0.000001,'');");
    db.ExecuteSQL(L"INSERT INTO dbo_Orders VALUES(2147483647,'a\tb\nc',0,-1,32767,'1900-03-01',-0.5,'');");
    db.ExecuteSQL(L"INSERT INTO dbo_Orders VALUES(0,'',0,0,0,'1900-02-28 12:00',12345678901234567890.5,'');");
    db.ExecuteSQL(L"INSERT INTO dbo_Orders VALUES(0,'',0,0,0,'31.12.1899',1,'');");
    db.Close();
  }
  std::string error;
  const auto lines = DumpXls(file, &error);
  ASSERT_FALSE(lines.empty()) << error;
  const std::vector<std::string> expected = {
      "sheet\tdbo_Orders\t8\t8",
      "0\t0\t0\ttext\tID",
      "0\t0\t2\ttext\tUnit Price",
      "0\t0\t7\ttext\tNote",
      "0\t1\t0\tnumber\t1.0",
      "0\t1\t1\ttext\tApple",
      "0\t1\t2\tnumber\t1.5",
      "0\t1\t3\tbool\ttrue",
      "0\t1\t4\tnumber\t3.0",
      "0\t1\t5\tdate\t45356.297326388885 2024-03-05 07:08:09",
      "0\t1\t6\tnumber\t123456789012345.0",
      "0\t1\t7\ttext\tx",
      // Beyond RK's 30 bits, non-BMP text, 16 significant digits kept as text, the text NULL.
      "0\t2\t0\tnumber\t-536870913.0",
      "0\t2\t1\ttext\tit's \xF0\x9F\x98\x80 \xC3\xA9\xE4\xB8\xAD",
      "0\t2\t2\tnumber\t-2.5e-07",
      "0\t2\t3\tbool\tfalse",
      "0\t2\t4\tnumber\t-32768.0",
      "0\t2\t5\tdate\t45356.0 2024-03-05 00:00:00",
      "0\t2\t6\ttext\t1234567890123456",
      "0\t2\t7\ttext\tNULL",
      // Quoted numbers in number columns become numbers; TRUE is a boolean.
      "0\t4\t0\tnumber\t42.0",
      "0\t4\t1\ttext\t 7 ",
      "0\t4\t2\tnumber\t1e+300",
      "0\t4\t3\tbool\ttrue",
      "0\t4\t4\tnumber\t12.0",
      "0\t4\t5\tdate\t2958465.999988426 9999-12-31 23:59:59",
      "0\t4\t6\tnumber\t1e-06",
      "0\t5\t0\tnumber\t2147483647.0",
      "0\t5\t1\ttext\ta\\tb\\nc",
      "0\t5\t3\tbool\ttrue",
      "0\t5\t5\tdate\t61.0 1900-03-01 00:00:00",
      "0\t5\t6\tnumber\t-0.5",
      // Before 1900-03-01 Excel counts a day that never was; before 1900 a date is text.
      "0\t6\t5\tdate\t59.5",
      "0\t6\t6\ttext\t12345678901234567890.5",
      "0\t7\t5\ttext\t1899-12-31 00:00:00",
  };
  for (const auto& line : expected) EXPECT_TRUE(Has(lines, line)) << "missing: " << line;
  // The all-NULL row has no cells, and empty text stays an empty string cell.
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("0\t3\t", 0) == 0; }),
            0);
  EXPECT_TRUE(Has(lines, "0\t4\t7\ttext\t"));
}

TEST_F(ExcelDriverTest, RefusedRowsWriteNothingAndSayWhy) {
  const auto file = m_dir / "refused.xls";
  CDatabase db;
  db.OpenEx(NewWorkbookConnect(file), CDatabase::noOdbcDialog);
  db.ExecuteSQL(L"CREATE TABLE T ([N] SMALLINT,[D] DATE,[S] TEXT,[V] VARCHAR(3))");
  db.ExecuteSQL(L"INSERT INTO T VALUES(1,NULL,'first',NULL)");
  std::wstring message;
  // A sheet's whole-number columns take any whole number; a number too large for a double is refused.
  EXPECT_EQ(Refusal(db, L"INSERT INTO T VALUES(1e999,NULL,NULL,NULL)", &message), L"22003");
  EXPECT_NE(message.find(L"column 'N'"), std::wstring::npos) << message;
  EXPECT_EQ(Refusal(db, L"INSERT INTO T VALUES('many',NULL,NULL,NULL)"), L"22018");
  EXPECT_EQ(Refusal(db, L"INSERT INTO T VALUES(2,'30.2.2024',NULL,NULL)"), L"22007");
  EXPECT_EQ(Refusal(db, L"INSERT INTO T VALUES(2,NULL,'" + std::wstring(32768, L'x') + L"',NULL)"), L"22001");
  EXPECT_EQ(Refusal(db, L"INSERT INTO T VALUES(2,NULL,NULL,'abcd')"), L"22001");
  EXPECT_EQ(Refusal(db, L"INSERT INTO T VALUES(2,NULL,NULL)"), L"21S01");
  EXPECT_EQ(Refusal(db, L"INSERT INTO Missing VALUES(1)"), L"42S02");
  EXPECT_EQ(Refusal(db, L"INSERT INTO T VALUES(2,NULL,NULL,'abc'"), L"42000");
  db.ExecuteSQL(L"INSERT INTO T VALUES(2,NULL,'" + std::wstring(32767, L'y') + L"','abc')");
  db.Close();
  const auto lines = DumpXls(file);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "sheet\tT\t3\t4");  // header and the two good rows, next to each other
  EXPECT_TRUE(Has(lines, "0\t1\t2\ttext\tfirst"));
  EXPECT_TRUE(Has(lines, "0\t2\t2\ttext\t" + std::string(32767, 'y')));
  EXPECT_TRUE(Has(lines, "0\t2\t3\ttext\tabc"));
}

TEST_F(ExcelDriverTest, SheetHoldsExactly65535RowsUnderItsHeader) {
  const auto file = m_dir / "full.xls";
  CDatabase db;
  db.OpenEx(NewWorkbookConnect(file), CDatabase::noOdbcDialog);
  db.ExecuteSQL(L"CREATE TABLE Results ([I] INTEGER,[S] TEXT)");
  for (int i = 1; i <= 65535; ++i) {
    db.ExecuteSQL(L"INSERT INTO Results VALUES(" + std::to_wstring(i) + L",'r" + std::to_wstring(i % 1000) + L"')");
  }
  std::wstring message;
  EXPECT_EQ(Refusal(db, L"INSERT INTO Results VALUES(65536,'over')", &message), L"HY000");
  EXPECT_NE(message.find(L"65535"), std::wstring::npos);
  // The export's next table takes the row.
  db.ExecuteSQL(L"CREATE TABLE Results_Sheet0 ([I] INTEGER,[S] TEXT)");
  db.ExecuteSQL(L"INSERT INTO Results_Sheet0 VALUES(65536,'over')");
  db.Close();
  const auto lines = DumpXls(file);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "sheet\tResults\t65536\t2");
  EXPECT_TRUE(Has(lines, "0\t65535\t0\tnumber\t65535.0"));
  EXPECT_TRUE(Has(lines, "0\t65535\t1\ttext\tr535"));
  EXPECT_TRUE(Has(lines, "sheet\tResults_Sheet0\t2\t2"));
  EXPECT_TRUE(Has(lines, "1\t1\t0\tnumber\t65536.0"));
}

TEST_F(ExcelDriverTest, ColumnLimitAndExistingTables) {
  const auto file = m_dir / "columns.xls";
  CDatabase db;
  db.OpenEx(NewWorkbookConnect(file), CDatabase::noOdbcDialog);
  std::wstring columns, values;
  for (int i = 0; i < 256; ++i) {
    columns += (i ? L"," : L"") + std::wstring(L"[C") + std::to_wstring(i) + L"] DOUBLE";
    values += (i ? L"," : L"") + std::to_wstring(i);
  }
  db.ExecuteSQL(L"CREATE TABLE Wide (" + columns + L")");
  db.ExecuteSQL(L"INSERT INTO Wide VALUES(" + values + L")");
  EXPECT_EQ(Refusal(db, L"CREATE TABLE Wider (" + columns + L",[X] TEXT)"), L"54011");
  std::wstring message;
  EXPECT_EQ(Refusal(db, L"CREATE TABLE wide ([A] TEXT)", &message), L"42S01");
  EXPECT_EQ(message, L"Table 'wide' already exists.");
  EXPECT_EQ(Refusal(db, L"CREATE TABLE T ([A] TEXT,[a] DOUBLE)"), L"42S21");
  // Letter case aside in Greek and Latin Extended-A names too, whatever the process locale.
  EXPECT_EQ(Refusal(db, L"CREATE TABLE G ([δ] TEXT,[Δ] DOUBLE)"), L"42S21");
  db.ExecuteSQL(L"CREATE TABLE [αβγ_Łódź] ([A] TEXT)");
  EXPECT_EQ(Refusal(db, L"CREATE TABLE [ΑΒΓ_łÓDŹ] ([A] TEXT)"), L"42S01");
  db.Close();
  const auto lines = DumpXls(file);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "sheet\tWide\t2\t256");
  EXPECT_TRUE(Has(lines, "0\t1\t255\tnumber\t255.0"));
}

TEST_F(ExcelDriverTest, TableNamesMapToValidUniqueSheetNames) {
  const auto file = m_dir / "names.xls";
  const std::wstring longName = L"A_very_long_table_name_that_Excel_cannot_hold";
  CDatabase db;
  db.OpenEx(NewWorkbookConnect(file), CDatabase::noOdbcDialog);
  db.ExecuteSQL(L"CREATE TABLE " + longName + L" ([A] TEXT)");
  db.ExecuteSQL(L"CREATE TABLE " + longName + L"_Sheet0 ([A] TEXT)");
  // Table names go in as they are, bare.
  db.ExecuteSQL(L"CREATE TABLE a:b/c?d*e[f]g\\h ([A] TEXT)");
  db.ExecuteSQL(L"CREATE TABLE 'x''' ([A] TEXT)");
  db.ExecuteSQL(L"CREATE TABLE history ([A] TEXT)");
  db.ExecuteSQL(
      L"CREATE TABLE [\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600"
      L"\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600] ([A] TEXT)");
  db.ExecuteSQL(L"INSERT INTO " + longName + L" VALUES('first')");
  db.ExecuteSQL(L"INSERT INTO " + longName + L"_Sheet0 VALUES('second')");
  db.ExecuteSQL(L"INSERT INTO a:b/c?d*e[f]g\\h VALUES('third')");
  // The sheet name reaches the table too.
  db.ExecuteSQL(L"INSERT INTO [A_very_long_table_name_that_E~2] VALUES('fourth')");
  EXPECT_EQ(Refusal(db, L"CREATE TABLE [" + longName + L"] ([B] TEXT)"), L"42S01");
  db.Close();
  const auto lines = DumpXls(file);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(Has(lines, "sheet\tA_very_long_table_name_that_Exc\t2\t1"));
  EXPECT_TRUE(Has(lines, "sheet\tA_very_long_table_name_that_E~2\t3\t1"));
  EXPECT_TRUE(Has(lines, "sheet\ta_b_c_d_e_f_g_h\t2\t1"));
  EXPECT_TRUE(Has(lines, "sheet\tx_\t1\t1"));
  EXPECT_TRUE(Has(lines, "sheet\thistory~2\t1\t1"));
  // 15 characters outside the BMP are 30 UTF-16 units; the 16th would split at 31.
  std::string emoji;
  for (int i = 0; i < 15; ++i) emoji += "\xF0\x9F\x98\x80";
  EXPECT_TRUE(Has(lines, "sheet\t" + emoji + "\t1\t1"));
  EXPECT_TRUE(Has(lines, "1\t1\t0\ttext\tsecond"));
  EXPECT_TRUE(Has(lines, "1\t2\t0\ttext\tfourth"));
}

// The connection tells which sheet a CREATE TABLE made, and a name that maps onto a sheet the
// workbook already had is a table that exists, however long the name.
TEST_F(ExcelDriverTest, TheSheetACreateMadeIsReportedAndALongNameMeetsItsSheetAgain) {
  const auto file = m_dir / "long.xls";
  const std::wstring longName = L"Quarterly_revenue_by_region_and_product";
  {
    CDatabase db;
    db.OpenEx(NewWorkbookConnect(file), CDatabase::noOdbcDialog);
    db.ExecuteSQL(L"CREATE TABLE Short ([A] TEXT)");
    EXPECT_EQ(db.GetCreatedTableName(), L"");  // kept its name
    db.ExecuteSQL(L"CREATE TABLE " + longName + L" ([A] TEXT)");
    EXPECT_EQ(db.GetCreatedTableName(), L"Quarterly_revenue_by_region_and");
    // Further tables of a long export, each on a sheet of its own.
    db.ExecuteSQL(L"CREATE TABLE " + longName + L"_Sheet0 ([A] TEXT)");
    EXPECT_EQ(db.GetCreatedTableName(), L"Quarterly_revenue_by_region_a~2");
    db.ExecuteSQL(L"CREATE TABLE " + longName + L"_Sheet0_Sheet0 ([A] TEXT)");
    EXPECT_EQ(db.GetCreatedTableName(), L"Quarterly_revenue_by_region_a~3");
    db.ExecuteSQL(L"INSERT INTO " + longName + L"_Sheet0_Sheet0 VALUES('third')");
    db.ExecuteSQL(L"CREATE TABLE [a:b] ([A] TEXT)");
    EXPECT_EQ(db.GetCreatedTableName(), L"a_b");
    db.Close();
  }
  const auto before = testing::ReadBytes(file);
  for (const std::wstring& again :
       {longName, longName + L"_Sheet0", std::wstring(L"Quarterly_revenue_by_region_and_more"), std::wstring(L"A:B"),
        std::wstring(L"short")}) {
    CDatabase db;
    db.Open(nullptr, false, false, ExistingWorkbookConnect(file));
    std::wstring message;
    EXPECT_EQ(Refusal(db, L"CREATE TABLE [" + again + L"] ([A] TEXT)", &message), L"42S01") << text::WideToUtf8(again);
    EXPECT_EQ(message, L"Table '" + again + L"' already exists.");
    db.Close();
  }
  EXPECT_EQ(testing::ReadBytes(file), before);
  const auto lines = DumpXls(file);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("sheet\t", 0) == 0; }),
            5);
  EXPECT_TRUE(Has(lines, "sheet\tQuarterly_revenue_by_region_a~3\t2\t1"));
}

TEST_F(ExcelDriverTest, ManyStringsSpanContinueRecords) {
  const auto file = m_dir / "strings.xls";
  CDatabase db;
  db.OpenEx(NewWorkbookConnect(file), CDatabase::noOdbcDialog);
  db.ExecuteSQL(L"CREATE TABLE S ([A] TEXT,[B] MEMO)");
  const auto valueA = [](int i) {
    // Lengths and widths vary, so that strings split across CONTINUE records at every kind of spot.
    std::wstring s = L"s" + std::to_wstring(i) + std::wstring(static_cast<std::size_t>(i % 37), L'a' + i % 26);
    if (i % 3 == 0) s += L"\u00fc\u4e2d";
    if (i % 5 == 0) s += L"\U0001F600";
    return s;
  };
  for (int i = 0; i < 40000; ++i) {
    std::wstring b = i % 4000 == 0 ? std::wstring(20000 + i / 4000, i % 8000 == 0 ? L'\u4e2d' : L'z') : L"";
    if (i % 4000 == 0) b += L"\U0001F600end";
    db.ExecuteSQL(L"INSERT INTO S VALUES('" + valueA(i) + L"'," + (b.empty() ? L"NULL" : L"'" + b + L"'") + L")");
  }
  db.Close();
  std::string error;
  const auto lines = DumpXls(file, &error);
  ASSERT_FALSE(lines.empty()) << error;
  EXPECT_EQ(lines[0], "sheet\tS\t40001\t2");
  std::size_t next = 3;  // the two header cells come first
  for (int i = 0; i < 40000; ++i) {
    const std::string prefix = "0\t" + std::to_string(i + 1) + "\t0\ttext\t";
    ASSERT_LT(next, lines.size());
    ASSERT_EQ(lines[next], prefix + text::WideToUtf8(valueA(i))) << i;
    ++next;
    if (i % 4000 == 0) {
      std::wstring b(20000 + i / 4000, i % 8000 == 0 ? L'\u4e2d' : L'z');
      ASSERT_EQ(lines[next], "0\t" + std::to_string(i + 1) + "\t1\ttext\t" + text::WideToUtf8(b + L"\U0001F600end"));
      ++next;
    }
  }
}

TEST_F(ExcelDriverTest, RowsSurviveDestructionAndFailures) {
  const auto file = m_dir / "kept.xls";
  {
    CDatabase db;
    db.OpenEx(NewWorkbookConnect(file), CDatabase::noOdbcDialog);
    db.ExecuteSQL(L"CREATE TABLE K ([A] INTEGER)");
    db.ExecuteSQL(L"INSERT INTO K VALUES(1)");
    EXPECT_FALSE(Refusal(db, L"INSERT INTO K VALUES('x')").empty());
    db.ExecuteSQL(L"INSERT INTO K VALUES(2)");
    // Nothing is written before the connection ends.
    EXPECT_FALSE(std::filesystem::exists(file));
  }
  const auto lines = DumpXls(file);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], "0\t2\t0\tnumber\t2.0");
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.Path()), std::filesystem::directory_iterator()), 1);
}

TEST_F(ExcelDriverTest, ConnectionsThatCannotWriteAreRefused) {
  CDatabase db;
  EXPECT_THROW(db.OpenEx(ExistingWorkbookConnect(m_dir / "missing.xls")), CDBException);
  EXPECT_THROW(db.OpenEx(NewWorkbookConnect(m_dir / "no-such-folder" / "x.xls")), CDBException);
  const auto file = m_dir / "ro.xls";
  db.OpenEx(NewWorkbookConnect(file) + L"", CDatabase::noOdbcDialog);
  db.Close();
  EXPECT_FALSE(std::filesystem::exists(file));  // no table, nothing written
  db.OpenEx(L"DRIVER={Microsoft Excel Driver (*.xls)};READONLY=1;CREATE_DB=\"" + text::Utf8ToWide(file.string()) +
            L"\"");
  EXPECT_EQ(Refusal(db, L"CREATE TABLE T ([A] TEXT)"), L"HY000");
  db.Close();
  EXPECT_FALSE(std::filesystem::exists(file));
}

// A row of literals meets the same guards and checks as its INSERT text, error for error.
TEST_F(ExcelDriverTest, RowsAsLiteralsAreRefusedAsTheirTextIs) {
  using Kind = odbc::Literal::Kind;
  const auto answer = [](CDatabase& db, auto&& insert) -> std::wstring {
    try {
      insert(db);
    } catch (const CDBException& e) {
      return e.m_strSqlState + L": " + e.m_strMessage;
    }
    return L"taken";
  };
  const auto file = m_dir / "rows.xls";
  CDatabase db;
  db.OpenEx(NewWorkbookConnect(file), CDatabase::noOdbcDialog);
  db.ExecuteSQL(L"CREATE TABLE T ([N] SMALLINT,[S] VARCHAR(3))");
  const std::vector<std::pair<std::wstring, std::vector<odbc::Literal>>> rows = {
      {L"T", {{Kind::Number, L"1"}, {Kind::Text, L"it'"}}},
      {L" T ", {{Kind::Number, L"1e999"}, {Kind::Null, L""}}},
      {L"T", {{Kind::Text, L"many"}, {Kind::Null, L""}}},
      {L"T", {{Kind::Null, L""}, {Kind::Text, L"abcd"}}},
      {L"T", {{Kind::Null, L""}}},
      {L"Missing", {{Kind::Number, L"1"}}},
  };
  for (const auto& [table, values] : rows) {
    std::wstring text = L"INSERT INTO " + table + L" VALUES(";
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i > 0) text += L',';
      if (values[i].kind == Kind::Null) text += L"NULL";
      if (values[i].kind == Kind::Number) text += values[i].text;
      if (values[i].kind == Kind::Text) {
        text += L'\'';
        for (wchar_t c : values[i].text) text += c == L'\'' ? std::wstring(L"''") : std::wstring(1, c);
        text += L'\'';
      }
    }
    text += L");";
    const std::wstring asLiterals = answer(db, [&](CDatabase& d) { EXPECT_TRUE(d.InsertRow(table, values)); });
    EXPECT_EQ(asLiterals, answer(db, [&](CDatabase& d) { d.ExecuteSQL(text); })) << text;
  }
  // A number its text would not read back as is left to the text.
  EXPECT_FALSE(db.InsertRow(L"T", {{Kind::Number, L"twelve"}, {Kind::Null, L""}}));
  db.Close();
  EXPECT_EQ(answer(db,
                   [](CDatabase& d) {
                     d.InsertRow(L"T", {{Kind::Number, L"1"}, {Kind::Null, L""}});
                   })
                .substr(0, 5),
            L"08003");

  // A read-only workbook refuses a row whichever way it comes.
  db.OpenEx(L"DRIVER={Microsoft Excel Driver (*.xls)};READONLY=1;DBQ=" + text::Utf8ToWide(file.string()));
  const std::wstring readOnly = answer(db, [](CDatabase& d) {
    d.InsertRow(L"T", {{Kind::Number, L"2"}, {Kind::Null, L""}});
  });
  EXPECT_EQ(readOnly.substr(0, 5), L"HY000");
  EXPECT_EQ(readOnly, answer(db, [](CDatabase& d) { d.ExecuteSQL(L"INSERT INTO T VALUES(2,NULL);"); }));
  db.Close();
  const auto lines = DumpXls(file);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "sheet\tT\t3\t2");  // the header and the one good row, once from each way
}

TEST_F(ExcelDriverTest, PathsWithSpecialCharactersReachTheirFile) {
  const auto file = m_dir / "a;b=c {d} 'e' \"f\" \u00e4.xls";
  {
    CDatabase db;
    db.OpenEx(NewWorkbookConnect(file), CDatabase::noOdbcDialog);
    db.ExecuteSQL(L"CREATE TABLE T ([A] TEXT)");
  }
  ASSERT_TRUE(std::filesystem::exists(file));
  CDatabase db;
  db.Open(nullptr, false, false, ExistingWorkbookConnect(file));
  db.ExecuteSQL(L"CREATE TABLE U ([A] TEXT)");
  db.Close();
  const auto lines = DumpXls(file);
  EXPECT_TRUE(Has(lines, "sheet\tT\t1\t1"));
  EXPECT_TRUE(Has(lines, "sheet\tU\t1\t1"));
}

// The globals' record ids, a run of the same id counted once.
std::vector<std::string> GlobalsRecords(const std::filesystem::path& file) {
  std::vector<std::string> ids = testing::OutputLines(std::string(QUILLON_PYTHON) + " " + QUILLON_XLS_DUMP +
                                                      " --globals " + testing::ShellQuote(file.string()));
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

TEST_F(ExcelDriverTest, ANewWorkbooksGlobalsFollowExcelsOrderAndASecondWriterAddsASheet) {
  const auto file = m_dir / "second.xls";
  {
    CDatabase db;
    db.OpenEx(NewWorkbookConnect(file), CDatabase::noOdbcDialog);
    db.ExecuteSQL(L"CREATE TABLE Ours ([S] TEXT)");
    db.ExecuteSQL(L"INSERT INTO Ours VALUES('x')");
  }
  // Every record of ours comes in the order a workbook Excel wrote has it, COUNTRY (008C) and
  // INTERFACEEND (00E2) among them.
  const std::vector<std::string> ours = GlobalsRecords(file);
  const std::vector<std::string> excel = GlobalsRecords(QUILLON_TESTDATA_DIR "/xls/namesdemo.xls");
  for (const char* id : {"00E2", "008C"}) EXPECT_NE(std::find(ours.begin(), ours.end(), id), ours.end()) << id;
  auto at = excel.begin();
  for (const std::string& id : ours) {
    at = std::find(at, excel.end(), id);
    ASSERT_NE(at, excel.end()) << id << " is not where Excel puts it";
  }
  QUILLON_REQUIRE_TOOL(!std::string(QUILLON_SSCONVERT).empty()) << "Gnumeric (ssconvert) is not installed";
  const auto csv = m_dir / "ours.csv";
  const auto read = testing::RunCommand(std::string(QUILLON_SSCONVERT) + " " + testing::ShellQuote(file.string()) +
                                        " " + testing::ShellQuote(csv.string()) + " 2>&1");
  ASSERT_EQ(read.status, 0) << read.output;
  EXPECT_EQ(testing::ReadBytes(csv), "S\nx\n");
  QUILLON_REQUIRE_TOOL(!std::string(QUILLON_POI_RUN).empty()) << "Apache POI (libapache-poi-java) is not installed";
  const auto added =
      testing::RunCommand(std::string(QUILLON_POI_RUN) + " " + testing::ShellQuote(file.string()) + " Theirs y 2>&1");
  ASSERT_EQ(added.status, 0) << added.output;
  EXPECT_EQ(DumpXls(file), (std::vector<std::string>{"sheet\tOurs\t2\t1", "0\t0\t0\ttext\tS", "0\t1\t0\ttext\tx",
                                                     "sheet\tTheirs\t1\t1", "1\t0\t0\ttext\ty"}));
}

// Bytes this process has handed to write calls so far (the kernel's count).
std::uint64_t BytesWritten() {
  std::ifstream io("/proc/self/io");
  std::string name;
  std::uint64_t value = 0;
  while (io >> name >> value) {
    if (name == "wchar:") return value;
  }
  return 0;
}

TEST_F(ExcelDriverTest, CellsAndStringsLargerThanTheirBuffersAreWrittenOnceAndEveryReaderReadsThem) {
  const auto file = m_dir / "spooled.xls";
  const auto row = [](int i) {
    return std::to_wstring(i) + L",'text-number-" + std::to_wstring(i) + L"'," + std::to_wstring(i) + L".5";
  };
  const std::uint64_t before = BytesWritten();
  {
    CDatabase db;
    db.OpenEx(NewWorkbookConnect(file), CDatabase::noOdbcDialog);
    for (const wchar_t* table : {L"One", L"Two"}) {
      db.ExecuteSQL(std::wstring(L"CREATE TABLE ") + table + L" ([I] INTEGER,[S] TEXT,[D] DOUBLE)");
      for (int i = 0; i < 4000; ++i) db.ExecuteSQL(std::wstring(L"INSERT INTO ") + table + L" VALUES(" + row(i) + L")");
    }
  }
  const std::uint64_t written = BytesWritten() - before;
  EXPECT_LE(written, std::filesystem::file_size(file) * 11 / 10) << "written " << written;
  // A later connection adds a table after the sheets it copies.
  {
    CDatabase db;
    db.OpenEx(ExistingWorkbookConnect(file), CDatabase::noOdbcDialog);
    db.ExecuteSQL(L"CREATE TABLE Three ([S] TEXT)");
    db.ExecuteSQL(L"INSERT INTO Three VALUES('x')");
  }
  const auto lines = DumpXls(file);
  ASSERT_EQ(lines.size(), 3u + 2 * 4001 * 3 + 2);
  EXPECT_EQ(lines[0], "sheet\tOne\t4001\t3");
  EXPECT_TRUE(Has(lines, "1\t4000\t1\ttext\ttext-number-3999"));
  EXPECT_TRUE(Has(lines, "1\t4000\t2\tnumber\t3999.5"));
  EXPECT_EQ(lines.back(), "2\t1\t0\ttext\tx");

  QUILLON_REQUIRE_TOOL(!std::string(QUILLON_SSCONVERT).empty()) << "Gnumeric (ssconvert) is not installed";
  const auto csv = m_dir / "gnumeric.csv";
  const auto read = testing::RunCommand(std::string(QUILLON_SSCONVERT) + " -S " + testing::ShellQuote(file.string()) +
                                        " " + testing::ShellQuote(csv.string()) + " 2>&1");
  ASSERT_EQ(read.status, 0) << read.output;
  const std::string second = testing::ReadBytes(csv.string() + ".1");
  EXPECT_TRUE(second.starts_with("I,S,D\n0,text-number-0,0.5\n")) << second.substr(0, 100);
  EXPECT_TRUE(second.ends_with("\n3999,text-number-3999,3999.5\n"));

  QUILLON_REQUIRE_TOOL(!std::string(QUILLON_SOFFICE).empty()) << "LibreOffice (soffice) is not installed";
  const auto out = m_dir / "csv";
  const auto converted = testing::RunCommand(
      std::string(QUILLON_SOFFICE) + " --headless -env:UserInstallation=file://" + (m_dir / "profile").string() +
      " --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1' --outdir " +
      testing::ShellQuote(out.string()) + " " + testing::ShellQuote(file.string()) + " 2>&1");
  ASSERT_EQ(converted.status, 0) << converted.output;
  EXPECT_EQ(testing::ReadBytes(out / "spooled-Two.csv"), second);

  QUILLON_REQUIRE_TOOL(!std::string(QUILLON_POI_RUN).empty()) << "Apache POI (libapache-poi-java) is not installed";
  const auto added =
      testing::RunCommand(std::string(QUILLON_POI_RUN) + " " + testing::ShellQuote(file.string()) + " Theirs y 2>&1");
  ASSERT_EQ(added.status, 0) << added.output;
  const auto again = DumpXls(file);
  EXPECT_TRUE(Has(again, "1\t4000\t1\ttext\ttext-number-3999"));
  EXPECT_EQ(again.back(), "3\t0\t0\ttext\ty");
}

TEST_F(ExcelDriverTest, LibreOfficeReadsTheSameValues) {
  QUILLON_REQUIRE_TOOL(!std::string(QUILLON_SOFFICE).empty()) << "LibreOffice (soffice) is not installed";
  const auto file = m_dir / "lo.xls";
  {
    CDatabase db;
    db.OpenEx(NewWorkbookConnect(file), CDatabase::noOdbcDialog);
    db.ExecuteSQL(L"CREATE TABLE First ([I] INTEGER,[S] TEXT,[D] DATE,[X] DOUBLE)");
    db.ExecuteSQL(L"INSERT INTO First VALUES(1,'\u00e9t\u00e9 \U0001F600','2024-03-05 07:08:09',0.1)");
    db.ExecuteSQL(L"INSERT INTO First VALUES(-7,'two',NULL,1e-7)");
    db.ExecuteSQL(L"CREATE TABLE Second ([S] TEXT)");
    db.ExecuteSQL(L"INSERT INTO Second VALUES('x')");
  }
  const auto out = m_dir / "csv";
  const std::string profile = "file://" + (m_dir / "profile").string();
  const auto result =
      testing::RunCommand(std::string(QUILLON_SOFFICE) + " --headless -env:UserInstallation=" + profile +
                          " --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,"
                          "false,false,-1' --outdir " +
                          testing::ShellQuote(out.string()) + " " + testing::ShellQuote(file.string()) + " 2>&1");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(testing::ReadBytes(out / "lo-First.csv"),
            "I,S,D,X\n1,\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80,2024-03-05 07:08:09,0.1\n-7,two,,0.0000001\n");
  EXPECT_EQ(testing::ReadBytes(out / "lo-Second.csv"), "S\nx\n");
}

}  // namespace
}  // namespace quillon::drivers::excel
