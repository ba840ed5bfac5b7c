// The export host of the command line: log lines on standard output, refused rows and other
// messages on standard error, a progress line on a terminal, and Ctrl+C as the stop request.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

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
  std::wstring GetDatePattern() override { return m_datePattern; }
  int AnswerRowError(const odbc::CDBException& error) override;
  void ReportUnknownType() override;
  bool IsStopRequested() override;
  void RowCopied(std::int32_t totalRows, const std::wstring& table) override;

  // ui::IPrompts: message boxes become lines on standard error; no file dialogs.
  int MessageBox(const std::wstring& text, unsigned type) override;
  std::optional<std::wstring> FileDialog(const ui::FileDialogRequest&) override { return std::nullopt; }

  int RefusedRows() const { return m_refusedRows; }
  // Measures the rate on the progress line from now on, for the next export of a series.
  void RestartProgress();
  // Makes Ctrl+C (SIGINT) a stop request for every ConsoleHost of the process.
  static void CatchInterrupt();

 private:
  void ClearProgress();

  std::wstring m_datePattern;
  OnRowError m_onRowError;
  int m_refusedRows = 0;
  bool m_showProgress;
  bool m_progressShown = false;
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point m_nextProgress = m_start;
};

}  // namespace quillon::cli
