#include "drivers/excel/ExcelDriver.h"

#include "drivers/OutputDriver.h"
#include "drivers/excel/CompoundFile.h"
#include "drivers/excel/Workbook.h"
#include "platform/errors/Errors.h"
#include "platform/file/FileReplacement.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::excel {
namespace {

class ExcelConnection : public OutputConnection {
 public:
  explicit ExcelConnection(const OutputTarget& target)
      : OutputConnection(target),
        m_file(text::WideToUtf8(target.path), file::FileReplacement::Existing::Replace),
        m_spool(m_file.WorkFile(), m_file.Target()) {
    // A file that is replaced counts as new: its content is never read.
    if (m_file.Exists() && !target.replace) {
      try {
        m_previous = std::make_unique<CompoundFile>(m_file.Original(), m_file.Target());
        m_workbook = std::make_unique<Workbook>(m_previous->WorkbookSource(), &m_spool);
      } catch (const WorkbookRefused& e) {
        throw Unreadable(e);
      }
    } else {
      if (!m_file.Exists() && !target.mayCreate) throw odbc::errors::FileNotFound(Path());
      m_workbook = std::make_unique<Workbook>(&m_spool);
    }
    m_workbook->ReadDatesBy(DatePattern());
    m_workbook->LimitStreamTo(kMaxCompoundFileSize);
  }

  ~ExcelConnection() override { CloseQuietly(); }

 protected:
  // Each sheet is a table; an existing sheet's columns are its first row's texts, as text.
  std::vector<ListedTable> ListTables() override {
    std::vector<ListedTable> tables;
    try {
      for (auto& sheet : m_workbook->ListSheets()) {
        ListedTable& table = tables.emplace_back(ListedTable{text::Utf16ToWide(sheet.name), false, {}});
        if (sheet.columns != nullptr) {
          table.columns = *sheet.columns;
          continue;
        }
        for (auto& name : sheet.header)
          table.columns.push_back({std::move(name), sql::ColumnType::Text, sql::kTextColumnLength});
      }
    } catch (const WorkbookRefused& e) {
      throw Unreadable(e);
    }
    return tables;
  }

  std::wstring CreateTable(const sql::CreateTable& statement) override {
    try {
      return text::Utf16ToWide(m_workbook->CreateTable(statement));
    } catch (const WorkbookRefused& e) {
      throw Unreadable(e);
    }
  }

  void Insert(const std::wstring& table, const std::vector<sql::Literal>& values) override {
    m_workbook->Insert(table, values);
  }

  // A new workbook is only written when a table was created in it.
  void WriteOut() override {
    if (!m_workbook->Changed()) return;
    WriteCompoundFile(m_spool, m_file.Target(), m_previous.get(), m_workbook->StreamSize(),
                      [this](Sink& sink) { m_workbook->Write(sink); });
    m_file.Commit();
  }

  // The file as WriteOut lays it out, published as a copy. Writing it reads the spools and
  // changes nothing the workbook keeps; the sectors it took after the spools' (the globals, copies
  // of spools that do not start a sector, the directory, the allocation table) are given back,
  // so that the spools go on where they would have without the checkpoint and the next layout,
  // made over the same sectors, is the one a connection without checkpoints makes.
  void WriteCheckpoint() override {
    if (!m_workbook->Changed()) return;
    const std::uint32_t spooled = m_spool.Taken();
    WriteCompoundFile(m_spool, m_file.Target(), m_previous.get(), m_workbook->StreamSize(),
                      [this](Sink& sink) { m_workbook->Write(sink); });
    m_file.CommitCopy();
    m_spool.GiveBackAfter(spooled);
  }

 private:
  odbc::CDBException Unreadable(const WorkbookRefused& e) const {
    return odbc::errors::FileUnreadable(Path(), L"an Excel workbook", text::Utf8ToWide(e.what()));
  }

  file::FileReplacement m_file;  // locked from connect to destruction
  // The work file: cells and strings spool into sectors of the file being made.
  SpoolFile m_spool;
  std::unique_ptr<CompoundFile> m_previous;
  std::unique_ptr<Workbook> m_workbook;
};

class ExcelDriver : public OutputDriver {
 public:
  ExcelDriver() : OutputDriver(kExcelDriverName, CreatesOnConnect::Yes) {}

 protected:
  std::unique_ptr<OutputConnection> Open(const OutputTarget& target) override {
    return std::make_unique<ExcelConnection>(target);
  }
};

}  // namespace

std::shared_ptr<odbc::IBuiltInDriver> MakeExcelDriver() { return std::make_shared<ExcelDriver>(); }

}  // namespace quillon::drivers::excel
