// A PostgreSQL server of the test's own: a fresh cluster in a private folder, listening only on
// a Unix socket there, stopped by its process id when the object goes. As root, the server runs
// as the `postgres` user, since PostgreSQL refuses to run as root.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace quillon::testing {

class PostgresServer {
 public:
  PostgresServer();  // throws std::runtime_error with the server's log when it cannot start
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // Connect string for the "PostgreSQL Unicode" driver, booleans delivered as SQL_BIT.
  std::wstring ConnectString() const;

 private:
  void Run(const std::string& command) const;

  std::filesystem::path m_folder;
  std::filesystem::path m_binaries;
  bool m_asPostgresUser = false;
  pid_t m_pid = 0;
};

}  // namespace quillon::testing
