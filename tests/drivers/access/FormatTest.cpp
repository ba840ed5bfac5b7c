// Checks of format pieces whose faults the round trips would not show: Jet dates before
// 1899, text compression choices, usage maps past their first bitmap page, header refusals.
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/access/AccessDatabase.h"
#include "drivers/access/Catalog.h"
#include "drivers/access/DataPage.h"
#include "drivers/access/HeaderPage.h"
#include "drivers/access/Jet4Format.h"
#include "drivers/access/JetText.h"
#include "drivers/access/PageFile.h"
#include "drivers/access/RowWriter.h"
#include "drivers/access/UsageMap.h"
#include "drivers/access/Value.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/text/WideText.h"
#include "tests/drivers/access/ReaderHelpers.h"
#include "tests/support/Command.h"
#include "tests/support/Require.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers::access::test {
namespace {

TEST(JetFormat, DatesBeforeTheEpochCountTheTimeForward) {
  EXPECT_EQ(JetDate(1899, 12, 30), 0.0);
  EXPECT_EQ(JetDate(1900, 1, 1, 12), 2.5);
  // The whole part is the day and the fraction the time of day, whatever the sign.
  EXPECT_EQ(JetDate(1899, 12, 29, 6), -1.25);
  EXPECT_EQ(JetDate(1800, 1, 1), -36522.0);
  EXPECT_EQ(JetDate(2024, 2, 29, 13, 45, 10), 45351.0 + (13 * 3600 + 45 * 60 + 10) / 86400.0);
}

// The rows of a user table as stored, read through the catalog.
std::vector<std::vector<Value>> StoredRows(const std::filesystem::path& path, std::u16string_view name) {
  PageFile file(path, PageFile::Mode::CopyExisting);
  std::vector<std::vector<Value>> rows;
  for (const auto& entry : ReadCatalog(file)) {
    if (!IsTableEntry(entry) || entry.name != name) continue;
    const auto tdefPage = static_cast<std::uint32_t>(entry.id) & jet4::catalog::kIdPageMask;
    for (auto& row : RowsOf(file, tdefPage, ReadTableDefinition(file, tdefPage))) rows.push_back(std::move(row.second));
  }
  return rows;
}

TEST(JetFormat, DatesBeforeTheEpochAreStoredAsANegativeDayAndAForwardTime) {
  testing::TempDir dir;
  const auto path = dir / "dates.mdb";
  ASSERT_TRUE(CreateDatabase(path));
  {
    OpenDatabase db(path);
    db.ExecuteSQL(L"CREATE TABLE Dates (N INTEGER, D DATE)");
    db.ExecuteSQL(L"INSERT INTO Dates VALUES(1, '1000-06-15 10:20:30')");
    db.ExecuteSQL(L"INSERT INTO Dates VALUES(2, '1899-12-29 06:00')");
    db.ExecuteSQL(L"INSERT INTO Dates VALUES(3, '1899-12-30 06:00')");
    db.Close();
  }
  // 1000-06-15 is 328551 days before 1899-12-30 (proleptic Gregorian); the time of day is added
  // to the day's distance from the epoch, whatever the sign.
  const double time = (10 * 3600 + 20 * 60 + 30) / 86400.0;
  const std::vector<double> expected = {-(328551 + time), -1.25, 0.25};
  const auto rows = StoredRows(path, u"Dates");
  ASSERT_EQ(rows.size(), 3u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i][1].kind, Value::Kind::Double);
    EXPECT_DOUBLE_EQ(rows[i][1].number, expected[i]) << "row " << i + 1;
  }
  // mdb-reader turns the stored number into a date by counting linearly from 1899-12-30, so it
  // shows the stored value: the day before at (1 - time).
  QUILLON_REQUIRE_TOOL(HaveMdbReader()) << "mdb-reader is not installed";
  const std::string read = MdbReader(path, "Dates");
  EXPECT_NE(read.find(R"({"N":1,"D":"1000-06-14T13:39:30.000Z"})"), std::string::npos) << read;
  EXPECT_NE(read.find(R"({"N":2,"D":"1899-12-28T18:00:00.000Z"})"), std::string::npos) << read;
  EXPECT_NE(read.find(R"({"N":3,"D":"1899-12-30T06:00:00.000Z"})"), std::string::npos) << read;
}

TEST(JetFormat, TextIsCompressedOnlyWhenEveryCharacterFitsOneByte) {
  const std::u16string latin = u"Grüße, 1½";
  const auto compressed = EncodeJetText(latin, true);
  EXPECT_EQ(compressed.size(), latin.size() + 2);
  EXPECT_EQ(compressed[0], 0xFF);
  EXPECT_EQ(compressed[1], 0xFE);
  EXPECT_EQ(DecodeJetText(compressed), latin);
  // One character above U+00FF, or a NUL, keeps the whole value in UTF-16.
  for (const std::u16string& text :
       {std::u16string(u"Grüße Ω"), std::u16string(u"a\0b", 3), std::u16string(u"😀"), std::u16string(u"\u0100")}) {
    const auto bytes = EncodeJetText(text, true);
    EXPECT_EQ(bytes.size(), text.size() * 2);
    EXPECT_EQ(DecodeJetText(bytes), text);
  }
  EXPECT_TRUE(EncodeJetText(u"", true).empty());
  EXPECT_EQ(EncodeJetText(u"abc", false).size(), 6u);
  // Into a row's remaining room: as encoded when that fits, else nothing (even where the other
  // layout would have fitted).
  const struct {
    std::u16string text;
    std::size_t room;
  } rooms[] = {{u"abc", 5}, {u"abc", 4}, {u"a", 2}, {u"Ж", 2}, {u"Ж", 1}, {u"aЖ", 4}, {u"aЖ", 3}, {u"", 0}};
  for (const auto& c : rooms) {
    const auto encoded = EncodeJetText(c.text, true);
    std::vector<std::uint8_t> out(c.room);
    const auto written = PutJetText(c.text, true, out.data(), c.room);
    ASSERT_EQ(written.has_value(), encoded.size() <= c.room) << c.room;
    if (written) {
      EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(*written)), encoded);
    }
  }
}

TEST(JetFormat, ValuesThatDoNotFitTheirColumnAreRefusedWithTheReason) {
  testing::TempDir dir;
  const auto path = dir / "refused.mdb";
  AccessDatabase::Create(path);
  AccessDatabase db(path);
  db.CreateTable(u"T", {{u"S", jet4::ColumnType::Integer},
                        {u"Name", jet4::ColumnType::Text, 3},
                        {u"D", jet4::ColumnType::DateTime},
                        {u"B", jet4::ColumnType::Ole}});
  const struct {
    std::vector<Value> row;
    const wchar_t* message;
  } cases[] = {
      {{Value::Int(32768), {}, {}, {}}, L"The value for column 'S' is out of range (-32768 to 32767)"},
      {{Value::Str(u"1"), {}, {}, {}}, L"The value for column 'S' is not a whole number"},
      {{{}, Value::Str(u"abcd"), {}, {}},
       L"The value for column 'Name' is too long (4 characters; the column holds 3)"},
      {{{}, {}, Value::Real(HUGE_VAL), {}}, L"The value for column 'D' is not a finite number"},
      {{{}, {}, {}, Value::Str(u"x")}, L"The value for column 'B' is not binary"},
  };
  for (const auto& c : cases) {
    try {
      db.Insert(u"T", c.row);
      ADD_FAILURE() << "taken: " << text::WideToUtf8(c.message);
    } catch (const odbc::CDBException& e) {
      EXPECT_EQ(e.m_strMessage, c.message);
    }
  }
  db.Insert(u"T", {Value::Int(-32768), Value::Str(u"abc"), Value::Real(1), Value::Bytes({1})});
}

TEST(JetFormat, PackedRowsGoWhereAddRowPutsThem) {
  Page scanned{};
  Page packed{};
  InitDataPage(scanned, 7);
  InitDataPage(packed, 7);
  // Rows of changing sizes until the page is full, the last one refused by both.
  for (std::size_t size = 1;; size += 37) {
    const std::vector<std::uint8_t> row(size, static_cast<std::uint8_t>(size));
    const auto index = AddRow(scanned, row);
    ASSERT_EQ(AddPackedRow(packed, row), index);
    if (!index) break;
  }
  EXPECT_GT(RowCount(packed), 1u);
  EXPECT_EQ(packed, scanned);
}

TEST(JetFormat, ReferenceMapsReachPagesBeyondTheirFirstBitmapPage) {
  testing::TempDir dir;
  PageFile file(dir / "map.mdb", PageFile::Mode::CreateNew);
  Page page{};
  file.Write(0, page);
  InitDataPage(page, 0);
  const auto row = AddRow(page, EmptyReferenceMap());
  ASSERT_TRUE(row);
  file.Write(1, page);
  const std::uint32_t pointer = RowPointer(1, *row);
  const std::uint32_t far = static_cast<std::uint32_t>(jet4::usage_map::kPagesPerBitmapPage) * 3 + 17;
  for (const std::uint32_t number : {2u, 3u, far}) ASSERT_TRUE(AddPageToMap(file, pointer, number));
  EXPECT_EQ(MapPages(file, pointer), (std::vector<std::uint32_t>{2, 3, far}));
  EXPECT_EQ(file.PageCount(), 4u);  // two bitmap pages were added, one for each range used
  EXPECT_FALSE(AddPageToMap(file, pointer, jet4::kMaxPages + jet4::usage_map::kPagesPerBitmapPage * 2));

  // An inline map covers its bitmap's range, then turns into a reference map keeping its pages.
  InitDataPage(page, 0);
  auto inlineRow = EmptyInlineMap();
  inlineRow[jet4::usage_map::kInlineStartOffset] = 100;
  const auto inlineIndex = AddRow(page, inlineRow);
  file.Write(2, page);
  const std::uint32_t inlinePointer = RowPointer(2, *inlineIndex);
  const std::uint32_t lastInline = 100 + (jet4::usage_map::kRowSize - 5) * 8 - 1;
  EXPECT_TRUE(AddPageToMap(file, inlinePointer, 100));
  EXPECT_TRUE(AddPageToMap(file, inlinePointer, lastInline));
  file.Read(2, page);
  EXPECT_EQ(RowAt(page, *inlineIndex)[0], jet4::usage_map::kInline);
  EXPECT_TRUE(AddPageToMap(file, inlinePointer, 99));
  EXPECT_TRUE(AddPageToMap(file, inlinePointer, far));
  file.Read(2, page);
  EXPECT_EQ(RowAt(page, *inlineIndex)[0], jet4::usage_map::kReference);
  EXPECT_EQ(MapPages(file, inlinePointer), (std::vector<std::uint32_t>{99, 100, lastInline, far}));
}

TEST(JetFormat, HeaderOfANewDatabasePassesItsOwnCheckAndHidesItsFields) {
  const Page header = BuildHeaderPage(45000.5);
  EXPECT_EQ(HeaderPageProblem(header, 10 * jet4::kPageSize), L"");
  // The code page is masked: in the clear it would read E4 04.
  EXPECT_FALSE(header[jet4::header::kCodePageOffset] == 0xE4 && header[jet4::header::kCodePageOffset + 1] == 0x04);
  Page clear = header;
  ToggleHeaderMask(clear);
  EXPECT_EQ(GetU16(clear.data() + jet4::header::kCodePageOffset), jet4::header::kCodePage1252);
  EXPECT_EQ(GetDouble(clear.data() + jet4::header::kCreationDateOffset), 45000.5);
  EXPECT_NE(HeaderPageProblem(header, 10 * jet4::kPageSize + 1), L"");
  EXPECT_NE(HeaderPageProblem(std::span(header).first(100), 10 * jet4::kPageSize), L"");
}

// Pages the global map (page 1, row 0) lists as free, among the first `limit`.
std::vector<std::uint32_t> GlobalFree(const std::filesystem::path& path, std::uint32_t limit) {
  PageFile file(path, PageFile::Mode::CopyExisting);
  std::vector<std::uint32_t> free;
  for (const auto page : MapPages(file, RowPointer(1, 0))) {
    if (page < limit) free.push_back(page);
  }
  return free;
}

TEST(JetFormat, GlobalMapKeepsEveryPageInUseOutOfTheFreeList) {
  testing::TempDir dir;
  const auto path = dir / "global.mdb";
  AccessDatabase::Create(path);
  auto pages = static_cast<std::uint32_t>(MdbView(path).PageCount());
  EXPECT_EQ(GlobalFree(path, pages + 3), (std::vector<std::uint32_t>{pages, pages + 1, pages + 2}));
  {
    AccessDatabase db(path);
    db.CreateTable(u"T", {{u"Text", jet4::ColumnType::Text, 200}});
    for (int i = 0; i < 20000; ++i) db.Insert(u"T", {Value::Str(std::u16string(150, u'Ж'))});
    db.Close();
  }
  pages = static_cast<std::uint32_t>(MdbView(path).PageCount());
  ASSERT_GT(pages, 1000u);  // past what an inline map covers
  EXPECT_EQ(GlobalFree(path, pages + 1), (std::vector<std::uint32_t>{pages}));
}

TEST(JetFormat, TablesCreatedLaterLeaveTheMapsOfEarlierTablesWhole) {
  testing::TempDir dir;
  const auto path = dir / "later.mdb";
  AccessDatabase::Create(path);
  {
    // The first table's map grows into bitmap pages (its row changes on the page of maps)
    // before the next tables place their map rows on the same page.
    AccessDatabase db(path);
    db.CreateTable(u"First", {{u"Text", jet4::ColumnType::Text, 200}, {u"Note", jet4::ColumnType::Memo, 0}});
    for (int i = 0; i < 6000; ++i) {
      db.Insert(u"First", {Value::Str(std::u16string(150, u'Ж')), Value::Str(std::u16string(i % 2 ? 1500 : 10, u'n'))});
    }
    db.CreateTable(u"Second", {{u"N", jet4::ColumnType::Long, 0}, {u"Note", jet4::ColumnType::Memo, 0}});
    db.Insert(u"Second", {Value::Int(1), Value::Str(u"note")});
    db.CreateTable(u"Third", {{u"N", jet4::ColumnType::Long, 0}});
    db.Close();
  }
  EXPECT_EQ(Mdb("mdb-export", path, "First | wc -l"), "6001\n");
  EXPECT_EQ(Mdb("mdb-export", path, "Second | wc -l"), "2\n");
  QUILLON_REQUIRE_TOOL(HaveMdbReader()) << "mdb-reader is not installed";
  EXPECT_NE(MdbReader(path, "First").find("\"read\":6000}"), std::string::npos);
}

TEST(JetFormat, GlobalMapOfAnAccessFileKeepsItsFreePages) {
  const std::filesystem::path original = QUILLON_TESTDATA_DIR "/jet4/test2V2000.mdb";
  ASSERT_TRUE(std::filesystem::exists(original)) << "no Access test file at " << original;
  testing::TempDir dir;
  const auto path = CopyWritable(original, dir / "access.mdb");
  const auto before = static_cast<std::uint32_t>(MdbView(path).PageCount());
  const auto freeBefore = GlobalFree(path, before);
  {
    AccessDatabase db(path);
    db.CreateTable(u"Added", {{u"N", jet4::ColumnType::Long, 0}});
    for (int i = 0; i < 5000; ++i) db.Insert(u"Added", {Value::Int(i)});
    db.Close();
  }
  const auto after = static_cast<std::uint32_t>(MdbView(path).PageCount());
  ASSERT_GT(after, before);
  auto expected = freeBefore;
  expected.push_back(after);
  EXPECT_EQ(GlobalFree(path, after + 1), expected);
}

TEST(JetFormat, CatalogRowsMovedElsewhereAreFoundThroughTheirPointer) {
  testing::TempDir dir;
  const auto path = dir / "moved.mdb";
  AccessDatabase::Create(path);
  {
    AccessDatabase db(path);
    db.CreateTable(u"Moved Away", {{u"N", jet4::ColumnType::Long, 0}});
    db.Close();
  }
  {
    // Move the last catalog row to a page of its own, the way Jet does when a row grows: the
    // old place keeps a pointer, the new place is flagged so that scans pass it over.
    PageFile file(path, PageFile::Mode::CopyExisting);
    Page tdef{};
    file.Read(jet4::catalog::kTdefPage, tdef);
    const std::uint32_t map = GetU32(tdef.data() + jet4::tdef::kUsageMapOffset);
    const std::uint32_t number = MapPages(file, map).back();
    Page page{};
    file.Read(number, page);
    const auto last = static_cast<std::uint16_t>(RowCount(page) - 1);
    const auto original = RowAt(static_cast<const Page&>(page), last);
    const std::vector<std::uint8_t> row(original.begin(), original.end());
    Page target{};
    InitDataPage(target, jet4::catalog::kTdefPage);
    const auto index = AddRow(target, row);
    const std::size_t offsetAt = jet4::data_page::kRowOffsetsOffset + jet4::data_page::kRowOffsetSize * *index;
    PutU16(target.data() + offsetAt, GetU16(target.data() + offsetAt) | jet4::data_page::kRowDeletedFlag);
    const std::uint32_t targetNumber = file.Allocate();
    file.Write(targetNumber, target);
    ASSERT_TRUE(AddPageToMap(file, map, targetNumber));
    // The old place shrinks to the 4-byte pointer at its end.
    const std::size_t pointerAt = static_cast<std::size_t>(original.data() - page.data()) + row.size() - jet4::kU32Size;
    PutU32(page.data() + pointerAt, RowPointer(targetNumber, *index));
    const std::size_t lastAt = jet4::data_page::kRowOffsetsOffset + jet4::data_page::kRowOffsetSize * last;
    PutU16(page.data() + lastAt, static_cast<std::uint16_t>(pointerAt | jet4::data_page::kRowOverflowFlag));
    file.Write(number, page);
    file.Commit();
  }
  AccessDatabase db(path);
  try {
    db.CreateTable(u"moved away", {{u"N", jet4::ColumnType::Long, 0}});
    ADD_FAILURE() << "a second table of the same name was created";
  } catch (const odbc::CDBException& e) {
    EXPECT_EQ(e.m_strMessage, L"Table 'moved away' already exists.");
  }
}

}  // namespace
}  // namespace quillon::drivers::access::test
