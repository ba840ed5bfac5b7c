#include "engine/ScriptRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <vector>

#include "engine/OutputFormat.h"
#include "platform/errors/Errors.h"
#include "platform/file/FileDescriptor.h"
#include "platform/text/WideText.h"

namespace quillon::engine {
namespace {

constexpr char kTab = '\t';
constexpr char kLineFeed = '\n';
constexpr char kCarriageReturn = '\r';
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::size_t kReadChunk = 64 * 1024;
// How often a read that waits for text looks at the stop request; a signal can come just
// before the wait begins, or reach another thread, so the wait never relies on being woken.
constexpr std::chrono::milliseconds kStopCheckInterval{100};
// Folders whose entries name the process's descriptors and devices (/dev/stdin, /dev/fd/0,
// /proc/self/fd/0), not files that stand in a folder of scripts.
constexpr std::string_view kDescriptorFolders[] = {"/dev/", "/proc/"};

namespace logline {
constexpr std::wstring_view kProcessing = L"Processing file: ";
constexpr std::wstring_view kUnknownExtension =
    L"Unknown file extension specified. Please use .XLS,.MDB or .TXT extensions";
constexpr std::wstring_view kReadFailed = L"Can't read the script file: ";
constexpr std::wstring_view kStopped = L"Thread terminated";
constexpr std::wstring_view kStoppedWaiting = L"Stopped while waiting for the script file's text";
constexpr std::wstring_view kNoRecords =
    L"The script holds no export: no line has a TAB between a statement and an output file";
}  // namespace logline

std::wstring LinePrefix(long line) { return L"Line " + std::to_wstring(line) + L" of the script "; }

bool IsBlank(char c) { return c == ' ' || c == '\n' || c == '\f' || c == '\v'; }

// `path` counted from `folder` unless it is absolute (or empty, which names no file).
std::wstring Resolve(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty() || path.empty() || path.front() == L'/') return path;
  return folder.back() == L'/' ? folder + path : folder + L"/" + path;
}

// The folder the relative paths of the script at `path`, of kind `mode`, count from.
std::wstring FolderFor(const std::filesystem::path& path, mode_t mode) {
  std::error_code error;
  const std::filesystem::path working = std::filesystem::current_path(error);
  const std::filesystem::path absolute = path.is_absolute() || error ? path : working / path;
  const std::string normal = absolute.lexically_normal().string();
  const bool descriptor = std::any_of(std::begin(kDescriptorFolders), std::end(kDescriptorFolders),
                                      [&](std::string_view folder) { return normal.starts_with(folder); });
  if (!S_ISREG(mode) || descriptor) return error ? std::wstring() : text::Utf8ToWide(working.string());
  return text::Utf8ToWide(absolute.parent_path().string());
}

// Runs one record; false when it stops the script.
bool RunRecord(const ScriptRecord& record, IExportHost& host, const ScriptExportFunction& exportQuery,
               const std::wstring& relativeTo) {
  const std::wstring path = Resolve(record.path, relativeTo);
  host.AddLogLine(std::wstring(logline::kProcessing) + path);
  const OutputFormat format = FormatFromExtension(path);
  if (format == FormatUnknown) {
    host.AddErrorLine(std::wstring(logline::kUnknownExtension));
    return false;
  }
  return exportQuery(record.statement, path, format);
}

}  // namespace

ScriptError::ScriptError(long line, std::wstring message)
    : std::runtime_error(text::WideToUtf8(message)), m_line(line), m_message(std::move(message)) {}

std::optional<ScriptRecord> ScriptRecordParser::Feed(char byte) {
  if (m_fed < kUtf8Bom.size()) {
    // Decided on the mark's last byte; the mark's bytes are gathered like any others until then.
    if (byte != kUtf8Bom[m_fed])
      m_fed = kUtf8Bom.size();
    else if (++m_fed == kUtf8Bom.size())
      m_skipBom = true;
  }
  const bool afterCr = m_afterCr;
  m_afterCr = byte == kCarriageReturn;
  if (byte == kCarriageReturn) return EndLine();
  if (byte == kLineFeed) return afterCr ? std::nullopt : EndLine();  // the LF of a CR LF
  if (byte == kTab) m_hasTab = true;
  Append(byte);
  return std::nullopt;
}

std::optional<ScriptRecord> ScriptRecordParser::EndLine() {
  std::optional<ScriptRecord> record;
  if (m_hasTab) {
    record = TakeRecord();
    m_recordLine = m_line + 1;
  } else {
    Append(kLineFeed);
  }
  ++m_line;
  return record;
}

void ScriptRecordParser::Append(char byte) {
  if (m_gathered.size() >= kMaxScriptRecordBytes) {
    throw ScriptError(m_recordLine, LinePrefix(m_recordLine) + L"begins a record of more than " +
                                        std::to_wstring(kMaxScriptRecordBytes / (1024 * 1024)) +
                                        L" MB: the file is not a script of exports");
  }
  m_gathered.push_back(byte);
}

std::string_view ScriptRecordParser::Gathered() const {
  std::string_view text = m_gathered;
  if (m_firstRecord && m_skipBom) text.remove_prefix(std::min(kUtf8Bom.size(), text.size()));
  return text;
}

long ScriptRecordParser::LineAt(std::size_t offset) const {
  const std::string_view text = Gathered().substr(0, offset);
  return m_recordLine + static_cast<long>(std::count(text.begin(), text.end(), kLineFeed));
}

std::optional<ScriptRecord> ScriptRecordParser::Finish() {
  std::optional<ScriptRecord> last;
  if (m_hasTab) {
    last = TakeRecord();
  } else {
    const std::string_view text = Gathered();
    const auto firstText = std::find_if_not(text.begin(), text.end(), IsBlank);
    if (firstText != text.end()) {
      const long line = LineAt(static_cast<std::size_t>(firstText - text.begin()));
      throw ScriptError(line, LinePrefix(line) +
                                  L"has no TAB between a statement and an output file, so the "
                                  L"export it holds was not run");
    }
  }
  *this = ScriptRecordParser();
  return last;
}

ScriptRecord ScriptRecordParser::TakeRecord() {
  const std::string_view text = Gathered();
  if (const std::size_t valid = text::ValidUtf8Length(text); valid != text.size()) {
    const long line = LineAt(valid);
    throw ScriptError(line, LinePrefix(line) + L"is not UTF-8 text; its export was not run");
  }
  // TAB and line ends never occur inside a multi-byte UTF-8 character, so the fields can be cut
  // on bytes and decoded whole.
  ScriptRecord record{text::Utf8ToWide(text.substr(0, text.find(kTab))),
                      text::Utf8ToWide(text.substr(text.rfind(kTab) + 1))};
  m_firstRecord = false;
  m_gathered.clear();
  m_hasTab = false;
  return record;
}

std::vector<ScriptRecord> ParseScript(std::string_view bytes) {
  std::vector<ScriptRecord> records;
  ScriptRecordParser parser;
  for (char byte : bytes) {
    if (auto record = parser.Feed(byte)) records.push_back(std::move(*record));
  }
  if (auto record = parser.Finish()) records.push_back(std::move(*record));
  return records;
}

void ScriptFile::Open(const std::wstring& path) {
  const std::string name = text::WideToUtf8(path);
  // Without O_NONBLOCK, opening a FIFO waits for a writer, and no signal ends that wait.
  file::FileDescriptor fd(
      file::RetryOnInterrupt([&] { return ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); }));
  if (!fd.IsOpen()) throw odbc::errors::IoError(L"Could not open", name, errno);
  struct stat status {};
  if (::fstat(fd.Get(), &status) != 0 || S_ISDIR(status.st_mode)) {
    throw odbc::errors::IoError(L"Could not open", name, EISDIR);
  }
  m_fd = std::move(fd);
  m_folder = FolderFor(name, status.st_mode);
  m_path = name;
}

std::optional<std::size_t> ScriptFile::Read(char* buffer, std::size_t size,
                                            const std::function<bool()>& stopRequested) {
  for (;;) {
    // A FIFO opened before any writer reports neither text nor its end until one has come. A
    // signal that cuts the wait short is not waited through: the stop request is asked first.
    pollfd ready{m_fd.Get(), POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(kStopCheckInterval.count()));
    if (polled > 0) {
      const ssize_t n = file::RetryOnInterrupt([&] { return ::read(m_fd.Get(), buffer, size); });
      if (n >= 0) return static_cast<std::size_t>(n);
      // EAGAIN: another reader of the same pipe took the text first.
      if (errno != EAGAIN) throw odbc::errors::IoError(L"Could not read", m_path, errno);
    } else if (polled < 0 && errno != EINTR) {
      throw odbc::errors::IoError(L"Could not read", m_path, errno);
    }
    if (stopRequested && stopRequested()) return std::nullopt;
  }
}

ScriptOutcome RunScript(ScriptFile& file, IExportHost& host, const ScriptExportFunction& exportQuery) {
  ScriptRecordParser parser;
  std::size_t records = 0;
  // False when the record stops the script; once a stop is asked for, no record starts.
  const auto run = [&](const ScriptRecord& record) {
    if (host.IsStopRequested()) {
      host.AddErrorLine(std::wstring(logline::kStopped));
      return false;
    }
    ++records;
    return RunRecord(record, host, exportQuery, file.Folder());
  };
  std::vector<char> buffer(kReadChunk);
  try {
    for (;;) {
      std::optional<std::size_t> read;
      try {
        read = file.Read(buffer.data(), buffer.size(), [&host] { return host.IsStopRequested(); });
      } catch (const odbc::CDBException& e) {
        host.AddErrorLine(std::wstring(logline::kReadFailed) +
                          text::LocaleToWide(std::generic_category().message(static_cast<int>(e.m_nNativeError))));
        return ScriptOutcome::Stopped;
      }
      if (!read) {
        host.AddErrorLine(std::wstring(logline::kStoppedWaiting));
        return ScriptOutcome::Stopped;
      }
      const std::size_t count = *read;
      if (count == 0) break;
      for (std::size_t i = 0; i < count; ++i) {
        if (auto record = parser.Feed(buffer[i])) {
          if (!run(*record)) return ScriptOutcome::Stopped;
        }
      }
    }
    if (auto last = parser.Finish()) {
      if (!run(*last)) return ScriptOutcome::Stopped;
    }
  } catch (const ScriptError& e) {
    host.AddErrorLine(e.Message());
    return ScriptOutcome::Stopped;
  }
  if (records == 0) host.AddLogLine(std::wstring(logline::kNoRecords));
  return ScriptOutcome::Completed;
}

}  // namespace quillon::engine
