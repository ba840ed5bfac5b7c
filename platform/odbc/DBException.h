// The error of every database operation: a driver's diagnostic, or one of our own drivers'
// messages, with the SQLSTATE and native code that came with it.
#pragma once

#include <stdexcept>
#include <string>

namespace quillon::odbc {

class CDBException : public std::exception {
 public:
  // `message` is the driver's text; `sqlState` its five-character SQLSTATE.
  CDBException(std::wstring message, std::wstring sqlState, long nativeError = 0);

  // The text a user is shown and the log records: the driver's message followed by its
  // SQLSTATE, e.g. "no such table: Orders (SQLSTATE HY000)".
  std::wstring m_strError;
  // "State:HY000,Native:1" in the framework's form.
  std::wstring m_strStateNativeOrigin;
  std::wstring m_strSqlState;
  std::wstring m_strMessage;
  long m_nNativeError = 0;

  // Shows m_strError through the installed prompts with the given message box type (MB_OK or
  // MB_OKCANCEL); returns the button pressed. `helpId` is accepted and ignored.
  int ReportError(unsigned type = 0, unsigned helpId = 0) const;

  const char* what() const noexcept override { return m_what.c_str(); }

 private:
  std::string m_what;
};

}  // namespace quillon::odbc
