// What an export run needs from whoever runs it: the dialog, the command line, or a test.
#pragma once

#include <cstdint>
#include <string>

namespace quillon::odbc {
class CDBException;
}

namespace quillon::engine {

// What the user chose when the output driver refused a row.
enum class RowErrorAnswer {
  SkipRow,      // leave the row out and go on with the next
  StopCopying,  // end the copying; the rows so far are kept
};

class IExportHost {
 public:
  // Appends one line to the log, stamped with the time of the call.
  virtual void AddLogLine(const std::wstring& text) = 0;
  // Appends a line that says why the run, or a script, failed or stopped. A host that keeps
  // such lines apart (the command line writes them to standard error as well) overrides it;
  // by default it is an ordinary log line.
  virtual void AddErrorLine(const std::wstring& text) { AddLogLine(text); }
  // The pattern for date values as the user typed it (trimmed and defaulted by the builder).
  virtual std::wstring GetDatePattern() = 0;
  // The output driver refused a row: whether to skip it or end the copying.
  virtual RowErrorAnswer AnswerRowError(const odbc::CDBException& error) = 0;
  // A column value of a kind the builders do not know was met; the value is written empty.
  virtual void ReportUnknownType() = 0;
  // Whether the user asked the run to stop; read before the output is opened, before and after
  // the statement runs, and before each row. While the statement runs it is also read, every
  // few tens of milliseconds, from a thread of the run's own, which cancels the statement as long
  // as the answer is yes; so it must be safe to call from any thread at any time (an atomic flag),
  // and once it has said yes it goes on saying yes for the rest of the run. A host may cancel
  // the source's statement itself as well, for an at once reaction.
  virtual bool IsStopRequested() = 0;
  // After each row copied: the rows copied so far and the table they go into. For progress
  // displays; cheap, since it comes once per row.
  virtual void RowCopied(std::int32_t totalRows, const std::wstring& table) {
    static_cast<void>(totalRows), static_cast<void>(table);
  }
  // While rows are copied, a few times a second at most: the rows copied so far, the rate since
  // the copying began (rows a second) and the table they go into. For a display of progress
  // apart from the log, whose lines it never adds to.
  virtual void ShowProgress(std::int32_t totalRows, double rowsPerSecond, const std::wstring& table) {
    static_cast<void>(totalRows), static_cast<void>(rowsPerSecond), static_cast<void>(table);
  }

 protected:
  ~IExportHost() = default;
};

}  // namespace quillon::engine
