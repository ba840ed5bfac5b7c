#include "platform/odbc/Database.h"

#include "platform/errors/Errors.h"
#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/odbc/ConnectString.h"
#include "platform/odbc/DriverRegistry.h"
#include "platform/odbc/OdbcHandles.h"
#include "platform/text/WideText.h"

namespace quillon::odbc {
namespace {

constexpr std::wstring_view kOdbcPrefix = L"ODBC;";

std::wstring_view WithoutPrefix(std::wstring_view connect) {
  if (connect.size() >= kOdbcPrefix.size() &&
      text::EqualsIgnoreAsciiCase(connect.substr(0, kOdbcPrefix.size()), kOdbcPrefix)) {
    connect.remove_prefix(kOdbcPrefix.size());
  }
  return connect;
}

// A completed connect string is worth keeping only when it still says what to connect to;
// some drivers complete "DRIVER=X;Database=y" to one that names neither a driver nor a source.
bool NamesDriverOrSource(const std::wstring& connect) {
  const auto parsed = ConnectString::Parse(connect);
  const auto driver = parsed.Get(key::kDriver);
  const auto dsn = parsed.Get(L"DSN");
  return (driver && !driver->empty()) || (dsn && !dsn->empty());
}

}  // namespace

CDatabase::CDatabase() = default;

CDatabase::~CDatabase() {
  try {
    Close();
  } catch (...) {
    // Destruction never throws; a driver that failed to write out has lost what Close had.
  }
}

bool CDatabase::Open(const wchar_t* dataSourceName, bool exclusive, bool readOnly, std::wstring_view connect,
                     bool /*useCursorLib*/) {
  if (exclusive) throw errors::NoExclusiveAccess();
  std::wstring full;
  if (dataSourceName != nullptr && *dataSourceName != L'\0') full = L"DSN=" + std::wstring(dataSourceName) + L";";
  full += WithoutPrefix(connect);
  return OpenEx(full, readOnly ? openReadOnly : 0u);
}

bool CDatabase::OpenEx(std::wstring_view connect, unsigned options) {
  if (IsOpen()) throw errors::ConnectionAlreadyOpen();
  if (options & openExclusive) throw errors::NoExclusiveAccess();
  const std::wstring_view bare = WithoutPrefix(connect);
  const ConnectString parsed = ConnectString::Parse(bare);
  const std::optional<std::wstring> driverName = parsed.Get(key::kDriver);

  if (driverName) {
    if (auto driver = DriverRegistry::Instance().Find(*driverName)) {
      m_builtIn = driver->Connect(parsed);
      m_connect = std::wstring(kOdbcPrefix) + std::wstring(bare);
      return true;
    }
  }
  try {
    m_odbc = std::make_unique<OdbcConnection>(bare, (options & openReadOnly) != 0);
  } catch (const CDBException& e) {
    if (driverName && errors::IsDriverNotFound(e)) {
      throw errors::DriverNotInstalled(*driverName, e);
    }
    throw;
  }
  const std::wstring& completed = m_odbc->CompletedConnect();
  m_connect = std::wstring(kOdbcPrefix) + (NamesDriverOrSource(completed) ? completed : std::wstring(bare));
  return true;
}

bool CDatabase::IsOpen() const { return m_odbc != nullptr || m_builtIn != nullptr; }

void CDatabase::ExecuteSQL(std::wstring_view statement) {
  if (m_builtIn) {
    m_builtIn->ExecuteSQL(statement);
  } else if (m_odbc) {
    OdbcStatement(*m_odbc).ExecDirect(statement);
  } else {
    throw errors::ConnectionClosed();
  }
}

bool CDatabase::InsertRow(std::wstring_view table, const std::vector<Literal>& values) {
  if (!m_odbc && !m_builtIn) throw errors::ConnectionClosed();
  return m_builtIn && m_builtIn->InsertRow(table, values);
}

void CDatabase::Close() {
  m_connect.clear();
  // Release the connection before reporting a failure, so that the object is closed either way.
  if (auto builtIn = std::move(m_builtIn)) builtIn->Close();
  if (auto odbc = std::move(m_odbc)) odbc->Disconnect();
}

std::wstring CDatabase::GetCreatedTableName() const {
  return m_builtIn ? m_builtIn->CreatedTableName() : std::wstring();
}
bool CDatabase::Cancel() const noexcept { return m_odbc && m_odbc->Cancel(); }

std::wstring CDatabase::GetConnect() const { return m_connect; }

}  // namespace quillon::odbc
