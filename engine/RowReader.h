// Reads the rows of an open result on a thread of its own, a few hundred rows ahead of the
// thread that uses them, so that the driver's fetching overlaps the writing of the output.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/odbc/Recordset.h"

namespace quillon::engine {

class RowReader {
 public:
  // A batch is handed over when it holds `rowsPerBatch` rows or `bytesPerBatch` bytes of values,
  // whichever comes first; at most `queuedBatches` wait to be used. Memory stays near
  // (queuedBatches + 2) * bytesPerBatch plus the longest row, whatever the result's length.
  struct Limits {
    std::size_t rowsPerBatch;
    std::size_t bytesPerBatch;
    std::size_t queuedBatches;
  };
  static constexpr Limits kDefaultLimits{256, std::size_t{2} << 20, 2};

  // Starts reading at the recordset's current row. Until the reader is destroyed only its thread
  // uses the recordset (and so the connection under it); it never cancels the statement.
  explicit RowReader(odbc::CRecordset& recordset, Limits limits = kDefaultLimits);
  // Tells the thread to end and waits for it; never throws.
  ~RowReader();
  RowReader(const RowReader&) = delete;
  RowReader& operator=(const RowReader&) = delete;

  // Moves to the next row of the result: true when there is one, false past the last. The error
  // the fetch of a row threw is thrown here in that row's place, after every row before it.
  bool Next();
  // Column `column` of the current row, converted as CRecordset::GetFieldValue converts it. When
  // reading the row's values failed, throws that error (the row counts as one that Next gave).
  void GetValue(std::int16_t column, odbc::CDBVariant& value) const;
  // Every value of the current row without a CDBVariant, as CRowBatch::ReadRow gives them.
  void ReadRow(std::span<odbc::CellValue> cells, std::span<odbc::Literal> literals) const {
    if (m_rowError) std::rethrow_exception(m_rowError);
    m_current.ReadRow(m_row, cells, literals);
  }
  // Whether the current row is one whose values the driver could not deliver (GetValue throws
  // that error for each), as against a value delivered that cannot arrive exactly.
  bool RowUnreadable() const { return m_rowError != nullptr; }

  // Ends the reading, as the destructor does, and says what was read and not used: the rows
  // read ahead past the current one, and whether they were all the result had left (when not,
  // the result has further rows that were never read, and how many is not known).
  struct Unused {
    std::int64_t rows;
    bool toTheEnd;
  };
  Unused StopReading() noexcept;

 private:
  // The thread's body: captures rows into batches and hands them over until the end of the
  // result, an error, or a stop. Nothing leaves it.
  void Read() noexcept;
  // Waits for room in the queue and queues `batch`; false when the reader is told to stop.
  bool Deliver(odbc::CRowBatch&& batch);
  odbc::CRowBatch TakeSpare();
  void Stop() noexcept;

  odbc::CRecordset& m_recordset;
  const Limits m_limits;

  std::mutex m_lock;
  std::condition_variable m_changed;
  // Guarded by m_lock:
  std::deque<odbc::CRowBatch> m_full;    // read and waiting, in row order
  std::vector<odbc::CRowBatch> m_spare;  // used and emptied, for reuse
  bool m_finished = false;               // the thread queues no more
  std::exception_ptr m_error;            // what ended the reading, after the queued rows
  bool m_errorInRow = false;             // m_error came from reading a row's values, not fetching it
  std::int64_t m_captured = 0;           // rows the thread read, set as it ends
  bool m_readToEnd = false;              // it read up to the end of the result
  std::atomic<bool> m_stopRequested = false;

  // The using thread's side.
  odbc::CRowBatch m_current;
  std::size_t m_row = 0;
  bool m_holdsBatch = false;
  std::exception_ptr m_rowError;  // the current row is one whose values could not be read
  std::int64_t m_used = 0;        // rows Next gave

  std::thread m_thread;  // started last, when everything it uses exists
};

}  // namespace quillon::engine
