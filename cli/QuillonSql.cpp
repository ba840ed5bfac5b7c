// quillon-sql "<connect string>": executes the SQL statements read from standard input, one a
// line, through CDatabase on an ODBC source or a built-in driver. A SELECT prints its rows
// tab-separated. Each failing statement is reported on standard error with its line number and
// the driver's message; the exit status is 1 when any failed, standard input could not be read
// or standard output written (nothing more runs then), 2 when the connection failed or the
// arguments are wrong.
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "cli/BrokenPipes.h"
#include "drivers/BuiltInDrivers.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/DBVariant.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"
#include "platform/odbc/StreamingConnect.h"
#include "platform/text/WideText.h"

namespace {

using quillon::odbc::CDatabase;
using quillon::odbc::CDBException;
using quillon::odbc::CDBVariant;
using quillon::odbc::CRecordset;
namespace text = quillon::text;

std::string ValueText(const CDBVariant& v) {
  using namespace quillon::odbc;
  char buffer[64];
  switch (v.m_dwType) {
    case DBVT_NULL:
      return "NULL";
    case DBVT_BOOL:
      return v.m_boolVal ? "1" : "0";
    case DBVT_UCHAR:
      return std::to_string(v.m_chVal);
    case DBVT_SHORT:
      return std::to_string(v.m_iVal);
    case DBVT_LONG:
      return std::to_string(v.m_lVal);
    case DBVT_BIGINT:
      return std::to_string(v.m_llVal);
    case DBVT_SINGLE:
    case DBVT_DOUBLE: {
      const double d = v.m_dwType == DBVT_SINGLE ? v.m_fltVal : v.m_dblVal;
      const auto end = std::to_chars(buffer, buffer + sizeof buffer, d).ptr;
      return std::string(buffer, end);
    }
    case DBVT_DATE: {
      const auto& t = *v.m_pdate;
      if (t.year == 0 && t.month == 0 && t.day == 0) {  // a time of day
        std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u", t.hour, t.minute, t.second);
        return buffer;
      }
      std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute,
                    t.second);
      return buffer;
    }
    case DBVT_STRING:
      return text::WideToUtf8(*v.m_pstring);
    case DBVT_WSTRING:
      return text::WideToUtf8(*v.m_pstringW);
    case DBVT_ASTRING:
      return *v.m_pstringA;
    case DBVT_BINARY: {
      std::string hex = "0x";
      for (auto b : v.m_pbinary->m_bytes) {
        std::snprintf(buffer, sizeof buffer, "%02X", b);
        hex += buffer;
      }
      return hex;
    }
    default:
      return "";
  }
}

bool IsSelect(std::wstring_view statement) {
  while (!statement.empty() && (statement.front() == L' ' || statement.front() == L'\t')) statement.remove_prefix(1);
  return statement.size() >= 6 && text::EqualsIgnoreAsciiCase(statement.substr(0, 6), L"SELECT");
}

// Prints the statement's rows; 0, or the error (errno) of a write to standard output that failed,
// after which no further row is read.
int PrintRows(CDatabase& database, std::wstring_view statement) {
  CRecordset rows(&database);
  rows.Open(CRecordset::forwardOnly, statement, CRecordset::readOnly);
  const std::int16_t count = rows.GetODBCFieldCount();
  std::string line;
  for (; !rows.IsEOF(); rows.MoveNext()) {
    line.clear();
    for (std::int16_t i = 0; i < count; ++i) {
      CDBVariant value;
      rows.GetFieldValue(i, value);
      if (i > 0) line += '\t';
      line += ValueText(value);
    }
    line += '\n';
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size()) return errno;
  }
  return std::fflush(stdout) == 0 ? 0 : errno;
}

}  // namespace

constexpr const char* kUsage =
    "usage: quillon-sql \"<connect string>\" < statements.sql\n"
    "\n"
    "Connects with the ODBC connect string (a built-in driver, such as\n"
    "DRIVER={Microsoft Excel Driver (*.xls)};DBQ=/path/book.xls, or any unixODBC source) and runs\n"
    "the SQL statements read from standard input, one a line; blank lines are skipped. A SELECT\n"
    "prints its rows on standard output, tab-separated. Each statement that fails is reported on\n"
    "standard error with its line number and the driver's message, and the next one runs.\n"
    "When standard output cannot be written (its reader went away, as with `| head`), nothing\n"
    "more is printed or run: the connection is closed and the status is 1.\n"
    "\n"
    "Exit status: 0 every statement ran; 1 a statement failed, standard input could not be read\n"
    "or standard output written; 2 the connection failed, or usage error.\n";

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc != 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  // A reader of the rows that goes away ends the printing, and the connection is still closed as
  // usual (a built-in driver writes its file then).
  quillon::cli::IgnoreBrokenPipes();
  // A file size limit fails the driver's write (EFBIG) instead of ending the process.
  quillon::cli::IgnoreFileSizeLimit();
  quillon::drivers::RegisterBuiltInDrivers();
  CDatabase database;
  try {
    // Statements may create what they write to: a SQLite database too.
    database.OpenEx(quillon::odbc::WithStreamingFetch(text::Utf8ToWide(argv[1]), quillon::odbc::SourceUse::ReadWrite),
                    CDatabase::noOdbcDialog);
  } catch (const CDBException& e) {
    std::cerr << "quillon-sql: cannot connect: " << e.what() << '\n';
    return 2;
  }
  bool failed = false;
  std::string line;
  long number = 1;
  for (; std::getline(std::cin, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    const std::wstring statement = text::Utf8ToWide(line);
    try {
      if (IsSelect(statement) && database.GetOdbcConnection() != nullptr) {
        if (const int error = PrintRows(database, statement); error != 0) {
          std::cerr << "quillon-sql: cannot write standard output at line " << number << ": " << std::strerror(error)
                    << '\n';
          failed = true;
          break;
        }
      } else {
        database.ExecuteSQL(statement);
      }
    } catch (const CDBException& e) {
      std::cerr << "line " << number << ": " << e.what() << '\n';
      failed = true;
    }
  }
  // The end of the input and a failure to read it both end the loop; only the stream can tell.
  if (std::ferror(stdin)) {
    std::cerr << "quillon-sql: cannot read standard input at line " << number << ": " << std::strerror(errno) << '\n';
    failed = true;
  }
  try {
    database.Close();
  } catch (const CDBException& e) {
    std::cerr << "quillon-sql: closing the connection failed: " << e.what() << '\n';
    return 1;
  }
  return failed ? 1 : 0;
}
