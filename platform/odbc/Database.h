// A database connection: through unixODBC to any installed driver, or in-process to a
// built-in driver (DriverRegistry). Text goes to and comes from every driver intact, characters
// outside the Basic Multilingual Plane included.
//
// Not thread-safe: one thread uses a connection at a time; only Cancel comes from another.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/odbc/Literal.h"

namespace quillon::odbc {

class IDriverConnection;
class OdbcConnection;

class CDatabase {
 public:
  enum OpenOptions : unsigned {
    openExclusive = 0x1,
    openReadOnly = 0x2,
    useCursorLib = 0x4,
    noOdbcDialog = 0x8,
    forceOdbcDialog = 0x10,
  };

  CDatabase();
  ~CDatabase();  // closes without throwing
  CDatabase(const CDatabase&) = delete;
  CDatabase& operator=(const CDatabase&) = delete;

  // Opens with a connect string that begins "ODBC;" (the data-source name must be empty).
  // Returns true when open; throws CDBException when the driver refuses or is not installed.
  bool Open(const wchar_t* dataSourceName, bool exclusive, bool readOnly, std::wstring_view connect,
            bool useCursorLib = true);
  // Opens with a connect string without the prefix; `options` as in OpenOptions. No driver
  // ever shows a dialog here.
  bool OpenEx(std::wstring_view connect, unsigned options = 0);

  bool IsOpen() const;
  // Runs a statement that yields no rows. Throws CDBException.
  void ExecuteSQL(std::wstring_view statement);
  // One row for a built-in driver, without SQL text: see IDriverConnection::InsertRow. False,
  // having done nothing, for a unixODBC connection or when the driver wants the row's SQL text.
  // Throws CDBException as ExecuteSQL would.
  bool InsertRow(std::wstring_view table, const std::vector<Literal>& values);
  // Ends the connection; a built-in driver writes its file here. Throws CDBException when that
  // fails; the connection is closed either way.
  void Close();
  // After a CREATE TABLE through ExecuteSQL: the name the driver stored the table under, when a
  // built-in driver gave it another name than the statement did; empty otherwise.
  std::wstring GetCreatedTableName() const;
  // From another thread, while the connection is open: cancels the statement it is running
  // (CRecordset::Open included, up to its first row); the cancelled call then throws the
  // driver's CDBException. True when a statement was running and the driver took the request;
  // nothing happens when none is running, or for a built-in driver. Never throws.
  bool Cancel() const noexcept;
  // The connect string as the connection holds it, with the "ODBC;" prefix; empty when closed.
  std::wstring GetConnect() const;

  // The unixODBC connection behind this object, or null for a built-in driver or when closed.
  OdbcConnection* GetOdbcConnection() const { return m_odbc.get(); }

 private:
  void OpenConnectString(std::wstring_view connect);

  std::unique_ptr<OdbcConnection> m_odbc;
  std::unique_ptr<IDriverConnection> m_builtIn;
  std::wstring m_connect;
};

}  // namespace quillon::odbc
