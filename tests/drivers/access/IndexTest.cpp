// The catalog's indexes: read back by a walker of index pages written for these tests, checked
// against the catalog's rows as mdbtools lists them, and compared byte for byte with the
// index pages Access itself wrote for the same rows.
#include <algorithm>
#include <compare>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/access/Catalog.h"
#include "drivers/access/Index.h"
#include "drivers/access/PageFile.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/text/WideText.h"
#include "tests/drivers/access/ReaderHelpers.h"
#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers::access::test {
namespace {

using layout::kPage;
using odbc::CDatabase;
using odbc::CDBException;

constexpr std::uint32_t kCatalogTdef = 2;
// A real index's record in a definition, and the index pages it leads to.
constexpr std::size_t kIndexColumns = 4;  // ten slots of a column number and its order
constexpr std::size_t kIndexColumnSlots = 10;
constexpr std::uint16_t kNoColumn = 0xFFFF;
constexpr std::size_t kIndexUsageMap = 34;
constexpr std::size_t kIndexRoot = 38;
constexpr std::size_t kIndexFlags = 46;
constexpr std::uint8_t kIndexUnique = 0x01;
constexpr std::uint8_t kNodePage = 0x03;
constexpr std::uint8_t kLeafPage = 0x04;
constexpr std::size_t kTailPage = 0x14;
constexpr std::size_t kPrefixLength = 0x18;
constexpr std::size_t kEntryMask = 0x1B;
constexpr std::size_t kEntries = 0x1E0;
constexpr std::size_t kPointerSize = 4;  // after every entry's key

struct IndexView {
  std::vector<std::uint16_t> columns;
  std::uint32_t root = 0;
  std::uint32_t usageMap = 0;
  bool unique = false;
};

std::vector<IndexView> IndexesOf(const MdbView& file, std::uint32_t tdefPage) {
  using namespace layout;
  const auto d = file.Definition(tdefPage);
  const std::uint16_t columns = GetU16(&d[kColumnCount]);
  const std::uint32_t real = GetU32(&d[kRealIndexCount]);
  std::size_t at = kDefinitionHeader + real * kRealIndexCountSize + columns * kColumnRecord;
  for (std::uint16_t i = 0; i < columns; ++i) at += 2u + GetU16(&d[at]);
  std::vector<IndexView> out(real);
  for (auto& index : out) {
    for (std::size_t slot = 0; slot < kIndexColumnSlots; ++slot) {
      const std::uint16_t column = GetU16(&d[at + kIndexColumns + 3 * slot]);
      if (column != kNoColumn) index.columns.push_back(column);
    }
    index.usageMap = GetU32(&d[at + kIndexUsageMap]);
    index.root = GetU32(&d[at + kIndexRoot]);
    index.unique = (d[at + kIndexFlags] & kIndexUnique) != 0;
    at += kRealIndexRecord;
  }
  return out;
}

struct Leaf {
  std::string key;
  std::uint32_t page = 0;
  std::uint32_t row = 0;
  std::string stored;  // key and pointer as on the page, for the order check
};

// Every leaf entry under `page`, children in order: node entries end with the child page
// (big-endian), the last child hangs off the page header; entries after a page's first leave
// out the prefix they share with it.
void Walk(const MdbView& file, std::uint32_t tdefPage, std::uint32_t page, int depth, std::vector<Leaf>& out,
          std::vector<std::uint32_t>& pages) {
  ASSERT_LT(depth, 4) << "index deeper than expected";
  pages.push_back(page);
  const std::uint8_t* p = file.Page(page);
  ASSERT_TRUE(p[0] == kNodePage || p[0] == kLeafPage) << "page " << page << " is not an index page";
  ASSERT_EQ(GetU32(p + layout::kNext), tdefPage);
  const std::size_t prefix = GetU16(p + kPrefixLength);
  std::string first;
  std::size_t start = 0;
  std::size_t used = 0;
  for (std::size_t bit = 1; kEntryMask + bit / 8 < kEntries; ++bit) {
    if ((p[kEntryMask + bit / 8] & (1 << (bit % 8))) == 0) continue;
    std::string entry(reinterpret_cast<const char*>(p) + kEntries + start, bit - start);
    if (first.empty()) {
      first = entry;
    } else {
      entry = first.substr(0, prefix) + entry;
    }
    start = used = bit;
    const auto* e = reinterpret_cast<const std::uint8_t*>(entry.data());
    ASSERT_GE(entry.size(), kPointerSize + (p[0] == kLeafPage ? 1 : 0));
    const std::size_t k = entry.size() - kPointerSize;
    if (p[0] == kLeafPage) {
      out.push_back(
          {entry.substr(0, k), static_cast<std::uint32_t>(e[k] << 16 | e[k + 1] << 8 | e[k + 2]), e[k + 3], entry});
    } else {
      Walk(file, tdefPage, static_cast<std::uint32_t>(e[k] << 24 | e[k + 1] << 16 | e[k + 2] << 8 | e[k + 3]),
           depth + 1, out, pages);
    }
  }
  EXPECT_EQ(GetU16(p + layout::kFreeSpace), kPage - kEntries - used) << "free space of index page " << page;
  if (p[0] == kNodePage && GetU32(p + kTailPage) != 0)
    Walk(file, tdefPage, GetU32(p + kTailPage), depth + 1, out, pages);
}

// The index's entries; every page it links is listed in its usage map (when the map is the
// inline kind).
std::vector<Leaf> Entries(const MdbView& file, std::uint32_t tdefPage, const IndexView& index) {
  std::vector<Leaf> out;
  std::vector<std::uint32_t> pages;
  Walk(file, tdefPage, index.root, 0, out, pages);
  if (const auto map = file.InlineMapPages(index.usageMap)) {
    for (const std::uint32_t page : pages)
      EXPECT_TRUE(map->count(page)) << "index page " << page << " is not in the index's usage map";
  }
  return out;
}

// Keys as Access writes them for the values used here: Long as big-endian with the sign bit
// flipped; Text as General sort codes of letters (either case), digits, blank and underscore,
// then 01 00. Nothing for other characters: those keys are checked by order only.
std::string LongKey(std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v) ^ 0x80000000u;
  return std::string{'\x7F', static_cast<char>(u >> 24), static_cast<char>(u >> 16), static_cast<char>(u >> 8),
                     static_cast<char>(u)};
}
bool TextKey(const std::u16string& text, std::string& key) {
  static const std::string kLetters =
      "\x4A\x4C\x4D\x4F\x51\x53\x55\x57\x59\x5B\x5C\x5E\x60\x62\x64\x66\x68\x69\x6B\x6D\x6F\x71\x73\x75\x76\x78";
  key += '\x7F';
  for (const char16_t c : text) {
    if (c >= u'a' && c <= u'z')
      key += kLetters[c - u'a'];
    else if (c >= u'A' && c <= u'Z')
      key += kLetters[c - u'A'];
    else if (c >= u'0' && c <= u'9')
      key += static_cast<char>(0x36 + 2 * (c - u'0'));
    else if (c == u' ')
      key += '\x07';
    else if (c == u'_')
      key += "\x2B\x03";
    else
      return false;
  }
  key += std::string("\x01\x00", 2);
  return true;
}

struct CatalogRow {
  std::int32_t id = 0;
  std::int32_t parentId = 0;
  std::u16string name;
  auto operator<=>(const CatalogRow&) const = default;
};

// Id and ParentId lead the fixed data; Name is the first variable column.
CatalogRow DecodeCatalogRow(const std::string& row) {
  const auto* b = reinterpret_cast<const std::uint8_t*>(row.data());
  CatalogRow out{static_cast<std::int32_t>(GetU32(b + 2)), static_cast<std::int32_t>(GetU32(b + 6)), {}};
  const std::size_t end = row.size() - (GetU16(b) + 7u) / 8u;  // before the null mask
  const std::size_t from = GetU16(b + end - 4);
  const std::size_t to = GetU16(b + end - 6);
  if (to - from >= 2 && b[from] == 0xFF && b[from + 1] == 0xFE) {
    for (std::size_t i = from + 2; i < to; ++i) out.name.push_back(b[i]);
  } else {
    for (std::size_t i = from; i + 1 < to; i += 2) out.name.push_back(static_cast<char16_t>(GetU16(b + i)));
  }
  return out;
}

// mdbtools' view of the catalog: Id, ParentId and Name of every row.
std::multiset<CatalogRow> CatalogAsListed(const std::filesystem::path& file) {
  std::multiset<CatalogRow> rows;
  for (const auto& line :
       testing::OutputLines("mdb-export -H -Q -e -b strip -d '\t' " + testing::ShellQuote(file) + " MSysObjects")) {
    std::istringstream fields(line);
    std::string id, parent, name;
    std::getline(fields, id, '\t');
    std::getline(fields, parent, '\t');
    std::getline(fields, name, '\t');
    rows.insert({static_cast<std::int32_t>(std::stoll(id)), static_cast<std::int32_t>(std::stoll(parent)),
                 text::WideToUtf16(text::Utf8ToWide(name))});
  }
  return rows;
}

// Checks one index: its entries in order, each pointing at a row, the rows pointed at those
// `listed`, and the key of each row that `keyOf` knows. Returns the keys compared.
int CheckIndex(const MdbView& file, std::uint32_t tdefPage, const IndexView& index, const auto& decode,
               const auto& keyOf, const auto& listed) {
  int exact = 0;
  const auto entries = Entries(file, tdefPage, index);
  std::remove_cvref_t<decltype(listed)> pointed;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_TRUE(i == 0 || entries[i - 1].stored < entries[i].stored) << "entry " << i << " out of order";
    const auto row = decode(file.Row(entries[i].page, entries[i].row));
    pointed.insert(row);
    if (const std::optional<std::string> key = keyOf(row)) {
      EXPECT_EQ(entries[i].key, *key) << "key of entry " << i;
      ++exact;
    }
  }
  EXPECT_EQ(pointed, listed);
  return exact;
}

// Every index of the catalog and of MSysACEs holds one entry per row, in order, pointing at
// the row, with the key Access writes for it. Returns the number of keys compared exactly.
int CheckSystemIndexes(const std::filesystem::path& path) {
  const MdbView file(path);
  int exact = 0;
  const auto listed = CatalogAsListed(path);
  EXPECT_FALSE(listed.empty());
  const auto indexes = IndexesOf(file, kCatalogTdef);
  EXPECT_EQ(indexes.size(), 2u);
  for (const auto& index : indexes) {
    SCOPED_TRACE("catalog index on " + std::to_string(index.columns.size()) + " columns");
    const bool byId = index.columns == std::vector<std::uint16_t>{0};
    EXPECT_TRUE(byId || (index.columns == std::vector<std::uint16_t>{1, 2})) << "unexpected catalog index";
    const auto keyOf = [&](const CatalogRow& row) -> std::optional<std::string> {
      std::string key = LongKey(byId ? row.id : row.parentId);
      if (byId || TextKey(row.name, key)) return key;
      return std::nullopt;
    };
    exact += CheckIndex(file, kCatalogTdef, index, DecodeCatalogRow, keyOf, listed);
  }
  // MSysACEs: its definition is found through the catalog.
  std::uint32_t aces = 0;
  for (const auto& row : listed) {
    if (row.name == u"MSysACEs") aces = static_cast<std::uint32_t>(row.id) & 0xFFFFFF;
  }
  if (aces == 0) return exact;
  std::multiset<std::int32_t> objects;
  for (const auto& line :
       testing::OutputLines("mdb-export -H -e -b strip -d '\t' " + testing::ShellQuote(path) + " MSysACEs")) {
    objects.insert(static_cast<std::int32_t>(std::stoll(line.substr(0, line.find('\t')))));
  }
  for (const auto& index : IndexesOf(file, aces)) {
    SCOPED_TRACE("permissions index");
    EXPECT_EQ(index.columns, std::vector<std::uint16_t>{0});
    const auto objectId = [](const std::string& row) { return static_cast<std::int32_t>(GetU32(row, 2)); };
    const auto keyOf = [](std::int32_t id) { return std::optional(LongKey(id)); };
    exact += CheckIndex(file, aces, index, objectId, keyOf, objects);
  }
  return exact;
}

// The catalog's index on names: each entry's name and key, in the index's order.
std::vector<std::pair<std::u16string, std::string>> NameIndex(const std::filesystem::path& path) {
  const MdbView view(path);
  std::vector<std::pair<std::u16string, std::string>> out;
  for (const auto& index : IndexesOf(view, kCatalogTdef)) {
    if (index.columns.size() != 2) continue;
    for (const auto& entry : Entries(view, kCatalogTdef, index))
      out.emplace_back(DecodeCatalogRow(view.Row(entry.page, entry.row)).name, entry.key);
  }
  return out;
}

std::size_t TableCount(const std::filesystem::path& file) {
  return testing::OutputLines("mdb-tables -1 " + testing::ShellQuote(file)).size();
}

using AccessIndexTest = AccessTest;

TEST_F(AccessIndexTest, NewDatabasesIndexTheirCatalogOnIdAndOnParentAndName) {
  const auto file = m_dir / "new.mdb";
  ASSERT_EQ(CreateDatabase(file), 1);
  EXPECT_EQ(CheckSystemIndexes(file), 2 * 17);  // the 17 rows of a new catalog
  // The permissions have their index on ObjectId, empty until a row is added.
  const auto aces = IndexesOf(MdbView(file), 3);
  ASSERT_EQ(aces.size(), 1u);
  EXPECT_EQ(aces[0].columns, std::vector<std::uint16_t>{0});
  EXPECT_TRUE(Entries(MdbView(file), 3, aces[0]).empty());
  {
    OpenDatabase db(file);
    for (const wchar_t* name :
         {L"Orders", L"orders 2024", L"A", L"zz_last", L"Customers", L"Sales (net) #3", L"Muller", L"Müller",
          L"Mullers", L"Sales-2024", L"Sales2024", L"Sales2025", L"O'Brien", L"Crème brûlée"}) {
      db.ExecuteSQL(std::wstring(L"CREATE TABLE [") + name + L"] (N INTEGER)");
    }
    // The unique index on names ignores case, as the check for existing tables does.
    EXPECT_THROW(db.ExecuteSQL(L"CREATE TABLE [CUSTOMERS] (N INTEGER)"), CDBException);
    EXPECT_THROW(db.ExecuteSQL(L"CREATE TABLE [MÜLLER] (N INTEGER)"), CDBException);
  }
  // Keys are compared exactly for the names of letters, digits and blanks; the others (signs,
  // accents, hyphen, apostrophe) by their place among the entries only.
  EXPECT_EQ(CheckSystemIndexes(file), 2 * 31 - 5);
  EXPECT_EQ(TableCount(file), 14u);
  // Accents and hyphens only tell apart names that are otherwise equal.
  const auto byName = NameIndex(file);
  const auto place = [&](const std::u16string& name) {
    return std::find_if(byName.begin(), byName.end(), [&](const auto& entry) { return entry.first == name; }) -
           byName.begin();
  };
  EXPECT_EQ(place(u"Muller") + 1, place(u"Müller"));
  EXPECT_EQ(place(u"Müller") + 1, place(u"Mullers"));
  EXPECT_EQ(place(u"Sales2024") + 1, place(u"Sales-2024"));
  EXPECT_EQ(place(u"Sales-2024") + 1, place(u"Sales2025"));
  EXPECT_LT(place(u"Crème brûlée"), place(u"Customers"));
}

// The sort bytes of a simple character, read from the sort-order data files themselves
// ("S<hex>" lines; the first file covers U+0000 to U+00FF, the second the rest of the plane
// without the surrogates); empty for characters of other kinds.
std::string SortBytesFromData(char16_t c) {
  static const auto lines = [] {
    std::vector<std::string> all;
    for (const char* name : {"/index_codes_genleg.txt", "/index_codes_ext_genleg.txt"}) {
      std::ifstream in(std::string(QUILLON_SORT_ORDER_DIR) + name);
      std::vector<std::string> file;
      for (std::string line; std::getline(in, line);) file.push_back(line);
      if (all.empty()) file.resize(0x100);
      all.insert(all.end(), file.begin(), file.end());
    }
    return all;
  }();
  std::size_t at = c;
  if (c >= 0xD800) at -= 0x800;
  if (at >= lines.size() || lines[at].empty() || lines[at][0] != 'S') return {};
  std::string hex = lines[at].substr(1);
  if (hex.size() % 2) hex = "0" + hex;
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

TEST_F(AccessIndexTest, NamesInAnyScriptGoIntoTheIndexOfNamesWithTheirGeneralSortKeys) {
  const auto file = m_dir / "names.mdb";
  ASSERT_EQ(CreateDatabase(file), 1);
  const std::vector<std::u16string> names = {u"Данные", u"Ωmega", u"表", u"Euro €", u"Ёлка", u"Αλφα βήτα"};
  {
    OpenDatabase db(file);
    for (const auto& name : names) {
      db.ExecuteSQL(L"CREATE TABLE [" + text::Utf16ToWide(name) + L"] (N INTEGER)");
      db.ExecuteSQL(L"INSERT INTO [" + text::Utf16ToWide(name) + L"] VALUES(1)");
    }
    // Case is not told apart in these scripts either: the unique index refuses the same name.
    for (const wchar_t* same : {L"ДАННЫЕ", L"ωMEGA", L"ёлка"}) {
      try {
        db.ExecuteSQL(std::wstring(L"CREATE TABLE [") + same + L"] (N INTEGER)");
        ADD_FAILURE() << "accepted " << text::WideToUtf8(same);
      } catch (const CDBException& e) {
        EXPECT_EQ(e.m_strSqlState, L"42S01") << text::WideToUtf8(e.m_strMessage);
      }
    }
    db.Close();
  }
  // Every row is in both catalog indexes, in key order.
  EXPECT_GE(CheckSystemIndexes(file), 2 * 17);
  EXPECT_EQ(TableCount(file), names.size());
  for (const auto& name : names)
    EXPECT_EQ(Mdb("mdb-count", file, testing::ShellQuote(text::WideToUtf8(text::Utf16ToWide(name)))), "1\n");
  // Names of simple characters have the sort bytes of the data files, case folded by them.
  std::map<std::u16string, std::string> keys;
  for (const auto& [name, key] : NameIndex(file)) keys[name] = key;
  for (const std::u16string name : {u"Данные", u"表", u"Euro €"}) {
    std::string expected = LongKey(0x0F000001) + '\x7F';
    for (const char16_t c : name) expected += SortBytesFromData(c);
    expected += std::string("\x01\x00", 2);
    EXPECT_EQ(keys[name], expected) << text::WideToUtf8(text::Utf16ToWide(name));
  }
  EXPECT_EQ(SortBytesFromData(u'Д'), SortBytesFromData(u'д'));
  // An accented Cyrillic letter sorts as its base with the accent after the text.
  const std::string yolka = keys[u"Ёлка"];
  ASSERT_GT(yolka.size(), 6u);
  EXPECT_EQ(yolka.substr(yolka.size() - 3), std::string("\x01\x13\x00", 3));
}

TEST_F(AccessIndexTest, ManyTablesSpreadTheCatalogIndexOverSeveralPages) {
  const auto fresh = m_dir / "many.mdb";
  ASSERT_EQ(CreateDatabase(fresh), 1);
  std::vector<std::filesystem::path> files = {fresh};
  const std::filesystem::path accessFile = QUILLON_TESTDATA_DIR "/jet4/access-empty.mdb";
  if (std::filesystem::exists(accessFile)) {
    files.push_back(CopyWritable(accessFile, m_dir / "access-many.mdb"));
  }
  for (const auto& file : files) {
    SCOPED_TRACE(file.filename().string());
    const int before = CheckSystemIndexes(file);
    {
      OpenDatabase db(file);
      // 64-character names: entries of 77 bytes, so the name index needs three leaf pages.
      for (int t = 0; t < 120; ++t) {
        std::wstring name = L"Table " + std::to_wstring((t * 37) % 120);
        name += std::wstring(64 - name.size(), L'x');
        db.ExecuteSQL(L"CREATE TABLE [" + name + L"] (N INTEGER)");
      }
    }
    const MdbView view(file);
    const auto indexes = IndexesOf(view, kCatalogTdef);
    ASSERT_EQ(indexes.size(), 2u);
    const auto byName =
        std::find_if(indexes.begin(), indexes.end(), [](const IndexView& i) { return i.columns.size() == 2; });
    ASSERT_NE(byName, indexes.end());
    EXPECT_EQ(view.Page(byName->root)[0], 0x03) << "the name index should have a node page at its root";
    // Both catalog indexes hold the new rows, and so does the permissions' index in Access's file.
    EXPECT_GE(CheckSystemIndexes(file), before + 2 * 120);
    EXPECT_EQ(TableCount(file), 120u);
  }
}

TEST_F(AccessIndexTest, TablesAddedToAccessFilesAreIndexedWithEveryOtherRow) {
  int checked = 0;
  for (const auto& file : CopyAccessSamples(m_dir)) {
    SCOPED_TRACE(file.filename().string());
    // Access's own indexes pass the same checks before anything is added.
    const int before = CheckSystemIndexes(file);
    {
      OpenDatabase db(file);
      for (const wchar_t* name : {L"Quillon Export", L"AAA first", L"zzz last"}) {
        db.ExecuteSQL(std::wstring(L"CREATE TABLE [") + name + L"] (N INTEGER)");
        db.ExecuteSQL(std::wstring(L"INSERT INTO [") + name + L"] VALUES(1)");
      }
    }
    // Three catalog rows in two indexes, and the permission rows each new table took.
    EXPECT_GE(CheckSystemIndexes(file), before + 6);
    EXPECT_EQ(Mdb("mdb-count", file, "'zzz last'"), "1\n");
    ++checked;
  }
  EXPECT_EQ(checked, 4);
}

TEST_F(AccessIndexTest, ADamagedCatalogIndexRefusesNewTablesAndLeavesTheFileAsItWas) {
  const std::filesystem::path original = QUILLON_TESTDATA_DIR "/jet4/access-empty.mdb";
  ASSERT_TRUE(std::filesystem::exists(original)) << "no Access test file at " << original;
  const auto file = CopyWritable(original, m_dir / "damaged.mdb");
  std::string bytes = testing::ReadBytes(file);
  // The name index's root no longer says it is an index page.
  const auto root = IndexesOf(MdbView(file), kCatalogTdef).front().root;
  bytes[std::size_t{root} * kPage] = layout::kDataPage;
  WriteBytes(file, bytes);
  {
    OpenDatabase db(file);
    try {
      db.ExecuteSQL(L"CREATE TABLE Fresh (N INTEGER)");
      ADD_FAILURE() << "a table was added over a damaged index";
    } catch (const CDBException& e) {
      EXPECT_NE(e.m_strMessage.find(L"damaged index"), std::wstring::npos) << text::WideToUtf8(e.m_strMessage);
    }
    db.Close();
  }
  EXPECT_EQ(testing::ReadBytes(file), bytes);
}

TEST(AccessIndexBytes, IndexesRebuiltFromTheRowsOfAccessFilesMatchTheirPagesByteForByte) {
  testing::TempDir dir;
  int pagesCompared = 0;
  for (const auto& path : CopyAccessSamples(dir)) {
    SCOPED_TRACE(path.filename().string());
    const MdbView original(path);
    PageFile file(path, PageFile::Mode::CopyExisting);
    std::vector<std::uint32_t> tables = {kCatalogTdef};
    for (const auto& row : ReadCatalog(file)) {
      if (row.name == u"MSysACEs") tables.push_back(static_cast<std::uint32_t>(row.id) & 0xFFFFFF);
    }
    for (const std::uint32_t tdefPage : tables) {
      const TableDefinition table = ReadTableDefinition(file, tdefPage);
      const auto rows = RowsOf(file, tdefPage, table);
      ASSERT_FALSE(table.realIndexes.empty());
      for (const auto& index : table.realIndexes) {
        std::vector<IndexEntry> entries;
        for (const auto& [pointer, values] : rows) {
          auto key = IndexKey(table, index, values);
          if (key) entries.push_back({std::move(*key), pointer});
        }
        // Only indexes whose every key this driver can write are compared.
        if (entries.size() != rows.size()) continue;
        EXPECT_EQ(ReadIndexEntries(file, tdefPage, index.firstPage).size(), rows.size());
        WriteIndex(file, tdefPage, index, std::move(entries));
        Page rebuilt{};
        file.Read(index.firstPage, rebuilt);
        // Access leaves what it removed past the entries in use: the page is compared up to there.
        const std::size_t used = kPage - GetU16(original.Page(index.firstPage) + layout::kFreeSpace);
        const auto differ = std::mismatch(rebuilt.begin(), rebuilt.begin() + static_cast<std::ptrdiff_t>(used),
                                          original.Page(index.firstPage));
        EXPECT_EQ(differ.first - rebuilt.begin(), static_cast<std::ptrdiff_t>(used))
            << "index page " << index.firstPage << " of table definition " << tdefPage << " differs from offset "
            << (differ.first - rebuilt.begin());
        ++pagesCompared;
      }
    }
  }
  // Both catalog indexes and the permissions index of at least the empty database.
  EXPECT_GE(pagesCompared, 3);
}

}  // namespace
}  // namespace quillon::drivers::access::test
