// An export host that records what the run tells the user and answers from a script.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/ExportHost.h"
#include "platform/errors/Errors.h"

namespace quillon::engine {

class RecordingHost final : public IExportHost {
 public:
  void AddLogLine(const std::wstring& text) override { lines.push_back(text); }
  std::wstring GetDatePattern() override { return datePattern; }
  RowErrorAnswer AnswerRowError(const odbc::CDBException& error) override {
    rowErrors.push_back(error.m_strError);
    return rowErrorAnswer;
  }
  void ReportUnknownType() override { ++unknownTypes; }
  // Read by the run's own threads as well.
  bool IsStopRequested() override { return stopRequested; }
  void RowCopied(std::int32_t totalRows, const std::wstring&) override {
    if (stopAfterRows >= 0 && totalRows >= stopAfterRows) stopRequested = true;
  }
  void ShowProgress(std::int32_t totalRows, double rowsPerSecond, const std::wstring&) override {
    progress.emplace_back(totalRows, rowsPerSecond);
  }

  std::vector<std::wstring> lines;
  std::vector<std::wstring> rowErrors;
  std::wstring datePattern;
  RowErrorAnswer rowErrorAnswer = RowErrorAnswer::SkipRow;
  int unknownTypes = 0;
  std::atomic<bool> stopRequested{false};
  std::vector<std::pair<std::int32_t, double>> progress;  // rows so far, rows a second
  int stopAfterRows = -1;  // the stop is requested once this many rows are copied; -1 never
};

}  // namespace quillon::engine
