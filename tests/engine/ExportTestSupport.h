// Running commands and reading exported files back through readers that are not our code:
// xlrd for workbooks, mdbtools for Access databases.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace quillon::engine::testing {

inline std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The command's standard output as lines; `status` gets its exit status.
inline std::vector<std::string> OutputLines(const std::string& command, int* status = nullptr) {
  std::vector<std::string> lines;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return lines;
  std::string all;
  std::array<char, 65536> buffer{};
  std::size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) all.append(buffer.data(), n);
  const int raw = pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::istringstream in(all);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// xlrd's reading: "sheet<TAB>name<TAB>rows<TAB>cols" per sheet, "s<TAB>r<TAB>c<TAB>kind<TAB>value" per cell.
inline std::vector<std::string> ReadWorkbook(const std::filesystem::path& file) {
  return OutputLines(std::string(QUILLON_PYTHON) + " " + Quote(QUILLON_XLS_DUMP) + " " + Quote(file.string()));
}

// Sheet names with their row counts (header included), as xlrd sees them.
inline std::vector<std::pair<std::string, int>> SheetSizes(const std::filesystem::path& file) {
  std::vector<std::pair<std::string, int>> sheets;
  for (const auto& line : OutputLines(std::string(QUILLON_PYTHON) +
                                      " -c 'import sys, xlrd\nfor s in xlrd.open_workbook(sys.argv[1]).sheets(): "
                                      "print(s.name, s.nrows)' " +
                                      Quote(file.string()))) {
    const auto space = line.rfind(' ');
    sheets.emplace_back(line.substr(0, space), std::stoi(line.substr(space + 1)));
  }
  return sheets;
}

// mdbtools' export of one table: a header line, then one CSV line per row.
inline std::vector<std::string> ReadAccessTable(const std::filesystem::path& file, const std::string& table) {
  return OutputLines("mdb-export -T '%Y-%m-%d %H:%M:%S' " + Quote(file.string()) + " " + Quote(table));
}

inline std::vector<std::string> ReadAccessSchema(const std::filesystem::path& file) {
  return OutputLines("mdb-schema " + Quote(file.string()));
}

}  // namespace quillon::engine::testing
