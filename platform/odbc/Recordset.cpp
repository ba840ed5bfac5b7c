#include "platform/odbc/Recordset.h"

#include <array>
#include <cstring>

#include "platform/odbc/DBException.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/OdbcHandles.h"
#include "platform/text/WideText.h"

namespace quillon::odbc {
namespace {

constexpr SQLSMALLINT kMaxColumnNameBytes = 1024;

// The C type in which a column of `sqlType` is fetched with the default field type.
SQLSMALLINT DefaultCType(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_BIT: return SQL_C_BIT;
    case SQL_TINYINT:  // a number, not a character
    case SQL_SMALLINT: return SQL_C_SSHORT;
    case SQL_INTEGER: return SQL_C_SLONG;
    case SQL_REAL: return SQL_C_FLOAT;
    case SQL_FLOAT:
    case SQL_DOUBLE: return SQL_C_DOUBLE;
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP: return SQL_C_TIMESTAMP;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return SQL_C_BINARY;
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR: return SQL_C_WCHAR;
    default: return SQL_C_CHAR;  // text, and decimal, numeric and big integers as their digits
  }
}

template <typename T>
bool GetFixed(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT cType, T& value) {
  SQLLEN indicator = 0;
  CheckOdbc(SQLGetData(statement, column, cType, &value, sizeof value, &indicator), SQL_HANDLE_STMT, statement);
  return indicator != SQL_NULL_DATA;
}

}  // namespace

CRecordset::CRecordset(CDatabase* database) : m_database(database) {}

CRecordset::~CRecordset() = default;

bool CRecordset::Open(unsigned openType, std::wstring_view statement, unsigned options) {
  if (IsOpen()) throw CDBException(L"The recordset is already open", L"24000");
  if (openType != forwardOnly || (options & ~static_cast<unsigned>(readOnly)) != 0) {
    throw CDBException(L"Only forward-only, read-only recordsets are supported", L"HYC00");
  }
  if (m_database == nullptr || !m_database->IsOpen()) throw CDBException(L"The connection is not open", L"08003");
  OdbcConnection* connection = m_database->GetOdbcConnection();
  if (connection == nullptr) throw CDBException(L"The driver does not return result sets", L"IM001");

  auto handle = std::make_unique<OdbcStatement>(*connection);
  const SQLHSTMT stmt = handle->Handle();
  handle->ExecDirect(statement);

  SQLSMALLINT columns = 0;
  CheckOdbc(SQLNumResultCols(stmt, &columns), SQL_HANDLE_STMT, stmt);
  std::vector<CODBCFieldInfo> fields;
  fields.reserve(static_cast<std::size_t>(columns));
  for (SQLUSMALLINT i = 1; i <= columns; ++i) {
    std::array<SQLCHAR, kMaxColumnNameBytes> name{};
    SQLSMALLINT nameLength = 0, type = 0, scale = 0, nullable = 0;
    SQLULEN size = 0;
    CheckOdbc(SQLDescribeCol(stmt, i, name.data(), kMaxColumnNameBytes, &nameLength, &type, &size, &scale, &nullable),
              SQL_HANDLE_STMT, stmt);
    CODBCFieldInfo info;
    info.m_strName = text::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(name.data()),
                                                       std::min<std::size_t>(nameLength, name.size() - 1)));
    info.m_nSQLType = type;
    info.m_nPrecision = static_cast<std::uint32_t>(size);
    info.m_nScale = scale;
    info.m_nNullability = nullable;
    fields.push_back(std::move(info));
  }

  bool eof = true;
  if (columns > 0) eof = CheckOdbc(SQLFetch(stmt), SQL_HANDLE_STMT, stmt) == SQL_NO_DATA;

  m_statement = std::move(handle);
  m_fields = std::move(fields);
  m_tableName = FindSourceTable(statement);
  m_eof = eof;
  return true;
}

bool CRecordset::IsOpen() const { return m_statement != nullptr; }

void CRecordset::Close() {
  m_statement.reset();
  m_fields.clear();
  m_tableName.clear();
  m_eof = true;
}

bool CRecordset::IsEOF() const { return m_eof; }

void CRecordset::MoveNext() {
  if (!IsOpen()) throw CDBException(L"The recordset is not open", L"24000");
  if (m_eof) throw CDBException(L"Attempt to move past the end of the result", L"24000");
  const SQLHSTMT stmt = m_statement->Handle();
  m_eof = CheckOdbc(SQLFetch(stmt), SQL_HANDLE_STMT, stmt) == SQL_NO_DATA;
}

std::int16_t CRecordset::GetODBCFieldCount() const { return static_cast<std::int16_t>(m_fields.size()); }

void CRecordset::GetODBCFieldInfo(std::int16_t index, CODBCFieldInfo& info) const { info = GetODBCFieldInfo(index); }

const CODBCFieldInfo& CRecordset::GetODBCFieldInfo(std::int16_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= m_fields.size()) {
    throw CDBException(L"Column index " + std::to_wstring(index) + L" is out of range", L"07009");
  }
  return m_fields[static_cast<std::size_t>(index)];
}

void CRecordset::GetFieldValue(std::int16_t index, CDBVariant& value, std::int16_t fieldType) {
  if (fieldType != DEFAULT_FIELD_TYPE) throw CDBException(L"Only the default field type is supported", L"HYC00");
  if (!IsOpen() || m_eof) throw CDBException(L"There is no current row", L"24000");
  const CODBCFieldInfo& info = GetODBCFieldInfo(index);
  const SQLHSTMT stmt = m_statement->Handle();
  const auto column = static_cast<SQLUSMALLINT>(index + 1);
  value.Clear();

  switch (const SQLSMALLINT cType = DefaultCType(info.m_nSQLType)) {
    case SQL_C_BIT: {
      unsigned char v = 0;
      if (GetFixed(stmt, column, cType, v)) value.SetBool(v != 0);
      break;
    }
    case SQL_C_SSHORT: {
      SQLSMALLINT v = 0;
      if (GetFixed(stmt, column, cType, v)) value.SetShort(v);
      break;
    }
    case SQL_C_SLONG: {
      SQLINTEGER v = 0;
      if (GetFixed(stmt, column, cType, v)) value.SetLong(v);
      break;
    }
    case SQL_C_FLOAT: {
      SQLREAL v = 0;
      if (GetFixed(stmt, column, cType, v)) value.SetSingle(v);
      break;
    }
    case SQL_C_DOUBLE: {
      SQLDOUBLE v = 0;
      if (GetFixed(stmt, column, cType, v)) value.SetDouble(v);
      break;
    }
    case SQL_C_TIMESTAMP: {
      SQL_TIMESTAMP_STRUCT v{};
      if (GetFixed(stmt, column, cType, v)) {
        value.SetDate(TIMESTAMP_STRUCT{v.year, v.month, v.day, v.hour, v.minute, v.second, v.fraction});
      }
      break;
    }
    case SQL_C_BINARY: {
      const std::size_t n = m_statement->GetLongData(column, cType, info.m_nPrecision, m_buffer);
      if (n != OdbcStatement::kNullData) value.SetBinary(std::vector<std::uint8_t>(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(n)));
      break;
    }
    case SQL_C_WCHAR: {
      const std::size_t n = m_statement->GetLongData(column, cType, std::size_t{info.m_nPrecision} * 2, m_buffer);
      if (n != OdbcStatement::kNullData) {
        std::u16string units(n / 2, u'\0');
        std::memcpy(units.data(), m_buffer.data(), units.size() * 2);
        value.SetWString(text::Utf16ToWide(units));
      }
      break;
    }
    default: {
      // Up to four bytes a character in UTF-8.
      const std::size_t n = m_statement->GetLongData(column, SQL_C_CHAR, std::size_t{info.m_nPrecision} * 4, m_buffer);
      if (n != OdbcStatement::kNullData) value.SetString(text::Utf8ToWide(std::string_view(m_buffer.data(), n)));
      break;
    }
  }
}

}  // namespace quillon::odbc
