// quillon-export: the dialog's exports from the command line.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "cli/ConsoleHost.h"
#include "drivers/BuiltInDrivers.h"
#include "engine/ExportRun.h"
#include "engine/OutputFormat.h"
#include "engine/ScriptRunner.h"
#include "host/SourceDatabase.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/text/WideText.h"

namespace {

using namespace quillon;

constexpr int kExitSuccess = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitRowsRefused = 3;

constexpr const char* kUsage =
    "usage: quillon-export [--connect CS] --sql STATEMENT --out PATH\n"
    "                      [--format excel|access|text|xlsx|csv] [--table NAME] [--replace]\n"
    "                      [--date-pattern P] [--on-row-error skip|cancel]\n"
    "       quillon-export [--connect CS] --script FILE [--replace] [--date-pattern P]\n"
    "                      [--on-row-error skip|cancel]\n"
    "\n"
    "Runs STATEMENT on a database and copies every row of its result into a new table of PATH,\n"
    "an Excel workbook (.xls, .xlsx), an Access database (.mdb) or a text file (.txt tab-separated,\n"
    ".csv comma-separated; a text file holds one table), created with its folders when missing.\n"
    "With --script, runs every export that FILE lists, one after another, and stops at the first\n"
    "one that fails.\n"
    "\n"
    "  --connect CS        ODBC connect string of the database to read; the embedded demo\n"
    "                      database when not given\n"
    "  --sql STATEMENT     the SELECT (or EXEC) statement to export\n"
    "  --out PATH          the output file; a relative PATH counts from the working folder\n"
    "  --format F          excel, access, text, xlsx or csv; taken from PATH's extension (xls,\n"
    "                      mdb, txt, xlsx, csv) when not given\n"
    "  --table NAME        the new table's (sheet's) name; the source table's when not given\n"
    "  --replace           an existing file is replaced by a new one that holds only the new\n"
    "                      table (owner, mode and attributes kept), instead of getting the table\n"
    "                      added; the file stays as it was when the export fails\n"
    "  --script FILE       a script of exports: one record per export, the statement, a TAB and\n"
    "                      the output file (fields between a first and a last TAB are notes); a\n"
    "                      record ends at the first line end after a TAB, so a statement may span\n"
    "                      lines; the format comes from each file's extension (xls, mdb, txt,\n"
    "                      xlsx, csv).\n"
    "                      A relative output file counts from the folder that holds FILE, or\n"
    "                      from the working folder when FILE is a pipe or a device such as\n"
    "                      /dev/stdin. UTF-8 text whatever the locale; LF, CR LF and CR line\n"
    "                      ends alike\n"
    "  --date-pattern P    how date values are written: %d day, %m month, %y year, %H hour,\n"
    "                      %M minute, %S second (default \"%d.%m.%y %H:%M:%S\")\n"
    "  --on-row-error A    a row the output refuses: skip it and go on (skip, the default), or\n"
    "                      end the copying there (cancel); each refused row is reported on\n"
    "                      standard error\n"
    "\n"
    "Paths, statements and connect strings are taken as UTF-8; an argument that is not UTF-8 is\n"
    "refused rather than changed into another name.\n"
    "\n"
    "Log lines go to standard output as HH:MM:SS<TAB>message; the lines that say why an export\n"
    "failed or stopped go to standard error as well. Ctrl+C, SIGTERM and SIGHUP stop the export\n"
    "before the next row; the rows copied so far stay in the file.\n"
    "\n"
    "Exit status, for one export and for a script alike:\n"
    "  0  every row exported (with --script: by every record)\n"
    "  3  exported, but the output refused some rows\n"
    "  1  an export failed or was stopped (with --script: later records are not run), or the\n"
    "     database or FILE cannot be opened\n"
    "  2  usage error\n";

struct Options {
  std::optional<std::string> connect;
  std::optional<std::string> sql;
  std::optional<std::string> out;
  std::optional<std::string> format;
  std::optional<std::string> script;
  std::optional<std::string> table;
  bool replace = false;
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
    if (arg == "--replace") {
      options.replace = true;
      continue;
    }
    std::optional<std::string>* target = arg == "--connect"  ? &options.connect
                                         : arg == "--sql"    ? &options.sql
                                         : arg == "--out"    ? &options.out
                                         : arg == "--format" ? &options.format
                                         : arg == "--script" ? &options.script
                                         : arg == "--table"  ? &options.table
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
    if (options.sql || options.out || options.format || options.table) {
      return UsageError(
          "--script takes its statements, files, formats and table names from the script, "
          "not from --sql, --out, --format or --table");
    }
    return std::nullopt;
  }
  if (!options.sql) return UsageError("--sql is required");
  if (!options.out) return UsageError("--out is required");
  if (options.table && options.table->empty()) return UsageError("--table needs a name");
  return std::nullopt;
}

// `bytes` with every byte outside printable ASCII written as \xHH.
std::string Escaped(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

// Every text reaches the engine as UTF-8; one that is not would be changed on the way (a path
// into the name of another file), so it is refused.
std::optional<int> RefuseNonUtf8(const Options& options) {
  const std::pair<const char*, const std::optional<std::string>*> values[] = {
      {"--connect", &options.connect}, {"--sql", &options.sql},       {"--out", &options.out},
      {"--format", &options.format},   {"--script", &options.script}, {"--table", &options.table}};
  for (const auto& [name, value] : values) {
    if (*value && text::ValidUtf8Length(**value) != (*value)->size()) {
      return UsageError(std::string(name) + " '" + Escaped(**value) +
                        "' is not UTF-8 text; quillon-export takes every path and statement as UTF-8, "
                        "so it cannot name this one");
    }
  }
  if (text::ValidUtf8Length(options.datePattern) != options.datePattern.size()) {
    return UsageError("--date-pattern '" + Escaped(options.datePattern) + "' is not UTF-8 text");
  }
  return std::nullopt;
}

// `path` made absolute against the working folder; empty stays empty, and so does everything
// when the working folder cannot be told (it was removed).
std::string Absolute(const std::string& path) {
  if (path.empty()) return path;
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(path), error);
  return error ? path : absolute.string();
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
  if (*options.format == "xlsx") return engine::FormatXlsx;
  if (*options.format == "csv") return engine::FormatCsv;
  return std::nullopt;
}

// Opens the database to read from; prints why and returns false when it cannot.
bool OpenSource(const Options& options, odbc::CDatabase& source) {
  try {
    host::OpenSourceDatabase(source, options.connect);
    return true;
  } catch (const odbc::CDBException& e) {
    std::fprintf(stderr, "quillon-export: cannot open the database: %s\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillon-export: cannot create the demo database: %s\n", e.what());
  }
  return false;
}

// Opens the source and the console host, runs `exports` with them, and gives the exit status:
// failed when `exports` returns false, else whether rows were refused.
int RunWithSource(const Options& options,
                  const std::function<bool(odbc::CDatabase& source, cli::ConsoleHost& host)>& exports) {
  drivers::RegisterBuiltInDrivers();
  odbc::CDatabase source;
  if (!OpenSource(options, source)) return kExitFailed;

  cli::ConsoleHost host(text::Utf8ToWide(options.datePattern), options.onRowError);
  ui::ScopedPrompts prompts(host);
  // A stop cancels the statement the source is running, rather than wait for its end.
  const cli::ConsoleHost::StopSignalWatch cancelOnStop([&source] { source.Cancel(); });
  if (!exports(source, host)) return kExitFailed;
  return host.RefusedRows() > 0 ? kExitRowsRefused : kExitSuccess;
}

engine::ExportOptions ExportOptionsOf(const Options& options) {
  engine::ExportOptions exportOptions;
  if (options.table) exportOptions.tableName = text::Utf8ToWide(*options.table);
  exportOptions.replace = options.replace;
  return exportOptions;
}

int RunScriptFile(const Options& options) {
  engine::ScriptFile script;
  try {
    script.Open(text::Utf8ToWide(*options.script));
  } catch (const odbc::CDBException& e) {
    std::fprintf(stderr, "quillon-export: cannot open the script file '%s': %s\n", options.script->c_str(),
                 std::strerror(static_cast<int>(e.m_nNativeError)));
    return kExitFailed;
  }
  return RunWithSource(options, [&](odbc::CDatabase& source, cli::ConsoleHost& host) {
    const auto exportRecord = [&](const std::wstring& statement, const std::wstring& path,
                                  engine::OutputFormat format) {
      host.ClearProgress();  // each export shows its own progress line
      return engine::ExportQuery(source, host, statement, path, format, ExportOptionsOf(options));
    };
    return engine::RunScript(script, host, exportRecord) == engine::ScriptOutcome::Completed;
  });
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  cli::ConsoleHost::CatchStopSignals();
  Options options;
  if (const auto status = ParseArguments(argc, argv, options)) return *status;
  if (const auto status = RefuseNonUtf8(options)) return *status;
  if (options.script) return RunScriptFile(options);
  options.out = Absolute(*options.out);
  const std::optional<engine::OutputFormat> format = FormatOf(options);
  if (!format) {
    return UsageError(options.format
                          ? "--format takes excel, access, text, xlsx or csv, not '" + *options.format + "'"
                          : "cannot tell the format from the extension of '" + *options.out + "'; give --format");
  }

  return RunWithSource(options, [&](odbc::CDatabase& source, cli::ConsoleHost& host) {
    return engine::ExportQuery(source, host, text::Utf8ToWide(*options.sql), text::Utf8ToWide(*options.out), *format,
                               ExportOptionsOf(options));
  });
}
