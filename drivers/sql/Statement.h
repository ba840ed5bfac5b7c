// The SQL that the built-in output drivers take, parsed: CREATE TABLE and INSERT INTO ... VALUES.
//
//   CREATE TABLE name (column type, ...) [;]
//   INSERT INTO name VALUES(literal, ...) [;]
//
// Keywords in any letter case. A name is [bracketed], 'in apostrophes' or "in double quotes"
// (the closing character doubled, "]]" within brackets, stands for itself), or bare. A bare column name runs to
// the next blank; a bare table name, which the export puts in as it is, runs up to the column
// list of CREATE TABLE and up to the keyword VALUES of INSERT INTO, surrounding blanks trimmed;
// it holds no parentheses.
// Types: TEXT, VARCHAR(n) with n from 1 to 255, MEMO, DOUBLE, BIT, INTEGER, SMALLINT, DATE,
// TIMESTAMP, TIME, LONGBINARY. DATE holds a date and time of day in Access and .xls files; the
// typed formats tell a date (DATE), a date and time (TIMESTAMP) and a time of day (TIME) apart.
// Literals: NULL, numbers ([+-]digits[.digits][e[+-]digits], or the doubles NaN, Infinity and
// -Infinity in any letter case; as written), 'text' with each inner apostrophe doubled, and
// binary values: 0x then two hexadecimal digits a byte (0x alone is no bytes, unlike NULL).
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/odbc/Literal.h"

namespace quillon::drivers::sql {

enum class ColumnType { Text, VarChar, Memo, Double, Bit, Integer, SmallInt, Date, Timestamp, Time, LongBinary };

// Whether a column holds dates or times of day (DATE, TIMESTAMP, TIME): its values are serials.
inline bool IsDateTimeType(ColumnType type) {
  return type == ColumnType::Date || type == ColumnType::Timestamp || type == ColumnType::Time;
}

inline constexpr int kTextColumnLength = 255;
inline constexpr int kMaxVarCharLength = 255;

struct ColumnDef {
  std::wstring name;
  ColumnType type = ColumnType::Text;
  int length = 0;  // characters for TEXT (255) and VARCHAR(n); 0 for the other types
};

struct CreateTable {
  std::wstring table;
  std::vector<ColumnDef> columns;  // at least one
};

// A number as written (sign included), text with its apostrophes undoubled.
using Literal = odbc::Literal;

struct Insert {
  std::wstring table;
  std::vector<Literal> values;  // at least one
};

using Statement = std::variant<CreateTable, Insert>;

// Parses one statement; throws odbc::CDBException (SQLSTATE 42000) whose message says what is
// wrong and at which character (counted from 1).
Statement Parse(std::wstring_view text);
// The same into `out`, reusing the storage it holds (for one statement after another, as an
// export sends them). After a syntax error `out` holds no meaningful statement.
void Parse(std::wstring_view text, Statement& out);

// In place of parsing "INSERT INTO <table> VALUES(<values>);" for a row whose values are already
// literals (text written in apostrophes, inner ones doubled): Read says whether that text would
// read back as exactly these values, and Table() is then the table name it reads. When Read is
// false (no values, a number not written as a number, a table name the statement would not
// read), only the text itself says what happens. The last table name is remembered, so the rows
// of one export read it once.
class InsertWithoutText {
 public:
  bool Read(std::wstring_view table, const std::vector<Literal>& values);
  const std::wstring& Table() const { return m_table; }

 private:
  std::wstring m_given;  // the table as Read last took it
  std::wstring m_table;  // the name the statement reads from it
  bool m_known = false;
};

// The keyword of a column type as the SQL writes it ("VARCHAR" for VarChar).
std::wstring_view TypeName(ColumnType type);

}  // namespace quillon::drivers::sql
