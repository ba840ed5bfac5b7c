// quillon-export as a user runs it: options, exit statuses and the log on standard output.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Command.h"
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
    // Under a UTF-8 locale whatever the caller's, as a user's terminal would be.
    const std::string command = "LC_ALL=C.UTF-8 XDG_DATA_HOME=" + m_dir.Path().string() + " " + QUILLON_EXPORT_PROGRAM +
                                " " + arguments + (withErrors ? " 2>&1" : " 2>/dev/null");
    const testing::CommandResult result = testing::RunCommand(command);
    return {result.status, result.output};
  }
  // Writes `bytes` as a script file and returns its path.
  std::string Script(const std::string& bytes) const {
    const auto path = m_dir / "script.txt";
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  testing::TempDir m_dir;
};

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The messages of the log lines, without their times.
std::vector<std::string> Messages(const std::string& out) {
  static const std::regex line(R"((\d\d:\d\d:\d\d)\t([^\n]*)\n)");
  std::vector<std::string> messages;
  for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator(); ++it) {
    messages.push_back((*it)[2]);
  }
  return messages;
}

TEST_F(ExportCommand, UsageErrorsExitWithTwoAndSayWhy) {
  EXPECT_EQ(Run("--help").status, 0);
  EXPECT_NE(Run("--help").out.find("--on-row-error"), std::string::npos);
  const Outcome noSql = Run("--out /tmp/x.xls", true);
  EXPECT_EQ(noSql.status, 2);
  EXPECT_NE(noSql.out.find("--sql is required"), std::string::npos);
  EXPECT_EQ(Run("--sql 'SELECT 1'", true).status, 2);
  const Outcome badExtension = Run("--sql 'SELECT 1' --out /tmp/x.ods", true);
  EXPECT_EQ(badExtension.status, 2);
  EXPECT_NE(badExtension.out.find("give --format"), std::string::npos);
  EXPECT_EQ(Run("--sql 'SELECT 1' --out /tmp/x.xls --format pdf").status, 2);
  EXPECT_EQ(Run("--sql 'SELECT 1' --out /tmp/x.xls --on-row-error maybe").status, 2);
  EXPECT_EQ(Run("--sql 'SELECT 1' --out /tmp/x.xls --bogus").status, 2);
  EXPECT_EQ(Run("--sql 'SELECT 1' --out /tmp/x.xls --table").status, 2);
  EXPECT_EQ(Run("--script /dev/null --table T").status, 2);
  EXPECT_EQ(Run("--sql").status, 2);
}

TEST_F(ExportCommand, LogLinesCarryTheTimeAndARefusedExportExitsWithOne) {
  const std::string arguments = "--sql 'SELECT * FROM Customers' --out " + (m_dir / "x.txt").string();
  EXPECT_EQ(Run(arguments).status, 0);
  const Outcome text = Run(arguments);  // a text file holds one table
  EXPECT_EQ(text.status, 1);
  const std::regex line(R"(\d\d:\d\d:\d\d\t(Starting time: .+|Using Text driver for Export|.*database opened.*|)"
                        R"(Output table name: Customers|The file .+ already exists and holds its one table.+)\n)");
  std::string rest = text.out;
  int lines = 0;
  for (std::smatch m; std::regex_search(rest, m, line) && m.position(0) == 0; rest = m.suffix()) ++lines;
  EXPECT_EQ(lines, 6) << text.out;
  EXPECT_TRUE(rest.empty()) << rest;
}

// The sheet names of a workbook as xlrd reads them.
std::vector<std::string> SheetNames(const std::filesystem::path& file) {
  std::vector<std::string> sheets;
  const auto dump = testing::RunCommand(std::string(QUILLON_PYTHON) + " " + testing::ShellQuote(QUILLON_XLS_DUMP) +
                                        " " + testing::ShellQuote(file.string()));
  for (const std::string& line : dump.Lines()) {
    if (line.rfind("sheet\t", 0) == 0) sheets.push_back(line.substr(6, line.find('\t', 6) - 6));
  }
  return sheets;
}

// A table name too long for a sheet: the log names the sheets the workbook really holds, every
// further sheet of a long export is one of its own, and the same export again is refused.
TEST_F(ExportCommand, TheLogNamesTheSheetsTheWorkbookHoldsAndTheSameLongExportIsRefusedAgain) {
  const std::string table = "Quarterly_revenue_by_region_and_product";
  const auto db = m_dir / "long.db";
  ASSERT_EQ(testing::RunCommand("sqlite3 " + testing::ShellQuote(db.string()) + " 'CREATE TABLE " + table +
                                " (n INTEGER); INSERT INTO " + table +
                                " WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 65537) "
                                "SELECT i FROM c;'")
                .status,
            0);
  const auto out = m_dir / "long.xls";
  const std::string arguments = "--connect " + testing::ShellQuote("DRIVER=SQLite3;Database=" + db.string()) +
                                " --sql 'SELECT * FROM " + table + "' --out " + testing::ShellQuote(out.string());
  const Outcome first = Run(arguments);
  ASSERT_EQ(first.status, 0) << first.out;
  std::vector<std::string> logged;
  for (const std::string& message : Messages(first.out)) {
    for (const std::string prefix : {"Output table name: ", "New output table name: "}) {
      if (message.rfind(prefix, 0) == 0) logged.push_back(message.substr(prefix.size()));
    }
  }
  EXPECT_EQ(logged, (std::vector<std::string>{"Quarterly_revenue_by_region_and", "Quarterly_revenue_by_region_a~2"}))
      << first.out;
  EXPECT_EQ(SheetNames(out), logged);

  const Outcome again = Run(arguments);
  EXPECT_EQ(again.status, 1) << again.out;
  EXPECT_NE(again.out.find("Table '" + table + "' already exists."), std::string::npos) << again.out;
  EXPECT_EQ(SheetNames(out), logged);
}

// An .xlsx sheet holds 1,048,575 rows under its header: the rows go on in a further sheet, named
// as the log says. openpyxl in read-only mode gives per sheet its name, rows, header and the first
// and last row (the writer gives no size up front, so the rows are counted).
TEST_F(ExportCommand, AWorkbookGoesOnInAFurtherSheetPastAMillionRows) {
  const auto db = m_dir / "rows.db";
  ASSERT_EQ(testing::RunCommand("sqlite3 " + testing::ShellQuote(db.string()) +
                                " \"CREATE TABLE Big (n INTEGER, s TEXT); INSERT INTO Big WITH RECURSIVE c(x) AS "
                                "(SELECT 1 UNION ALL SELECT x + 1 FROM c LIMIT 2000000) SELECT x, 'r' || x FROM c;\"")
                .status,
            0);
  const auto run = [&](const std::string& sql, const std::string& name, std::vector<std::string>& logged) {
    const auto out = m_dir / name;
    const Outcome outcome = Run("--connect " + testing::ShellQuote("DRIVER=SQLite3;Database=" + db.string()) +
                                " --sql " + testing::ShellQuote(sql) + " --out " + testing::ShellQuote(out.string()));
    EXPECT_EQ(outcome.status, 0) << outcome.out;
    for (const std::string& message : Messages(outcome.out)) {
      for (const std::string prefix : {"Output table name: ", "New output table name: "}) {
        if (message.rfind(prefix, 0) == 0) logged.push_back(message.substr(prefix.size()));
      }
    }
    // Whole numbers come back as integers (2000000, not 2e+06 read as a float).
    return testing::RunCommand(std::string(QUILLON_PYTHON) +
                               " -c 'import openpyxl, sys\n"
                               "for sheet in openpyxl.load_workbook(sys.argv[1], read_only=True).worksheets:\n"
                               "    rows = sheet.iter_rows(values_only=True)\n"
                               "    header, first = next(rows), next(rows)\n"
                               "    count, last = 2, first\n"
                               "    for last in rows: count += 1\n"
                               "    print(sheet.title, count, *header, first[0], first[1], last[0], last[1])' " +
                               testing::ShellQuote(out.string()))
        .output;
  };
  std::vector<std::string> logged;
  EXPECT_EQ(run("SELECT * FROM Big", "two.xlsx", logged),
            "Big 1048576 n s 1 r1 1048575 r1048575\nBig_Sheet0 951426 n s 1048576 r1048576 2000000 r2000000\n");
  EXPECT_EQ(logged, (std::vector<std::string>{"Big", "Big_Sheet0"}));
  logged.clear();
  EXPECT_EQ(run("SELECT * FROM Big WHERE n <= 70000", "one.xlsx", logged), "Big 70001 n s 1 r1 70000 r70000\n");
  EXPECT_EQ(logged, std::vector<std::string>{"Big"});
}

// --format names the delimited formats whatever the extension, --table the table, and
// --replace puts a new file in place of an existing one of any format, keeping its mode and
// attributes, and leaving it as it was when the export fails.
TEST_F(ExportCommand, TextFormatsTableNamesAndReplacingAFile) {
  const auto run = [&](const std::filesystem::path& out, const std::string& options) {
    return Run("--sql 'SELECT CustomerID AS Id, CompanyName AS Name FROM Customers' --out " +
               testing::ShellQuote(out.string()) + " " + options);
  };
  struct Case {
    std::string format, header;
  };
  for (const Case& c : {Case{"csv", "Clients,Name\r\n"}, Case{"text", "Clients\tName\n"}}) {
    const auto out = m_dir / (c.format + ".dat");
    const Outcome outcome = Run("--sql 'SELECT CustomerID AS Clients, CompanyName AS Name FROM Customers' --out " +
                                out.string() + " --format " + c.format);
    EXPECT_EQ(outcome.status, 0) << outcome.out;
    EXPECT_EQ(FileBytes(out).substr(0, c.header.size()), c.header);
  }
  // Every kind of column, a time of day written and read by the date pattern's time part.
  const auto db = m_dir / "kinds.db";
  ASSERT_EQ(testing::RunCommand("sqlite3 " + db.string() +
                                " \"CREATE TABLE k(t TIME, d DATE, ts TIMESTAMP, n DECIMAL(10,2), big BIGINT, f FLOAT, "
                                "b BIT); INSERT INTO k VALUES('13:05:09', '2024-03-05', '2024-03-05 01:02:03', 12.5, "
                                "9007199254740993, 0.1, 1);\"")
                .status,
            0);
  const Outcome kinds =
      Run("--connect " + testing::ShellQuote("DRIVER=SQLite3;Database=" + db.string()) +
          " --sql 'SELECT * FROM k' --date-pattern '%d/%m/%y %H.%M' --out " + (m_dir / "kinds.csv").string());
  EXPECT_EQ(kinds.status, 0) << kinds.out;
  EXPECT_EQ(FileBytes(m_dir / "kinds.csv"),
            "t,d,ts,n,big,f,b\r\n13.5,5/3/2024 0.0,5/3/2024 1.2,12.5,9007199254740993,0.1,1\r\n");

  for (const std::string extension : {"xls", "mdb", "csv", "xlsx"}) {
    const auto out = m_dir / ("replaced." + extension);
    ASSERT_EQ(run(out, "").status, 0);
    std::filesystem::permissions(out, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                          std::filesystem::perms::group_read);
    ASSERT_EQ(::setxattr(out.c_str(), "user.tag", "kept", 4, 0), 0);
    const std::string before = FileBytes(out);
    EXPECT_EQ(Run("--sql 'SELECT * FROM Missing' --replace --out " + out.string()).status, 1);
    EXPECT_EQ(FileBytes(out), before) << extension;
    const Outcome replaced = run(out, "--replace --table Other");
    EXPECT_EQ(replaced.status, 0) << replaced.out;
    EXPECT_NE(replaced.out.find("Output table name: Other"), std::string::npos) << replaced.out;
    std::string tag(8, '\0');
    tag.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::getxattr(out.c_str(), "user.tag", tag.data(), 8))));
    EXPECT_EQ(tag, "kept") << extension;
    EXPECT_EQ(
        std::filesystem::status(out).permissions() & std::filesystem::perms::all,
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write | std::filesystem::perms::group_read);
    // Only the new table is in the file.
    if (extension == "xls") {
      EXPECT_EQ(SheetNames(out), std::vector<std::string>{"Other"});
    } else if (extension == "mdb") {
      EXPECT_EQ(testing::RunCommand("mdb-tables -1 " + out.string()).output, "Other\n");
    } else if (extension == "xlsx") {
      EXPECT_EQ(testing::RunCommand("/usr/bin/python3 -c 'import openpyxl,sys; "
                                    "print(openpyxl.load_workbook(sys.argv[1]).sheetnames)' " +
                                    out.string())
                    .output,
                "['Other']\n");
    } else {
      EXPECT_EQ(FileBytes(out).substr(0, 10), "Id,Name\r\n1");
      EXPECT_EQ(FileBytes(out).size(), before.size());
    }
  }
}

TEST_F(ExportCommand, ADatabaseThatCannotBeOpenedIsOneLineAndExitOne) {
  const Outcome outcome = Run("--connect 'DRIVER={Nope};Database=/x' --sql 'SELECT 1' --out /tmp/x.xls", true);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.out.find("quillon-export: cannot open the database:"), std::string::npos) << outcome.out;
}

TEST_F(ExportCommand, AScriptStopsAtItsFirstFailingRecordWithExitOne) {
  const std::string dir = m_dir.Path().string();
  std::ofstream(dir + "/a.txt") << "kept\n";  // a text file holds one table: refused
  const Outcome outcome = Run("--script " + Script("SELECT * FROM Customers\tnote\t" + dir +
                                                   "/a.txt\r\n"
                                                   "SELECT 1\t" +
                                                   dir + "/b.xls\r\n"));
  EXPECT_EQ(outcome.status, 1);
  const std::vector<std::string> messages = Messages(outcome.out);
  ASSERT_EQ(messages.size(), 7u) << outcome.out;
  EXPECT_EQ(messages[0], "Processing file: " + dir + "/a.txt");
  EXPECT_EQ(messages[1].rfind("Starting time: ", 0), 0u);
  EXPECT_NE(messages[6].find("already exists"), std::string::npos) << messages[6];
  EXPECT_EQ(FileBytes(dir + "/a.txt"), "kept\n");
}

TEST_F(ExportCommand, AScriptsLastRecordCountsWithoutItsLineEndAndPathsKeepTheirCharacters) {
  const Outcome outcome = Run("--script " + Script("\xEF\xBB\xBFSELECT 1\t/x/Gr\xC3\xB6\xC3\x9F"
                                                   "e.ods"));
  EXPECT_EQ(outcome.status, 1);
  const std::vector<std::string> expected = {
      "Processing file: /x/Gr\xC3\xB6\xC3\x9F"
      "e.ods",
      "Unknown file extension specified. Please use .XLS,.MDB or .TXT extensions"};
  EXPECT_EQ(Messages(outcome.out), expected);
}

TEST_F(ExportCommand, AScriptWithoutRecordsSaysSoAndTextWithoutATabFailsWithItsLine) {
  const Outcome empty = Run("--script " + Script("\r\n\n"));
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(Messages(empty.out), (std::vector<std::string>{"The script holds no export: no line has a TAB "
                                                           "between a statement and an output file"}));
  const Outcome noTab = Run("--script " + Script("\r\n\nSELECT 1 with no output file\n"), true);
  EXPECT_EQ(noTab.status, 1);
  EXPECT_NE(noTab.out.find("quillon-export: Line 3 of the script has no TAB between a statement and an output "
                           "file, so the export it holds was not run\n"),
            std::string::npos)
      << noTab.out;
}

TEST_F(ExportCommand, FailuresAreOnStandardErrorAsWellAsInTheLog) {
  const auto errors = m_dir / "errors.txt";
  const testing::CommandResult outcome = testing::RunCommand(
      "LC_ALL=C.UTF-8 XDG_DATA_HOME=" + m_dir.Path().string() + " " + QUILLON_EXPORT_PROGRAM +
      " --sql 'SELECT * FROM NoSuchTable' --out " + (m_dir / "x.xls").string() + " 2>" + errors.string());
  EXPECT_EQ(outcome.status, 1);
  const std::vector<std::string> messages = Messages(outcome.output);
  ASSERT_FALSE(messages.empty());
  EXPECT_NE(messages.back().find("no such table"), std::string::npos) << outcome.output;
  std::ifstream in(errors);
  const std::string stderrText((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(stderrText, "quillon-export: " + messages.back() + "\n");
  // A statement refused before it runs is a failure line too.
  const Outcome refused = Run("--sql 'DELETE FROM Customers' --out " + (m_dir / "y.xls").string(), true);
  EXPECT_EQ(refused.status, 1);
  const std::vector<std::string> refusedLog = Messages(refused.out);
  ASSERT_FALSE(refusedLog.empty());
  EXPECT_NE(refused.out.find("quillon-export: " + refusedLog.back() + "\n"), std::string::npos) << refused.out;
}

TEST_F(ExportCommand, RelativeOutputPathsCountFromTheWorkingFolderAndAScriptsFromItsOwn) {
  const auto work = m_dir / "work";
  const auto scripts = m_dir / "scripts";
  std::filesystem::create_directories(work);
  std::filesystem::create_directories(scripts);
  const std::string program = QUILLON_EXPORT_PROGRAM;
  const auto single =
      testing::RunCommand("cd " + work.string() + " && LC_ALL=C.UTF-8 XDG_DATA_HOME=" + m_dir.Path().string() + " " +
                          program + " --sql 'SELECT * FROM Customers' --out customers.xls");
  EXPECT_EQ(single.status, 0) << single.output;
  EXPECT_TRUE(std::filesystem::is_regular_file(work / "customers.xls"));

  std::ofstream(scripts / "run.txt", std::ios::binary)
      << "SELECT * FROM Customers\tout/c.xls\nSELECT * FROM Customers\t" + (m_dir / "abs.mdb").string() + "\n";
  const auto script =
      testing::RunCommand("cd " + work.string() + " && LC_ALL=C.UTF-8 XDG_DATA_HOME=" + m_dir.Path().string() + " " +
                          program + " --script ../scripts/run.txt");
  EXPECT_EQ(script.status, 0) << script.output;
  EXPECT_TRUE(std::filesystem::is_regular_file(scripts / "out" / "c.xls"));
  EXPECT_TRUE(std::filesystem::is_regular_file(m_dir / "abs.mdb"));
  EXPECT_FALSE(std::filesystem::exists(work / "out"));
  // Made whole, not tidied: the path names what the user wrote, from the script's folder.
  EXPECT_EQ(Messages(script.output).front(), "Processing file: " + (work / "../scripts/out/c.xls").string());
  // Read through /dev/stdin, a script stands in no folder: its paths count from the working one.
  std::ofstream(scripts / "one.txt", std::ios::binary) << "SELECT * FROM Customers\tout/c.xls\n";
  const auto fromStdin =
      testing::RunCommand("cd " + work.string() + " && LC_ALL=C.UTF-8 XDG_DATA_HOME=" + m_dir.Path().string() + " " +
                          program + " --script /dev/stdin < ../scripts/one.txt");
  EXPECT_EQ(fromStdin.status, 0) << fromStdin.output;
  EXPECT_TRUE(std::filesystem::is_regular_file(work / "out" / "c.xls"));
  EXPECT_NE(Run("--help").out.find("counts from the folder that holds FILE"), std::string::npos);
}

TEST_F(ExportCommand, AScriptExitsAsASingleExportDoesWhenRowsAreRefused) {
  // A value longer than its Access column is refused; the export goes on without it.
  const auto source = m_dir / "src.db";
  ASSERT_EQ(testing::RunCommand("sqlite3 " + source.string() +
                                " \"CREATE TABLE T (s VARCHAR(3)); INSERT INTO T VALUES ('abc'), ('abcdef'), ('x');\"")
                .status,
            0);
  const std::string connect = "'DRIVER=SQLite3;Database=" + source.string() + "'";
  const Outcome single = Run("--connect " + connect + " --sql 'SELECT s FROM T' --out " + (m_dir / "one.mdb").string());
  EXPECT_EQ(single.status, 3);
  const Outcome script = Run("--connect " + connect + " --script " +
                             Script("SELECT s FROM T\t" + (m_dir / "two.mdb").string() +
                                    "\nSELECT s FROM T WHERE s <> "
                                    "'abcdef'\t" +
                                    (m_dir / "three.mdb").string() + "\n"));
  EXPECT_EQ(script.status, 3);
  const Outcome clean = Run("--connect " + connect + " --script " +
                            Script("SELECT s FROM T WHERE s <> 'abcdef'\t" + (m_dir / "four.mdb").string() + "\n"));
  EXPECT_EQ(clean.status, 0);
  const std::string help = Run("--help").out;
  for (const char* status : {"  0  ", "  3  ", "  1  ", "  2  "}) EXPECT_NE(help.find(status), std::string::npos);
}

TEST_F(ExportCommand, TheDemoProductsWithTheirThumbnailsGoWholeIntoAnAccessTable) {
  const auto out = m_dir / "products.mdb";
  const Outcome outcome = Run("--sql 'SELECT * FROM Products' --out " + testing::ShellQuote(out.string()));
  ASSERT_EQ(outcome.status, 0) << outcome.out;
  EXPECT_NE(testing::RunCommand("mdb-schema " + testing::ShellQuote(out.string())).output.find("[Thumbnail]\t\t\tOLE"),
            std::string::npos);
  EXPECT_EQ(testing::RunCommand("mdb-export -H -Q -d '|' -b hex " + testing::ShellQuote(out.string()) +
                                " Products | cut -d'|' -f1,8")
                .output,
            "1|89504E47\n2|\n3|FFD8FFE0\n4|\n5|\n6|\n7|\n8|00\n");
}

TEST_F(ExportCommand, AScriptThatCannotBeOpenedIsOneLineAndExitOne) {
  const Outcome outcome = Run("--script " + (m_dir / "missing.txt").string(), true);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "quillon-export: cannot open the script file '" + (m_dir / "missing.txt").string() +
                             "': No such file or directory\n");
  EXPECT_EQ(Run("--script " + m_dir.Path().string()).status, 1);
}

TEST_F(ExportCommand, AScriptTakesNoStatementOutputOrFormatOfItsOwn) {
  const std::string script = Script("SELECT 1\t/x/a.xls\n");
  const Outcome withSql = Run("--script " + script + " --sql 'SELECT 1'", true);
  EXPECT_EQ(withSql.status, 2);
  EXPECT_NE(withSql.out.find("--script"), std::string::npos);
  EXPECT_EQ(Run("--script " + script + " --out /tmp/x.xls").status, 2);
  EXPECT_EQ(Run("--format excel --script " + script).status, 2);
  EXPECT_EQ(Run("--script").status, 2);
  EXPECT_NE(Run("--help").out.find("--script FILE"), std::string::npos);
}

TEST_F(ExportCommand, CtrlCStopsBeforeTheNextRowAndKeepsTheRowsSoFar) {
  // A source long enough that the export is still copying when the interrupt arrives.
  const auto source = m_dir / "big.db";
  ASSERT_EQ(testing::RunCommand("sqlite3 " + testing::ShellQuote(source.string()) +
                                " 'CREATE TABLE Big (n INTEGER, t VARCHAR(20)); INSERT INTO Big WITH RECURSIVE "
                                "c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 3000000) "
                                "SELECT i, \"row \" || i FROM c;'")
                .status,
            0);
  const auto out = m_dir / "big.mdb";
  const std::string connect = "DRIVER=SQLite3;StepAPI=1;Database=" + source.string();
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<std::string> args = {QUILLON_EXPORT_PROGRAM, "--connect", connect,     "--sql",
                                   "SELECT * FROM Big",    "--out",     out.string()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);

  FILE* log = fdopen(pipeFds[0], "r");
  std::string all;
  char line[4096];
  while (std::fgets(line, sizeof line, log) != nullptr) {
    all += line;
    if (std::string(line).find("Output table created") != std::string::npos) kill(child, SIGINT);
  }
  std::fclose(log);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "the interrupt ended the program instead of the export";
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::vector<std::string> messages = Messages(all);
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[messages.size() - 2], "Thread terminated");
  // The file holds the table with the rows copied before the stop (none, when the interrupt came
  // before the first row), and not all of them; the log's last line counts them.
  const auto count = testing::RunCommand("mdb-count " + testing::ShellQuote(out.string()) + " Big");
  ASSERT_EQ(count.status, 0);
  const long rows = std::stol(count.output);
  EXPECT_GE(rows, 0);
  EXPECT_LT(rows, 3000000);
  EXPECT_EQ(messages.back(), "Total rows copied: " + std::to_string(rows));
}

}  // namespace
}  // namespace quillon::cli
