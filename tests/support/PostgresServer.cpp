#include "tests/support/PostgresServer.h"

#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/text/WideText.h"

namespace quillon::testing {
namespace {

constexpr const char* kServerRoot = "/usr/lib/postgresql";
constexpr const char* kSystemUser = "postgres";
constexpr int kPort = 5432;  // names the socket file only; nothing listens on TCP
constexpr auto kStopTimeout = std::chrono::seconds(30);

std::filesystem::path NewestServerBinaries() {
  std::filesystem::path best;
  int bestVersion = -1;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(kServerRoot, error)) {
    const int version = std::atoi(entry.path().filename().c_str());
    if (version > bestVersion && std::filesystem::exists(entry.path() / "bin" / "pg_ctl")) {
      bestVersion = version;
      best = entry.path() / "bin";
    }
  }
  if (best.empty()) throw std::runtime_error("PostgreSQL server binaries not found under /usr/lib/postgresql");
  return best;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

PostgresServer::PostgresServer() : m_binaries(NewestServerBinaries()) {
  std::string pattern = (std::filesystem::temp_directory_path() / "quillon-pg-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create the server's folder");
  m_folder = pattern;
  m_asPostgresUser = geteuid() == 0;
  if (m_asPostgresUser) {
    const passwd* user = getpwnam(kSystemUser);
    if (user == nullptr) throw std::runtime_error("the postgres system user does not exist");
    if (chown(m_folder.c_str(), user->pw_uid, user->pw_gid) != 0)
      throw std::runtime_error("cannot chown the server's folder");
  }
  const std::string data = (m_folder / "data").string();
  const std::string log = (m_folder / "server.log").string();
  Run((m_binaries / "initdb").string() + " -D " + data + " -A trust -U postgres -E UTF8 --locale=C.UTF-8 >" +
      (m_folder / "initdb.log").string() + " 2>&1");
  {
    // Only the private socket: no TCP port that other tests or servers could collide on.
    std::ofstream conf(m_folder / "data" / "postgresql.conf", std::ios::app);
    conf << "\nlisten_addresses = ''\nport = " << kPort << "\nunix_socket_directories = '" << m_folder.string()
         << "'\nfsync = off\n";
  }
  Run((m_binaries / "pg_ctl").string() + " -D " + data + " -l " + log + " -w start >/dev/null 2>&1");
  std::istringstream pidFile(ReadFile(m_folder / "data" / "postmaster.pid"));
  pidFile >> m_pid;
  if (m_pid <= 0) throw std::runtime_error("PostgreSQL did not start:\n" + ReadFile(log));
}

PostgresServer::~PostgresServer() {
  if (m_pid > 0 && kill(m_pid, SIGINT) == 0) {  // fast shutdown
    const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
    while (kill(m_pid, 0) == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (kill(m_pid, 0) == 0) kill(m_pid, SIGKILL);
  }
  std::error_code ignored;
  std::filesystem::remove_all(m_folder, ignored);
}

std::wstring PostgresServer::ConnectString() const {
  return L"DRIVER={PostgreSQL Unicode};Servername=" + text::Utf8ToWide(m_folder.string()) + L";Port=" +
         std::to_wstring(kPort) + L";Database=postgres;Username=postgres;BoolsAsChar=0";
}

void PostgresServer::Run(const std::string& command) const {
  const std::string full =
      m_asPostgresUser ? "runuser -u " + std::string(kSystemUser) + " -- sh -c '" + command + "'" : command;
  if (std::system(full.c_str()) != 0) {
    throw std::runtime_error("command failed: " + command + "\n" + ReadFile(m_folder / "initdb.log") +
                             ReadFile(m_folder / "server.log"));
  }
}

}  // namespace quillon::testing
