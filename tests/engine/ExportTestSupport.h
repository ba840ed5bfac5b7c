// What the engine's export tests share: a fixture that runs whole exports, and checks on lines
// of output or log. Written files are read back through tests/support/Readers.h.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "engine/ExportRun.h"
#include "platform/odbc/Database.h"
#include "tests/engine/RecordingHost.h"
#include "tests/support/Command.h"
#include "tests/support/Readers.h"
#include "tests/support/TempDir.h"

namespace quillon::engine::testing {

using quillon::testing::DumpXls;
using quillon::testing::OutputLines;
using quillon::testing::ReadAccessSchema;
using quillon::testing::ReadAccessTable;
using quillon::testing::SheetSizes;
using quillon::testing::ShellQuote;

// Whether `lines` holds `line` whole.
template <typename String>
bool Contains(const std::vector<String>& lines, const std::type_identity_t<String>& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Whether a line of `lines` starts with `start`.
inline bool AnyStartsWith(const std::vector<std::wstring>& lines, const std::wstring& start) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::wstring& l) { return l.rfind(start, 0) == 0; });
}

// Whole exports from a source the test opens in m_source into files in m_dir, told to m_host.
class ExportFixture : public ::testing::Test {
 protected:
  // One export; the host's log lines and row errors are this run's alone.
  bool Export(const std::wstring& statement, const std::filesystem::path& out, OutputFormat format) {
    m_host.lines.clear();
    m_host.rowErrors.clear();
    return ExportQuery(m_source, m_host, statement, out.wstring(), format);
  }

  quillon::testing::TempDir m_dir;
  odbc::CDatabase m_source;
  RecordingHost m_host;
};

}  // namespace quillon::engine::testing
