#include "tests/drivers/access/ReaderHelpers.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "drivers/BuiltInDrivers.h"
#include "drivers/access/AccessDriver.h"
#include "platform/odbc/Installer.h"
#include "platform/text/WideText.h"
#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers::access::test {

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
         testing::RunCommand("node --version >/dev/null 2>&1 && echo ok").output == "ok\n";
}

std::string MdbReader(const std::filesystem::path& file, const std::string& tables) {
  return testing::RunCommand("node " + testing::ShellQuote(QUILLON_MDB_READER_SCRIPT) + " " +
                             testing::ShellQuote(file) + " " + tables + " 2>&1")
      .output;
}

std::vector<std::filesystem::path> CopyAccessSamples(const quillon::testing::TempDir& dir) {
  std::vector<std::filesystem::path> copies;
  const std::filesystem::path samples = QUILLON_TESTDATA_DIR "/jet4";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(samples, error)) {
    if (entry.path().extension() != ".mdb") continue;
    const auto copy = dir / entry.path().filename().string();
    std::filesystem::copy_file(entry.path(), copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    copies.push_back(copy);
  }
  return copies;
}

}  // namespace quillon::drivers::access::test
