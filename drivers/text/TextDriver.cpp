#include "drivers/text/TextDriver.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
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

// Characters below this are ASCII: one byte each in UTF-8, and never part of a longer character.
constexpr char32_t kAsciiLimit = 0x80;
using AsciiTable = std::array<std::uint8_t, kAsciiLimit>;

// Marks the ASCII characters that make a field quoted wherever they are.
constexpr AsciiTable SpecialCharacters(char delimiter) {
  AsciiTable table{};
  for (const char c : {delimiter, kQuote, '\r', '\n'}) table[static_cast<unsigned char>(c)] = 1;
  return table;
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }
bool IsBlankByte(char c) { return c == ' ' || c == '\t'; }

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
        m_file(quillon::text::WideToUtf8(target.path), file::FileReplacement::Existing::Replace),
        m_special(SpecialCharacters(format.delimiter)) {
    if (!m_file.Exists() && !target.mayCreate) throw odbc::errors::FileNotFound(Path());
    // A file that is replaced counts as new: its content is never read.
    m_holdsTable = m_file.Exists() && !target.replace;
    // Sized once: fields are written through a pointer into it, never by growing a string.
    m_buffer.resize(kBufferBytes + kBufferBytes / 4);
    m_put = m_buffer.data();
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
    StartLine(m_columns.size(), 0);
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
      if (i > 0) PutDelimiter();
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
    StartLine(values.size(), odbc::kMaxNumberTextChars);
    for (const sql::Literal& value : values) {
      if (&value != values.data()) PutDelimiter();
      switch (value.kind) {
        case sql::Literal::Kind::Null:
          break;
        case sql::Literal::Kind::Integer:
        case sql::Literal::Kind::Double:
        case sql::Literal::Kind::Boolean:
          // A value the engine gave unwritten is written as its literal's text, which for a
          // number is never empty and holds nothing that is quoted.
          m_put = odbc::PutNumberText(m_put, value);
          break;
        case sql::Literal::Kind::DateTime:
          AppendDate(value);
          break;
        default:
          AppendField(value.text, value.kind == sql::Literal::Kind::Text);
          break;
      }
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
  // A pointer to room for `bytes` more at the end of the buffer, and the line's room after them
  // (see StartLine); the buffer grows only for a line longer than its slack.
  char* Room(std::size_t bytes) {
    bytes += m_lineRoom;
    if (static_cast<std::size_t>(m_buffer.data() + m_buffer.size() - m_put) < bytes) [[unlikely]]
      Grow(bytes);
    return m_put;
  }

  // Makes room at once for the line's delimiters and end and for `fields` fields of up to
  // `fieldBytes` each, which are then written without a check; a field that may be longer (text
  // or a date) asks for its own room, which keeps this much after it.
  void StartLine(std::size_t fields, std::size_t fieldBytes) {
    m_lineRoom = fields * (fieldBytes + 1) + m_format.lineEnd.size();
    Room(0);
  }

  void Grow(std::size_t bytes) {
    const auto used = static_cast<std::size_t>(m_put - m_buffer.data());
    m_buffer.resize(std::max(m_buffer.size() * 2, used + bytes));
    m_put = m_buffer.data() + used;
  }

  void PutDelimiter() { *m_put++ = m_format.delimiter; }

  // Whether an unquoted field's byte makes it quoted wherever it is.
  bool IsSpecial(unsigned char c) const { return c < kAsciiLimit && m_special[c] != 0; }

  // Whether UTF-8 text of a field that is text (empty is not NULL) is quoted. A blank, as any
  // ASCII character, is never part of a longer character's encoding.
  bool NeedsQuotes(const char* begin, const char* end) const {
    return begin == end || IsBlankByte(*begin) || IsBlankByte(end[-1]) ||
           std::any_of(begin, end, [this](char c) { return IsSpecial(static_cast<unsigned char>(c)); });
  }

  // Puts quotes around the field written from `begin` to the end of the buffer, which has room
  // for them and for each inner quote doubled, and doubles its inner quotes.
  void Enclose(char* begin) {
    char* end = m_put;
    const auto quotes = static_cast<std::size_t>(std::count(begin, end, kQuote));
    char* to = end + quotes + 2;
    m_put = to;
    *--to = kQuote;
    while (end != begin) {
      const char c = *--end;
      *--to = c;
      if (c == kQuote) *--to = kQuote;
    }
    *--to = kQuote;
  }

  // Appends one field, quoted when a reader would otherwise take it for something else; `text`
  // says whether empty is empty text (quoted) rather than NULL. Written unquoted in one pass that
  // notes what makes it quoted, then enclosed when it is (rarely).
  void AppendField(std::wstring_view field, bool text) {
    // Room for the longest encoding, the quotes and each doubled quote (two bytes of its four).
    char* const begin = Room(2 + field.size() * quillon::text::kMaxUtf8Bytes);
    char* out = begin;
    const std::uint8_t* const special = m_special.data();
    unsigned quote = 0;  // nonzero when a special character was seen
    for (const wchar_t c : field) {
      const auto code = static_cast<char32_t>(c);
      if (code < kAsciiLimit) [[likely]] {
        *out++ = static_cast<char>(code);
        quote |= special[code];
      } else {
        out = quillon::text::PutUtf8(out, code);
      }
    }
    m_put = out;
    if (quote != 0 || (text && field.empty()) || (!field.empty() && (IsBlank(field.front()) || IsBlank(field.back()))))
      Enclose(begin);
  }

  // Appends a date by its literal's pattern. Date parts are digits and '-', so whether the text
  // is quoted depends on the pattern alone: that, and the pattern read, are kept for the next
  // date by the same pattern.
  void AppendDate(const sql::Literal& value) {
    const bool timeOfDay = value.dateForm == sql::Literal::DateForm::TimeOfDay;
    if (!m_date || m_date->timeOfDay != timeOfDay || m_date->pattern != value.datePattern) {
      m_date.reset();
      odbc::DateWriter writer(timeOfDay ? odbc::TimeOfDayPattern(value.datePattern) : value.datePattern);
      // Any date tells: this one is written and taken back.
      char* const sample = Room(writer.MaxBytes());
      const bool quoted = NeedsQuotes(sample, writer.Write(sample, {}));
      m_date.emplace(DateByPattern{std::wstring(value.datePattern), timeOfDay, std::move(writer), quoted});
    }
    char* const begin = Room(2 * m_date->writer.MaxBytes() + 2);
    m_put = m_date->writer.Write(begin, value.date);
    if (m_date->quoted) Enclose(begin);
  }

  void EndLine() {
    char* out = m_put;
    for (const char c : m_format.lineEnd) *out++ = c;
    m_put = out;
    if (static_cast<std::size_t>(m_put - m_buffer.data()) >= kBufferBytes) Flush();
  }

  void Flush() {
    const auto used = static_cast<std::size_t>(m_put - m_buffer.data());
    if (used == 0) return;
    file::WriteAll(m_file.WorkFile(), m_buffer.data(), used, -1, m_file.Target());
    m_put = m_buffer.data();
  }

  // A date pattern as DateWriter reads it, and whether the dates it writes are quoted.
  struct DateByPattern {
    std::wstring pattern;  // as the literal gives it
    bool timeOfDay;        // its time part is written
    odbc::DateWriter writer;
    bool quoted;
  };

  TextFormat m_format;
  file::FileReplacement m_file;  // locked from connect to destruction
  bool m_holdsTable = false;     // the file has its one table: no other is created
  bool m_created = false;        // this connection created it
  std::wstring m_table;
  std::vector<sql::ColumnDef> m_columns;
  std::vector<sql::Value> m_checked;  // the row as checked against its columns
  AsciiTable m_special;               // the characters IsSpecial takes
  std::string m_buffer;               // up to m_put: UTF-8 not yet handed to the file
  char* m_put = nullptr;
  std::size_t m_lineRoom = 0;           // the room StartLine made, kept after each field
  std::optional<DateByPattern> m_date;  // the pattern of the last date
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
