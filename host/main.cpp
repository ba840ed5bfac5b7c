// quillon-host: a host application for the Quillon plug-in. It opens a database connection
// (the embedded demo database unless told otherwise), loads libquillon.so, and runs it.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "host/PluginHost.h"
#include "host/SourceDatabase.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"

namespace {

constexpr const char* kUsage =
    "usage: quillon-host [--connect \"<ODBC connect string>\"] [--plugin PATH]\n"
    "\n"
    "Opens the database (the embedded demo database when --connect is not given), loads the\n"
    "Quillon plug-in (../lib/libquillon.so beside this program unless --plugin is given) and\n"
    "shows its export dialog. Exits 0 when the dialog was closed with OK, 1 when it was closed\n"
    "otherwise, 2 for bad arguments, 3 when the dialog could not be shown. SIGTERM and SIGHUP\n"
    "close the dialog as its close box does: a running export stops before its next row.\n";

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

// SIGTERM and SIGHUP end the session as the close box does: a running export stops before its
// next row (the rows so far stay) and the dialog closes when it has. The handler only writes to
// a pipe; the event loop reads it.
constexpr int kCloseRetryMs = 100;
int g_stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
  const int savedErrno = errno;
  const char byte = 's';
  const ssize_t ignored = ::write(g_stopPipe[1], &byte, 1);
  static_cast<void>(ignored);
  errno = savedErrno;
}

void CatchStopSignals() {
  // A file size limit (ulimit -f) fails the plug-in's write with EFBIG, which it reports as a
  // full disk, instead of ending the host without a word.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, nullptr);
  if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

// Once a stop signal has come, closes every window now and again until the session ends: the
// dialog may not be shown yet, and one with a run going closes only when the run has stopped.
void CloseWindowsOnStopSignals(QApplication& application) {
  if (g_stopPipe[0] < 0) return;
  auto* notifier = new QSocketNotifier(g_stopPipe[0], QSocketNotifier::Read, &application);
  auto* retry = new QTimer(&application);
  retry->setInterval(kCloseRetryMs);
  QObject::connect(retry, &QTimer::timeout, [] { QApplication::closeAllWindows(); });
  QObject::connect(notifier, &QSocketNotifier::activated, [retry] {
    char bytes[16];
    while (::read(g_stopPipe[0], bytes, sizeof bytes) > 0) {
    }
    QApplication::closeAllWindows();
    retry->start();
  });
}

}  // namespace

int main(int argc, char** argv) {
  CatchStopSignals();
  int status = 0;
  const std::optional<Options> options = ParseArguments(argc, argv, status);
  if (!options) return status;
  if (!HasDisplay()) {
    std::fputs(
        "quillon-host: no display (DISPLAY is not set); run it on a desktop, or headless with: "
        "xvfb-run -a make run\n",
        stderr);
    return kExitCannotStart;
  }

  // Qt takes options of its own from the arguments it is given, --plugin among them (a generic
  // plug-in it then warns it cannot find); every argument is ours, so Qt gets only the name.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication application(qtArgc, qtArgv);
  CloseWindowsOnStopSignals(application);
  using namespace quillon;

  odbc::CDatabase database;
  try {
    // The plug-in, like the host, uses each connection from one thread at a time.
    host::OpenSourceDatabase(database, options->connect);
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
