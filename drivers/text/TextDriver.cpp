#include "drivers/text/TextDriver.h"

#include <string>
#include <string_view>
#include <vector>

#include "drivers/OutputDriver.h"
#include "drivers/sql/ValueCheck.h"
#include "platform/errors/Errors.h"
#include "platform/file/FileDescriptor.h"
#include "platform/file/FileReplacement.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::delimited {
namespace {

// How one kind of delimited text is written.
struct TextFormat {
  char delimiter;
  std::string_view lineEnd;
};
constexpr TextFormat kTabSeparated{'\t', "\n"};
constexpr TextFormat kCommaSeparated{',', "\r\n"};

constexpr char kQuote = '"';
// The writer hands the file this much at a time.
constexpr std::size_t kBufferBytes = std::size_t{1} << 16;

// Every column takes text of any length.
std::size_t NoLimit(const sql::ColumnDef&) { return static_cast<std::size_t>(-1); }

// The most UTF-8 bytes one character takes.
constexpr std::size_t kMaxUtf8Bytes = 4;

// Puts `c` as UTF-8 at `out`; returns the end of what it put.
char* PutUtf8(char* out, wchar_t c) {
  const auto code = static_cast<char32_t>(c);
  if (code < 0x80) {
    *out++ = static_cast<char>(code);
  } else if (code < 0x800) {
    *out++ = static_cast<char>(0xC0 | (code >> 6));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (code >> 12));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (code >> 18));
    *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The longest first line read for the names of a file's columns.
constexpr std::size_t kMaxHeaderBytes = std::size_t{1} << 20;
// The byte order mark a UTF-8 file may start with, which is no part of its first field.
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The fields of a delimited line (quotes as AppendField writes them); the line ends at the first
// line break outside quotes.
std::vector<std::wstring> HeaderFields(std::string_view bytes, char delimiter) {
  std::vector<std::wstring> fields;
  std::string field;
  bool quoted = false;
  std::size_t i = 0;
  for (; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (quoted) {
      if (c != kQuote) {
        field.push_back(c);
      } else if (i + 1 < bytes.size() && bytes[i + 1] == kQuote) {
        field.push_back(kQuote);
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == kQuote) {
      quoted = true;
    } else if (c == delimiter) {
      fields.push_back(quillon::text::Utf8ToWide(field));
      field.clear();
    } else if (c == '\r' || c == '\n') {
      break;
    } else {
      field.push_back(c);
    }
  }
  if (!bytes.empty()) fields.push_back(quillon::text::Utf8ToWide(field));
  return fields;
}

// The file's name without folder and extension.
std::wstring FileTableName(const std::wstring& path) {
  const std::size_t slash = path.rfind(L'/');
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  if (const std::size_t dot = name.rfind(L'.'); dot != std::wstring::npos && dot > 0) name.resize(dot);
  return name;
}

class TextConnection : public OutputConnection {
 public:
  TextConnection(const OutputTarget& target, const TextFormat& format)
      : OutputConnection(target),
        m_format(format),
        m_file(quillon::text::WideToUtf8(target.path), file::FileReplacement::Existing::Replace) {
    if (!m_file.Exists() && !target.mayCreate) throw odbc::errors::FileNotFound(Path());
    // A file that is replaced counts as new: its content is never read.
    m_holdsTable = m_file.Exists() && !target.replace;
    m_buffer.reserve(kBufferBytes + kBufferBytes / 4);
  }

  ~TextConnection() override { CloseQuietly(); }

 protected:
  // The file's one table: named as it was created on this connection, else after the file,
  // its columns the first line's fields as text.
  std::vector<ListedTable> ListTables() override {
    if (m_created) return {{m_table, false, m_columns}};
    if (!m_holdsTable) return {};
    ListedTable table{FileTableName(Path()), false, {}};
    std::string header(kMaxHeaderBytes, '\0');
    header.resize(file::ReadAll(m_file.Original(), header.data(), header.size(), 0, m_file.Target()));
    std::string_view bytes = header;
    if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
    for (auto& name : HeaderFields(bytes, m_format.delimiter)) {
      table.columns.push_back({std::move(name), sql::ColumnType::Text, sql::kTextColumnLength});
    }
    return {table};
  }

  std::wstring CreateTable(const sql::CreateTable& statement) override {
    if (m_holdsTable) throw odbc::errors::FileHoldsTable(Path());
    m_holdsTable = true;
    m_table = statement.table;
    m_columns = statement.columns;
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
      if (i > 0) m_buffer.push_back(m_format.delimiter);
      AppendField(m_columns[i].name, true);
    }
    EndLine();
    m_created = true;
    return statement.table;
  }

  void Insert(const std::wstring& table, const std::vector<sql::Literal>& values) override {
    // The rows of an export name the table as it was created: letter case is compared only then.
    if (!m_created && m_holdsTable) throw odbc::errors::TableFromBefore(table);
    if (!m_created || (table != m_table && !quillon::text::EqualsIgnoreAsciiCase(table, m_table)))
      throw odbc::errors::NoSuchTable(table);
    sql::CheckRules rules;
    rules.anyWholeNumber = true;
    rules.datePattern = DatePattern();
    rules.numberTextOnDemand = true;  // the fields are written from the literals
    sql::CheckRow(table, m_columns, values, rules, NoLimit, m_checked);
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i > 0) m_buffer.push_back(m_format.delimiter);
      const sql::Literal& value = values[i];
      if (value.kind == sql::Literal::Kind::Null) continue;
      if (!value.IsTyped()) {
        AppendField(value.text, value.kind == sql::Literal::Kind::Text);
        continue;
      }
      // A value the engine gave unwritten is written as its literal's text: a date is text.
      m_rendered.clear();
      odbc::AppendLiteralText(m_rendered, value);
      AppendField(m_rendered, value.kind == sql::Literal::Kind::DateTime);
    }
    EndLine();
  }

  // A new file is only written when a table was created in it.
  void WriteOut() override {
    if (!m_created) return;
    Flush();
    m_file.Commit();
  }

  // The lines so far, as a copy: the work file goes on taking lines.
  void WriteCheckpoint() override {
    if (!m_created) return;
    Flush();
    m_file.CommitCopy();
  }

 private:
  // Appends one field, quoted when a reader would otherwise take it for something else; `text`
  // says whether empty is empty text (quoted) rather than NULL.
  void AppendField(std::wstring_view field, bool text) {
    bool quote = (text && field.empty()) || (!field.empty() && (IsBlank(field.front()) || IsBlank(field.back())));
    for (std::size_t i = 0; !quote && i < field.size(); ++i) {
      const wchar_t c = field[i];
      quote = c == static_cast<wchar_t>(m_format.delimiter) || c == kQuote || c == L'\r' || c == L'\n';
    }
    // Room for the longest encoding first (a doubled quote takes two bytes of its four), then
    // cut to what was put.
    const std::size_t at = m_buffer.size();
    m_buffer.resize(at + 2 + field.size() * kMaxUtf8Bytes);
    char* out = m_buffer.data() + at;
    if (quote) *out++ = kQuote;
    for (const wchar_t c : field) {
      if (c == kQuote) *out++ = kQuote;
      out = PutUtf8(out, c);
    }
    if (quote) *out++ = kQuote;
    m_buffer.resize(static_cast<std::size_t>(out - m_buffer.data()));
  }

  void EndLine() {
    m_buffer.append(m_format.lineEnd);
    if (m_buffer.size() >= kBufferBytes) Flush();
  }

  void Flush() {
    if (m_buffer.empty()) return;
    file::WriteAll(m_file.WorkFile(), m_buffer.data(), m_buffer.size(), -1, m_file.Target());
    m_buffer.clear();
  }

  TextFormat m_format;
  file::FileReplacement m_file;  // locked from connect to destruction
  bool m_holdsTable = false;     // the file has its one table: no other is created
  bool m_created = false;        // this connection created it
  std::wstring m_table;
  std::vector<sql::ColumnDef> m_columns;
  std::vector<sql::Value> m_checked;  // the row as checked against its columns
  std::string m_buffer;               // UTF-8 not yet handed to the file
  std::wstring m_rendered;            // the text of a typed literal
};

class TextDriver : public OutputDriver {
 public:
  TextDriver(std::wstring name, const TextFormat& format)
      : OutputDriver(std::move(name), CreatesOnConnect::Yes), m_format(format) {}

 protected:
  std::unique_ptr<OutputConnection> Open(const OutputTarget& target) override {
    return std::make_unique<TextConnection>(target, m_format);
  }

 private:
  TextFormat m_format;
};

}  // namespace

std::shared_ptr<odbc::IBuiltInDriver> MakeTextDriver() {
  return std::make_shared<TextDriver>(kTextDriverName, kTabSeparated);
}

std::shared_ptr<odbc::IBuiltInDriver> MakeCsvDriver() {
  return std::make_shared<TextDriver>(kCsvDriverName, kCommaSeparated);
}

}  // namespace quillon::drivers::delimited
