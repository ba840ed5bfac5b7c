// The names the built-in drivers register under: what a connect string's DRIVER key, the
// installer's driver argument and the dialog's format list use to name them.
#pragma once

namespace quillon::odbc {

// Arrays, so that each serves as a C string (installer calls), a string_view and a std::wstring.
inline constexpr wchar_t kExcelDriverName[] = L"Microsoft Excel Driver (*.xls)";
inline constexpr wchar_t kAccessDriverName[] = L"Microsoft Access Driver (*.mdb)";

}  // namespace quillon::odbc
