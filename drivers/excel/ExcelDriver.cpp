#include "drivers/excel/ExcelDriver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <variant>

#include "drivers/excel/CompoundFile.h"
#include "drivers/excel/Workbook.h"
#include "drivers/sql/DatePattern.h"
#include "drivers/sql/Statement.h"
#include "platform/odbc/DBException.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::excel {
namespace {

constexpr std::wstring_view kGeneralState = L"HY000";
constexpr const char* kTempSuffix = ".XXXXXX";

bool IsTrue(const std::optional<std::wstring>& value) {
  return value && (*value == L"1" || text::EqualsIgnoreAsciiCase(*value, L"TRUE") ||
                   text::EqualsIgnoreAsciiCase(*value, L"YES"));
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

class ExcelConnection : public odbc::IDriverConnection {
 public:
  ExcelConnection(std::wstring path, bool mayCreate, bool readOnly, std::optional<std::wstring> datePattern)
      : m_path(std::move(path)), m_pathUtf8(text::WideToUtf8(m_path)), m_readOnly(readOnly) {
    if (datePattern) m_datePattern.emplace(*datePattern);
    struct stat status {};
    if (::stat(m_pathUtf8.c_str(), &status) == 0) {
      if (!S_ISREG(status.st_mode)) Fail(L"it is not a file");
      m_mode = status.st_mode & 07777;
      try {
        m_previous = std::make_unique<CompoundFile>(m_pathUtf8);
        m_workbook = std::make_unique<Workbook>(m_previous->WorkbookSource());
        m_workbook->ReadDatesBy(m_datePattern ? &*m_datePattern : nullptr);
      } catch (const WorkbookRefused& e) {
        Fail(text::Utf8ToWide(e.what()));
      }
      return;
    }
    if (!mayCreate) throw odbc::CDBException(L"Could not find file '" + m_path + L"'.", std::wstring(kGeneralState));
    const std::string directory = DirectoryOf(m_pathUtf8);
    if (::access(directory.c_str(), W_OK) != 0) {
      throw odbc::CDBException(L"Cannot create '" + m_path + L"': the folder '" + text::Utf8ToWide(directory) +
                                   L"' " + (errno == ENOENT ? L"does not exist." : L"is not writable."),
                               std::wstring(kGeneralState));
    }
    m_workbook = std::make_unique<Workbook>();
    m_workbook->ReadDatesBy(m_datePattern ? &*m_datePattern : nullptr);
  }

  ~ExcelConnection() override {
    try {
      Close();
    } catch (...) {
      // Destruction never throws; the previous file is still whole.
    }
  }

  void ExecuteSQL(std::wstring_view statement) override {
    if (m_closed) throw odbc::CDBException(L"The connection is closed.", L"08003");
    sql::Parse(statement, m_statement);
    if (m_readOnly) throw odbc::CDBException(L"The workbook '" + m_path + L"' is open read-only.", L"HY000");
    if (const auto* create = std::get_if<sql::CreateTable>(&m_statement)) {
      m_createdSheet.clear();
      std::wstring sheet = text::Utf16ToWide(m_workbook->CreateTable(*create));
      if (sheet != create->table) m_createdSheet = std::move(sheet);
    } else {
      m_workbook->Insert(std::get<sql::Insert>(m_statement));
    }
  }

  std::wstring CreatedTableName() const override { return m_createdSheet; }

  void Close() override {
    if (m_closed) return;
    m_closed = true;
    if (!m_workbook->Changed()) return;
    WriteOut();
  }

 private:
  [[noreturn]] void Fail(const std::wstring& why) const {
    throw odbc::CDBException(L"Cannot open '" + m_path + L"' as an Excel workbook: " + why + L".",
                             std::wstring(kGeneralState));
  }

  void WriteOut() {
    std::string temp = DirectoryOf(m_pathUtf8) + "/." + m_pathUtf8.substr(m_pathUtf8.rfind('/') + 1) + kTempSuffix;
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
      throw odbc::CDBException(L"Could not write '" + m_path + L"': " + text::Utf8ToWide(std::strerror(errno)),
                               std::wstring(kGeneralState));
    }
    ::close(fd);
    try {
      WriteCompoundFile(temp, m_previous.get(), [this](Sink& sink) { m_workbook->Write(sink); });
      const int written = ::open(temp.c_str(), O_RDONLY);
      const bool synced = written >= 0 && ::fsync(written) == 0;
      if (written >= 0) ::close(written);
      if (!synced) throw odbc::CDBException(L"Could not write '" + m_path + L"' to disk.", std::wstring(kGeneralState));
      ::chmod(temp.c_str(), m_previous ? m_mode : (0666 & ~CurrentUmask()));
      if (::rename(temp.c_str(), m_pathUtf8.c_str()) != 0) {
        throw odbc::CDBException(L"Could not replace '" + m_path + L"': " + text::Utf8ToWide(std::strerror(errno)),
                                 std::wstring(kGeneralState));
      }
    } catch (...) {
      ::unlink(temp.c_str());
      throw;
    }
  }

  static mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
  }

  std::wstring m_path;
  std::string m_pathUtf8;
  bool m_readOnly = false;
  bool m_closed = false;
  mode_t m_mode = 0;
  std::optional<sql::DatePattern> m_datePattern;  // declared before the workbook that points to it
  std::unique_ptr<CompoundFile> m_previous;
  std::unique_ptr<Workbook> m_workbook;
  sql::Statement m_statement;  // reused from statement to statement
  std::wstring m_createdSheet;  // the last new sheet's name, when it is not its table's name
};

class ExcelDriver : public odbc::IBuiltInDriver {
 public:
  std::wstring Name() const override { return kExcelDriverName; }
  std::unique_ptr<odbc::IDriverConnection> Connect(const odbc::ConnectString& connect) override {
    const auto dbq = connect.Get(L"DBQ");
    const auto createDb = connect.Get(L"CREATE_DB");
    const std::wstring path = dbq && !dbq->empty() ? *dbq : createDb ? *createDb : std::wstring();
    if (path.empty()) {
      throw odbc::CDBException(L"No workbook named: the connect string has no DBQ.", std::wstring(kGeneralState));
    }
    return std::make_unique<ExcelConnection>(path, createDb.has_value(), IsTrue(connect.Get(L"READONLY")),
                                             connect.Get(sql::kDatePatternKey));
  }
};

}  // namespace

std::shared_ptr<odbc::IBuiltInDriver> MakeExcelDriver() { return std::make_shared<ExcelDriver>(); }

}  // namespace quillon::drivers::excel
