#include "engine/ScriptRunner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "engine/OutputFormat.h"
#include "platform/text/WideText.h"

namespace quillon::engine {
namespace {

constexpr char kTab = '\t';
constexpr char kLineFeed = '\n';
constexpr char kCarriageReturn = '\r';
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::size_t kReadChunk = 64 * 1024;

namespace logline {
constexpr std::wstring_view kProcessing = L"Processing file: ";
constexpr std::wstring_view kUnknownExtension =
    L"Unknown file extension specified. Please use .XLS,.MDB or .TXT extensions";
constexpr std::wstring_view kReadFailed = L"Can't read the script file: ";
}  // namespace logline

// Runs one record; false when it stops the script.
bool RunRecord(const ScriptRecord& record, IExportHost& host, const ScriptExportFunction& exportQuery) {
  host.AddLogLine(std::wstring(logline::kProcessing) + record.path);
  const std::int32_t format = FormatFromExtension(record.path);
  if (format == FormatUnknown) {
    host.AddLogLine(std::wstring(logline::kUnknownExtension));
    return false;
  }
  return exportQuery(record.statement, record.path, &format);
}

}  // namespace

std::optional<ScriptRecord> ScriptRecordParser::Feed(char byte) {
  if (m_fed < kUtf8Bom.size()) {
    // Decided on the mark's last byte; the mark's bytes are gathered like any others until then.
    if (byte != kUtf8Bom[m_fed]) m_fed = kUtf8Bom.size();
    else if (++m_fed == kUtf8Bom.size()) m_skipBom = true;
  }
  if (byte == kCarriageReturn) return std::nullopt;
  if (byte == kLineFeed && m_hasTab) return TakeRecord();
  if (byte == kTab) m_hasTab = true;
  m_gathered.push_back(byte);
  return std::nullopt;
}

std::optional<ScriptRecord> ScriptRecordParser::Finish() {
  std::optional<ScriptRecord> last;
  if (m_hasTab) last = TakeRecord();
  *this = ScriptRecordParser();
  return last;
}

ScriptRecord ScriptRecordParser::TakeRecord() {
  std::string_view text = m_gathered;
  if (m_firstRecord && m_skipBom) text.remove_prefix(kUtf8Bom.size());
  m_firstRecord = false;
  // TAB, LF and CR never occur inside a multi-byte character of an ASCII-compatible codeset, so
  // the fields can be cut on bytes and decoded whole.
  ScriptRecord record{text::LocaleToWide(text.substr(0, text.find(kTab))),
                      text::LocaleToWide(text.substr(text.rfind(kTab) + 1))};
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

ScriptFile::~ScriptFile() {
  if (m_fd >= 0) ::close(m_fd);
}

bool ScriptFile::Open(const std::wstring& path, std::error_code& error) {
  const std::string name = text::WideToUtf8(path);
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::error_code(errno, std::generic_category());
    return false;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
    error = std::make_error_code(std::errc::is_a_directory);
    ::close(fd);
    return false;
  }
  if (m_fd >= 0) ::close(m_fd);
  m_fd = fd;
  return true;
}

std::size_t ScriptFile::Read(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(m_fd, buffer, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "reading the script file");
  }
}

ScriptOutcome RunScript(ScriptFile& file, IExportHost& host, const ScriptExportFunction& exportQuery) {
  ScriptRecordParser parser;
  std::array<char, kReadChunk> buffer{};
  for (;;) {
    std::size_t count = 0;
    try {
      count = file.Read(buffer.data(), buffer.size());
    } catch (const std::system_error& e) {
      host.AddLogLine(std::wstring(logline::kReadFailed) + text::LocaleToWide(e.code().message()));
      return ScriptOutcome::Stopped;
    }
    if (count == 0) break;
    for (std::size_t i = 0; i < count; ++i) {
      if (auto record = parser.Feed(buffer[i])) {
        if (!RunRecord(*record, host, exportQuery)) return ScriptOutcome::Stopped;
      }
    }
  }
  if (auto last = parser.Finish()) {
    if (!RunRecord(*last, host, exportQuery)) return ScriptOutcome::Stopped;
  }
  return ScriptOutcome::Completed;
}

}  // namespace quillon::engine
