// Output paths that hold what connect strings and installer attributes are made of: each
// export lands in the file the path names, new or existing, and nowhere else.
#include <set>
#include <utility>

#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "tests/engine/ExportTestSupport.h"

namespace quillon::engine::testing {
namespace {

class ExportPathFaults : public ExportFixture {
 protected:
  void SetUp() override {
    drivers::RegisterBuiltInDrivers();
    m_source.OpenEx(L"DRIVER=SQLite3;Database=" + (m_dir / "source.db").wstring());
    // 5 March: a day and month swapped by a date pattern slipped in through the path show.
    m_source.ExecuteSQL(L"CREATE TABLE Stamps (At TIMESTAMP)");
    m_source.ExecuteSQL(L"INSERT INTO Stamps VALUES ('2024-03-05 07:08:09')");
    m_source.ExecuteSQL(L"CREATE TABLE Again AS SELECT * FROM Stamps");
  }
};

TEST_F(ExportPathFaults, EachExportLandsExactlyAtTheNamedPath) {
  const std::string names[] = {
      "c\";DATEPATTERN={%m.%d.%y %H:%M:%S}\";x",
      "a\";DBQ=other.xls;x\"",
      "{braced}}",
      "semi;colon=equals",
      "DBQ=inner",
      "  leading and trailing  ",
      "line\nbreak",
      "ends in quote\"",
  };
  const auto folder = m_dir / "out";
  std::set<std::string> expected;
  for (const std::string& name : names) {
    for (const auto& [extension, format] : {std::pair{".xls", FormatExcel}, std::pair{".mdb", FormatAccess}}) {
      const auto out = folder / (name + extension);
      expected.insert(out.filename().string());
      // A new file, then the same file existing.
      ASSERT_TRUE(Export(L"SELECT * FROM Stamps", out, format)) << out << "\n" << m_host.lines.back();
      ASSERT_TRUE(Export(L"SELECT * FROM Again", out, format)) << out << "\n" << m_host.lines.back();
      if (format == FormatExcel) {
        EXPECT_EQ(SheetSizes(out), (std::vector<std::pair<std::string, int>>{{"Stamps", 2}, {"Again", 2}})) << out;
        const std::vector<std::string> cells = DumpXls(out);
        ASSERT_GE(cells.size(), 3u) << out;
        EXPECT_EQ(cells[2].substr(cells[2].size() - 19), "2024-03-05 07:08:09") << out;
      } else {
        EXPECT_EQ(OutputLines("mdb-tables -1 " + ShellQuote(out.string())),
                  (std::vector<std::string>{"Stamps", "Again"}))
            << out;
        EXPECT_EQ(ReadAccessTable(out, "Again"), (std::vector<std::string>{"At", "\"2024-03-05 07:08:09\""})) << out;
      }
    }
  }
  std::set<std::string> present;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    present.insert(entry.path().filename().string());
  EXPECT_EQ(present, expected);
}

}  // namespace
}  // namespace quillon::engine::testing
