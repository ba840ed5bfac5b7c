// Helpers for the Excel driver's tests: a scratch folder, running a command, and reading a
// workbook back through xlrd (xls_dump.py).
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace quillon::drivers::excel::testing {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillon-xls-XXXXXX").string();
    m_path = ::mkdtemp(pattern.data());
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

struct CommandResult {
  int status = -1;
  std::string output;
};

// Runs a shell command, standard output captured (standard error too when `withErrors`).
inline CommandResult Run(const std::string& command, bool withErrors = false) {
  CommandResult result;
  FILE* pipe = ::popen((command + (withErrors ? " 2>&1" : "")).c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

inline std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// xlrd's reading of the workbook, one line per sheet and per non-empty cell; empty when xlrd
// fails (its error then goes to `error`).
inline std::vector<std::string> DumpXls(const std::filesystem::path& file, std::string* error = nullptr) {
  const auto result = Run(std::string(QUILLON_PYTHON) + " " + Quote(QUILLON_XLS_DUMP) + " " + Quote(file.string()), true);
  std::vector<std::string> lines;
  if (result.status != 0) {
    if (error != nullptr) *error = result.output;
    return lines;
  }
  std::istringstream in(result.output);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::string ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace quillon::drivers::excel::testing
