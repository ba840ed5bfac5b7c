// The workbook reader on streams built in memory: what it refuses, and that damaged streams are
// refused rather than misread.
#include <memory>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "drivers/excel/Biff8.h"
#include "drivers/excel/Workbook.h"
#include "drivers/sql/Statement.h"
#include "platform/errors/Errors.h"

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
  const std::size_t at = biff::kRecordHeaderSize + biff::GetU16(&stream[2]);
  const auto record = biff::Record(id, {0, 0, 0, 0});
  stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(at), record.begin(), record.end());
  return stream;
}

// Why the stream is refused: when it is read, or (its shared strings) when a table is created,
// then for every table after.
std::string RefusalOf(std::vector<std::uint8_t> stream) {
  std::unique_ptr<Workbook> book;
  try {
    book = std::make_unique<Workbook>(std::move(stream));
  } catch (const WorkbookRefused& e) {
    return e.what();
  }
  std::string first, second;
  for (auto [table, why] : {std::pair{L"New1", &first}, std::pair{L"New2", &second}}) {
    try {
      book->CreateTable(
          std::get<sql::CreateTable>(sql::Parse(L"CREATE TABLE " + std::wstring(table) + L" ([A] TEXT)")));
    } catch (const WorkbookRefused& e) {
      *why = e.what();
    }
  }
  EXPECT_EQ(first, second);
  return first;
}

// What Excel checks and lenient readers do not: record sizes, where BOUNDSHEET points, and that
// every EXTSST bucket points at the first byte of its string, in a table split over CONTINUEs.
TEST(WorkbookTest, StreamLayoutIsWhatExcelExpects) {
  Workbook book;
  book.CreateTable(std::get<sql::CreateTable>(sql::Parse(L"CREATE TABLE T ([A] TEXT)")));
  std::size_t expectedStrings = 1;
  for (int i = 0; i < 3000; ++i, ++expectedStrings) {
    std::wstring value = L"v" + std::to_wstring(i) + std::wstring(static_cast<std::size_t>(i % 50), L'a');
    if (i % 7 == 0) value += L"\u4e2d\U0001F600";
    if (i % 500 == 0) value += std::wstring(9000, L'z');
    book.Insert(std::get<sql::Insert>(sql::Parse(L"INSERT INTO T VALUES('" + value + L"')")));
  }
  MemorySink sink;
  book.Write(sink);
  const auto& s = sink.Bytes();

  struct Rec {
    std::size_t at;
    std::uint16_t id, length;
  };
  std::vector<Rec> records;
  for (std::size_t at = 0; at + 4 <= s.size();) {
    records.push_back({at, biff::GetU16(&s[at]), biff::GetU16(&s[at + 2])});
    ASSERT_LE(records.back().length, biff::kMaxRecordData);
    at += 4 + records.back().length;
    ASSERT_LE(at, s.size());
  }
  std::size_t xfs = 0;
  std::vector<std::size_t> sstPieces;  // record starts of SST and its CONTINUEs
  const Rec* extSst = nullptr;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto& r = records[i];
    if (r.id == biff::kXf) ++xfs;
    if (r.id == biff::kBoundSheet) {
      const std::uint32_t position = biff::GetU32(&s[r.at + 4]);
      ASSERT_LT(position + 4u, s.size());
      EXPECT_EQ(biff::GetU16(&s[position]), biff::kBof);
      EXPECT_EQ(biff::GetU16(&s[position + 6]), biff::kBofWorksheet);
    }
    if (r.id == biff::kSst || (r.id == biff::kContinue && !sstPieces.empty() && extSst == nullptr))
      sstPieces.push_back(i);
    if (r.id == biff::kExtSst) extSst = &r;
  }
  EXPECT_GE(xfs, biff::kStyleXfCount);
  ASSERT_NE(extSst, nullptr);
  ASSERT_GT(sstPieces.size(), 2u);

  // Walk the table, noting where each string starts (absolute position and record start).
  std::vector<std::pair<std::size_t, std::size_t>> starts;
  std::size_t piece = 0, at = records[sstPieces[0]].at + 4 + 8;
  const auto end = [&] { return records[sstPieces[piece]].at + 4 + records[sstPieces[piece]].length; };
  const std::uint32_t unique = biff::GetU32(&s[records[sstPieces[0]].at + 8]);
  EXPECT_EQ(unique, expectedStrings);
  for (std::uint32_t n = 0; n < unique; ++n) {
    if (at == end()) at = records[sstPieces[++piece]].at + 4;
    starts.emplace_back(at, records[sstPieces[piece]].at);
    std::size_t chars = biff::GetU16(&s[at]);
    bool wide = s[at + 2] & biff::kStringHighByte;
    ASSERT_LE(at + 3 + (chars ? (wide ? 2 : 1) : 0), end()) << "a string header is split";
    at += 3;
    while (chars > 0) {
      const std::size_t take = std::min(chars, (end() - at) / (wide ? 2 : 1));
      at += take * (wide ? 2 : 1);
      chars -= take;
      if (chars > 0) {
        ASSERT_EQ(at, end()) << "a character is split";
        at = records[sstPieces[++piece]].at + 4;
        wide = s[at++] & biff::kStringHighByte;
      }
    }
  }
  EXPECT_EQ(piece + 1, sstPieces.size());
  const std::uint16_t perBucket = biff::GetU16(&s[extSst->at + 4]);
  const std::size_t buckets = (extSst->length - 2u) / 8u;
  EXPECT_GE(perBucket, 8);
  EXPECT_EQ(buckets, (unique + perBucket - 1) / perBucket);
  for (std::size_t b = 0; b < buckets; ++b) {
    const std::uint8_t* entry = &s[extSst->at + 6 + b * 8];
    EXPECT_EQ(biff::GetU32(entry), starts[b * perBucket].first) << b;
    EXPECT_EQ(biff::GetU16(entry + 4), starts[b * perBucket].first - starts[b * perBucket].second) << b;
  }
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
  biff::PutU16(&biff5[biff::kRecordHeaderSize], 0x0500);
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
    const auto id = biff::GetU16(&moved[at]);
    const auto length = biff::GetU16(&moved[at + 2]);
    if (id == biff::kBoundSheet) biff::PutU32(&moved[at + 4], biff::GetU32(&moved[at + 4]) + 1);
    at += 4 + length;
  }
  EXPECT_FALSE(RefusalOf(moved).empty());
  // A shared string table that claims a string more than it holds.
  auto sst = stream;
  for (std::size_t at = 0; at + 4 <= sst.size(); at += 4 + biff::GetU16(&sst[at + 2])) {
    if (biff::GetU16(&sst[at]) == biff::kSst) biff::PutU32(&sst[at + 8], biff::GetU32(&sst[at + 8]) + 1);
  }
  EXPECT_NE(RefusalOf(sst).find("shared string"), std::string::npos);
}

}  // namespace
}  // namespace quillon::drivers::excel
