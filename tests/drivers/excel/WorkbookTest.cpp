// The workbook reader on streams built in memory: what it refuses, and that damaged streams are
// refused rather than misread.
#include "drivers/excel/Workbook.h"

#include <gtest/gtest.h>

#include "drivers/excel/Biff8.h"
#include "drivers/sql/Statement.h"
#include "platform/odbc/DBException.h"

namespace quillon::drivers::excel {
namespace {

std::vector<std::uint8_t> NewStream(int rows) {
  Workbook book;
  book.CreateTable(std::get<sql::CreateTable>(sql::Parse(L"CREATE TABLE T ([A] TEXT,[B] DOUBLE,[C] DATE)")));
  for (int i = 0; i < rows; ++i) {
    book.Insert(std::get<sql::Insert>(
        sql::Parse(L"INSERT INTO T VALUES('row " + std::to_wstring(i) + L"'," + std::to_wstring(i) + L",'1.1.2000')")));
  }
  MemorySink sink;
  book.Write(sink);
  return sink.Bytes();
}

// Inserts a record right after the globals' BOF.
std::vector<std::uint8_t> WithRecordAfterBof(std::vector<std::uint8_t> stream, std::uint16_t id) {
  const std::size_t at = biff::kRecordHeaderSize + biff::ReadU16(&stream[2]);
  const auto record = biff::Record(id, {0, 0, 0, 0});
  stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(at), record.begin(), record.end());
  return stream;
}

std::string RefusalOf(std::vector<std::uint8_t> stream) {
  try {
    Workbook book(std::move(stream));
  } catch (const WorkbookRefused& e) {
    return e.what();
  }
  return {};
}

TEST(WorkbookTest, ReadsItsOwnOutputAndAddsToIt) {
  Workbook book(NewStream(100));
  EXPECT_EQ(book.SheetNames(), std::vector<std::u16string>{u"T"});
  EXPECT_THROW(book.CreateTable(std::get<sql::CreateTable>(sql::Parse(L"CREATE TABLE t ([A] TEXT)"))),
               odbc::CDBException);
  book.CreateTable(std::get<sql::CreateTable>(sql::Parse(L"CREATE TABLE U ([A] TEXT)")));
  MemorySink sink;
  book.Write(sink);
  Workbook again(sink.Bytes());
  EXPECT_EQ(again.SheetNames(), (std::vector<std::u16string>{u"T", u"U"}));
}

TEST(WorkbookTest, RefusesEncryptedAndOlderWorkbooks) {
  const auto stream = NewStream(3);
  EXPECT_NE(RefusalOf(WithRecordAfterBof(stream, biff::kFilePass)).find("encrypted"), std::string::npos);
  auto biff5 = stream;
  biff::WriteU16(&biff5[biff::kRecordHeaderSize], 0x0500);
  EXPECT_NE(RefusalOf(biff5).find("BIFF8"), std::string::npos);
  EXPECT_NE(RefusalOf({}).find("BOF"), std::string::npos);
}

TEST(WorkbookTest, DamagedStreamsAreRefusedNotMisread) {
  const auto stream = NewStream(20);
  // Every truncation is refused (a sheet or the globals lose their end).
  for (std::size_t size = 0; size < stream.size(); size += 7) {
    std::vector<std::uint8_t> cut(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(RefusalOf(std::move(cut)).empty()) << size;
  }
  // A sheet position that points elsewhere is refused.
  auto moved = stream;
  for (std::size_t at = 0; at + 4 <= moved.size();) {
    const auto id = biff::ReadU16(&moved[at]);
    const auto length = biff::ReadU16(&moved[at + 2]);
    if (id == biff::kBoundSheet) biff::WriteU32(&moved[at + 4], biff::ReadU32(&moved[at + 4]) + 1);
    at += 4 + length;
  }
  EXPECT_FALSE(RefusalOf(moved).empty());
}

}  // namespace
}  // namespace quillon::drivers::excel
