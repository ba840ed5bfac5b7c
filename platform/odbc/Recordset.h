// A forward-only, read-only result of one statement on a CDatabase reached through unixODBC.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/odbc/DBVariant.h"

namespace quillon::odbc {

class CDatabase;
class OdbcStatement;

// ODBC SQL type codes, as ODBC 2 reports them.
enum SqlTypeCode : std::int16_t {
  SQL_CODE_WLONGVARCHAR = -10,
  SQL_CODE_WVARCHAR = -9,
  SQL_CODE_WCHAR = -8,
  SQL_CODE_BIT = -7,
  SQL_CODE_TINYINT = -6,
  SQL_CODE_BIGINT = -5,
  SQL_CODE_LONGVARBINARY = -4,
  SQL_CODE_VARBINARY = -3,
  SQL_CODE_BINARY = -2,
  SQL_CODE_LONGVARCHAR = -1,
  SQL_CODE_CHAR = 1,
  SQL_CODE_NUMERIC = 2,
  SQL_CODE_DECIMAL = 3,
  SQL_CODE_INTEGER = 4,
  SQL_CODE_SMALLINT = 5,
  SQL_CODE_FLOAT = 6,
  SQL_CODE_REAL = 7,
  SQL_CODE_DOUBLE = 8,
  SQL_CODE_DATE = 9,
  SQL_CODE_TIME = 10,
  SQL_CODE_TIMESTAMP = 11,
  SQL_CODE_VARCHAR = 12,
};

struct CODBCFieldInfo {
  std::wstring m_strName;
  std::int16_t m_nSQLType = 0;
  std::uint32_t m_nPrecision = 0;  // column size
  std::int16_t m_nScale = 0;
  std::int16_t m_nNullability = 0;
};

class CRecordset {
 public:
  enum OpenType { dynaset = 0, snapshot = 1, forwardOnly = 2, dynamic = 3 };
  enum OpenOptions : unsigned { none = 0x0, readOnly = 0x4 };
  static constexpr std::int16_t DEFAULT_FIELD_TYPE = 0;

  explicit CRecordset(CDatabase* database);
  ~CRecordset();  // closes without throwing
  CRecordset(const CRecordset&) = delete;
  CRecordset& operator=(const CRecordset&) = delete;

  // Runs `statement` and stands on the first row, or at the end when there is none. Only
  // forward-only, read-only results exist; other open types and options are refused.
  // Throws CDBException.
  bool Open(unsigned openType, std::wstring_view statement, unsigned options = none);
  bool IsOpen() const;
  void Close();

  bool IsEOF() const;
  // Fetches the next row; throws CDBException past the end.
  void MoveNext();

  std::int16_t GetODBCFieldCount() const;
  void GetODBCFieldInfo(std::int16_t index, CODBCFieldInfo& info) const;
  // The same description without a copy; valid while the recordset stays open.
  const CODBCFieldInfo& GetODBCFieldInfo(std::int16_t index) const;
  // The value of column `index` of the current row, its kind chosen by the column's SQL type
  // (only DEFAULT_FIELD_TYPE is offered). Read each column at most once per row, in ascending
  // order, as ODBC requires.
  void GetFieldValue(std::int16_t index, CDBVariant& value, std::int16_t fieldType = DEFAULT_FIELD_TYPE);
  // The single table the statement reads from, as written after its FROM; empty when it reads
  // from none, several, or a join.
  const std::wstring& GetTableName() const { return m_tableName; }

 private:
  struct Binding;
  static std::unique_ptr<Binding> BindColumns(void* connection, void* stmt, const std::vector<CODBCFieldInfo>& fields);
  void ReadBound(std::int16_t index, const CODBCFieldInfo& info, CDBVariant& value);
  void ReadUnbound(std::int16_t index, const CODBCFieldInfo& info, CDBVariant& value);

  CDatabase* m_database;
  // Buffers bound to the result's columns; declared first so that it outlives the statement.
  std::unique_ptr<Binding> m_binding;
  std::unique_ptr<OdbcStatement> m_statement;
  std::vector<CODBCFieldInfo> m_fields;
  std::wstring m_tableName;
  bool m_eof = true;
  std::string m_buffer;  // reused for every variable-length value
};

}  // namespace quillon::odbc
