#include "platform/odbc/OdbcHandles.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/errors/Errors.h"
#include "platform/text/WideText.h"

namespace quillon::odbc {
namespace {

constexpr SQLSMALLINT kMaxMessageLength = 2048;
constexpr SQLSMALLINT kMaxCompletedConnectLength = 4096;
constexpr std::size_t kFirstChunkBytes = 64;
constexpr std::size_t kDataChunkBytes = 16 * 1024;

SQLCHAR* Sql(std::string& s) { return reinterpret_cast<SQLCHAR*>(s.data()); }

CDBException DiagnosticsOf(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc) {
  if (rc == SQL_INVALID_HANDLE) return errors::InvalidHandle();
  std::wstring message;
  std::wstring firstState;
  long firstNative = 0;
  for (SQLSMALLINT record = 1;; ++record) {
    std::array<SQLCHAR, 6> state{};
    SQLINTEGER native = 0;
    std::vector<SQLCHAR> text(kMaxMessageLength);
    SQLSMALLINT length = 0;
    const SQLRETURN diag =
        SQLGetDiagRec(handleType, handle, record, state.data(), &native, text.data(), kMaxMessageLength, &length);
    if (!SQL_SUCCEEDED(diag)) break;
    const auto* chars = reinterpret_cast<const char*>(text.data());
    const std::wstring line = text::Utf8ToWide(std::string_view(chars, std::min<std::size_t>(length, text.size() - 1)));
    if (record == 1) {
      firstState = text::Utf8ToWide(reinterpret_cast<const char*>(state.data()));
      firstNative = native;
    }
    if (!message.empty()) message += L"\n";
    message += line;
  }
  if (message.empty()) return errors::NoDiagnostic();
  return errors::FromDriver(message, firstState, firstNative);
}

}  // namespace

SQLRETURN CheckOdbc(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle) {
  if (rc == SQL_ERROR || rc == SQL_INVALID_HANDLE) throw DiagnosticsOf(handleType, handle, rc);
  return rc;
}

SQLHENV OdbcEnvironment() {
  static const SQLHENV environment = [] {
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
      throw errors::NoEnvironment();
    }
    CheckOdbc(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC2), 0), SQL_HANDLE_ENV,
              env);
    return env;
  }();
  return environment;
}

OdbcConnection::OdbcConnection(std::wstring_view connect, bool readOnly) {
  const SQLHENV env = OdbcEnvironment();
  CheckOdbc(SQLAllocHandle(SQL_HANDLE_DBC, env, &m_handle), SQL_HANDLE_ENV, env);
  try {
    if (readOnly) {
      CheckOdbc(SQLSetConnectAttr(m_handle, SQL_ATTR_ACCESS_MODE, reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0),
                SQL_HANDLE_DBC, m_handle);
    }
    std::string in = text::WideToUtf8(connect);
    std::string out(kMaxCompletedConnectLength, '\0');
    SQLSMALLINT outLength = 0;
    CheckOdbc(SQLDriverConnect(m_handle, nullptr, Sql(in), static_cast<SQLSMALLINT>(in.size()), Sql(out),
                               kMaxCompletedConnectLength, &outLength, SQL_DRIVER_NOPROMPT),
              SQL_HANDLE_DBC, m_handle);
    m_connected = true;
    out.resize(std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(outLength, 0)), out.size() - 1));
    m_completed = text::Utf8ToWide(out);
  } catch (...) {
    SQLFreeHandle(SQL_HANDLE_DBC, m_handle);
    throw;
  }
}

OdbcConnection::~OdbcConnection() {
  if (m_connected) SQLDisconnect(m_handle);
  SQLFreeHandle(SQL_HANDLE_DBC, m_handle);
}

void OdbcConnection::Disconnect() {
  if (!m_connected) return;
  m_connected = false;
  CheckOdbc(SQLDisconnect(m_handle), SQL_HANDLE_DBC, m_handle);
}

bool OdbcConnection::Cancel() const noexcept {
  const std::lock_guard lock(m_runningLock);
  if (m_running == SQL_NULL_HSTMT) return false;
  try {
    CheckOdbc(SQLCancel(m_running), SQL_HANDLE_STMT, m_running);
    return true;
  } catch (...) {
    return false;  // the call runs on to its end, as it would have without the request
  }
}

OdbcConnection::RunningCall::RunningCall(const OdbcConnection& connection, SQLHSTMT statement)
    : m_connection(connection) {
  const std::lock_guard lock(m_connection.m_runningLock);
  m_connection.m_running = statement;
}

OdbcConnection::RunningCall::~RunningCall() {
  // Waits for a Cancel under way, so that the statement is never cancelled after it is freed.
  const std::lock_guard lock(m_connection.m_runningLock);
  m_connection.m_running = SQL_NULL_HSTMT;
}

OdbcStatement::OdbcStatement(const OdbcConnection& connection) : m_connection(connection) {
  CheckOdbc(SQLAllocHandle(SQL_HANDLE_STMT, connection.Handle(), &m_handle), SQL_HANDLE_DBC, connection.Handle());
}

OdbcStatement::~OdbcStatement() { SQLFreeHandle(SQL_HANDLE_STMT, m_handle); }

SQLRETURN OdbcStatement::ExecDirect(std::wstring_view statement) {
  std::string sql = text::WideToUtf8(statement);
  SQLRETURN rc;
  {
    const OdbcConnection::RunningCall running(m_connection, m_handle);
    rc = SQLExecDirect(m_handle, Sql(sql), static_cast<SQLINTEGER>(sql.size()));
  }
  return CheckOdbc(rc, SQL_HANDLE_STMT, m_handle);
}

SQLRETURN OdbcStatement::Fetch(bool cancellable) {
  if (!cancellable) return CheckOdbc(SQLFetch(m_handle), SQL_HANDLE_STMT, m_handle);
  SQLRETURN rc;
  {
    const OdbcConnection::RunningCall running(m_connection, m_handle);
    rc = SQLFetch(m_handle);
  }
  return CheckOdbc(rc, SQL_HANDLE_STMT, m_handle);
}

std::size_t OdbcStatement::GetLongData(SQLUSMALLINT column, SQLSMALLINT cType, std::size_t sizeHint,
                                       std::string& buffer) {
  // Character data carries a terminator in every chunk; it is not part of the value.
  const std::size_t terminator = cType == SQL_C_CHAR ? 1 : cType == SQL_C_WCHAR ? 2 : 0;
  // Some drivers fill the whole of the buffer they are given, so a short value is read into a
  // buffer of about its column's size rather than a large one.
  std::size_t chunk = std::clamp(sizeHint + terminator, kFirstChunkBytes, kDataChunkBytes);
  std::size_t used = 0;
  for (;;) {
    if (buffer.size() < used + chunk) buffer.resize(used + chunk);
    SQLLEN indicator = 0;
    const SQLRETURN rc =
        CheckOdbc(SQLGetData(m_handle, column, cType, buffer.data() + used, static_cast<SQLLEN>(chunk), &indicator),
                  SQL_HANDLE_STMT, m_handle);
    if (rc == SQL_NO_DATA) break;  // every part already read
    if (indicator == SQL_NULL_DATA) return kNullData;
    const bool truncated = indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) + terminator > chunk;
    if (!truncated) {
      used += static_cast<std::size_t>(indicator);
      break;
    }
    used += chunk - terminator;
    // Grow toward the announced total, so that a long value takes few calls.
    if (indicator != SQL_NO_TOTAL) {
      chunk = std::max(chunk, static_cast<std::size_t>(indicator) - (chunk - terminator) + terminator);
    } else {
      chunk = std::max(chunk * 2, kDataChunkBytes);
    }
  }
  return used;
}

}  // namespace quillon::odbc
