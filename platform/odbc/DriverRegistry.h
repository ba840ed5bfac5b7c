// Built-in drivers: output drivers that live in this process. A connect string whose DRIVER
// names a registered driver is handed to it by CDatabase; every other one goes to unixODBC.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/odbc/ConnectString.h"
#include "platform/odbc/Literal.h"

namespace quillon::odbc {

// One open connection of a built-in driver. It takes statements that yield no rows.
class IDriverConnection {
 public:
  virtual ~IDriverConnection() = default;  // never throws; writes out what Close would have
  // Executes one statement; throws CDBException with a driver-style message on failure.
  virtual void ExecuteSQL(std::wstring_view statement) = 0;
  // Inserts one row into `table` exactly as ExecuteSQL would the statement
  // "INSERT INTO <table> VALUES(<values>);" (table put in as it is, each value written as its
  // literal), with the same checks and the same errors, but without SQL text. False, having done
  // nothing, when the driver takes rows only as SQL text, or when that text would not read back
  // as these values in this table (then the text is to be sent, and says what happens).
  virtual bool InsertRow(std::wstring_view /*table*/, const std::vector<Literal>& /*values*/) { return false; }
  // Writes everything out and ends the connection; throws CDBException when that fails.
  virtual void Close() = 0;
  // The name under which the last CREATE TABLE stored its table, when the driver had to give it
  // another name than the statement did (to fit its file format); empty when it kept the name.
  virtual std::wstring CreatedTableName() const { return {}; }
};

class IBuiltInDriver {
 public:
  virtual ~IBuiltInDriver() = default;
  // The name under which connect strings reach the driver, as in DRIVER={name}.
  virtual std::wstring Name() const = 0;
  // Opens a connection; throws CDBException when it cannot.
  virtual std::unique_ptr<IDriverConnection> Connect(const ConnectString& connect) = 0;
  // The installer's data-source request (1 = add) with its attribute entries
  // (e.g. `CREATE_DB="path";`). True when the driver carried it out.
  virtual bool ConfigDataSource(unsigned short request, const std::vector<std::wstring>& attributes);
};

class DriverRegistry {
 public:
  static DriverRegistry& Instance();

  // Adds `driver`, replacing one registered under the same name.
  void Register(std::shared_ptr<IBuiltInDriver> driver);
  // The driver registered under `name` (any letter case), or null.
  std::shared_ptr<IBuiltInDriver> Find(std::wstring_view name) const;

 private:
  mutable std::mutex m_mutex;
  std::vector<std::shared_ptr<IBuiltInDriver>> m_drivers;
};

}  // namespace quillon::odbc
