// A small forward-only result set held in memory, for the driver's own result sets (the type
// list, catalog functions): columns described as ODBC describes them, rows of text or integers
// or NULL, fetched with SQLFetch and read with SQLGetData or bound columns.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quillon::odbcdriver {

struct ResultColumn {
  std::wstring name;
  SQLSMALLINT sqlType = SQL_VARCHAR;  // SQL_WVARCHAR, SQL_SMALLINT or SQL_INTEGER
  SQLULEN size = 0;
  SQLSMALLINT nullable = SQL_NULLABLE;
};

using ResultValue = std::variant<std::monostate, long long, std::wstring>;

struct BoundColumn {
  SQLSMALLINT cType = 0;
  SQLPOINTER target = nullptr;
  SQLLEN bufferLength = 0;
  SQLLEN* indicator = nullptr;
};

class ResultSet {
 public:
  explicit ResultSet(std::vector<ResultColumn> columns) : m_columns(std::move(columns)) {}

  void AddRow(std::vector<ResultValue> row) { m_rows.push_back(std::move(row)); }
  const std::vector<ResultColumn>& Columns() const { return m_columns; }

  // Moves to the next row and fills the bound columns; SQL_NO_DATA past the last.
  SQLRETURN Fetch();
  // One column of the current row into `target` as `cType`; text continues where the previous
  // call on the same column stopped. Throws odbc::CDBException; SQL_SUCCESS_WITH_INFO when cut.
  SQLRETURN GetData(SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufferLength, SQLLEN* indicator,
                    bool& truncated);
  void Bind(SQLUSMALLINT column, const BoundColumn& binding);
  void Unbind() { m_bound.clear(); }

 private:
  const ResultValue& Value(SQLUSMALLINT column) const;

  std::vector<ResultColumn> m_columns;
  std::vector<std::vector<ResultValue>> m_rows;
  std::size_t m_next = 0;  // the row after the current one
  std::vector<BoundColumn> m_bound;
  SQLUSMALLINT m_readColumn = 0;  // the column GetData read last, and how far
  std::size_t m_readOffset = 0;
};

// Copies text into an ODBC string buffer (UTF-8 for SQLCHAR, UTF-16 for SQLWCHAR) of
// `bufferBytes` bytes, NUL-terminated, and stores its whole length (in bytes) in `lengthBytes`.
// Returns true when it was cut.
bool PutString(std::wstring_view text, bool wide, SQLPOINTER buffer, SQLLEN bufferBytes, SQLLEN* lengthBytes);
// The same for SQLSMALLINT lengths, counted in characters for wide text when `charsForWide`.
bool PutString(std::wstring_view text, bool wide, SQLPOINTER buffer, SQLSMALLINT bufferLength, SQLSMALLINT* length,
               bool charsForWide);

}  // namespace quillon::odbcdriver
