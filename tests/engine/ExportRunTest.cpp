// The export run's own rules: its refusals, folders, and time texts. Exports through the output
// drivers are tested beside them.
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/ExportRun.h"
#include "engine/TimeText.h"
#include "platform/odbc/Database.h"
#include "tests/engine/RecordingHost.h"
#include "tests/support/TempDir.h"

namespace quillon::engine {
namespace {

TEST(FormatTimeSpan, DaysHoursMinutesSeconds) {
  const wchar_t* pattern = L"Days: %D Hours: %H Minutes: %M Seconds: %S";
  EXPECT_EQ(FormatTimeSpan(93784, pattern), L"Days: 1 Hours: 02 Minutes: 03 Seconds: 04");
  EXPECT_EQ(FormatTimeSpan(0, pattern), L"Days: 0 Hours: 00 Minutes: 00 Seconds: 00");
  EXPECT_EQ(FormatTimeSpan(-5, pattern), L"Days: 0 Hours: 00 Minutes: 00 Seconds: -5");
  EXPECT_EQ(FormatTimeSpan(3 * 86400 + 5 * 3600 + 7, L"%#H:%#M:%#S %% %#D"), L"5:0:7 % 3");
}

TEST(FormatTimeSpan, BadPatternsAreErrors) {
  EXPECT_THROW(FormatTimeSpan(1, nullptr), std::invalid_argument);
  EXPECT_THROW(FormatTimeSpan(1, L"%Q"), std::invalid_argument);
  EXPECT_THROW(FormatTimeSpan(1, L"ends in %"), std::invalid_argument);
  EXPECT_THROW(FormatTimeSpan(1, L"%#"), std::invalid_argument);
}

TEST(CreateFolderPath, MakesEveryMissingFolderButNotTheFile) {
  testing::TempDir dir;
  const std::wstring path = (dir / "a" / "b").wstring() + L"//c/report.xls";
  EXPECT_TRUE(CreateFolderPath(path));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a" / "b" / "c"));
  EXPECT_FALSE(std::filesystem::exists(dir / "a" / "b" / "c" / "report.xls"));
  EXPECT_TRUE(CreateFolderPath(path));  // all there already
  EXPECT_FALSE(CreateFolderPath(L"report.xls"));
}

TEST(CreateFolderPath, FailsWhenTheFolderAboveCannotBeFound) {
  testing::TempDir dir;
  std::filesystem::create_symlink(dir / "gone", dir / "link");  // points nowhere
  EXPECT_FALSE(CreateFolderPath((dir / "link" / "sub" / "x.mdb").wstring()));
}

class ExportRunRefusals : public ::testing::Test {
 protected:
  void SetUp() override { m_source.OpenEx(L"DRIVER=SQLite3;Database=" + (m_dir / "s.db").wstring()); }
  bool Export(const std::wstring& statement, const std::wstring& path, OutputFormat format) {
    return ExportQuery(m_source, m_host, statement, path, format);
  }
  testing::TempDir m_dir;
  odbc::CDatabase m_source;
  RecordingHost m_host;
};

TEST_F(ExportRunRefusals, NothingToDoWithoutStatementOrPath) {
  EXPECT_FALSE(Export(L"", (m_dir / "x.xls").wstring(), FormatExcel));
  EXPECT_FALSE(Export(L"SELECT 1", L"", FormatExcel));
  const std::vector<std::wstring> expected(2, L"Specify SQL statement and Output File");
  EXPECT_EQ(m_host.lines, expected);
}

// Each format says which driver it uses (none is registered here, so nothing is written).
TEST_F(ExportRunRefusals, EachFormatLogsItsDriver) {
  const std::pair<OutputFormat, const wchar_t*> cases[] = {{FormatExcel, L"Using Excel driver for Export"},
                                                           {FormatAccess, L"Using Access driver for Export"},
                                                           {FormatText, L"Using Text driver for Export"},
                                                           {FormatXlsx, L"Using Excel Workbook driver for Export"},
                                                           {FormatCsv, L"Using CSV driver for Export"}};
  for (const auto& [format, line] : cases) {
    m_host.lines.clear();
    EXPECT_FALSE(Export(L"SELECT 1", (m_dir / "out" / "x").wstring(), format));
    ASSERT_GE(m_host.lines.size(), 2u);
    EXPECT_EQ(m_host.lines[0].rfind(L"Starting time: ", 0), 0u);
    EXPECT_EQ(m_host.lines[1], line);
  }
}

TEST_F(ExportRunRefusals, UnknownFormatMakesTheFoldersAndOpensNothing) {
  const auto path = m_dir / "made" / "x.xls";
  EXPECT_FALSE(Export(L"SELECT 1", path.wstring(), static_cast<OutputFormat>(7)));
  EXPECT_EQ(m_host.lines.size(), 1u);
  EXPECT_TRUE(std::filesystem::is_directory(path.parent_path()));
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ExportRunRefusals, APathWithoutFoldersCannotBeCreated) {
  EXPECT_FALSE(Export(L"SELECT 1", L"report.xls", FormatExcel));
  ASSERT_EQ(m_host.lines.size(), 3u);
  EXPECT_EQ(m_host.lines[1], L"Using Excel driver for Export");
  EXPECT_EQ(m_host.lines[2], L"Can't create specified file or folder: \"report.xls\"");
}

}  // namespace
}  // namespace quillon::engine
