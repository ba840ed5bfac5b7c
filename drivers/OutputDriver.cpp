#include "drivers/OutputDriver.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <variant>

#include "platform/errors/Errors.h"
#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/text/WideText.h"

namespace quillon::drivers {
namespace {

bool IsTrue(const std::optional<std::wstring>& value) {
  return value && (*value == L"1" || text::EqualsIgnoreAsciiCase(*value, L"TRUE") ||
                   text::EqualsIgnoreAsciiCase(*value, L"YES"));
}

}  // namespace

OutputConnection::OutputConnection(const OutputTarget& target) : m_path(target.path), m_readOnly(target.readOnly) {
  if (target.datePattern) m_datePattern.emplace(*target.datePattern);
}

void OutputConnection::CheckUsable() const {
  if (m_closed) throw odbc::errors::ConnectionClosed();
  if (m_failed) throw odbc::errors::NoMoreChanges(m_path);
}

std::vector<ListedTable> OutputConnection::Tables() {
  CheckUsable();
  return ListTables();
}

template <typename Change>
void OutputConnection::Guarded(Change&& change) {
  if (m_readOnly) throw odbc::errors::FileReadOnly(m_path);
  m_changedSinceCheckpoint = true;  // a refused row may still have changed the format's state
  try {
    change();
  } catch (const odbc::CDBException& e) {
    if (odbc::errors::IsIoError(e)) m_failed = true;
    throw;
  }
}

void OutputConnection::ExecuteSQL(std::wstring_view statement) {
  CheckUsable();
  sql::Parse(statement, m_statement);
  Guarded([&] {
    if (const auto* create = std::get_if<sql::CreateTable>(&m_statement)) {
      m_createdName.clear();
      std::wstring stored = CreateTable(*create);
      if (stored != create->table) m_createdName = std::move(stored);
    } else {
      const auto& insert = std::get<sql::Insert>(m_statement);
      Insert(insert.table, insert.values);
    }
  });
}

bool OutputConnection::InsertRow(std::wstring_view table, const std::vector<odbc::Literal>& values) {
  CheckUsable();
  if (!m_insert.Read(table, values)) return false;
  Guarded([&] { Insert(m_insert.Table(), values); });
  return true;
}

void OutputConnection::Close() {
  if (m_closed) return;
  m_closed = true;
  if (m_failed) throw odbc::errors::LeftAsItWas(m_path);
  WriteOut();
}

void OutputConnection::Checkpoint() {
  CheckUsable();
  if (!m_changedSinceCheckpoint) return;
  try {
    WriteCheckpoint();
  } catch (...) {
    // What the format's work file holds after a part of the checkpoint is not known.
    m_failed = true;
    throw;
  }
  m_changedSinceCheckpoint = false;
}

void OutputConnection::Abandon() noexcept {
  if (m_closed) return;
  m_closed = true;
  Discard();
}

void OutputConnection::CloseQuietly() noexcept {
  try {
    Close();
  } catch (...) {
    // Destruction never throws; the previous file is still whole.
  }
}

std::time_t FileTime() {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  long long seconds = 0;
  if (epoch != nullptr) {
    const char* end = epoch + std::strlen(epoch);
    const auto [at, error] = std::from_chars(epoch, end, seconds);
    if (error == std::errc() && at == end && seconds >= 0) return static_cast<std::time_t>(seconds);
  }
  return std::time(nullptr);
}

std::unique_ptr<odbc::IDriverConnection> OutputDriver::Connect(const odbc::ConnectString& connect) {
  OutputTarget target;
  if (const auto dbq = connect.Get(odbc::key::kDatabase)) target.path = *dbq;
  if (m_creates == CreatesOnConnect::Yes) {
    if (const auto createDb = connect.Get(odbc::key::kCreateDatabase)) {
      target.mayCreate = true;
      if (target.path.empty()) target.path = *createDb;
    }
  }
  if (target.path.empty()) throw odbc::errors::NoFileNamed();
  target.readOnly = IsTrue(connect.Get(odbc::key::kReadOnly));
  target.replace = IsTrue(connect.Get(odbc::key::kReplace));
  target.datePattern = connect.Get(odbc::key::kDatePattern);
  return Open(target);
}

}  // namespace quillon::drivers
