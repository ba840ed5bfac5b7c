// Script files: batches of exports, one record per export, run one after another until the
// first one fails. Shared by the dialog's "Run script" and quillon-export --script.
//
// A script is text in the locale's codeset. Every CR byte is dropped. A record ends at an LF
// when the text gathered since the previous record holds a TAB; an LF before any TAB is part of
// the text, so a statement may run over several lines as long as the TABs stand on its last.
// The statement is the text before the first TAB, the output path the text after the last TAB;
// fields between them are notes. Nothing is trimmed. A last record without a final LF counts as
// well; text after the last record that holds no TAB is not a record and is dropped. A UTF-8
// byte-order mark at the very start of the file marks the encoding and is not part of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/ExportHost.h"

namespace quillon::engine {

struct ScriptRecord {
  std::wstring statement;
  std::wstring path;

  bool operator==(const ScriptRecord&) const = default;
};

// Gathers records from a script's bytes, fed one at a time in file order.
class ScriptRecordParser {
 public:
  // Takes the next byte; returns the record it completes, if any.
  std::optional<ScriptRecord> Feed(char byte);
  // At the end of the file: the last record when it lacks its final LF. Resets the parser.
  std::optional<ScriptRecord> Finish();

 private:
  ScriptRecord TakeRecord();

  std::string m_gathered;  // bytes of the current record, CRs dropped
  bool m_hasTab = false;
  std::size_t m_fed = 0;        // bytes fed so far, up to the length of a byte-order mark
  bool m_skipBom = false;       // the file began with a UTF-8 byte-order mark
  bool m_firstRecord = true;
};

// Every record of a whole script held in memory.
std::vector<ScriptRecord> ParseScript(std::string_view bytes);

// A script file open for reading. Closed by its destructor.
class ScriptFile {
 public:
  ScriptFile() = default;
  ~ScriptFile();
  ScriptFile(const ScriptFile&) = delete;
  ScriptFile& operator=(const ScriptFile&) = delete;

  // Opens `path` for reading. False, with the reason in `error`, when it cannot be opened or
  // names a folder.
  bool Open(const std::wstring& path, std::error_code& error);
  // Reads up to `size` bytes; 0 at the end of the file. Throws std::system_error when the read
  // fails.
  std::size_t Read(char* buffer, std::size_t size);

 private:
  int m_fd = -1;
};

// Runs one export: (statement, output path, address of the OutputFormat); true to go on.
using ScriptExportFunction =
    std::function<bool(const std::wstring& statement, const std::wstring& path, const std::int32_t* format)>;

enum class ScriptOutcome {
  Completed,  // every record was exported
  Stopped,    // a record stopped the run: its extension is unknown, or its export failed
};

// Runs the records of `file` in order, each as soon as it has been read: logs
// "Processing file: " with the path, then exports it when its extension names a format. Stops at
// the first record whose extension is unknown (logged) or whose export returns false (the
// export has logged why); later records are not read. A read error is logged and stops the run.
ScriptOutcome RunScript(ScriptFile& file, IExportHost& host, const ScriptExportFunction& exportQuery);

}  // namespace quillon::engine
