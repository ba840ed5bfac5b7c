// Table definitions as a second writer reads them before it adds a column or an index: walked
// up to the length they state, with every name found inside it. Checked on every definition of
// new files, of files Access wrote, and of files the previous version wrote (which are mended
// when written into), and compared field by field with the definitions Access writes.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/access/Catalog.h"
#include "drivers/access/PageFile.h"
#include "platform/odbc/Database.h"
#include "platform/text/WideText.h"
#include "tests/drivers/access/ReaderHelpers.h"
#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers::access::test {
namespace {

using namespace layout;
using odbc::CDatabase;

// What a writer that adds a column finds in a definition: it takes the stated length as the
// end of the buffer, skips the fixed parts and reads every name. `error` says where it ran past.
struct WriterView {
  std::string error;
  std::uint32_t stated = 0;
  std::size_t end = 0;  // after the end marker
  std::vector<std::u16string> columns;
  std::vector<std::u16string> indexes;
  std::vector<std::uint16_t> longValueColumns;
};

WriterView WalkAsWriter(const std::vector<std::uint8_t>& def) {
  WriterView view;
  view.stated = GetU32(def.data() + kDefinitionLength);
  std::size_t at = 0;
  const auto take = [&](std::size_t n) {
    if (at + n > view.stated || at + n > def.size()) {
      throw std::runtime_error("newPosition > limit: (" + std::to_string(at + n) + " > " + std::to_string(view.stated) +
                               ")");
    }
    const std::uint8_t* p = def.data() + at;
    at += n;
    return p;
  };
  const auto name = [&] {
    const std::uint16_t bytes = GetU16(take(2));
    const std::uint8_t* p = take(bytes);
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes; i += 2) text.push_back(static_cast<char16_t>(GetU16(p + i)));
    return text;
  };
  try {
    const std::uint8_t* header = take(kDefinitionHeader);
    const std::uint16_t columns = GetU16(header + kColumnCount);
    const std::uint32_t logical = GetU32(header + kLogicalIndexCount);
    const std::uint32_t real = GetU32(header + kRealIndexCount);
    take(kRealIndexCountSize * real);
    take(kColumnRecord * columns);
    for (std::uint16_t i = 0; i < columns; ++i) view.columns.push_back(name());
    take(kRealIndexRecord * real);
    take(kLogicalIndexRecord * logical);
    for (std::uint32_t i = 0; i < logical; ++i) view.indexes.push_back(name());
    for (std::uint16_t column = GetU16(take(2)); column != 0xFFFF; column = GetU16(take(2))) {
      view.longValueColumns.push_back(column);
      take(8);
    }
    view.end = at;
  } catch (const std::exception& e) {
    view.error = e.what();
  }
  return view;
}

// The free space Jet gives each page of a definition: what is left after the bytes the page
// holds and 8 more.
std::vector<std::uint16_t> JetFreeSpace(std::size_t length, std::size_t pages) {
  std::vector<std::uint16_t> free;
  for (std::size_t i = 0; i < pages; ++i) {
    const std::size_t start = i == 0 ? 0 : kContinuationHeader;
    const std::size_t take = std::min(length, kPage - start);
    length -= take;
    free.push_back(static_cast<std::uint16_t>(start + take + 8 < kPage ? kPage - start - take - 8 : 0));
  }
  return free;
}

// Every table's definition page by its name in the catalog.
std::map<std::u16string, std::uint32_t> Tables(const std::filesystem::path& path) {
  PageFile file(path, PageFile::Mode::CopyExisting);
  std::map<std::u16string, std::uint32_t> tables;
  for (const auto& entry : ReadCatalog(file)) {
    if (IsTableEntry(entry)) tables[entry.name] = static_cast<std::uint32_t>(entry.id) & 0xFFFFFF;
  }
  return tables;
}

std::string Narrow(const std::u16string& text) { return text::WideToUtf8(text::Utf16ToWide(text)); }

// Checks every definition of the file as a second writer would; returns how many it checked.
int ExpectEveryDefinitionWalks(const std::filesystem::path& path) {
  const MdbView view(path);
  int checked = 0;
  for (const auto& [table, page] : Tables(path)) {
    SCOPED_TRACE(Narrow(table));
    const auto def = view.Definition(page);
    const WriterView walked = WalkAsWriter(def);
    EXPECT_EQ(walked.error, "");
    // The end marker is the last byte the stated length covers, as in Access's files.
    EXPECT_EQ(walked.end, walked.stated);
    const auto chain = view.Chain(page);
    std::vector<std::uint16_t> free;
    for (const std::uint32_t p : chain) free.push_back(GetU16(view.Page(p) + kFreeSpace));
    EXPECT_EQ(free, JetFreeSpace(walked.stated, chain.size()));
    ++checked;
  }
  return checked;
}

using AccessDefinitionTest = AccessTest;

TEST_F(AccessDefinitionTest, EveryDefinitionOfANewFileHoldsItsNamesWithinItsStatedLength) {
  const auto file = m_dir / "new.mdb";
  ASSERT_TRUE(CreateDatabase(file));
  std::wstring wide = L"CREATE TABLE [Wide] (";
  for (int i = 0; i < 200; ++i) {
    wide += (i ? L", [" : L"[") + std::wstring(L"Column number ") + std::to_wstring(i) + L" with a long name] INTEGER";
  }
  {
    OpenDatabase db(file);
    Execute(db, L"CREATE TABLE [Notes] (Id INTEGER, Word TEXT, Note MEMO, Day DATE, Flag BIT, Other MEMO)");
    Execute(db, L"INSERT INTO [Notes] VALUES(1, 'w', '" + std::wstring(5000, L'n') + L"', '2001-02-03', 1, 'short')");
    Execute(db, wide + L")");
    db.Close();
  }
  EXPECT_EQ(ExpectEveryDefinitionWalks(file), 7);
  const MdbView view(file);
  const auto tables = Tables(file);
  EXPECT_GT(view.Chain(tables.at(u"Wide")).size(), 2u);
  const auto notes = WalkAsWriter(view.Definition(tables.at(u"Notes")));
  EXPECT_EQ(notes.columns, (std::vector<std::u16string>{u"Id", u"Word", u"Note", u"Day", u"Flag", u"Other"}));
  const auto walkedWide = WalkAsWriter(view.Definition(tables.at(u"Wide")));
  ASSERT_EQ(walkedWide.columns.size(), 200u);
  EXPECT_EQ(walkedWide.columns.back(), u"Column number 199 with a long name");
}

TEST_F(AccessDefinitionTest, DefinitionsAccessWroteWalkTheSameWay) {
  int checked = 0;
  for (const auto& file : CopyAccessSamples(m_dir)) {
    SCOPED_TRACE(file.filename().string());
    checked += ExpectEveryDefinitionWalks(file);
  }
  EXPECT_GE(checked, 20);
}

// The column records of a definition by column name: type, number, variable index (for a
// fixed column: the variable columns before it), length, and the fixed offset of fixed ones.
std::map<std::u16string, std::vector<int>> ColumnRecords(const MdbView& view, std::uint32_t tdefPage) {
  const auto def = view.Definition(tdefPage);
  const WriterView walked = WalkAsWriter(def);
  const std::size_t records = kDefinitionHeader + kRealIndexCountSize * GetU32(def.data() + kRealIndexCount);
  std::map<std::u16string, std::vector<int>> columns;
  for (std::size_t i = 0; i < walked.columns.size(); ++i) {
    const std::uint8_t* r = def.data() + records + kColumnRecord * i;
    const bool fixed = (r[15] & 0x01) != 0;
    columns[walked.columns[i]] = {r[0], GetU16(r + 5), GetU16(r + 7), GetU16(r + 23), fixed ? GetU16(r + 21) : -1};
  }
  return columns;
}

// The names of the columns a definition lists with maps of their own.
std::vector<std::u16string> LongValueColumnNames(const MdbView& view, std::uint32_t tdefPage) {
  const auto walked = WalkAsWriter(view.Definition(tdefPage));
  const auto records = ColumnRecords(view, tdefPage);
  std::vector<std::u16string> names;
  for (const std::uint16_t number : walked.longValueColumns) {
    for (const auto& [name, record] : records) {
      if (record[1] == number) names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(AccessDefinitionTest, LongValueColumnsHaveMapsOfTheirOwnPagesAsAccessGivesThem) {
  const auto file = m_dir / "memo.mdb";
  ASSERT_TRUE(CreateDatabase(file));
  {
    OpenDatabase db(file);
    Execute(db, L"CREATE TABLE [Notes] (Id INTEGER, Note MEMO, Word TEXT, Other MEMO)");
    for (int i = 0; i < 12; ++i) {
      Execute(db, L"INSERT INTO [Notes] VALUES(" + std::to_wstring(i) + L", '" + std::wstring(3000, L'n') +
                      L"', 'w', '" + std::wstring(2500, L'o') + L"')");
    }
    Execute(db, L"INSERT INTO [Notes] VALUES(99, 'short', NULL, NULL)");
    db.Close();
  }
  const MdbView view(file);
  const auto tables = Tables(file);
  // The system tables list the same columns as in a database Access made.
  const auto accessFile = std::filesystem::path(QUILLON_TESTDATA_DIR) / "jet4" / "access-empty.mdb";
  const MdbView access(accessFile);
  const auto accessTables = Tables(accessFile);
  for (const char16_t* table : {u"MSysObjects", u"MSysQueries", u"MSysACEs", u"MSysRelationships"}) {
    SCOPED_TRACE(Narrow(table));
    EXPECT_EQ(LongValueColumnNames(view, tables.at(table)), LongValueColumnNames(access, accessTables.at(table)));
  }
  EXPECT_EQ(LongValueColumnNames(view, tables.at(u"Notes")), (std::vector<std::u16string>{u"Note", u"Other"}));
  // Each Memo column's pages are listed in its own map, and every long-value page in one of them.
  std::set<std::uint32_t> longValuePages;
  for (std::uint32_t page = 0; page < view.PageCount(); ++page) {
    const std::uint8_t* p = view.Page(page);
    if (p[0] == kDataPage && std::string(reinterpret_cast<const char*>(p + kNext), 4) == "LVAL")
      longValuePages.insert(page);
  }
  const auto def = view.Definition(tables.at(u"Notes"));
  const WriterView walked = WalkAsWriter(def);
  ASSERT_EQ(walked.longValueColumns.size(), 2u);
  std::set<std::uint32_t> listed;
  std::size_t at = walked.end - 2 - 10 * walked.longValueColumns.size();
  for (std::size_t i = 0; i < walked.longValueColumns.size(); ++i, at += 10) {
    const auto owned = view.InlineMapPages(GetU32(def.data() + at + 2)).value_or(std::set<std::uint32_t>{});
    EXPECT_GE(owned.size(), 6u) << "column " << walked.longValueColumns[i];
    for (const auto page : owned) EXPECT_TRUE(listed.insert(page).second) << "page " << page << " in two maps";
    // Jet finds no room in the pages of the free-space map: it starts empty.
    const std::uint32_t freeMap = GetU32(def.data() + at + 6);
    EXPECT_NE(freeMap, 0u);
    EXPECT_TRUE(view.InlineMapPages(freeMap).value_or(std::set<std::uint32_t>{}).empty());
  }
  EXPECT_EQ(listed, longValuePages);
  const std::string exported = Mdb("mdb-export", file, "Notes");
  EXPECT_NE(exported.find(std::string(3000, 'n')), std::string::npos);
  EXPECT_NE(exported.find(std::string(2500, 'o')), std::string::npos);
}

TEST_F(AccessDefinitionTest, ColumnRecordsOfTheSystemTablesMatchThoseAccessWrites) {
  const auto file = m_dir / "records.mdb";
  ASSERT_TRUE(CreateDatabase(file));
  const auto accessFile = std::filesystem::path(QUILLON_TESTDATA_DIR) / "jet4" / "access-empty.mdb";
  const MdbView view(file);
  const MdbView access(accessFile);
  const auto tables = Tables(file);
  const auto accessTables = Tables(accessFile);
  for (const char16_t* table : {u"MSysObjects", u"MSysACEs", u"MSysQueries", u"MSysRelationships"}) {
    SCOPED_TRACE(Narrow(table));
    const auto ours = ColumnRecords(view, tables.at(table));
    const auto theirs = ColumnRecords(access, accessTables.at(table));
    ASSERT_EQ(ours.size(), theirs.size());
    for (const auto& [name, record] : theirs) {
      ASSERT_TRUE(ours.count(name)) << Narrow(name);
      EXPECT_EQ(ours.at(name), record) << Narrow(name);
    }
    // The definitions are as long as Access's where the indexes are the same.
    if (WalkAsWriter(view.Definition(tables.at(table))).indexes ==
        WalkAsWriter(access.Definition(accessTables.at(table))).indexes) {
      EXPECT_EQ(WalkAsWriter(view.Definition(tables.at(table))).stated,
                WalkAsWriter(access.Definition(accessTables.at(table))).stated);
    }
  }
}

// The properties mdbtools lists for an object of the catalog.
std::string Properties(const std::filesystem::path& file, const char* object) {
  return Mdb("mdb-prop", file, object + std::string(" 2>&1"));
}

TEST_F(AccessDefinitionTest, NewDatabasesCarryTheDatabasePropertiesAccessWrites) {
  const auto file = m_dir / "Quarterly figures.mdb";
  ASSERT_TRUE(CreateDatabase(file));
  const auto accessFile = std::filesystem::path(QUILLON_TESTDATA_DIR) / "jet4" / "access-empty.mdb";
  // The database's own properties say Access 2000 (file version 08.50), as in Access's file.
  const std::string database = Properties(file, "MSysDb");
  EXPECT_NE(database.find("AccessVersion: 08.50\n"), std::string::npos) << database;
  EXPECT_EQ(database, Properties(accessFile, "MSysDb"));
  EXPECT_EQ(Properties(file, "UserDefined"), Properties(accessFile, "UserDefined"));
  EXPECT_NE(Properties(file, "SummaryInfo").find("Title: Quarterly figures\n"), std::string::npos)
      << Properties(file, "SummaryInfo");
  // Byte for byte the blob Access stores for the database.
  const auto blob = [](const std::filesystem::path& path, const char* name) {
    return Mdb("mdb-export -H -Q -b hex -d '\t'", path,
               "MSysObjects | awk -F'\t' '$3 == \"" + std::string(name) + "\" { print $15 }'");
  };
  EXPECT_EQ(blob(file, "MSysDb"), blob(accessFile, "MSysDb"));
  EXPECT_EQ(blob(file, "UserDefined"), blob(accessFile, "UserDefined"));
  EXPECT_GT(blob(file, "MSysDb").size(), 100u);
  // The documents sit in the Databases container, as Access puts them.
  EXPECT_EQ(
      Mdb("mdb-export -H -Q -d '\t'", file, "MSysObjects | awk -F'\t' '$2 == 251658242 { print $3 \" \" $4 }' | sort"),
      "MSysDb 2\nSummaryInfo -32757\nUserDefined -32757\n");
}

// Copies of the files the previous version wrote, with the length of its definitions 8 short.
std::filesystem::path CopyOldFile(const testing::TempDir& dir, const char* name) {
  return CopyWritable(std::filesystem::path(QUILLON_TESTDATA_DIR) / "jet4" / "previous-version" / name, dir / name);
}

void AddATable(const std::filesystem::path& file) {
  OpenDatabase db(file);
  db.ExecuteSQL(L"CREATE TABLE [Added later] (N INTEGER, T TEXT)");
  db.ExecuteSQL(L"INSERT INTO [Added later] VALUES(7, 'seven')");
  db.Close();
}

TEST_F(AccessDefinitionTest, DefinitionsThePreviousVersionWroteAreMendedWhenTheFileIsWrittenInto) {
  for (const char* name : {"quillon-old-new-database.mdb", "quillon-old-in-access-empty.mdb"}) {
    SCOPED_TRACE(name);
    const auto file = CopyOldFile(m_dir, name);
    const std::string dataBefore = Mdb("mdb-export", file, "Notes");
    ASSERT_NE(dataBefore.find("short memo"), std::string::npos);
    // As written, a second writer runs past the stated length of each table the old version made.
    std::map<std::u16string, std::string> accessPages;
    {
      const MdbView view(file);
      for (const auto& [table, page] : Tables(file)) {
        const auto walked = WalkAsWriter(view.Definition(page));
        if (walked.error.empty()) {
          accessPages[table] = view.PageBytes(page);
        } else {
          EXPECT_EQ(walked.error.rfind("newPosition > limit", 0), 0u) << Narrow(table);
        }
      }
    }
    EXPECT_EQ(accessPages.size(), std::string(name).find("access") != std::string::npos ? 5u : 0u);
    AddATable(file);
    ExpectEveryDefinitionWalks(file);
    // Access's own definitions keep their length and free space; those of tables that took no
    // row are the same page as before.
    const MdbView view(file);
    const auto tables = Tables(file);
    for (const auto& [table, before] : accessPages) {
      SCOPED_TRACE(Narrow(table));
      const std::string after = view.PageBytes(tables.at(table));
      EXPECT_EQ(after.substr(kFreeSpace, 2), before.substr(kFreeSpace, 2));
      EXPECT_EQ(after.substr(kDefinitionLength, 4), before.substr(kDefinitionLength, 4));
      if (table != u"MSysObjects" && table != u"MSysACEs") {
        EXPECT_EQ(after, before);
      }
    }
    EXPECT_EQ(Mdb("mdb-export", file, "Notes"), dataBefore);
    EXPECT_EQ(Mdb("mdb-count", file, "'Added later'"), "1\n");
  }
}

TEST_F(AccessDefinitionTest, DefinitionsWithoutEveryMarkOfThePreviousVersionAreLeftAlone) {
  const auto file = CopyOldFile(m_dir, "quillon-old-in-access-empty.mdb");
  const auto tables = Tables(file);
  std::string bytes = testing::ReadBytes(file);
  const auto at = [&](const char16_t* table, std::size_t offset) -> char& {
    return bytes[std::size_t{tables.at(table)} * kPage + offset];
  };
  // Access's MSysAccessObjects made to state 8 bytes too few (its free space is still Jet's),
  // and the old Notes with a byte after its end marker: neither is provably the old writer's.
  at(u"MSysAccessObjects", kDefinitionLength) = static_cast<char>(at(u"MSysAccessObjects", kDefinitionLength) - 8);
  const std::uint32_t notesLength = GetU32(bytes, std::size_t{tables.at(u"Notes")} * kPage + kDefinitionLength) + 8;
  at(u"Notes", notesLength + 3) = 1;
  WriteBytes(file, bytes);
  AddATable(file);
  const MdbView view(file);
  EXPECT_EQ(view.PageBytes(tables.at(u"MSysAccessObjects")),
            bytes.substr(std::size_t{tables.at(u"MSysAccessObjects")} * kPage, kPage));
  EXPECT_EQ(view.PageBytes(tables.at(u"Notes")), bytes.substr(std::size_t{tables.at(u"Notes")} * kPage, kPage));
  // The wide table has every mark and is mended.
  EXPECT_EQ(WalkAsWriter(view.Definition(tables.at(u"Wide"))).error, "");
}

}  // namespace
}  // namespace quillon::drivers::access::test
