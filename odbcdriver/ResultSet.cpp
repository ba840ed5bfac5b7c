#include "odbcdriver/ResultSet.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "platform/errors/Errors.h"
#include "platform/text/WideText.h"

namespace quillon::odbcdriver {
namespace {

template <typename T>
void PutNumber(long long value, SQLPOINTER target, SQLLEN* indicator) {
  if (target != nullptr) *static_cast<T*>(target) = static_cast<T>(value);
  if (indicator != nullptr) *indicator = sizeof(T);
}

}  // namespace

bool PutString(std::wstring_view text, bool wide, SQLPOINTER buffer, SQLLEN bufferBytes, SQLLEN* lengthBytes) {
  if (wide) {
    const std::u16string utf16 = text::WideToUtf16(text);
    const auto bytes = static_cast<SQLLEN>(utf16.size() * sizeof(char16_t));
    if (lengthBytes != nullptr) *lengthBytes = bytes;
    const SQLLEN room = bufferBytes / static_cast<SQLLEN>(sizeof(char16_t));
    if (buffer == nullptr || room <= 0) return buffer != nullptr && bytes > 0;
    const auto count = std::min<std::size_t>(utf16.size(), static_cast<std::size_t>(room - 1));
    std::memcpy(buffer, utf16.data(), count * sizeof(char16_t));
    static_cast<char16_t*>(buffer)[count] = 0;
    return count < utf16.size();
  }
  const std::string utf8 = text::WideToUtf8(text);
  if (lengthBytes != nullptr) *lengthBytes = static_cast<SQLLEN>(utf8.size());
  if (buffer == nullptr || bufferBytes <= 0) return false;
  const auto count = std::min<std::size_t>(utf8.size(), static_cast<std::size_t>(bufferBytes - 1));
  std::memcpy(buffer, utf8.data(), count);
  static_cast<char*>(buffer)[count] = 0;
  return count < utf8.size();
}

bool PutString(std::wstring_view text, bool wide, SQLPOINTER buffer, SQLSMALLINT bufferLength, SQLSMALLINT* length,
               bool charsForWide) {
  const SQLLEN unit = wide && charsForWide ? static_cast<SQLLEN>(sizeof(char16_t)) : 1;
  SQLLEN bytes = 0;
  const bool cut = PutString(text, wide, buffer, static_cast<SQLLEN>(bufferLength) * unit, &bytes);
  // A length past what the SQLSMALLINT holds (a message quoting a very long name) is given as the
  // most it holds rather than wrapped to a negative one; the text is cut to the buffer anyway.
  if (length != nullptr)
    *length = static_cast<SQLSMALLINT>(std::min<SQLLEN>(bytes / unit, std::numeric_limits<SQLSMALLINT>::max()));
  return cut;
}

const ResultValue& ResultSet::Value(SQLUSMALLINT column) const {
  if (m_next == 0 || m_next > m_rows.size()) throw odbc::errors::NoCurrentRow();
  if (column < 1 || column > m_columns.size()) throw odbc::errors::ColumnOutOfRange(column);
  return m_rows[m_next - 1][column - 1];
}

SQLRETURN ResultSet::Fetch() {
  if (m_next >= m_rows.size()) {
    m_next = m_rows.size() + 1;
    return SQL_NO_DATA;
  }
  ++m_next;
  m_readColumn = 0;
  SQLRETURN result = SQL_SUCCESS;
  for (std::size_t i = 0; i < m_bound.size(); ++i) {
    const BoundColumn& binding = m_bound[i];
    if (binding.target == nullptr && binding.indicator == nullptr) continue;
    bool truncated = false;
    GetData(static_cast<SQLUSMALLINT>(i + 1), binding.cType, binding.target, binding.bufferLength, binding.indicator,
            truncated);
    m_readColumn = 0;
    if (truncated) result = SQL_SUCCESS_WITH_INFO;
  }
  return result;
}

void ResultSet::Bind(SQLUSMALLINT column, const BoundColumn& binding) {
  if (column < 1 || column > m_columns.size()) throw odbc::errors::ColumnOutOfRange(column);
  if (m_bound.size() < column) m_bound.resize(column);
  m_bound[column - 1] = binding;
}

SQLRETURN ResultSet::GetData(SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufferLength,
                             SQLLEN* indicator, bool& truncated) {
  const ResultValue& value = Value(column);
  truncated = false;
  if (std::holds_alternative<std::monostate>(value)) {
    if (indicator == nullptr) throw odbc::errors::FeatureNotImplemented(L"NULL without an indicator");
    *indicator = SQL_NULL_DATA;
    return SQL_SUCCESS;
  }
  if (cType == SQL_C_DEFAULT) {
    const SQLSMALLINT type = m_columns[column - 1].sqlType;
    cType = type == SQL_SMALLINT ? SQL_C_SSHORT : type == SQL_INTEGER ? SQL_C_SLONG : SQL_C_WCHAR;
  }
  if (cType == SQL_C_CHAR || cType == SQL_C_WCHAR) {
    const std::wstring text = std::holds_alternative<long long>(value) ? std::to_wstring(std::get<long long>(value))
                                                                       : std::get<std::wstring>(value);
    const bool wide = cType == SQL_C_WCHAR;
    // Text read in pieces: each call goes on from where the last stopped.
    if (m_readColumn != column) {
      m_readColumn = column;
      m_readOffset = 0;
    }
    const std::u16string utf16 = text::WideToUtf16(text);
    const std::string utf8 = text::WideToUtf8(text);
    const std::size_t total = wide ? utf16.size() * sizeof(char16_t) : utf8.size();
    if (m_readOffset > 0 && m_readOffset >= total) return SQL_NO_DATA;
    const std::size_t unit = wide ? sizeof(char16_t) : 1;
    const std::size_t left = total - m_readOffset;
    if (indicator != nullptr) *indicator = static_cast<SQLLEN>(left);
    if (target == nullptr || bufferLength < static_cast<SQLLEN>(unit)) {
      truncated = left > 0;
      return truncated ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    }
    const std::size_t room = (static_cast<std::size_t>(bufferLength) / unit - 1) * unit;
    const std::size_t count = std::min(left, room);
    const char* from = wide ? reinterpret_cast<const char*>(utf16.data()) : utf8.data();
    std::memcpy(target, from + m_readOffset, count);
    std::memset(static_cast<char*>(target) + count, 0, unit);
    m_readOffset += count;
    truncated = count < left;
    // A piece that ends the value leaves nothing for the next call.
    if (!truncated) m_readOffset = total == 0 ? 1 : total;
    return truncated ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
  }
  if (!std::holds_alternative<long long>(value)) throw odbc::errors::NotConvertible(column);
  const long long number = std::get<long long>(value);
  switch (cType) {
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
      PutNumber<SQLSMALLINT>(number, target, indicator);
      break;
    case SQL_C_USHORT:
      PutNumber<SQLUSMALLINT>(number, target, indicator);
      break;
    case SQL_C_LONG:
    case SQL_C_SLONG:
      PutNumber<SQLINTEGER>(number, target, indicator);
      break;
    case SQL_C_ULONG:
      PutNumber<SQLUINTEGER>(number, target, indicator);
      break;
    case SQL_C_SBIGINT:
      PutNumber<SQLBIGINT>(number, target, indicator);
      break;
    case SQL_C_UBIGINT:
      PutNumber<SQLUBIGINT>(number, target, indicator);
      break;
    case SQL_C_TINYINT:
    case SQL_C_STINYINT:
      PutNumber<SQLSCHAR>(number, target, indicator);
      break;
    case SQL_C_UTINYINT:
    case SQL_C_BIT:
      PutNumber<SQLCHAR>(number, target, indicator);
      break;
    case SQL_C_DOUBLE:
      PutNumber<SQLDOUBLE>(number, target, indicator);
      break;
    case SQL_C_FLOAT:
      PutNumber<SQLREAL>(number, target, indicator);
      break;
    default:
      throw odbc::errors::NotConvertible(column);
  }
  return SQL_SUCCESS;
}

}  // namespace quillon::odbcdriver
