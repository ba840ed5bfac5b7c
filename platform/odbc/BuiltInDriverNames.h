// The names the built-in drivers register under (what a connect string's DRIVER key, the
// installer's driver argument and the dialog's format list use to name them), and the
// connect-string keys they read.
#pragma once

namespace quillon::odbc {

// Arrays, so that each serves as a C string (installer calls), a string_view and a std::wstring.
inline constexpr wchar_t kExcelDriverName[] = L"Microsoft Excel Driver (*.xls)";
inline constexpr wchar_t kAccessDriverName[] = L"Microsoft Access Driver (*.mdb)";
inline constexpr wchar_t kXlsxDriverName[] = L"Quillon Excel Workbook Driver (*.xlsx)";
// Delimited text: tab-separated lines ending in LF, and comma-separated ones ending in CRLF.
inline constexpr wchar_t kTextDriverName[] = L"Quillon Text Driver (*.txt)";
inline constexpr wchar_t kCsvDriverName[] = L"Quillon CSV Driver (*.csv)";

// Connect-string keys, matched without regard to case.
namespace key {
inline constexpr wchar_t kDriver[] = L"DRIVER";
// The file. Unbraced, its value runs to the end of the string (a path may hold ';').
inline constexpr wchar_t kDatabase[] = L"DBQ";
// Create the file when it is missing (Excel), or the file to create (the installer, Access).
inline constexpr wchar_t kCreateDatabase[] = L"CREATE_DB";
inline constexpr wchar_t kReadOnly[] = L"READONLY";
inline constexpr wchar_t kFirstRowHasNames[] = L"FIRSTROWHASNAMES";
// The strftime-style pattern by which DATE literals are read.
inline constexpr wchar_t kDatePattern[] = L"DATEPATTERN";
// 1, TRUE or YES: the file counts as new (its content is neither read nor kept), and is created
// or replaced as a whole when the connection closes.
inline constexpr wchar_t kReplace[] = L"REPLACE";
}  // namespace key

}  // namespace quillon::odbc
