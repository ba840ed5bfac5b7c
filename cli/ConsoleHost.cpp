#include "cli/ConsoleHost.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string_view>

#include "cli/BrokenPipes.h"
#include "engine/TimeText.h"
#include "platform/errors/Errors.h"
#include "platform/text/WideText.h"

namespace quillon::cli {
namespace {

constexpr std::array kStopSignals = {SIGINT, SIGTERM, SIGHUP};
constexpr std::string_view kErrorPrefix = "quillon-export: ";
constexpr char kWakeStop = 's';
constexpr char kWakeQuit = 'q';
// Set by the signal handler, read by the run's threads: lock-free, so safe for both.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);
// The pipe through which the signal handler wakes the StopSignalWatch thread.
int g_wake[2] = {-1, -1};

void OnInterrupt(int) {
  const int savedErrno = errno;
  g_interrupted = true;
  if (g_wake[1] >= 0) {
    const ssize_t ignored = ::write(g_wake[1], &kWakeStop, 1);  // a full pipe holds enough wake-ups
    static_cast<void>(ignored);
  }
  errno = savedErrno;
}

// A line that cannot be written (a closed pipe, a terminal that hung up) is dropped.
void PrintLine(FILE* stream, std::string_view prefix, const std::wstring& text) {
  const std::string bytes = text::WideToUtf8(text);
  std::fprintf(stream, "%.*s%s\n", static_cast<int>(prefix.size()), prefix.data(), bytes.c_str());
  std::fflush(stream);
  std::clearerr(stream);
}

void PrintLine(FILE* stream, const std::wstring& text) { PrintLine(stream, {}, text); }

}  // namespace

ConsoleHost::ConsoleHost(std::wstring datePattern, OnRowError onRowError)
    : m_datePattern(std::move(datePattern)), m_onRowError(onRowError), m_showProgress(isatty(STDERR_FILENO) == 1) {}

ConsoleHost::~ConsoleHost() { ClearProgress(); }

void ConsoleHost::CatchStopSignals() {
  if (g_wake[0] < 0 && ::pipe2(g_wake, O_CLOEXEC) == 0) ::fcntl(g_wake[1], F_SETFL, O_NONBLOCK);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  // Restart what the signal breaks into: a write to the output must not fail for it.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaction(signal, &action, nullptr);
  IgnoreBrokenPipes();
  IgnoreFileSizeLimit();
}

ConsoleHost::StopSignalWatch::StopSignalWatch(std::function<void()> onStop) {
  if (g_wake[0] < 0) return;
  m_thread = std::thread([onStop = std::move(onStop)] {
    for (;;) {
      char byte = 0;
      const ssize_t n = ::read(g_wake[0], &byte, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || byte == kWakeQuit) return;
      onStop();
    }
  });
}

ConsoleHost::StopSignalWatch::~StopSignalWatch() {
  if (!m_thread.joinable()) return;
  // Blocking if need be: the thread empties the pipe as it goes.
  while (::write(g_wake[1], &kWakeQuit, 1) != 1) {
    if (errno != EINTR && errno != EAGAIN) break;
  }
  m_thread.join();
}

void ConsoleHost::AddLogLine(const std::wstring& text) {
  ClearProgress();
  PrintLine(stdout, engine::FormatTimeStamp(engine::CurrentTime(), L"%H:%M:%S") + L"\t" + text);
}

void ConsoleHost::AddErrorLine(const std::wstring& text) {
  AddLogLine(text);
  PrintLine(stderr, kErrorPrefix, text);
}

engine::RowErrorAnswer ConsoleHost::AnswerRowError(const odbc::CDBException& error) {
  ClearProgress();
  ++m_refusedRows;
  PrintLine(stderr, L"row refused: " + error.m_strError);
  return m_onRowError == OnRowError::Skip ? engine::RowErrorAnswer::SkipRow : engine::RowErrorAnswer::StopCopying;
}

void ConsoleHost::ReportUnknownType() { MessageBox(L"Unknown type", ui::MB_ICONERROR); }

bool ConsoleHost::IsStopRequested() { return g_interrupted; }

void ConsoleHost::ShowProgress(std::int32_t totalRows, double rowsPerSecond, const std::wstring& table) {
  if (!m_showProgress) return;
  std::fprintf(stderr, "\r\033[K%d rows copied, %.0f rows/s, into %s", totalRows, rowsPerSecond,
               text::WideToUtf8(table).c_str());
  std::fflush(stderr);
  m_progressShown = true;
}

int ConsoleHost::MessageBox(const std::wstring& text, unsigned) {
  ClearProgress();
  PrintLine(stderr, text);
  return ui::IDOK;
}

void ConsoleHost::ClearProgress() {
  if (!m_progressShown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  m_progressShown = false;
}

}  // namespace quillon::cli
