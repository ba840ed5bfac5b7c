#include "platform/odbc/DBException.h"

#include <utility>

#include "platform/text/WideText.h"
#include "platform/ui/Prompts.h"

namespace quillon::odbc {

CDBException::CDBException(std::wstring message, std::wstring sqlState, long nativeError)
    : m_strSqlState(std::move(sqlState)), m_strMessage(std::move(message)), m_nNativeError(nativeError) {
  m_strError = m_strMessage;
  if (!m_strSqlState.empty()) m_strError += L" (SQLSTATE " + m_strSqlState + L")";
  m_strStateNativeOrigin = L"State:" + m_strSqlState + L",Native:" + std::to_wstring(m_nNativeError);
  m_what = text::WideToUtf8(m_strError);
}

int CDBException::ReportError(unsigned type, unsigned) const { return ui::Prompts().MessageBox(m_strError, type); }

}  // namespace quillon::odbc
