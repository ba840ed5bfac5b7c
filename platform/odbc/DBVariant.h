// One column value as the recordset delivers it: a kind (m_dwType) and the member holding it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::odbc {

enum DBVariantKind : std::uint32_t {
  DBVT_NULL = 0,
  DBVT_BOOL = 1,
  DBVT_UCHAR = 2,
  DBVT_SHORT = 3,
  DBVT_LONG = 4,
  DBVT_SINGLE = 5,
  DBVT_DOUBLE = 6,
  DBVT_DATE = 7,
  DBVT_STRING = 8,
  DBVT_BINARY = 9,
  DBVT_ASTRING = 10,
  DBVT_WSTRING = 11,
  // A whole number beyond the 32 bits of DBVT_LONG that an integer column holds (SQLite keeps 64
  // bits in every integer column, whatever its declared type).
  DBVT_BIGINT = 12,
};

// The ODBC date-time record. A time of day without a date (from a TIME column) has year, month
// and day 0.
struct TIMESTAMP_STRUCT {
  std::int16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint32_t fraction = 0;  // billionths of a second
};

struct CDBBinary {
  std::vector<std::uint8_t> m_bytes;
};

class CDBVariant {
 public:
  CDBVariant() = default;
  ~CDBVariant() { Clear(); }
  CDBVariant(const CDBVariant&) = delete;
  CDBVariant& operator=(const CDBVariant&) = delete;

  // Releases any value and returns to DBVT_NULL.
  void Clear() noexcept;

  void SetBool(bool value);
  void SetUChar(std::uint8_t value);
  void SetShort(std::int16_t value);
  void SetLong(std::int32_t value);
  void SetBigInt(std::int64_t value);
  void SetSingle(float value);
  void SetDouble(double value);
  void SetDate(const TIMESTAMP_STRUCT& value);
  void SetString(std::wstring value);   // DBVT_STRING
  void SetWString(std::wstring value);  // DBVT_WSTRING
  void SetAString(std::string value);   // DBVT_ASTRING, bytes in the locale's codeset
  void SetBinary(std::vector<std::uint8_t> value);

  std::uint32_t m_dwType = DBVT_NULL;
  union {
    std::int32_t m_boolVal;
    std::uint8_t m_chVal;
    std::int16_t m_iVal;
    std::int32_t m_lVal;
    std::int64_t m_llVal;
    float m_fltVal;
    double m_dblVal;
    TIMESTAMP_STRUCT* m_pdate;
    std::wstring* m_pstring;
    CDBBinary* m_pbinary;
    std::string* m_pstringA;
    std::wstring* m_pstringW;
  };
};

}  // namespace quillon::odbc
