#include "drivers/xlsx/XlsxDriver.h"

#include <unistd.h>

#include <cerrno>

#include "drivers/OutputDriver.h"
#include "drivers/sql/SheetName.h"
#include "drivers/xlsx/ExistingWorkbook.h"
#include "drivers/xlsx/SheetWriter.h"
#include "drivers/xlsx/WorkbookParts.h"
#include "drivers/xlsx/ZipWriter.h"
#include "platform/errors/Errors.h"
#include "platform/file/FileReplacement.h"
#include "platform/text/Characters.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::xlsx {
namespace {

constexpr std::wstring_view kWorkbookText = L"an Excel workbook (.xlsx)";

bool SameName(std::u16string_view a, std::u16string_view b) { return text::SameNameIgnoringCase(a, b); }

// The table name a sheet is named after: a control character, which a sheet name in the
// package's XML cannot hold, becomes '_' as the characters Excel forbids do.
std::wstring SheetNameSource(std::wstring_view table) {
  std::wstring name(table);
  for (wchar_t& c : name) {
    if (c < sml::kFirstPrintable) c = sml::kSheetNameReplacement;
  }
  return name;
}

class XlsxConnection : public OutputConnection {
 public:
  XlsxConnection(const OutputTarget& target, const XlsxLimits& limits)
      : OutputConnection(target),
        m_file(text::WideToUtf8(target.path), file::FileReplacement::Existing::Replace),
        m_limits(limits) {
    // A file that is replaced counts as new: its content is never read.
    if (m_file.Exists() && !target.replace) {
      m_base = OpenExisting();
    } else if (!m_file.Exists() && !target.mayCreate) {
      throw odbc::errors::FileNotFound(Path());
    }
  }

  ~XlsxConnection() override { CloseQuietly(); }

 protected:
  // Each sheet is a table; an existing sheet's columns are its first row's texts, as text.
  std::vector<ListedTable> ListTables() override {
    std::vector<ListedTable> tables;
    std::vector<std::vector<std::wstring>> headers;
    try {
      if (m_existing != nullptr) headers = m_existing->SheetHeaders();
    } catch (const PackageRefused& e) {
      throw Unreadable(e);
    }
    for (std::size_t i = 0; i < m_base.sheetNames.size(); ++i) {
      ListedTable& table = tables.emplace_back(ListedTable{text::Utf16ToWide(m_base.sheetNames[i]), false, {}});
      if (i >= headers.size()) continue;
      for (auto& name : headers[i])
        table.columns.push_back({std::move(name), sql::ColumnType::Text, sql::kTextColumnLength});
    }
    for (const auto& sheet : m_sheets) tables.push_back({text::Utf16ToWide(sheet->Name()), false, sheet->Columns()});
    return tables;
  }

  std::wstring CreateTable(const sql::CreateTable& statement) override {
    const std::u16string asUtf16 = text::WideToUtf16(statement.table);
    bool exists = SheetNameTaken(asUtf16);
    for (const auto& sheet : m_sheets) exists = exists || SameName(text::WideToUtf16(sheet->Table()), asUtf16);
    // The file keeps sheet names only: a long name exported again meets its own earlier sheet.
    const std::wstring source = SheetNameSource(statement.table);
    const std::u16string valid = sql::ValidSheetName(source);
    for (const auto& name : m_base.sheetNames) exists = exists || SameName(name, valid);
    if (exists) throw odbc::errors::TableExists(statement.table);
    if (statement.columns.size() > sml::kMaxColumns) {
      throw odbc::errors::TooManyColumns(statement.table, statement.columns.size(), sml::kMaxColumns);
    }
    for (std::size_t i = 0; i < statement.columns.size(); ++i) {
      if (sql::Utf16Length(statement.columns[i].name) > sml::kMaxCellChars) {
        throw odbc::errors::ColumnNameTooLong(statement.table);
      }
      for (std::size_t j = 0; j < i; ++j) {
        if (SameName(text::WideToUtf16(statement.columns[i].name), text::WideToUtf16(statement.columns[j].name))) {
          throw odbc::errors::ColumnRepeated(statement.table, statement.columns[i].name);
        }
      }
    }
    sql::CheckDatePatternFor(statement, DatePattern());
    std::u16string name = sql::UniqueSheetName(source, [this](std::u16string_view n) { return SheetNameTaken(n); });
    const bool first = m_base.sheetNames.empty() && m_sheets.empty();
    m_sheets.push_back(std::make_unique<SheetWriter>(statement.table, std::move(name), statement.columns, m_base.styles,
                                                     m_base.date1904, m_limits.maxRows, first));
    m_sheets.back()->ReadDatesBy(DatePattern());
    return text::Utf16ToWide(m_sheets.back()->Name());
  }

  void Insert(const std::wstring& table, const std::vector<sql::Literal>& values) override {
    // Rows come table by table: the last target answers most lookups without any conversion.
    if (m_lastTarget == nullptr || table != m_lastTable) {
      m_lastTarget = FindSheet(table);
      m_lastTable = table;
    }
    m_lastTarget->AddRow(values);
  }

  // A new workbook is only written when a table was created in it.
  void WriteOut() override {
    if (m_sheets.empty()) return;
    for (const auto& sheet : m_sheets) sheet->Finish();
    WritePackage(false);
    m_file.Commit();
  }

  // The package as it stands, every sheet ended as it would be now, published as a copy of the
  // work file; the sheets go on taking rows, and the next package is written over this one.
  void WriteCheckpoint() override {
    if (m_sheets.empty()) return;
    WritePackage(true);
    m_file.CommitCopy();
  }

 private:
  // The workbook in the existing file, which the new sheets join; a package the driver will not
  // add to is refused, naming the file.
  WorkbookBase OpenExisting() {
    try {
      m_existing = std::make_unique<ExistingWorkbook>(m_file.Original(), m_file.Target());
    } catch (const PackageRefused& e) {
      throw Unreadable(e);
    }
    return m_existing->Base();
  }

  // Writes the package into the work file from its start; `snapshot` takes the new sheets' parts
  // as they would end now rather than as Finish ended them.
  void WritePackage(bool snapshot) {
    // A checkpoint's package may be longer than the next: nothing of it may stay behind.
    if (m_packageWritten && ::ftruncate(m_file.WorkFile(), 0) != 0) {
      throw odbc::errors::IoError(L"Could not write", m_file.Target(), errno);
    }
    m_packageWritten = true;
    std::vector<std::string> names;
    for (const auto& sheet : m_sheets) names.push_back(text::WideToUtf8(text::Utf16ToWide(sheet->Name())));
    std::vector<SheetEntry> entries = NumberSheets(m_base, names);
    for (std::size_t i = 0; i < entries.size(); ++i) entries[i].filterRange = m_sheets[i]->FilterRange();
    ZipWriter zip(m_file.WorkFile(), m_file.Target());
    WritePackageParts(zip, entries);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (snapshot) {
        m_sheets[i]->AddSnapshot(zip, WorksheetPart(entries[i]));
      } else {
        zip.AddDeflatedFile(WorksheetPart(entries[i]), m_sheets[i]->Part());
      }
    }
    zip.Close();
  }

  // Every part of the package but the new sheets': an existing workbook's entries, copied or
  // rewritten, or a new workbook's own parts.
  void WritePackageParts(ZipWriter& zip, const std::vector<SheetEntry>& entries) const {
    if (m_existing == nullptr) {
      WriteNewWorkbookParts(zip, entries);
      return;
    }
    try {
      m_existing->WriteInto(zip, entries);
    } catch (const PackageRefused& e) {
      throw Unreadable(e);
    }
  }

  odbc::CDBException Unreadable(const PackageRefused& e) const {
    return odbc::errors::FileUnreadable(Path(), kWorkbookText, text::Utf8ToWide(e.what()));
  }

  bool SheetNameTaken(std::u16string_view name) const {
    for (const auto& existing : m_base.sheetNames) {
      if (SameName(existing, name)) return true;
    }
    for (const auto& sheet : m_sheets) {
      if (SameName(sheet->Name(), name)) return true;
    }
    return false;
  }

  // INSERT INTO reaches a table by the name it was created with (any letter case) or by its
  // sheet's name.
  SheetWriter* FindSheet(const std::wstring& table) const {
    const std::u16string asUtf16 = text::WideToUtf16(table);
    for (const auto& sheet : m_sheets) {
      if (SameName(text::WideToUtf16(sheet->Table()), asUtf16)) return sheet.get();
    }
    for (const auto& sheet : m_sheets) {
      if (SameName(sheet->Name(), asUtf16)) return sheet.get();
    }
    for (const auto& name : m_base.sheetNames) {
      if (SameName(name, asUtf16)) throw odbc::errors::TableFromBefore(table);
    }
    throw odbc::errors::NoSuchTable(table);
  }

  file::FileReplacement m_file;  // locked from connect to destruction
  XlsxLimits m_limits;
  std::unique_ptr<ExistingWorkbook> m_existing;  // the file's workbook; null for a new one
  WorkbookBase m_base;
  std::vector<std::unique_ptr<SheetWriter>> m_sheets;
  bool m_packageWritten = false;        // the work file holds a checkpoint's package
  SheetWriter* m_lastTarget = nullptr;  // the table the last INSERT went to, and the name it used
  std::wstring m_lastTable;
};

class XlsxDriver : public OutputDriver {
 public:
  explicit XlsxDriver(const XlsxLimits& limits)
      : OutputDriver(kXlsxDriverName, CreatesOnConnect::Yes), m_limits(limits) {}

 protected:
  std::unique_ptr<OutputConnection> Open(const OutputTarget& target) override {
    return std::make_unique<XlsxConnection>(target, m_limits);
  }

 private:
  XlsxLimits m_limits;
};

}  // namespace

std::shared_ptr<odbc::IBuiltInDriver> MakeXlsxDriver(XlsxLimits limits) { return std::make_shared<XlsxDriver>(limits); }

}  // namespace quillon::drivers::xlsx
