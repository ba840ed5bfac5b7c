// The driver's handles: an environment, its connections and their statements, each with its
// diagnostics, and the result set a statement may hold.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "odbcdriver/ResultSet.h"
#include "odbcdriver/Session.h"
#include "platform/errors/Errors.h"

namespace quillon::odbcdriver {

struct DiagRecord {
  std::wstring state;
  long native = 0;
  std::wstring message;
  SQLLEN row = SQL_NO_ROW_NUMBER;  // the row of a parameter array it concerns
};

struct Diagnostics {
  std::vector<DiagRecord> records;
  SQLRETURN returnCode = SQL_SUCCESS;

  void Clear() {
    records.clear();
    returnCode = SQL_SUCCESS;
  }
  void Add(const odbc::CDBException& error, SQLLEN row = SQL_NO_ROW_NUMBER) {
    records.push_back({error.m_strSqlState, error.m_nNativeError, error.m_strMessage, row});
  }
};

struct Connection;

struct Environment {
  Diagnostics diag;
  SQLINTEGER odbcVersion = SQL_OV_ODBC3;
  std::mutex mutex;
  std::vector<Connection*> connections;
};

struct Statement;

struct Connection {
  explicit Connection(Environment& owner) : env(owner) {}
  Environment& env;
  Diagnostics diag;
  std::recursive_mutex mutex;
  std::unique_ptr<Session> session;
  std::wstring dataSource;  // the DSN connected to, if any
  bool autoCommit = true;   // until connected, then the session's
  std::vector<Statement*> statements;
};

// One bound parameter, as SQLBindParameter gave it.
struct BoundParameter {
  bool bound = false;
  SQLSMALLINT ioType = SQL_PARAM_INPUT;
  SQLSMALLINT cType = SQL_C_DEFAULT;
  SQLSMALLINT sqlType = SQL_VARCHAR;
  SQLULEN columnSize = 0;
  SQLSMALLINT decimalDigits = 0;
  SQLPOINTER value = nullptr;
  SQLLEN bufferLength = 0;
  SQLLEN* indicator = nullptr;
};

struct Statement {
  explicit Statement(Connection& owner) : dbc(owner) {}
  Connection& dbc;
  Diagnostics diag;
  std::wstring text;  // the prepared statement
  bool prepared = false;
  bool direct = false;  // run by SQLExecDirect, so SQLExecute has nothing prepared to run again
  std::size_t markers = 0;
  std::vector<std::size_t> markerPositions;  // where in `text` (FindMarkers)
  // The table of an INSERT whose values are all markers, whose rows go without SQL text.
  std::optional<std::wstring> insertTable;
  std::vector<BoundParameter> parameters;  // by number - 1
  SQLLEN rowCount = -1;
  std::optional<ResultSet> result;
  // Values sent in pieces by SQLPutData (data at execution), by parameter number - 1; a
  // parameter sent as NULL holds nothing. `needData` lists the parameters still to come.
  std::vector<std::optional<std::string>> putData;
  std::vector<std::size_t> needData;
  bool putNull = false;
  // Parameter arrays.
  SQLULEN paramsetSize = 1;
  SQLULEN paramBindType = SQL_PARAM_BIND_BY_COLUMN;
  SQLULEN* paramBindOffset = nullptr;
  SQLULEN* paramsProcessed = nullptr;
  SQLUSMALLINT* paramStatus = nullptr;
  SQLUSMALLINT* paramOperation = nullptr;
  // Attributes that are kept and reported but change nothing here.
  SQLULEN maxRows = 0;
  SQLULEN maxLength = 0;
  SQLULEN rowArraySize = 1;
  SQLULEN noScan = SQL_NOSCAN_OFF;
  SQLULEN metadataId = SQL_FALSE;  // the catalog functions take identifiers, not patterns
  // The driver's own descriptors are not offered; these stand for them in SQLGetStmtAttr.
  char descriptors[4] = {};
};

}  // namespace quillon::odbcdriver
