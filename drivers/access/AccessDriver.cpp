#include "drivers/access/AccessDriver.h"

#include <cmath>
#include <map>
#include <optional>

#include "drivers/OutputDriver.h"
#include "drivers/access/AccessDatabase.h"
#include "drivers/sql/DatePattern.h"
#include "drivers/sql/Statement.h"
#include "drivers/sql/ValueCheck.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/odbc/Installer.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::access {
namespace {

// A Memo holds up to 16 MB of text bytes, an OLE Object up to 16 MB of bytes.
constexpr std::size_t kMemoMaxChars = jet4::long_value::kMaxLength / 2;

std::filesystem::path ToPath(std::wstring_view path) { return std::filesystem::path(text::WideToUtf8(path)); }

FieldSpec ToField(const drivers::sql::ColumnDef& column) {
  using drivers::sql::ColumnType;
  FieldSpec field;
  field.name = text::WideToUtf16(column.name);
  switch (column.type) {
    case ColumnType::Text:
    case ColumnType::VarChar:
      field.type = jet4::ColumnType::Text;
      field.maxChars = static_cast<std::uint16_t>(column.length > 0 ? column.length : drivers::sql::kTextColumnLength);
      break;
    case ColumnType::Memo:
      field.type = jet4::ColumnType::Memo;
      break;
    case ColumnType::Double:
      field.type = jet4::ColumnType::Double;
      break;
    case ColumnType::Bit:
      field.type = jet4::ColumnType::Bit;
      break;
    case ColumnType::Integer:
      field.type = jet4::ColumnType::Long;
      break;
    case ColumnType::SmallInt:
      field.type = jet4::ColumnType::Integer;
      break;
    case ColumnType::Date:
    case ColumnType::Timestamp:
    case ColumnType::Time:
      field.type = jet4::ColumnType::DateTime;
      break;
    case ColumnType::LongBinary:
      field.type = jet4::ColumnType::Ole;
      break;
  }
  return field;
}

// The most a value of the column holds: UTF-16 units of text, bytes of an OLE Object.
std::size_t ColumnLimit(const drivers::sql::ColumnDef& column) {
  using drivers::sql::ColumnType;
  if (column.type == ColumnType::Memo) return kMemoMaxChars;
  if (column.type == ColumnType::LongBinary) return jet4::long_value::kMaxLength;
  return static_cast<std::size_t>(column.length > 0 ? column.length : drivers::sql::kTextColumnLength);
}

// A date serial as Jet stores it: before 1899-12-30 the fraction counts forward from the
// (negative) day, so the serial's day and time are taken apart and put back together.
double ToJetDate(double serial) {
  if (serial >= 0) return serial;
  const auto dt = drivers::sql::FromDateSerial(serial);
  return JetDate(dt.year, dt.month, dt.day, dt.hour, dt.minute, dt.second);
}

// Doubles below this size hold every whole number exactly.
constexpr double kExactWholeLimit = 0x1p53;

// `number` rounded half away from zero, as std::llround does; a whole number, as numbers for
// integer columns mostly are, is taken as it is without the library call.
std::int64_t RoundToWhole(double number) {
  if (std::fabs(number) < kExactWholeLimit) {
    const auto whole = static_cast<std::int64_t>(number);
    if (static_cast<double>(whole) == number) return whole;
  }
  return static_cast<std::int64_t>(std::llround(number));
}

// Sets `out` to the checked value in the kind the column type takes.
void ToValue(const drivers::sql::Value& value, jet4::ColumnType type, Value& out) {
  using Kind = drivers::sql::Value::Kind;
  out.kind = Value::Kind::Null;
  switch (value.kind) {
    case Kind::Null:
      break;
    case Kind::Boolean:
      out.kind = Value::Kind::Integer;
      out.integer = value.number != 0 ? 1 : 0;
      break;
    case Kind::Date:
      out.kind = Value::Kind::Double;
      out.number = ToJetDate(value.number);
      break;
    case Kind::Number:
      if (type == jet4::ColumnType::Double) {
        out.kind = Value::Kind::Double;
        out.number = value.number;
      } else {
        out.kind = Value::Kind::Integer;
        out.integer = RoundToWhole(value.number);
      }
      break;
    case Kind::Text:
      out.kind = Value::Kind::Text;
      text::WideToUtf16(value.text, out.text);
      break;
    case Kind::Binary:
      out.kind = Value::Kind::Bytes;
      out.bytes.assign(value.bytes.begin(), value.bytes.end());
      break;
  }
}

// A stored column as CREATE TABLE would describe it: Jet's other types as the nearest of those.
drivers::sql::ColumnDef ListedColumn(const ColumnSpec& stored) {
  drivers::sql::ColumnDef column{text::Utf16ToWide(stored.name), drivers::sql::ColumnType::Text, 0};
  switch (stored.type) {
    case jet4::ColumnType::Bit:
      column.type = drivers::sql::ColumnType::Bit;
      break;
    case jet4::ColumnType::Byte:
    case jet4::ColumnType::Integer:
      column.type = drivers::sql::ColumnType::SmallInt;
      break;
    case jet4::ColumnType::Long:
      column.type = drivers::sql::ColumnType::Integer;
      break;
    case jet4::ColumnType::Double:
      column.type = drivers::sql::ColumnType::Double;
      break;
    case jet4::ColumnType::DateTime:
      column.type = drivers::sql::ColumnType::Timestamp;
      break;
    case jet4::ColumnType::Memo:
      column.type = drivers::sql::ColumnType::Memo;
      break;
    case jet4::ColumnType::Binary:
    case jet4::ColumnType::FixedBinary:
    case jet4::ColumnType::Ole:
      column.type = drivers::sql::ColumnType::LongBinary;
      break;
    case jet4::ColumnType::Text:
    default:
      // Text keeps two bytes a character.
      column.type = drivers::sql::ColumnType::VarChar;
      column.length = stored.length / 2;
      break;
  }
  return column;
}

class AccessConnection : public OutputConnection {
 public:
  explicit AccessConnection(const OutputTarget& target)
      : OutputConnection(target),
        m_database(target.replace ? AccessDatabase(ToPath(target.path), AccessDatabase::Fresh::ReplaceFile)
                                  : AccessDatabase(ToPath(target.path))) {}

  ~AccessConnection() override { CloseQuietly(); }

 protected:
  std::vector<ListedTable> ListTables() override {
    std::vector<ListedTable> tables;
    for (const auto& stored : m_database.ListTables()) {
      ListedTable& table = tables.emplace_back(ListedTable{text::Utf16ToWide(stored.name), stored.system, {}});
      for (const auto& column : stored.columns) table.columns.push_back(ListedColumn(column));
    }
    return tables;
  }

  std::wstring CreateTable(const drivers::sql::CreateTable& statement) override {
    drivers::sql::CheckDatePatternFor(statement, DatePattern());
    std::vector<FieldSpec> fields;
    for (const auto& column : statement.columns) fields.push_back(ToField(column));
    m_database.CreateTable(text::WideToUtf16(statement.table), fields);
    m_columns[text::AsciiUpper(statement.table)] = statement.columns;
    return statement.table;
  }

  void Insert(const std::wstring& table, const std::vector<drivers::sql::Literal>& values) override {
    // An export inserts into one table many times over: look it up once.
    if (table != m_lastTable) {
      m_lastTable.clear();
      m_lastName = text::WideToUtf16(table);
      m_lastDefinition = m_database.FindTable(m_lastName);
      const auto columns = m_columns.find(text::AsciiUpper(table));
      if (m_lastDefinition == nullptr || columns == m_columns.end()) {
        m_database.Insert(m_lastName, {});  // reports the missing table
        return;
      }
      m_lastColumns = &columns->second;
      m_lastTable = table;
    }
    const auto& columns = *m_lastColumns;
    drivers::sql::CheckRules rules;
    rules.datePattern = DatePattern();
    drivers::sql::CheckRow(table, columns, values, rules, ColumnLimit, m_checked);
    const std::size_t count = columns.size();
    m_values.resize(count);
    const drivers::sql::Value* checked = m_checked.data();
    const ColumnSpec* stored = m_lastDefinition->columns.data();
    Value* value = m_values.data();
    for (std::size_t i = 0; i < count; ++i) ToValue(checked[i], stored[i].type, value[i]);
    m_database.Insert(m_lastName, m_values);
  }

  void WriteOut() override { m_database.Close(); }
  void WriteCheckpoint() override { m_database.Checkpoint(); }
  void Discard() noexcept override { m_database.Abandon(); }

 private:
  AccessDatabase m_database;  // locked from connect to destruction
  std::map<std::wstring, std::vector<drivers::sql::ColumnDef>> m_columns;
  std::vector<drivers::sql::Value> m_checked;  // the row as checked against its columns
  std::vector<Value> m_values;
  std::wstring m_lastTable;  // the table of the last INSERT, as the statement names it
  std::u16string m_lastName;
  const TableDefinition* m_lastDefinition = nullptr;
  const std::vector<drivers::sql::ColumnDef>* m_lastColumns = nullptr;
};

class AccessDriver : public OutputDriver {
 public:
  AccessDriver() : OutputDriver(kAccessDriverName, CreatesOnConnect::No) {}

  // ODBC_ADD_DSN with CREATE_DB="path" creates an empty database there; throws CDBException for
  // a path that exists or cannot be written; false for every other request.
  bool ConfigDataSource(unsigned short request, const std::vector<std::wstring>& attributes) override {
    if (request != odbc::ODBC_ADD_DSN) return false;
    for (const auto& entry : attributes) {
      const std::wstring path = CreateDbPath(entry);
      if (path.empty()) continue;
      // A refusal throws: the installer keeps its reason for the caller.
      AccessDatabase::Create(ToPath(path));
      return true;
    }
    return false;
  }

 protected:
  std::unique_ptr<OutputConnection> Open(const OutputTarget& target) override {
    return std::make_unique<AccessConnection>(target);
  }
};

}  // namespace

std::wstring CreateDbPath(std::wstring_view entry) {
  const auto equals = entry.find(L'=');
  if (equals == std::wstring_view::npos) return {};
  std::wstring_view key = entry.substr(0, equals);
  while (!key.empty() && key.back() == L' ') key.remove_suffix(1);
  while (!key.empty() && key.front() == L' ') key.remove_prefix(1);
  if (!text::EqualsIgnoreAsciiCase(key, odbc::key::kCreateDatabase)) return {};
  std::wstring_view value = entry.substr(equals + 1);
  while (!value.empty() && value.front() == L' ') value.remove_prefix(1);
  if (!value.empty() && value.front() == L'"') {
    const auto close = value.rfind(L'"');
    if (close == 0) return std::wstring(value.substr(1));
    return std::wstring(value.substr(1, close - 1));
  }
  if (!value.empty() && value.back() == L';') value.remove_suffix(1);
  return std::wstring(value);
}

std::shared_ptr<odbc::IBuiltInDriver> MakeAccessDriver() { return std::make_shared<AccessDriver>(); }

}  // namespace quillon::drivers::access
