// quillon-host: a host application for the Quillon plug-in. It opens a database connection
// (the embedded demo database unless told otherwise), loads libquillon.so, and runs it.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "host/DemoDatabase.h"
#include "host/PluginHost.h"
#include "platform/odbc/DBException.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/StreamingConnect.h"
#include "platform/text/WideText.h"

namespace {

constexpr const char* kUsage =
    "usage: quillon-host [--connect \"<ODBC connect string>\"] [--plugin PATH]\n"
    "\n"
    "Opens the database (the embedded demo database when --connect is not given), loads the\n"
    "Quillon plug-in (../lib/libquillon.so beside this program unless --plugin is given) and\n"
    "shows its export dialog. Exits 0 when the dialog was closed with OK, 1 when it was closed\n"
    "otherwise, 2 for bad arguments, 3 when the dialog could not be shown.\n";

// Exit statuses: a closed dialog (1) is how a session ends, a failure to start (3) is an error.
constexpr int kExitOk = 0;
constexpr int kExitClosed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCannotStart = 3;

struct Options {
  std::optional<std::string> connect;
  std::optional<std::string> plugin;
};

// Parses the arguments; returns nothing after printing usage (exit status in `status`).
std::optional<Options> ParseArguments(int argc, char** argv, int& status) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      status = kExitOk;
      return std::nullopt;
    }
    if ((arg == "--connect" || arg == "--plugin") && i + 1 < argc) {
      (arg == "--connect" ? options.connect : options.plugin) = argv[++i];
      continue;
    }
    std::fprintf(stderr, "quillon-host: unexpected argument '%s'\n%s", arg.c_str(), kUsage);
    status = kExitUsage;
    return std::nullopt;
  }
  return options;
}

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  const std::optional<Options> options = ParseArguments(argc, argv, status);
  if (!options) return status;
  if (!HasDisplay()) {
    std::fputs("quillon-host: no display (DISPLAY is not set); run it on a desktop, or headless with: "
               "xvfb-run -a make run\n",
               stderr);
    return kExitCannotStart;
  }

  QApplication application(argc, argv);
  using namespace quillon;

  odbc::CDatabase database;
  try {
    const std::wstring connect = options->connect ? text::Utf8ToWide(*options->connect)
                                                  : host::EnsureDemoDatabase(host::DemoDatabasePath());
    // Large results stream from the drivers that would otherwise hold them whole.
    database.OpenEx(odbc::WithStreamingFetch(connect), odbc::CDatabase::noOdbcDialog);
  } catch (const odbc::CDBException& e) {
    std::fprintf(stderr, "quillon-host: cannot open the database: %s\n", e.what());
    return kExitCannotStart;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillon-host: cannot create the demo database: %s\n", e.what());
    return kExitCannotStart;
  }

  try {
    const host::PluginLibrary library(options->plugin ? std::filesystem::path(*options->plugin)
                                                      : host::DefaultPluginPath());
    host::HostConnection context(&database);
    IDatabasePlugin& plugin = library.Plugin();
    plugin.SetHost(&context);
    return plugin.Execute() ? kExitOk : kExitClosed;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillon-host: %s\n", e.what());
    return kExitCannotStart;
  }
}
