// The export host of the command line: log lines on standard output, the lines that say why
// something failed on standard error as well, refused rows and other messages on standard error,
// a progress line on a terminal, and Ctrl+C, SIGTERM and SIGHUP as the stop request.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "engine/ExportHost.h"
#include "platform/ui/Prompts.h"

namespace quillon::cli {

class ConsoleHost final : public engine::IExportHost, public ui::IPrompts {
 public:
  enum class OnRowError { Skip, Cancel };

  ConsoleHost(std::wstring datePattern, OnRowError onRowError);
  ~ConsoleHost();

  // engine::IExportHost
  void AddLogLine(const std::wstring& text) override;
  void AddErrorLine(const std::wstring& text) override;
  std::wstring GetDatePattern() override { return m_datePattern; }
  engine::RowErrorAnswer AnswerRowError(const odbc::CDBException& error) override;
  void ReportUnknownType() override;
  bool IsStopRequested() override;
  void ShowProgress(std::int32_t totalRows, double rowsPerSecond, const std::wstring& table) override;

  // ui::IPrompts: message boxes become lines on standard error; no file dialogs.
  int MessageBox(const std::wstring& text, unsigned type) override;
  std::optional<std::wstring> FileDialog(const ui::FileDialogRequest&) override { return std::nullopt; }

  int RefusedRows() const { return m_refusedRows; }
  // Clears the progress line, for the next export of a series (each export shows its own rows and
  // rate).
  void ClearProgress();
  // Makes SIGINT (Ctrl+C), SIGTERM and SIGHUP a stop request for every ConsoleHost of the
  // process: the export ends before its next row and keeps the rows copied so far. Ignores
  // SIGPIPE, so that a reader of the log that went away (`| head`) costs log lines, never the
  // export: a line that cannot be written is dropped. Ignores SIGXFSZ: a file size limit fails
  // the write (EFBIG), reported as a full disk is.
  static void CatchStopSignals();

  // While it lives, runs `onStop` on a thread of its own after each stop signal (once the stop
  // request is set), for what a signal handler may not do, such as cancelling the statement
  // the source is running. Needs CatchStopSignals first.
  class StopSignalWatch {
   public:
    explicit StopSignalWatch(std::function<void()> onStop);
    ~StopSignalWatch();  // ends the thread; onStop is not called after it
    StopSignalWatch(const StopSignalWatch&) = delete;
    StopSignalWatch& operator=(const StopSignalWatch&) = delete;

   private:
    std::thread m_thread;
  };

 private:
  std::wstring m_datePattern;
  OnRowError m_onRowError;
  int m_refusedRows = 0;
  bool m_showProgress;
  bool m_progressShown = false;
};

}  // namespace quillon::cli
