#include "engine/RowReader.h"

#include <utility>

namespace quillon::engine {

RowReader::RowReader(odbc::CRecordset& recordset, Limits limits) : m_recordset(recordset), m_limits(limits) {
  m_thread = std::thread(&RowReader::Read, this);
}

RowReader::~RowReader() { Stop(); }

void RowReader::Stop() noexcept {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stopRequested = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

odbc::CRowBatch RowReader::TakeSpare() {
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_spare.empty()) return {};
  odbc::CRowBatch batch = std::move(m_spare.back());
  m_spare.pop_back();
  return batch;
}

bool RowReader::Deliver(odbc::CRowBatch&& batch) {
  {
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait(guard, [this] { return m_stopRequested || m_full.size() < m_limits.queuedBatches; });
    if (m_stopRequested) return false;
    m_full.push_back(std::move(batch));
  }
  m_changed.notify_all();
  return true;
}

void RowReader::Read() noexcept {
  std::exception_ptr error;
  bool errorInRow = false;
  std::int64_t captured = 0;
  bool readToEnd = false;
  try {
    odbc::CRowBatch batch = TakeSpare();
    try {
      while (!m_recordset.IsEOF() && !m_stopRequested) {
        errorInRow = true;
        m_recordset.CaptureRow(batch);
        errorInRow = false;
        ++captured;
        if (batch.RowCount() >= m_limits.rowsPerBatch || batch.ByteSize() >= m_limits.bytesPerBatch) {
          if (!Deliver(std::move(batch))) break;
          batch = TakeSpare();
        }
        m_recordset.MoveNext();
      }
      // A row captured and not delivered (a stop) was never moved past.
      readToEnd = m_recordset.IsEOF();
    } catch (...) {
      // The rows captured before the failing one go first.
      error = std::current_exception();
    }
    if (batch.RowCount() > 0) Deliver(std::move(batch));
  } catch (...) {
    if (!error) error = std::current_exception();
  }
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_finished = true;
    m_errorInRow = error && errorInRow;
    m_captured = captured;
    m_readToEnd = readToEnd && !error;
    // Moved, not copied: this thread must hold no reference to the exception once the using
    // thread may have it, or it would free it unsynchronised with that thread's last use.
    m_error = std::move(error);
  }
  m_changed.notify_all();
}

bool RowReader::Next() {
  if (m_holdsBatch && ++m_row < m_current.RowCount()) {
    ++m_used;
    return true;
  }
  std::unique_lock<std::mutex> guard(m_lock);
  if (m_holdsBatch) {
    m_holdsBatch = false;
    // A batch that grew far beyond the bound for some long values is not kept.
    if (m_current.ByteSize() <= 2 * m_limits.bytesPerBatch) {
      m_current.Clear();
      m_spare.push_back(std::move(m_current));
    }
    m_current = odbc::CRowBatch();
  }
  m_changed.wait(guard, [this] { return !m_full.empty() || m_finished; });
  if (!m_full.empty()) {
    m_current = std::move(m_full.front());
    m_full.pop_front();
    m_row = 0;
    m_holdsBatch = true;
    ++m_used;
    guard.unlock();
    m_changed.notify_all();
    return true;
  }
  if (m_error && m_errorInRow) {
    // A row whose values could not be read: its reading throws, as it would have on this thread.
    m_rowError = std::exchange(m_error, nullptr);
    ++m_used;
    return true;
  }
  if (m_error) std::rethrow_exception(std::exchange(m_error, nullptr));
  return false;
}

RowReader::Unused RowReader::StopReading() noexcept {
  Stop();
  const std::lock_guard<std::mutex> guard(m_lock);
  return {m_captured > m_used ? m_captured - m_used : 0, m_readToEnd};
}

void RowReader::GetValue(std::int16_t column, odbc::CDBVariant& value) const {
  if (m_rowError) std::rethrow_exception(m_rowError);
  m_current.GetValue(m_row, column, value);
}

}  // namespace quillon::engine
