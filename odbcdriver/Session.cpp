#include "odbcdriver/Session.h"

#include <sys/stat.h>

#include <cerrno>
#include <string_view>
#include <variant>

#include "drivers/BuiltInDrivers.h"
#include "platform/errors/Errors.h"
#include "platform/file/FileReplacement.h"
#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/text/WideText.h"

namespace quillon::odbcdriver {
namespace {

// The built-in driver for each file extension (compared without regard to case).
struct ExtensionDriver {
  std::wstring_view extension;
  const wchar_t* driver;
};
constexpr ExtensionDriver kDriversByExtension[] = {
    {L".mdb", odbc::kAccessDriverName}, {L".xls", odbc::kExcelDriverName}, {L".xlsx", odbc::kXlsxDriverName},
    {L".txt", odbc::kTextDriverName},   {L".csv", odbc::kCsvDriverName},
};

// The connect-string keys passed on to the output driver as they were given.
constexpr const wchar_t* kPassedKeys[] = {odbc::key::kReadOnly, odbc::key::kDatePattern};

std::shared_ptr<odbc::IBuiltInDriver> DriverFor(const std::wstring& path, std::wstring& name) {
  drivers::RegisterBuiltInDrivers();
  const auto dot = path.rfind(L'.');
  const auto slash = path.rfind(L'/');
  if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash)) {
    const std::wstring_view extension = std::wstring_view(path).substr(dot);
    for (const auto& entry : kDriversByExtension) {
      if (!text::EqualsIgnoreAsciiCase(extension, entry.extension)) continue;
      if (auto driver = odbc::DriverRegistry::Instance().Find(entry.driver)) {
        name = entry.driver;
        return driver;
      }
    }
  }
  throw odbc::errors::NoDriverForFile(path);
}

bool Exists(const std::wstring& path) {
  struct stat status {};
  return ::stat(text::WideToUtf8(path).c_str(), &status) == 0;
}

// Creates the folders above `path` that are missing, as an export does. A folder that is still
// missing when it cannot be made is refused with the cause (a folder that is there but cannot be
// looked into shows in the driver's error when the file is opened).
void CreateFolders(const std::wstring& path) {
  const std::string utf8 = text::WideToUtf8(path);
  for (std::size_t slash = utf8.find('/', 1); slash != std::string::npos; slash = utf8.find('/', slash + 1)) {
    if (utf8[slash - 1] == '/') continue;
    const std::string folder = utf8.substr(0, slash);
    if (::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST) continue;
    const int error = errno;
    struct stat status {};
    if (::stat(folder.c_str(), &status) == 0 || errno != ENOENT) continue;
    if (error == EACCES || error == EPERM) {
      throw odbc::errors::PermissionDenied(L"folder", text::Utf8ToWide(folder), L"created");
    }
    throw odbc::errors::IoError(L"Could not create the folder", folder, error);
  }
}

std::wstring Braced(std::wstring_view value) {
  std::wstring out = L"{";
  for (const wchar_t c : value) {
    out.push_back(c);
    if (c == L'}') out.push_back(L'}');
  }
  return out + L"}";
}

}  // namespace

Session::Session(const odbc::ConnectString& connect) {
  if (const auto dbq = connect.Get(odbc::key::kDatabase)) m_path = *dbq;
  if (m_path.empty()) throw odbc::errors::NoFileNamed();
  m_driver = DriverFor(m_path, m_driverName);
  for (const wchar_t* key : kPassedKeys) {
    if (const auto value = connect.Get(key)) m_options.emplace_back(key, *value);
  }
  if (const auto readOnly = connect.Get(odbc::key::kReadOnly)) {
    m_readOnly = *readOnly == L"1" || text::EqualsIgnoreAsciiCase(*readOnly, L"TRUE") ||
                 text::EqualsIgnoreAsciiCase(*readOnly, L"YES");
  }
  if (!Exists(m_path)) CreateFolders(m_path);
  Open();
}

Session::~Session() {
  if (auto* output = dynamic_cast<drivers::OutputConnection*>(m_connection.get())) output->Abandon();
}

void Session::Open() {
  std::wstring connect = L"DRIVER=" + Braced(m_driverName) + L";";
  for (const auto& [key, value] : m_options) connect += std::wstring(key) + L"=" + Braced(value) + L";";
  const bool missing = !Exists(m_path);
  // A new file is made when a transaction that created a table commits: an Access database is
  // started empty in place of the missing file (REPLACE), the other formats create on connect.
  if (missing) {
    connect += std::wstring(odbc::key::kCreateDatabase) + L"=" + Braced(m_path) + L";";
    if (m_driverName == odbc::kAccessDriverName) connect += std::wstring(odbc::key::kReplace) + L"=1;";
  }
  connect += std::wstring(odbc::key::kDatabase) + L"=" + Braced(m_path);
  m_connection = m_driver->Connect(odbc::ConnectString::Parse(connect));
  // A file that another program made between the look and the lock is opened as it is.
  if (missing && Exists(m_path)) {
    file::LockHandover handover;
    m_connection.reset();
    Open();
  }
}

odbc::IDriverConnection& Session::Connection() {
  if (!m_connection) {
    file::LockHandover handover;
    Open();
  }
  return *m_connection;
}

void Session::Remember(std::wstring_view statement) {
  drivers::sql::Parse(statement, m_parsed);
  if (const auto* create = std::get_if<drivers::sql::CreateTable>(&m_parsed)) {
    const std::wstring stored = m_connection->CreatedTableName();
    m_tables[text::AsciiUpper(std::wstring_view(stored.empty() ? create->table : stored))] = create->columns;
    if (!stored.empty()) m_tables[text::AsciiUpper(std::wstring_view(create->table))] = create->columns;
  }
}

bool Session::Execute(std::wstring_view statement) {
  Connection().ExecuteSQL(statement);
  m_changed = true;
  try {
    Remember(statement);
  } catch (const odbc::CDBException&) {
    return false;  // the driver took it, so it parses
  }
  return std::holds_alternative<drivers::sql::Insert>(m_parsed);
}

bool Session::InsertRow(std::wstring_view table, const std::vector<odbc::Literal>& values) {
  if (!Connection().InsertRow(table, values)) return false;
  m_changed = true;
  return true;
}

void Session::StatementDone() {
  if (m_autoCommit && m_changed) Commit();
}

void Session::EndTransaction(bool commit) {
  auto* output = dynamic_cast<drivers::OutputConnection*>(m_connection.get());
  if (commit && output != nullptr) {
    m_changed = false;
    try {
      output->Checkpoint();
    } catch (const odbc::CDBException&) {
      // The file holds the last commit; the connection that failed to write it is given up.
      Restart(false);
      throw;
    }
    return;
  }
  Restart(commit);
}

void Session::Restart(bool commit) {
  file::LockHandover handover;
  m_changed = false;
  m_tables.clear();
  auto connection = std::move(m_connection);
  if (connection) {
    auto* output = dynamic_cast<drivers::OutputConnection*>(connection.get());
    if (commit || output == nullptr) {
      try {
        connection->Close();
      } catch (const odbc::CDBException&) {
        connection.reset();
        Open();
        throw;
      }
    } else {
      output->Abandon();
    }
    connection.reset();
  }
  Open();
}

void Session::Commit() {
  if (m_changed || !m_connection) EndTransaction(true);
}

void Session::Rollback() { EndTransaction(false); }

void Session::SetAutoCommit(bool on) {
  if (on && !m_autoCommit && m_changed) Commit();
  m_autoCommit = on;
}

void Session::Close() {
  if (auto* output = dynamic_cast<drivers::OutputConnection*>(m_connection.get())) output->Abandon();
  m_connection.reset();
}

const std::vector<drivers::sql::ColumnDef>* Session::Columns(std::wstring_view table) const {
  const auto found = m_tables.find(text::AsciiUpper(table));
  return found == m_tables.end() ? nullptr : &found->second;
}

std::vector<drivers::ListedTable> Session::Tables() {
  auto* output = dynamic_cast<drivers::OutputConnection*>(&Connection());
  return output != nullptr ? output->Tables() : std::vector<drivers::ListedTable>();
}

}  // namespace quillon::odbcdriver
