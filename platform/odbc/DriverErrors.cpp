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

CDBException General(std::wstring message) { return CDBException(std::move(message), state::kGeneral); }

}  // namespace quillon::odbc::errors
