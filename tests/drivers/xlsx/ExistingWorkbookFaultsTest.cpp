// Files the .xlsx driver must not add to are refused with the reason and the file's name, and left
// byte for byte as they were: no zip, a cut-off zip, an encrypted workbook (an OLE compound file),
// a zip without a workbook, Strict Open XML, a part that fails its checksum or inflates past the
// limit, a part with a document type declaration, two entries of one name; and a table whose name
// a sheet there has in other letters.
#include <gsf/gsf.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "drivers/xlsx/XlsxDriver.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/text/WideText.h"
#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers::xlsx {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::ShellQuote;
using testing::TempDir;

const fs::path kTestData = fs::path(QUILLON_TESTDATA_DIR);

// An OLE compound file holding the streams an encrypted workbook comes in.
std::string EncryptedWorkbook(const fs::path& file) {
  gsf_init();
  GsfOutput* output = gsf_output_stdio_new(file.c_str(), nullptr);
  GsfOutfile* ole = gsf_outfile_msole_new(output);
  for (const char* name : {"EncryptionInfo", "EncryptedPackage"}) {
    GsfOutput* stream = gsf_outfile_new_child(ole, name, FALSE);
    const std::string bytes(5000, 'x');
    gsf_output_write(stream, bytes.size(), reinterpret_cast<const guint8*>(bytes.data()));
    gsf_output_close(stream);
    g_object_unref(stream);
  }
  gsf_output_close(GSF_OUTPUT(ole));
  g_object_unref(ole);
  g_object_unref(output);
  return ReadBytes(file);
}

// An openpyxl workbook rewritten into `kind` by xlsx_check.py.
std::string Variant(const fs::path& file, const std::string& kind) {
  const std::string run = std::string(QUILLON_PYTHON) + " " + ShellQuote(QUILLON_XLSX_CHECK) + " ";
  testing::RunCommand(run + "openpyxl " + ShellQuote(file.string()) + " && " + run + "variant " + kind + " " +
                      ShellQuote(file.string()));
  return ReadBytes(file);
}

// Why adding the table `table` to `file` through the driver is refused; empty when it is not.
std::wstring Refusal(const fs::path& file, const std::wstring& table) {
  try {
    odbc::CDatabase db;
    db.OpenEx(L"DRIVER={" + std::wstring(kXlsxDriverName) + L"};DBQ=" + text::Utf8ToWide(file.string()),
              odbc::CDatabase::noOdbcDialog);
    db.ExecuteSQL(L"CREATE TABLE [" + table + L"] ([A] TEXT)");
    db.Close();
  } catch (const odbc::CDBException& e) {
    return e.m_strMessage;
  }
  return {};
}

TEST(ExistingWorkbookFaultsTest, FilesThatCannotBeAddedToAreRefusedUntouched) {
  RegisterBuiltInDrivers();
  const TempDir dir;
  const std::string workbook = ReadBytes(kTestData / "xlsx" / "autofilter01.xlsx");
  struct Case {
    std::string name;
    std::string content;
    std::wstring reason;
    std::wstring table = L"T";
  };
  const std::vector<Case> cases = {
      {"text.xlsx", "Name,Value\nx,1\n", L"not a zip package"},
      {"empty.xlsx", "", L"not a zip package"},
      {"cut.xlsx", workbook.substr(0, workbook.size() / 2), L"damaged: its zip directory cannot be read"},
      {"encrypted.xlsx", EncryptedWorkbook(dir / "encrypted.xlsx"), L"it is encrypted"},
      {"biff8.xlsx", ReadBytes(kTestData / "xls" / "namesdemo.xls"), L"not a zip package"},
      {"plain.xlsx", Variant(dir / "plain.xlsx", "plain"), L"without a spreadsheet workbook"},
      {"document.xlsx", Variant(dir / "document.xlsx", "document"), L"without a spreadsheet workbook"},
      {"strict.xlsx", Variant(dir / "strict.xlsx", "strict"), L"Strict Open XML"},
      {"crc.xlsx", Variant(dir / "crc.xlsx", "stored-crc"), L"'xl/workbook.xml' fails its checksum"},
      {"bomb.xlsx", Variant(dir / "bomb.xlsx", "bomb"), L"'xl/workbook.xml' inflates to more than"},
      {"doctype.xlsx", Variant(dir / "doctype.xlsx", "doctype"), L"document type declaration"},
      {"twice.xlsx", Variant(dir / "twice.xlsx", "twice"), L"two entries named 'xl/workbook.xml'"},
      {"clash.xlsx", ReadBytes(kTestData / "xlsx" / "defined_name01.xlsx"), L"Table 'SHEET 3' already exists.",
       L"SHEET 3"},
      {"clash-umlaut.xlsx", ReadBytes(kTestData / "xlsx" / "calc-Formate.xlsx"),
       L"Table '\u00f6\u00e4\u00fc' already exists.", L"\u00f6\u00e4\u00fc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.name == "empty.xlsx" || !c.content.empty());
    const auto file = dir / c.name;
    { std::ofstream(file, std::ios::binary) << c.content; }
    const std::wstring refusal = Refusal(file, c.table);
    EXPECT_NE(refusal.find(c.reason), std::wstring::npos) << text::WideToUtf8(refusal);
    if (c.table == L"T") EXPECT_NE(refusal.find(text::Utf8ToWide(file.string())), std::wstring::npos);
    EXPECT_EQ(ReadBytes(file), c.content);
  }
}

}  // namespace
}  // namespace quillon::drivers::xlsx
