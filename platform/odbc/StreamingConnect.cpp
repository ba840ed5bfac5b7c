#include "platform/odbc/StreamingConnect.h"

#include <odbcinst.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/odbc/ConnectString.h"
#include "platform/odbc/SourceDrivers.h"
#include "platform/text/Characters.h"
#include "platform/text/WideText.h"

namespace quillon::odbc {
namespace {

constexpr std::wstring_view kOdbcPrefix = L"ODBC;";
// Where unixODBC keeps the drivers and the data sources (user first, then system).
constexpr const char* kDriversFile = "odbcinst.ini";
constexpr const char* kDataSourcesFile = "odbc.ini";
constexpr const char* kDriverKey = "Driver";

// A streaming option: the keys under which the driver reads it (the long name, then any
// abbreviation it also takes), and the value that turns streaming on.
struct StreamingOption {
  std::vector<std::wstring> keys;
  std::wstring value;
};

// A driver that needs options to stream, recognised by a piece of its library's file name, and
// the options that make it hand over what the source holds, set whether it streams or not:
// psqlodbc delivers booleans as booleans, not as the text "1" and "0", and the SQLite3 driver
// opens no database file that is not there (for a source only read; it would create an empty one
// for a mistyped path).
struct KnownDriver {
  std::string_view library;
  std::vector<StreamingOption> options;
  std::vector<StreamingOption> sourceOptions;
  std::vector<StreamingOption> readOnlyOptions;
};

const std::array<KnownDriver, 2>& KnownDrivers() {
  static const std::wstring fetchRows = std::to_wstring(kPostgresFetchRows);
  static const std::array<KnownDriver, 2> drivers = {{
      {kSqliteDriverLibrary, {{{L"StepAPI"}, L"1"}}, {}, {{{L"NoCreat"}, L"1"}}},
      {kPostgresDriverLibrary,
       {{{L"UseDeclareFetch", L"B6"}, L"1"}, {{L"Fetch", L"A7"}, fetchRows}},
       {{{L"BoolsAsChar", L"B9"}, L"0"}},
       {}},
  }};
  return drivers;
}

// One entry of an ODBC configuration file; empty when it is not there.
std::string ProfileString(const std::string& section, const char* key, const char* file) {
  std::array<char, 4096> buffer{};
  const int length =
      SQLGetPrivateProfileString(section.c_str(), key, "", buffer.data(), static_cast<int>(buffer.size()), file);
  return length > 0
             ? std::string(buffer.data(), std::min<std::size_t>(static_cast<std::size_t>(length), buffer.size() - 1))
             : std::string();
}

// The driver library a DRIVER value stands for: odbcinst's entry for a driver name, or the value
// itself when it is a path (or odbcinst does not know it).
std::string DriverLibrary(const std::string& driver) {
  if (driver.find('/') != std::string::npos) return driver;
  const std::string library = ProfileString(driver, kDriverKey, kDriversFile);
  return library.empty() ? driver : library;
}

const KnownDriver* Recognise(const std::string& library) {
  if (library.empty()) return nullptr;
  for (const auto& driver : KnownDrivers()) {
    if (IsDriverLibrary(library, driver.library)) return &driver;
  }
  return nullptr;
}

// The user's value of `option`, under any of its keys: from the connect string, or else from the
// data source `dataSource` (none when empty).
std::optional<std::wstring> ChosenValue(const StreamingOption& option, const ConnectString& parsed,
                                        const std::string& dataSource) {
  for (const std::wstring& key : option.keys) {
    if (auto value = parsed.Get(key)) return value;
    if (dataSource.empty()) continue;
    const std::string fromSource = ProfileString(dataSource, text::WideToUtf8(key).c_str(), kDataSourcesFile);
    if (!fromSource.empty()) return text::Utf8ToWide(fromSource);
  }
  return std::nullopt;
}

}  // namespace

std::wstring WithStreamingFetch(std::wstring_view connect, SourceUse use) {
  std::wstring_view bare = connect;
  const bool prefixed =
      bare.size() >= kOdbcPrefix.size() && text::EqualsIgnoreAsciiCase(bare.substr(0, kOdbcPrefix.size()), kOdbcPrefix);
  if (prefixed) bare.remove_prefix(kOdbcPrefix.size());
  const ConnectString parsed = ConnectString::Parse(bare);

  // The driver: DRIVER when given, else the one the data source names. A data source's own
  // entries count as chosen options, as the connect string's do.
  std::string dataSource;
  std::string library;
  if (const auto driver = parsed.Get(key::kDriver); driver && !driver->empty()) {
    library = DriverLibrary(text::WideToUtf8(*driver));
  } else if (const auto dsn = parsed.Get(L"DSN"); dsn && !dsn->empty()) {
    dataSource = text::WideToUtf8(*dsn);
    const std::string driverOfSource = ProfileString(dataSource, kDriverKey, kDataSourcesFile);
    if (!driverOfSource.empty()) library = DriverLibrary(driverOfSource);
  }
  const KnownDriver* known = Recognise(library);
  if (known == nullptr) return std::wstring(connect);

  std::wstring added;
  for (const auto& option : known->options) {
    const std::optional<std::wstring> chosen = ChosenValue(option, parsed, dataSource);
    if (!chosen) {
      added += option.keys.front() + L"=" + option.value + L";";
      continue;
    }
    // Streaming switched off by the user stays off, with whatever else they set; switched on, it
    // still gets the other options the user did not choose (psqlodbc's own fetch size is 100
    // rows, a round trip to the server for each).
    if (&option == &known->options.front() && text::TrimAsciiBlanks(*chosen) != option.value) {
      added.clear();
      break;
    }
  }
  for (const auto* options : {&known->sourceOptions, &known->readOnlyOptions}) {
    if (options == &known->readOnlyOptions && use != SourceUse::ReadOnly) continue;
    for (const auto& option : *options) {
      if (!ChosenValue(option, parsed, dataSource)) added += option.keys.front() + L"=" + option.value + L";";
    }
  }
  if (added.empty()) return std::wstring(connect);
  // In front of the user's pairs, so that a DBQ, whose value runs to the end, stays last.
  std::wstring result = prefixed ? std::wstring(kOdbcPrefix) : std::wstring();
  return result + added + std::wstring(bare);
}

}  // namespace quillon::odbc
