// The output file behind one ODBC connection: the built-in driver that writes it (by the file's
// extension), its connection, and the transaction on it.
//
// Commit takes a checkpoint of the output connection, which puts the complete new version in the
// file's place and goes on, so that a table created in one transaction takes rows in the next.
// Rollback abandons the output connection, so that the file keeps what the last commit left,
// and opens the next on the file; since the drivers add rows only to tables created on their
// own connection, the tables of earlier transactions then take no more rows. The file stays
// locked from Connect to Disconnect, also while one output connection gives way to the next
// (file::LockHandover): no other writer gets in between.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drivers/OutputDriver.h"
#include "drivers/sql/Statement.h"
#include "platform/odbc/ConnectString.h"
#include "platform/odbc/DriverRegistry.h"
#include "platform/odbc/Literal.h"

namespace quillon::odbcdriver {

class Session {
 public:
  // Opens the file DBQ names (creating it and its folders when missing, as an export does) with
  // the driver its extension picks. Throws odbc::CDBException.
  explicit Session(const odbc::ConnectString& connect);
  // Abandons an open transaction.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Runs one CREATE TABLE or INSERT; StatementDone commits it with autocommit. True for an
  // INSERT (one row).
  bool Execute(std::wstring_view statement);
  // One row of "INSERT INTO table VALUES(...)" without SQL text; false when the driver wants the
  // text instead (nothing done then).
  bool InsertRow(std::wstring_view table, const std::vector<odbc::Literal>& values);
  // After a statement (or an array of rows) with autocommit: commits what it changed.
  void StatementDone();

  void Commit();
  void Rollback();
  // True when there are changes that are neither committed nor rolled back.
  bool InTransaction() const { return m_changed; }
  bool AutoCommit() const { return m_autoCommit; }
  // Switching autocommit on commits an open transaction.
  void SetAutoCommit(bool on);
  // Ends the connection; an open transaction is abandoned (the caller refuses that first).
  void Close();

  // The columns of a table created on this connection (for describing parameters), or null.
  const std::vector<drivers::sql::ColumnDef>* Columns(std::wstring_view table) const;
  // What the file holds now, with the tables of this output connection (see OutputConnection::Tables).
  std::vector<drivers::ListedTable> Tables();
  const std::wstring& Path() const { return m_path; }
  const std::wstring& DriverName() const { return m_driverName; }
  bool ReadOnly() const { return m_readOnly; }

 private:
  // Opens the next output connection on the file (the lock handed over when one was open).
  void Open();
  // Throws the error for a connection that could not be opened again after the last commit.
  odbc::IDriverConnection& Connection();
  void Remember(std::wstring_view statement);
  // Commits by a checkpoint of the output connection; rolls back as Restart does.
  void EndTransaction(bool commit);
  // Ends the current output connection (writing it out or not) and opens the next.
  void Restart(bool commit);

  std::wstring m_path;
  std::wstring m_driverName;
  std::shared_ptr<odbc::IBuiltInDriver> m_driver;
  std::vector<std::pair<std::wstring, std::wstring>> m_options;  // READONLY, DATEPATTERN as given
  bool m_readOnly = false;
  std::unique_ptr<odbc::IDriverConnection> m_connection;
  bool m_autoCommit = true;
  bool m_changed = false;
  // Tables created on the current output connection, by upper-case name.
  std::map<std::wstring, std::vector<drivers::sql::ColumnDef>> m_tables;
  drivers::sql::Statement m_parsed;
};

}  // namespace quillon::odbcdriver
