// quillon-export against what goes wrong around its output file: an existing workbook or
// database is either left byte for byte as it was or holds everything it held plus the new
// table; no temporary file outlives a run, killed or not; every failure is one clear message and
// a non-zero exit status.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Command.h"
#include "tests/support/Require.h"
#include "tests/support/TempDir.h"

namespace quillon::faults {
namespace {

namespace fs = std::filesystem;
using testing::RunCommand;
using testing::ShellQuote;

constexpr int kRowsPerTable = 20000;
constexpr int kBigRows = 150000;
constexpr int kTables = 2;

// A tool path that CMake found (empty when it did not).
bool Have(const char* tool) { return tool[0] != '\0'; }

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Every name in `folder`, hidden ones too.
std::set<std::string> Listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

int CountOf(const std::string& text, const std::string& what) {
  int count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// An extended attribute's value; empty when the file has none.
std::string Attribute(const fs::path& path, const char* name) {
  std::string value(256, '\0');
  const ssize_t size = ::getxattr(path.c_str(), name, value.data(), value.size());
  value.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
  return value;
}

// An access ACL as the kernel keeps it (version 2, then tag, permissions and id per entry) that
// lets the user nobody read the file besides its owner (rw-) and group (r--), as mode 0640.
std::string AccessAclForNobody() {
  constexpr std::uint32_t kVersion = 2, kNoId = 0xFFFFFFFF, kNobody = 65534;
  constexpr std::uint16_t kRead = 4, kWrite = 2;
  const std::pair<std::uint16_t, std::uint16_t> tagsAndPermissions[] = {
      {0x01, kRead | kWrite}, {0x02, kRead}, {0x04, kRead}, {0x10, kRead}, {0x20, 0}};
  std::string acl;
  const auto put = [&acl](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) acl.push_back(static_cast<char>(value >> (8 * i)));
  };
  put(kVersion, 4);
  for (const auto& [tag, permissions] : tagsAndPermissions) {
    put(tag, 2);
    put(permissions, 2);
    put(tag == 0x02 ? kNobody : kNoId, 4);
  }
  return acl;
}

struct Outcome {
  int status = -1;
  std::string out;  // standard output and standard error
};

class OutputFaults : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_sourceDir = new testing::TempDir();
    ::chmod(s_sourceDir->Path().c_str(), 0755);
    s_source = (s_sourceDir->Path() / "source.db").string();
    std::string sql;
    for (int t = 0; t < kTables; ++t) {
      sql += "CREATE TABLE T" + std::to_string(t) +
             " AS WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n " + "WHERE i < " +
             std::to_string(kRowsPerTable) + ") SELECT i AS Id, 'row ' || i AS Label, i * 0.5 AS Half FROM n;";
    }
    sql += "CREATE TABLE Big AS WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
           std::to_string(kBigRows) + ") SELECT i AS Id, 'a longer text value for row ' || i AS Label FROM n;";
    if (std::string(QUILLON_SQLITE).empty()) return;
    RunCommand(std::string(QUILLON_SQLITE) + " " + ShellQuote(s_source) + " " + ShellQuote(sql));
    ::chmod(s_source.c_str(), 0644);
  }
  static void TearDownTestSuite() {
    delete s_sourceDir;
    s_sourceDir = nullptr;
  }

  void SetUp() override {
    QUILLON_REQUIRE_TOOL(Have(QUILLON_SQLITE));
    QUILLON_REQUIRE_TOOL(Have(QUILLON_PYTHON));
    m_out = m_dir / "out";
    fs::create_directory(m_out);
  }

  // The shell command that exports `sql` into `path`; `prefix` goes before the program. Only the
  // log is kept: its failure lines are also written to standard error, which would count twice.
  static std::string ExportCommand(const std::string& sql, const fs::path& path, const std::string& prefix = "",
                                   const std::string& options = "") {
    return prefix + " env LC_ALL=C.UTF-8 " + s_program + " --connect " +
           ShellQuote("DRIVER=SQLite3;Database=" + s_source) + " --sql " + ShellQuote(sql) + " --out " +
           ShellQuote(path.string()) + " " + options + " 2>/dev/null";
  }
  static Outcome Export(const std::string& sql, const fs::path& path, const std::string& prefix = "") {
    const auto result = RunCommand(ExportCommand(sql, path, prefix));
    return {result.status, result.output};
  }

  // A copy of a file from the test data under `name` in the output folder.
  fs::path Sample(const std::string& data, const fs::path& name) const {
    const fs::path copy = m_out / name;
    fs::copy_file(fs::path(QUILLON_TEST_DATA) / data, copy, fs::copy_options::overwrite_existing);
    fs::permissions(copy,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    return copy;
  }

  // Sheet name -> rows, as xlrd reads the workbook; empty when it cannot.
  static std::map<std::string, int> Sheets(const fs::path& path) {
    const std::string script =
        "import sys, xlrd\n"
        "b = xlrd.open_workbook(sys.argv[1])\n"
        "for s in b.sheets(): print('%s\\t%d' % (s.name, s.nrows))\n";
    const auto result = RunCommand(std::string(QUILLON_PYTHON) + " -c " + ShellQuote(script) + " " +
                                   ShellQuote(path.string()) + " 2>/dev/null");
    std::map<std::string, int> sheets;
    if (result.status != 0) return sheets;
    for (const auto& line : result.Lines()) {
      const auto tab = line.rfind('\t');
      if (tab != std::string::npos) sheets[line.substr(0, tab)] = std::stoi(line.substr(tab + 1));
    }
    return sheets;
  }

  // The user tables of a database, as mdbtools reads them.
  static std::set<std::string> Tables(const fs::path& path) {
    const auto result =
        RunCommand(std::string(QUILLON_MDB_TABLES) + " -1 " + ShellQuote(path.string()) + " 2>/dev/null");
    std::set<std::string> tables;
    if (result.status != 0) return tables;
    for (const auto& line : result.Lines()) {
      if (!line.empty()) tables.insert(line);
    }
    return tables;
  }

  // A table's rows as mdbtools exports them.
  static std::string TableText(const fs::path& path, const std::string& table) {
    const std::string tables = QUILLON_MDB_TABLES;
    const std::string exporter = tables.substr(0, tables.rfind("mdb-tables")) + "mdb-export";
    return RunCommand(exporter + " " + ShellQuote(path.string()) + " " + ShellQuote(table) + " 2>&1").output;
  }

  testing::TempDir m_dir;
  fs::path m_out;
  static testing::TempDir* s_sourceDir;
  static std::string s_source;
  // The program the exports run: the build's own, or a copy another user can reach.
  static inline std::string s_program = QUILLON_EXPORT_PROGRAM;
};

testing::TempDir* OutputFaults::s_sourceDir = nullptr;
std::string OutputFaults::s_source;

// Two exports of different tables into one file at the same moment: each either ends with
// its sheet or table in the file, or is refused with a clear message; none is lost while
// reported as exported.
TEST_F(OutputFaults, TwoExportsAtOnceIntoOneFileLoseNothing) {
  QUILLON_REQUIRE_TOOL(Have(QUILLON_MDB_TABLES));
  struct Case {
    std::string name;
    std::string sample;  // empty: the file is new
  };
  const std::vector<Case> cases = {
      {"new.xls", ""}, {"existing.xls", "xls/profiles.xls"}, {"existing.mdb", "jet4/test2V2000.mdb"}};
  constexpr int kRounds = 6;
  for (const auto& c : cases) {
    const fs::path folder = m_out / ("case-" + c.name);
    fs::create_directory(folder);
    for (int round = 0; round < kRounds; ++round) {
      const fs::path target = folder / c.name;
      fs::remove(target);
      if (!c.sample.empty()) Sample(c.sample, folder.filename() / c.name);
      const bool excel = target.extension() == ".xls";
      const auto before = excel ? Sheets(target) : std::map<std::string, int>{};
      const auto tablesBefore = excel ? std::set<std::string>{} : Tables(target);
      std::string both;
      for (int t = 0; t < kTables; ++t) {
        const std::string log = (m_dir / ("run" + std::to_string(t))).string();
        both += "(" + ExportCommand("SELECT * FROM T" + std::to_string(t), target) + " > " + ShellQuote(log) +
                "; echo $? > " + ShellQuote(log + ".status") + ") & ";
      }
      RunCommand(both + "wait");
      int succeeded = 0;
      const auto after = excel ? Sheets(target) : std::map<std::string, int>{};
      const auto tablesAfter = excel ? std::set<std::string>{} : Tables(target);
      for (const auto& [sheet, rows] : before) {
        EXPECT_EQ(after.count(sheet) ? after.at(sheet) : -1, rows) << c.name << " round " << round << " lost " << sheet;
      }
      for (const auto& table : tablesBefore) EXPECT_TRUE(tablesAfter.count(table)) << c.name << " lost " << table;
      for (int t = 0; t < kTables; ++t) {
        const std::string log = (m_dir / ("run" + std::to_string(t))).string();
        const int status = std::stoi(ReadBytes(log + ".status"));
        const std::string out = ReadBytes(log);
        const std::string table = "T" + std::to_string(t);
        if (status == 0) {
          ++succeeded;
          if (excel) {
            EXPECT_EQ(after.count(table) ? after.at(table) : -1, kRowsPerTable + 1)
                << c.name << " round " << round << ": " << table << " exported, but not in the file\n"
                << out;
          } else {
            EXPECT_TRUE(tablesAfter.count(table))
                << c.name << " round " << round << ": " << table << " exported, but not in the file\n"
                << out;
          }
        } else {
          EXPECT_NE(out.find("in use"), std::string::npos) << c.name << " round " << round << ": unclear failure\n"
                                                           << out;
        }
      }
      EXPECT_GE(succeeded, 1) << c.name << " round " << round;
      EXPECT_EQ(Listing(folder), std::set<std::string>{c.name}) << c.name;
    }
  }
}

// Killed at any moment, an export leaves the folder as it was (no temporary file under any
// name) and the file either as it was or complete.
TEST_F(OutputFaults, KilledExportsLeaveNoFileBehind) {
  struct Case {
    std::string name;
    std::string sample;  // empty: a text file of one line
    std::string options;
  };
  const std::vector<Case> cases = {
      {"kill.mdb", "jet4/test2V2000.mdb", ""}, {"kill.xls", "xls/namesdemo.xls", ""}, {"kill.csv", "", "--replace"}};
  const std::vector<int> delaysMs = {150, 500, 1200, 2500, 4000};
  for (const auto& c : cases) {
    for (const int signal : {SIGKILL, SIGTERM, SIGHUP}) {
      for (const int delay : delaysMs) {
        if (signal != SIGKILL && delay != delaysMs[1]) continue;
        if (c.sample.empty()) WriteBytes(m_out / c.name, "old\r\n");
        const fs::path target = c.sample.empty() ? m_out / c.name : Sample(c.sample, c.name);
        const std::string original = ReadBytes(target);
        const auto listing = Listing(m_out);
        const std::string command =
            ExportCommand("SELECT * FROM Big", target, "exec > /dev/null 2>&1; exec", c.options);
        const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        ::kill(pid, signal);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_EQ(Listing(m_out), listing) << c.name << " signal " << signal << " after " << delay << " ms";
        const std::string now = ReadBytes(target);
        if (now != original) {
          // Finished before the signal, or stopped by it with the rows so far: complete then.
          if (target.extension() == ".csv") {
            EXPECT_EQ(CountOf(now, "\r\n"), kBigRows + 1) << c.name << " changed but incomplete after " << delay;
          } else if (target.extension() == ".xls") {
            EXPECT_TRUE(Sheets(target).count("Big")) << c.name << " changed but incomplete after " << delay << " ms";
          } else if (!std::string(QUILLON_MDB_TABLES).empty()) {
            EXPECT_TRUE(Tables(target).count("Big")) << c.name << " changed but incomplete after " << delay << " ms";
          }
        }
      }
    }
  }
}

// A text file holds one table: one that exists is refused and kept byte for byte, and nothing is
// left beside it.
TEST_F(OutputFaults, AnExistingTextFileIsRefusedUntouched) {
  for (const std::string name : {"kept.csv", "kept.txt"}) {
    const fs::path target = m_out / name;
    WriteBytes(target, "Id,Label\r\n1,one\r\n");
    const auto listing = Listing(m_out);
    const Outcome refused = Export("SELECT * FROM T0", target);
    EXPECT_EQ(refused.status, 1) << refused.out;
    EXPECT_NE(refused.out.find("already exists"), std::string::npos) << refused.out;
    EXPECT_EQ(ReadBytes(target), "Id,Label\r\n1,one\r\n");
    EXPECT_EQ(Listing(m_out), listing);
  }
}

// A file system that takes no more (here a file size limit: writes fail with EFBIG), on the
// output or on the temporary files: one message with the cause, no row blamed, a total of
// zero, a failed run, the original untouched and nothing left behind.
TEST_F(OutputFaults, AFullDiskEndsTheRunOnceWithItsCause) {
  QUILLON_REQUIRE_TOOL(Have(QUILLON_PRLIMIT));
  const fs::path spool = m_dir / "spool";
  fs::create_directory(spool);
  struct Case {
    std::string name;
    std::string sample;
    long limit;
  };
  const std::vector<Case> cases = {{"full.mdb", "jet4/test2V2000.mdb", 1 << 20},
                                   {"full.xls", "xls/profiles.xls", 1 << 20},
                                   {"fullnew.xls", "", 1 << 20}};
  for (const auto& c : cases) {
    const fs::path target = c.sample.empty() ? m_out / c.name : Sample(c.sample, c.name);
    const std::string original = c.sample.empty() ? "" : ReadBytes(target);
    const auto listing = Listing(m_out);
    // The shell's limit as a user sets it, in 512-byte blocks (1024 in bash: twice the limit); the
    // program ignores SIGXFSZ itself, so that the writes fail instead of the process dying.
    const std::string prefix = "ulimit -f " + std::to_string(c.limit / 512) + "; TMPDIR=" + ShellQuote(spool.string());
    const Outcome outcome = Export("SELECT * FROM Big", target, prefix);
    EXPECT_NE(outcome.status, 0) << c.name << "\n" << outcome.out;
    EXPECT_EQ(CountOf(outcome.out, "row refused"), 0) << c.name << "\n" << outcome.out.substr(0, 2000);
    EXPECT_EQ(CountOf(outcome.out, "File too large"), 1) << c.name << "\n" << outcome.out.substr(0, 2000);
    EXPECT_NE(outcome.out.find("Total rows copied: 0\n"), std::string::npos) << c.name << "\n"
                                                                             << outcome.out.substr(0, 2000);
    EXPECT_EQ(Listing(m_out), listing) << c.name;
    if (!c.sample.empty()) {
      EXPECT_TRUE(ReadBytes(target) == original) << c.name << " changed";
    }
    EXPECT_TRUE(fs::is_empty(spool)) << c.name;
  }
  // The container itself cannot be written: numbers only, spread over three sheets, so that
  // each temporary file holds a third of the workbook and stays below the limit. The message
  // names the workbook and the cause.
  const std::string numbers = "SELECT Id, Id * 2 AS Twice FROM Big";
  const fs::path scratch = Sample("xls/profiles.xls", "scratch.xls");
  ASSERT_EQ(Export(numbers, scratch).status, 0);
  const auto fullSize = fs::file_size(scratch);
  fs::remove(scratch);
  const fs::path target = Sample("xls/profiles.xls", "output.xls");
  const std::string original = ReadBytes(target);
  const Outcome outcome = Export(
      numbers, target, "trap '' XFSZ; " + std::string(QUILLON_PRLIMIT) + " --fsize=" + std::to_string(fullSize / 2));
  EXPECT_NE(outcome.status, 0);
  EXPECT_EQ(CountOf(outcome.out, "Could not write '" + target.string() + "': File too large"), 1) << outcome.out;
  EXPECT_NE(outcome.out.find("Total rows copied: 0\n"), std::string::npos) << outcome.out;
  EXPECT_TRUE(ReadBytes(target) == original);
}

// A database that reaches the 2 GB a Jet 4 file holds ends the run once, as a full disk does:
// one message, no row blamed, a total of zero, the file as it was. The sample is grown to just
// under the limit by a hole at its end, which takes no disk, and copied without it.
TEST_F(OutputFaults, AFullDatabaseEndsTheRunOnce) {
  constexpr std::uintmax_t kLimit = std::uintmax_t{1} << 31;
  constexpr std::uintmax_t kRoom = 64 * 4096;
  const fs::path target = Sample("jet4/test2V2000.mdb", "full.mdb");
  fs::resize_file(target, kLimit - kRoom);
  struct stat before {};
  ASSERT_EQ(::stat(target.c_str(), &before), 0);
  const Outcome outcome = Export("SELECT * FROM Big", target);
  EXPECT_NE(outcome.status, 0) << outcome.out.substr(0, 2000);
  EXPECT_EQ(CountOf(outcome.out, "row refused"), 0) << outcome.out.substr(0, 2000);
  EXPECT_EQ(CountOf(outcome.out, "would exceed 2 GB"), 1) << outcome.out.substr(0, 2000);
  EXPECT_NE(outcome.out.find("Total rows copied: 0\n"), std::string::npos) << outcome.out.substr(0, 2000);
  struct stat after {};
  ASSERT_EQ(::stat(target.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_size, before.st_size);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(Listing(m_out), std::set<std::string>{"full.mdb"});
}

// What is refused before anything is written costs no copy of the file: under a file size limit
// below the file's size, a table that exists and a damaged file are refused for what they are,
// not for the limit that a copy would meet.
TEST_F(OutputFaults, RefusalsComeBeforeTheFileIsCopied) {
  struct Case {
    std::string name;
    std::string sample;
    bool cut;  // cut in half at a page boundary: damaged
    std::string message;
  };
  const std::vector<Case> cases = {{"again.mdb", "jet4/test2V2000.mdb", false, "already exists"},
                                   {"again.xls", "xls/profiles.xls", false, "already exists"},
                                   {"cut.mdb", "jet4/test2V2000.mdb", true, "damaged"}};
  for (const auto& c : cases) {
    const fs::path target = Sample(c.sample, c.name);
    if (c.cut) {
      const std::string bytes = ReadBytes(target);
      WriteBytes(target, bytes.substr(0, bytes.size() / 4096 / 2 * 4096));
    } else {
      ASSERT_EQ(Export("SELECT * FROM T0", target).status, 0) << c.name;
    }
    const std::string original = ReadBytes(target);
    const auto blocks = std::to_string(original.size() / 512 / 4);  // a quarter of the file
    const Outcome outcome = Export("SELECT * FROM T0", target, "ulimit -f " + blocks + ";");
    EXPECT_NE(outcome.status, 0) << c.name;
    EXPECT_NE(outcome.out.find(c.message), std::string::npos) << c.name << "\n" << outcome.out;
    EXPECT_EQ(outcome.out.find("File too large"), std::string::npos) << c.name << "\n" << outcome.out;
    EXPECT_TRUE(ReadBytes(target) == original) << c.name;
  }
}

// Temporary files go where TMPDIR says: a TMPDIR that cannot take them is one failure naming it.
TEST_F(OutputFaults, TemporaryFilesGoToTmpdir) {
  const fs::path missing = m_dir / "no-such-folder";
  const fs::path target = m_out / "spooled.xls";
  const Outcome outcome = Export("SELECT * FROM T0", target, "TMPDIR=" + ShellQuote(missing.string()));
  EXPECT_NE(outcome.status, 0) << outcome.out;
  EXPECT_EQ(CountOf(outcome.out, missing.string()), 1) << outcome.out.substr(0, 2000);
  EXPECT_EQ(CountOf(outcome.out, "row refused"), 0) << outcome.out.substr(0, 2000);
  EXPECT_TRUE(Listing(m_out).empty());
  // With a TMPDIR that works the same export succeeds.
  const fs::path spool = m_dir / "spool";
  fs::create_directory(spool);
  EXPECT_EQ(Export("SELECT * FROM T0", target, "TMPDIR=" + ShellQuote(spool.string())).status, 0);
  EXPECT_TRUE(fs::is_empty(spool));
}

// What protects a file protects it from an export too: read-only files stay as they are,
// replaced files keep owner, group, mode, extended attributes and ACL, and a symbolic link stays
// a link to the file that gets the new table.
TEST_F(OutputFaults, ProtectedFilesAndLinksAreHonoured) {
  for (const std::string sample : {"xls/profiles.xls", "jet4/test2V2000.mdb"}) {
    const std::string extension = fs::path(sample).extension().string();
    const fs::path readOnly = Sample(sample, "readonly" + extension);
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const std::string original = ReadBytes(readOnly);
    const Outcome refused = Export("SELECT * FROM T0", readOnly);
    EXPECT_NE(refused.status, 0) << refused.out;
    EXPECT_NE(refused.out.find("read-only"), std::string::npos) << refused.out;
    EXPECT_TRUE(ReadBytes(readOnly) == original);
    EXPECT_EQ(fs::status(readOnly).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    const fs::path real = Sample(sample, "real" + extension);
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const std::string tag = "kept", acl = AccessAclForNobody();
    ASSERT_EQ(::setxattr(real.c_str(), "user.tag", tag.data(), tag.size(), 0), 0) << std::strerror(errno);
    ASSERT_EQ(::setxattr(real.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0)
        << std::strerror(errno);
    const std::string aclBefore = Attribute(real, "system.posix_acl_access");
    const fs::path link = m_out / ("link" + extension);
    fs::create_symlink(real.filename(), link);
    const Outcome linked = Export("SELECT * FROM T0", link);
    EXPECT_EQ(linked.status, 0) << linked.out;
    EXPECT_TRUE(fs::is_symlink(link));
    if (extension == ".xls") {
      EXPECT_TRUE(Sheets(real).count("T0"));
    } else if (!std::string(QUILLON_MDB_TABLES).empty()) {
      EXPECT_TRUE(Tables(real).count("T0"));
    }
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(Attribute(real, "user.tag"), tag) << sample;
    EXPECT_EQ(Attribute(real, "system.posix_acl_access"), aclBefore) << sample;
  }
}

// Owners: root exporting into a user's file leaves it the user's; another user cannot replace
// root's file through a folder that user may write.
TEST_F(OutputFaults, OwnersAreKeptAndForeignFilesRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make files of other users";
  QUILLON_REQUIRE_TOOL(Have(QUILLON_SETPRIV));
  constexpr uid_t kNobody = 65534;
  constexpr gid_t kNogroup = 65534;
  ::chmod(m_dir.Path().c_str(), 0755);
  ::chmod(m_out.c_str(), 0777);
  // The build folder may lie in a folder only root can enter (a clone in a private temporary
  // folder): the other user runs a copy of the program from the test's own folder.
  const fs::path program = m_dir.Path() / "quillon-export";
  fs::copy_file(QUILLON_EXPORT_PROGRAM, program, fs::copy_options::overwrite_existing);
  fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
  struct ProgramGuard {
    ~ProgramGuard() { s_program = QUILLON_EXPORT_PROGRAM; }
  } restoreProgram;
  s_program = program.string();
  for (const std::string sample : {"xls/profiles.xls", "jet4/test2V2000.mdb"}) {
    const std::string extension = fs::path(sample).extension().string();
    const fs::path users = Sample(sample, "users" + extension);
    ASSERT_EQ(::chown(users.c_str(), kNobody, kNogroup), 0);
    ASSERT_EQ(::chmod(users.c_str(), 0640), 0);
    const Outcome asRoot = Export("SELECT * FROM T0", users);
    EXPECT_EQ(asRoot.status, 0) << asRoot.out;
    struct stat status {};
    ASSERT_EQ(::stat(users.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, kNobody) << sample;
    EXPECT_EQ(status.st_gid, kNogroup) << sample;
    EXPECT_EQ(status.st_mode & 07777, 0640u) << sample;

    const fs::path roots = Sample(sample, "roots" + extension);
    const std::string original = ReadBytes(roots);
    const Outcome asNobody = Export("SELECT * FROM T0", roots,
                                    std::string(QUILLON_SETPRIV) + " --reuid=nobody --regid=nogroup --clear-groups");
    EXPECT_NE(asNobody.status, 0) << asNobody.out;
    EXPECT_NE(asNobody.out.find("read-only"), std::string::npos) << asNobody.out;
    ASSERT_EQ(::stat(roots.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 0u);
    EXPECT_TRUE(ReadBytes(roots) == original);
  }
}

// A damaged file is refused with a message of ours (none from the libraries on standard error)
// and stays byte for byte as it was; a damage that leaves everything in place lets the export
// add its table to all the file held.
TEST_F(OutputFaults, DamagedFilesAreRefusedUntouched) {
  const auto refusedUntouched = [&](const fs::path& path, const std::string& what) {
    const std::string original = ReadBytes(path);
    const auto listing = Listing(m_out);
    const Outcome outcome = Export("SELECT * FROM T0", path);
    EXPECT_NE(outcome.status, 0) << what << "\n" << outcome.out;
    EXPECT_NE(outcome.out.find("damaged"), std::string::npos) << what << "\n" << outcome.out;
    for (const char* noise : {"GLib", "WARNING", "CRITICAL", "libgsf", "gsf"}) {
      EXPECT_EQ(outcome.out.find(noise), std::string::npos) << what << "\n" << outcome.out;
    }
    EXPECT_TRUE(ReadBytes(path) == original) << what << " changed";
    EXPECT_EQ(Listing(m_out), listing) << what;
  };
  // Cut by one sector: made by Excel, by another spreadsheet program and by Calc.
  for (const std::string sample : {"xls/namesdemo.xls", "xls/profiles.xls", "xls/Formate.xls"}) {
    const std::string bytes = ReadBytes(fs::path(QUILLON_TEST_DATA) / sample);
    const fs::path cut = m_out / ("cut-" + fs::path(sample).filename().string());
    WriteBytes(cut, bytes.substr(0, bytes.size() - 512));
    refusedUntouched(cut, "cut " + sample);
    fs::remove(cut);
  }
  // A sheet entry (BOUNDSHEET) made unrecognisable: its sheet's records are still in the stream.
  {
    std::string bytes = ReadBytes(fs::path(QUILLON_TEST_DATA) / "xls/namesdemo.xls");
    int found = 0;
    for (std::size_t i = 0; i + 12 < bytes.size(); ++i) {
      const auto u8 = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
      if (u8(i) != 0x85 || u8(i + 1) != 0x00) continue;
      const std::size_t size = u8(i + 2) | u8(i + 3) << 8;
      const std::size_t length = u8(i + 10);
      if (size != 8 + length * ((u8(i + 11) & 1) ? 2 : 1) || length == 0) continue;
      if (++found == 2) {
        bytes[i + 1] = 0x08;  // record 0x0885: no record Excel knows
        break;
      }
    }
    ASSERT_EQ(found, 2) << "no second sheet entry found";
    const fs::path orphan = m_out / "orphan.xls";
    WriteBytes(orphan, bytes);
    refusedUntouched(orphan, "orphaned sheet");
    fs::remove(orphan);
  }
  // Bits flipped in the container's header, allocation table and directory.
  {
    const std::string sample = "xls/profiles.xls";
    const std::string bytes = ReadBytes(fs::path(QUILLON_TEST_DATA) / sample);
    const auto sheets = Sheets(fs::path(QUILLON_TEST_DATA) / sample);
    ASSERT_FALSE(sheets.empty());
    for (const std::size_t at : {0x2Cul, 0x30ul, 0x3Cul, 0x4Cul, 0x200ul, 0x204ul, 0x280ul}) {
      for (const int bit : {0, 4}) {
        std::string flipped = bytes;
        flipped[at] = static_cast<char>(flipped[at] ^ (1 << bit));
        const fs::path path = m_out / "flipped.xls";
        WriteBytes(path, flipped);
        const Outcome outcome = Export("SELECT * FROM T0", path);
        const std::string what = "bit " + std::to_string(bit) + " at " + std::to_string(at);
        EXPECT_EQ(outcome.out.find("GLib"), std::string::npos) << what << "\n" << outcome.out;
        if (outcome.status != 0) {
          EXPECT_TRUE(ReadBytes(path) == flipped) << what << " refused but changed";
        } else {
          auto expected = sheets;
          expected["T0"] = kRowsPerTable + 1;
          EXPECT_EQ(Sheets(path), expected) << what << " accepted but lost content";
        }
        fs::remove(path);
      }
    }
  }
  // A database cut at a page boundary.
  {
    const std::string bytes = ReadBytes(fs::path(QUILLON_TEST_DATA) / "jet4/test2V2000.mdb");
    constexpr std::size_t kPage = 4096;
    const fs::path cut = m_out / "cut.mdb";
    WriteBytes(cut, bytes.substr(0, bytes.size() / kPage / 2 * kPage));
    refusedUntouched(cut, "database cut in half");
    // Without its last page, which no table uses: either refused, or every table reads as before.
    WriteBytes(cut, bytes.substr(0, bytes.size() - kPage));
    const std::string cutBytes = ReadBytes(cut);
    const Outcome outcome = Export("SELECT * FROM T0", cut);
    if (outcome.status != 0) {
      EXPECT_TRUE(ReadBytes(cut) == cutBytes);
    } else if (!std::string(QUILLON_MDB_TABLES).empty()) {
      const fs::path original = fs::path(QUILLON_TEST_DATA) / "jet4/test2V2000.mdb";
      EXPECT_TRUE(Tables(cut).count("T0"));
      for (const auto& table : Tables(original)) {
        EXPECT_EQ(TableText(cut, table), TableText(original, table)) << table;
      }
    }
  }
}

// Names up to the file system's limit work: temporary files never make a name longer.
TEST_F(OutputFaults, LongFileNamesWork) {
  const fs::path excel = m_out / (std::string(244, 'x') + ".xls");
  const fs::path access = m_out / (std::string(236, 'y') + ".mdb");
  const Outcome xls = Export("SELECT * FROM T0", excel);
  EXPECT_EQ(xls.status, 0) << xls.out;
  EXPECT_TRUE(Sheets(excel).count("T0"));
  const Outcome mdb = Export("SELECT * FROM T0", access);
  EXPECT_EQ(mdb.status, 0) << mdb.out;
  EXPECT_EQ(Listing(m_out), (std::set<std::string>{excel.filename().string(), access.filename().string()}));
}

}  // namespace
}  // namespace quillon::faults
