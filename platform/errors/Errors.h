// Every error Quillon raises: the one exception type, CDBException (SQLSTATE, native code,
// message), the table of the SQLSTATEs it uses, and one function per error that words it. The
// functions return the exception for the caller to throw (`throw errors::TableExists(name);`), so
// that an error reads the same wherever it is raised and whichever file format a statement went
// to. A new error gets its function here; nothing else builds a CDBException.
//
// The names live in namespace odbc: SQLSTATEs are ODBC's diagnostics, and the framework's
// CDBException, which the dialog and the engine catch, is its exception. The files and the
// ODBC stand-ins both stand on this library; it stands on nothing but the wide text and the
// prompts that show an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillon::odbc {

class CDBException : public std::exception {
 public:
  // `message` is the driver's text; `sqlState` its five-character SQLSTATE. Build one with a
  // function of errors:: below.
  CDBException(std::wstring message, std::wstring sqlState, long nativeError = 0);

  // The text a user is shown and the log records: the driver's message followed by its
  // SQLSTATE, e.g. "no such table: Orders (SQLSTATE HY000)".
  std::wstring m_strError;
  // "State:HY000,Native:1" in the framework's form.
  std::wstring m_strStateNativeOrigin;
  std::wstring m_strSqlState;
  std::wstring m_strMessage;
  long m_nNativeError = 0;

  // Shows m_strError through the installed prompts with the given message box type (MB_OK or
  // MB_OKCANCEL); returns the button pressed. `helpId` is accepted and ignored.
  int ReportError(unsigned type = 0, unsigned helpId = 0) const;

  const char* what() const noexcept override { return m_what.c_str(); }

 private:
  std::string m_what;
};

namespace errors {

// SQLSTATEs as ODBC (and, for 54011 and 58030, SQL) defines them.
namespace state {
inline constexpr wchar_t kGeneral[] = L"HY000";
inline constexpr wchar_t kNoMemory[] = L"HY001";
inline constexpr wchar_t kNotImplemented[] = L"HYC00";
inline constexpr wchar_t kSyntax[] = L"42000";
inline constexpr wchar_t kTableExists[] = L"42S01";
inline constexpr wchar_t kNoSuchTable[] = L"42S02";
inline constexpr wchar_t kColumnExists[] = L"42S21";
inline constexpr wchar_t kCountMismatch[] = L"21S01";
inline constexpr wchar_t kAlreadyOpen[] = L"08002";
inline constexpr wchar_t kNotOpen[] = L"08003";
inline constexpr wchar_t kCursorState[] = L"24000";
inline constexpr wchar_t kBadColumnNumber[] = L"07009";
inline constexpr wchar_t kTruncated[] = L"01004";
inline constexpr wchar_t kTooManyColumns[] = L"54011";
inline constexpr wchar_t kUniqueViolated[] = L"23000";
inline constexpr wchar_t kIoError[] = L"58030";
// A value that does not fit its column.
inline constexpr wchar_t kValueMismatch[] = L"22018";
inline constexpr wchar_t kOutOfRange[] = L"22003";
inline constexpr wchar_t kTooLong[] = L"22001";
inline constexpr wchar_t kBadDate[] = L"22007";
inline constexpr wchar_t kDateOverflow[] = L"22008";
inline constexpr wchar_t kNotInRepertoire[] = L"22021";
// unixODBC's answers for a driver it cannot find or load: no such data source or driver, a
// general warning (its loader's), the driver's setup not loadable; and a driver that lacks a
// function.
inline constexpr wchar_t kNoDataSource[] = L"IM002";
inline constexpr wchar_t kWarning[] = L"01000";
inline constexpr wchar_t kDriverNotLoaded[] = L"IM003";
inline constexpr wchar_t kNoDriverFunction[] = L"IM001";
// The driver library's own answers to its callers.
inline constexpr wchar_t kOptionChanged[] = L"01S02";
inline constexpr wchar_t kParameterNotBound[] = L"07002";
inline constexpr wchar_t kRestrictedType[] = L"07006";
inline constexpr wchar_t kOpenTransaction[] = L"25000";
inline constexpr wchar_t kNullPointer[] = L"HY009";
inline constexpr wchar_t kSequence[] = L"HY010";
inline constexpr wchar_t kBadLength[] = L"HY090";
inline constexpr wchar_t kBadAttribute[] = L"HY092";
inline constexpr wchar_t kBadInfoType[] = L"HY096";
inline constexpr wchar_t kBadTransactionType[] = L"HY012";
inline constexpr wchar_t kNotInPieces[] = L"HY019";
inline constexpr wchar_t kProgramLimit[] = L"54000";
}  // namespace state

// --- Statements and tables of the built-in drivers ---
// CREATE TABLE of a name the file already holds (also differing in case only): 42S01.
CDBException TableExists(std::wstring_view table);
// CREATE TABLE in a file of one table (delimited text) that already holds it: 42S01.
CDBException FileHoldsTable(std::wstring_view path);
// A statement names a table the file does not hold: 42S02.
CDBException NoSuchTable(std::wstring_view table);
// INSERT into a table that was in the file before this connection: HY000.
CDBException TableFromBefore(std::wstring_view table);
// CREATE TABLE naming a column twice (also differing in case only): 42S21.
CDBException ColumnRepeated(std::wstring_view table, std::wstring_view column);
// CREATE TABLE with more columns than the format holds: 54011.
CDBException TooManyColumns(std::wstring_view table, std::size_t columns, std::size_t most);
// A column name longer than a worksheet cell holds (the sheet's first row holds the names): 42000.
CDBException ColumnNameTooLong(std::wstring_view table);
// The built-in drivers' parser stopped at character `pos` (from 0) of a statement of kind `what`
// (empty when the kind is not known yet): "Syntax error in <what> statement at character N:
// <problem> (found '<found>')." with `found` empty at the end of the statement: 42000.
CDBException SyntaxError(std::wstring_view what, std::size_t pos, std::wstring_view problem, std::wstring_view found,
                         bool foundMore);
// CREATE TABLE without columns: 42000.
CDBException NoColumns(std::wstring_view table);
// A table or column name the format does not take (`what` is "table" or "column"): 42000.
CDBException BadName(std::wstring_view name, std::wstring_view what);
// A Text column declared with a length outside 1 to 255: 42000.
CDBException BadTextLength(std::wstring_view column);
// INSERT whose value count is not the table's column count: 21S01.
CDBException ValueCountMismatch(std::wstring_view table, std::size_t columns, std::size_t values);
// A row whose value for a unique index is already there: 23000.
CDBException DuplicateKey();
// A table (sheet) that takes no more rows: HY000.
CDBException TableFull(std::wstring_view table, std::wstring_view why);
// A statement on a closed connection: 08003.
CDBException ConnectionClosed();

// --- Values a statement gives for a column (`type` the column's type name, `value` as the
// statement spells it, `detail` why it does not fit) ---
// not of the column's kind: 22018.
CDBException TypeMismatch(std::wstring_view column, std::wstring_view type, std::wstring_view value,
                          std::wstring_view detail);
// a number past what the column holds: 22003.
CDBException NumberOutOfRange(std::wstring_view column, std::wstring_view type, std::wstring_view value,
                              std::wstring_view detail);
// text longer than the column holds: 22001.
CDBException TextTooLong(std::wstring_view column, std::wstring_view type, std::wstring_view value,
                         std::wstring_view detail);
// a date that is not one: 22007.
CDBException BadDate(std::wstring_view column, std::wstring_view type, std::wstring_view value,
                     std::wstring_view detail);
// a date outside the years the column holds: 22008.
CDBException DateOverflow(std::wstring_view column, std::wstring_view type, std::wstring_view value,
                          std::wstring_view detail);
// A value an Access column does not take, `why` saying so ("is too long ..."): 22018.
CDBException ValueNotTaken(std::wstring_view column, std::wstring_view why);

// --- Files ---
// A connect string without the file to open (DBQ): HY000.
CDBException NoFileNamed();
// Opening a file that is not there: HY000.
CDBException FileNotFound(std::wstring_view path);
// Creating a file where one is already: HY000.
CDBException FileExists(std::wstring_view path);
// A file that cannot be opened as the driver's format ("an Excel workbook"), and why: HY000.
CDBException FileUnreadable(std::wstring_view path, std::wstring_view as, std::wstring_view cause);
// A file whose content contradicts itself (`what` names the part): HY000.
CDBException FileDamaged(std::wstring_view path, std::wstring_view what);
// A change refused because the connection was opened read-only: HY000.
CDBException FileReadOnly(std::wstring_view path);
// Replacing a file (HY000 each): one another connection holds;
CDBException FileInUse(std::wstring_view path);
// a folder that is not there;
CDBException FolderMissing(std::wstring_view folder);
// a folder or file this user may not open (`action` "opened" or "read");
CDBException PermissionDenied(std::wstring_view what, std::wstring_view path, std::wstring_view action);
// a path that names no regular file;
CDBException NotAFile(std::wstring_view path);
// a file without write permission (or without any write bit);
CDBException FileWriteProtected(std::wstring_view path);
// a file another program changes while it is opened (`how` says what it did);
CDBException FileChanging(std::wstring_view path, std::wstring_view how);
// a file in a folder that is not writable;
CDBException FolderNotWritable(std::wstring_view path, std::wstring_view folder);
// a file whose owner or group the new version could not be given;
CDBException OwnerNotKept(std::wstring_view path);
// a file another program created after it was found missing.
CDBException CreatedMeanwhile(std::wstring_view path);
// A file that would grow past `limit` ("2 GB"), the most a file of its format (`format`, e.g. "an
// Excel 97-2003 workbook file") holds: 58030, as a full disk, for the same holds for every
// further row.
CDBException FileTooLarge(std::wstring_view limit, std::wstring_view format);
// A part of an Access database (`what`: "index", "data page"...) that contradicts itself, met
// where the file's path is not at hand: HY000.
CDBException DatabaseDamaged(std::wstring_view what);
// The Access database's own tables and the driver's limits on them (HY000 each):
// its catalog (MSysObjects) that cannot be read;
CDBException CatalogUnreadable();
// a long value of a catalog row that does not fit in the row;
CDBException CatalogValueTooLong();
// system tables without room for another table;
CDBException SystemTablesFull();
// an index of the system tables of a kind this driver does not update;
CDBException SystemIndexNotUpdatable();
// an index of the system tables whose usage map takes no further page;
CDBException SystemIndexCannotGrow();
// an index of the system tables whose entries no longer fit its root page;
CDBException SystemIndexTooLarge();
// a file that ends inside page `page`, which it should hold;
CDBException DatabaseEndsInPage(std::uint32_t page);
// a Memo column's map of pages that lists no more pages;
CDBException MemoMapFull();
// a row of more than `most` columns;
CDBException RowHasTooManyColumns(std::size_t most);
// a row longer than a data page holds;
CDBException RecordTooLarge();
// a value of a new row that its table's index cannot hold.
CDBException IndexKeyUnwritable();
// A write the container library refused without a system error, `why` its message; `path` is
// UTF-8: HY000.
CDBException WriteRefused(std::string_view path, std::wstring_view why);
// A temporary file written to after it was read back (a fault of the driver): HY000.
CDBException TempFileWrittenAfterRead();
// A DATE column created while the connect string's date pattern cannot be used, `problem` saying
// why: HY000.
CDBException DatePatternUnusable(std::wstring_view pattern, std::wstring_view column, std::wstring_view problem);
// An Excel workbook the driver will not add to, met where the file's path is not at hand; the
// driver reports it as FileUnreadable(path, "an Excel workbook", message). HY000 each:
// one of a kind or version it does not add to, `why` saying which ("it is encrypted ...");
CDBException WorkbookNotAddable(std::wstring_view why);
// a workbook stream that contradicts itself, `what` saying where ("a sheet name is cut off");
CDBException WorkbookDamaged(std::wstring_view what);
// a compound-file container that contradicts itself: "it is damaged: <what>";
CDBException ContainerDamaged(std::wstring_view what);
// a file or stream (`what`: "it", "its workbook stream") that cannot be read: "<what> cannot be
// read", followed by strerror(error) when `error` is not 0.
CDBException WorkbookUnreadable(std::wstring_view what, int error = 0);
// An .xlsx workbook (a zip package) the driver will not add to, met where the file's path is not
// at hand; the driver reports it as FileUnreadable(path, "an Excel workbook", message). HY000 each:
// a file that is no zip package;
CDBException ZipNotAPackage();
// a zip package that holds no spreadsheet workbook (no officeDocument relationship to one);
CDBException PackageWithoutWorkbook();
// a workbook encrypted with a password (an OLE compound file holding the encrypted package);
CDBException WorkbookEncrypted();
// a workbook in Strict Open XML, which the driver does not add to;
CDBException StrictWorkbook();
// a zip package that contradicts itself: "it is damaged: <what>";
CDBException PackageDamaged(std::wstring_view what);
// a part to be read that inflates to more than `limit` bytes;
CDBException PartTooLarge(std::wstring_view part, std::size_t limit);
// a part the driver must change but cannot, `why` saying what it holds.
CDBException PartNotAddable(std::wstring_view part, std::wstring_view why);
// A statement after writing the file's data failed: the connection takes no more: 58030.
CDBException NoMoreChanges(std::wstring_view path);
// Close after writing failed: the file keeps its previous version: 58030.
CDBException LeftAsItWas(std::wstring_view path);
// A failed read or write of file data: "<action> '<path>': <strerror(error)>", 58030, the
// native code being errno; `path` is UTF-8. Whatever runs statements stops at such an error:
// the failure is not the row's or the statement's.
CDBException IoError(std::wstring_view action, std::string_view path, int error);
// True for the errors IoError builds (and any other 58030: FileTooLarge, NoMoreChanges...).
bool IsIoError(const CDBException& error);

// --- Source values that cannot arrive exactly, so their row is refused (each names the column) ---
// text that is not UTF-8, `offset` the first byte that is not: 22021.
CDBException TextNotUtf8(std::wstring_view column, std::size_t offset);
// text with a NUL at byte `offset` inside the length the driver reports: 22021.
CDBException TextCutAtNul(std::wstring_view column, std::size_t offset);
// a value the driver gives as `text` that is not of the column's kind (`kind`, e.g. "a whole
// number"): 22018.
CDBException NotOfColumnKind(std::wstring_view column, std::wstring_view text, std::wstring_view kind);
// a date the driver gives in place of infinity or -infinity without saying which: 22008.
CDBException InfiniteDate(std::wstring_view column);
// a date-time the driver gives alike for infinity and for 9999-12-31 23:59:59: 22008.
CDBException InfiniteOrLastMoment(std::wstring_view column);
// a value the driver gives `got` bytes of where it announced `announced`: 01004.
CDBException ValueCutShort(std::wstring_view column, std::size_t got, long long announced);

// --- Libraries loaded when a file needs them ---
// A shared library (`library`, its soname) that could not be loaded, or lacks a function the
// program calls, `cause` the loader's message: HY000.
CDBException LibraryNotLoaded(std::string_view library, std::string_view cause);

// --- The ODBC stand-ins ---
// A driver's own diagnostic, passed on as it came.
CDBException FromDriver(std::wstring message, std::wstring sqlState, long nativeError);
// An ODBC call on a handle the driver manager does not know: HY000.
CDBException InvalidHandle();
// An ODBC call that failed without a diagnostic: HY000.
CDBException NoDiagnostic();
// The driver manager could not allocate its environment: HY001.
CDBException NoEnvironment();
// A driver the connect string names that is neither built in nor installed; keeps `cause`'s
// SQLSTATE and native code.
CDBException DriverNotInstalled(std::wstring_view driver, const CDBException& cause);
// True for what the driver manager answers when it cannot find or load a driver.
bool IsDriverNotFound(const CDBException& error);
// Open on a connection already open: 08002.
CDBException ConnectionAlreadyOpen();
// Exclusive access to a data source: HYC00.
CDBException NoExclusiveAccess();
// A recordset other than forward-only and read-only: HYC00.
CDBException OnlyForwardOnly();
// A field type other than the default: HYC00.
CDBException OnlyDefaultFieldType();
// A recordset opened on a driver that gives no result sets (a built-in one): IM001.
CDBException NoResultSets();
// Open on a recordset already open: 24000.
CDBException RecordsetAlreadyOpen();
// A move on a recordset that is not open: 24000.
CDBException RecordsetNotOpen();
// A move past the last row: 24000.
CDBException PastTheEnd();
// A value read where there is no current row: 24000.
CDBException NoCurrentRow();
// A column number outside the result: 07009.
CDBException ColumnOutOfRange(long column);
// A row and column outside a batch of rows: 07009.
CDBException OutsideTheBatch(std::size_t row, long column);
// A batch given rows of a result with other columns: HY000.
CDBException BatchOfAnotherResult();

// --- The ODBC driver library (odbcdriver/) ---
// A connect string or data source whose file has an extension no built-in driver writes: HY000.
CDBException NoDriverForFile(std::wstring_view path);
// A parameter marker without a bound value: 07002.
CDBException ParameterNotBound(std::size_t parameter);
// A parameter number below 1 or past the statement's `markers` markers: 07009.
CDBException ParameterNumberOutOfRange(long parameter, std::size_t markers);
// A parameter whose length or indicator gives a value but whose buffer is a null pointer: HY009.
CDBException ParameterBufferNull(std::size_t parameter);
// A statement with more parameter markers (`markers`) than the driver counts (`most`): 54000.
CDBException TooManyMarkers(std::size_t markers, std::size_t most);
// A value of a fixed-size C type sent in more than one piece by SQLPutData: HY019.
CDBException FixedValueInPieces(std::size_t parameter);
// Text an application gives (`what` names it: "statement", "catalog argument", ...) that is not
// valid UTF-8 from byte `offset`, or UTF-16 with an unpaired surrogate at code unit `offset`:
// 22021, so that it is not read as other text (a path naming another file).
CDBException ArgumentNotUtf8(std::wstring_view what, std::size_t offset);
CDBException ArgumentNotUtf16(std::wstring_view what, std::size_t offset);
// The same with a NUL character at `offset` before its end, where the text would be cut: 22021.
CDBException ArgumentHoldsNul(std::wstring_view what, std::size_t offset);
// A bound C type the driver does not convert (`what` names it): 07006.
CDBException ParameterTypeNotTaken(std::size_t parameter, std::wstring_view what);
// A time stamp with a fraction of a second, which the files' dates do not keep: 22008.
CDBException FractionNotKept(std::size_t parameter);
// A length or indicator that is none ODBC allows: HY090.
CDBException BadParameterLength(std::size_t parameter);
// Disconnecting with changes neither committed nor rolled back: 25000.
CDBException TransactionOpen();
// A function called out of order (`what` says what is missing): HY010.
CDBException OutOfSequence(std::wstring_view what);
// A null pointer where a value is needed: HY009.
CDBException NullArgument();
// A negative buffer length or one that is not even for UTF-16: HY090.
CDBException BadBufferLength();
// An attribute or option the driver does not know: HY092.
CDBException UnknownAttribute(long attribute);
// An information type the driver does not answer: HY096.
CDBException UnknownInfoType(unsigned type);
// SQLEndTran with neither commit nor rollback: HY012.
CDBException BadCompletionType();
// An ODBC feature the driver leaves out, `what` naming it: HYC00.
CDBException FeatureNotImplemented(std::wstring_view what);
// A column value the requested C type cannot hold: 07006.
CDBException NotConvertible(long column);
// An attribute value the driver put another in place of (a warning), `what` saying which: 01S02.
CDBException OptionValueChanged(std::wstring_view what);
// A value cut to the caller's buffer (a warning): 01004.
CDBException DataTruncated();

}  // namespace errors
}  // namespace quillon::odbc
