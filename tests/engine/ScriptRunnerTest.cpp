// Script files: the record rules over bytes, and the run over records with its stops.
#include <gtest/gtest.h>

#include <clocale>
#include <fstream>

#include "engine/OutputFormat.h"
#include "engine/ScriptRunner.h"
#include "tests/engine/RecordingHost.h"
#include "tests/support/TempDir.h"

namespace quillon::engine {
namespace {

using Records = std::vector<ScriptRecord>;

class ScriptParsing : public ::testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_CTYPE, "C.UTF-8"); }
};

TEST_F(ScriptParsing, CrLfAndLfLinesReadAlikeAndOnlyFirstAndLastFieldsCount) {
  const Records expected = {{L"SELECT * FROM Orders", L"/out/orders.xls"},
                            {L" SELECT 2 ", L" /out/two.mdb "},
                            {L"SELECT 3", L"/out/three.xls"}};
  EXPECT_EQ(ParseScript("SELECT * FROM Orders\t/out/orders.xls\r\n"
                        " SELECT 2 \t /out/two.mdb \r\n"
                        "SELECT 3\tnote\tmore notes\t/out/three.xls\r\n"),
            expected);
  EXPECT_EQ(ParseScript("SELECT * FROM Orders\t/out/orders.xls\n"
                        " SELECT 2 \t /out/two.mdb \n"
                        "SELECT 3\tnote\tmore notes\t/out/three.xls\n"),
            expected);
  // A CR counts nowhere, not even inside a field.
  EXPECT_EQ(ParseScript("SEL\rECT 1\t/o\r/a.xls\n"), (Records{{L"SELECT 1", L"/o/a.xls"}}));
}

TEST_F(ScriptParsing, LineFeedsBeforeTheFirstTabBelongToTheStatement) {
  EXPECT_EQ(ParseScript("SELECT a,\r\n  b\r\nFROM t\t/out/t.xls\r\n"),
            (Records{{L"SELECT a,\n  b\nFROM t", L"/out/t.xls"}}));
  // A TAB on the first line ends the record there; the next lines start the following one.
  EXPECT_EQ(ParseScript("SELECT a\t/out/a.xls\nFROM t\nWHERE 1\t/out/b.xls\n"),
            (Records{{L"SELECT a", L"/out/a.xls"}, {L"FROM t\nWHERE 1", L"/out/b.xls"}}));
  // An empty line between records leads the second statement.
  EXPECT_EQ(ParseScript("SELECT 1\t/a.xls\n\r\nSELECT 2\t/b.xls\n"),
            (Records{{L"SELECT 1", L"/a.xls"}, {L"\nSELECT 2", L"/b.xls"}}));
}

TEST_F(ScriptParsing, TheLastRecordCountsWithoutItsLineFeedButTabLessTextIsNoRecord) {
  EXPECT_EQ(ParseScript("SELECT 1\t/a.xls\nSELECT 2\t/b.xls"),
            (Records{{L"SELECT 1", L"/a.xls"}, {L"SELECT 2", L"/b.xls"}}));
  EXPECT_EQ(ParseScript("SELECT 1\t/a.xls\n\n\nSELECT 2 without a path"), (Records{{L"SELECT 1", L"/a.xls"}}));
  EXPECT_TRUE(ParseScript("").empty());
  EXPECT_TRUE(ParseScript("\r\n\r\n").empty());
  EXPECT_EQ(ParseScript("SELECT 1\t\n\t/b.xls\n"), (Records{{L"SELECT 1", L""}, {L"", L"/b.xls"}}));
}

TEST_F(ScriptParsing, TextIsDecodedInTheLocaleCodesetAndALeadingByteOrderMarkIsDropped) {
  const Records utf8 = {{L"SELECT 'Zürich €' AS \U0001F600", L"/out/Größe.xls"}};
  const std::string body = "SELECT 'Z\xC3\xBCrich \xE2\x82\xAC' AS \xF0\x9F\x98\x80\t/out/Gr\xC3\xB6\xC3\x9F" "e.xls\n";
  EXPECT_EQ(ParseScript(body), utf8);
  EXPECT_EQ(ParseScript("\xEF\xBB\xBF" + body), utf8);
  // Only at the very start is it a mark; elsewhere it is text, and a broken byte shows as such.
  EXPECT_EQ(ParseScript(body + "\xEF\xBB\xBFSELECT 2\t/\xFF.xls\n")[1],
            (ScriptRecord{L"\uFEFFSELECT 2", L"/\uFFFD.xls"}));
  EXPECT_EQ(ParseScript("\xEF\xBB" "SELECT 1\t/a.xls\n")[0].statement, L"\uFFFD\uFFFDSELECT 1");
}

TEST_F(ScriptParsing, ThePathsExtensionNamesTheFormat) {
  EXPECT_EQ(FormatFromExtension(L"/out/a.Xls"), FormatExcel);
  EXPECT_EQ(FormatFromExtension(L"/out/a.mdb"), FormatAccess);
  EXPECT_EQ(FormatFromExtension(L"/out/a.TXT"), FormatText);
  EXPECT_EQ(FormatFromExtension(L"xls"), FormatExcel);  // no dot: the whole path
  for (const wchar_t* unknown : {L"/out/a", L"/out/a.", L"", L"/out.d/a", L"/out/a.xlsx"}) {
    EXPECT_EQ(FormatFromExtension(unknown), FormatUnknown) << unknown;
  }
}

struct ExportCall {
  std::wstring statement, path;
  std::int32_t format;
  bool operator==(const ExportCall&) const = default;
};

class ScriptRun : public ::testing::Test {
 protected:
  ScriptOutcome Run(const std::string& script) {
    const auto path = m_dir / "script.txt";
    std::ofstream(path, std::ios::binary) << script;
    ScriptFile file;
    std::error_code error;
    EXPECT_TRUE(file.Open(path.wstring(), error)) << error.message();
    return RunScript(file, m_host, [this](const std::wstring& s, const std::wstring& p, const std::int32_t* f) {
      m_calls.push_back({s, p, *f});
      return s.find(L"FAIL") == std::wstring::npos;
    });
  }
  testing::TempDir m_dir;
  RecordingHost m_host;
  std::vector<ExportCall> m_calls;
};

TEST_F(ScriptRun, ExportsEveryRecordInOrderWithTheFormatOfItsExtension) {
  EXPECT_EQ(Run("SELECT 1\t/o/a.Xls\r\nSELECT 2\t/o/b.mdb\r\nSELECT 3\t/o/c.txt"), ScriptOutcome::Completed);
  const std::vector<ExportCall> expected = {{L"SELECT 1", L"/o/a.Xls", FormatExcel},
                                            {L"SELECT 2", L"/o/b.mdb", FormatAccess},
                                            {L"SELECT 3", L"/o/c.txt", FormatText}};
  EXPECT_EQ(m_calls, expected);
  const std::vector<std::wstring> lines = {L"Processing file: /o/a.Xls", L"Processing file: /o/b.mdb",
                                           L"Processing file: /o/c.txt"};
  EXPECT_EQ(m_host.lines, lines);
  m_calls.clear();
  EXPECT_EQ(Run("\n\n"), ScriptOutcome::Completed);
  EXPECT_TRUE(m_calls.empty());
}

TEST_F(ScriptRun, AFailedExportStopsTheScriptBeforeTheNextRecord) {
  EXPECT_EQ(Run("SELECT 1\t/o/a.xls\nSELECT FAIL\t/o/b.xls\nSELECT 3\t/o/c.xls\n"), ScriptOutcome::Stopped);
  ASSERT_EQ(m_calls.size(), 2u);
  EXPECT_EQ(m_calls[1].statement, L"SELECT FAIL");
  EXPECT_EQ(m_host.lines.back(), L"Processing file: /o/b.xls");
}

TEST_F(ScriptRun, AnUnknownExtensionIsLoggedAndStopsTheScriptWithoutExporting) {
  EXPECT_EQ(Run("SELECT 1\t/o/a.xls\nSELECT 2\t/o/b.csv\nSELECT 3\t/o/c.xls\n"), ScriptOutcome::Stopped);
  EXPECT_EQ(m_calls.size(), 1u);
  const std::vector<std::wstring> lines = {
      L"Processing file: /o/a.xls", L"Processing file: /o/b.csv",
      L"Unknown file extension specified. Please use .XLS,.MDB or .TXT extensions"};
  EXPECT_EQ(m_host.lines, lines);
  m_host.lines.clear();
  EXPECT_EQ(Run("SELECT 1\t"), ScriptOutcome::Stopped);  // an empty path has no extension
  EXPECT_EQ(m_host.lines.front(), L"Processing file: ");
}

TEST(ScriptFile, AMissingFileOrAFolderCannotBeOpened) {
  testing::TempDir dir;
  ScriptFile file;
  std::error_code error;
  EXPECT_FALSE(file.Open((dir / "missing.txt").wstring(), error));
  EXPECT_EQ(error, std::errc::no_such_file_or_directory);
  EXPECT_FALSE(file.Open(dir.Path().wstring(), error));
  EXPECT_EQ(error, std::errc::is_a_directory);
}

}  // namespace
}  // namespace quillon::engine
