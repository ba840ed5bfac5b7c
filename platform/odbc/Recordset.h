// A forward-only, read-only result of one statement on a CDatabase reached through unixODBC.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/odbc/DBVariant.h"
#include "platform/odbc/Literal.h"

namespace quillon::odbc {

class CDatabase;
class OdbcStatement;

// ODBC SQL type codes, as ODBC 2 reports them.
enum SqlTypeCode : std::int16_t {
  SQL_CODE_WLONGVARCHAR = -10,
  SQL_CODE_WVARCHAR = -9,
  SQL_CODE_WCHAR = -8,
  SQL_CODE_BIT = -7,
  SQL_CODE_TINYINT = -6,
  SQL_CODE_BIGINT = -5,
  SQL_CODE_LONGVARBINARY = -4,
  SQL_CODE_VARBINARY = -3,
  SQL_CODE_BINARY = -2,
  SQL_CODE_LONGVARCHAR = -1,
  SQL_CODE_CHAR = 1,
  SQL_CODE_NUMERIC = 2,
  SQL_CODE_DECIMAL = 3,
  SQL_CODE_INTEGER = 4,
  SQL_CODE_SMALLINT = 5,
  SQL_CODE_FLOAT = 6,
  SQL_CODE_REAL = 7,
  SQL_CODE_DOUBLE = 8,
  SQL_CODE_DATE = 9,
  SQL_CODE_TIME = 10,
  SQL_CODE_TIMESTAMP = 11,
  SQL_CODE_VARCHAR = 12,
};

struct CODBCFieldInfo {
  std::wstring m_strName;
  std::int16_t m_nSQLType = 0;
  std::uint32_t m_nPrecision = 0;  // column size
  std::int16_t m_nScale = 0;
  std::int16_t m_nNullability = 0;
};

// How a column's values are read: in the C type its SQL type suggests, converted by the driver
// (Native), or as the driver's text of them where the driver's own conversion is not exact or
// costs more (the SQLite3 driver keeps every value as SQLite's text; psqlODBC turns a date of
// infinity into today's date), read by Quillon; or checked for what the driver made of a value.
enum class CellForm : std::uint8_t {
  Native,
  DateTimeText,      // SQLite: a date-time's text, read on the reading thread
  WholeText,         // SQLite: an integer column's text
  BitText,           // SQLite: a bit column's text
  RealText,          // SQLite: a floating column's text
  DateText,          // psqlODBC: a date's text
  CheckedTimestamp,  // psqlODBC: a date-time, checked for the values that stand for its infinities
};

// A value read ahead, as CRowBatch::GetValue gives it but without a CDBVariant, for a use that
// takes the common kinds straight from the batch: Whole stands for DBVT_SHORT, DBVT_LONG and
// DBVT_BIGINT alike, Text for DBVT_STRING and DBVT_WSTRING (the characters go elsewhere), and
// Other for the kinds read only through GetValue (a float, a binary value).
struct CellValue {
  enum class Kind : std::uint8_t { Null, Bool, Whole, Double, Date, Text, Other };
  Kind kind = Kind::Null;
  std::int64_t whole = 0;  // Whole; Bool as 0 or 1
  double real = 0;         // Double
  TIMESTAMP_STRUCT date{};
};

// Rows read ahead of their use: each value's bytes as the driver delivered them, turned into a
// CDBVariant later (possibly on another thread) by GetValue exactly as CRecordset::GetFieldValue
// turns them, or read by ReadRow without one. Reading the values from their bytes is left to
// the thread that uses them, as the thread that fetches is often the busier one. A batch depends
// on no connection or recordset once filled.
class CRowBatch {
 public:
  std::size_t RowCount() const { return m_columnCount == 0 ? 0 : m_cells.size() / m_columnCount; }
  // Bytes the batch's values take, for bounding a batch by size as well as by rows.
  std::size_t ByteSize() const { return m_bytes.size() + m_cells.size() * sizeof(Cell); }
  // Forgets the rows, keeping the storage for the next ones.
  void Clear();
  // The value of column `column` of row `row`. Throws CDBException for a position outside the batch.
  void GetValue(std::size_t row, std::int16_t column, CDBVariant& value) const;
  // Every value of row `row` without a CDBVariant, in column order: each into `cells`, the kinds
  // CellValue does not carry as Other, and the text of a Text value decoded into its column's
  // literal's text (replacing what it held; the other columns' text is emptied). Throws as
  // GetValue throws, at the first value that cannot arrive exactly.
  void ReadRow(std::size_t row, std::span<CellValue> cells, std::span<Literal> literals) const;

 private:
  friend class CRecordset;
  struct Cell {
    std::size_t offset = 0;
    std::size_t size = 0;  // kNullCell for a null
  };
  static constexpr std::size_t kNullCell = static_cast<std::size_t>(-1);
  struct Column {
    std::int16_t sqlType = 0;
    CellForm form = CellForm::Native;
    std::wstring name;  // for the reason a value is refused
  };
  [[noreturn]] static void ThrowOutsideTheBatch(std::size_t row, std::int16_t column);
  const Cell& CellAt(std::size_t row, std::int16_t column) const {
    // Within the batch's cells when the column is within the row.
    const std::size_t at = row * m_columnCount + static_cast<std::size_t>(column);
    if (column < 0 || static_cast<std::size_t>(column) >= m_columnCount || at >= m_cells.size()) {
      ThrowOutsideTheBatch(row, column);
    }
    return m_cells[at];
  }

  std::vector<Column> m_columns;
  std::size_t m_columnCount = 0;
  std::vector<Cell> m_cells;  // row by row
  std::string m_bytes;
};

class CRecordset {
 public:
  enum OpenType { dynaset = 0, snapshot = 1, forwardOnly = 2, dynamic = 3 };
  enum OpenOptions : unsigned { none = 0x0, readOnly = 0x4 };
  static constexpr std::int16_t DEFAULT_FIELD_TYPE = 0;

  explicit CRecordset(CDatabase* database);
  ~CRecordset();  // closes without throwing
  CRecordset(const CRecordset&) = delete;
  CRecordset& operator=(const CRecordset&) = delete;

  // Runs `statement` and stands on the first row, or at the end when there is none. Only
  // forward-only, read-only results exist; other open types and options are refused.
  // Throws CDBException.
  bool Open(unsigned openType, std::wstring_view statement, unsigned options = none);
  bool IsOpen() const;
  void Close();

  bool IsEOF() const;
  // Fetches the next row; throws CDBException past the end.
  void MoveNext();

  std::int16_t GetODBCFieldCount() const;
  void GetODBCFieldInfo(std::int16_t index, CODBCFieldInfo& info) const;
  // The same description without a copy; valid while the recordset stays open.
  const CODBCFieldInfo& GetODBCFieldInfo(std::int16_t index) const;
  // The value of column `index` of the current row, its kind chosen by the column's SQL type
  // (only DEFAULT_FIELD_TYPE is offered). Read each column at most once per row, in ascending
  // order, as ODBC requires.
  void GetFieldValue(std::int16_t index, CDBVariant& value, std::int16_t fieldType = DEFAULT_FIELD_TYPE);
  // Appends the current row to `batch`, each column read once as GetFieldValue reads it, with
  // the bytes the driver delivered instead of the values made of them (a batch holds rows of
  // one result only). Throws CDBException as GetFieldValue does; the batch then keeps only the
  // rows before this one.
  void CaptureRow(CRowBatch& batch);
  // The single table the statement reads from, as written after its FROM; empty when it reads
  // from none, several, or a join.
  const std::wstring& GetTableName() const { return m_tableName; }

 private:
  struct Binding;
  // One value of the current row as the driver delivered it, in its column's C type; `data`
  // stays valid until the next read.
  struct CellBytes {
    bool null = true;
    const char* data = nullptr;
    std::size_t size = 0;
  };
  static std::unique_ptr<Binding> BindColumns(void* connection, void* stmt, const std::vector<CODBCFieldInfo>& fields,
                                              const std::vector<CellForm>& forms);
  // The value of column `column` (in range) of the current row.
  CellBytes ReadCell(std::size_t column);
  CellBytes ReadBound(std::int16_t index, const CODBCFieldInfo& info);
  CellBytes ReadUnbound(std::int16_t index, const CODBCFieldInfo& info);
  // A date-time bound as its text: `text` read when it is in the usual form, else the driver's
  // own date-time (`text` is empty when the value did not fit its buffer).
  CellBytes ReadDateTime(std::int16_t index, std::string_view text);

  CDatabase* m_database;
  // Buffers bound to the result's columns; declared first so that it outlives the statement.
  std::unique_ptr<Binding> m_binding;
  std::unique_ptr<OdbcStatement> m_statement;
  std::vector<CODBCFieldInfo> m_fields;
  std::vector<CellForm> m_forms;  // per column
  std::wstring m_tableName;
  bool m_eof = true;
  std::string m_buffer;                       // reused for every variable-length value
  std::array<std::max_align_t, 2> m_fixed{};  // an unbound fixed-size value
};

}  // namespace quillon::odbc
