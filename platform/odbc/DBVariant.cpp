#include "platform/odbc/DBVariant.h"

#include <utility>

namespace quillon::odbc {

void CDBVariant::Clear() noexcept {
  switch (m_dwType) {
    case DBVT_DATE:
      delete m_pdate;
      break;
    case DBVT_STRING:
      delete m_pstring;
      break;
    case DBVT_WSTRING:
      delete m_pstringW;
      break;
    case DBVT_ASTRING:
      delete m_pstringA;
      break;
    case DBVT_BINARY:
      delete m_pbinary;
      break;
    default:
      break;
  }
  m_dwType = DBVT_NULL;
}

void CDBVariant::SetBool(bool value) {
  Clear();
  m_boolVal = value ? 1 : 0;
  m_dwType = DBVT_BOOL;
}

void CDBVariant::SetUChar(std::uint8_t value) {
  Clear();
  m_chVal = value;
  m_dwType = DBVT_UCHAR;
}

void CDBVariant::SetShort(std::int16_t value) {
  Clear();
  m_iVal = value;
  m_dwType = DBVT_SHORT;
}

void CDBVariant::SetLong(std::int32_t value) {
  Clear();
  m_lVal = value;
  m_dwType = DBVT_LONG;
}

void CDBVariant::SetBigInt(std::int64_t value) {
  Clear();
  m_llVal = value;
  m_dwType = DBVT_BIGINT;
}

void CDBVariant::SetSingle(float value) {
  Clear();
  m_fltVal = value;
  m_dwType = DBVT_SINGLE;
}

void CDBVariant::SetDouble(double value) {
  Clear();
  m_dblVal = value;
  m_dwType = DBVT_DOUBLE;
}

void CDBVariant::SetDate(const TIMESTAMP_STRUCT& value) {
  Clear();
  m_pdate = new TIMESTAMP_STRUCT(value);
  m_dwType = DBVT_DATE;
}

void CDBVariant::SetString(std::wstring value) {
  Clear();
  m_pstring = new std::wstring(std::move(value));
  m_dwType = DBVT_STRING;
}

void CDBVariant::SetWString(std::wstring value) {
  Clear();
  m_pstringW = new std::wstring(std::move(value));
  m_dwType = DBVT_WSTRING;
}

void CDBVariant::SetAString(std::string value) {
  Clear();
  m_pstringA = new std::string(std::move(value));
  m_dwType = DBVT_ASTRING;
}

void CDBVariant::SetBinary(std::vector<std::uint8_t> value) {
  Clear();
  m_pbinary = new CDBBinary{std::move(value)};
  m_dwType = DBVT_BINARY;
}

}  // namespace quillon::odbc
