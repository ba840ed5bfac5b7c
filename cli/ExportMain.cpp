// quillon-export: the dialog's exports from the command line.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "cli/ConsoleHost.h"
#include "drivers/BuiltInDrivers.h"
#include "engine/ExportRun.h"
#include "engine/OutputFormat.h"
#include "engine/ScriptRunner.h"
#include "host/DemoDatabase.h"
#include "platform/odbc/DBException.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/StreamingConnect.h"
#include "platform/text/WideText.h"

namespace {

using namespace quillon;

constexpr int kExitSuccess = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitRowsRefused = 3;

constexpr const char* kUsage =
    "usage: quillon-export [--connect CS] --sql STATEMENT --out PATH [--format excel|access|text]\n"
    "                      [--date-pattern P] [--on-row-error skip|cancel]\n"
    "       quillon-export [--connect CS] --script FILE [--date-pattern P] [--on-row-error skip|cancel]\n"
    "\n"
    "Runs STATEMENT on a database and copies every row of its result into a new table of PATH,\n"
    "an Excel workbook (.xls) or an Access database (.mdb), created with its folders when missing.\n"
    "With --script, runs every export that FILE lists, one after another, and stops at the first\n"
    "one that fails.\n"
    "\n"
    "  --connect CS        ODBC connect string of the database to read; the embedded demo\n"
    "                      database when not given\n"
    "  --sql STATEMENT     the SELECT (or EXEC) statement to export\n"
    "  --out PATH          the output file\n"
    "  --format F          excel, access or text; taken from PATH's extension (xls, mdb, txt)\n"
    "                      when not given\n"
    "  --script FILE       a script of exports: one record per export, the statement, a TAB and\n"
    "                      the output file (fields between a first and a last TAB are notes); a\n"
    "                      record ends at the first line end after a TAB, so a statement may span\n"
    "                      lines; the format comes from each file's extension (xls, mdb, txt).\n"
    "                      Text in the locale's codeset (UTF-8); CR LF and LF line ends alike\n"
    "  --date-pattern P    how date values are written: %d day, %m month, %y year, %H hour,\n"
    "                      %M minute, %S second (default \"%d.%m.%y %H:%M:%S\")\n"
    "  --on-row-error A    a row the output refuses: skip it and go on (skip, the default), or\n"
    "                      end the copying there (cancel); each refused row is reported on\n"
    "                      standard error\n"
    "\n"
    "Log lines go to standard output as HH:MM:SS<TAB>message. Ctrl+C stops the export before the\n"
    "next row; the rows copied so far stay in the file.\n"
    "\n"
    "Exit status: 0 exported; 3 exported, but rows were refused; 1 failed or stopped; 2 usage error.\n"
    "With --script: 0 every record exported; 1 a record stopped the script (later records are not\n"
    "run) or FILE cannot be opened; 2 usage error.\n";

struct Options {
  std::optional<std::string> connect;
  std::optional<std::string> sql;
  std::optional<std::string> out;
  std::optional<std::string> format;
  std::optional<std::string> script;
  std::string datePattern;
  cli::ConsoleHost::OnRowError onRowError = cli::ConsoleHost::OnRowError::Skip;
};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "quillon-export: %s\n(quillon-export --help explains the options)\n", message.c_str());
  return kExitUsage;
}

// Parses the arguments into `options`; returns an exit status when the program should end now.
std::optional<int> ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kExitSuccess;
    }
    std::optional<std::string>* target = arg == "--connect" ? &options.connect
                                         : arg == "--sql"   ? &options.sql
                                         : arg == "--out"   ? &options.out
                                         : arg == "--format" ? &options.format
                                         : arg == "--script" ? &options.script
                                                             : nullptr;
    const bool takesValue = target != nullptr || arg == "--date-pattern" || arg == "--on-row-error";
    if (!takesValue) return UsageError("unknown option '" + arg + "'");
    if (i + 1 >= argc) return UsageError(arg + " needs a value");
    const std::string value = argv[++i];
    if (target != nullptr) {
      *target = value;
    } else if (arg == "--date-pattern") {
      options.datePattern = value;
    } else if (value == "skip" || value == "cancel") {
      options.onRowError = value == "skip" ? cli::ConsoleHost::OnRowError::Skip : cli::ConsoleHost::OnRowError::Cancel;
    } else {
      return UsageError("--on-row-error takes skip or cancel, not '" + value + "'");
    }
  }
  if (options.script) {
    if (options.sql || options.out || options.format) {
      return UsageError("--script takes its statements, files and formats from the script, "
                        "not from --sql, --out or --format");
    }
    return std::nullopt;
  }
  if (!options.sql) return UsageError("--sql is required");
  if (!options.out) return UsageError("--out is required");
  return std::nullopt;
}

std::optional<engine::OutputFormat> FormatOf(const Options& options) {
  if (!options.format) {
    const engine::OutputFormat format = engine::FormatFromExtension(text::Utf8ToWide(*options.out));
    if (format == engine::FormatUnknown) return std::nullopt;
    return format;
  }
  if (*options.format == "excel") return engine::FormatExcel;
  if (*options.format == "access") return engine::FormatAccess;
  if (*options.format == "text") return engine::FormatText;
  return std::nullopt;
}

// Opens the database to read from; prints why and returns false when it cannot.
bool OpenSource(const Options& options, odbc::CDatabase& source) {
  try {
    const std::wstring connect = options.connect ? text::Utf8ToWide(*options.connect)
                                                 : host::EnsureDemoDatabase(host::DemoDatabasePath());
    // Large results stream from the drivers that would otherwise hold them whole.
    source.OpenEx(odbc::WithStreamingFetch(connect), odbc::CDatabase::noOdbcDialog);
    return true;
  } catch (const odbc::CDBException& e) {
    std::fprintf(stderr, "quillon-export: cannot open the database: %s\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillon-export: cannot create the demo database: %s\n", e.what());
  }
  return false;
}

int RunScriptFile(const Options& options) {
  engine::ScriptFile script;
  std::error_code error;
  if (!script.Open(text::Utf8ToWide(*options.script), error)) {
    std::fprintf(stderr, "quillon-export: cannot open the script file '%s': %s\n", options.script->c_str(),
                 error.message().c_str());
    return kExitFailed;
  }
  drivers::RegisterBuiltInDrivers();
  odbc::CDatabase source;
  if (!OpenSource(options, source)) return kExitFailed;

  cli::ConsoleHost host(text::Utf8ToWide(options.datePattern), options.onRowError);
  ui::ScopedPrompts prompts(host);
  cli::ConsoleHost::CatchInterrupt();
  const auto exportRecord = [&](const std::wstring& statement, const std::wstring& path, const std::int32_t* format) {
    host.RestartProgress();  // the progress line measures each export on its own
    return engine::ExportQuery(source, host, statement, path, format);
  };
  return engine::RunScript(script, host, exportRecord) == engine::ScriptOutcome::Completed ? kExitSuccess
                                                                                          : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  Options options;
  if (const auto status = ParseArguments(argc, argv, options)) return *status;
  if (options.script) return RunScriptFile(options);
  const std::optional<engine::OutputFormat> format = FormatOf(options);
  if (!format) {
    return UsageError(options.format ? "--format takes excel, access or text, not '" + *options.format + "'"
                                     : "cannot tell the format from the extension of '" + *options.out +
                                           "'; give --format");
  }

  drivers::RegisterBuiltInDrivers();
  odbc::CDatabase source;
  if (!OpenSource(options, source)) return kExitFailed;

  cli::ConsoleHost host(text::Utf8ToWide(options.datePattern), options.onRowError);
  ui::ScopedPrompts prompts(host);
  cli::ConsoleHost::CatchInterrupt();
  const std::int32_t formatValue = *format;
  const bool exported = engine::ExportQuery(source, host, text::Utf8ToWide(*options.sql),
                                            text::Utf8ToWide(*options.out), &formatValue);
  if (!exported) return kExitFailed;
  return host.RefusedRows() > 0 ? kExitRowsRefused : kExitSuccess;
}
