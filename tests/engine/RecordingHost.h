// An export host that records what the run tells the user and answers from a script.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "engine/ExportHost.h"
#include "platform/odbc/DBException.h"

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
  bool IsStopRequested() override { return stopAfterChecks >= 0 && checks++ >= stopAfterChecks; }

  std::vector<std::wstring> lines;
  std::vector<std::wstring> rowErrors;
  std::wstring datePattern;
  RowErrorAnswer rowErrorAnswer = RowErrorAnswer::SkipRow;
  int unknownTypes = 0;
  int stopAfterChecks = -1;  // the stop flag reads as set from this check on; -1 never
  int checks = 0;
};

}  // namespace quillon::engine
