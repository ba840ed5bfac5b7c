// The catalog's indexes: read back by a walker of index pages written for these tests, checked
// against the catalog's rows as mdbtools lists them, and compared byte for byte with the
// index pages Access itself wrote for the same rows.
#include <algorithm>
#include <compare>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "drivers/access/Catalog.h"
#include "drivers/access/DataPage.h"
#include "drivers/access/Index.h"
#include "drivers/access/PageFile.h"
#include "drivers/access/RowWriter.h"
#include "drivers/access/UsageMap.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/text/WideText.h"
#include "tests/drivers/access/ReaderHelpers.h"
#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers::access::test {
namespace {

using odbc::CDatabase;
using odbc::CDBException;

constexpr std::size_t kPage = 4096;
constexpr std::uint32_t kCatalogTdef = 2;

// A database file as bytes, read the way a reader that knows only the page layout would.
class FileView {
 public:
  explicit FileView(const std::filesystem::path& path) : m_bytes(testing::ReadBytes(path)) {}
  std::size_t PageCount() const { return m_bytes.size() / kPage; }
  const std::uint8_t* Page(std::uint32_t n) const {
    if (n >= PageCount()) throw std::runtime_error("page " + std::to_string(n) + " is past the end");
    return reinterpret_cast<const std::uint8_t*>(m_bytes.data()) + std::size_t{n} * kPage;
  }
  // The bytes of a table definition, continuation pages appended without their header.
  std::vector<std::uint8_t> Definition(std::uint32_t page) const {
    std::vector<std::uint8_t> out;
    for (int guard = 0; page != 0 && guard < 100; ++guard) {
      const std::uint8_t* p = Page(page);
      out.insert(out.end(), p + (out.empty() ? 0 : 8), p + kPage);
      page = U32(p + 4);
    }
    return out;
  }
  // A row's bytes, following a row that was moved.
  std::string Row(std::uint32_t page, std::uint32_t row) const {
    const std::uint8_t* p = Page(page);
    if (p[0] != 0x01 || row >= U16(p + 12)) throw std::runtime_error("no such row");
    const std::uint16_t raw = U16(p + 14 + 2 * row);
    const std::size_t start = raw & 0x1FFF;
    const std::size_t end = row == 0 ? kPage : (U16(p + 14 + 2 * (row - 1)) & 0x1FFF);
    std::string bytes(reinterpret_cast<const char*>(p) + start, end - start);
    if ((raw & 0x4000) != 0) {
      const std::uint32_t to = U32(reinterpret_cast<const std::uint8_t*>(bytes.data()));
      return Row(to >> 8, to & 0xFF);
    }
    if ((raw & 0x8000) != 0) throw std::runtime_error("the row is deleted");
    return bytes;
  }
  static std::uint16_t U16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] | at[1] << 8); }
  static std::uint32_t U32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(U16(at)) | static_cast<std::uint32_t>(U16(at + 2)) << 16;
  }

 private:
  std::string m_bytes;
};

struct IndexView {
  std::vector<std::uint16_t> columns;
  std::uint32_t root = 0;
  std::uint32_t usageMap = 0;
  bool unique = false;
};

std::vector<IndexView> IndexesOf(const FileView& file, std::uint32_t tdefPage) {
  const auto d = file.Definition(tdefPage);
  const std::uint16_t columns = FileView::U16(&d[45]);
  const std::uint32_t real = FileView::U32(&d[51]);
  std::size_t at = 63 + real * 12 + columns * 25u;
  for (std::uint16_t i = 0; i < columns; ++i) at += 2u + FileView::U16(&d[at]);
  std::vector<IndexView> out;
  for (std::uint32_t i = 0; i < real; ++i, at += 52) {
    IndexView index;
    for (std::size_t slot = 0; slot < 10; ++slot) {
      const std::uint16_t column = FileView::U16(&d[at + 4 + 3 * slot]);
      if (column != 0xFFFF) index.columns.push_back(column);
    }
    index.usageMap = FileView::U32(&d[at + 34]);
    index.root = FileView::U32(&d[at + 38]);
    index.unique = (d[at + 46] & 0x01) != 0;
    out.push_back(index);
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
void Walk(const FileView& file, std::uint32_t tdefPage, std::uint32_t page, int depth, std::vector<Leaf>& out,
          std::vector<std::uint32_t>& pages) {
  ASSERT_LT(depth, 4) << "index deeper than expected";
  pages.push_back(page);
  const std::uint8_t* p = file.Page(page);
  ASSERT_TRUE(p[0] == 0x03 || p[0] == 0x04) << "page " << page << " is not an index page";
  ASSERT_EQ(FileView::U32(p + 4), tdefPage);
  const std::size_t prefix = FileView::U16(p + 0x18);
  std::string first;
  std::size_t start = 0;
  std::size_t used = 0;
  for (std::size_t bit = 1; 0x1B + bit / 8 < 0x1E0; ++bit) {
    if ((p[0x1B + bit / 8] & (1 << (bit % 8))) == 0) continue;
    std::string entry(reinterpret_cast<const char*>(p) + 0x1E0 + start, bit - start);
    if (first.empty()) {
      first = entry;
    } else {
      entry = first.substr(0, prefix) + entry;
    }
    start = used = bit;
    const auto* e = reinterpret_cast<const std::uint8_t*>(entry.data());
    if (p[0] == 0x04) {
      ASSERT_GE(entry.size(), 5u);
      const std::size_t k = entry.size() - 4;
      out.push_back(
          {entry.substr(0, k), static_cast<std::uint32_t>(e[k] << 16 | e[k + 1] << 8 | e[k + 2]), e[k + 3], entry});
    } else {
      const std::size_t k = entry.size() - 4;
      Walk(file, tdefPage, static_cast<std::uint32_t>(e[k] << 24 | e[k + 1] << 16 | e[k + 2] << 8 | e[k + 3]),
           depth + 1, out, pages);
    }
  }
  EXPECT_EQ(FileView::U16(p + 2), kPage - 0x1E0 - used) << "free space of index page " << page;
  if (p[0] == 0x03 && FileView::U32(p + 0x14) != 0)
    Walk(file, tdefPage, FileView::U32(p + 0x14), depth + 1, out, pages);
}

// The index's entries; every page it links is listed in its usage map (when the map is the
// inline kind: a first page and a bitmap).
std::vector<Leaf> Entries(const FileView& file, std::uint32_t tdefPage, const IndexView& index) {
  std::vector<Leaf> out;
  std::vector<std::uint32_t> pages;
  Walk(file, tdefPage, index.root, 0, out, pages);
  const std::string map = file.Row(index.usageMap >> 8, index.usageMap & 0xFF);
  const auto* m = reinterpret_cast<const std::uint8_t*>(map.data());
  if (!map.empty() && m[0] == 0x00) {
    const std::uint32_t first = FileView::U32(m + 1);
    for (const std::uint32_t page : pages) {
      const std::uint32_t bit = page - first;
      EXPECT_TRUE(page >= first && 5 + bit / 8 < map.size() && (m[5 + bit / 8] & (1 << (bit % 8))) != 0)
          << "index page " << page << " is not in the index's usage map";
    }
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
  CatalogRow out;
  out.id = static_cast<std::int32_t>(FileView::U32(b + 2));
  out.parentId = static_cast<std::int32_t>(FileView::U32(b + 6));
  const std::size_t mask = (FileView::U16(b) + 7u) / 8u;
  const std::size_t end = row.size() - mask;
  const std::size_t from = FileView::U16(b + end - 4);
  const std::size_t to = FileView::U16(b + end - 6);
  if (to - from >= 2 && b[from] == 0xFF && b[from + 1] == 0xFE) {
    for (std::size_t i = from + 2; i < to; ++i) out.name.push_back(b[i]);
  } else {
    for (std::size_t i = from; i + 1 < to; i += 2) out.name.push_back(static_cast<char16_t>(FileView::U16(b + i)));
  }
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// mdbtools' view of the catalog: Id, ParentId and Name of every row.
std::multiset<CatalogRow> CatalogAsListed(const std::filesystem::path& file) {
  std::multiset<CatalogRow> rows;
  for (const auto& line :
       Lines(testing::RunCommand("mdb-export -H -Q -e -b strip -d '\t' " + testing::ShellQuote(file) + " MSysObjects")
                 .output)) {
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

// Every index of the catalog and of MSysACEs holds one entry per row, in order, pointing at
// the row, with the key Access writes for it. Returns the number of keys compared exactly.
int CheckSystemIndexes(const std::filesystem::path& path) {
  const FileView file(path);
  int exact = 0;
  const auto listed = CatalogAsListed(path);
  EXPECT_FALSE(listed.empty());
  const auto indexes = IndexesOf(file, kCatalogTdef);
  EXPECT_EQ(indexes.size(), 2u);
  for (const auto& index : indexes) {
    SCOPED_TRACE("catalog index on " + std::to_string(index.columns.size()) + " columns");
    const auto entries = Entries(file, kCatalogTdef, index);
    std::multiset<CatalogRow> pointed;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (i > 0) {
        EXPECT_LT(entries[i - 1].stored, entries[i].stored) << "entry " << i << " out of order";
      }
      const CatalogRow row = DecodeCatalogRow(file.Row(entries[i].page, entries[i].row));
      pointed.insert(row);
      std::string key;
      if (index.columns == std::vector<std::uint16_t>{0}) {
        key = LongKey(row.id);
      } else if (index.columns == std::vector<std::uint16_t>{1, 2}) {
        key = LongKey(row.parentId);
        if (!TextKey(row.name, key)) continue;
      } else {
        ADD_FAILURE() << "unexpected catalog index";
        continue;
      }
      EXPECT_EQ(entries[i].key, key) << "key of " << text::WideToUtf8(text::Utf16ToWide(row.name));
      ++exact;
    }
    EXPECT_EQ(pointed, listed);
  }
  // MSysACEs: its definition is found through the catalog.
  std::uint32_t aces = 0;
  for (const auto& row : listed) {
    if (row.name == u"MSysACEs") aces = static_cast<std::uint32_t>(row.id) & 0xFFFFFF;
  }
  if (aces == 0) return exact;
  std::multiset<std::int32_t> objects;
  for (const auto& line :
       Lines(testing::RunCommand("mdb-export -H -e -b strip -d '\t' " + testing::ShellQuote(path) + " MSysACEs")
                 .output)) {
    objects.insert(static_cast<std::int32_t>(std::stoll(line.substr(0, line.find('\t')))));
  }
  for (const auto& index : IndexesOf(file, aces)) {
    EXPECT_EQ(index.columns, std::vector<std::uint16_t>{0});
    const auto entries = Entries(file, aces, index);
    std::multiset<std::int32_t> pointed;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (i > 0) {
        EXPECT_LT(entries[i - 1].stored, entries[i].stored) << "permission entry " << i << " out of order";
      }
      const std::string row = file.Row(entries[i].page, entries[i].row);
      const auto objectId =
          static_cast<std::int32_t>(FileView::U32(reinterpret_cast<const std::uint8_t*>(row.data()) + 2));
      pointed.insert(objectId);
      EXPECT_EQ(entries[i].key, LongKey(objectId));
      ++exact;
    }
    EXPECT_EQ(pointed, objects);
  }
  return exact;
}

class AccessIndexTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterBuiltInDrivers(); }
  testing::TempDir m_dir;
};

TEST_F(AccessIndexTest, NewDatabasesIndexTheirCatalogOnIdAndOnParentAndName) {
  const auto file = m_dir / "new.mdb";
  ASSERT_EQ(CreateDatabase(file), 1);
  EXPECT_EQ(CheckSystemIndexes(file), 2 * 17);  // the 17 rows of a new catalog
  // The permissions have their index on ObjectId, empty until a row is added.
  const auto aces = IndexesOf(FileView(file), 3);
  ASSERT_EQ(aces.size(), 1u);
  EXPECT_EQ(aces[0].columns, std::vector<std::uint16_t>{0});
  EXPECT_TRUE(Entries(FileView(file), 3, aces[0]).empty());
  {
    CDatabase db;
    db.OpenEx(ConnectString(file));
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
  EXPECT_EQ(Lines(testing::RunCommand("mdb-tables -1 " + testing::ShellQuote(file)).output).size(), 14u);
  // Accents and hyphens only tell apart names that are otherwise equal.
  const FileView view(file);
  std::vector<std::u16string> byName;
  for (const auto& index : IndexesOf(view, kCatalogTdef)) {
    if (index.columns.size() != 2) continue;
    for (const auto& entry : Entries(view, kCatalogTdef, index))
      byName.push_back(DecodeCatalogRow(view.Row(entry.page, entry.row)).name);
  }
  const auto place = [&](const std::u16string& name) {
    return std::find(byName.begin(), byName.end(), name) - byName.begin();
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
    CDatabase db;
    db.OpenEx(ConnectString(file));
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
  EXPECT_EQ(Lines(testing::RunCommand("mdb-tables -1 " + testing::ShellQuote(file)).output).size(), names.size());
  for (const auto& name : names) {
    EXPECT_EQ(testing::RunCommand("mdb-count " + testing::ShellQuote(file) + " " +
                                  testing::ShellQuote(text::WideToUtf8(text::Utf16ToWide(name))))
                  .output,
              "1\n");
  }
  // Names of simple characters have the sort bytes of the data files, case folded by them.
  const FileView view(file);
  std::map<std::u16string, std::string> keys;
  for (const auto& index : IndexesOf(view, kCatalogTdef)) {
    if (index.columns.size() != 2) continue;
    for (const auto& entry : Entries(view, kCatalogTdef, index))
      keys[DecodeCatalogRow(view.Row(entry.page, entry.row)).name] = entry.key;
  }
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
    files.push_back(m_dir / "access-many.mdb");
    std::filesystem::copy_file(accessFile, files.back());
    std::filesystem::permissions(files.back(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  }
  for (const auto& file : files) {
    SCOPED_TRACE(file.filename().string());
    const int before = CheckSystemIndexes(file);
    {
      CDatabase db;
      db.OpenEx(ConnectString(file));
      // 64-character names: entries of 77 bytes, so the name index needs three leaf pages.
      for (int t = 0; t < 120; ++t) {
        std::wstring name = L"Table " + std::to_wstring((t * 37) % 120);
        name += std::wstring(64 - name.size(), L'x');
        db.ExecuteSQL(L"CREATE TABLE [" + name + L"] (N INTEGER)");
      }
    }
    const FileView view(file);
    const auto indexes = IndexesOf(view, kCatalogTdef);
    ASSERT_EQ(indexes.size(), 2u);
    const auto byName =
        std::find_if(indexes.begin(), indexes.end(), [](const IndexView& i) { return i.columns.size() == 2; });
    ASSERT_NE(byName, indexes.end());
    EXPECT_EQ(view.Page(byName->root)[0], 0x03) << "the name index should have a node page at its root";
    // Both catalog indexes hold the new rows, and so does the permissions' index in Access's file.
    EXPECT_GE(CheckSystemIndexes(file), before + 2 * 120);
    EXPECT_EQ(Lines(testing::RunCommand("mdb-tables -1 " + testing::ShellQuote(file)).output).size(), 120u);
  }
}

TEST_F(AccessIndexTest, TablesAddedToAccessFilesAreIndexedWithEveryOtherRow) {
  const auto samples = CopyAccessSamples(m_dir);
  ASSERT_FALSE(samples.empty()) << "no Access test files at " << QUILLON_TESTDATA_DIR;
  int checked = 0;
  for (const auto& file : samples) {
    SCOPED_TRACE(file.filename().string());
    // Access's own indexes pass the same checks before anything is added.
    const int before = CheckSystemIndexes(file);
    {
      CDatabase db;
      db.OpenEx(ConnectString(file));
      for (const wchar_t* name : {L"Quillon Export", L"AAA first", L"zzz last"}) {
        db.ExecuteSQL(std::wstring(L"CREATE TABLE [") + name + L"] (N INTEGER)");
        db.ExecuteSQL(std::wstring(L"INSERT INTO [") + name + L"] VALUES(1)");
      }
    }
    // Three catalog rows in two indexes, and the permission rows each new table took.
    EXPECT_GE(CheckSystemIndexes(file), before + 6);
    EXPECT_EQ(testing::RunCommand("mdb-count " + testing::ShellQuote(file) + " 'zzz last'").output, "1\n");
    ++checked;
  }
  EXPECT_EQ(checked, 4);
}

TEST_F(AccessIndexTest, ADamagedCatalogIndexRefusesNewTablesAndLeavesTheFileAsItWas) {
  const std::filesystem::path original = QUILLON_TESTDATA_DIR "/jet4/access-empty.mdb";
  ASSERT_TRUE(std::filesystem::exists(original)) << "no Access test file at " << original;
  const auto file = m_dir / "damaged.mdb";
  std::filesystem::copy_file(original, file);
  std::filesystem::permissions(file, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  std::string bytes = testing::ReadBytes(file);
  // The name index's root no longer says it is an index page.
  const auto root = IndexesOf(FileView(file), kCatalogTdef).front().root;
  bytes[std::size_t{root} * kPage] = 0x01;
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  {
    CDatabase db;
    db.OpenEx(ConnectString(file));
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

// The rows of the table defined at `tdefPage`, with their places, read through the driver.
std::vector<std::pair<std::uint32_t, std::vector<Value>>> RowsOf(const PageFile& file, std::uint32_t tdefPage,
                                                                 const TableDefinition& table) {
  std::vector<std::pair<std::uint32_t, std::vector<Value>>> rows;
  Page page{};
  for (const std::uint32_t number : MapPages(file, table.usageMap)) {
    file.Read(number, page);
    if (page[0] != 0x01 || GetU32(page.data() + 4) != tdefPage) continue;
    for (std::uint16_t row = 0; row < RowCount(page); ++row) {
      const auto bytes = RowAt(static_cast<const Page&>(page), row);
      if (!bytes.empty() && !IsOverflowPointer(page, row))
        rows.emplace_back(RowPointer(number, row), DecodeRow(table, bytes));
    }
  }
  return rows;
}

TEST(AccessIndexBytes, IndexesRebuiltFromTheRowsOfAccessFilesMatchTheirPagesByteForByte) {
  testing::TempDir dir;
  const auto samples = CopyAccessSamples(dir);
  ASSERT_FALSE(samples.empty()) << "no Access test files at " << QUILLON_TESTDATA_DIR;
  int pagesCompared = 0;
  for (const auto& path : samples) {
    SCOPED_TRACE(path.filename().string());
    const FileView original(path);
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
        const std::size_t used = kPage - FileView::U16(original.Page(index.firstPage) + 2);
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
