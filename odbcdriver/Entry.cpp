// The driver's entry points, which the driver manager (unixODBC) calls: each takes its handle's
// lock, clears the handle's diagnostics and runs its body, turning any exception into a
// diagnostic and SQL_ERROR; nothing throws past them. Text arrives and leaves as UTF-8 through
// the functions without a suffix and as UTF-16 through the W functions.
#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

#include "odbcdriver/Catalog.h"
#include "odbcdriver/Handles.h"
#include "odbcdriver/Info.h"
#include "odbcdriver/Parameters.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/odbc/ConnectString.h"
#include "platform/text/WideText.h"

#define QUILLON_EXPORT extern "C" __attribute__((visibility("default")))

using namespace quillon;
using namespace quillon::odbcdriver;
namespace errors = quillon::odbc::errors;

namespace {

// What the driver adds in front of its messages, as ODBC drivers name themselves.
constexpr std::wstring_view kMessagePrefix = L"[Quillon][ODBC Driver]";
constexpr wchar_t kDsnKey[] = L"DSN";
// The odbc.ini entries a data source may give, read in the connect string's place.
constexpr const wchar_t* kDataSourceKeys[] = {odbc::key::kDatabase, odbc::key::kReadOnly, odbc::key::kDatePattern};
constexpr int kProfileValueBytes = 4096;
constexpr std::size_t kMostMarkers = std::numeric_limits<SQLSMALLINT>::max();

// The handles this library gave out and has not freed, with their types: a handle used after it
// was freed, or of another type than the function takes, is refused as invalid rather than read.
class LiveHandles {
 public:
  static void Add(const void* handle, SQLSMALLINT type) {
    std::lock_guard lock(Mutex());
    Map()[handle] = type;
  }
  static void Remove(const void* handle) {
    std::lock_guard lock(Mutex());
    Map().erase(handle);
  }
  static bool Is(const void* handle, SQLSMALLINT type) noexcept {
    if (handle == nullptr) return false;
    std::lock_guard lock(Mutex());
    const auto found = Map().find(handle);
    return found != Map().end() && found->second == type;
  }

 private:
  // Never destroyed, so that handles freed while the process exits still find them.
  static std::mutex& Mutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
  }
  static std::unordered_map<const void*, SQLSMALLINT>& Map() {
    static auto* handles = new std::unordered_map<const void*, SQLSMALLINT>;
    return *handles;
  }
};

template <typename Body>
SQLRETURN Guard(Diagnostics& diag, Body&& body) noexcept {
  diag.Clear();
  SQLRETURN result = SQL_ERROR;
  try {
    result = static_cast<SQLRETURN>(body());
  } catch (const odbc::CDBException& e) {
    diag.Add(e);
    result = SQL_ERROR;
  } catch (const std::bad_alloc&) {
    diag.records.push_back({odbc::errors::state::kNoMemory, 0, L"Memory allocation error.", SQL_NO_ROW_NUMBER});
  } catch (...) {
    diag.records.push_back({odbc::errors::state::kGeneral, 0, L"General error.", SQL_NO_ROW_NUMBER});
  }
  diag.returnCode = result;
  return result;
}

template <typename Body>
SQLRETURN OnEnv(SQLHANDLE handle, Body&& body) noexcept {
  if (!LiveHandles::Is(handle, SQL_HANDLE_ENV)) return SQL_INVALID_HANDLE;
  auto& env = *static_cast<Environment*>(handle);
  std::lock_guard lock(env.mutex);
  return Guard(env.diag, [&] { return body(env); });
}

template <typename Body>
SQLRETURN OnDbc(SQLHANDLE handle, Body&& body) noexcept {
  if (!LiveHandles::Is(handle, SQL_HANDLE_DBC)) return SQL_INVALID_HANDLE;
  auto& dbc = *static_cast<Connection*>(handle);
  std::lock_guard lock(dbc.mutex);
  return Guard(dbc.diag, [&] { return body(dbc); });
}

template <typename Body>
SQLRETURN OnStmt(SQLHANDLE handle, Body&& body) noexcept {
  if (!LiveHandles::Is(handle, SQL_HANDLE_STMT)) return SQL_INVALID_HANDLE;
  auto& stmt = *static_cast<Statement*>(handle);
  std::lock_guard lock(stmt.dbc.mutex);
  return Guard(stmt.diag, [&] { return body(stmt); });
}

// What the messages call the texts an application gives.
constexpr std::wstring_view kStatementText = L"statement";
constexpr std::wstring_view kConnectString = L"connect string";
constexpr std::wstring_view kConnectPath = L"file path (DBQ) of the connect string";
constexpr std::wstring_view kDataSourceName = L"data source name";
constexpr std::wstring_view kCatalogArgument = L"catalog function's argument";

// The count of characters of `text` that `length` gives: SQL_NTS up to the closing NUL, another
// negative length refused (HY090). NULs the length counted at the end (the closing one) are left
// off; a NUL before the end is refused (22021), since the text would be cut there.
template <typename Char>
std::size_t CharacterCount(const Char* text, SQLINTEGER length, std::wstring_view what) {
  std::size_t count = 0;
  if (length == SQL_NTS) {
    while (text[count] != 0) ++count;
    return count;
  }
  if (length < 0) throw errors::BadBufferLength();
  count = static_cast<std::size_t>(length);
  while (count > 0 && text[count - 1] == 0) --count;
  for (std::size_t i = 0; i < count; ++i) {
    if (text[i] == 0) throw errors::ArgumentHoldsNul(what, i);
  }
  return count;
}

// Text from the functions without a suffix; none (a null pointer) is HY009, and what is not UTF-8
// is refused (22021) rather than read as other text.
std::wstring FromUtf8(const SQLCHAR* text, SQLINTEGER length, std::wstring_view what) {
  if (text == nullptr) throw errors::NullArgument();
  const std::string_view utf8(reinterpret_cast<const char*>(text), CharacterCount(text, length, what));
  if (const std::size_t valid = text::ValidUtf8Length(utf8); valid != utf8.size())
    throw errors::ArgumentNotUtf8(what, valid);
  return text::Utf8ToWide(utf8);
}

// Text from the W functions; an unpaired surrogate is refused (22021).
std::wstring FromUtf16(const SQLWCHAR* text, SQLINTEGER length, std::wstring_view what) {
  if (text == nullptr) throw errors::NullArgument();
  const std::size_t units = CharacterCount(text, length, what);
  std::u16string utf16(units, u'\0');
  for (std::size_t i = 0; i < units; ++i) utf16[i] = static_cast<char16_t>(text[i]);
  if (const std::size_t valid = text::ValidUtf16Length(utf16); valid != units)
    throw errors::ArgumentNotUtf16(what, valid);
  return text::Utf16ToWide(utf16);
}

// A connect string from SQLDriverConnect. One that is not UTF-8 in the file's path (the entry the
// first bad byte falls in is DBQ) says so: read otherwise, the path would name another file.
std::wstring ConnectStringFromUtf8(const SQLCHAR* text, SQLINTEGER length) {
  if (text == nullptr) throw errors::NullArgument();
  const std::string_view utf8(reinterpret_cast<const char*>(text), CharacterCount(text, length, kConnectString));
  const std::size_t valid = text::ValidUtf8Length(utf8);
  if (valid == utf8.size()) return text::Utf8ToWide(utf8);
  const odbc::ConnectString before = odbc::ConnectString::Parse(text::Utf8ToWide(utf8.substr(0, valid)));
  const bool inPath =
      !before.Pairs().empty() && text::EqualsIgnoreAsciiCase(before.Pairs().back().first, odbc::key::kDatabase);
  throw errors::ArgumentNotUtf8(inPath ? kConnectPath : kConnectString, valid);
}

// A cut string is a warning, 01004, on the handle.
SQLRETURN Put(Diagnostics& diag, std::wstring_view value, bool wide, SQLPOINTER buffer, SQLSMALLINT length,
              SQLSMALLINT* outLength, bool charsForWide = true) {
  if (length < 0) throw errors::BadBufferLength();
  if (!PutString(value, wide, buffer, length, outLength, charsForWide)) return SQL_SUCCESS;
  diag.Add(errors::DataTruncated());
  return SQL_SUCCESS_WITH_INFO;
}

// The value of `key` for data source `dsn` from odbc.ini, or nothing.
std::optional<std::wstring> ProfileValue(const std::wstring& dsn, const wchar_t* key) {
  char value[kProfileValueBytes] = {};
  const std::string section = text::WideToUtf8(dsn);
  const std::string entry = text::WideToUtf8(key);
  const int got = SQLGetPrivateProfileString(section.c_str(), entry.c_str(), "", value, sizeof value, "odbc.ini");
  if (got <= 0 || value[0] == 0) return std::nullopt;
  const std::string_view utf8(value);
  if (const std::size_t valid = text::ValidUtf8Length(utf8); valid != utf8.size())
    throw errors::ArgumentNotUtf8(std::wstring(key) + L" entry of data source " + dsn + L" in odbc.ini", valid);
  return text::Utf8ToWide(utf8);
}

std::wstring Entry(std::wstring_view key, std::wstring_view value) {
  std::wstring entry = std::wstring(key) + L"={";
  for (const wchar_t c : value) entry += c == L'}' ? L"}}" : std::wstring(1, c);
  return entry + L"};";
}

// The connect string with the data source's entries from odbc.ini added where it gives none; a
// DBQ left unbraced at the end loses a closing ';'.
odbc::ConnectString Complete(const std::wstring& given, std::wstring& dataSource) {
  odbc::ConnectString connect = odbc::ConnectString::Parse(given);
  std::wstring text;
  if (const auto dsn = connect.Get(kDsnKey); dsn && !dsn->empty()) {
    dataSource = *dsn;
    for (const wchar_t* key : kDataSourceKeys) {
      if (connect.Get(key)) continue;
      if (const auto value = ProfileValue(*dsn, key)) text += Entry(key, *value);
    }
  }
  for (const auto& [key, value] : connect.Pairs()) {
    std::wstring_view v = value;
    if (text::EqualsIgnoreAsciiCase(key, odbc::key::kDatabase) && v.ends_with(L';')) v.remove_suffix(1);
    text += Entry(key, v);
  }
  return odbc::ConnectString::Parse(text);
}

SQLRETURN Connect(Connection& dbc, const std::wstring& connect) {
  if (dbc.session) throw errors::ConnectionAlreadyOpen();
  std::wstring dataSource;
  const odbc::ConnectString complete = Complete(connect, dataSource);
  dbc.session = std::make_unique<Session>(complete);
  dbc.session->SetAutoCommit(dbc.autoCommit);
  dbc.dataSource = dataSource;
  return SQL_SUCCESS;
}

Session& SessionOf(Connection& dbc) {
  if (!dbc.session) throw errors::ConnectionClosed();
  return *dbc.session;
}

void Prepare(Statement& stmt, std::wstring text) {
  stmt.result.reset();
  stmt.direct = false;
  stmt.text = std::move(text);
  stmt.markerPositions = FindMarkers(stmt.text);
  stmt.markers = stmt.markerPositions.size();
  stmt.prepared = stmt.markers <= kMostMarkers;
  // SQLNumParams counts markers in a SQLSMALLINT.
  if (!stmt.prepared) throw errors::TooManyMarkers(stmt.markers, kMostMarkers);
  stmt.insertTable = InsertOfMarkersOnly(stmt.text, stmt.markers);
  stmt.rowCount = -1;
}

// Runs the prepared statement once for each row of its parameters. A row that is refused stops
// the array: the rows before it stay done, the rest are not run.
SQLRETURN RunStatement(Statement& stmt);

// Starts an execution: values that come later (data at execution) are asked for first.
SQLRETURN Start(Statement& stmt) {
  SessionOf(stmt.dbc);
  stmt.putData.assign(stmt.markers, std::nullopt);
  stmt.needData.clear();
  for (std::size_t i = 0; i < stmt.markers && i < stmt.parameters.size(); ++i) {
    const BoundParameter& p = stmt.parameters[i];
    const SQLLEN* indicator = p.bound ? IndicatorOf(stmt, i + 1, 0) : nullptr;
    if (indicator != nullptr && IsDataAtExecution(*indicator)) {
      if (stmt.paramsetSize > 1) throw errors::FeatureNotImplemented(L"data at execution in an array of parameters");
      stmt.needData.push_back(i);
    }
  }
  if (stmt.needData.empty()) return RunStatement(stmt);
  std::reverse(stmt.needData.begin(), stmt.needData.end());
  stmt.needData.push_back(SIZE_MAX);  // stands for the SQLParamData that asks for the first
  return SQL_NEED_DATA;
}

SQLRETURN Execute(Statement& stmt) {
  if (!stmt.prepared || stmt.direct) throw errors::OutOfSequence(L"no statement is prepared");
  return Start(stmt);
}

// SQLParamData: the next parameter whose value is to come, or the execution once all came.
SQLRETURN ParamData(Statement& stmt, SQLPOINTER* token) {
  if (stmt.needData.empty()) throw errors::OutOfSequence(L"no value is asked for");
  stmt.needData.pop_back();
  if (stmt.needData.empty()) return RunStatement(stmt);
  stmt.putNull = false;
  if (token != nullptr) {
    const SQLULEN offset = stmt.paramBindOffset != nullptr ? *stmt.paramBindOffset : 0;
    *token = static_cast<char*>(stmt.parameters[stmt.needData.back()].value) + offset;
  }
  return SQL_NEED_DATA;
}

SQLRETURN PutData(Statement& stmt, SQLPOINTER data, SQLLEN length) {
  if (stmt.needData.empty() || stmt.needData.back() == SIZE_MAX) throw errors::OutOfSequence(L"no value is asked for");
  const std::size_t index = stmt.needData.back();
  auto& value = stmt.putData[index];
  if (length == SQL_NULL_DATA) {
    value.reset();
    stmt.putNull = true;
    return SQL_SUCCESS;
  }
  if (stmt.putNull) throw errors::OutOfSequence(L"a value sent as NULL takes no more pieces");
  if (data == nullptr && length != 0) throw errors::NullArgument();
  const SQLSMALLINT cType = stmt.parameters[index].cType;
  std::size_t bytes = 0;
  // A value of a fixed-size type is one piece of its size, whatever length is given.
  if (const std::size_t fixed = FixedSizeOf(stmt.parameters[index]); fixed != 0) {
    if (value) throw errors::FixedValueInPieces(index + 1);
    if (data == nullptr) throw errors::NullArgument();
    bytes = fixed;
  } else if (length == SQL_NTS) {
    if (cType == SQL_C_WCHAR) {
      while (static_cast<const SQLWCHAR*>(data)[bytes / sizeof(SQLWCHAR)] != 0) bytes += sizeof(SQLWCHAR);
    } else {
      bytes = std::strlen(static_cast<const char*>(data));
    }
  } else if (length < 0) {
    throw errors::BadBufferLength();
  } else {
    bytes = static_cast<std::size_t>(length);
  }
  if (!value) value.emplace();
  value->append(static_cast<const char*>(data), bytes);
  return SQL_SUCCESS;
}

SQLRETURN RunStatement(Statement& stmt) {
  Session& session = SessionOf(stmt.dbc);
  stmt.needData.clear();
  stmt.result.reset();
  stmt.rowCount = 0;
  const std::vector<std::size_t>& markers = stmt.markerPositions;
  const SQLULEN rows = markers.empty() ? 1 : std::max<SQLULEN>(stmt.paramsetSize, 1);
  if (stmt.paramsProcessed != nullptr) *stmt.paramsProcessed = 0;
  if (stmt.paramStatus != nullptr) std::fill(stmt.paramStatus, stmt.paramStatus + rows, SQL_PARAM_UNUSED);
  const std::optional<std::wstring>& table = stmt.insertTable;
  // One literal a marker, reused from row to row.
  std::vector<odbc::Literal> values(markers.size());
  SQLRETURN result = SQL_SUCCESS;
  bool anyDone = false;
  // With autocommit a statement is kept whole or not at all: when a failed write or commit takes
  // it back, none of its rows is done.
  const auto noneDone = [&] {
    stmt.rowCount = 0;
    if (stmt.paramStatus == nullptr) return;
    std::replace(stmt.paramStatus, stmt.paramStatus + rows, static_cast<SQLUSMALLINT>(SQL_PARAM_SUCCESS),
                 static_cast<SQLUSMALLINT>(SQL_PARAM_ERROR));
  };
  for (SQLULEN row = 0; row < rows; ++row) {
    if (stmt.paramOperation != nullptr && stmt.paramOperation[row] == SQL_PARAM_IGNORE) continue;
    if (stmt.paramsProcessed != nullptr) *stmt.paramsProcessed = row + 1;
    try {
      for (std::size_t i = 0; i < markers.size(); ++i) ReadParameter(stmt, i + 1, row, values[i]);
      if (markers.empty()) {
        if (session.Execute(stmt.text)) stmt.rowCount = 1;
      } else {
        if (!table || !session.InsertRow(*table, values)) session.Execute(FillMarkers(stmt.text, markers, values));
        ++stmt.rowCount;
      }
      anyDone = true;
      if (stmt.paramStatus != nullptr) stmt.paramStatus[row] = SQL_PARAM_SUCCESS;
    } catch (const odbc::CDBException& e) {
      if (stmt.paramStatus != nullptr) stmt.paramStatus[row] = SQL_PARAM_ERROR;
      stmt.diag.Add(e, rows > 1 ? static_cast<SQLLEN>(row + 1) : SQL_NO_ROW_NUMBER);
      result = SQL_ERROR;
      // A failed write leaves nothing to commit: with autocommit the next statement starts on
      // the file as it was.
      if (errors::IsIoError(e) && session.AutoCommit()) {
        anyDone = false;
        noneDone();
        session.Rollback();
      }
      break;
    }
  }
  // With autocommit the statement, all rows of its array that were done, is committed.
  if (!anyDone) return result;
  try {
    session.StatementDone();
  } catch (const odbc::CDBException&) {
    noneDone();
    throw;
  }
  return result;
}

// The statement is run once: SQLExecute afterwards does not run it again.
SQLRETURN ExecDirect(Statement& stmt, std::wstring text) {
  Prepare(stmt, std::move(text));
  stmt.direct = true;
  return Start(stmt);
}

// A statement's result set, or 24000 when it has none.
ResultSet& ResultOf(Statement& stmt) {
  if (!stmt.result) throw errors::OutOfSequence(L"the statement has no result set");
  return *stmt.result;
}

SQLRETURN DescribeCol(Statement& stmt, SQLUSMALLINT column, SQLPOINTER name, SQLSMALLINT bufferLength,
                      SQLSMALLINT* nameLength, SQLSMALLINT* dataType, SQLULEN* columnSize, SQLSMALLINT* decimalDigits,
                      SQLSMALLINT* nullable, bool wide) {
  const auto& columns = ResultOf(stmt).Columns();
  if (column < 1 || column > columns.size()) throw errors::ColumnOutOfRange(column);
  const ResultColumn& c = columns[column - 1];
  if (dataType != nullptr) *dataType = c.sqlType;
  if (columnSize != nullptr) *columnSize = c.size;
  if (decimalDigits != nullptr) *decimalDigits = 0;
  if (nullable != nullptr) *nullable = c.nullable;
  return Put(stmt.diag, c.name, wide, name, bufferLength, nameLength);
}

SQLRETURN ColAttribute(Statement& stmt, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text,
                       SQLSMALLINT bufferLength, SQLSMALLINT* textLength, SQLLEN* number, bool wide) {
  const auto& columns = ResultOf(stmt).Columns();
  if (field == SQL_DESC_COUNT || field == SQL_COLUMN_COUNT) {
    if (number != nullptr) *number = static_cast<SQLLEN>(columns.size());
    return SQL_SUCCESS;
  }
  if (column < 1 || column > columns.size()) throw errors::ColumnOutOfRange(column);
  const ResultColumn& c = columns[column - 1];
  SQLLEN value = 0;
  switch (field) {
    case SQL_DESC_NAME:
    case SQL_DESC_LABEL:
    case SQL_DESC_BASE_COLUMN_NAME:
    case SQL_COLUMN_NAME:
      return Put(stmt.diag, c.name, wide, text, bufferLength, textLength, false);
    case SQL_DESC_TYPE_NAME:
    case SQL_DESC_TABLE_NAME:
    case SQL_DESC_BASE_TABLE_NAME:
    case SQL_DESC_CATALOG_NAME:
    case SQL_DESC_SCHEMA_NAME:
    case SQL_DESC_LITERAL_PREFIX:
    case SQL_DESC_LITERAL_SUFFIX:
    case SQL_DESC_LOCAL_TYPE_NAME:
      return Put(stmt.diag, L"", wide, text, bufferLength, textLength, false);
    case SQL_DESC_TYPE:
    case SQL_DESC_CONCISE_TYPE:
      value = c.sqlType;
      break;
    case SQL_DESC_LENGTH:
    case SQL_DESC_DISPLAY_SIZE:
    case SQL_DESC_PRECISION:
    case SQL_COLUMN_LENGTH:
    case SQL_COLUMN_PRECISION:
      value = static_cast<SQLLEN>(c.size);
      break;
    case SQL_DESC_OCTET_LENGTH:
      value = static_cast<SQLLEN>(c.sqlType == SQL_WVARCHAR ? c.size * 2 : c.size);
      break;
    case SQL_DESC_NULLABLE:
    case SQL_COLUMN_NULLABLE:
      value = c.nullable;
      break;
    case SQL_DESC_UNSIGNED:
      value = c.sqlType == SQL_WVARCHAR ? SQL_TRUE : SQL_FALSE;
      break;
    case SQL_DESC_SEARCHABLE:
      value = SQL_PRED_NONE;
      break;
    case SQL_DESC_UPDATABLE:
      value = SQL_ATTR_READONLY;
      break;
    case SQL_DESC_NUM_PREC_RADIX:
      value = c.sqlType == SQL_WVARCHAR ? 0 : 10;
      break;
    case SQL_DESC_SCALE:
    case SQL_COLUMN_SCALE:
    case SQL_DESC_AUTO_UNIQUE_VALUE:
    case SQL_DESC_CASE_SENSITIVE:
    case SQL_DESC_FIXED_PREC_SCALE:
    case SQL_DESC_UNNAMED:
      value = field == SQL_DESC_CASE_SENSITIVE && c.sqlType == SQL_WVARCHAR ? SQL_TRUE : 0;
      break;
    default:
      throw errors::UnknownAttribute(field);
  }
  if (number != nullptr) *number = value;
  return SQL_SUCCESS;
}

SQLRETURN GetInfoAnswer(Connection& dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT bufferLength,
                        SQLSMALLINT* length, bool wide) {
  const InfoValue answer = GetInfo(dbc, type);
  if (const auto* text = std::get_if<std::wstring>(&answer))
    return Put(dbc.diag, *text, wide, value, bufferLength, length, false);
  if (const auto* small = std::get_if<SQLUSMALLINT>(&answer)) {
    if (value != nullptr) *static_cast<SQLUSMALLINT*>(value) = *small;
    if (length != nullptr) *length = sizeof(SQLUSMALLINT);
    return SQL_SUCCESS;
  }
  if (value != nullptr) *static_cast<SQLUINTEGER*>(value) = std::get<SQLUINTEGER>(answer);
  if (length != nullptr) *length = sizeof(SQLUINTEGER);
  return SQL_SUCCESS;
}

Diagnostics* DiagnosticsOf(SQLSMALLINT handleType, SQLHANDLE handle) {
  if (!LiveHandles::Is(handle, handleType)) return nullptr;
  switch (handleType) {
    case SQL_HANDLE_ENV:
      return &static_cast<Environment*>(handle)->diag;
    case SQL_HANDLE_DBC:
      return &static_cast<Connection*>(handle)->diag;
    case SQL_HANDLE_STMT:
      return &static_cast<Statement*>(handle)->diag;
    default:
      return nullptr;
  }
}

SQLRETURN DiagRec(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT record, SQLPOINTER state, SQLINTEGER* native,
                  SQLPOINTER message, SQLSMALLINT bufferLength, SQLSMALLINT* textLength, bool wide) noexcept {
  Diagnostics* diag = DiagnosticsOf(handleType, handle);
  if (diag == nullptr) return SQL_INVALID_HANDLE;
  if (record < 1 || bufferLength < 0) return SQL_ERROR;
  if (static_cast<std::size_t>(record) > diag->records.size()) return SQL_NO_DATA;
  try {
    const DiagRecord& r = diag->records[record - 1];
    if (state != nullptr) PutString(r.state, wide, state, static_cast<SQLLEN>(wide ? 12 : 6), nullptr);
    if (native != nullptr) *native = static_cast<SQLINTEGER>(r.native);
    const std::wstring text = std::wstring(kMessagePrefix) + r.message;
    return PutString(text, wide, message, bufferLength, textLength, true) ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
  } catch (...) {
    return SQL_ERROR;
  }
}

SQLRETURN DiagField(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER info,
                    SQLSMALLINT bufferLength, SQLSMALLINT* length, bool wide) noexcept {
  Diagnostics* diag = DiagnosticsOf(handleType, handle);
  if (diag == nullptr) return SQL_INVALID_HANDLE;
  try {
    // Header fields.
    switch (field) {
      case SQL_DIAG_NUMBER:
        if (info != nullptr) *static_cast<SQLINTEGER*>(info) = static_cast<SQLINTEGER>(diag->records.size());
        return SQL_SUCCESS;
      case SQL_DIAG_RETURNCODE:
        if (info != nullptr) *static_cast<SQLRETURN*>(info) = diag->returnCode;
        return SQL_SUCCESS;
      case SQL_DIAG_ROW_COUNT:
        if (handleType != SQL_HANDLE_STMT) return SQL_ERROR;
        if (info != nullptr) *static_cast<SQLLEN*>(info) = static_cast<Statement*>(handle)->rowCount;
        return SQL_SUCCESS;
      case SQL_DIAG_CURSOR_ROW_COUNT:
      case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
        if (info != nullptr) *static_cast<SQLINTEGER*>(info) = 0;
        return SQL_SUCCESS;
      case SQL_DIAG_DYNAMIC_FUNCTION:
        return PutString(L"", wide, info, bufferLength, length, false) ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
      default:
        break;
    }
    if (record < 1) return SQL_ERROR;
    if (static_cast<std::size_t>(record) > diag->records.size()) return SQL_NO_DATA;
    const DiagRecord& r = diag->records[record - 1];
    std::wstring text;
    switch (field) {
      case SQL_DIAG_SQLSTATE:
        text = r.state;
        break;
      case SQL_DIAG_NATIVE:
        if (info != nullptr) *static_cast<SQLINTEGER*>(info) = static_cast<SQLINTEGER>(r.native);
        return SQL_SUCCESS;
      case SQL_DIAG_MESSAGE_TEXT:
        text = std::wstring(kMessagePrefix) + r.message;
        break;
      case SQL_DIAG_CLASS_ORIGIN:
      case SQL_DIAG_SUBCLASS_ORIGIN:
        text = r.state.starts_with(L"IM") ? L"ODBC 3.0" : L"ISO 9075";
        break;
      case SQL_DIAG_CONNECTION_NAME:
      case SQL_DIAG_SERVER_NAME:
        break;
      case SQL_DIAG_ROW_NUMBER:
        if (info != nullptr) *static_cast<SQLLEN*>(info) = r.row;
        return SQL_SUCCESS;
      case SQL_DIAG_COLUMN_NUMBER:
        if (info != nullptr) *static_cast<SQLINTEGER*>(info) = SQL_COLUMN_NUMBER_UNKNOWN;
        return SQL_SUCCESS;
      default:
        return SQL_ERROR;
    }
    return PutString(text, wide, info, bufferLength, length, false) ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
  } catch (...) {
    return SQL_ERROR;
  }
}

SQLRETURN SetConnectAttr(Connection& dbc, SQLINTEGER attribute, SQLPOINTER value) {
  const auto number = reinterpret_cast<SQLULEN>(value);
  switch (attribute) {
    case SQL_ATTR_AUTOCOMMIT:
      if (number != SQL_AUTOCOMMIT_ON && number != SQL_AUTOCOMMIT_OFF) throw errors::UnknownAttribute(attribute);
      if (dbc.session) dbc.session->SetAutoCommit(number == SQL_AUTOCOMMIT_ON);
      dbc.autoCommit = number == SQL_AUTOCOMMIT_ON;
      return SQL_SUCCESS;
    // A local file has no timeouts and no packets: 0 (none) and the packet size stand in for
    // any value asked, with a warning when it differs. The driver shows no dialogs either.
    case SQL_ATTR_LOGIN_TIMEOUT:
    case SQL_ATTR_CONNECTION_TIMEOUT:
    case SQL_ATTR_PACKET_SIZE:
      if (number == 0) return SQL_SUCCESS;
      dbc.diag.Add(errors::OptionValueChanged(L"a local file has no timeouts and no packets"));
      return SQL_SUCCESS_WITH_INFO;
    case SQL_ATTR_QUIET_MODE:
      return SQL_SUCCESS;
    case SQL_ATTR_TXN_ISOLATION:
      if (number != SQL_TXN_SERIALIZABLE) throw errors::FeatureNotImplemented(L"isolation other than serializable");
      return SQL_SUCCESS;
    case SQL_ATTR_ACCESS_MODE:
      if (number != SQL_MODE_READ_WRITE)
        throw errors::FeatureNotImplemented(L"read-only mode as an attribute (READONLY=1 in the connect string)");
      return SQL_SUCCESS;
    case SQL_ATTR_ASYNC_ENABLE:
      if (number != SQL_ASYNC_ENABLE_OFF) throw errors::FeatureNotImplemented(L"asynchronous execution");
      return SQL_SUCCESS;
    case SQL_ATTR_TRACE:
    case SQL_ATTR_TRACEFILE:
    case SQL_ATTR_TRANSLATE_LIB:
    case SQL_ATTR_TRANSLATE_OPTION:
    case SQL_ATTR_CURRENT_CATALOG:
      throw errors::FeatureNotImplemented(L"connection attribute " + std::to_wstring(attribute));
    default:
      throw errors::UnknownAttribute(attribute);
  }
}

SQLRETURN GetConnectAttr(Connection& dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER* length) {
  SQLUINTEGER number = 0;
  switch (attribute) {
    case SQL_ATTR_AUTOCOMMIT:
      number = dbc.autoCommit ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
      break;
    case SQL_ATTR_CONNECTION_DEAD:
      number = dbc.session ? SQL_CD_FALSE : SQL_CD_TRUE;
      break;
    case SQL_ATTR_TXN_ISOLATION:
      number = SQL_TXN_SERIALIZABLE;
      break;
    case SQL_ATTR_ACCESS_MODE:
      number = SQL_MODE_READ_WRITE;
      break;
    case SQL_ATTR_ASYNC_ENABLE:
    case SQL_ATTR_LOGIN_TIMEOUT:
    case SQL_ATTR_CONNECTION_TIMEOUT:
      number = 0;
      break;
    default:
      throw errors::UnknownAttribute(attribute);
  }
  if (value != nullptr) *static_cast<SQLUINTEGER*>(value) = number;
  if (length != nullptr) *length = sizeof(SQLUINTEGER);
  return SQL_SUCCESS;
}

SQLRETURN SetStmtAttr(Statement& stmt, SQLINTEGER attribute, SQLPOINTER value) {
  const auto number = reinterpret_cast<SQLULEN>(value);
  switch (attribute) {
    case SQL_ATTR_PARAMSET_SIZE:
      if (number == 0) throw errors::UnknownAttribute(attribute);
      stmt.paramsetSize = number;
      return SQL_SUCCESS;
    case SQL_ATTR_PARAM_BIND_TYPE:
      stmt.paramBindType = number;
      return SQL_SUCCESS;
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR:
      stmt.paramBindOffset = static_cast<SQLULEN*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_PARAMS_PROCESSED_PTR:
      stmt.paramsProcessed = static_cast<SQLULEN*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_PARAM_STATUS_PTR:
      stmt.paramStatus = static_cast<SQLUSMALLINT*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_PARAM_OPERATION_PTR:
      stmt.paramOperation = static_cast<SQLUSMALLINT*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_QUERY_TIMEOUT:
      if (number == 0) return SQL_SUCCESS;
      stmt.diag.Add(errors::OptionValueChanged(L"statements run without a timeout"));
      return SQL_SUCCESS_WITH_INFO;
    case SQL_ATTR_MAX_ROWS:
      stmt.maxRows = number;
      return SQL_SUCCESS;
    case SQL_ATTR_MAX_LENGTH:
      stmt.maxLength = number;
      return SQL_SUCCESS;
    case SQL_ATTR_NOSCAN:
      stmt.noScan = number;
      return SQL_SUCCESS;
    case SQL_ATTR_METADATA_ID:
      stmt.metadataId = number;
      return SQL_SUCCESS;
    case SQL_ATTR_ROW_ARRAY_SIZE:
    case SQL_ROWSET_SIZE:
      if (number != 1) throw errors::FeatureNotImplemented(L"fetching more than one row at a time");
      return SQL_SUCCESS;
    case SQL_ATTR_CURSOR_TYPE:
      if (number != SQL_CURSOR_FORWARD_ONLY) throw errors::OnlyForwardOnly();
      return SQL_SUCCESS;
    case SQL_ATTR_CONCURRENCY:
      if (number != SQL_CONCUR_READ_ONLY) throw errors::OnlyForwardOnly();
      return SQL_SUCCESS;
    case SQL_ATTR_RETRIEVE_DATA:
    case SQL_ATTR_ASYNC_ENABLE:
    case SQL_ATTR_USE_BOOKMARKS:
    case SQL_ATTR_CURSOR_SCROLLABLE:
    case SQL_ATTR_CURSOR_SENSITIVITY:
    case SQL_ATTR_SIMULATE_CURSOR:
      if (number != 0 && !(attribute == SQL_ATTR_RETRIEVE_DATA && number == SQL_RD_ON))
        throw errors::FeatureNotImplemented(L"statement attribute " + std::to_wstring(attribute));
      return SQL_SUCCESS;
    default:
      throw errors::UnknownAttribute(attribute);
  }
}

SQLRETURN GetStmtAttr(Statement& stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER* length) {
  auto put = [&](auto number) -> SQLRETURN {
    if (value != nullptr) std::memcpy(value, &number, sizeof number);
    if (length != nullptr) *length = sizeof number;
    return SQL_SUCCESS;
  };
  switch (attribute) {
    case SQL_ATTR_APP_ROW_DESC:
    case SQL_ATTR_APP_PARAM_DESC:
    case SQL_ATTR_IMP_ROW_DESC:
    case SQL_ATTR_IMP_PARAM_DESC:
      return put(static_cast<SQLPOINTER>(&stmt.descriptors[attribute - SQL_ATTR_APP_ROW_DESC]));
    case SQL_ATTR_PARAMSET_SIZE:
      return put(stmt.paramsetSize);
    case SQL_ATTR_PARAM_BIND_TYPE:
      return put(stmt.paramBindType);
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR:
      return put(static_cast<SQLPOINTER>(stmt.paramBindOffset));
    case SQL_ATTR_PARAMS_PROCESSED_PTR:
      return put(static_cast<SQLPOINTER>(stmt.paramsProcessed));
    case SQL_ATTR_PARAM_STATUS_PTR:
      return put(static_cast<SQLPOINTER>(stmt.paramStatus));
    case SQL_ATTR_PARAM_OPERATION_PTR:
      return put(static_cast<SQLPOINTER>(stmt.paramOperation));
    case SQL_ATTR_QUERY_TIMEOUT:
      return put(static_cast<SQLULEN>(0));
    case SQL_ATTR_MAX_ROWS:
      return put(stmt.maxRows);
    case SQL_ATTR_MAX_LENGTH:
      return put(stmt.maxLength);
    case SQL_ATTR_NOSCAN:
      return put(stmt.noScan);
    case SQL_ATTR_METADATA_ID:
      return put(stmt.metadataId);
    case SQL_ATTR_ROW_ARRAY_SIZE:
    case SQL_ROWSET_SIZE:
      return put(static_cast<SQLULEN>(1));
    case SQL_ATTR_CURSOR_TYPE:
      return put(static_cast<SQLULEN>(SQL_CURSOR_FORWARD_ONLY));
    case SQL_ATTR_CONCURRENCY:
      return put(static_cast<SQLULEN>(SQL_CONCUR_READ_ONLY));
    case SQL_ATTR_CURSOR_SCROLLABLE:
      return put(static_cast<SQLULEN>(SQL_NONSCROLLABLE));
    case SQL_ATTR_CURSOR_SENSITIVITY:
      return put(static_cast<SQLULEN>(SQL_INSENSITIVE));
    case SQL_ATTR_RETRIEVE_DATA:
      return put(static_cast<SQLULEN>(SQL_RD_ON));
    case SQL_ATTR_ASYNC_ENABLE:
    case SQL_ATTR_USE_BOOKMARKS:
      return put(static_cast<SQLULEN>(0));
    default:
      throw errors::UnknownAttribute(attribute);
  }
}

SQLRETURN EndTran(Connection& dbc, SQLSMALLINT completion) {
  if (completion != SQL_COMMIT && completion != SQL_ROLLBACK) throw errors::BadCompletionType();
  if (!dbc.session) return SQL_SUCCESS;
  if (completion == SQL_COMMIT)
    dbc.session->Commit();
  else
    dbc.session->Rollback();
  return SQL_SUCCESS;
}

void FreeStatement(Statement* stmt) {
  Connection& dbc = stmt->dbc;
  std::lock_guard lock(dbc.mutex);
  std::erase(dbc.statements, stmt);
  LiveHandles::Remove(stmt);
  delete stmt;
}

}  // namespace

// --- Handles ---

QUILLON_EXPORT SQLRETURN SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  if (output == nullptr) return SQL_ERROR;
  try {
    switch (type) {
      case SQL_HANDLE_ENV: {
        auto env = std::make_unique<Environment>();
        LiveHandles::Add(env.get(), type);
        *output = env.release();
        return SQL_SUCCESS;
      }
      case SQL_HANDLE_DBC: {
        if (!LiveHandles::Is(input, SQL_HANDLE_ENV)) return SQL_INVALID_HANDLE;
        auto& env = *static_cast<Environment*>(input);
        auto dbc = std::make_unique<Connection>(env);
        std::lock_guard lock(env.mutex);
        env.connections.push_back(dbc.get());
        LiveHandles::Add(dbc.get(), type);
        *output = dbc.release();
        return SQL_SUCCESS;
      }
      case SQL_HANDLE_STMT: {
        if (!LiveHandles::Is(input, SQL_HANDLE_DBC)) return SQL_INVALID_HANDLE;
        auto& dbc = *static_cast<Connection*>(input);
        std::lock_guard lock(dbc.mutex);
        auto stmt = std::make_unique<Statement>(dbc);
        dbc.statements.push_back(stmt.get());
        LiveHandles::Add(stmt.get(), type);
        *output = stmt.release();
        return SQL_SUCCESS;
      }
      default:
        *output = SQL_NULL_HANDLE;
        return SQL_ERROR;
    }
  } catch (...) {
    *output = SQL_NULL_HANDLE;
    return SQL_ERROR;
  }
}

QUILLON_EXPORT SQLRETURN SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  if (!LiveHandles::Is(handle, type)) return SQL_INVALID_HANDLE;
  switch (type) {
    case SQL_HANDLE_ENV: {
      auto* env = static_cast<Environment*>(handle);
      if (!env->connections.empty()) return SQL_ERROR;
      LiveHandles::Remove(env);
      delete env;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_DBC: {
      auto* dbc = static_cast<Connection*>(handle);
      if (dbc->session) return SQL_ERROR;
      {
        std::lock_guard lock(dbc->env.mutex);
        std::erase(dbc->env.connections, dbc);
      }
      while (!dbc->statements.empty()) FreeStatement(dbc->statements.back());
      LiveHandles::Remove(dbc);
      delete dbc;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_STMT:
      FreeStatement(static_cast<Statement*>(handle));
      return SQL_SUCCESS;
    default:
      return SQL_ERROR;
  }
}

QUILLON_EXPORT SQLRETURN SQLFreeStmt(SQLHSTMT handle, SQLUSMALLINT option) {
  if (option == SQL_DROP) return SQLFreeHandle(SQL_HANDLE_STMT, handle);
  return OnStmt(handle, [&](Statement& stmt) -> SQLRETURN {
    switch (option) {
      case SQL_CLOSE:
        stmt.result.reset();
        return SQL_SUCCESS;
      case SQL_UNBIND:
        if (stmt.result) stmt.result->Unbind();
        return SQL_SUCCESS;
      case SQL_RESET_PARAMS:
        stmt.parameters.clear();
        return SQL_SUCCESS;
      default:
        throw errors::UnknownAttribute(option);
    }
  });
}

QUILLON_EXPORT SQLRETURN SQLSetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  return OnEnv(handle, [&](Environment& env) -> SQLRETURN {
    const auto number = static_cast<SQLINTEGER>(reinterpret_cast<SQLLEN>(value));
    switch (attribute) {
      case SQL_ATTR_ODBC_VERSION:
        env.odbcVersion = number;
        return SQL_SUCCESS;
      case SQL_ATTR_OUTPUT_NTS:
        if (number != SQL_TRUE) throw errors::FeatureNotImplemented(L"strings without a closing NUL");
        return SQL_SUCCESS;
      case SQL_ATTR_CONNECTION_POOLING:
      case SQL_ATTR_CP_MATCH:
        return SQL_SUCCESS;  // pooling is the driver manager's
      default:
        throw errors::UnknownAttribute(attribute);
    }
  });
}

QUILLON_EXPORT SQLRETURN SQLGetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER,
                                       SQLINTEGER* length) {
  return OnEnv(handle, [&](Environment& env) -> SQLRETURN {
    SQLINTEGER number = 0;
    switch (attribute) {
      case SQL_ATTR_ODBC_VERSION:
        number = env.odbcVersion;
        break;
      case SQL_ATTR_OUTPUT_NTS:
        number = SQL_TRUE;
        break;
      case SQL_ATTR_CONNECTION_POOLING:
      case SQL_ATTR_CP_MATCH:
        number = 0;
        break;
      default:
        throw errors::UnknownAttribute(attribute);
    }
    if (value != nullptr) *static_cast<SQLINTEGER*>(value) = number;
    if (length != nullptr) *length = sizeof number;
    return SQL_SUCCESS;
  });
}

// --- Connections ---

// The data source's name goes in braces, a '}' in it doubled, so that it cannot add entries (a
// DBQ) of its own to the connect string.
QUILLON_EXPORT SQLRETURN SQLConnect(SQLHDBC handle, SQLCHAR* dsn, SQLSMALLINT dsnLength, SQLCHAR*, SQLSMALLINT,
                                    SQLCHAR*, SQLSMALLINT) {
  return OnDbc(handle, [&](Connection& dbc) {
    return Connect(dbc, Entry(kDsnKey, dsn == nullptr ? L"" : FromUtf8(dsn, dsnLength, kDataSourceName)));
  });
}

QUILLON_EXPORT SQLRETURN SQLConnectW(SQLHDBC handle, SQLWCHAR* dsn, SQLSMALLINT dsnLength, SQLWCHAR*, SQLSMALLINT,
                                     SQLWCHAR*, SQLSMALLINT) {
  return OnDbc(handle, [&](Connection& dbc) {
    return Connect(dbc, Entry(kDsnKey, dsn == nullptr ? L"" : FromUtf16(dsn, dsnLength, kDataSourceName)));
  });
}

QUILLON_EXPORT SQLRETURN SQLDriverConnect(SQLHDBC handle, SQLHWND, SQLCHAR* in, SQLSMALLINT inLength, SQLCHAR* out,
                                          SQLSMALLINT outLength, SQLSMALLINT* outWritten, SQLUSMALLINT) {
  return OnDbc(handle, [&](Connection& dbc) {
    // Checked before connecting: a connection made and then refused would stay open.
    if (outLength < 0) throw errors::BadBufferLength();
    const std::wstring connect = ConnectStringFromUtf8(in, inLength);
    Connect(dbc, connect);
    return Put(dbc.diag, connect, false, out, outLength, outWritten);
  });
}

QUILLON_EXPORT SQLRETURN SQLDriverConnectW(SQLHDBC handle, SQLHWND, SQLWCHAR* in, SQLSMALLINT inLength, SQLWCHAR* out,
                                           SQLSMALLINT outLength, SQLSMALLINT* outWritten, SQLUSMALLINT) {
  return OnDbc(handle, [&](Connection& dbc) {
    // Checked before connecting: a connection made and then refused would stay open.
    if (outLength < 0) throw errors::BadBufferLength();
    const std::wstring connect = FromUtf16(in, inLength, kConnectString);
    Connect(dbc, connect);
    return Put(dbc.diag, connect, true, out, outLength, outWritten);
  });
}

// A connection with changes neither committed nor rolled back stays open (25000): the
// application ends the transaction first.
QUILLON_EXPORT SQLRETURN SQLDisconnect(SQLHDBC handle) {
  return OnDbc(handle, [&](Connection& dbc) {
    if (!dbc.session) return SQL_SUCCESS;
    if (dbc.session->InTransaction()) throw errors::TransactionOpen();
    for (Statement* stmt : dbc.statements) stmt->result.reset();
    dbc.session->Close();
    dbc.session.reset();
    return SQL_SUCCESS;
  });
}

QUILLON_EXPORT SQLRETURN SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
  if (type == SQL_HANDLE_DBC) return OnDbc(handle, [&](Connection& dbc) { return EndTran(dbc, completion); });
  if (type != SQL_HANDLE_ENV) return SQL_ERROR;
  return OnEnv(handle, [&](Environment& env) {
    SQLRETURN result = SQL_SUCCESS;
    for (Connection* dbc : env.connections) {
      if (OnDbc(dbc, [&](Connection& c) { return EndTran(c, completion); }) == SQL_ERROR) result = SQL_ERROR;
    }
    if (result == SQL_ERROR) env.diag.Add(errors::NoDiagnostic());
    return result;
  });
}

QUILLON_EXPORT SQLRETURN SQLSetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  return OnDbc(handle, [&](Connection& dbc) { return SetConnectAttr(dbc, attribute, value); });
}

QUILLON_EXPORT SQLRETURN SQLSetConnectAttrW(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  return OnDbc(handle, [&](Connection& dbc) { return SetConnectAttr(dbc, attribute, value); });
}

QUILLON_EXPORT SQLRETURN SQLGetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER,
                                           SQLINTEGER* length) {
  return OnDbc(handle, [&](Connection& dbc) { return GetConnectAttr(dbc, attribute, value, length); });
}

QUILLON_EXPORT SQLRETURN SQLGetConnectAttrW(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER,
                                            SQLINTEGER* length) {
  return OnDbc(handle, [&](Connection& dbc) { return GetConnectAttr(dbc, attribute, value, length); });
}

QUILLON_EXPORT SQLRETURN SQLGetInfo(SQLHDBC handle, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT bufferLength,
                                    SQLSMALLINT* length) {
  return OnDbc(handle, [&](Connection& dbc) { return GetInfoAnswer(dbc, type, value, bufferLength, length, false); });
}

QUILLON_EXPORT SQLRETURN SQLGetInfoW(SQLHDBC handle, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT bufferLength,
                                     SQLSMALLINT* length) {
  return OnDbc(handle, [&](Connection& dbc) { return GetInfoAnswer(dbc, type, value, bufferLength, length, true); });
}

QUILLON_EXPORT SQLRETURN SQLGetFunctions(SQLHDBC handle, SQLUSMALLINT id, SQLUSMALLINT* supported) {
  return OnDbc(handle, [&](Connection&) -> SQLRETURN {
    if (supported == nullptr) throw errors::NullArgument();
    std::size_t count = 0;
    const SQLUSMALLINT* implemented = ImplementedFunctions(count);
    if (id == SQL_API_ODBC3_ALL_FUNCTIONS) {
      std::fill(supported, supported + SQL_API_ODBC3_ALL_FUNCTIONS_SIZE, 0);
      for (std::size_t i = 0; i < count; ++i)
        supported[implemented[i] >> 4] |= static_cast<SQLUSMALLINT>(1 << (implemented[i] & 0xF));
    } else if (id == SQL_API_ALL_FUNCTIONS) {
      std::fill(supported, supported + 100, 0);
      for (std::size_t i = 0; i < count; ++i) {
        if (implemented[i] < 100) supported[implemented[i]] = SQL_TRUE;
      }
    } else {
      *supported = Implements(id) ? SQL_TRUE : SQL_FALSE;
    }
    return SQL_SUCCESS;
  });
}

// --- Statements ---

QUILLON_EXPORT SQLRETURN SQLExecDirect(SQLHSTMT handle, SQLCHAR* text, SQLINTEGER length) {
  return OnStmt(handle, [&](Statement& stmt) { return ExecDirect(stmt, FromUtf8(text, length, kStatementText)); });
}

QUILLON_EXPORT SQLRETURN SQLExecDirectW(SQLHSTMT handle, SQLWCHAR* text, SQLINTEGER length) {
  return OnStmt(handle, [&](Statement& stmt) { return ExecDirect(stmt, FromUtf16(text, length, kStatementText)); });
}

QUILLON_EXPORT SQLRETURN SQLPrepare(SQLHSTMT handle, SQLCHAR* text, SQLINTEGER length) {
  return OnStmt(handle, [&](Statement& stmt) {
    Prepare(stmt, FromUtf8(text, length, kStatementText));
    return SQL_SUCCESS;
  });
}

QUILLON_EXPORT SQLRETURN SQLPrepareW(SQLHSTMT handle, SQLWCHAR* text, SQLINTEGER length) {
  return OnStmt(handle, [&](Statement& stmt) {
    Prepare(stmt, FromUtf16(text, length, kStatementText));
    return SQL_SUCCESS;
  });
}

QUILLON_EXPORT SQLRETURN SQLExecute(SQLHSTMT handle) { return OnStmt(handle, Execute); }

QUILLON_EXPORT SQLRETURN SQLParamData(SQLHSTMT handle, SQLPOINTER* token) {
  return OnStmt(handle, [&](Statement& stmt) { return ParamData(stmt, token); });
}

QUILLON_EXPORT SQLRETURN SQLPutData(SQLHSTMT handle, SQLPOINTER data, SQLLEN length) {
  return OnStmt(handle, [&](Statement& stmt) { return PutData(stmt, data, length); });
}

QUILLON_EXPORT SQLRETURN SQLBindParameter(SQLHSTMT handle, SQLUSMALLINT number, SQLSMALLINT ioType, SQLSMALLINT cType,
                                          SQLSMALLINT sqlType, SQLULEN columnSize, SQLSMALLINT decimalDigits,
                                          SQLPOINTER value, SQLLEN bufferLength, SQLLEN* indicator) {
  return OnStmt(handle, [&](Statement& stmt) -> SQLRETURN {
    if (number < 1) throw errors::ParameterNumberOutOfRange(number, stmt.markers);
    if (ioType != SQL_PARAM_INPUT) throw errors::FeatureNotImplemented(L"output parameters");
    if (bufferLength < 0) throw errors::BadBufferLength();
    if (stmt.parameters.size() < number) stmt.parameters.resize(number);
    stmt.parameters[number - 1] = {true,          ioType, cType,        sqlType,  columnSize,
                                   decimalDigits, value,  bufferLength, indicator};
    return SQL_SUCCESS;
  });
}

QUILLON_EXPORT SQLRETURN SQLNumParams(SQLHSTMT handle, SQLSMALLINT* count) {
  return OnStmt(handle, [&](Statement& stmt) -> SQLRETURN {
    if (!stmt.prepared) throw errors::OutOfSequence(L"no statement is prepared");
    if (count != nullptr) *count = static_cast<SQLSMALLINT>(stmt.markers);
    return SQL_SUCCESS;
  });
}

// The column a marker of "INSERT INTO t VALUES(?, ...)" fills, when the table was created on
// this connection; text of up to 255 characters otherwise.
QUILLON_EXPORT SQLRETURN SQLDescribeParam(SQLHSTMT handle, SQLUSMALLINT number, SQLSMALLINT* sqlType, SQLULEN* size,
                                          SQLSMALLINT* decimalDigits, SQLSMALLINT* nullable) {
  return OnStmt(handle, [&](Statement& stmt) -> SQLRETURN {
    if (!stmt.prepared) throw errors::OutOfSequence(L"no statement is prepared");
    if (number < 1 || number > stmt.markers) throw errors::ParameterNumberOutOfRange(number, stmt.markers);
    SQLSMALLINT type = SQL_WVARCHAR;
    SQLULEN columnSize = drivers::sql::kTextColumnLength;
    if (const auto table = InsertOfMarkersOnly(stmt.text, stmt.markers); table && stmt.dbc.session) {
      std::wstring name(*table);
      drivers::sql::Statement parsed;
      // The table as the drivers read it: parse the statement with NULL for each marker.
      try {
        std::vector<odbc::Literal> nulls(stmt.markers);
        parsed = drivers::sql::Parse(FillMarkers(stmt.text, FindMarkers(stmt.text), nulls));
        name = std::get<drivers::sql::Insert>(parsed).table;
      } catch (const odbc::CDBException&) {
      }
      const auto* columns = stmt.dbc.session->Columns(name);
      if (columns != nullptr && columns->size() == stmt.markers) {
        const auto& column = (*columns)[number - 1];
        DescribeColumnType(static_cast<int>(column.type), column.length, type, columnSize);
      }
    }
    if (sqlType != nullptr) *sqlType = type;
    if (size != nullptr) *size = columnSize;
    if (decimalDigits != nullptr) *decimalDigits = 0;
    if (nullable != nullptr) *nullable = SQL_NULLABLE;
    return SQL_SUCCESS;
  });
}

QUILLON_EXPORT SQLRETURN SQLRowCount(SQLHSTMT handle, SQLLEN* count) {
  return OnStmt(handle, [&](Statement& stmt) -> SQLRETURN {
    if (count != nullptr) *count = stmt.rowCount;
    return SQL_SUCCESS;
  });
}

QUILLON_EXPORT SQLRETURN SQLNumResultCols(SQLHSTMT handle, SQLSMALLINT* count) {
  return OnStmt(handle, [&](Statement& stmt) -> SQLRETURN {
    if (count != nullptr) *count = stmt.result ? static_cast<SQLSMALLINT>(stmt.result->Columns().size()) : 0;
    return SQL_SUCCESS;
  });
}

QUILLON_EXPORT SQLRETURN SQLMoreResults(SQLHSTMT handle) {
  return OnStmt(handle, [&](Statement& stmt) -> SQLRETURN {
    stmt.result.reset();
    return SQL_NO_DATA;
  });
}

QUILLON_EXPORT SQLRETURN SQLCancel(SQLHSTMT handle) {
  // Statements run to their end within the call; there is nothing running to cancel.
  // A statement waiting for data at execution is ended.
  return OnStmt(handle, [&](Statement& stmt) {
    stmt.needData.clear();
    return SQL_SUCCESS;
  });
}

QUILLON_EXPORT SQLRETURN SQLCloseCursor(SQLHSTMT handle) {
  return OnStmt(handle, [&](Statement& stmt) -> SQLRETURN {
    if (!stmt.result) throw errors::RecordsetNotOpen();
    stmt.result.reset();
    return SQL_SUCCESS;
  });
}

QUILLON_EXPORT SQLRETURN SQLSetStmtAttr(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  return OnStmt(handle, [&](Statement& stmt) { return SetStmtAttr(stmt, attribute, value); });
}

QUILLON_EXPORT SQLRETURN SQLSetStmtAttrW(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  return OnStmt(handle, [&](Statement& stmt) { return SetStmtAttr(stmt, attribute, value); });
}

QUILLON_EXPORT SQLRETURN SQLGetStmtAttr(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER,
                                        SQLINTEGER* length) {
  return OnStmt(handle, [&](Statement& stmt) { return GetStmtAttr(stmt, attribute, value, length); });
}

QUILLON_EXPORT SQLRETURN SQLGetStmtAttrW(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER,
                                         SQLINTEGER* length) {
  return OnStmt(handle, [&](Statement& stmt) { return GetStmtAttr(stmt, attribute, value, length); });
}

// --- Result sets ---

QUILLON_EXPORT SQLRETURN SQLGetTypeInfo(SQLHSTMT handle, SQLSMALLINT dataType) {
  return OnStmt(handle, [&](Statement& stmt) -> SQLRETURN {
    stmt.result.emplace(TypeInfo(dataType));
    stmt.rowCount = -1;
    return SQL_SUCCESS;
  });
}

QUILLON_EXPORT SQLRETURN SQLGetTypeInfoW(SQLHSTMT handle, SQLSMALLINT dataType) {
  return SQLGetTypeInfo(handle, dataType);
}

// --- Catalog functions ---

namespace {

template <typename Char, typename Convert>
CatalogArgument Argument(Char* text, SQLSMALLINT length, Convert convert) {
  if (text == nullptr) return std::nullopt;
  return convert(text, length, kCatalogArgument);
}

// Replaces the statement's result set with the catalog's answer.
template <typename Make>
SQLRETURN CatalogResult(Statement& stmt, Make&& make) {
  stmt.result.reset();
  stmt.result.emplace(make(SessionOf(stmt.dbc), stmt.metadataId == SQL_TRUE));
  stmt.rowCount = -1;
  return SQL_SUCCESS;
}

}  // namespace

QUILLON_EXPORT SQLRETURN SQLTables(SQLHSTMT handle, SQLCHAR* catalog, SQLSMALLINT catalogLength, SQLCHAR* schema,
                                   SQLSMALLINT schemaLength, SQLCHAR* table, SQLSMALLINT tableLength, SQLCHAR* types,
                                   SQLSMALLINT typesLength) {
  return OnStmt(handle, [&](Statement& stmt) {
    return CatalogResult(stmt, [&](Session& session, bool metadataId) {
      return Tables(session, Argument(catalog, catalogLength, FromUtf8), Argument(schema, schemaLength, FromUtf8),
                    Argument(table, tableLength, FromUtf8), Argument(types, typesLength, FromUtf8), metadataId);
    });
  });
}

QUILLON_EXPORT SQLRETURN SQLTablesW(SQLHSTMT handle, SQLWCHAR* catalog, SQLSMALLINT catalogLength, SQLWCHAR* schema,
                                    SQLSMALLINT schemaLength, SQLWCHAR* table, SQLSMALLINT tableLength, SQLWCHAR* types,
                                    SQLSMALLINT typesLength) {
  return OnStmt(handle, [&](Statement& stmt) {
    return CatalogResult(stmt, [&](Session& session, bool metadataId) {
      return Tables(session, Argument(catalog, catalogLength, FromUtf16), Argument(schema, schemaLength, FromUtf16),
                    Argument(table, tableLength, FromUtf16), Argument(types, typesLength, FromUtf16), metadataId);
    });
  });
}

QUILLON_EXPORT SQLRETURN SQLColumns(SQLHSTMT handle, SQLCHAR* catalog, SQLSMALLINT catalogLength, SQLCHAR* schema,
                                    SQLSMALLINT schemaLength, SQLCHAR* table, SQLSMALLINT tableLength, SQLCHAR* column,
                                    SQLSMALLINT columnLength) {
  return OnStmt(handle, [&](Statement& stmt) {
    return CatalogResult(stmt, [&](Session& session, bool metadataId) {
      return Columns(session, Argument(catalog, catalogLength, FromUtf8), Argument(schema, schemaLength, FromUtf8),
                     Argument(table, tableLength, FromUtf8), Argument(column, columnLength, FromUtf8), metadataId);
    });
  });
}

QUILLON_EXPORT SQLRETURN SQLColumnsW(SQLHSTMT handle, SQLWCHAR* catalog, SQLSMALLINT catalogLength, SQLWCHAR* schema,
                                     SQLSMALLINT schemaLength, SQLWCHAR* table, SQLSMALLINT tableLength,
                                     SQLWCHAR* column, SQLSMALLINT columnLength) {
  return OnStmt(handle, [&](Statement& stmt) {
    return CatalogResult(stmt, [&](Session& session, bool metadataId) {
      return Columns(session, Argument(catalog, catalogLength, FromUtf16), Argument(schema, schemaLength, FromUtf16),
                     Argument(table, tableLength, FromUtf16), Argument(column, columnLength, FromUtf16), metadataId);
    });
  });
}

QUILLON_EXPORT SQLRETURN SQLFetch(SQLHSTMT handle) {
  return OnStmt(handle, [&](Statement& stmt) -> SQLRETURN {
    const SQLRETURN result = ResultOf(stmt).Fetch();
    if (result == SQL_SUCCESS_WITH_INFO) stmt.diag.Add(errors::DataTruncated());
    return result;
  });
}

QUILLON_EXPORT SQLRETURN SQLGetData(SQLHSTMT handle, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target,
                                    SQLLEN bufferLength, SQLLEN* indicator) {
  return OnStmt(handle, [&](Statement& stmt) -> SQLRETURN {
    bool truncated = false;
    const SQLRETURN result = ResultOf(stmt).GetData(column, cType, target, bufferLength, indicator, truncated);
    if (truncated) stmt.diag.Add(errors::DataTruncated());
    return result;
  });
}

QUILLON_EXPORT SQLRETURN SQLBindCol(SQLHSTMT handle, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target,
                                    SQLLEN bufferLength, SQLLEN* indicator) {
  return OnStmt(handle, [&](Statement& stmt) -> SQLRETURN {
    ResultOf(stmt).Bind(column, {cType, target, bufferLength, indicator});
    return SQL_SUCCESS;
  });
}

QUILLON_EXPORT SQLRETURN SQLDescribeCol(SQLHSTMT handle, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT bufferLength,
                                        SQLSMALLINT* nameLength, SQLSMALLINT* dataType, SQLULEN* columnSize,
                                        SQLSMALLINT* decimalDigits, SQLSMALLINT* nullable) {
  return OnStmt(handle, [&](Statement& stmt) {
    return DescribeCol(stmt, column, name, bufferLength, nameLength, dataType, columnSize, decimalDigits, nullable,
                       false);
  });
}

QUILLON_EXPORT SQLRETURN SQLDescribeColW(SQLHSTMT handle, SQLUSMALLINT column, SQLWCHAR* name, SQLSMALLINT bufferLength,
                                         SQLSMALLINT* nameLength, SQLSMALLINT* dataType, SQLULEN* columnSize,
                                         SQLSMALLINT* decimalDigits, SQLSMALLINT* nullable) {
  return OnStmt(handle, [&](Statement& stmt) {
    return DescribeCol(stmt, column, name, bufferLength, nameLength, dataType, columnSize, decimalDigits, nullable,
                       true);
  });
}

QUILLON_EXPORT SQLRETURN SQLColAttribute(SQLHSTMT handle, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text,
                                         SQLSMALLINT bufferLength, SQLSMALLINT* textLength, SQLLEN* number) {
  return OnStmt(handle, [&](Statement& stmt) {
    return ColAttribute(stmt, column, field, text, bufferLength, textLength, number, false);
  });
}

QUILLON_EXPORT SQLRETURN SQLColAttributeW(SQLHSTMT handle, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text,
                                          SQLSMALLINT bufferLength, SQLSMALLINT* textLength, SQLLEN* number) {
  return OnStmt(handle, [&](Statement& stmt) {
    return ColAttribute(stmt, column, field, text, bufferLength, textLength, number, true);
  });
}

// --- Diagnostics ---

QUILLON_EXPORT SQLRETURN SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLCHAR* state,
                                       SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT bufferLength,
                                       SQLSMALLINT* textLength) {
  return DiagRec(type, handle, record, state, native, message, bufferLength, textLength, false);
}

QUILLON_EXPORT SQLRETURN SQLGetDiagRecW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLWCHAR* state,
                                        SQLINTEGER* native, SQLWCHAR* message, SQLSMALLINT bufferLength,
                                        SQLSMALLINT* textLength) {
  return DiagRec(type, handle, record, state, native, message, bufferLength, textLength, true);
}

QUILLON_EXPORT SQLRETURN SQLGetDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLSMALLINT field,
                                         SQLPOINTER info, SQLSMALLINT bufferLength, SQLSMALLINT* length) {
  return DiagField(type, handle, record, field, info, bufferLength, length, false);
}

QUILLON_EXPORT SQLRETURN SQLGetDiagFieldW(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLSMALLINT field,
                                          SQLPOINTER info, SQLSMALLINT bufferLength, SQLSMALLINT* length) {
  return DiagField(type, handle, record, field, info, bufferLength, length, true);
}
