#include "drivers/excel/ExcelDriver.h"

#include <variant>

#include "drivers/excel/CompoundFile.h"
#include "drivers/excel/Workbook.h"
#include "drivers/sql/DatePattern.h"
#include "drivers/sql/Statement.h"
#include "platform/errors/Errors.h"
#include "platform/file/FileReplacement.h"
#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::excel {
namespace {

bool IsTrue(const std::optional<std::wstring>& value) {
  return value && (*value == L"1" || text::EqualsIgnoreAsciiCase(*value, L"TRUE") ||
                   text::EqualsIgnoreAsciiCase(*value, L"YES"));
}

class ExcelConnection : public odbc::IDriverConnection {
 public:
  ExcelConnection(std::wstring path, bool mayCreate, bool readOnly, std::optional<std::wstring> datePattern)
      : m_path(std::move(path)),
        m_pathUtf8(text::WideToUtf8(m_path)),
        m_readOnly(readOnly),
        m_file(m_pathUtf8, file::FileReplacement::Existing::Replace) {
    if (datePattern) m_datePattern.emplace(*datePattern);
    if (m_file.Exists()) {
      try {
        m_previous = std::make_unique<CompoundFile>(m_file.Original(), m_file.Target());
        m_workbook = std::make_unique<Workbook>(m_previous->WorkbookSource());
        m_workbook->ReadDatesBy(m_datePattern ? &*m_datePattern : nullptr);
        m_workbook->LimitStreamTo(kMaxCompoundFileSize);
      } catch (const WorkbookRefused& e) {
        throw odbc::errors::FileUnreadable(m_path, L"an Excel workbook", text::Utf8ToWide(e.what()));
      }
      return;
    }
    if (!mayCreate) throw odbc::errors::FileNotFound(m_path);
    m_workbook = std::make_unique<Workbook>();
    m_workbook->ReadDatesBy(m_datePattern ? &*m_datePattern : nullptr);
    m_workbook->LimitStreamTo(kMaxCompoundFileSize);
  }

  ~ExcelConnection() override {
    try {
      Close();
    } catch (...) {
      // Destruction never throws; the previous file is still whole.
    }
  }

  void ExecuteSQL(std::wstring_view statement) override {
    if (m_closed) throw odbc::errors::ConnectionClosed();
    if (m_failed) throw odbc::errors::NoMoreChanges(m_path);
    sql::Parse(statement, m_statement);
    if (m_readOnly) throw odbc::errors::FileReadOnly(m_path);
    Guarded([&] {
      if (const auto* create = std::get_if<sql::CreateTable>(&m_statement)) {
        m_createdSheet.clear();
        std::wstring sheet;
        try {
          sheet = text::Utf16ToWide(m_workbook->CreateTable(*create));
        } catch (const WorkbookRefused& e) {
          throw odbc::errors::FileUnreadable(m_path, L"an Excel workbook", text::Utf8ToWide(e.what()));
        }
        if (sheet != create->table) m_createdSheet = std::move(sheet);
      } else {
        const auto& insert = std::get<sql::Insert>(m_statement);
        m_workbook->Insert(insert.table, insert.values);
      }
    });
  }

  // The INSERT branch of ExecuteSQL for values already read; a row the statement's text would
  // read otherwise is left to that text.
  bool InsertRow(std::wstring_view table, const std::vector<odbc::Literal>& values) override {
    if (m_closed) throw odbc::errors::ConnectionClosed();
    if (m_failed) throw odbc::errors::NoMoreChanges(m_path);
    if (!m_insert.Read(table, values)) return false;
    if (m_readOnly) throw odbc::errors::FileReadOnly(m_path);
    Guarded([&] { m_workbook->Insert(m_insert.Table(), values); });
    return true;
  }

  std::wstring CreatedTableName() const override { return m_createdSheet; }

  void Close() override {
    if (m_closed) return;
    m_closed = true;
    if (m_failed) throw odbc::errors::LeftAsItWas(m_path);
    if (!m_workbook->Changed()) return;
    WriteCompoundFile(m_file.WorkFile(), m_file.Target(), m_previous.get(), m_workbook->StreamSize(),
                      [this](Sink& sink) { m_workbook->Write(sink); });
    m_file.Commit();
  }

 private:
  // Runs a change of the workbook. The workbook may hold half a change once a temporary file
  // failed: it is never written then.
  template <typename Change>
  void Guarded(Change&& change) {
    try {
      change();
    } catch (const odbc::CDBException& e) {
      if (odbc::errors::IsIoError(e)) m_failed = true;
      throw;
    }
  }

  std::wstring m_path;
  std::string m_pathUtf8;
  bool m_readOnly = false;
  bool m_closed = false;
  bool m_failed = false;                          // a temporary file could not be written: nothing more is done
  file::FileReplacement m_file;                   // locked from connect to destruction
  std::optional<sql::DatePattern> m_datePattern;  // declared before the workbook that points to it
  std::unique_ptr<CompoundFile> m_previous;
  std::unique_ptr<Workbook> m_workbook;
  sql::Statement m_statement;       // reused from statement to statement
  sql::InsertWithoutText m_insert;  // for rows that come without text
  std::wstring m_createdSheet;      // the last new sheet's name, when it is not its table's name
};

class ExcelDriver : public odbc::IBuiltInDriver {
 public:
  std::wstring Name() const override { return kExcelDriverName; }
  std::unique_ptr<odbc::IDriverConnection> Connect(const odbc::ConnectString& connect) override {
    const auto dbq = connect.Get(odbc::key::kDatabase);
    const auto createDb = connect.Get(odbc::key::kCreateDatabase);
    const std::wstring path = dbq && !dbq->empty() ? *dbq : createDb ? *createDb : std::wstring();
    if (path.empty()) throw odbc::errors::NoFileNamed();
    return std::make_unique<ExcelConnection>(path, createDb.has_value(), IsTrue(connect.Get(odbc::key::kReadOnly)),
                                             connect.Get(odbc::key::kDatePattern));
  }
};

}  // namespace

std::shared_ptr<odbc::IBuiltInDriver> MakeExcelDriver() { return std::make_shared<ExcelDriver>(); }

}  // namespace quillon::drivers::excel
