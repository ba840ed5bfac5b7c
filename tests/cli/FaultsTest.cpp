// The command-line tools under hostile conditions: closed pipes, signals, input that cannot be
// read or is not what it claims to be.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text/WideText.h"
#include "tests/cli/CliTestSupport.h"
#include "tests/support/Command.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/TempDir.h"

namespace quillon::cli {
namespace {

using testing::Child;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class ExportFaults : public ::testing::Test {
 protected:
  quillon::testing::TempDir m_dir;
};

TEST_F(ExportFaults, ALogNobodyReadsNeverStopsTheExport) {
  const std::string connect = testing::MakeBigSource(m_dir / "src.db", 2000);
  ASSERT_FALSE(connect.empty());
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);  // the reader is gone before the first line
  Child child({QUILLON_EXPORT_PROGRAM, "--connect", connect, "--sql", "SELECT * FROM Big", "--out",
               (m_dir / "out.mdb").string()},
              m_dir.Path(), fds[1], fds[1]);
  close(fds[1]);
  ASSERT_TRUE(child.Started());
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(testing::MdbCount(m_dir / "out.mdb", "Big"), 2000);
  EXPECT_EQ(testing::FolderNames(m_dir.Path()), (std::vector<std::string>{"out.mdb", "src.db"}));
}

// Ctrl+C, SIGTERM and SIGHUP stop the export before its next row, also when the reader of the log
// went away with the signal (as `| tail` does on Ctrl+C): the rows so far stay, in a whole file,
// nothing else is left behind, and standard error says why the export ended.
class StopSignal : public ExportFaults, public ::testing::WithParamInterface<int> {};

TEST_P(StopSignal, StopsTheExportAndKeepsTheRowsSoFar) {
  constexpr long kRows = 1000000;
  const std::string connect = testing::MakeBigSource(m_dir / "src.db", kRows);
  ASSERT_FALSE(connect.empty());
  const auto errors = m_dir / "errors.txt";
  const int errorFd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Child child({QUILLON_EXPORT_PROGRAM, "--connect", connect, "--sql", "SELECT * FROM Big", "--out",
               (m_dir / "out.mdb").string()},
              m_dir.Path(), fds[1], errorFd);
  close(fds[1]);
  close(errorFd);
  ASSERT_TRUE(child.Started());
  FILE* log = fdopen(fds[0], "r");
  char line[4096];
  while (std::fgets(line, sizeof line, log) != nullptr) {
    if (std::string(line).find("Output table created") != std::string::npos) break;
  }
  child.Signal(GetParam());
  std::fclose(log);  // the reader goes with the signal
  EXPECT_EQ(child.Wait(), 1);
  EXPECT_NE(ReadFile(errors).find("quillon-export: Thread terminated\n"), std::string::npos) << ReadFile(errors);
  const long rows = testing::MdbCount(m_dir / "out.mdb", "Big");
  EXPECT_GE(rows, 0);
  EXPECT_LT(rows, kRows);
  EXPECT_EQ(testing::FolderNames(m_dir.Path()), (std::vector<std::string>{"errors.txt", "out.mdb", "src.db"}));
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& param) { return std::string(sigabbrev_np(param.param)); });

// A script that never comes, from a FIFO nobody opens or whose writer writes nothing, gives
// way to a stop signal: the run ends with status 1 and says why.
TEST_F(ExportFaults, AStopSignalEndsTheWaitForAScriptThatNeverComes) {
  constexpr int kReadyAttempts = 500;
  constexpr useconds_t kReadyStepUs = 20 * 1000;
  const auto fifo = m_dir / "script.fifo";
  const auto errors = m_dir / "errors.txt";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const bool writerOpens : {false, true}) {
    const int errorFd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Child child({QUILLON_EXPORT_PROGRAM, "--script", fifo.string()}, m_dir.Path(), -1, errorFd);
    close(errorFd);
    ASSERT_TRUE(child.Started());
    // The signal comes once the program holds the FIFO (its stop signals are caught by then).
    for (int attempt = 0; attempt < kReadyAttempts && !child.HasOpen(fifo); ++attempt) usleep(kReadyStepUs);
    const int writer = writerOpens ? open(fifo.c_str(), O_WRONLY | O_NONBLOCK) : -1;
    child.Signal(SIGTERM);
    EXPECT_EQ(child.WaitFor(std::chrono::seconds(60)), 1) << "writer opens: " << writerOpens;
    if (writer >= 0) close(writer);
    EXPECT_EQ(ReadFile(errors), "quillon-export: Stopped while waiting for the script file's text\n");
  }
}

// Runs quillon-export through the shell under `locale`, XDG_DATA_HOME in the test's folder.
quillon::testing::CommandResult RunExport(const quillon::testing::TempDir& dir, const std::string& arguments,
                                          const std::string& locale = "C.UTF-8") {
  return quillon::testing::RunCommand("LC_ALL=" + locale + " XDG_DATA_HOME=" + (dir / "data").string() + " " +
                                      QUILLON_EXPORT_PROGRAM + " " + arguments + " 2>&1");
}

TEST_F(ExportFaults, APathThatIsNotUtf8IsRefusedAndNoOtherFileIsWritten) {
  const auto out = m_dir / "out";
  std::filesystem::create_directories(out);
  const std::string latin1Name = "caf\xE9.xls";  // the name a Latin-1 system gives the workbook
  std::ofstream(out / latin1Name) << "the user's workbook";
  const auto result = RunExport(
      m_dir, "--sql 'SELECT * FROM Customers' --out " + quillon::testing::ShellQuote((out / latin1Name).string()));
  EXPECT_EQ(result.status, 2) << result.output;
  EXPECT_NE(result.output.find("--out '" + out.string() + "/caf\\xE9.xls' is not UTF-8 text"), std::string::npos)
      << result.output;
  EXPECT_EQ(testing::FolderNames(out), std::vector<std::string>{latin1Name});
  EXPECT_EQ(ReadFile(out / latin1Name), "the user's workbook");
  // The same for a script's own path.
  EXPECT_EQ(RunExport(m_dir, "--script " + quillon::testing::ShellQuote((out / "s\xE9.txt").string())).status, 2);
}

TEST_F(ExportFaults, AScriptIsUtf8UnderAnyLocaleAndARecordThatIsNotIsRefusedWithItsLine) {
  const auto out = m_dir / "out";
  const std::string muller = "M\xC3\xBCller.xls";
  std::ofstream(m_dir / "utf8.txt", std::ios::binary) << "SELECT * FROM Customers\t" + (out / muller).string() + "\n";
  const auto utf8 = RunExport(m_dir, "--script " + (m_dir / "utf8.txt").string(), "C");  // as under cron
  EXPECT_EQ(utf8.status, 0) << utf8.output;
  EXPECT_EQ(testing::FolderNames(out), std::vector<std::string>{muller});

  std::ofstream(m_dir / "latin1.txt", std::ios::binary)
      << "SELECT * FROM Customers\t" + (out / "a.xls").string() + "\n"
      << "SELECT * FROM Customers\t" + (out / "M\xFCller.xls").string() + "\n"
      << "SELECT * FROM Customers\t" + (out / "c.xls").string() + "\n";
  const auto latin1 = RunExport(m_dir, "--script " + (m_dir / "latin1.txt").string(), "C");
  EXPECT_EQ(latin1.status, 1);
  EXPECT_NE(latin1.output.find("quillon-export: Line 2 of the script is not UTF-8 text; its export was not run\n"),
            std::string::npos)
      << latin1.output;
  EXPECT_EQ(testing::FolderNames(out), (std::vector<std::string>{muller, "a.xls"}));
}

TEST_F(ExportFaults, AScriptWithCrLineEndsRunsEveryRecord) {
  const auto out = m_dir / "out";
  std::ofstream(m_dir / "cr.txt", std::ios::binary)
      << "SELECT * FROM Customers\t" + (out / "a.xls").string() + "\rSELECT *\rFROM Customers\t" +
             (out / "b.mdb").string() + "\rSELECT * FROM Customers\t" + (out / "c.xls").string() + "\r";
  const auto result = RunExport(m_dir, "--script " + (m_dir / "cr.txt").string());
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(testing::FolderNames(out), (std::vector<std::string>{"a.xls", "b.mdb", "c.xls"}));
}

TEST_F(ExportFaults, AnEndlessScriptIsRefusedAtTheRecordSizeLimit) {
  const auto result = RunExport(m_dir, "--script /dev/zero");
  EXPECT_EQ(result.status, 1) << result.output;
  EXPECT_NE(result.output.find("quillon-export: Line 1 of the script begins a record of more than 16 MB: the file "
                               "is not a script of exports\n"),
            std::string::npos)
      << result.output;
}

TEST_F(ExportFaults, AMistypedSourcePathCreatesNoDatabase) {
  const auto out = m_dir / "out";
  std::filesystem::create_directories(out);
  const auto result = RunExport(m_dir, "--connect 'DRIVER=SQLite3;Database=" + (out / "bigg.db").string() +
                                           "' --sql 'SELECT 1 AS n' --out " + (out / "a.mdb").string());
  EXPECT_EQ(result.status, 1) << result.output;
  EXPECT_FALSE(std::filesystem::exists(out / "bigg.db")) << result.output;
}

// Values the SQLite3 driver would hand over changed (its conversions of SQLite's text, U+FFFD for
// bytes that are no UTF-8) refuse their rows, each with its column, and the other rows land.
TEST_F(ExportFaults, SourceValuesThatCannotArriveExactlyRefuseTheirRowsWithTheReason) {
  const auto db = m_dir / "odd.db";
  const auto made = quillon::testing::RunCommand(
      "sqlite3 " + quillon::testing::ShellQuote(db.string()) +
      " \"CREATE TABLE V (k INTEGER, n INTEGER, b BIT, r DOUBLE, t TEXT); INSERT INTO V VALUES "
      "(1, 2147483647, 1, 0.1, 'ok'), (2, 1e20, 0, 1, 'x'), (3, 3.5, 0, 1, 'x'), (4, '12abc', 0, 1, 'x'), "
      "(5, 'abc', 0, 1, 'x'), (6, 1, -1, 1, 'x'), (7, 1, 2, 1, 'x'), (8, 1, 0, 'abc', 'x'), (9, 1, 0, 1, "
      "CAST(X'41FF42' AS TEXT)), "
      "(10, 1, 0, 1, CAST(X'C3' AS TEXT)), (11, 1, 0, 1, CAST(X'EDA080' AS TEXT)), "
      "(13, -2147483648, 0, -2.5e-300, 'last');\"");
  ASSERT_EQ(made.status, 0) << made.output;
  const auto result =
      RunExport(m_dir, "--connect 'DRIVER=SQLite3;Database=" + db.string() +
                           "' --sql 'SELECT n, b, r, t FROM V ORDER BY k' --out " + (m_dir / "v.mdb").string());
  EXPECT_EQ(result.status, 3) << result.output;
  for (const char* reason :
       {"Column 'n' holds '1.0e+20', which is not a whole number", "Column 'n' holds '3.5', which is not a whole",
        "Column 'n' holds '12abc', which", "Column 'n' holds 'abc', which", "Column 'b' holds '-1', which is not a bit",
        "Column 'b' holds '2', which", "Column 'r' holds 'abc', which is not a floating-point number",
        "Column 't' holds text that is not valid UTF-8 (at byte 1)",
        "Column 't' holds text that is not valid UTF-8 "
        "(at byte 0)",
        "Rows not copied"}) {
    EXPECT_NE(result.output.find(reason), std::string::npos) << reason << "\n" << result.output;
  }
  EXPECT_NE(result.output.find("Rows not copied (refused by the output driver, each reported): 10"), std::string::npos)
      << result.output;
  EXPECT_EQ(testing::MdbCount(m_dir / "v.mdb", "V"), 2);
}

TEST_F(ExportFaults, CtrlCCancelsAStatementTheSourceIsStillRunningAndCreatesNothing) {
  quillon::testing::PostgresServer server;
  const std::string connect = text::WideToUtf8(server.ConnectString());
  const auto out = m_dir / "out";
  const auto errors = m_dir / "errors.txt";
  const int errorFd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  // Far longer than the test waits for anything: only a cancel ends it in time.
  Child child({QUILLON_EXPORT_PROGRAM, "--connect", connect, "--sql", "SELECT pg_sleep(600) AS s", "--out",
               (out / "slow.xls").string()},
              m_dir.Path(), fds[1], errorFd);
  close(fds[1]);
  close(errorFd);
  ASSERT_TRUE(child.Started());
  FILE* log = fdopen(fds[0], "r");
  std::string all;
  char line[4096];
  while (std::fgets(line, sizeof line, log) != nullptr) {
    all += line;
    if (std::string(line).find("Input database opened") != std::string::npos) {
      usleep(300 * 1000);  // the statement runs on the server
      child.Signal(SIGINT);
    }
  }
  std::fclose(log);
  EXPECT_EQ(child.Wait(), 1);
  EXPECT_EQ(all.find("Output table created"), std::string::npos) << all;
  EXPECT_NE(all.find("\tThread terminated\n"), std::string::npos) << all;
  EXPECT_EQ(ReadFile(errors), "quillon-export: Thread terminated\n");
  EXPECT_FALSE(std::filesystem::exists(out / "slow.xls"));
}

TEST(QuillonSqlFaults, StandardInputThatCannotBeReadIsAFailure) {
  quillon::testing::TempDir dir;
  // A folder as standard input: the first read fails.
  const auto result = quillon::testing::RunCommand(std::string(QUILLON_SQL_TOOL) +
                                                   " 'DRIVER=SQLite3;Database=" + (dir / "db.sqlite").string() +
                                                   "' < " + dir.Path().string() + " 2>&1");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("quillon-sql: cannot read standard input at line 1: Is a directory"), std::string::npos)
      << result.output;
}

// The reader of the rows takes the first line and goes away, as `| head -1` does: the tool is
// not killed by the broken pipe; it stops reading and running, closes the source and says why.
TEST(QuillonSqlFaults, AReaderThatGoesAwayEndsTheRunWithAStatus) {
  quillon::testing::TempDir dir;
  const std::string connect = testing::MakeBigSource(dir / "src.db", 200000);
  ASSERT_FALSE(connect.empty());
  const auto input = dir / "input.sql";
  { std::ofstream(input) << "SELECT n, t FROM Big ORDER BY n\nCREATE TABLE Later (x INTEGER)\n"; }
  const int in = open(input.c_str(), O_RDONLY | O_CLOEXEC);
  const int err = open((dir / "errors.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  Child child({QUILLON_SQL_TOOL, connect}, dir.Path(), fds[1], err, in);
  close(fds[1]);
  close(in);
  close(err);
  ASSERT_TRUE(child.Started());
  FILE* rows = fdopen(fds[0], "r");
  ASSERT_NE(rows, nullptr);
  char first[64] = {};
  ASSERT_NE(std::fgets(first, sizeof first, rows), nullptr);
  std::fclose(rows);  // far more rows than a pipe holds are still to come
  EXPECT_EQ(child.Wait(), 1);
  EXPECT_EQ(std::string(first), "1\trow 1\n");
  EXPECT_EQ(ReadFile(dir / "errors.txt"), "quillon-sql: cannot write standard output at line 1: Broken pipe\n");
  const auto tables =
      quillon::testing::RunCommand("sqlite3 " + quillon::testing::ShellQuote((dir / "src.db").string()) + " .tables");
  EXPECT_EQ(tables.output, "Big\n");  // the statement after the failed write did not run
}

}  // namespace
}  // namespace quillon::cli
