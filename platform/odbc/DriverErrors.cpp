#include "platform/odbc/DriverErrors.h"

#include <cstring>

#include "platform/text/WideText.h"

namespace quillon::odbc::errors {
namespace {

std::wstring Quoted(std::wstring_view name) { return L"'" + std::wstring(name) + L"'"; }

}  // namespace

CDBException TableExists(std::wstring_view table) {
  return CDBException(L"Table " + Quoted(table) + L" already exists.", state::kTableExists);
}

CDBException NoSuchTable(std::wstring_view table) {
  return CDBException(L"Table " + Quoted(table) + L" does not exist.", state::kNoSuchTable);
}

CDBException TableFromBefore(std::wstring_view table) {
  return CDBException(
      L"Table " + Quoted(table) + L" was in the file before; rows go only into tables created on this connection.",
      state::kGeneral);
}

CDBException ColumnRepeated(std::wstring_view table, std::wstring_view column) {
  return CDBException(L"Field " + Quoted(column) + L" already exists in table " + Quoted(table) + L".",
                      state::kColumnExists);
}

CDBException TooManyColumns(std::wstring_view table, std::size_t columns, std::size_t most) {
  return CDBException(L"Too many fields defined: a table holds at most " + std::to_wstring(most) + L" columns, table " +
                          Quoted(table) + L" has " + std::to_wstring(columns) + L".",
                      state::kTooManyColumns);
}

CDBException ValueCountMismatch(std::wstring_view table, std::size_t columns, std::size_t values) {
  return CDBException(L"Number of query values and destination fields are not the same: table " + Quoted(table) +
                          L" has " + std::to_wstring(columns) + L" columns, the statement gives " +
                          std::to_wstring(values) + L" values.",
                      state::kCountMismatch);
}

CDBException TableFull(std::wstring_view table, std::wstring_view why) {
  return CDBException(L"Table " + Quoted(table) + L" is full: " + std::wstring(why) + L".", state::kGeneral);
}

CDBException FileFull(std::wstring_view limit) {
  return CDBException(L"The file would exceed " + std::wstring(limit) + L".", state::kIoError);
}

CDBException ConnectionClosed() { return CDBException(L"The connection is closed.", state::kNotOpen); }

CDBException NoFileNamed() { return CDBException(L"The connect string names no file (DBQ).", state::kGeneral); }

CDBException FileNotFound(std::wstring_view path) {
  return CDBException(L"Could not find file " + Quoted(path) + L".", state::kGeneral);
}

CDBException FileExists(std::wstring_view path) {
  return CDBException(L"The file " + Quoted(path) + L" already exists.", state::kGeneral);
}

CDBException FileUnreadable(std::wstring_view path, std::wstring_view as, std::wstring_view cause) {
  return CDBException(L"Cannot open " + Quoted(path) + L" as " + std::wstring(as) + L": " + std::wstring(cause) + L".",
                      state::kGeneral);
}

CDBException FileDamaged(std::wstring_view path, std::wstring_view what) {
  return CDBException(L"The file " + Quoted(path) + L" is damaged: " + std::wstring(what) + L".", state::kGeneral);
}

CDBException FileReadOnly(std::wstring_view path) {
  return CDBException(L"The file " + Quoted(path) + L" is open read-only.", state::kGeneral);
}

CDBException NoMoreChanges(std::wstring_view path) {
  return CDBException(L"The file " + Quoted(path) + L" takes no more changes: writing it failed before.",
                      state::kIoError);
}

CDBException LeftAsItWas(std::wstring_view path) {
  return CDBException(L"The file " + Quoted(path) + L" was left as it was: writing it failed before.", state::kIoError);
}

CDBException IoError(std::wstring_view action, std::wstring_view path, int error) {
  return CDBException(std::wstring(action) + L" " + Quoted(path) + L": " + text::Utf8ToWide(std::strerror(error)),
                      state::kIoError, error);
}

CDBException TextNotUtf8(std::wstring_view column, std::size_t offset) {
  return CDBException(L"Column " + Quoted(column) + L" holds text that is not valid UTF-8 (at byte " +
                          std::to_wstring(offset) + L"); the row is not copied rather than copied changed.",
                      state::kNotInRepertoire);
}

CDBException TextCutAtNul(std::wstring_view column, std::size_t offset) {
  return CDBException(L"Column " + Quoted(column) + L" holds text with a NUL character at byte " +
                          std::to_wstring(offset) + L": drivers end text there, so the value may not be whole.",
                      state::kNotInRepertoire);
}

CDBException NotOfColumnKind(std::wstring_view column, std::wstring_view text, std::wstring_view kind) {
  return CDBException(L"Column " + Quoted(column) + L" holds " + Quoted(text) + L", which is not " +
                          std::wstring(kind) +
                          L" as the column declares; the row is not copied rather than copied "
                          L"changed.",
                      state::kValueMismatch);
}

CDBException InfiniteDate(std::wstring_view column) {
  return CDBException(L"Column " + Quoted(column) +
                          L" holds infinity or -infinity, which the source's driver delivers without saying which.",
                      state::kDateOverflow);
}

CDBException InfiniteOrLastMoment(std::wstring_view column) {
  return CDBException(L"Column " + Quoted(column) +
                          L" holds infinity or 9999-12-31 23:59:59, which the source's driver delivers alike (select "
                          L"the column as text to tell them apart).",
                      state::kDateOverflow);
}

CDBException General(std::wstring message) { return CDBException(std::move(message), state::kGeneral); }

}  // namespace quillon::odbc::errors
