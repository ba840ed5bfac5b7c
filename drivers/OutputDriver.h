// The skeleton of a built-in output driver: every file format under drivers/ is a pair of an
// OutputDriver and an OutputConnection, and differs from the others only in a few steps.
//
//   connect  OutputDriver::Connect reads the connect string into an OutputTarget (DBQ names the
//            file, CREATE_DB names it too where the driver creates files on connect, READONLY=1,
//            TRUE or YES refuses every statement, REPLACE=1, TRUE or YES has the format treat an
//            existing file as new, replaced as a whole on close, DATEPATTERN is the pattern DATE text is read
//            by) and hands it to the format's Open, which opens or creates the file and takes its
//            lock (held until the connection is destroyed; a second connection is refused).
//            No file named: NoFileNamed.
//   create   ExecuteSQL parses CREATE TABLE (drivers/sql/Statement.h) and calls CreateTable,
//            which returns the name the table is stored under (CreatedTableName reports it when
//            it differs).
//   insert   ExecuteSQL parses INSERT INTO; InsertRow takes the same row as literals without SQL
//            text (sql::InsertWithoutText decides when it may). Both call Insert, which finds
//            the table, checks each value against its column (sql::CheckRow in ValueCheck.h) and
//            adds the row.
//   checkpoint  Checkpoint calls WriteCheckpoint, which puts everything so far in the file and
//            goes on: later rows may go to any table created on the connection, also before
//            the checkpoint (how a driver commits and goes on).
//   close    Close calls WriteOut once, which puts everything in the file; destruction closes
//            too (the format's destructor calls CloseQuietly).
//   list     Tables (the format's ListTables) names what the file holds: the tables it had and
//            those created on this connection, with their columns. It reads within the
//            connection's lock and changes nothing.
//   abandon  Abandon ends the connection without WriteOut: the file keeps what it held before
//            the connection, and the format drops its work when it is destroyed.
//   refuse   One guard for every statement, in this order: a closed connection
//            (ConnectionClosed), a failed one (NoMoreChanges: a temporary file could not be
//            written, odbc::errors::IsIoError, so the file may hold half a change and is never
//            written; Close then throws LeftAsItWas), a statement that does not parse
//            (SyntaxError), a read-only connection (FileReadOnly). Errors are the vocabulary's
//            (platform/errors/Errors.h).
//
// A new format derives from both classes, implements Open, CreateTable, Insert, WriteOut,
// WriteCheckpoint and ListTables, adds its driver to RegisterBuiltInDrivers
// (drivers/BuiltInDrivers.cpp) and its name to platform/odbc/BuiltInDriverNames.h.
#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/sql/DatePattern.h"
#include "drivers/sql/Statement.h"
#include "platform/odbc/DriverRegistry.h"

namespace quillon::drivers {

// What a connect string asks of an output driver.
struct OutputTarget {
  std::wstring path;       // the file; never empty
  bool mayCreate = false;  // CREATE_DB was given and the driver creates files on connect
  bool readOnly = false;
  bool replace = false;  // REPLACE=1, TRUE or YES: an existing file counts as new and is replaced
  std::optional<std::wstring> datePattern;
};

// A table a connection lists, its columns described as CREATE TABLE would make them (a
// format's other types as the nearest of those, e.g. Access's Byte as SMALLINT).
struct ListedTable {
  std::wstring name;
  bool system = false;  // a table the format keeps for itself (Access's MSys tables)
  std::vector<sql::ColumnDef> columns;
};

class OutputConnection : public odbc::IDriverConnection {
 public:
  explicit OutputConnection(const OutputTarget& target);

  void ExecuteSQL(std::wstring_view statement) final;
  bool InsertRow(std::wstring_view table, const std::vector<odbc::Literal>& values) final;
  void Close() final;
  // Puts everything done so far in the file, complete for every reader, and goes on: later
  // statements add to the same tables, also to those created before the checkpoint. The lock
  // stays. Refused like a statement on a closed or failed connection; a connection with no
  // change since its last checkpoint writes nothing. Any error fails the connection, and the
  // file then holds what the last checkpoint (or the connection's start) left in it.
  void Checkpoint();
  std::wstring CreatedTableName() const final { return m_createdName; }
  // Ends the connection without writing anything: every later statement is refused, and Close
  // and destruction leave the file as it was.
  void Abandon() noexcept;
  // The tables of the file, existing ones first, then those created on this connection
  // (ListTables); refused on a closed or failed connection like a statement.
  std::vector<ListedTable> Tables();

 protected:
  // The format's steps; each throws CDBException. An error for which odbc::errors::IsIoError
  // holds leaves the connection failed.
  // Adds the table; returns the name it is stored under.
  virtual std::wstring CreateTable(const sql::CreateTable& statement) = 0;
  // Adds one row of literals to `table` (as the statement names it).
  virtual void Insert(const std::wstring& table, const std::vector<sql::Literal>& values) = 0;
  // Puts everything into the file; called once, by the first Close of a connection not failed.
  virtual void WriteOut() = 0;
  // Puts everything so far into the file as WriteOut would, keeping what later rows need
  // (file::FileReplacement::CommitCopy publishes a copy of the work file); called by Checkpoint,
  // only when something changed since the last.
  virtual void WriteCheckpoint() = 0;
  // Drops what was done so far for Abandon, where destroying the format's members alone would
  // write it out.
  virtual void Discard() noexcept {}
  // Lists the tables for Tables; throws CDBException when the file cannot be read.
  virtual std::vector<ListedTable> ListTables() = 0;

  // For the format's destructor: closes, swallowing any error (the file keeps its previous
  // version then).
  void CloseQuietly() noexcept;

  const std::wstring& Path() const { return m_path; }
  // DATE text is read by this pattern when the connect string gave one; null otherwise.
  const sql::DatePattern* DatePattern() const { return m_datePattern ? &*m_datePattern : nullptr; }

 private:
  // Refuses a statement on a closed or failed connection.
  void CheckUsable() const;
  template <typename Change>
  void Guarded(Change&& change);

  std::wstring m_path;
  bool m_readOnly = false;
  bool m_closed = false;
  bool m_failed = false;
  bool m_changedSinceCheckpoint = false;
  std::optional<sql::DatePattern> m_datePattern;
  sql::Statement m_statement;       // reused from statement to statement
  sql::InsertWithoutText m_insert;  // for rows that come without text
  std::wstring m_createdName;       // the last new table's stored name, when it is not its own
};

// The moment a format records as when it made something (a table's creation, a package's date):
// SOURCE_DATE_EPOCH where it is set to a count of seconds, so that files made twice from the same
// rows are the same, and now otherwise.
std::time_t FileTime();

class OutputDriver : public odbc::IBuiltInDriver {
 public:
  std::wstring Name() const final { return m_name; }
  std::unique_ptr<odbc::IDriverConnection> Connect(const odbc::ConnectString& connect) final;

 protected:
  // Whether Connect creates a missing file named by CREATE_DB (otherwise only DBQ names the
  // file, and files are created by the installer's request, ConfigDataSource).
  enum class CreatesOnConnect { No, Yes };
  OutputDriver(std::wstring name, CreatesOnConnect creates) : m_name(std::move(name)), m_creates(creates) {}

  // Opens (or, with mayCreate, creates) the target's file and takes its lock.
  virtual std::unique_ptr<OutputConnection> Open(const OutputTarget& target) = 0;

 private:
  std::wstring m_name;
  CreatesOnConnect m_creates;
};

}  // namespace quillon::drivers
