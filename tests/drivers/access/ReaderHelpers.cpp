#include "tests/drivers/access/ReaderHelpers.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "drivers/BuiltInDrivers.h"
#include "drivers/access/AccessDriver.h"
#include "drivers/access/DataPage.h"
#include "drivers/access/Jet4Format.h"
#include "drivers/access/RowWriter.h"
#include "drivers/access/UsageMap.h"
#include "platform/odbc/Installer.h"
#include "platform/text/WideText.h"
#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers::access::test {

int CreateDatabase(const std::filesystem::path& path) {
  RegisterBuiltInDrivers();
  std::wstring attributes = L"CREATE_DB=\"" + text::Utf8ToWide(path.string()) + L"\"";
  attributes.push_back(L'\0');
  return odbc::SQLConfigDataSourceW(nullptr, odbc::ODBC_ADD_DSN, kAccessDriverName, attributes.c_str());
}

std::wstring ConnectString(const std::filesystem::path& path) {
  return std::wstring(L"ODBC;DRIVER={") + kAccessDriverName + L"};DSN='';DBQ=" + text::Utf8ToWide(path.string());
}

void AccessTest::SetUp() { RegisterBuiltInDrivers(); }

bool HaveMdbReader() {
  return std::filesystem::exists(std::filesystem::path(QUILLON_MDB_READER_SCRIPT).parent_path() / "node_modules" /
                                 "mdb-reader") &&
         testing::RunCommand("node --version >/dev/null 2>&1 && echo ok").output == "ok\n";
}

std::string MdbReader(const std::filesystem::path& file, const std::string& tables) {
  return testing::RunCommand("node " + testing::ShellQuote(QUILLON_MDB_READER_SCRIPT) + " " +
                             testing::ShellQuote(file) + " " + tables + " 2>&1")
      .output;
}

std::vector<std::filesystem::path> CopyAccessSamples(const quillon::testing::TempDir& dir) {
  std::vector<std::filesystem::path> copies;
  const std::filesystem::path samples = QUILLON_TESTDATA_DIR "/jet4";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(samples, error)) {
    if (entry.path().extension() != ".mdb") continue;
    copies.push_back(CopyWritable(entry.path(), dir / entry.path().filename().string()));
  }
  if (copies.empty()) ADD_FAILURE() << "no Access test files at " << samples;
  return copies;
}

std::filesystem::path CopyWritable(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::filesystem::copy_file(from, to);
  std::filesystem::permissions(to, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  return to;
}

void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Mdb(const std::string& program, const std::filesystem::path& file, const std::string& arguments) {
  return testing::RunCommand(program + " " + testing::ShellQuote(file) + (arguments.empty() ? "" : " " + arguments))
      .output;
}

std::vector<std::pair<std::uint32_t, std::vector<Value>>> RowsOf(const PageFile& file, std::uint32_t tdefPage,
                                                                 const TableDefinition& table) {
  std::vector<std::pair<std::uint32_t, std::vector<Value>>> rows;
  Page page{};
  for (const std::uint32_t number : MapPages(file, table.usageMap)) {
    file.Read(number, page);
    if (page[0] != jet4::page_type::kData || GetU32(page.data() + jet4::data_page::kOwnerOffset) != tdefPage) continue;
    for (std::uint16_t row = 0; row < RowCount(page); ++row) {
      const auto bytes = RowAt(static_cast<const Page&>(page), row);
      if (!bytes.empty() && !IsOverflowPointer(page, row))
        rows.emplace_back(RowPointer(number, row), DecodeRow(table, bytes));
    }
  }
  return rows;
}

MdbView::MdbView(const std::filesystem::path& path) : m_bytes(testing::ReadBytes(path)) {}

const std::uint8_t* MdbView::Page(std::uint32_t n) const {
  if (n >= PageCount()) throw std::runtime_error("page " + std::to_string(n) + " is past the end");
  return reinterpret_cast<const std::uint8_t*>(m_bytes.data()) + std::size_t{n} * layout::kPage;
}

std::vector<std::uint32_t> MdbView::Chain(std::uint32_t page) const {
  std::vector<std::uint32_t> pages;
  for (; page != 0 && pages.size() < 100; page = GetU32(Page(page) + layout::kNext)) pages.push_back(page);
  return pages;
}

std::vector<std::uint8_t> MdbView::Definition(std::uint32_t page) const {
  std::vector<std::uint8_t> out;
  for (const std::uint32_t p : Chain(page))
    out.insert(out.end(), Page(p) + (out.empty() ? 0 : layout::kContinuationHeader), Page(p) + layout::kPage);
  return out;
}

std::string MdbView::Row(std::uint32_t page, std::uint32_t row) const {
  using namespace layout;
  const std::uint8_t* p = Page(page);
  if (p[0] != kDataPage || row >= GetU16(p + kRowCount)) throw std::runtime_error("no such row");
  const std::uint16_t raw = GetU16(p + kRowOffsets + 2 * row);
  const std::size_t start = raw & kRowOffsetMask;
  const std::size_t end = row == 0 ? kPage : (GetU16(p + kRowOffsets + 2 * (row - 1)) & kRowOffsetMask);
  std::string bytes(reinterpret_cast<const char*>(p) + start, end - start);
  if ((raw & kRowMoved) != 0) {
    const std::uint32_t to = GetU32(bytes, 0);
    return Row(to >> 8, to & 0xFF);
  }
  if ((raw & kRowDeleted) != 0) throw std::runtime_error("the row is deleted");
  return bytes;
}

std::optional<std::set<std::uint32_t>> MdbView::InlineMapPages(std::uint32_t pointer) const {
  using namespace layout;
  const std::string row = Row(pointer >> 8, pointer & 0xFF);
  const auto* map = reinterpret_cast<const std::uint8_t*>(row.data());
  if (row.empty() || map[0] != kInlineMap) return std::nullopt;
  std::set<std::uint32_t> pages;
  for (std::size_t bit = 0; kInlineMapBits + bit / 8 < row.size(); ++bit) {
    if (map[kInlineMapBits + bit / 8] & (1u << (bit % 8)))
      pages.insert(GetU32(map + kInlineMapFirst) + static_cast<std::uint32_t>(bit));
  }
  return pages;
}

}  // namespace quillon::drivers::access::test
