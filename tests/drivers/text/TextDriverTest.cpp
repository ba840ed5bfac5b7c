// The delimited-text drivers: every kind of value written as a reader takes it back (Python's csv
// module for both delimiters, LibreOffice for a CSV file); one table a file. An existing file's
// refusal and a kill mid-export are in tests/faults.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/odbc/Database.h"
#include "platform/text/WideText.h"
#include "tests/support/Command.h"
#include "tests/support/Require.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers {
namespace {

using odbc::Literal;
using testing::ShellQuote;

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Literal Text(const std::wstring& text) { return {Literal::Kind::Text, text}; }
Literal Number(const std::wstring& text) { return {Literal::Kind::Number, text}; }
Literal Null() { return {}; }

// The records of a delimited file as Python's csv module reads them: one line per record, each
// field as '=' and its UTF-8 bytes in hexadecimal.
std::vector<std::string> ReadByPython(const std::filesystem::path& path, char delimiter) {
  const std::string script =
      "import csv, sys\n"
      "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
      "    for row in csv.reader(f, delimiter=sys.argv[2]):\n"
      "        print(' '.join('=' + v.encode('utf-8').hex() for v in row))\n";
  return testing::RunCommand(std::string(QUILLON_PYTHON) + " -c " + ShellQuote(script) + " " +
                             ShellQuote(path.string()) + " " + ShellQuote(std::string(1, delimiter)))
      .Lines();
}

std::string Hex(const std::wstring& field) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex = "=";
  for (const unsigned char c : text::WideToUtf8(field)) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 0xF];
  }
  return hex;
}

// One row a value kind: a text field (the characters a delimited file must quote) and a value
// of each other kind, as the engine writes them.
struct Row {
  std::wstring label;
  Literal text, number, whole, date, flag;
};
const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {L"delimiters", Text(L"a,b;c"), Number(L"0.1"), Number(L"-12345678901234567890"), Text(L"5.3.2024 13:4:5"),
       Number(L"1")},
      {L"quotes", Text(L"say \"hi\""), Number(L"1e+300"), Number(L"0"), Text(L"31.12.1899 0:0:0"), Number(L"0")},
      {L"line ends", Text(L"cr\rlf\ncrlf\r\nend"), Number(L"-2.5"), Number(L"7"), Null(), Null()},
      {L"tab", Text(L"a\tb"), Number(L"NaN"), Null(), Text(L"1.1.100 23:59:59"), Text(L"TRUE")},
      {L"blanks", Text(L" lead and trail "), Null(), Number(L"42"), Null(), Null()},
      {L"emoji", Text(L"\U0001F600 caf\u00e9 \u4e2d"), Number(L"3.141592653589793"), Number(L"1"), Null(), Null()},
      {L"empty text", Text(L""), Null(), Null(), Null(), Null()},
      {L"null", Null(), Null(), Null(), Null(), Null()},
  };
  return rows;
}

class TextDriverTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterBuiltInDrivers(); }

  static std::wstring Connect(const wchar_t* driver, const std::filesystem::path& path, bool replace = false) {
    const std::wstring file = text::Utf8ToWide(path.string());
    return std::wstring(L"DRIVER={") + driver + L"};DATEPATTERN={%d.%m.%y %H:%M:%S};" +
           (replace ? L"REPLACE=1;" : L"") + L"CREATE_DB={" + file + L"};DBQ={" + file + L"}";
  }

  // Writes Rows() into a new file through `driver`.
  void WriteRows(const wchar_t* driver, const std::filesystem::path& path) {
    odbc::CDatabase db;
    db.OpenEx(Connect(driver, path), odbc::CDatabase::noOdbcDialog);
    db.ExecuteSQL(
        L"CREATE TABLE T ([label] TEXT, [text] TEXT, [number] DOUBLE, [whole] INTEGER, [date] DATE, "
        L"[flag] BIT)");
    for (const Row& row : Rows()) {
      ASSERT_TRUE(db.InsertRow(L"T", {Text(row.label), row.text, row.number, row.whole, row.date, row.flag}));
    }
    db.Close();
  }

  // What a reader must give back: the header, then each row's fields as written (LibreOffice
  // keeps a cell's line breaks as LF, however the field wrote them).
  static std::vector<std::string> Expected(bool lineBreaksAsLf = false) {
    std::vector<std::string> lines = {Hex(L"label") + " " + Hex(L"text") + " " + Hex(L"number") + " " + Hex(L"whole") +
                                      " " + Hex(L"date") + " " + Hex(L"flag")};
    for (const Row& row : Rows()) {
      std::wstring text = row.text.text;
      if (lineBreaksAsLf) text = std::regex_replace(text, std::wregex(L"\r\n?"), L"\n");
      lines.push_back(Hex(row.label) + " " + Hex(text));
      for (const Literal* value : {&row.number, &row.whole, &row.date, &row.flag})
        lines.back() += " " + Hex(value->text);
    }
    return lines;
  }

  testing::TempDir m_dir;
};

TEST_F(TextDriverTest, EveryValueKindReadsBackInBothFormats) {
  QUILLON_REQUIRE_TOOL(std::string(QUILLON_PYTHON) != "");
  struct Format {
    const wchar_t* driver;
    const char* file;
    char delimiter;
    std::string lineEnd;
  };
  for (const Format& f :
       {Format{odbc::kTextDriverName, "out.txt", '\t', "\n"}, Format{odbc::kCsvDriverName, "out.csv", ',', "\r\n"}}) {
    const auto path = m_dir / f.file;
    WriteRows(f.driver, path);
    EXPECT_EQ(ReadByPython(path, f.delimiter), Expected()) << f.file;
    const std::string bytes = FileBytes(path);
    const std::string d(1, f.delimiter);
    // No byte-order mark, the names first, and NULL apart from empty text.
    const std::string start = "label" + d + "text" + d + "number" + d + "whole" + d + "date" + d + "flag" + f.lineEnd +
                              "delimiters" + d + (f.delimiter == ',' ? "\"a,b;c\"" : "a,b;c") + d;
    EXPECT_EQ(bytes.substr(0, start.size()), start);
    EXPECT_NE(bytes.find("empty text" + d + "\"\"" + d + d + d + d + f.lineEnd), std::string::npos) << f.file;
    EXPECT_NE(bytes.find(f.lineEnd + "null" + d + d + d + d + d + f.lineEnd), std::string::npos) << f.file;
    EXPECT_EQ(bytes.substr(bytes.size() - f.lineEnd.size()), f.lineEnd);
  }
}

// A value the engine gives unwritten (numbers, dates by any pattern, in each of their forms) is
// written as the text AppendLiteralText gives it would be, quoted alike.
TEST_F(TextDriverTest, TypedValuesAreWrittenAsTheirText) {
  using Kind = Literal::Kind;
  using Form = Literal::DateForm;
  const auto typed = [](Kind kind, std::int64_t integer, double number = 0) {
    Literal literal;
    literal.kind = kind;
    literal.integer = integer;
    literal.number = number;
    return literal;
  };
  std::vector<Literal> values = {
      typed(Kind::Integer, std::numeric_limits<std::int64_t>::min()),
      typed(Kind::Integer, 0),
      typed(Kind::Boolean, 1),
      typed(Kind::Double, 0, std::numeric_limits<double>::quiet_NaN()),
      typed(Kind::Double, 0, -std::numeric_limits<double>::infinity()),
      typed(Kind::Double, 0, 1e16),
      typed(Kind::Double, 0, -1234567890123456.0),
      typed(Kind::Double, 0, -0.1),
  };
  for (const Form form : {Form::Date, Form::TimeOfDay, Form::DateAndTime}) {
    for (const Literal::DateParts& date :
         {Literal::DateParts{2024, 12, 31, 23, 59, 58}, Literal::DateParts{-5, 0, 7}}) {
      values.push_back(typed(Kind::DateTime, 0));
      values.back().date = date;
      values.back().dateForm = form;
    }
  }
  for (const std::wstring pattern :
       {L"%d.%m.%y %H:%M:%S", L" \"%d\",%m;%y\t", L"%%d%q%y%", L"%y\u5e74%m\u6708 %H\U0001F600", L"", L"%y%m%d\r\n"}) {
    std::string files[2];
    for (const bool asText : {false, true}) {
      const auto path = m_dir / (asText ? "text.csv" : "typed.csv");
      odbc::CDatabase db;
      db.OpenEx(Connect(odbc::kCsvDriverName, path, true), odbc::CDatabase::noOdbcDialog);
      std::wstring create = L"CREATE TABLE T (";
      for (std::size_t i = 0; i < values.size(); ++i)
        create += (i > 0 ? L", [c" : L"[c") + std::to_wstring(i) + L"] TEXT";
      db.ExecuteSQL(create + L")");
      std::vector<Literal> row = values;
      for (Literal& value : row) {
        value.datePattern = pattern;
        if (!asText) continue;
        std::wstring written;
        odbc::AppendLiteralText(written, value);
        const Kind kind = value.kind == Kind::DateTime ? Kind::Text : Kind::Number;
        value = Literal();
        value.kind = kind;
        value.text = written;
      }
      ASSERT_TRUE(db.InsertRow(L"T", row));
      db.Close();
      files[asText] = FileBytes(path);
    }
    EXPECT_EQ(files[0], files[1]) << text::WideToUtf8(pattern);
  }
}

// LibreOffice reads the CSV file's text fields as written (it writes them back unchanged): the
// delimiter, quotes, a tab, blanks at either end, characters beyond the Basic Multilingual Plane.
TEST_F(TextDriverTest, LibreOfficeReadsTheCsvFile) {
  QUILLON_REQUIRE_TOOL(std::string(QUILLON_SOFFICE) != "");
  QUILLON_REQUIRE_TOOL(std::string(QUILLON_PYTHON) != "");
  WriteRows(odbc::kCsvDriverName, m_dir / "in.csv");
  const auto out = m_dir / "lo";
  // Import: comma, double quote, UTF-8, from line 1, every column as text; export alike.
  const std::string columns = "44,34,76,1,1/2/2/2/3/2/4/2/5/2/6/2";
  const std::string filter = "csv:Text - txt - csv (StarCalc):" + columns + ",,false,false,true";
  const auto converted =
      testing::RunCommand("cd " + ShellQuote(m_dir.Path().string()) + " && HOME=" + ShellQuote(m_dir.Path().string()) +
                          " soffice --headless --infilter=" + ShellQuote("CSV:" + columns) + " --convert-to " +
                          ShellQuote(filter) + " --outdir " + ShellQuote(out.string()) + " in.csv 2>&1");
  ASSERT_TRUE(std::filesystem::exists(out / "in.csv")) << converted.output;
  EXPECT_EQ(ReadByPython(out / "in.csv", ','), Expected(true));
}

// A text file holds one table (a second one is refused), is written anew with REPLACE, and
// takes no value its column does not take.
TEST_F(TextDriverTest, OneTableAFileReplacedAndCheckedRows) {
  const auto path = m_dir / "kept.csv";
  std::ofstream(path, std::ios::binary) << "old,file\r\n";
  const auto refusal = [](odbc::CDatabase& db, const wchar_t* sql) -> std::wstring {
    try {
      db.ExecuteSQL(sql);
    } catch (const odbc::CDBException& e) {
      return e.m_strSqlState + L" " + e.m_strMessage;
    }
    return L"accepted";
  };
  odbc::CDatabase db;
  db.OpenEx(Connect(odbc::kCsvDriverName, path, true), odbc::CDatabase::noOdbcDialog);
  EXPECT_EQ(refusal(db, L"CREATE TABLE T ([a] TEXT, [n] INTEGER)"), L"accepted");
  EXPECT_EQ(refusal(db, L"CREATE TABLE U ([a] TEXT)").rfind(L"42S01 ", 0), 0u);
  EXPECT_EQ(refusal(db, L"INSERT INTO T VALUES('x', 5)"), L"accepted");
  // A field longer than the writer's buffer, each of its characters doubled.
  constexpr std::size_t kLongField = std::size_t{1} << 17;
  EXPECT_EQ(refusal(db, (L"INSERT INTO T VALUES('" + std::wstring(kLongField, L'"') + L"', 6)").c_str()), L"accepted");
  const std::wstring refused = refusal(db, L"INSERT INTO T VALUES('y', 'five')");
  EXPECT_EQ(refused.rfind(L"22018 ", 0), 0u) << text::WideToUtf8(refused);
  EXPECT_NE(refused.find(L"'n'"), std::wstring::npos) << text::WideToUtf8(refused);
  EXPECT_EQ(FileBytes(path), "old,file\r\n");  // nothing reaches the file before Close
  db.Close();
  EXPECT_EQ(FileBytes(path), "a,n\r\nx,5\r\n\"" + std::string(2 * kLongField, '"') + "\",6\r\n");
}

}  // namespace
}  // namespace quillon::drivers
