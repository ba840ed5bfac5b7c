// quillon-export as a user runs it: options, exit statuses and the log on standard output.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <regex>
#include <string>

#include "tests/support/TempDir.h"

namespace quillon::cli {
namespace {

struct Outcome {
  int status = -1;
  std::string out;
};

class ExportCommand : public ::testing::Test {
 protected:
  // Runs quillon-export with `arguments` (shell words), standard error folded in when asked.
  Outcome Run(const std::string& arguments, bool withErrors = false) const {
    const std::string command = "XDG_DATA_HOME=" + m_dir.Path().string() + " " + QUILLON_EXPORT_PROGRAM + " " +
                                arguments + (withErrors ? " 2>&1" : " 2>/dev/null");
    Outcome outcome;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return outcome;
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) outcome.out += buffer.data();
    const int raw = pclose(pipe);
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return outcome;
  }
  testing::TempDir m_dir;
};

TEST_F(ExportCommand, UsageErrorsExitWithTwoAndSayWhy) {
  EXPECT_EQ(Run("--help").status, 0);
  EXPECT_NE(Run("--help").out.find("--on-row-error"), std::string::npos);
  const Outcome noSql = Run("--out /tmp/x.xls", true);
  EXPECT_EQ(noSql.status, 2);
  EXPECT_NE(noSql.out.find("--sql is required"), std::string::npos);
  EXPECT_EQ(Run("--sql 'SELECT 1'", true).status, 2);
  const Outcome badExtension = Run("--sql 'SELECT 1' --out /tmp/x.csv", true);
  EXPECT_EQ(badExtension.status, 2);
  EXPECT_NE(badExtension.out.find("give --format"), std::string::npos);
  EXPECT_EQ(Run("--sql 'SELECT 1' --out /tmp/x.xls --format pdf").status, 2);
  EXPECT_EQ(Run("--sql 'SELECT 1' --out /tmp/x.xls --on-row-error maybe").status, 2);
  EXPECT_EQ(Run("--sql 'SELECT 1' --out /tmp/x.xls --bogus").status, 2);
  EXPECT_EQ(Run("--sql").status, 2);
}

TEST_F(ExportCommand, LogLinesCarryTheTimeAndARefusedExportExitsWithOne) {
  const Outcome text = Run("--sql 'SELECT * FROM Customers' --out " + (m_dir / "x.txt").string());
  EXPECT_EQ(text.status, 1);
  const std::regex line(R"(\d\d:\d\d:\d\d\t(Starting time: .+|Tab delimered driver not supported)\n)");
  std::string rest = text.out;
  int lines = 0;
  for (std::smatch m; std::regex_search(rest, m, line) && m.position(0) == 0; rest = m.suffix()) ++lines;
  EXPECT_EQ(lines, 2) << text.out;
  EXPECT_TRUE(rest.empty()) << rest;
}

TEST_F(ExportCommand, ADatabaseThatCannotBeOpenedIsOneLineAndExitOne) {
  const Outcome outcome = Run("--connect 'DRIVER={Nope};Database=/x' --sql 'SELECT 1' --out /tmp/x.xls", true);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.out.find("quillon-export: cannot open the database:"), std::string::npos) << outcome.out;
}

}  // namespace
}  // namespace quillon::cli
