#include "platform/errors/Errors.h"

#include <cstring>
#include <utility>

#include "platform/text/WideText.h"
#include "platform/ui/Prompts.h"

namespace quillon::odbc {

CDBException::CDBException(std::wstring message, std::wstring sqlState, long nativeError)
    : m_strSqlState(std::move(sqlState)), m_strMessage(std::move(message)), m_nNativeError(nativeError) {
  m_strError = m_strMessage;
  if (!m_strSqlState.empty()) m_strError += L" (SQLSTATE " + m_strSqlState + L")";
  m_strStateNativeOrigin = L"State:" + m_strSqlState + L",Native:" + std::to_wstring(m_nNativeError);
  m_what = text::WideToUtf8(m_strError);
}

int CDBException::ReportError(unsigned type, unsigned) const { return ui::Prompts().MessageBox(m_strError, type); }

namespace errors {
namespace {

// Values of a statement are shown up to this many characters.
constexpr std::size_t kQuotedValueChars = 40;

std::wstring Quoted(std::wstring_view name) { return L"'" + std::wstring(name) + L"'"; }

// "<problem> in column 'c' (TYPE): 'value' <detail>.", the value cut at kQuotedValueChars.
std::wstring ValueMessage(std::wstring_view problem, std::wstring_view column, std::wstring_view type,
                          std::wstring_view value, std::wstring_view detail) {
  std::wstring shown(value.substr(0, kQuotedValueChars));
  if (value.size() > kQuotedValueChars) shown += L"...";
  return std::wstring(problem) + L" in column " + Quoted(column) + L" (" + std::wstring(type) + L"): " + Quoted(shown) +
         L" " + std::wstring(detail) + L".";
}

}  // namespace

CDBException TableExists(std::wstring_view table) {
  return CDBException(L"Table " + Quoted(table) + L" already exists.", state::kTableExists);
}

CDBException FileHoldsTable(std::wstring_view path) {
  return CDBException(
      L"The file " + Quoted(path) + L" already exists and holds its one table; replace it to write another.",
      state::kTableExists);
}

CDBException NoSuchTable(std::wstring_view table) {
  return CDBException(L"Table " + Quoted(table) + L" does not exist.", state::kNoSuchTable);
}

CDBException TableFromBefore(std::wstring_view table) {
  return CDBException(
      L"Table " + Quoted(table) + L" was in the file before; rows go only into tables created on this connection.",
      state::kGeneral);
}

CDBException ColumnRepeated(std::wstring_view table, std::wstring_view column) {
  return CDBException(L"Field " + Quoted(column) + L" already exists in table " + Quoted(table) + L".",
                      state::kColumnExists);
}

CDBException TooManyColumns(std::wstring_view table, std::size_t columns, std::size_t most) {
  return CDBException(L"Too many fields defined: a table holds at most " + std::to_wstring(most) + L" columns, table " +
                          Quoted(table) + L" has " + std::to_wstring(columns) + L".",
                      state::kTooManyColumns);
}

CDBException ColumnNameTooLong(std::wstring_view table) {
  return CDBException(L"A column name of table " + Quoted(table) + L" is longer than a cell holds.", state::kSyntax);
}

CDBException SyntaxError(std::wstring_view what, std::size_t pos, std::wstring_view problem, std::wstring_view found,
                         bool foundMore) {
  std::wstring message = L"Syntax error";
  if (!what.empty()) message += L" in " + std::wstring(what) + L" statement";
  message += L" at character " + std::to_wstring(pos + 1) + L": " + std::wstring(problem);
  if (!found.empty()) {
    message += L" (found '" + std::wstring(found) + (foundMore ? L"...'" : L"'") + L")";
  } else {
    message += L" (found the end of the statement)";
  }
  message += L".";
  return CDBException(std::move(message), state::kSyntax);
}

CDBException ValueCountMismatch(std::wstring_view table, std::size_t columns, std::size_t values) {
  return CDBException(L"Number of query values and destination fields are not the same: table " + Quoted(table) +
                          L" has " + std::to_wstring(columns) + L" columns, the statement gives " +
                          std::to_wstring(values) + L" values.",
                      state::kCountMismatch);
}

CDBException TableFull(std::wstring_view table, std::wstring_view why) {
  return CDBException(L"Table " + Quoted(table) + L" is full: " + std::wstring(why) + L".", state::kGeneral);
}

CDBException FileTooLarge(std::wstring_view limit, std::wstring_view format) {
  return CDBException(
      L"The file would exceed " + std::wstring(limit) + L", the most " + std::wstring(format) + L" holds.",
      state::kIoError);
}

CDBException ConnectionClosed() { return CDBException(L"The connection is closed.", state::kNotOpen); }

CDBException NoFileNamed() { return CDBException(L"The connect string names no file (DBQ).", state::kGeneral); }

CDBException FileNotFound(std::wstring_view path) {
  return CDBException(L"Could not find file " + Quoted(path) + L".", state::kGeneral);
}

CDBException FileExists(std::wstring_view path) {
  return CDBException(L"The file " + Quoted(path) + L" already exists.", state::kGeneral);
}

CDBException FileUnreadable(std::wstring_view path, std::wstring_view as, std::wstring_view cause) {
  return CDBException(L"Cannot open " + Quoted(path) + L" as " + std::wstring(as) + L": " + std::wstring(cause) + L".",
                      state::kGeneral);
}

CDBException FileDamaged(std::wstring_view path, std::wstring_view what) {
  return CDBException(L"The file " + Quoted(path) + L" is damaged: " + std::wstring(what) + L".", state::kGeneral);
}

CDBException FileReadOnly(std::wstring_view path) {
  return CDBException(L"The file " + Quoted(path) + L" is open read-only.", state::kGeneral);
}

CDBException NoMoreChanges(std::wstring_view path) {
  return CDBException(L"The file " + Quoted(path) + L" takes no more changes: writing it failed before.",
                      state::kIoError);
}

CDBException LeftAsItWas(std::wstring_view path) {
  return CDBException(L"The file " + Quoted(path) + L" was left as it was: writing it failed before.", state::kIoError);
}

CDBException IoError(std::wstring_view action, std::string_view path, int error) {
  return CDBException(
      std::wstring(action) + L" " + Quoted(text::Utf8ToWide(path)) + L": " + text::Utf8ToWide(std::strerror(error)),
      state::kIoError, error);
}

bool IsIoError(const CDBException& error) { return error.m_strSqlState == state::kIoError; }

CDBException TextNotUtf8(std::wstring_view column, std::size_t offset) {
  return CDBException(L"Column " + Quoted(column) + L" holds text that is not valid UTF-8 (at byte " +
                          std::to_wstring(offset) + L"); the row is not copied rather than copied changed.",
                      state::kNotInRepertoire);
}

CDBException TextCutAtNul(std::wstring_view column, std::size_t offset) {
  return CDBException(L"Column " + Quoted(column) + L" holds text with a NUL character at byte " +
                          std::to_wstring(offset) + L": drivers end text there, so the value may not be whole.",
                      state::kNotInRepertoire);
}

CDBException NotOfColumnKind(std::wstring_view column, std::wstring_view text, std::wstring_view kind) {
  return CDBException(L"Column " + Quoted(column) + L" holds " + Quoted(text) + L", which is not " +
                          std::wstring(kind) +
                          L" as the column declares; the row is not copied rather than copied "
                          L"changed.",
                      state::kValueMismatch);
}

CDBException InfiniteDate(std::wstring_view column) {
  return CDBException(L"Column " + Quoted(column) +
                          L" holds infinity or -infinity, which the source's driver delivers without saying which.",
                      state::kDateOverflow);
}

CDBException InfiniteOrLastMoment(std::wstring_view column) {
  return CDBException(L"Column " + Quoted(column) +
                          L" holds infinity or 9999-12-31 23:59:59, which the source's driver delivers alike (select "
                          L"the column as text to tell them apart).",
                      state::kDateOverflow);
}

CDBException ValueCutShort(std::wstring_view column, std::size_t got, long long announced) {
  return CDBException(L"The driver returned " + std::to_wstring(got) + L" of the " + std::to_wstring(announced) +
                          L" bytes of a value in column " + Quoted(column),
                      state::kTruncated);
}

CDBException NoColumns(std::wstring_view table) {
  return CDBException(L"Table " + Quoted(table) + L" has no columns.", state::kSyntax);
}

CDBException BadName(std::wstring_view name, std::wstring_view what) {
  return CDBException(Quoted(name) + L" is not a valid " + std::wstring(what) +
                          L" name: it must have 1 to 64 characters, none of . ! ` [ ] or control characters, "
                          L"and not begin with a blank.",
                      state::kSyntax);
}

CDBException BadTextLength(std::wstring_view column) {
  return CDBException(L"Column " + Quoted(column) + L": a Text column holds 1 to 255 characters", state::kSyntax);
}

CDBException DuplicateKey() {
  return CDBException(L"The new row would duplicate a value of a unique index", state::kUniqueViolated);
}

CDBException TypeMismatch(std::wstring_view column, std::wstring_view type, std::wstring_view value,
                          std::wstring_view detail) {
  return CDBException(ValueMessage(L"Data type mismatch", column, type, value, detail), state::kValueMismatch);
}

CDBException NumberOutOfRange(std::wstring_view column, std::wstring_view type, std::wstring_view value,
                              std::wstring_view detail) {
  return CDBException(ValueMessage(L"Numeric value out of range", column, type, value, detail), state::kOutOfRange);
}

CDBException TextTooLong(std::wstring_view column, std::wstring_view type, std::wstring_view value,
                         std::wstring_view detail) {
  return CDBException(ValueMessage(L"String data, right truncation", column, type, value, detail), state::kTooLong);
}

CDBException BadDate(std::wstring_view column, std::wstring_view type, std::wstring_view value,
                     std::wstring_view detail) {
  return CDBException(ValueMessage(L"Invalid datetime format", column, type, value, detail), state::kBadDate);
}

CDBException DateOverflow(std::wstring_view column, std::wstring_view type, std::wstring_view value,
                          std::wstring_view detail) {
  return CDBException(ValueMessage(L"Datetime field overflow", column, type, value, detail), state::kDateOverflow);
}

CDBException ValueNotTaken(std::wstring_view column, std::wstring_view why) {
  return CDBException(L"The value for column " + Quoted(column) + L" " + std::wstring(why), state::kValueMismatch);
}

CDBException FileInUse(std::wstring_view path) {
  return CDBException(L"The file " + Quoted(path) + L" is in use by another connection; try again when it is closed",
                      state::kGeneral);
}

CDBException FolderMissing(std::wstring_view folder) {
  return CDBException(L"The folder " + Quoted(folder) + L" does not exist", state::kGeneral);
}

CDBException PermissionDenied(std::wstring_view what, std::wstring_view path, std::wstring_view action) {
  return CDBException(L"The " + std::wstring(what) + L" " + Quoted(path) + L" cannot be " + std::wstring(action) +
                          L": permission denied",
                      state::kGeneral);
}

CDBException NotAFile(std::wstring_view path) {
  return CDBException(L"The path " + Quoted(path) + L" is not a file", state::kGeneral);
}

CDBException FileWriteProtected(std::wstring_view path) {
  return CDBException(L"The file " + Quoted(path) + L" is read-only", state::kGeneral);
}

CDBException FileChanging(std::wstring_view path, std::wstring_view how) {
  return CDBException(L"The file " + Quoted(path) + L" " + std::wstring(how), state::kGeneral);
}

CDBException FolderNotWritable(std::wstring_view path, std::wstring_view folder) {
  return CDBException(L"Cannot write " + Quoted(path) + L": its folder " + Quoted(folder) + L" is not writable",
                      state::kGeneral);
}

CDBException OwnerNotKept(std::wstring_view path) {
  return CDBException(L"Cannot replace " + Quoted(path) +
                          L": it belongs to another user or group, which a new version written by this user could "
                          L"not keep",
                      state::kGeneral);
}

CDBException CreatedMeanwhile(std::wstring_view path) {
  return CDBException(L"Cannot create " + Quoted(path) + L": another program created it meanwhile", state::kGeneral);
}

CDBException DatabaseDamaged(std::wstring_view what) {
  return CDBException(L"The database holds a damaged " + std::wstring(what), state::kGeneral);
}

CDBException WorkbookNotAddable(std::wstring_view why) { return CDBException(std::wstring(why), state::kGeneral); }

CDBException WorkbookDamaged(std::wstring_view what) { return CDBException(std::wstring(what), state::kGeneral); }

CDBException ContainerDamaged(std::wstring_view what) {
  return CDBException(L"it is damaged: " + std::wstring(what), state::kGeneral);
}

CDBException WorkbookUnreadable(std::wstring_view what, int error) {
  std::wstring message = std::wstring(what) + L" cannot be read";
  if (error != 0) message += L": " + text::Utf8ToWide(std::strerror(error));
  return CDBException(std::move(message), state::kGeneral);
}

CDBException ZipNotAPackage() {
  return CDBException(L"it is not an Excel workbook (not a zip package)", state::kGeneral);
}

CDBException PackageWithoutWorkbook() {
  return CDBException(L"it is a zip package without a spreadsheet workbook", state::kGeneral);
}

CDBException WorkbookEncrypted() {
  return CDBException(L"it is encrypted (protected by a password); save it without a password to add to it",
                      state::kGeneral);
}

CDBException StrictWorkbook() {
  return CDBException(L"it is a Strict Open XML workbook, which this driver does not add to", state::kGeneral);
}

CDBException PackageDamaged(std::wstring_view what) {
  return CDBException(L"it is damaged: " + std::wstring(what), state::kGeneral);
}

CDBException PartTooLarge(std::wstring_view part, std::size_t limit) {
  return CDBException(L"its part " + Quoted(part) + L" inflates to more than " + std::to_wstring(limit) + L" bytes",
                      state::kGeneral);
}

CDBException PartNotAddable(std::wstring_view part, std::wstring_view why) {
  return CDBException(L"its part " + Quoted(part) + L" cannot be added to: " + std::wstring(why), state::kGeneral);
}

CDBException CatalogUnreadable() {
  return CDBException(L"The database's catalog (MSysObjects) cannot be read", state::kGeneral);
}

CDBException CatalogValueTooLong() {
  return CDBException(L"A catalog row's long value does not fit in the row", state::kGeneral);
}

CDBException SystemTablesFull() {
  return CDBException(L"The database's system tables have no room for another table", state::kGeneral);
}

CDBException SystemIndexNotUpdatable() {
  return CDBException(L"An index of the database's system tables is of a kind this driver does not update",
                      state::kGeneral);
}

CDBException SystemIndexCannotGrow() {
  return CDBException(L"An index of the database's system tables has no room to grow", state::kGeneral);
}

CDBException SystemIndexTooLarge() {
  return CDBException(L"An index of the database's system tables has grown too large", state::kGeneral);
}

CDBException DatabaseEndsInPage(std::uint32_t page) {
  return CDBException(L"The database file ends inside page " + std::to_wstring(page), state::kGeneral);
}

CDBException MemoMapFull() {
  return CDBException(L"A Memo column's map of pages cannot list more pages", state::kGeneral);
}

CDBException RowHasTooManyColumns(std::size_t most) {
  return CDBException(L"A table has at most " + std::to_wstring(most) + L" columns", state::kGeneral);
}

CDBException RecordTooLarge() { return CDBException(L"Record is too large.", state::kGeneral); }

CDBException IndexKeyUnwritable() {
  return CDBException(L"A value of the new row cannot be written into the table's index", state::kGeneral);
}

CDBException WriteRefused(std::string_view path, std::wstring_view why) {
  return CDBException(L"Could not write " + Quoted(text::Utf8ToWide(path)) + L": " + std::wstring(why),
                      state::kGeneral);
}

CDBException TempFileWrittenAfterRead() {
  return CDBException(L"A temporary file is written after it was read back", state::kGeneral);
}

CDBException DatePatternUnusable(std::wstring_view pattern, std::wstring_view column, std::wstring_view problem) {
  return CDBException(L"The date pattern " + Quoted(pattern) + L" cannot be used for the DATE column " +
                          Quoted(column) + L": " + std::wstring(problem) + L".",
                      state::kGeneral);
}

CDBException FromDriver(std::wstring message, std::wstring sqlState, long nativeError) {
  return CDBException(std::move(message), std::move(sqlState), nativeError);
}

CDBException LibraryNotLoaded(std::string_view library, std::string_view cause) {
  return CDBException(
      L"The library " + Quoted(text::Utf8ToWide(library)) + L" could not be loaded: " + text::Utf8ToWide(cause),
      state::kGeneral);
}

CDBException InvalidHandle() { return CDBException(L"Invalid ODBC handle", state::kGeneral); }

CDBException NoDiagnostic() { return CDBException(L"The ODBC call failed without a diagnostic", state::kGeneral); }

CDBException NoEnvironment() {
  return CDBException(L"The ODBC driver manager could not allocate an environment", state::kNoMemory);
}

CDBException DriverNotInstalled(std::wstring_view driver, const CDBException& cause) {
  return CDBException(L"The driver " + Quoted(driver) +
                          L" is not installed: it is neither built in nor known to unixODBC (odbcinst -q -d lists "
                          L"the installed drivers). " +
                          cause.m_strMessage,
                      cause.m_strSqlState, cause.m_nNativeError);
}

bool IsDriverNotFound(const CDBException& error) {
  const std::wstring& got = error.m_strSqlState;
  return got == state::kNoDataSource || got == state::kWarning || got == state::kDriverNotLoaded;
}

CDBException ConnectionAlreadyOpen() { return CDBException(L"The connection is already open", state::kAlreadyOpen); }

CDBException NoExclusiveAccess() {
  return CDBException(L"Exclusive access to a data source is not supported", state::kNotImplemented);
}

CDBException OnlyForwardOnly() {
  return CDBException(L"Only forward-only, read-only recordsets are supported", state::kNotImplemented);
}

CDBException OnlyDefaultFieldType() {
  return CDBException(L"Only the default field type is supported", state::kNotImplemented);
}

CDBException NoResultSets() {
  return CDBException(L"The driver does not return result sets", state::kNoDriverFunction);
}

CDBException RecordsetAlreadyOpen() { return CDBException(L"The recordset is already open", state::kCursorState); }

CDBException RecordsetNotOpen() { return CDBException(L"The recordset is not open", state::kCursorState); }

CDBException PastTheEnd() { return CDBException(L"Attempt to move past the end of the result", state::kCursorState); }

CDBException NoCurrentRow() { return CDBException(L"There is no current row", state::kCursorState); }

CDBException ColumnOutOfRange(long column) {
  return CDBException(L"Column index " + std::to_wstring(column) + L" is out of range", state::kBadColumnNumber);
}

CDBException OutsideTheBatch(std::size_t row, long column) {
  return CDBException(
      L"Row " + std::to_wstring(row) + L", column " + std::to_wstring(column) + L" is outside the batch",
      state::kBadColumnNumber);
}

CDBException BatchOfAnotherResult() { return CDBException(L"The batch holds rows of another result", state::kGeneral); }

CDBException NoDriverForFile(std::wstring_view path) {
  return CDBException(L"No output driver writes the file " + Quoted(path) + L": no built-in format has its extension.",
                      state::kGeneral);
}

CDBException ParameterNotBound(std::size_t parameter) {
  return CDBException(L"Parameter " + std::to_wstring(parameter) + L" has no bound value.", state::kParameterNotBound);
}

CDBException ParameterNumberOutOfRange(long parameter, std::size_t markers) {
  return CDBException(L"Parameter number " + std::to_wstring(parameter) + L" is not one of the statement's " +
                          std::to_wstring(markers) + L" parameter markers.",
                      state::kBadColumnNumber);
}

CDBException ParameterBufferNull(std::size_t parameter) {
  return CDBException(
      L"Parameter " + std::to_wstring(parameter) + L" has a length but its value buffer is a null pointer.",
      state::kNullPointer);
}

CDBException TooManyMarkers(std::size_t markers, std::size_t most) {
  return CDBException(L"The statement has " + std::to_wstring(markers) + L" parameter markers, more than the " +
                          std::to_wstring(most) + L" a statement takes.",
                      state::kProgramLimit);
}

CDBException FixedValueInPieces(std::size_t parameter) {
  return CDBException(L"Parameter " + std::to_wstring(parameter) +
                          L" is of a fixed-size type and takes its value in one piece of SQLPutData only.",
                      state::kNotInPieces);
}

CDBException ArgumentNotUtf8(std::wstring_view what, std::size_t offset) {
  return CDBException(L"The " + std::wstring(what) + L" is not valid UTF-8 (at byte " + std::to_wstring(offset) +
                          L"); it is refused rather than read as other text.",
                      state::kNotInRepertoire);
}

CDBException ArgumentNotUtf16(std::wstring_view what, std::size_t offset) {
  return CDBException(L"The " + std::wstring(what) + L" is not valid UTF-16 (an unpaired surrogate at code unit " +
                          std::to_wstring(offset) + L"); it is refused rather than read as other text.",
                      state::kNotInRepertoire);
}

CDBException ArgumentHoldsNul(std::wstring_view what, std::size_t offset) {
  return CDBException(L"The " + std::wstring(what) + L" holds a NUL character at position " + std::to_wstring(offset) +
                          L" before its end; it is refused rather than cut there.",
                      state::kNotInRepertoire);
}

CDBException ParameterTypeNotTaken(std::size_t parameter, std::wstring_view what) {
  return CDBException(
      L"Parameter " + std::to_wstring(parameter) + L": values of " + std::wstring(what) + L" are not taken.",
      state::kRestrictedType);
}

CDBException FractionNotKept(std::size_t parameter) {
  return CDBException(L"Parameter " + std::to_wstring(parameter) +
                          L" holds a fraction of a second, which the file's dates do not keep; the row is not "
                          L"written rather than written changed.",
                      state::kDateOverflow);
}

CDBException BadParameterLength(std::size_t parameter) {
  return CDBException(L"Parameter " + std::to_wstring(parameter) + L" has an invalid length or indicator.",
                      state::kBadLength);
}

CDBException TransactionOpen() {
  return CDBException(L"The connection has changes that are neither committed nor rolled back.",
                      state::kOpenTransaction);
}

CDBException OutOfSequence(std::wstring_view what) {
  return CDBException(L"Function sequence error: " + std::wstring(what) + L".", state::kSequence);
}

CDBException NullArgument() { return CDBException(L"Invalid use of a null pointer.", state::kNullPointer); }

CDBException BadBufferLength() { return CDBException(L"Invalid string or buffer length.", state::kBadLength); }

CDBException UnknownAttribute(long attribute) {
  return CDBException(L"Attribute " + std::to_wstring(attribute) + L" is not known to this driver.",
                      state::kBadAttribute);
}

CDBException UnknownInfoType(unsigned type) {
  return CDBException(L"Information type " + std::to_wstring(type) + L" is not answered by this driver.",
                      state::kBadInfoType);
}

CDBException BadCompletionType() {
  return CDBException(L"A transaction ends only by commit or rollback.", state::kBadTransactionType);
}

CDBException FeatureNotImplemented(std::wstring_view what) {
  return CDBException(L"Optional feature not implemented: " + std::wstring(what) + L".", state::kNotImplemented);
}

CDBException NotConvertible(long column) {
  return CDBException(L"Column " + std::to_wstring(column) + L" cannot be converted to the requested type.",
                      state::kRestrictedType);
}

CDBException OptionValueChanged(std::wstring_view what) {
  return CDBException(L"Option value changed: " + std::wstring(what) + L".", state::kOptionChanged);
}

CDBException DataTruncated() { return CDBException(L"String data, right truncated.", state::kTruncated); }

}  // namespace errors
}  // namespace quillon::odbc
