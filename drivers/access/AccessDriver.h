// The built-in "Microsoft Access Driver (*.mdb)": connections to Jet 4 databases named by DBQ,
// taking CREATE TABLE and INSERT INTO, and the installer's CREATE_DB request.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/odbc/DriverRegistry.h"

namespace quillon::drivers::access {

using odbc::kAccessDriverName;

class AccessDriver : public odbc::IBuiltInDriver {
 public:
  std::wstring Name() const override { return kAccessDriverName; }
  // Opens the existing database of DBQ; refuses files that are not Jet 4 databases.
  std::unique_ptr<odbc::IDriverConnection> Connect(const odbc::ConnectString& connect) override;
  // ODBC_ADD_DSN with CREATE_DB="path" creates an empty database there; throws CDBException for
  // a path that exists or cannot be written; false for every other request.
  bool ConfigDataSource(unsigned short request, const std::vector<std::wstring>& attributes) override;
};

// The path of a CREATE_DB attribute entry (`CREATE_DB="path"`, quotes and a closing ';'
// optional), or an empty string when the entry is another attribute.
std::wstring CreateDbPath(std::wstring_view entry);

}  // namespace quillon::drivers::access
