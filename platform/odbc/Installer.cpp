#include "platform/odbc/Installer.h"

#include <cwchar>
#include <string>
#include <vector>

#include "platform/errors/Errors.h"
#include "platform/odbc/DriverRegistry.h"

namespace quillon::odbc {

namespace {
thread_local std::wstring t_lastError;
}  // namespace

std::wstring InstallerErrorText() { return t_lastError; }

int SQLConfigDataSourceW(void*, unsigned short request, const wchar_t* driver, const wchar_t* attributes) {
  t_lastError.clear();
  if (driver == nullptr) return 0;
  const auto target = DriverRegistry::Instance().Find(driver);
  if (!target) return 0;
  std::vector<std::wstring> entries;
  for (const wchar_t* entry = attributes; entry != nullptr && *entry != L'\0'; entry += std::wcslen(entry) + 1) {
    entries.emplace_back(entry);
  }
  try {
    return target->ConfigDataSource(request, entries) ? 1 : 0;
  } catch (const CDBException& e) {
    t_lastError = e.m_strError;
    return 0;
  } catch (...) {
    // The installer reports failure by its result alone.
    return 0;
  }
}

}  // namespace quillon::odbc
