// Round trips through the Access driver: files it writes are read back by mdbtools and by
// mdb-reader, which are not our code.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "drivers/access/AccessDriver.h"
#include "drivers/access/DataPage.h"
#include "drivers/access/HeaderPage.h"
#include "drivers/access/Jet4Format.h"
#include "drivers/access/PageFile.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Installer.h"
#include "platform/text/WideText.h"
#include "tests/drivers/access/ReaderHelpers.h"
#include "tests/support/Command.h"
#include "tests/support/Require.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers::access::test {
namespace {

using odbc::CDatabase;
using odbc::CDBException;

std::string Json(const std::filesystem::path& file, const std::string& table) {
  return Mdb("mdb-json -T '%Y-%m-%d %H:%M:%S'", file, testing::ShellQuote(table));
}

using AccessDriverTest = AccessTest;

TEST_F(AccessDriverTest, NewDatabaseWithEveryTypeReadsBackInBothReaders) {
  const auto file = m_dir / "every type.mdb";
  ASSERT_EQ(CreateDatabase(file), 1);
  EXPECT_EQ(Mdb("mdb-ver", file), "JET4\n");
  {
    OpenDatabase db(file);
    Execute(db,
            L"CREATE TABLE [All Types] ([Name] TEXT, Code VARCHAR(10), Notes MEMO, Amount DOUBLE, Flag BIT, "
            L"Counter INTEGER, Small SMALLINT, Stamp DATE)");
    Execute(db,
            L"INSERT INTO [All Types] VALUES('Anna', 'A-1', 'short note', 1.5, 1, 2147483647, -32768, "
            L"'2024-02-29 13:45:10')");
    Execute(db, L"INSERT INTO [All Types] VALUES(NULL, NULL, NULL, NULL, 0, NULL, NULL, NULL)");
    Execute(db, L"INSERT INTO [All Types] VALUES('', '', '', -0.0000001, 1, -2147483648, 32767, '1.1.1900')");
    Execute(db,
            L"INSERT INTO [All Types] VALUES('Grüße “quoted” 😀 日本', 'Ωμέγα', 'it''s 😀', 1e300, 0, 0, 0, "
            L"'12/31/2150 23:59:59')");
    db.Close();
  }
  EXPECT_EQ(Mdb("mdb-tables -1", file), "All Types\n");
  EXPECT_EQ(Mdb("mdb-count", file, "'All Types'"), "4\n");

  const std::string schema = Mdb("mdb-schema", file, "access");
  for (const char* column : {"[Name]\t\t\tText (255)", "[Code]\t\t\tText (10)", "[Notes]\t\t\tMemo/Hyperlink (255)",
                             "[Amount]\t\t\tDouble", "[Flag]\t\t\tBoolean NOT NULL", "[Counter]\t\t\tLong Integer",
                             "[Small]\t\t\tInteger", "[Stamp]\t\t\tDateTime"}) {
    EXPECT_NE(schema.find(column), std::string::npos) << column << "\n" << schema;
  }

  // mdbtools leaves empty text out of its JSON and shows characters outside the Basic
  // Multilingual Plane as "??" (it converts from UCS-2); mdb-reader below checks both exactly.
  const std::string json = Json(file, "All Types");
  EXPECT_EQ(json,
            "{\"Name\":\"Anna\",\"Code\":\"A-1\",\"Notes\":\"short note\",\"Amount\":1.5,\"Flag\":1,"
            "\"Counter\":2147483647,\"Small\":-32768,\"Stamp\":\"2024-02-29 13:45:10\"}\n"
            "{\"Flag\":0}\n"
            "{\"Amount\":-1e-07,\"Flag\":1,\"Counter\":-2147483648,"
            "\"Small\":32767,\"Stamp\":\"1900-01-01 00:00:00\"}\n"
            "{\"Name\":\"Grüße “quoted” ?? 日本\",\"Code\":\"Ωμέγα\",\"Notes\":\"it's ??\",\"Amount\":1e+300,"
            "\"Flag\":0,\"Counter\":0,\"Small\":0,\"Stamp\":\"2150-12-31 23:59:59\"}\n");

  QUILLON_REQUIRE_TOOL(HaveMdbReader()) << "mdb-reader is not installed (npm was unavailable at configure time)";
  const std::string reader = MdbReader(file, "'All Types'");
  for (const char* part :
       {"\"tables\":{\"All Types\":4}", "\"Name\":\"Grüße “quoted” 😀 日本\"", "\"Stamp\":\"2024-02-29T13:45:10.000Z\"",
        "\"Notes\":null",
        "{\"Name\":\"\",\"Code\":\"\",\"Notes\":\"\",\"Amount\":-1e-7,\"Flag\":true,\"Counter\":-2147483648",
        "\"Notes\":\"it's 😀\"", "\"read\":4"})
    EXPECT_NE(reader.find(part), std::string::npos) << part << "\n" << reader;
}

TEST_F(AccessDriverTest, HundredThousandRowsSpanManyPagesWithExactCount) {
  const auto file = m_dir / "many.mdb";
  ASSERT_EQ(CreateDatabase(file), 1);
  constexpr int kRows = 100000;
  {
    OpenDatabase db(file);
    Execute(db, L"CREATE TABLE Big (Id INTEGER, Label VARCHAR(40), Amount DOUBLE)");
    for (int i = 0; i < kRows; ++i) {
      Execute(db, L"INSERT INTO Big VALUES(" + std::to_wstring(i) + L", 'row " + std::to_wstring(i) + L"', " +
                      std::to_wstring(i) + L".25)");
    }
  }  // destruction writes the file out
  EXPECT_EQ(Mdb("mdb-count", file, "Big"), std::to_string(kRows) + "\n");
  const auto csv = Mdb("mdb-export -H", file,
                       "Big | awk -F, '{ if ($1 != NR-1 || $2 != \"\\\"row \" NR-1 "
                       "\"\\\"\" || $3 != NR-1+0.25) bad++ } END { print NR, bad+0 }'");
  EXPECT_EQ(csv, "100000 0\n");
  QUILLON_REQUIRE_TOOL(HaveMdbReader()) << "mdb-reader is not installed";
  const std::string reader = MdbReader(file, "Big");
  EXPECT_NE(reader.find("\"tables\":{\"Big\":100000}"), std::string::npos) << reader.substr(0, 300);
  EXPECT_NE(reader.find("\"read\":100000"), std::string::npos) << reader.substr(reader.size() - 300);
  EXPECT_NE(reader.find("{\"Id\":99999,\"Label\":\"row 99999\",\"Amount\":99999.25}"), std::string::npos);
}

TEST_F(AccessDriverTest, MemoValuesOfAnyLengthRoundTrip) {
  const auto file = m_dir / "memo.mdb";
  ASSERT_EQ(CreateDatabase(file), 1);
  // Inline, one long-value row (up to a page: 4078 characters and the compression marker),
  // chains over several pages; plain and two-byte text.
  const std::vector<std::size_t> lengths = {10, 900, 3000, 4078, 4079, 4100, 20000, 150000};
  {
    OpenDatabase db(file);
    Execute(db, L"CREATE TABLE Notes (N INTEGER, Body MEMO, Tail VARCHAR(5))");
    int n = 0;
    for (const std::size_t length : lengths) {
      std::wstring ascii(length, L'x');
      for (std::size_t i = 0; i < length; i += 97) ascii[i] = static_cast<wchar_t>(L'a' + (i / 97) % 26);
      Execute(db, L"INSERT INTO Notes VALUES(" + std::to_wstring(n++) + L", '" + ascii + L"', 'end')");
      std::wstring wide;
      while (wide.size() < length) wide += L"Ж😀";
      Execute(db, L"INSERT INTO Notes VALUES(" + std::to_wstring(n++) + L", '" + wide + L"', 'end')");
    }
  }
  EXPECT_EQ(Mdb("mdb-count", file, "Notes"), std::to_string(lengths.size() * 2) + "\n");
  // mdbtools: the ASCII memos, character for character (its export shows the others as '?').
  const auto lengthsSeen =
      Mdb("mdb-export -H -Q -d '|'", file, "Notes | awk -F'|' '$1 % 2 == 0 { print length($2), $3 }'");
  EXPECT_EQ(lengthsSeen, "10 end\n900 end\n3000 end\n4078 end\n4079 end\n4100 end\n20000 end\n150000 end\n");
  const auto body = Mdb("mdb-export -H -Q -d '|'", file, "Notes | awk -F'|' '$1 == 14 { print $2 }'");
  std::string expected(150000, 'x');
  for (std::size_t i = 0; i < expected.size(); i += 97) expected[i] = static_cast<char>('a' + (i / 97) % 26);
  EXPECT_EQ(body, expected + "\n");
  QUILLON_REQUIRE_TOOL(HaveMdbReader()) << "mdb-reader is not installed";
  const std::string reader = MdbReader(file, "Notes");
  std::string wide;
  for (int i = 0; i < 10000; ++i) wide += "Ж😀";  // the 20000-character value of row 13
  EXPECT_NE(reader.find("\"N\":13,\"Body\":\"" + wide + "\""), std::string::npos);
  EXPECT_NE(reader.find("\"N\":14,\"Body\":\"" + expected + "\""), std::string::npos);
}

// Everything mdbtools sees in a database: table list, and every table's schema and rows.
std::string Everything(const std::filesystem::path& file) {
  std::string out = Mdb("mdb-tables -1", file);
  std::istringstream tables(out);
  for (std::string table; std::getline(tables, table);) {
    out += "== " + table + "\n" + Mdb("mdb-schema -T " + testing::ShellQuote(table), file, "access") +
           Mdb("mdb-export", file, testing::ShellQuote(table));
  }
  return out;
}

TEST_F(AccessDriverTest, TablesFilledTogetherKeepTheirOwnPages) {
  const auto file = m_dir / "together.mdb";
  ASSERT_EQ(CreateDatabase(file), 1);
  {
    OpenDatabase db(file);
    Execute(db, L"CREATE TABLE A (N INTEGER, Note MEMO)");
    Execute(db, L"CREATE TABLE B (Word VARCHAR(30))");
    for (int i = 0; i < 6000; ++i) {
      Execute(db, L"INSERT INTO A VALUES(" + std::to_wstring(i) + L", '" + std::wstring(i % 5 == 0 ? 5000 : 20, L'n') +
                      L"')");
      Execute(db, L"INSERT INTO B VALUES('b" + std::to_wstring(i) + L"')");
    }
  }
  EXPECT_EQ(Mdb("mdb-count", file, "A"), "6000\n");
  EXPECT_EQ(Mdb("mdb-count", file, "B"), "6000\n");
  EXPECT_EQ(Mdb("mdb-export -H", file, "B | sort -u | wc -l"), "6000\n");
  EXPECT_EQ(Mdb("mdb-export -H -Q", file, "A | awk -F, 'length($2) != ($1 % 5 == 0 ? 5000 : 20)' | wc -l"), "0\n");
  QUILLON_REQUIRE_TOOL(HaveMdbReader()) << "mdb-reader is not installed";
  // mdb-reader refuses a page in a table's map that another table owns.
  const auto reader = MdbReader(file, "A B");
  EXPECT_NE(reader.find("\"tables\":{\"A\":6000,\"B\":6000}"), std::string::npos) << reader.substr(0, 300);
  EXPECT_NE(reader.find("\"read\":12000"), std::string::npos) << reader.substr(0, 300);
}

TEST_F(AccessDriverTest, TablesAddedByLaterConnectionsKeepEverythingBefore) {
  const auto file = m_dir / "shared.mdb";
  ASSERT_EQ(CreateDatabase(file), 1);
  for (int t = 0; t < 4; ++t) {
    OpenDatabase db(file);
    const std::wstring name = L"T" + std::to_wstring(t);
    Execute(db, L"CREATE TABLE " + name + L" (Id INTEGER, Word VARCHAR(20))");
    for (int i = 0; i < 500 * (t + 1); ++i) {
      Execute(db, L"INSERT INTO " + name + L" VALUES(" + std::to_wstring(i) + L", 'w" + std::to_wstring(t) + L"')");
    }
    EXPECT_THROW(Execute(db, L"CREATE TABLE t0 (X INTEGER)"), CDBException);
    db.Close();
  }
  EXPECT_EQ(Mdb("mdb-tables -1", file), "T0\nT1\nT2\nT3\n");
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ(Mdb("mdb-count", file, "T" + std::to_string(t)), std::to_string(500 * (t + 1)) + "\n");
  }
  QUILLON_REQUIRE_TOOL(HaveMdbReader()) << "mdb-reader is not installed";
  EXPECT_NE(MdbReader(file).find("{\"tables\":{\"T0\":500,\"T1\":1000,\"T2\":1500,\"T3\":2000}"), std::string::npos);
}

TEST_F(AccessDriverTest, AddingToDatabasesWrittenByAccessKeepsEveryTableAndRow) {
  int checked = 0;
  for (const auto& file : CopyAccessSamples(m_dir)) {
    SCOPED_TRACE(file.filename().string());
    const std::string before = Everything(file);
    const std::string readerBefore = HaveMdbReader() ? MdbReader(file) : "";
    {
      OpenDatabase db(file);
      Execute(db, L"CREATE TABLE [Quillon Export] (Id INTEGER, Word TEXT, Note MEMO, Day DATE)");
      for (int i = 0; i < 3000; ++i) {
        Execute(db, L"INSERT INTO [Quillon Export] VALUES(" + std::to_wstring(i) + L", 'word " + std::to_wstring(i) +
                        L"', '" + std::wstring(static_cast<std::size_t>(i % 7) * 700, L'm') + L"', '2001-02-03')");
      }
      db.Close();
    }
    const std::string after = Everything(file);
    const std::string added = "== Quillon Export\n";
    ASSERT_NE(after.find(added), std::string::npos) << after.substr(0, 400);
    // The old tables read exactly as before; the new one is listed last and holds its rows.
    std::string expected = before;
    const auto listEnd = before.find("== ");
    expected.insert(listEnd == std::string::npos ? before.size() : listEnd, "Quillon Export\n");
    EXPECT_EQ(after.substr(0, after.find(added)), expected);
    EXPECT_EQ(Mdb("mdb-count", file, "'Quillon Export'"), "3000\n");
    // The new table has the permissions of the Tables container, as Access gives a new table.
    const std::string id =
        Mdb("mdb-export -H", file, "MSysObjects | awk -F, '$3 == \"\\\"Quillon Export\\\"\" { print $1 }'");
    ASSERT_FALSE(id.empty());
    const auto aces = [&](const std::string& object) {
      return Mdb("mdb-export -H", file, "MSysACEs | awk -F, '$1 == " + object + " { $1 = \"\"; print }'");
    };
    EXPECT_EQ(aces(id.substr(0, id.size() - 1)), aces("251658241"));
    if (HaveMdbReader()) {
      std::string readerAfter = MdbReader(file);
      const std::string listed = "\"Quillon Export\":3000}";
      auto at = readerAfter.find(listed);
      ASSERT_NE(at, std::string::npos) << readerAfter;
      std::size_t length = listed.size() - 1;
      if (at > 0 && readerAfter[at - 1] == ',') --at, ++length;
      EXPECT_EQ(readerAfter.erase(at, length), readerBefore);
    }
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

std::wstring ErrorOf(CDatabase& db, const std::wstring& sql) {
  try {
    db.ExecuteSQL(sql);
  } catch (const CDBException& e) {
    return e.m_strMessage + L" [" + e.m_strSqlState + L"]";
  }
  return L"(accepted)";
}

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

TEST_F(AccessDriverTest, ValuesThatDoNotFitAreRefusedPerRow) {
  const auto file = m_dir / "limits.mdb";
  ASSERT_EQ(CreateDatabase(file), 1);
  OpenDatabase db(file);
  Execute(db, L"CREATE TABLE L (S SMALLINT, I INTEGER, V VARCHAR(3), D DATE, B BIT, X DOUBLE)");
  Execute(db, L"INSERT INTO L VALUES(1, 1, 'abc', '2020-01-01', 1, 1)");
  EXPECT_TRUE(Contains(ErrorOf(db, L"INSERT INTO L VALUES(32768, 1, 'a', NULL, 0, 0)"), L"[22003]"));
  EXPECT_TRUE(Contains(ErrorOf(db, L"INSERT INTO L VALUES(1, 2147483648, 'a', NULL, 0, 0)"), L"[22003]"));
  EXPECT_TRUE(Contains(ErrorOf(db, L"INSERT INTO L VALUES(1, 1, 'abcd', NULL, 0, 0)"), L"[22001]"));
  EXPECT_TRUE(Contains(ErrorOf(db, L"INSERT INTO L VALUES(1, 'many', 'a', NULL, 0, 0)"), L"[22018]"));
  EXPECT_TRUE(Contains(ErrorOf(db, L"INSERT INTO L VALUES(1, 1, 'a', '2023-02-30', 0, 0)"), L"[22007]"));
  EXPECT_TRUE(Contains(ErrorOf(db, L"INSERT INTO L VALUES(1, 1, 'a')"), L"Number of query values"));
  EXPECT_TRUE(Contains(ErrorOf(db, L"INSERT INTO Nowhere VALUES(1)"), L"'Nowhere' does not exist"));
  EXPECT_EQ(ErrorOf(db, L"CREATE TABLE l (A INTEGER)"), L"Table 'l' already exists. [42S01]");
  EXPECT_TRUE(Contains(ErrorOf(db, L"CREATE TABLE [a.b] (A INTEGER)"), L"not a valid table name"));
  EXPECT_TRUE(Contains(ErrorOf(db, L"CREATE TABLE Twice (A INTEGER, a TEXT)"), L"already exists in table"));
  // Letter case aside in accented, Greek and Cyrillic names too, whatever the process locale.
  EXPECT_TRUE(Contains(ErrorOf(db, L"CREATE TABLE Accents ([é] INTEGER, [É] TEXT)"), L"already exists in table"));
  EXPECT_TRUE(Contains(ErrorOf(db, L"CREATE TABLE Greek ([δ] INTEGER, [Δ] TEXT)"), L"already exists in table"));
  EXPECT_TRUE(Contains(ErrorOf(db, L"CREATE TABLE Cyrillic ([ж] INTEGER, [Ж] TEXT)"), L"already exists in table"));
  std::wstring columns;
  for (int i = 0; i < 256; ++i) columns += (i ? L", C" : L"C") + std::to_wstring(i) + L" INTEGER";
  EXPECT_TRUE(Contains(ErrorOf(db, L"CREATE TABLE Wide (" + columns + L")"), L"Too many fields defined"));
  // Sixteen full Text(255) columns of text that cannot be compressed exceed a row's limit.
  std::wstring create = L"CREATE TABLE Fat (";
  std::wstring insert = L"INSERT INTO Fat VALUES(";
  for (int i = 0; i < 16; ++i) {
    create += (i ? L", F" : L"F") + std::to_wstring(i) + L" TEXT";
    insert += (i ? L", '" : L"'") + std::wstring(255, L'Ж') + L"'";
  }
  Execute(db, create + L")");
  EXPECT_EQ(ErrorOf(db, insert + L")"), L"Record is too large. [HY000]");
  Execute(db, L"INSERT INTO L VALUES(-32768, -5, '', '31.12.1999 23:59', 0, -2.5)");
  db.Close();
  EXPECT_EQ(Mdb("mdb-count", file, "L"), "2\n");
  EXPECT_EQ(Mdb("mdb-count", file, "Fat"), "0\n");
  EXPECT_EQ(Mdb("mdb-tables -1", file), "L\nFat\n");
}

TEST_F(AccessDriverTest, BinaryValuesOfAnyLengthArriveWholeInAnOleObject) {
  const auto file = m_dir / "binary.mdb";
  ASSERT_EQ(CreateDatabase(file), 1);
  // No bytes, inline, one long-value row either side of a page, and a chain over many pages;
  // every byte value appears.
  const std::vector<std::size_t> sizes = {0, 1, 126, 127, 4000, 5000, 100000};
  std::vector<std::string> hex;
  {
    OpenDatabase db(file);
    Execute(db, L"CREATE TABLE Blobs (N INTEGER, B LONGBINARY)");
    for (std::size_t n = 0; n < sizes.size(); ++n) {
      std::string digits;
      for (std::size_t i = 0; i < sizes[n]; ++i) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        const unsigned byte = (i * 31 + n) & 0xFF;
        digits += kDigits[byte >> 4];
        digits += kDigits[byte & 0xF];
      }
      hex.push_back(digits);
      Execute(db, L"INSERT INTO Blobs VALUES(" + std::to_wstring(n) + L", 0x" + text::Utf8ToWide(digits) + L")");
    }
    Execute(db, L"INSERT INTO Blobs VALUES(99, NULL)");
    EXPECT_TRUE(Contains(ErrorOf(db, L"INSERT INTO Blobs VALUES(100, '0x00')"), L"[22018]"));
  }
  EXPECT_NE(Mdb("mdb-schema", file).find("[B]\t\t\tOLE"), std::string::npos);
  std::string expected;
  for (std::size_t n = 0; n < sizes.size(); ++n) expected += std::to_string(n) + "|" + hex[n] + "\n";
  EXPECT_EQ(Mdb("mdb-export -H -Q -d '|' -b hex", file, "Blobs"), expected + "99|\n");
  QUILLON_REQUIRE_TOOL(HaveMdbReader()) << "mdb-reader is not installed";
  const std::string reader = MdbReader(file, "Blobs");
  for (std::size_t n = 0; n < sizes.size(); ++n) {
    std::string bytes;
    for (std::size_t i = 0; i < sizes[n]; ++i) bytes += (i ? "," : "") + std::to_string((i * 31 + n) & 0xFF);
    EXPECT_NE(reader.find("\"N\":" + std::to_string(n) + ",\"B\":{\"type\":\"Buffer\",\"data\":[" + bytes + "]}"),
              std::string::npos)
        << sizes[n] << " bytes";
  }
  EXPECT_NE(reader.find("\"N\":99,\"B\":null"), std::string::npos);
}

TEST_F(AccessDriverTest, DoublesTakeNaNAndTheInfinitiesAndTextColumnsTheirWords) {
  const auto file = m_dir / "nonfinite.mdb";
  ASSERT_EQ(CreateDatabase(file), 1);
  {
    OpenDatabase db(file);
    Execute(db, L"CREATE TABLE F (N INTEGER, X DOUBLE, T VARCHAR(20))");
    Execute(db, L"INSERT INTO F VALUES(1, NaN, NaN)");
    Execute(db, L"INSERT INTO F VALUES(2, Infinity, Infinity)");
    Execute(db, L"INSERT INTO F VALUES(3, -Infinity, -Infinity)");
    Execute(db, L"INSERT INTO F VALUES(4, -0, -0)");
    EXPECT_TRUE(Contains(ErrorOf(db, L"INSERT INTO F VALUES(NaN, 1, 'x')"), L"[22003]"));
    EXPECT_TRUE(Contains(ErrorOf(db, L"INSERT INTO F VALUES(5, 1e999, 'x')"), L"[22003]"));
  }
  EXPECT_EQ(Mdb("mdb-export -H", file, "F"), "1,nan,\"NaN\"\n2,inf,\"Infinity\"\n3,-inf,\"-Infinity\"\n4,-0,\"-0\"\n");
}

// Copies of a database altered the way other kinds of file differ from a Jet 4 one.
std::string Altered(std::string bytes, const std::string& how) {
  Page header{};
  std::copy_n(bytes.begin(), header.size(), header.begin());
  if (how == "jet3") header[jet4::header::kVersionOffset] = jet4::header::kVersionJet3;
  if (how == "ace") {
    std::copy_n("Standard ACE DB", 15, header.begin() + 4);
    header[jet4::header::kVersionOffset] = 0x02;
  }
  if (how == "encrypted" || how == "password") {
    ToggleHeaderMask(header);
    if (how == "encrypted") header[jet4::header::kEncodingKeyOffset] = 0x5A;
    if (how == "password") header[jet4::header::kPasswordOffset] ^= 's';
    ToggleHeaderMask(header);
  }
  std::copy(header.begin(), header.end(), bytes.begin());
  if (how == "truncated") bytes.resize(bytes.size() - 100);
  if (how == "two pages") bytes.resize(2 * jet4::kPageSize);
  if (how == "text") bytes = "Name,Value\nA,1\n";
  if (how == "empty") bytes.clear();
  return bytes;
}

TEST_F(AccessDriverTest, ForeignFilesAreRefusedAndLeftUntouched) {
  const auto good = m_dir / "good.mdb";
  ASSERT_EQ(CreateDatabase(good), 1);
  const std::string original = testing::ReadBytes(good);
  const std::vector<std::pair<std::string, std::wstring>> cases = {{"jet3", L"Access 97"},
                                                                   {"ace", L"Access 2007"},
                                                                   {"encrypted", L"encrypted"},
                                                                   {"password", L"password"},
                                                                   {"truncated", L"not a whole number of pages"},
                                                                   {"two pages", L"before its catalog on page 2"},
                                                                   {"text", L"not an Access database"},
                                                                   {"empty", L"not an Access database"}};
  for (const auto& [how, message] : cases) {
    SCOPED_TRACE(how);
    const auto file = m_dir / ("refused-" + how + ".mdb");
    WriteBytes(file, Altered(original, how));
    const std::string before = testing::ReadBytes(file);
    CDatabase db;
    try {
      db.OpenEx(ConnectString(file));
      ADD_FAILURE() << "opened";
    } catch (const CDBException& e) {
      EXPECT_TRUE(Contains(e.m_strMessage, message)) << text::WideToUtf8(e.m_strMessage);
      EXPECT_TRUE(Contains(e.m_strMessage, text::Utf8ToWide(file.string()))) << text::WideToUtf8(e.m_strMessage);
    }
    EXPECT_EQ(testing::ReadBytes(file), before);
  }
  const auto readOnly = m_dir / "read-only.mdb";
  std::filesystem::copy_file(good, readOnly);
  std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  try {
    CDatabase().OpenEx(ConnectString(readOnly));
    ADD_FAILURE() << "opened a read-only file";
  } catch (const CDBException& e) {
    EXPECT_TRUE(Contains(e.m_strMessage, L"read-only")) << text::WideToUtf8(e.m_strMessage);
  }
  EXPECT_EQ(testing::ReadBytes(readOnly), original);
  EXPECT_THROW(CDatabase().OpenEx(ConnectString(m_dir / "missing.mdb")), CDBException);
  EXPECT_THROW(CDatabase().OpenEx(ConnectString(m_dir.Path())), CDBException);
  // Nothing was left beside the files.
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) ++files;
  EXPECT_EQ(files, cases.size() + 2);
}

TEST_F(AccessDriverTest, CreationRequestsThatCannotBeCarriedOutCreateNothing) {
  const auto file = m_dir / "made.mdb";
  ASSERT_EQ(CreateDatabase(file), 1);
  const std::string made = testing::ReadBytes(file);
  EXPECT_EQ(CreateDatabase(file), 0);  // exists
  EXPECT_EQ(testing::ReadBytes(file), made);
  EXPECT_EQ(CreateDatabase(m_dir / "no such folder" / "x.mdb"), 0);
  EXPECT_EQ(CreateDatabase(file / "inside a file.mdb"), 0);

  std::wstring attributes = L"CREATE_DB=\"" + text::Utf8ToWide((m_dir / "other.mdb").string()) + L"\"";
  attributes.push_back(L'\0');
  EXPECT_EQ(odbc::SQLConfigDataSourceW(nullptr, 2, kAccessDriverName, attributes.c_str()), 0);
  EXPECT_EQ(odbc::SQLConfigDataSourceW(nullptr, odbc::ODBC_ADD_DSN, L"Some Other Driver", attributes.c_str()), 0);
  std::wstring compact = L"COMPACT_DB=\"" + text::Utf8ToWide(file.string()) + L"\"";
  compact.push_back(L'\0');
  EXPECT_EQ(odbc::SQLConfigDataSourceW(nullptr, odbc::ODBC_ADD_DSN, kAccessDriverName, compact.c_str()), 0);
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) ++files;
  EXPECT_EQ(files, 1u);

  // Paths with the characters a connect string uses reach exactly that file.
  const auto odd = m_dir / "a;b=c {d} 'e' \"f\".mdb";
  ASSERT_EQ(CreateDatabase(odd), 1);
  OpenDatabase db(odd);
  Execute(db, L"CREATE TABLE T (A INTEGER)");
  db.Close();
  EXPECT_EQ(Mdb("mdb-tables -1", odd), "T\n");
}

TEST_F(AccessDriverTest, TheFileChangesOnlyWhenTheConnectionEnds) {
  const auto file = m_dir / "later.mdb";
  ASSERT_EQ(CreateDatabase(file), 1);
  const std::string before = testing::ReadBytes(file);
  {
    OpenDatabase db(file);
    Execute(db, L"CREATE TABLE T (A INTEGER)");
    Execute(db, L"INSERT INTO T VALUES(7)");
    EXPECT_EQ(testing::ReadBytes(file), before);
    EXPECT_THROW(Execute(db, L"INSERT INTO T VALUES('x')"), CDBException);
    // A second connection would replace the file with a version missing these rows.
    CDatabase second;
    try {
      second.OpenEx(ConnectString(file));
      ADD_FAILURE() << "a second connection opened the file";
    } catch (const CDBException& e) {
      EXPECT_TRUE(Contains(e.m_strMessage, L"in use")) << text::WideToUtf8(e.m_strMessage);
    }
  }  // a failed statement does not lose the rows before it
  EXPECT_EQ(Mdb("mdb-export -H", file, "T"), "7\n");
  CDatabase after;
  EXPECT_NO_THROW(after.OpenEx(ConnectString(file)));
}

TEST_F(AccessDriverTest, WideTableDefinitionSpansSeveralPages) {
  const auto file = m_dir / "wide.mdb";
  ASSERT_EQ(CreateDatabase(file), 1);
  std::wstring create = L"CREATE TABLE Wide (";
  std::wstring insert = L"INSERT INTO Wide VALUES(";
  for (int i = 0; i < 255; ++i) {
    std::wstring name = L"Column number " + std::to_wstring(i) + L" ";
    name.resize(64, L'Ä');
    create += (i ? L", [" : L"[") + name + (i % 3 == 0 ? L"] SMALLINT" : i % 3 == 1 ? L"] BIT" : L"] VARCHAR(2)");
    insert += i ? L", " : L"";
    insert += i % 3 == 0 ? std::to_wstring(i) : i % 3 == 1 ? L"1" : L"'ok'";
  }
  OpenDatabase db(file);
  Execute(db, create + L")");
  Execute(db, insert + L")");
  db.Close();
  const auto schema = Mdb("mdb-schema -T Wide", file, "access");
  EXPECT_NE(schema.find("[Column number 254 ÄÄ"), std::string::npos) << schema.substr(0, 500);
  const auto csv = Mdb("mdb-export -H -Q", file, "Wide");
  std::string expected;
  for (int i = 0; i < 255; ++i) expected += (i ? "," : "") + (i % 3 == 0 ? std::to_string(i) : i % 3 == 1 ? "1" : "ok");
  EXPECT_EQ(csv, expected + "\n");
  QUILLON_REQUIRE_TOOL(HaveMdbReader()) << "mdb-reader is not installed";
  EXPECT_NE(MdbReader(file).find("{\"tables\":{\"Wide\":1}"), std::string::npos);
}

TEST_F(AccessDriverTest, CatalogOfAnAccessFileGrowsPastItsInlineMap) {
  const std::filesystem::path original = QUILLON_TESTDATA_DIR "/jet4/access-empty.mdb";
  ASSERT_TRUE(std::filesystem::exists(original)) << "no Access test file at " << original;
  const auto file = CopyWritable(original, m_dir / "grown.mdb");
  {
    OpenDatabase db(file);
    Execute(db, L"CREATE TABLE Filler (T VARCHAR(200))");
    for (int i = 0; i < 20000; ++i) Execute(db, L"INSERT INTO Filler VALUES('" + std::wstring(150, L'Ж') + L"')");
  }
  ASSERT_GT(std::filesystem::file_size(file), 512u * 4096u);
  std::string expectedTables = "Filler\n";
  {
    // Enough tables to fill the catalog's page, so that it takes a page far into the file.
    OpenDatabase db(file);
    for (int t = 0; t < 60; ++t) {
      const std::string name = "Table number " + std::to_string(t);
      Execute(db, L"CREATE TABLE [" + text::Utf8ToWide(name) + L"] (N INTEGER)");
      Execute(db, L"INSERT INTO [" + text::Utf8ToWide(name) + L"] VALUES(" + std::to_wstring(t) + L")");
      expectedTables += name + "\n";
    }
  }
  {
    // The catalog's map had to leave its inline form for that page.
    PageFile copy(file, PageFile::Mode::CopyExisting);
    Page page{};
    copy.Read(jet4::catalog::kTdefPage, page);
    const std::uint32_t map = GetU32(page.data() + jet4::tdef::kUsageMapOffset);
    copy.Read(map >> 8, page);
    EXPECT_EQ(RowAt(page, static_cast<std::uint16_t>(map & 0xFF))[0], jet4::usage_map::kReference);
  }
  EXPECT_EQ(Mdb("mdb-tables -1", file), expectedTables);
  EXPECT_EQ(Mdb("mdb-export -H", file, "'Table number 59'"), "59\n");
  EXPECT_EQ(Mdb("mdb-count", file, "Filler"), "20000\n");
  QUILLON_REQUIRE_TOOL(HaveMdbReader()) << "mdb-reader is not installed";
  const auto reader = MdbReader(file);
  EXPECT_NE(reader.find("\"Filler\":20000,"), std::string::npos) << reader;
  EXPECT_NE(reader.find("\"Table number 59\":1}"), std::string::npos) << reader;
}

TEST(AccessDriverAttributes, CreateDbEntriesNameTheirPath) {
  EXPECT_EQ(CreateDbPath(L"CREATE_DB=\"/tmp/a b.mdb\";"), L"/tmp/a b.mdb");
  EXPECT_EQ(CreateDbPath(L"CREATE_DB=\"/tmp/a \"quoted\".mdb\""), L"/tmp/a \"quoted\".mdb");
  EXPECT_EQ(CreateDbPath(L"create_db = /tmp/x;y.mdb;"), L"/tmp/x;y.mdb");
  EXPECT_EQ(CreateDbPath(L"CREATE_SYSDB=\"/tmp/s.mdw\""), L"");
  EXPECT_EQ(CreateDbPath(L"DSN=x"), L"");
  EXPECT_EQ(CreateDbPath(L"CREATE_DB"), L"");
}

}  // namespace
}  // namespace quillon::drivers::access::test
