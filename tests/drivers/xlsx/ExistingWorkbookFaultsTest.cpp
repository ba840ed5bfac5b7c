// Files the .xlsx driver must not add to are refused with the reason, and left byte for byte as
// they were: no zip, a cut-off zip, an encrypted workbook (an OLE compound file), a zip without a
// workbook, Strict Open XML, a part that fails its checksum or inflates past the limit, a part
// with a document type declaration.
#include <fcntl.h>
#include <gsf/gsf.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "drivers/xlsx/ExistingWorkbook.h"
#include "platform/file/FileDescriptor.h"
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

// Why opening `file` to add to it is refused; empty when it is not.
std::string Refusal(const fs::path& file) {
  const file::FileDescriptor fd(::open(file.c_str(), O_RDONLY));
  try {
    ExistingWorkbook book(fd.Get(), file.string(), {"yyyy-mm-dd", "yyyy-mm-dd hh:mm:ss", "hh:mm:ss"});
  } catch (const PackageRefused& e) {
    return e.what();
  }
  return {};
}

TEST(ExistingWorkbookFaultsTest, FilesThatCannotBeAddedToAreRefusedUntouched) {
  const TempDir dir;
  const std::string workbook = ReadBytes(kTestData / "xlsx" / "autofilter01.xlsx");
  struct Case {
    std::string name;
    std::string content;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"text.xlsx", "Name,Value\nx,1\n", "not a zip package"},
      {"empty.xlsx", "", "not a zip package"},
      {"cut.xlsx", workbook.substr(0, workbook.size() / 2), "damaged: its zip directory cannot be read"},
      {"encrypted.xlsx", EncryptedWorkbook(dir / "encrypted.xlsx"), "it is encrypted"},
      {"biff8.xlsx", ReadBytes(kTestData / "xls" / "namesdemo.xls"), "not a zip package"},
      {"plain.xlsx", Variant(dir / "plain.xlsx", "plain"), "without a spreadsheet workbook"},
      {"document.xlsx", Variant(dir / "document.xlsx", "document"), "without a spreadsheet workbook"},
      {"strict.xlsx", Variant(dir / "strict.xlsx", "strict"), "Strict Open XML"},
      {"crc.xlsx", Variant(dir / "crc.xlsx", "stored-crc"), "'xl/workbook.xml' fails its checksum"},
      {"bomb.xlsx", Variant(dir / "bomb.xlsx", "bomb"), "'xl/workbook.xml' inflates to more than"},
      {"doctype.xlsx", Variant(dir / "doctype.xlsx", "doctype"), "document type declaration"},
      {"twice.xlsx", Variant(dir / "twice.xlsx", "twice"), "two entries named 'xl/workbook.xml'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.name == "empty.xlsx" || !c.content.empty());
    const auto file = dir / c.name;
    { std::ofstream(file, std::ios::binary) << c.content; }
    EXPECT_NE(Refusal(file).find(c.reason), std::string::npos) << Refusal(file);
    EXPECT_EQ(ReadBytes(file), c.content);
  }
}

}  // namespace
}  // namespace quillon::drivers::xlsx
