// Running the command-line tools as child processes whose standard streams and signals a test
// controls, and SQLite sources for them to read.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/Command.h"

namespace quillon::cli::testing {

// A program started with its standard output and error going where the test says.
class Child {
 public:
  // Starts `args` (args[0] the program) under a UTF-8 locale with XDG_DATA_HOME=`dataHome`;
  // each of the streams goes to its file descriptor (-1: /dev/null). The descriptors stay the
  // caller's. Fails the test (returns a child without a process) when it cannot start.
  Child(std::vector<std::string> args, const std::filesystem::path& dataHome, int stdoutFd, int stderrFd,
        int stdinFd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int fds[] = {stdinFd, stdoutFd, stderrFd};
    for (int target = 0; target < 3; ++target) {
      if (fds[target] >= 0) {
        posix_spawn_file_actions_adddup2(&actions, fds[target], target);
      } else {
        posix_spawn_file_actions_addopen(&actions, target, "/dev/null", target == 0 ? O_RDONLY : O_WRONLY, 0);
      }
    }
    std::vector<std::string> env = {"LC_ALL=C.UTF-8", "XDG_DATA_HOME=" + dataHome.string(), "PATH=/usr/bin:/bin"};
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) m_pid = 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Started() const { return m_pid > 0; }
  void Signal(int signal) const { kill(m_pid, signal); }
  // Waits for the end: the exit status, or -(the signal) that ended it.
  int Wait() {
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = 0;
    return Decoded(status);
  }
  // As Wait, for at most `timeout`; nothing when the process still runs then.
  std::optional<int> WaitFor(std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (int status = 0;; usleep(kWaitStepUs)) {
      if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = 0;
        return Decoded(status);
      }
      if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
    }
  }
  // True when the process holds `path` open.
  bool HasOpen(const std::filesystem::path& path) const {
    std::error_code error;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(m_pid) + "/fd", error)) {
      if (std::filesystem::read_symlink(fd.path(), error) == path) return true;
    }
    return false;
  }

 private:
  static constexpr useconds_t kWaitStepUs = 20 * 1000;
  static int Decoded(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? -WTERMSIG(status) : -1000;
  }
  pid_t m_pid = 0;
};

// A SQLite database at `path` with table Big (n INTEGER, t VARCHAR(20)) of `rows` rows; the
// connect string that reads it a row at a time.
inline std::string MakeBigSource(const std::filesystem::path& path, long rows) {
  const auto made = quillon::testing::RunCommand(
      "sqlite3 " + quillon::testing::ShellQuote(path.string()) +
      " 'CREATE TABLE Big (n INTEGER, t VARCHAR(20)); INSERT INTO Big WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL "
      "SELECT i + 1 FROM c WHERE i < " +
      std::to_string(rows) + ") SELECT i, \"row \" || i FROM c;'");
  if (made.status != 0) return {};
  return "DRIVER=SQLite3;StepAPI=1;Database=" + path.string();
}

// The rows of `table` in the Access database `file` as mdb-count sees them; -1 when it cannot.
inline long MdbCount(const std::filesystem::path& file, const std::string& table) {
  const auto count = quillon::testing::RunCommand("mdb-count " + quillon::testing::ShellQuote(file.string()) + " " +
                                                  table + " 2>/dev/null");
  if (count.status != 0 || count.output.empty()) return -1;
  return std::stol(count.output);
}

// The names in `folder`, sorted.
inline std::vector<std::string> FolderNames(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace quillon::cli::testing
