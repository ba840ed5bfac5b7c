#include "cli/ConsoleHost.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "engine/TimeText.h"
#include "platform/odbc/DBException.h"
#include "platform/text/WideText.h"

namespace quillon::cli {
namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(250);
volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

void PrintLine(FILE* stream, const std::wstring& text) {
  const std::string bytes = text::WideToUtf8(text);
  std::fprintf(stream, "%s\n", bytes.c_str());
  std::fflush(stream);
}

}  // namespace

ConsoleHost::ConsoleHost(std::wstring datePattern, OnRowError onRowError)
    : m_datePattern(std::move(datePattern)), m_onRowError(onRowError), m_showProgress(isatty(STDERR_FILENO) == 1) {}

ConsoleHost::~ConsoleHost() { ClearProgress(); }

void ConsoleHost::CatchInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  // Restart what the interrupt breaks into: a write to the output must not fail for it.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

void ConsoleHost::AddLogLine(const std::wstring& text) {
  ClearProgress();
  PrintLine(stdout, engine::FormatTimeStamp(engine::CurrentTime(), L"%H:%M:%S") + L"\t" + text);
}

int ConsoleHost::AnswerRowError(const odbc::CDBException& error) {
  ClearProgress();
  ++m_refusedRows;
  PrintLine(stderr, L"row refused: " + error.m_strError);
  return m_onRowError == OnRowError::Skip ? ui::IDOK : ui::IDCANCEL;
}

void ConsoleHost::ReportUnknownType() { MessageBox(L"Unknown type", ui::MB_ICONERROR); }

bool ConsoleHost::IsStopRequested() { return g_interrupted != 0; }

void ConsoleHost::RowCopied(std::int32_t totalRows, const std::wstring& table) {
  if (!m_showProgress || (totalRows & 0x3FF) != 0) return;  // look at the clock every 1024 rows
  const auto now = std::chrono::steady_clock::now();
  if (now < m_nextProgress) return;
  m_nextProgress = now + kProgressInterval;
  const double seconds = std::chrono::duration<double>(now - m_start).count();
  std::fprintf(stderr, "\r\033[K%d rows copied, %.0f rows/s, into %s", totalRows,
               seconds > 0 ? totalRows / seconds : 0.0, text::WideToUtf8(table).c_str());
  std::fflush(stderr);
  m_progressShown = true;
}

int ConsoleHost::MessageBox(const std::wstring& text, unsigned) {
  ClearProgress();
  PrintLine(stderr, text);
  return ui::IDOK;
}

void ConsoleHost::RestartProgress() {
  ClearProgress();
  m_start = std::chrono::steady_clock::now();
  m_nextProgress = m_start;
}

void ConsoleHost::ClearProgress() {
  if (!m_progressShown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  m_progressShown = false;
}

}  // namespace quillon::cli
