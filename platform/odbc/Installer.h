// The ODBC installer's one request that Quillon makes: creating a database file.
#pragma once

#include <string>

namespace quillon::odbc {

inline constexpr unsigned short ODBC_ADD_DSN = 1;

// `attributes` is a list of NUL-terminated entries closed by an empty one. Hands the request
// to the built-in driver named `driver`; returns nonzero when it carried it out, 0 for an
// unknown driver or a request the driver refused.
int SQLConfigDataSourceW(void* parentWindow, unsigned short request, const wchar_t* driver, const wchar_t* attributes);

// Why the calling thread's last SQLConfigDataSourceW returned 0, as the driver said it (empty
// when it gave no reason or succeeded).
std::wstring InstallerErrorText();

}  // namespace quillon::odbc
