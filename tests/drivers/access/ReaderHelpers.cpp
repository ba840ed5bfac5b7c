#include "tests/drivers/access/ReaderHelpers.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <vector>

#include "drivers/BuiltInDrivers.h"
#include "drivers/access/AccessDriver.h"
#include "platform/odbc/Installer.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::access::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quillon-access-XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  m_path = ::mkdtemp(name.data());
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(m_path, ignored);
}

CommandResult Shell(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string Quote(const std::filesystem::path& path) {
  std::string out = "'";
  for (char c : path.string()) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

int CreateDatabase(const std::filesystem::path& path) {
  RegisterBuiltInDrivers();
  std::wstring attributes = L"CREATE_DB=\"" + text::Utf8ToWide(path.string()) + L"\"";
  attributes.push_back(L'\0');
  return odbc::SQLConfigDataSourceW(nullptr, odbc::ODBC_ADD_DSN, kAccessDriverName, attributes.c_str());
}

std::wstring ConnectString(const std::filesystem::path& path) {
  return std::wstring(L"ODBC;DRIVER={") + kAccessDriverName + L"};DSN='';DBQ=" + text::Utf8ToWide(path.string());
}

bool HaveMdbReader() {
  return std::filesystem::exists(std::filesystem::path(QUILLON_MDB_READER_SCRIPT).parent_path() / "node_modules" /
                                 "mdb-reader") &&
         Shell("node --version >/dev/null 2>&1 && echo ok").out == "ok\n";
}

std::string MdbReader(const std::filesystem::path& file, const std::string& tables) {
  return Shell("node " + Quote(QUILLON_MDB_READER_SCRIPT) + " " + Quote(file) + " " + tables + " 2>&1").out;
}

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace quillon::drivers::access::test
