// Helpers for the Access driver's tests: databases to start from, mdbtools' and mdb-reader's view
// of a file, and the tests' own reader of its pages.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/access/Catalog.h"
#include "drivers/access/PageFile.h"
#include "drivers/access/Value.h"
#include "platform/bytes/Bytes.h"
#include "platform/odbc/Database.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers::access::test {

// Creates an empty database through the installer entry point; its return value.
int CreateDatabase(const std::filesystem::path& path);
// The connect string the export uses, DBQ last.
std::wstring ConnectString(const std::filesystem::path& path);

// A connection through the driver to the database at `path`, opened as the export opens it.
struct OpenDatabase : odbc::CDatabase {
  explicit OpenDatabase(const std::filesystem::path& path) { OpenEx(ConnectString(path)); }
};

inline void Execute(odbc::CDatabase& db, const std::wstring& sql) { db.ExecuteSQL(sql); }

// The Access tests' fixture: the built-in drivers registered, and a private folder.
class AccessTest : public ::testing::Test {
 protected:
  void SetUp() override;
  quillon::testing::TempDir m_dir;
};

// True when node and the installed mdb-reader are there.
bool HaveMdbReader();
// mdb-reader's view: JSON with "tables" (name -> row count) and "rows" of the named tables.
std::string MdbReader(const std::filesystem::path& file, const std::string& tables = "");

// Writable copies in `dir` of the Access-written sample databases in tests/data/jet4 (a failure
// when there are none).
std::vector<std::filesystem::path> CopyAccessSamples(const quillon::testing::TempDir& dir);
// A writable copy of `from` at `to`; `to`.
std::filesystem::path CopyWritable(const std::filesystem::path& from, const std::filesystem::path& to);
// Replaces the file's content with `bytes`.
void WriteBytes(const std::filesystem::path& file, const std::string& bytes);

// The standard output of an mdbtools program run on `file`, e.g. Mdb("mdb-count", file, "T").
std::string Mdb(const std::string& program, const std::filesystem::path& file, const std::string& arguments = "");

// The rows of the table defined at `tdefPage` as the driver reads them, with their places (page
// << 8 | row); deleted rows and the pointers moved rows leave behind are passed over.
std::vector<std::pair<std::uint32_t, std::vector<Value>>> RowsOf(const PageFile& file, std::uint32_t tdefPage,
                                                                 const TableDefinition& table);

// The page layout of a Jet 4 file as these tests read it: written down here apart from the
// driver's own tables, so that a wrong constant there shows as a difference.
namespace layout {
constexpr std::size_t kPage = 4096;
constexpr std::uint8_t kDataPage = 0x01;
constexpr std::size_t kFreeSpace = 2;  // on data, definition and index pages
constexpr std::size_t kNext = 4;       // a definition's next page; the owner of data and index pages
constexpr std::size_t kContinuationHeader = 8;
constexpr std::size_t kRowCount = 12;
constexpr std::size_t kRowOffsets = 14;
constexpr std::uint16_t kRowOffsetMask = 0x1FFF;
constexpr std::uint16_t kRowMoved = 0x4000;
constexpr std::uint16_t kRowDeleted = 0x8000;
constexpr std::uint8_t kInlineMap = 0x00;  // a usage map of a first page and a bitmap
constexpr std::size_t kInlineMapFirst = 1;
constexpr std::size_t kInlineMapBits = 5;
// A table definition: its stated length, counts, then column records after the index counts.
constexpr std::size_t kDefinitionLength = 8;
constexpr std::size_t kColumnCount = 45;
constexpr std::size_t kLogicalIndexCount = 47;
constexpr std::size_t kRealIndexCount = 51;
constexpr std::size_t kDefinitionHeader = 63;
constexpr std::size_t kRealIndexCountSize = 12;
constexpr std::size_t kColumnRecord = 25;
constexpr std::size_t kRealIndexRecord = 52;
constexpr std::size_t kLogicalIndexRecord = 28;
}  // namespace layout

using bytes::GetU16;
using bytes::GetU32;
// The little-endian 32-bit field at `at` of a file's or a row's bytes.
inline std::uint32_t GetU32(const std::string& bytes, std::size_t at) {
  return GetU32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + at);
}

// A database file's pages, read without the driver, the way a reader that knows only the page
// layout would. Reading past the file or a row that is not there throws std::runtime_error.
class MdbView {
 public:
  explicit MdbView(const std::filesystem::path& path);
  std::size_t PageCount() const { return m_bytes.size() / layout::kPage; }
  const std::uint8_t* Page(std::uint32_t n) const;
  std::string PageBytes(std::uint32_t n) const { return {reinterpret_cast<const char*>(Page(n)), layout::kPage}; }
  // The pages of the definition starting at `page`.
  std::vector<std::uint32_t> Chain(std::uint32_t page) const;
  // Its bytes, continuation pages appended without their header.
  std::vector<std::uint8_t> Definition(std::uint32_t page) const;
  // A row's bytes, following a row that was moved.
  std::string Row(std::uint32_t page, std::uint32_t row) const;
  // The pages the usage map at `pointer` (page << 8 | row) lists; nothing when it is not inline.
  std::optional<std::set<std::uint32_t>> InlineMapPages(std::uint32_t pointer) const;

 private:
  std::string m_bytes;
};

}  // namespace quillon::drivers::access::test
