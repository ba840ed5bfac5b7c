// Adding a sheet through the .xlsx driver to workbooks that Excel, LibreOffice Calc, openpyxl and
// the driver itself wrote (tests/data/xlsx, copied to a scratch folder first): every entry the
// new sheet does not concern stays byte for byte, the parts that change keep their text around
// what is inserted, and other readers (openpyxl, LibreOffice) read the old sheets as before and
// the new one as written.
#include <fcntl.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "drivers/xlsx/ExistingWorkbook.h"
#include "drivers/xlsx/XlsxDriver.h"
#include "platform/file/FileDescriptor.h"
#include "platform/odbc/Database.h"
#include "platform/text/WideText.h"
#include "tests/support/Command.h"
#include "tests/support/Require.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers::xlsx {
namespace {

namespace fs = std::filesystem;
using testing::OutputLines;
using testing::ShellQuote;
using testing::TempDir;

const fs::path kTestData = fs::path(QUILLON_TESTDATA_DIR) / "xlsx";
const char* const kWorkbooks[] = {"autofilter01.xlsx",      "chart_area01.xlsx",   "comment01.xlsx",
                                  "data_validation01.xlsx", "defined_name01.xlsx", "image01.xlsx",
                                  "rich_string01.xlsx",     "table01.xlsx",        "calc-Formate.xlsx",
                                  "calc-profiles.xlsx",     "openpyxl.xlsx",       "prefixed.xlsx",
                                  "unstyled.xlsx",          "1904.xlsx",           "quillon.xlsx"};
// The parts adding a sheet changes; every other entry is copied as it is.
const std::set<std::string> kChangedParts = {"[Content_Types].xml", "xl/workbook.xml", "xl/_rels/workbook.xml.rels",
                                             "xl/styles.xml", "docProps/app.xml"};

std::wstring Connect(const fs::path& file, const std::wstring& key = L"DBQ") {
  return L"DRIVER={" + std::wstring(kXlsxDriverName) + L"};" + key + L"=" + text::Utf8ToWide(file.string());
}

std::vector<std::string> Check(const std::string& what, const fs::path& file) {
  return OutputLines(std::string(QUILLON_PYTHON) + " " + ShellQuote(QUILLON_XLSX_CHECK) + " " + what + " " +
                     ShellQuote(file.string()));
}

fs::path CopyIn(const TempDir& dir, const std::string& name) {
  const auto target = dir / name;
  fs::remove(target);
  if (name == "quillon.xlsx") {
    odbc::CDatabase db;
    db.OpenEx(Connect(target, L"CREATE_DB"), odbc::CDatabase::noOdbcDialog);
    db.ExecuteSQL(L"CREATE TABLE Made ([N] INTEGER,[T] TIMESTAMP)");
    db.ExecuteSQL(L"INSERT INTO Made VALUES(1,'2020-01-02 03:04:05')");
  } else if (name == "openpyxl.xlsx" || name == "prefixed.xlsx" || name == "unstyled.xlsx" || name == "1904.xlsx") {
    // openpyxl's own, the same with the prefix x: on every element of its XML parts, without a
    // styles part, and counting its dates from 1904.
    Check("openpyxl", target);
    if (name != "openpyxl.xlsx") Check("variant " + fs::path(name).stem().string(), target);
  } else {
    fs::copy_file(kTestData / name, target);
  }
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  return target;
}

// Adds the table (sheet) `table` holding a date to `file` through the driver.
void AddSheet(const fs::path& file, const std::wstring& table = L"Added") {
  odbc::CDatabase db;
  db.OpenEx(Connect(file), odbc::CDatabase::noOdbcDialog);
  db.ExecuteSQL(L"CREATE TABLE " + table + L" ([When] DATE)");
  db.ExecuteSQL(L"INSERT INTO " + table + L" VALUES('2024-03-05')");
  db.Close();
}

class ExistingWorkbookTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterBuiltInDrivers(); }
  TempDir m_dir;
};

TEST_F(ExistingWorkbookTest, ANewSheetLeavesEveryOtherEntryAndCellAsItWas) {
  for (const char* name : kWorkbooks) {
    SCOPED_TRACE(name);
    const auto file = CopyIn(m_dir, name);
    const auto entriesBefore = Check("entries", file);
    const auto cellsBefore = Check("cells", file);
    ASSERT_FALSE(cellsBefore.empty());
    AddSheet(file);

    // (a) the entries other than the changed parts, in their order, stored as they were; the
    // new sheet's part last (after a new styles part, for a workbook that had none).
    const auto keep = [](const std::vector<std::string>& lines) {
      std::vector<std::string> kept;
      for (const auto& line : lines) {
        if (!kChangedParts.contains(line.substr(0, line.find('\t')))) kept.push_back(line);
      }
      return kept;
    };
    const auto entriesAfter = Check("entries", file);
    auto kept = keep(entriesAfter);
    EXPECT_EQ(kept.back().substr(0, kept.back().find('\t')).rfind("xl/worksheets/sheet", 0), 0u) << kept.back();
    kept.pop_back();
    EXPECT_EQ(kept, keep(entriesBefore));
    // (b) the old sheets read as before (values, number formats, bold), the new one as written.
    const auto cellsAfter = Check("cells", file);
    ASSERT_GE(cellsAfter.size(), cellsBefore.size());
    EXPECT_TRUE(std::equal(cellsBefore.begin(), cellsBefore.end(), cellsAfter.begin()));
    const std::vector<std::string> added(cellsAfter.begin() + static_cast<std::ptrdiff_t>(cellsBefore.size()),
                                         cellsAfter.end());
    const std::vector<std::string> sheet = {"1\t1\tstr\tWhen\tGeneral\tbold",
                                            "2\t1\tdatetime\t2024-03-05 00:00:00\tyyyy-mm-dd\t"};
    EXPECT_EQ(added, (std::vector<std::string>{"sheet\tAdded", sheet[0], sheet[1]}));
    // And once more, into what the driver wrote: its styles hold what the new cells need (but a
    // new workbook's styles part, worded otherwise, gains them once) and stay as they are.
    const auto styles = [&file] {
      for (const auto& line : Check("entries", file)) {
        if (line.starts_with("xl/styles.xml\t")) return line;
      }
      return std::string();
    };
    const std::string stylesBefore = styles();
    AddSheet(file, L"Again");
    if (std::string(name) != "unstyled.xlsx") EXPECT_EQ(styles(), stylesBefore);
    const auto cellsAgain = Check("cells", file);
    EXPECT_EQ(cellsAgain, [&] {
      auto expected = cellsAfter;
      expected.insert(expected.end(), {"sheet\tAgain", sheet[0], sheet[1]});
      return expected;
    }());
  }
}

// LibreOffice opens every workbook with its new sheet (one run for all: it starts slowly).
TEST_F(ExistingWorkbookTest, LibreOfficeReadsTheNewSheets) {
  QUILLON_REQUIRE_TOOL(std::string(QUILLON_SOFFICE).size() > 0) << "LibreOffice (soffice) is not installed";
  std::string files;
  for (const char* name : kWorkbooks) {
    const auto file = CopyIn(m_dir, name);
    AddSheet(file);
    files += " " + ShellQuote(file.string());
  }
  // Every sheet to its own file, <workbook>-<sheet>.csv, as UTF-8.
  const auto result = testing::RunCommand("cd " + ShellQuote(m_dir.Path().string()) +
                                          " && HOME=" + ShellQuote(m_dir.Path().string()) + " " + QUILLON_SOFFICE +
                                          " --headless --convert-to 'csv:Text - txt - csv "
                                          "(StarCalc):44,34,76,1,,0,false,true,false,false,false,-1' --outdir out" +
                                          files + " 2>&1");
  for (const char* name : kWorkbooks) {
    SCOPED_TRACE(name);
    const auto csv = m_dir / "out" / (fs::path(name).stem().string() + "-Added.csv");
    EXPECT_EQ(testing::ReadBytes(csv), "When\n2024-03-05\n") << result.output;
  }
}

// The parts that change are their original text with the new elements inserted (in the prefix the
// part uses) and the counts updated; nothing else in them moves.
TEST_F(ExistingWorkbookTest, ChangedPartsAreTheirTextWithTheInsertions) {
  struct Case {
    std::string file;
    std::string part;
    std::vector<std::pair<std::string, std::string>> changes;  // each first found, then replaced
  };
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  const std::vector<Case> cases = {
      {"defined_name01.xlsx",
       "xl/workbook.xml",
       {{"r:id=\"rId3\"/></sheets>", "r:id=\"rId3\"/><sheet name=\"A&amp;B's\" sheetId=\"4\" r:id=\"rId7\"/></sheets>"},
        {"</definedNames>",
         "<definedName name=\"_xlnm._FilterDatabase\" localSheetId=\"3\" hidden=\"1\">'A&amp;B''s'!$A$1:$B$3"
         "</definedName></definedNames>"}}},
      {"defined_name01.xlsx",
       "docProps/app.xml",
       {{"<vt:i4>3</vt:i4>", "<vt:i4>4</vt:i4>"},
        {"size=\"11\"", "size=\"12\""},
        {"<vt:lpstr>Sheet 3</vt:lpstr>", "<vt:lpstr>Sheet 3</vt:lpstr><vt:lpstr>A&amp;B's</vt:lpstr>"}}},
      {"defined_name01.xlsx",
       "xl/_rels/workbook.xml.rels",
       {{"</Relationships>", "<Relationship Id=\"rId7\" Type=\"" + rel +
                                 "/worksheet\" Target=\"worksheets/sheet4.xml\"/></Relationships>"}}},
      {"defined_name01.xlsx",
       "[Content_Types].xml",
       {{"</Types>",
         "<Override PartName=\"/xl/worksheets/sheet4.xml\" ContentType=\"application/"
         "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/></Types>"}}},
      {"calc-Formate.xlsx",
       "xl/workbook.xml",
       {{"</sheets>",
         "<sheet name=\"A&amp;B's\" sheetId=\"5\" r:id=\"rId7\"/></sheets><definedNames>"
         "<definedName name=\"_xlnm._FilterDatabase\" localSheetId=\"4\" hidden=\"1\">"
         "'A&amp;B''s'!$A$1:$B$3</definedName></definedNames>"}}},
      {"calc-Formate.xlsx",
       "xl/styles.xml",
       {{"numFmts count=\"10\"", "numFmts count=\"13\""},
        {"</numFmts>",
         "<numFmt numFmtId=\"174\" formatCode=\"yyyy-mm-dd\"/><numFmt numFmtId=\"175\" "
         "formatCode=\"yyyy-mm-dd hh:mm:ss\"/><numFmt numFmtId=\"176\" formatCode=\"hh:mm:ss\"/>"
         "</numFmts>"},
        {"fonts count=\"8\"", "fonts count=\"9\""},
        {"</fonts>",
         "<font><b/><sz val=\"11\"/><color rgb=\"FF000000\"/><name val=\"Calibri\"/><family val=\"2\"/>"
         "</font></fonts>"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file + " " + c.part);
    const auto file = CopyIn(m_dir, c.file);
    const file::FileDescriptor fd(::open(file.c_str(), O_RDONLY));
    ExistingWorkbook book(fd.Get(), file.string());
    auto sheets = NumberSheets(book.Base(), {"A&B's"});
    sheets[0].filterRange = "$A$1:$B$3";
    std::string expected =
        testing::RunCommand(
            std::string(QUILLON_PYTHON) +
            " -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))' " +
            ShellQuote(file.string()) + " " + ShellQuote(c.part))
            .output;
    for (const auto& [from, to] : c.changes) {
      const std::size_t at = expected.find(from);
      ASSERT_NE(at, std::string::npos) << from;
      expected.replace(at, from.size(), to);
    }
    const auto parts = book.RewrittenParts(sheets);
    ASSERT_TRUE(parts.contains(c.part));
    if (c.part == "xl/styles.xml") {
      // The cell formats follow the fonts: compare up to them.
      const std::size_t cellXfs = expected.find("<cellXfs");
      EXPECT_EQ(parts.at(c.part).substr(0, cellXfs), expected.substr(0, cellXfs));
    } else {
      EXPECT_EQ(parts.at(c.part), expected);
    }
  }
}

}  // namespace
}  // namespace quillon::drivers::xlsx
