// Helpers for the Access driver's tests: temporary folders, running the independent readers.
#pragma once

#include <filesystem>
#include <string>

namespace quillon::drivers::access::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& Path() const { return m_path; }
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

 private:
  std::filesystem::path m_path;
};

struct CommandResult {
  int status = -1;
  std::string out;
};

// Runs a shell command and collects its standard output.
CommandResult Shell(const std::string& command);
std::string Quote(const std::filesystem::path& path);

// Creates an empty database through the installer entry point; its return value.
int CreateDatabase(const std::filesystem::path& path);
// The connect string the export uses, DBQ last.
std::wstring ConnectString(const std::filesystem::path& path);

// True when node and the installed mdb-reader are there.
bool HaveMdbReader();
// mdb-reader's view: JSON with "tables" (name -> row count) and "rows" of the named tables.
std::string MdbReader(const std::filesystem::path& file, const std::string& tables = "");

// The bytes of a file.
std::string FileBytes(const std::filesystem::path& path);

}  // namespace quillon::drivers::access::test
