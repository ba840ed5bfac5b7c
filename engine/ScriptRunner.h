// Script files: batches of exports, one record per export, run one after another until the
// first one fails. Shared by the dialog's "Run script" and quillon-export --script.
//
// A script is UTF-8 text, whatever the locale; a UTF-8 byte-order mark at the very start of the
// file marks the encoding and is not part of the text. LF, CR LF and a lone CR each end a line.
// A record ends at a line end when the text gathered since the previous record holds a TAB; a
// line end before any TAB is part of the text (as an LF), so a statement may run over several
// lines as long as the TABs stand on its last. The statement is the text before the first TAB,
// the output path the text after the last TAB; fields between them are notes. Nothing is
// trimmed. A last record without a final line end counts as well.
//
// What is refused, with the line it stands on (ScriptError): a record that is not valid UTF-8,
// a record longer than kMaxScriptRecordBytes, and text after the last record that holds no TAB
// (an export that names no output file). Blank lines after the last record are not a record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ExportHost.h"
#include "engine/OutputFormat.h"
#include "platform/file/FileDescriptor.h"

namespace quillon::engine {

struct ScriptRecord {
  std::wstring statement;
  std::wstring path;

  bool operator==(const ScriptRecord&) const = default;
};

// The most bytes one record may take; a longer one is not a script's (a binary file, a device).
inline constexpr std::size_t kMaxScriptRecordBytes = 16 * 1024 * 1024;

// A script that cannot be run from `line` (1-based) on; what() says why, in UTF-8.
class ScriptError : public std::runtime_error {
 public:
  ScriptError(long line, std::wstring message);
  long Line() const { return m_line; }
  const std::wstring& Message() const { return m_message; }

 private:
  long m_line;
  std::wstring m_message;
};

// Gathers records from a script's bytes, fed one at a time in file order.
class ScriptRecordParser {
 public:
  // Takes the next byte; returns the record it completes, if any. Throws ScriptError.
  std::optional<ScriptRecord> Feed(char byte);
  // At the end of the file: the last record when it lacks its final line end. Throws
  // ScriptError for text left over without a TAB. Resets the parser.
  std::optional<ScriptRecord> Finish();

 private:
  std::optional<ScriptRecord> EndLine();
  ScriptRecord TakeRecord();
  void Append(char byte);
  // The gathered text, without the byte-order mark that may lead the file.
  std::string_view Gathered() const;
  // The line of the byte at `offset` of Gathered().
  long LineAt(std::size_t offset) const;

  std::string m_gathered;  // bytes of the current record, line ends as LF
  bool m_hasTab = false;
  bool m_afterCr = false;  // the last byte was a CR: an LF right after it ends no new line
  long m_line = 1;         // the line the next byte stands on
  long m_recordLine = 1;   // the line the current record began on
  std::size_t m_fed = 0;   // bytes fed so far, up to the length of a byte-order mark
  bool m_skipBom = false;  // the file began with a UTF-8 byte-order mark
  bool m_firstRecord = true;
};

// Every record of a whole script held in memory. Throws ScriptError.
std::vector<ScriptRecord> ParseScript(std::string_view bytes);

// A script file open for reading. Closed by its destructor; it moves but does not copy.
class ScriptFile {
 public:
  // Opens `path` for reading without waiting: a FIFO without a writer opens at once, and its
  // text is waited for by Read. Throws odbc::errors::IoError (its native code the errno) when
  // it cannot be opened or names a folder.
  void Open(const std::wstring& path);
  // Reads up to `size` bytes; 0 at the end of the file. While no text has come (a FIFO or a
  // terminal), asks `stopRequested` again and again and gives up with nothing when it says so.
  // Throws odbc::errors::IoError when the read fails.
  std::optional<std::size_t> Read(char* buffer, std::size_t size, const std::function<bool()>& stopRequested);
  // The folder a record's relative output path counts from: the script's own folder; the
  // working folder (at Open) for a script read from a pipe, a terminal or a device such as
  // /dev/stdin, which stands in no folder of its own. Empty when that cannot be told.
  const std::wstring& Folder() const { return m_folder; }

 private:
  file::FileDescriptor m_fd;
  std::wstring m_folder;
  std::string m_path;  // UTF-8, as errors name it
};

// Runs one export: (statement, output path, output format); true to go on.
using ScriptExportFunction =
    std::function<bool(const std::wstring& statement, const std::wstring& path, OutputFormat format)>;

enum class ScriptOutcome {
  Completed,  // every record was exported
  Stopped,    // a record stopped the run: its extension is unknown, or its export failed
};

// Runs the records of `file` in order, each as soon as it has been read: logs
// "Processing file: " with the path, then exports it when its extension names a format. Stops at
// the first record whose extension is unknown (logged) or whose export returns false (the
// export has logged why); later records are not read. A stop request ends the whole script: no
// record starts once the host asks to stop. A read error and a record the script rules refuse
// are logged and stop the run; a script without any record is logged and completes. A stop
// request while the script's text is awaited (a FIFO nobody writes) is logged and stops it.
// A record's path that does not begin with '/' counts from file.Folder() (the log and the
// export see the whole path).
ScriptOutcome RunScript(ScriptFile& file, IExportHost& host, const ScriptExportFunction& exportQuery);

}  // namespace quillon::engine
