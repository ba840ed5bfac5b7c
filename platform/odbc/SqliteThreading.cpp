#include "platform/odbc/SqliteThreading.h"

#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>

#include <array>
#include <optional>
#include <string>

#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/odbc/ConnectString.h"
#include "platform/odbc/OdbcHandles.h"
#include "platform/text/WideText.h"

namespace quillon::odbc {
namespace {

// SQLite's own codes (sqlite3.h), named here so that no SQLite header is needed.
constexpr int kSqliteOk = 0;
constexpr int kSqliteConfigMultiThread = 2;  // SQLITE_CONFIG_MULTITHREAD
constexpr int kSqliteConfigMemStatus = 9;    // SQLITE_CONFIG_MEMSTATUS
constexpr std::size_t kNameBytes = 512;
constexpr std::size_t kAttributeBytes = 4096;
constexpr std::string_view kDriverAttribute = "Driver=";
// Where the driver manager looks for a driver given by file name alone: "odbc" beside itself.
constexpr std::string_view kDriverFolder = "/odbc/";

bool SameName(std::string_view a, std::string_view b) {
  return text::EqualsIgnoreAsciiCase(text::Utf8ToWide(a), text::Utf8ToWide(b));
}

// The driver name a data source uses.
std::optional<std::string> DataSourceDriver(std::string_view dsn) {
  std::array<SQLCHAR, kNameBytes> name{}, description{};
  SQLSMALLINT nameLength = 0, descriptionLength = 0;
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
    const SQLRETURN rc = SQLDataSources(OdbcEnvironment(), direction, name.data(), kNameBytes, &nameLength,
                                        description.data(), kNameBytes, &descriptionLength);
    if (!SQL_SUCCEEDED(rc)) return std::nullopt;
    if (SameName(reinterpret_cast<const char*>(name.data()), dsn)) {
      return std::string(reinterpret_cast<const char*>(description.data()));
    }
  }
}

// The library file of the driver installed as `driver` (or `driver` itself when it is a path).
std::optional<std::string> DriverLibrary(const std::string& driver) {
  if (driver.find('/') != std::string::npos) return driver;
  std::array<SQLCHAR, kNameBytes> name{};
  std::array<SQLCHAR, kAttributeBytes> attributes{};
  SQLSMALLINT nameLength = 0, attributesLength = 0;
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST;; direction = SQL_FETCH_NEXT) {
    const SQLRETURN rc = SQLDrivers(OdbcEnvironment(), direction, name.data(), kNameBytes, &nameLength,
                                    attributes.data(), kAttributeBytes, &attributesLength);
    if (!SQL_SUCCEEDED(rc)) return std::nullopt;
    if (!SameName(reinterpret_cast<const char*>(name.data()), driver)) continue;
    // Attributes: "key=value" entries, each ended by a NUL, the list by an empty one.
    const char* entry = reinterpret_cast<const char*>(attributes.data());
    const char* end = entry + attributes.size();
    while (entry < end && *entry != '\0') {
      const std::string_view text(entry);
      if (text.size() > kDriverAttribute.size() &&
          SameName(text.substr(0, kDriverAttribute.size()), kDriverAttribute)) {
        return std::string(text.substr(kDriverAttribute.size()));
      }
      entry += text.size() + 1;
    }
    return std::nullopt;
  }
}

// Lazily bound, as the driver manager loads drivers: binding every symbol of a driver that turns
// out not to use SQLite would cost more than the mode saves.
void* OpenDriverLibrary(const std::string& library) {
  void* handle = dlopen(library.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (handle != nullptr || library.find('/') != std::string::npos) return handle;
  Dl_info manager{};
  if (dladdr(reinterpret_cast<void*>(&SQLAllocHandle), &manager) == 0 || manager.dli_fname == nullptr) return nullptr;
  std::string path = manager.dli_fname;
  path.resize(path.rfind('/'));
  path += kDriverFolder;
  path += library;
  return dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
}

}  // namespace

bool UseSqliteMultiThreadMode(std::wstring_view connect) noexcept {
  try {
    const ConnectString parsed = ConnectString::Parse(connect);
    std::optional<std::string> driver;
    if (const auto name = parsed.Get(key::kDriver)) {
      driver = text::WideToUtf8(*name);
    } else if (const auto dsn = parsed.Get(L"DSN")) {
      driver = DataSourceDriver(text::WideToUtf8(*dsn));
    }
    if (!driver) return false;
    const std::optional<std::string> library = DriverLibrary(*driver);
    if (!library) return false;
    // The driver is loaded here as the driver manager will load it, so that the SQLite found is
    // the one it calls. It stays loaded: the driver manager takes the same copy later.
    void* handle = OpenDriverLibrary(*library);
    if (handle == nullptr) return false;
    const auto threadSafe = reinterpret_cast<int (*)()>(dlsym(handle, "sqlite3_threadsafe"));
    const auto configure = reinterpret_cast<int (*)(int, ...)>(dlsym(handle, "sqlite3_config"));
    if (threadSafe == nullptr || configure == nullptr || threadSafe() == 0) return false;
    // Refused (SQLITE_MISUSE) once SQLite has initialized: the mode then stays as it is.
    if (configure(kSqliteConfigMultiThread) != kSqliteOk) return false;
    // Without the memory statistics, which nothing in such a process reads, each of the driver's
    // allocations (a few for every row it fetches) takes no mutex either.
    configure(kSqliteConfigMemStatus, 0);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace quillon::odbc
