// Adding a sheet to workbooks that Excel, LibreOffice Calc and openpyxl wrote (tests/data/xlsx,
// copied to a scratch folder first): every entry the new sheet does not concern stays byte for
// byte, the parts that change keep their text around what is inserted, and other readers
// (openpyxl, LibreOffice) read the old sheets as before and the new one as written.
#include <fcntl.h>
#include <minizip/zip.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "drivers/xlsx/ExistingWorkbook.h"
#include "platform/file/FileDescriptor.h"
#include "tests/support/Command.h"
#include "tests/support/Require.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers::xlsx {
namespace {

namespace fs = std::filesystem;
using testing::OutputLines;
using testing::ShellQuote;
using testing::TempDir;

const fs::path kTestData = fs::path(QUILLON_TESTDATA_DIR) / "xlsx";
const char* const kWorkbooks[] = {"autofilter01.xlsx",      "chart_area01.xlsx",   "comment01.xlsx",
                                  "data_validation01.xlsx", "defined_name01.xlsx", "image01.xlsx",
                                  "rich_string01.xlsx",     "table01.xlsx",        "calc-Formate.xlsx",
                                  "calc-profiles.xlsx",     "openpyxl.xlsx"};
// The parts adding a sheet changes; every other entry is copied as it is.
const std::set<std::string> kChangedParts = {"[Content_Types].xml", "xl/workbook.xml", "xl/_rels/workbook.xml.rels",
                                             "xl/styles.xml", "docProps/app.xml"};
const NumberFormatCodes kCodes = {"yyyy-mm-dd", "yyyy-mm-dd hh:mm:ss", "hh:mm:ss"};

std::vector<std::string> Check(const std::string& what, const fs::path& file) {
  return OutputLines(std::string(QUILLON_PYTHON) + " " + ShellQuote(QUILLON_XLSX_CHECK) + " " + what + " " +
                     ShellQuote(file.string()));
}

fs::path CopyIn(const TempDir& dir, const std::string& name) {
  const auto target = dir / name;
  if (name == "openpyxl.xlsx") {
    Check("openpyxl", target);
  } else {
    fs::copy_file(kTestData / name, target);
  }
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  return target;
}

// Adds the sheet "Added" holding a bold header and a date to `file`.
void AddSheet(const fs::path& file) {
  const file::FileDescriptor fd(::open(file.c_str(), O_RDONLY));
  ExistingWorkbook book(fd.Get(), file.string(), kCodes);
  const AddedSheet sheet{"Added", book.NextSheetId(), book.NextPartNumber(), book.NextRelationshipId(), "$A$1:$A$2"};
  const std::string out = file.string() + ".new";
  zipFile zip = zipOpen64(out.c_str(), APPEND_STATUS_CREATE);
  ASSERT_NE(zip, nullptr);
  book.WriteInto(zip, {sheet}, out);
  const auto& styles = book.CellStyles();
  const std::string xml =
      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>"
      "<row r=\"1\"><c r=\"A1\" s=\"" +
      std::to_string(styles.header) +
      "\" t=\"inlineStr\"><is><t>When</t></is></c></row>"
      "<row r=\"2\"><c r=\"A2\" s=\"" +
      std::to_string(styles.date) +
      "\"><v>45356</v></c></row>"
      "</sheetData><autoFilter ref=\"A1:A2\"/></worksheet>";
  const std::string part = book.WorksheetPart(sheet.partNumber);
  ASSERT_EQ(zipOpenNewFileInZip64(zip, part.c_str(), nullptr, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                  Z_DEFAULT_COMPRESSION, 0),
            ZIP_OK);
  zipWriteInFileInZip(zip, xml.data(), static_cast<unsigned>(xml.size()));
  zipCloseFileInZip(zip);
  ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
  fs::rename(out, file);
}

class ExistingWorkbookTest : public ::testing::Test {
 protected:
  TempDir m_dir;
};

TEST_F(ExistingWorkbookTest, ANewSheetLeavesEveryOtherEntryAndCellAsItWas) {
  for (const char* name : kWorkbooks) {
    SCOPED_TRACE(name);
    const auto file = CopyIn(m_dir, name);
    const auto entriesBefore = Check("entries", file);
    const auto cellsBefore = Check("cells", file);
    ASSERT_FALSE(cellsBefore.empty());
    AddSheet(file);

    // (a) the entries other than the changed parts, in their order, stored as they were; the
    // new sheet's part last.
    const auto keep = [](const std::vector<std::string>& lines) {
      std::vector<std::string> kept;
      for (const auto& line : lines) {
        if (!kChangedParts.contains(line.substr(0, line.find('\t')))) kept.push_back(line);
      }
      return kept;
    };
    const auto entriesAfter = Check("entries", file);
    ASSERT_EQ(entriesAfter.size(), entriesBefore.size() + 1);
    auto kept = keep(entriesAfter);
    EXPECT_EQ(kept.back().substr(0, kept.back().find('\t')).rfind("xl/worksheets/sheet", 0), 0u) << kept.back();
    kept.pop_back();
    EXPECT_EQ(kept, keep(entriesBefore));
    // (b) the old sheets read as before (values, number formats, bold), the new one as written.
    const auto cellsAfter = Check("cells", file);
    ASSERT_GE(cellsAfter.size(), cellsBefore.size());
    EXPECT_TRUE(std::equal(cellsBefore.begin(), cellsBefore.end(), cellsAfter.begin()));
    const std::vector<std::string> added(cellsAfter.begin() + static_cast<std::ptrdiff_t>(cellsBefore.size()),
                                         cellsAfter.end());
    EXPECT_EQ(added, (std::vector<std::string>{"sheet\tAdded", "1\t1\tstr\tWhen\tGeneral\tbold",
                                               "2\t1\tdatetime\t2024-03-05 00:00:00\tyyyy-mm-dd\t"}));
  }
}

}  // namespace
}  // namespace quillon::drivers::xlsx
