// Checkpoints of the Access driver: each leaves a complete database that mdbtools and mdb-reader
// read, and the connection goes on to write the same file as one that took none.
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/OutputDriver.h"
#include "drivers/access/AccessDriver.h"
#include "platform/odbc/ConnectString.h"
#include "tests/drivers/access/ReaderHelpers.h"
#include "tests/support/Command.h"

namespace quillon::drivers::access::test {
namespace {

using CheckpointTest = AccessTest;

std::unique_ptr<OutputConnection> Connect(const std::filesystem::path& file) {
  auto connection = MakeAccessDriver()->Connect(odbc::ConnectString::Parse(ConnectString(file)));
  auto* output = dynamic_cast<OutputConnection*>(connection.get());
  if (output != nullptr) connection.release();
  return std::unique_ptr<OutputConnection>(output);
}

// CREATE TABLE stamps the catalog with the second: on the two connections it must be the same.
// Row i of table T: a memo of none, one character, one long-value row or a chain over pages, and
// binary of none, inline or over a page.
std::wstring RowOfT(int i) {
  static constexpr std::size_t kMemo[] = {0, 1, 3000, 9000};
  static constexpr std::size_t kBinary[] = {0, 4, 5000};
  const std::size_t memo = kMemo[i % 4];
  const std::size_t binary = kBinary[i % 3];
  std::wstring row = L"INSERT INTO T VALUES(" + std::to_wstring(i) + L", 'name " + std::to_wstring(i) + L"', ";
  row += memo == 0 ? L"NULL" : L"'" + std::wstring(memo, static_cast<wchar_t>(L'a' + i % 26)) + L"'";
  row += binary == 0 ? L", NULL" : L", 0x" + std::wstring(binary * 2, static_cast<wchar_t>(L'0' + i % 10));
  return row + L", " + std::to_wstring(i) + L".5, '2024-02-29 13:45:10')";
}

// What both readers make of T and U: the row counts and, for T, whether every memo and binary
// value has the length its row was given.
void ExpectReadable(const std::filesystem::path& file, int rowsOfT, int rowsOfU) {
  EXPECT_EQ(Mdb("mdb-count", file, "T"), std::to_string(rowsOfT) + "\n");
  const std::string lengths =
      "T | awk -F'|' '{ m = ($1 % 4 == 1) ? 1 : ($1 % 4 == 2) ? 3000 : ($1 % 4 == 3) ? 9000 : 0;"
      " b = ($1 % 3 == 1) ? 8 : ($1 % 3 == 2) ? 10000 : 0; if (length($3) != m || length($4) != b) bad++ }"
      " END { print NR, bad + 0 }'";
  EXPECT_EQ(Mdb("mdb-export -H -Q -d '|' -b hex", file, lengths), std::to_string(rowsOfT) + " 0\n");
  if (rowsOfU > 0) {
    EXPECT_EQ(Mdb("mdb-count", file, "U"), std::to_string(rowsOfU) + "\n");
  }
  if (!HaveMdbReader()) return;
  const std::string reader = MdbReader(file, rowsOfU > 0 ? "T U" : "T");
  EXPECT_NE(reader.find("\"T\":" + std::to_string(rowsOfT)), std::string::npos) << reader.substr(0, 300);
  if (rowsOfU > 0) {
    EXPECT_NE(reader.find("\"U\":" + std::to_string(rowsOfU)), std::string::npos);
  }
  EXPECT_NE(reader.find("\"read\":" + std::to_string(rowsOfT + rowsOfU)), std::string::npos);
  EXPECT_NE(reader.find("\"Id\":" + std::to_string(rowsOfT - 1) + ",\"Name\":\"name "), std::string::npos);
}

TEST_F(CheckpointTest, CheckpointsLeaveCompleteFilesAndTheSameFinalFile) {
  // A catalog row records when its table was made: both connections make theirs at one moment.
  ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  const auto created = m_dir / "created.mdb";
  ASSERT_EQ(CreateDatabase(created), 1);
  const std::vector<std::pair<const char*, std::filesystem::path>> starts = {
      {"new", created}, {"Access", std::filesystem::path(QUILLON_TESTDATA_DIR) / "jet4" / "test2V2000.mdb"}};
  for (const auto& [kind, start] : starts) {
    SCOPED_TRACE(kind);
    testing::TempDir dir;
    const auto checkpointed = CopyWritable(start, dir / "checkpointed.mdb");
    const auto plain = CopyWritable(start, dir / "plain.mdb");
    auto withCheckpoints = Connect(checkpointed);
    auto without = Connect(plain);
    ASSERT_TRUE(withCheckpoints && without);
    const auto both = [&](const std::wstring& sql) {
      withCheckpoints->ExecuteSQL(sql);
      without->ExecuteSQL(sql);
    };
    both(L"CREATE TABLE T (Id INTEGER, Name VARCHAR(20), Notes MEMO, Data LONGBINARY, Amount DOUBLE, Stamp DATE)");
    int rows = 0;
    for (; rows < 300; ++rows) both(RowOfT(rows));
    withCheckpoints->Checkpoint();
    ExpectReadable(checkpointed, rows, 0);
    withCheckpoints->Checkpoint();  // nothing changed: nothing is written

    for (; rows < 1000; ++rows) both(RowOfT(rows));
    both(L"CREATE TABLE U (Id INTEGER, Word VARCHAR(10))");
    for (int i = 0; i < 200; ++i) {
      both(L"INSERT INTO U VALUES(" + std::to_wstring(i) + L", 'u" + std::to_wstring(i) + L"')");
      both(RowOfT(rows++));
      if (i % 50 == 0) withCheckpoints->Checkpoint();
    }
    withCheckpoints->Checkpoint();
    ExpectReadable(checkpointed, rows, 200);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);

    withCheckpoints->Close();
    without->Close();
    ExpectReadable(checkpointed, rows, 200);
    const std::string written = testing::ReadBytes(checkpointed);
    const std::string expected = testing::ReadBytes(plain);
    ASSERT_EQ(written.size(), expected.size());
    const auto differ = std::mismatch(written.begin(), written.end(), expected.begin());
    EXPECT_TRUE(differ.first == written.end()) << "first difference at byte " << (differ.first - written.begin());
  }
}

}  // namespace
}  // namespace quillon::drivers::access::test
