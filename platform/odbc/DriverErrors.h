// The errors the built-in drivers report, one wording and one SQLSTATE each, so that a user
// sees the same message whichever file format a statement went to. Each function returns the
// exception for the caller to throw (`throw errors::TableExists(name);`).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/odbc/DBException.h"

namespace quillon::odbc::errors {

// SQLSTATEs as ODBC (and, for 54011 and 58030, SQL) defines them.
namespace state {
inline constexpr wchar_t kGeneral[] = L"HY000";
inline constexpr wchar_t kSyntax[] = L"42000";
inline constexpr wchar_t kTableExists[] = L"42S01";
inline constexpr wchar_t kNoSuchTable[] = L"42S02";
inline constexpr wchar_t kColumnExists[] = L"42S21";
inline constexpr wchar_t kCountMismatch[] = L"21S01";
inline constexpr wchar_t kNotOpen[] = L"08003";
inline constexpr wchar_t kTooManyColumns[] = L"54011";
inline constexpr wchar_t kUniqueViolated[] = L"23000";
inline constexpr wchar_t kIoError[] = L"58030";
// A value that does not fit its column.
inline constexpr wchar_t kValueMismatch[] = L"22018";
inline constexpr wchar_t kOutOfRange[] = L"22003";
inline constexpr wchar_t kTooLong[] = L"22001";
inline constexpr wchar_t kBadDate[] = L"22007";
inline constexpr wchar_t kDateOverflow[] = L"22008";
inline constexpr wchar_t kNotInRepertoire[] = L"22021";
}  // namespace state

// CREATE TABLE of a name the file already holds (also differing in case only): 42S01.
CDBException TableExists(std::wstring_view table);
// A statement names a table the file does not hold: 42S02.
CDBException NoSuchTable(std::wstring_view table);
// INSERT into a table that was in the file before this connection: HY000.
CDBException TableFromBefore(std::wstring_view table);
// CREATE TABLE naming a column twice (also differing in case only): 42S21.
CDBException ColumnRepeated(std::wstring_view table, std::wstring_view column);
// CREATE TABLE with more columns than the format holds: 54011.
CDBException TooManyColumns(std::wstring_view table, std::size_t columns, std::size_t most);
// INSERT whose value count is not the table's column count: 21S01.
CDBException ValueCountMismatch(std::wstring_view table, std::size_t columns, std::size_t values);
// A table (sheet) that takes no more rows: HY000.
CDBException TableFull(std::wstring_view table, std::wstring_view why);
// A file that would grow past what its format can address: 58030, as a full disk, for the same
// holds for every further row.
CDBException FileFull(std::wstring_view limit);
// A statement on a closed connection: 08003.
CDBException ConnectionClosed();
// A connect string without the file to open (DBQ): HY000.
CDBException NoFileNamed();
// Opening a file that is not there: HY000.
CDBException FileNotFound(std::wstring_view path);
// Creating a file where one is already: HY000.
CDBException FileExists(std::wstring_view path);
// A file that cannot be opened as the driver's format ("an Excel workbook"), and why: HY000.
CDBException FileUnreadable(std::wstring_view path, std::wstring_view as, std::wstring_view cause);
// A file whose content contradicts itself (`what` names the part): HY000.
CDBException FileDamaged(std::wstring_view path, std::wstring_view what);
// A change refused because the connection was opened read-only: HY000.
CDBException FileReadOnly(std::wstring_view path);
// A statement after writing the file's data failed: the connection takes no more: 58030.
CDBException NoMoreChanges(std::wstring_view path);
// Close after writing failed: the file keeps its previous version: 58030.
CDBException LeftAsItWas(std::wstring_view path);
// A failed read or write of file data: "<action> '<path>': <strerror(error)>", 58030, the
// native code being errno.
CDBException IoError(std::wstring_view action, std::wstring_view path, int error);
// A source value that cannot arrive exactly, so its row is refused (each names the column):
// text that is not UTF-8, `offset` the first byte that is not: 22021.
CDBException TextNotUtf8(std::wstring_view column, std::size_t offset);
// text with a NUL at byte `offset` inside the length the driver reports: 22021.
CDBException TextCutAtNul(std::wstring_view column, std::size_t offset);
// a value the driver gives as `text` that is not of the column's kind (`kind`, e.g. "a whole
// number"): 22018.
CDBException NotOfColumnKind(std::wstring_view column, std::wstring_view text, std::wstring_view kind);
// a date the driver gives in place of infinity or -infinity without saying which: 22008.
CDBException InfiniteDate(std::wstring_view column);
// a date-time the driver gives alike for infinity and for 9999-12-31 23:59:59: 22008.
CDBException InfiniteOrLastMoment(std::wstring_view column);

// Any other refusal of a driver, worded by the caller: HY000.
CDBException General(std::wstring message);

}  // namespace quillon::odbc::errors
