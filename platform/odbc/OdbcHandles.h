// Owners of unixODBC handles and the one wrapper that every ODBC call goes through. Internal to
// the ODBC layer: the rest of Quillon uses CDatabase and CRecordset.
//
// Text crosses into the driver manager through the narrow entry points as UTF-8 and comes back
// as UTF-8 (or UTF-16 for wide columns), decoded here. The wide entry points would make unixODBC
// convert text itself for drivers without them (SQLite's among them), through the locale and as
// UCS-2, which loses characters outside the Basic Multilingual Plane.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <mutex>
#include <string>
#include <string_view>

namespace quillon::odbc {

// Throws CDBException built from the handle's diagnostics when `rc` is an error; returns `rc`
// otherwise (SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA, SQL_NEED_DATA...).
SQLRETURN CheckOdbc(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle);

// The process's ODBC environment, asking for ODBC 2 behaviour so that dates arrive under the
// codes 9, 10 and 11.
SQLHENV OdbcEnvironment();

class OdbcConnection {
 public:
  // Connects with a connect string (without the "ODBC;" prefix); throws CDBException.
  OdbcConnection(std::wstring_view connect, bool readOnly);
  ~OdbcConnection();
  OdbcConnection(const OdbcConnection&) = delete;
  OdbcConnection& operator=(const OdbcConnection&) = delete;

  SQLHDBC Handle() const { return m_handle; }
  // The driver's completed connect string.
  const std::wstring& CompletedConnect() const { return m_completed; }
  void Disconnect();

  // Any thread: asks the driver to cancel the statement this connection is executing (or
  // fetching its first row from) right now, if any (SQLCancel); that call then fails. True
  // when a statement was running and the driver took the request. Never throws.
  bool Cancel() const noexcept;

 private:
  friend class OdbcStatement;
  // Marks `statement` as running on this connection for the length of one ODBC call.
  class RunningCall {
   public:
    RunningCall(const OdbcConnection& connection, SQLHSTMT statement);
    ~RunningCall();
    RunningCall(const RunningCall&) = delete;
    RunningCall& operator=(const RunningCall&) = delete;

   private:
    const OdbcConnection& m_connection;
  };

  SQLHDBC m_handle = SQL_NULL_HDBC;
  bool m_connected = false;
  std::wstring m_completed;
  mutable std::mutex m_runningLock;             // guards m_running against Cancel's thread
  mutable SQLHSTMT m_running = SQL_NULL_HSTMT;  // the statement inside an ODBC call, if any
};

class OdbcStatement {
 public:
  explicit OdbcStatement(const OdbcConnection& connection);
  ~OdbcStatement();
  OdbcStatement(const OdbcStatement&) = delete;
  OdbcStatement& operator=(const OdbcStatement&) = delete;

  SQLHSTMT Handle() const { return m_handle; }
  // Runs `statement`; returns SQL_NO_DATA for a statement that touched no row. The connection's
  // Cancel reaches it while it runs.
  SQLRETURN ExecDirect(std::wstring_view statement);
  // Fetches the next row; SQL_NO_DATA past the last. With `cancellable` the connection's Cancel
  // reaches it (for the first fetch, where some drivers run the query); a later fetch is left
  // alone, since a cancel between fetches would close the cursor under the reader.
  SQLRETURN Fetch(bool cancellable = false);
  // Reads the whole of a column value in C type `cType` (SQL_C_CHAR, SQL_C_WCHAR or
  // SQL_C_BINARY) into the front of `buffer`, which only ever grows so that it can be reused
  // from value to value; `sizeHint` (the column's declared size in bytes) sizes the first read.
  // Returns the value's length in bytes, or kNullData when it is null.
  static constexpr std::size_t kNullData = static_cast<std::size_t>(-1);
  std::size_t GetLongData(SQLUSMALLINT column, SQLSMALLINT cType, std::size_t sizeHint, std::string& buffer);

 private:
  const OdbcConnection& m_connection;
  SQLHSTMT m_handle = SQL_NULL_HSTMT;
};

}  // namespace quillon::odbc
