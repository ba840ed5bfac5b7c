#include "drivers/sql/Statement.h"

#include <array>
#include <string>

#include "platform/errors/Errors.h"
#include "platform/text/Characters.h"
#include "platform/text/SqlLexer.h"

namespace quillon::drivers::sql {
namespace {

// Keywords as views, their lengths known without measuring the text.
constexpr std::wstring_view kCreate = L"CREATE";
constexpr std::wstring_view kTable = L"TABLE";
constexpr std::wstring_view kInsert = L"INSERT";
constexpr std::wstring_view kInto = L"INTO";
constexpr std::wstring_view kValues = L"VALUES";
constexpr std::wstring_view kNull = L"NULL";
constexpr std::array<std::wstring_view, 2> kNonFiniteWords = {L"NAN", L"INFINITY"};

struct TypeKeyword {
  std::wstring_view keyword;
  ColumnType type;
};
constexpr std::array<TypeKeyword, 11> kTypeKeywords = {{
    {L"TEXT", ColumnType::Text},
    {L"VARCHAR", ColumnType::VarChar},
    {L"MEMO", ColumnType::Memo},
    {L"DOUBLE", ColumnType::Double},
    {L"BIT", ColumnType::Bit},
    {L"INTEGER", ColumnType::Integer},
    {L"SMALLINT", ColumnType::SmallInt},
    {L"DATE", ColumnType::Date},
    {L"TIMESTAMP", ColumnType::Timestamp},
    {L"TIME", ColumnType::Time},
    {L"LONGBINARY", ColumnType::LongBinary},
}};
// A binary literal: this prefix (x in either case), then two hexadecimal digits a byte.
constexpr wchar_t kBinaryDigit0 = L'0';
constexpr wchar_t kBinaryMark = L'x';

// Names in brackets, apostrophes or double quotes and text in apostrophes; no comments.
constexpr text::SqlDialect kBuiltInSql = {L"['\"", false};

constexpr auto& IsBlank = text::IsAsciiBlank;
constexpr auto& IsDigit = text::IsAsciiDigit;
bool IsWordChar(wchar_t c) { return IsDigit(c) || text::IsAsciiLetter(c) || c == L'_'; }

class Parser {
 public:
  explicit Parser(std::wstring_view text) : m_text(text) {}

  void ParseStatement(Statement& out) {
    SkipBlanks();
    if (TakeKeyword(kCreate)) {
      m_what = L"CREATE TABLE";
      ExpectKeyword(kTable);
      if (!std::holds_alternative<CreateTable>(out)) out.emplace<CreateTable>();
      ParseCreate(std::get<CreateTable>(out));
      return;
    }
    if (TakeKeyword(kInsert)) {
      m_what = L"INSERT INTO";
      ExpectKeyword(kInto);
      if (!std::holds_alternative<Insert>(out)) out.emplace<Insert>();
      ParseInsert(std::get<Insert>(out));
      return;
    }
    Fail(L"expected CREATE TABLE or INSERT INTO");
  }

 private:
  [[noreturn]] void Fail(std::wstring_view problem) const { FailAt(m_pos, problem); }
  [[noreturn]] void FailAt(std::size_t pos, std::wstring_view problem) const {
    constexpr std::size_t kFoundChars = 20;  // of the text where the parser stopped, in the message
    const std::wstring_view found = pos < m_text.size() ? m_text.substr(pos, kFoundChars) : std::wstring_view();
    throw odbc::errors::SyntaxError(m_what, pos, problem, found,
                                    m_text.size() - std::min(pos, m_text.size()) > kFoundChars);
  }

  bool AtEnd() const { return m_pos >= m_text.size(); }
  wchar_t Peek() const { return AtEnd() ? L'\0' : m_text[m_pos]; }
  void SkipBlanks() {
    while (!AtEnd() && IsBlank(m_text[m_pos])) ++m_pos;
  }

  // A keyword matches whole: the character after it must not continue a word.
  bool KeywordAt(std::size_t pos, std::wstring_view keyword) const {
    if (m_text.size() - pos < keyword.size()) return false;
    for (std::size_t i = 0; i < keyword.size(); ++i) {
      if (text::AsciiUpper(m_text[pos + i]) != keyword[i]) return false;
    }
    const std::size_t after = pos + keyword.size();
    return after >= m_text.size() || !IsWordChar(m_text[after]);
  }
  bool TakeKeyword(std::wstring_view keyword) {
    if (AtEnd() || !KeywordAt(m_pos, keyword)) return false;
    m_pos += keyword.size();
    SkipBlanks();
    return true;
  }
  void ExpectKeyword(std::wstring_view keyword) {
    if (!TakeKeyword(keyword)) Fail(L"expected " + std::wstring(keyword));
  }
  void Expect(wchar_t c, std::wstring_view problem) {
    if (Peek() != c) Fail(problem);
    ++m_pos;
    SkipBlanks();
  }

  bool AtQuotedName() const { return kBuiltInSql.quotes.find(Peek()) != std::wstring_view::npos; }

  // Reads the quoted name or text at m_pos into `content`. False, with m_pos after the opening
  // character, when it is not closed.
  bool ReadQuoted(std::wstring& content) {
    content.clear();
    const text::SqlToken token = text::SqlTokenAt(m_text, m_pos, kBuiltInSql, &content);
    m_pos = token.closed ? token.end : m_pos + 1;
    return token.closed;
  }

  std::wstring QuotedName(std::wstring_view what) {
    const std::size_t start = m_pos;
    std::wstring name;
    if (!ReadQuoted(name)) FailAt(start, L"the " + std::wstring(what) + L" is not closed");
    if (name.empty()) FailAt(start, L"the " + std::wstring(what) + L" is empty");
    SkipBlanks();
    return name;
  }

  // A table name wholly in quotes or brackets. One that merely starts with a quote, such as
  // "dbo"_"Orders" (a quoted source name with its '.' replaced), is read bare instead.
  template <typename NextIsExpected>
  bool TryQuotedTableName(std::wstring& name, NextIsExpected nextIsExpected) {
    if (!AtQuotedName()) return false;
    const std::size_t start = m_pos;
    if (ReadQuoted(name) && !name.empty()) {
      SkipBlanks();
      if (nextIsExpected()) return true;
    }
    m_pos = start;
    return false;
  }

  // A bare table name: everything up to `end` (exclusive), blanks trimmed.
  void BareTableName(std::size_t end, std::wstring& name) {
    std::size_t last = end;
    while (last > m_pos && IsBlank(m_text[last - 1])) --last;
    if (last == m_pos) Fail(L"expected a table name");
    name.assign(m_text.substr(m_pos, last - m_pos));
    m_pos = end;
    SkipBlanks();
  }

  void ParseCreate(CreateTable& create) {
    create.columns.clear();
    if (!TryQuotedTableName(create.table, [this] { return Peek() == L'('; })) {
      const std::size_t open = m_text.find(L'(', m_pos);
      BareTableName(open == std::wstring_view::npos ? m_text.size() : open, create.table);
    }
    Expect(L'(', L"expected '(' to open the column list");
    for (;;) {
      create.columns.push_back(ParseColumn());
      if (Peek() == L',') {
        ++m_pos;
        SkipBlanks();
        continue;
      }
      Expect(L')', L"expected ',' or ')' after a column definition");
      break;
    }
    ParseEnd();
  }

  ColumnDef ParseColumn() {
    ColumnDef column;
    if (AtQuotedName()) {
      column.name = QuotedName(L"column name");
    } else {
      const std::size_t start = m_pos;
      while (!AtEnd() && !IsBlank(m_text[m_pos]) && m_text[m_pos] != L',' && m_text[m_pos] != L'(' &&
             m_text[m_pos] != L')') {
        ++m_pos;
      }
      if (m_pos == start) Fail(L"expected a column name");
      column.name = std::wstring(m_text.substr(start, m_pos - start));
      SkipBlanks();
    }
    const std::size_t typePos = m_pos;
    for (const auto& entry : kTypeKeywords) {
      if (KeywordAt(m_pos, entry.keyword)) {
        m_pos += entry.keyword.size();
        SkipBlanks();
        column.type = entry.type;
        break;
      }
    }
    if (m_pos == typePos)
      Fail(
          L"expected a column type (TEXT, VARCHAR(n), MEMO, DOUBLE, BIT, INTEGER, SMALLINT, DATE, TIMESTAMP, TIME or "
          L"LONGBINARY)");
    if (column.type == ColumnType::Text) column.length = kTextColumnLength;
    if (column.type == ColumnType::VarChar) {
      Expect(L'(', L"expected '(' and a length after VARCHAR");
      const std::size_t numberPos = m_pos;
      long length = 0;
      while (IsDigit(Peek())) {
        if (length <= kMaxVarCharLength) length = length * 10 + (Peek() - L'0');
        ++m_pos;
      }
      if (m_pos == numberPos) Fail(L"expected the length of VARCHAR");
      if (length < 1 || length > kMaxVarCharLength) FailAt(numberPos, L"the length of VARCHAR must be from 1 to 255");
      column.length = static_cast<int>(length);
      SkipBlanks();
      Expect(L')', L"expected ')' after the length of VARCHAR");
    }
    return column;
  }

  // Fills `insert`, reusing the storage of the values it held.
  void ParseInsert(Insert& insert) {
    if (TryQuotedTableName(insert.table, [this] { return KeywordAt(m_pos, kValues); })) {
      ExpectKeyword(kValues);
    } else {
      // The first VALUES keyword after a blank ends the name.
      std::size_t at = m_pos;
      std::size_t valuesPos = std::wstring_view::npos;
      for (; at < m_text.size() && m_text[at] != L'('; ++at) {
        if (at > m_pos && IsBlank(m_text[at - 1]) && KeywordAt(at, kValues)) {
          valuesPos = at;
          break;
        }
      }
      if (valuesPos == std::wstring_view::npos) {
        m_pos = at;
        Fail(L"expected VALUES");
      }
      BareTableName(valuesPos, insert.table);
      ExpectKeyword(kValues);
    }
    Expect(L'(', L"expected '(' to open the value list");
    std::size_t count = 0;
    for (;;) {
      if (count == insert.values.size()) insert.values.emplace_back();
      ParseLiteral(insert.values[count++]);
      if (Peek() == L',') {
        ++m_pos;
        SkipBlanks();
        continue;
      }
      Expect(L')', L"expected ',' or ')' after a value");
      break;
    }
    ParseEnd();
    insert.values.resize(count);
  }

  void ParseLiteral(Literal& literal) {
    literal.kind = Literal::Kind::Null;
    literal.text.clear();
    literal.bytes.clear();
    literal.wellFormed = false;
    literal.holdsNumber = false;
    const wchar_t c = Peek();
    if (c == L'\'') {
      const std::size_t start = m_pos;
      literal.kind = Literal::Kind::Text;
      if (!ReadQuoted(literal.text)) FailAt(start, L"the text value is not closed");
      SkipBlanks();
      return;
    }
    if (KeywordAt(m_pos, kNull)) {
      m_pos += kNull.size();
      SkipBlanks();
      return;
    }
    const std::size_t start = m_pos;
    if (c == kBinaryDigit0 && m_pos + 1 < m_text.size() && text::AsciiLower(m_text[m_pos + 1]) == kBinaryMark) {
      ParseBinary(literal);
      return;
    }
    const NumberScan scan = ScanNumber();
    if (!scan.problem.empty()) FailAt(scan.at, scan.problem);
    literal.kind = Literal::Kind::Number;
    literal.text.assign(m_text.substr(start, m_pos - start));
    literal.wellFormed = true;  // just read as one number token
    SkipBlanks();
  }

  static int HexValue(wchar_t c) {
    if (IsDigit(c)) return c - L'0';
    const wchar_t lower = text::AsciiLower(c);
    return lower >= L'a' && lower <= L'f' ? lower - L'a' + 10 : -1;
  }

  // 0x and pairs of hexadecimal digits, at m_pos.
  void ParseBinary(Literal& literal) {
    const std::size_t start = m_pos;
    m_pos += 2;
    literal.kind = Literal::Kind::Binary;
    literal.bytes.clear();
    for (;;) {
      const int high = HexValue(Peek());
      if (high < 0) break;
      ++m_pos;
      const int low = HexValue(Peek());
      if (low < 0) Fail(L"a binary value needs two hexadecimal digits a byte");
      ++m_pos;
      literal.bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    if (IsWordChar(Peek())) Fail(L"unexpected character in a binary value");
    literal.text.assign(m_text.substr(start, m_pos - start));
    SkipBlanks();
  }

 public:
  // Whether the whole text is one number literal, as ParseLiteral reads it.
  bool WholeNumber() {
    if (m_text.empty()) return false;
    return ScanNumber().problem.empty() && AtEnd();
  }

 private:
  struct NumberScan {
    std::wstring_view problem;  // empty when a number was read
    std::size_t at = 0;         // where the problem is
  };
  // Reads a number at m_pos (sign, then digits or a non-finite word, then an exponent), leaving
  // m_pos after it; or says what is wrong and where.
  NumberScan ScanNumber() {
    const std::size_t start = m_pos;
    if (Peek() == L'+' || Peek() == L'-') ++m_pos;
    // The doubles that have no digits: NaN, Infinity and -Infinity.
    for (const std::wstring_view word : kNonFiniteWords) {
      if (KeywordAt(m_pos, word)) {
        m_pos += word.size();
        return {};
      }
    }
    std::size_t digits = 0;
    while (IsDigit(Peek())) ++m_pos, ++digits;
    if (Peek() == L'.') {
      ++m_pos;
      while (IsDigit(Peek())) ++m_pos, ++digits;
    }
    if (digits == 0) return {L"expected a value (a number, 'text' or NULL)", start};
    if (Peek() == L'e' || Peek() == L'E') {
      ++m_pos;
      if (Peek() == L'+' || Peek() == L'-') ++m_pos;
      if (!IsDigit(Peek())) return {L"expected the digits of an exponent", m_pos};
      while (IsDigit(Peek())) ++m_pos;
    }
    if (IsWordChar(Peek()) || Peek() == L'.') return {L"unexpected character in a number", m_pos};
    return {};
  }

  void ParseEnd() {
    if (Peek() == L';') {
      ++m_pos;
      SkipBlanks();
    }
    if (!AtEnd()) Fail(L"unexpected text after the end of the statement");
  }

  std::wstring_view m_text;
  std::size_t m_pos = 0;
  std::wstring_view m_what;
};

}  // namespace

Statement Parse(std::wstring_view text) {
  Statement statement;
  Parser(text).ParseStatement(statement);
  return statement;
}

void Parse(std::wstring_view text, Statement& out) { Parser(text).ParseStatement(out); }

bool InsertWithoutText::Read(std::wstring_view table, const std::vector<Literal>& values) {
  if (values.empty()) return false;
  for (const Literal& value : values) {
    if (value.kind == Literal::Kind::Number && !value.wellFormed && !Parser(value.text).WholeNumber()) return false;
  }
  if (m_known && table == m_given) return true;
  // The name as the statement's own text gives it: the part before the values decides it alone.
  m_known = false;
  std::wstring probe;
  probe.reserve(table.size() + 32);
  probe += L"INSERT INTO ";
  probe += table;
  probe += L" VALUES(NULL);";
  Statement statement;
  try {
    Parse(probe, statement);
  } catch (const odbc::CDBException&) {
    return false;
  }
  m_table = std::move(std::get<Insert>(statement).table);
  m_given.assign(table);
  m_known = true;
  return true;
}

std::wstring_view TypeName(ColumnType type) {
  for (const auto& entry : kTypeKeywords) {
    if (entry.type == type) return entry.keyword;
  }
  return L"TEXT";
}

}  // namespace quillon::drivers::sql
