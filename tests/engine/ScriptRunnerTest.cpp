// Script files: the record rules over bytes, and the run over records with its stops.
#include <sys/stat.h>

#include <cerrno>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "engine/OutputFormat.h"
#include "engine/ScriptRunner.h"
#include "platform/errors/Errors.h"
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
  // A lone CR ends a line as LF does, after a TAB as well as before one.
  EXPECT_EQ(ParseScript("SELECT * FROM Orders\t/out/orders.xls\r"
                        " SELECT 2 \t /out/two.mdb \r"
                        "SELECT 3\tnote\tmore notes\t/out/three.xls\r"),
            expected);
  EXPECT_EQ(
      ParseScript("SELECT a\rFROM t\r\r\nWHERE 1\t/o/a.xls\rSELECT 2\t/o/b.xls\r\n\rSELECT 3\t/o/c.xls"),
      (Records{
          {L"SELECT a\nFROM t\n\nWHERE 1", L"/o/a.xls"}, {L"SELECT 2", L"/o/b.xls"}, {L"\nSELECT 3", L"/o/c.xls"}}));
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

// The line a ScriptError names for `bytes`; 0 when the script is accepted.
long RefusedLine(std::string_view bytes) {
  try {
    ParseScript(bytes);
  } catch (const ScriptError& e) {
    return e.Line();
  }
  return 0;
}

TEST_F(ScriptParsing, TheLastRecordCountsWithoutItsLineFeedAndTabLessTextIsRefusedWithItsLine) {
  EXPECT_EQ(ParseScript("SELECT 1\t/a.xls\nSELECT 2\t/b.xls"),
            (Records{{L"SELECT 1", L"/a.xls"}, {L"SELECT 2", L"/b.xls"}}));
  EXPECT_EQ(RefusedLine("SELECT 1\t/a.xls\n\n\nSELECT 2 without a path"), 4);
  EXPECT_EQ(RefusedLine("SELECT 1 /a.xls\n"), 1);
  EXPECT_EQ(RefusedLine("SELECT 1\t/a.xls\rSELECT 2 /b.xls\rSELECT 3 /c.xls"), 2);
  EXPECT_TRUE(ParseScript("").empty());
  EXPECT_TRUE(ParseScript("\r\n\r\n").empty());
  EXPECT_TRUE(ParseScript("\xEF\xBB\xBF \n  \n").empty());
  EXPECT_EQ(ParseScript("SELECT 1\t\n\t/b.xls\n"), (Records{{L"SELECT 1", L""}, {L"", L"/b.xls"}}));
}

TEST_F(ScriptParsing, TextIsUtf8WhateverTheLocaleAndALeadingByteOrderMarkIsDropped) {
  std::setlocale(LC_CTYPE, "C");  // as under cron or in a container
  const Records utf8 = {{L"SELECT 'Zürich €' AS \U0001F600", L"/out/Größe.xls"}};
  const std::string body =
      "SELECT 'Z\xC3\xBCrich \xE2\x82\xAC' AS \xF0\x9F\x98\x80\t/out/Gr\xC3\xB6\xC3\x9F"
      "e.xls\n";
  EXPECT_EQ(ParseScript(body), utf8);
  EXPECT_EQ(ParseScript("\xEF\xBB\xBF" + body), utf8);
  // Only at the very start is it a mark; elsewhere it is text.
  EXPECT_EQ(ParseScript(body + "\xEF\xBB\xBFSELECT 2\t/b.xls\n")[1], (ScriptRecord{L"\uFEFFSELECT 2", L"/b.xls"}));
}

TEST_F(ScriptParsing, ARecordThatIsNotUtf8IsRefusedWithTheLineOfItsFirstBadByte) {
  EXPECT_EQ(RefusedLine("SELECT 1\t/a.xls\nSELECT 2\t/M\xFCller.xls\n"), 2);  // Latin-1
  EXPECT_EQ(RefusedLine("SELECT 1\t/a.xls\r\n\r\nSELECT\r\n'\xE9'\t/b.xls\r\n"), 4);
  EXPECT_EQ(RefusedLine("\xEF\xBB"
                        "SELECT 1\t/a.xls\n"),
            1);  // a cut-off mark
  try {
    ParseScript("SELECT 1\t/caf\xE9.xls\n");
    ADD_FAILURE() << "accepted";
  } catch (const ScriptError& e) {
    EXPECT_EQ(e.Message(), L"Line 1 of the script is not UTF-8 text; its export was not run");
  }
}

TEST_F(ScriptParsing, ARecordLongerThanTheLimitIsRefusedBeforeItIsWhole) {
  EXPECT_EQ(RefusedLine("SELECT 1\t/a.xls\n" + std::string(kMaxScriptRecordBytes + 1, '\0')), 2);
  EXPECT_EQ(ParseScript(std::string(kMaxScriptRecordBytes - 7, ' ') + "\t/a.xls").size(), 1u);
}

TEST_F(ScriptParsing, ThePathsExtensionNamesTheFormat) {
  EXPECT_EQ(FormatFromExtension(L"/out/a.Xls"), FormatExcel);
  EXPECT_EQ(FormatFromExtension(L"/out/a.mdb"), FormatAccess);
  EXPECT_EQ(FormatFromExtension(L"/out/a.TXT"), FormatText);
  EXPECT_EQ(FormatFromExtension(L"/out/a.xlsx"), FormatXlsx);
  EXPECT_EQ(FormatFromExtension(L"/out/a.b.Csv"), FormatCsv);
  EXPECT_EQ(FormatFromExtension(L"xls"), FormatExcel);  // no dot: the whole path
  for (const wchar_t* unknown : {L"/out/a", L"/out/a.", L"", L"/out.d/a", L"/out/a.xlsx.bak", L"/out/a.xl"}) {
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
    return RunFile(path);
  }
  ScriptOutcome RunFile(const std::filesystem::path& path) {
    ScriptFile file;
    EXPECT_NO_THROW(file.Open(path.wstring()));
    return RunScript(file, m_host, [this](const std::wstring& s, const std::wstring& p, OutputFormat f) {
      m_calls.push_back({s, p, f});
      if (m_exportAction) m_exportAction();
      return s.find(L"FAIL") == std::wstring::npos;
    });
  }
  testing::TempDir m_dir;
  std::function<void()> m_exportAction;
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
  m_host.lines.clear();
  EXPECT_EQ(Run("\n\n"), ScriptOutcome::Completed);
  EXPECT_TRUE(m_calls.empty());
  EXPECT_EQ(m_host.lines,
            (std::vector<std::wstring>{
                L"The script holds no export: no line has a TAB between a statement and an output file"}));
}

TEST_F(ScriptRun, TextWithoutATabAfterTheLastRecordIsLoggedAndFailsTheScript) {
  EXPECT_EQ(Run("SELECT 1\t/o/a.xls\nSELECT 2 /o/b.xls\n"), ScriptOutcome::Stopped);
  EXPECT_EQ(m_calls.size(), 1u);
  EXPECT_EQ(m_host.lines.back(),
            L"Line 2 of the script has no TAB between a statement and an output file, so the "
            L"export it holds was not run");
}

TEST_F(ScriptRun, AStopEndsTheWholeScriptAndNoLaterRecordStarts) {
  // The first export sees no stop; the request comes while it runs, and it ends anyway (a
  // result without rows ends true whatever the flag).
  m_exportAction = [this] { m_host.stopRequested = true; };
  EXPECT_EQ(Run("SELECT 1\t/o/a.xls\nSELECT 2\t/o/b.xls\nSELECT 3\t/o/c.xls\n"), ScriptOutcome::Stopped);
  ASSERT_EQ(m_calls.size(), 1u);
  EXPECT_EQ(m_host.lines, (std::vector<std::wstring>{L"Processing file: /o/a.xls", L"Thread terminated"}));
}

TEST_F(ScriptRun, RelativePathsCountFromTheScriptsFolder) {
  EXPECT_EQ(Run("SELECT 1\ta.xls\nSELECT 2\tsub/b.mdb\nSELECT 3\t/abs/c.xls\n"), ScriptOutcome::Completed);
  const std::wstring folder = m_dir.Path().wstring();
  const std::vector<ExportCall> expected = {{L"SELECT 1", folder + L"/a.xls", FormatExcel},
                                            {L"SELECT 2", folder + L"/sub/b.mdb", FormatAccess},
                                            {L"SELECT 3", L"/abs/c.xls", FormatExcel}};
  EXPECT_EQ(m_calls, expected);
  EXPECT_EQ(m_host.lines.front(), L"Processing file: " + folder + L"/a.xls");
}

// A FIFO opens at once whether or not a writer has come, and a stop ends the wait for its text.
TEST_F(ScriptRun, AStopEndsTheWaitForAScriptNobodyWrites) {
  const auto fifo = m_dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  m_host.stopRequested = true;
  EXPECT_EQ(RunFile(fifo), ScriptOutcome::Stopped);
  EXPECT_TRUE(m_calls.empty());
  EXPECT_EQ(m_host.lines, std::vector<std::wstring>{L"Stopped while waiting for the script file's text"});
}

TEST_F(ScriptRun, AFailedExportStopsTheScriptBeforeTheNextRecord) {
  EXPECT_EQ(Run("SELECT 1\t/o/a.xls\nSELECT FAIL\t/o/b.xls\nSELECT 3\t/o/c.xls\n"), ScriptOutcome::Stopped);
  ASSERT_EQ(m_calls.size(), 2u);
  EXPECT_EQ(m_calls[1].statement, L"SELECT FAIL");
  EXPECT_EQ(m_host.lines.back(), L"Processing file: /o/b.xls");
}

TEST_F(ScriptRun, AnUnknownExtensionIsLoggedAndStopsTheScriptWithoutExporting) {
  EXPECT_EQ(Run("SELECT 1\t/o/a.xls\nSELECT 2\t/o/b.ods\nSELECT 3\t/o/c.xls\n"), ScriptOutcome::Stopped);
  EXPECT_EQ(m_calls.size(), 1u);
  const std::vector<std::wstring> lines = {
      L"Processing file: /o/a.xls", L"Processing file: /o/b.ods",
      L"Unknown file extension specified. Please use .XLS,.MDB or .TXT extensions"};
  EXPECT_EQ(m_host.lines, lines);
  m_host.lines.clear();
  EXPECT_EQ(Run("SELECT 1\t"), ScriptOutcome::Stopped);  // an empty path has no extension
  EXPECT_EQ(m_host.lines.front(), L"Processing file: ");
}

TEST(ScriptFile, AMissingFileOrAFolderCannotBeOpened) {
  testing::TempDir dir;
  ScriptFile file;
  const auto openError = [&](const std::filesystem::path& path) {
    try {
      file.Open(path.wstring());
    } catch (const odbc::CDBException& e) {
      EXPECT_TRUE(odbc::errors::IsIoError(e)) << e.what();
      return e.m_nNativeError;
    }
    return 0L;
  };
  EXPECT_EQ(openError(dir / "missing.txt"), ENOENT);
  EXPECT_EQ(openError(dir.Path()), EISDIR);
}

// Relative output paths count from the script's folder, or from the working folder for a script
// that stands in no folder of its own: a FIFO, a device, standard input by its /dev name.
TEST(ScriptFile, TheFolderRelativePathsCountFrom) {
  testing::TempDir dir;
  std::filesystem::create_directories(dir / "scripts");
  std::ofstream(dir / "scripts" / "run.txt") << "";
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::filesystem::path working = std::filesystem::current_path();
  const struct {
    std::filesystem::path script;
    std::filesystem::path folder;
  } cases[] = {{dir / "scripts" / "run.txt", dir / "scripts"}, {dir / "fifo", working}, {"/dev/null", working}};
  for (const auto& c : cases) {
    ScriptFile file;
    ASSERT_NO_THROW(file.Open(c.script.wstring())) << c.script;
    EXPECT_EQ(file.Folder(), c.folder.wstring()) << c.script;
  }
}

}  // namespace
}  // namespace quillon::engine
