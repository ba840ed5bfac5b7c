// Adding sheets to workbooks that other programs wrote (tests/data, copied to a scratch
// folder first), and refusing files the driver must not write to.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include <gtest/gtest.h>

#include "drivers/BuiltInDrivers.h"
#include "drivers/OutputDriver.h"
#include "drivers/excel/Biff8.h"
#include "drivers/excel/CompoundFile.h"
#include "drivers/excel/ExcelDriver.h"
#include "drivers/excel/Workbook.h"
#include "drivers/sql/Statement.h"
#include "platform/errors/Errors.h"
#include "platform/file/FileDescriptor.h"
#include "platform/odbc/Database.h"
#include "platform/text/WideText.h"
#include "tests/support/Command.h"
#include "tests/support/Readers.h"
#include "tests/support/Require.h"
#include "tests/support/TempDir.h"

namespace quillon::drivers::excel {
namespace {

namespace fs = std::filesystem;
using odbc::CDatabase;
using odbc::CDBException;
using testing::DumpXls;
using testing::TempDir;

const fs::path kTestData = fs::path(QUILLON_TESTDATA_DIR) / "xls";
const char* const kWorkbooks[] = {"Formate.xls", "formula_test_sjmachin.xls", "namesdemo.xls", "picture_in_cell.xls",
                                  "profiles.xls"};

std::wstring Connect(const fs::path& file) {
  return L"ODBC;DRIVER={Microsoft Excel Driver (*.xls)};DSN='';DBQ=" + text::Utf8ToWide(file.string());
}

fs::path CopyIn(const TempDir& dir, const std::string& name) {
  const auto target = dir / name;
  fs::copy_file(kTestData / name, target);
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  return target;
}

// The container's entries other than the workbook stream, with their sizes, as `gsf list` shows.
std::vector<std::string> OtherEntries(const fs::path& file) {
  std::vector<std::string> entries;
  for (const auto& line : testing::OutputLines("gsf list " + testing::ShellQuote(file.string()))) {
    if (line.rfind("f ", 0) == 0 && line.find(" Workbook") == std::string::npos) entries.push_back(line);
  }
  return entries;
}

class AppendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kTestData)) << "the test data is not at " << kTestData;
    RegisterBuiltInDrivers();
  }
  TempDir m_dir;
};

TEST_F(AppendTest, NewSheetsKeepEverythingTheWorkbookHad) {
  for (const char* name : kWorkbooks) {
    SCOPED_TRACE(name);
    const auto file = CopyIn(m_dir, name);
    std::string error;
    const auto before = DumpXls(file, &error);
    ASSERT_FALSE(before.empty()) << error;
    const auto entries = OtherEntries(file);
    const std::string original = testing::ReadBytes(file);
    const std::size_t sheets =
        std::count_if(before.begin(), before.end(), [](auto& l) { return l.rfind("sheet\t", 0) == 0; });
    {
      CDatabase db;
      db.Open(nullptr, false, false, Connect(file));
      db.ExecuteSQL(L"CREATE TABLE Results ([Name] TEXT,[Value] DOUBLE,[When] DATE)");
      db.ExecuteSQL(L"INSERT INTO Results VALUES('Sheet1',1.25,'2024-03-05')");
      db.ExecuteSQL(L"INSERT INTO Results VALUES('\u00e4\u00f6\u00fc \U0001F600',-3,NULL)");
      // The file stays as it was until the connection ends.
      EXPECT_EQ(testing::ReadBytes(file), original);
      db.Close();
    }
    {
      CDatabase db;  // and once more, over the driver's own output
      db.Open(nullptr, false, false, Connect(file));
      db.ExecuteSQL(L"CREATE TABLE Results_Sheet0 ([N] INTEGER)");
      db.ExecuteSQL(L"INSERT INTO Results_Sheet0 VALUES(7)");
    }
    const auto after = DumpXls(file, &error);
    ASSERT_FALSE(after.empty()) << error;
    ASSERT_GE(after.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin())) << "existing cells changed";
    const std::string s = std::to_string(sheets), t = std::to_string(sheets + 1);
    const std::vector<std::string> added = {"sheet\tResults\t3\t3",
                                            s + "\t0\t0\ttext\tName",
                                            s + "\t0\t1\ttext\tValue",
                                            s + "\t0\t2\ttext\tWhen",
                                            s + "\t1\t0\ttext\tSheet1",
                                            s + "\t1\t1\tnumber\t1.25",
                                            s + "\t1\t2\tdate\t45356.0 2024-03-05 00:00:00",
                                            s + "\t2\t0\ttext\t\xC3\xA4\xC3\xB6\xC3\xBC \xF0\x9F\x98\x80",
                                            s + "\t2\t1\tnumber\t-3.0",
                                            "sheet\tResults_Sheet0\t2\t1",
                                            t + "\t0\t0\ttext\tN",
                                            t + "\t1\t0\tnumber\t7.0"};
    EXPECT_EQ(std::vector<std::string>(after.begin() + static_cast<std::ptrdiff_t>(before.size()), after.end()), added);
    EXPECT_EQ(OtherEntries(file), entries);
  }
}

TEST_F(AppendTest, ExistingSheetsAreTablesThatExist) {
  const auto file = CopyIn(m_dir, "namesdemo.xls");
  const std::string original = testing::ReadBytes(file);
  {
    CDatabase db;
    db.Open(nullptr, false, false, Connect(file));
    try {
      db.ExecuteSQL(L"CREATE TABLE [sheet1] ([A] TEXT)");
      ADD_FAILURE() << "an existing sheet was created again";
    } catch (const CDBException& e) {
      EXPECT_EQ(e.m_strMessage, L"Table 'sheet1' already exists.");
    }
    EXPECT_THROW(db.ExecuteSQL(L"INSERT INTO [Seamus O'Reilly] VALUES(1)"), CDBException);
  }
  // Nothing was created, so nothing was written.
  EXPECT_EQ(testing::ReadBytes(file), original);
}

TEST_F(AppendTest, FilesThatAreNotBiff8WorkbooksAreRefusedUntouched) {
  struct Case {
    std::string name;
    std::string content;
    const wchar_t* reason;
  };
  std::vector<Case> cases = {
      {"biff4.xls", testing::ReadBytes(kTestData / "biff4_no_format_no_window2.xls"), L"not a compound document"},
      {"text.xls", "Name,Value\nx,1\n", L"not a compound document"},
      {"empty.xls", "", L"not a compound document"},
  };
  // A compound document holding something else: take a workbook and rename its stream.
  std::string renamed = testing::ReadBytes(kTestData / "namesdemo.xls");
  const std::string from = {'W', 0, 'o', 0, 'r', 0, 'k', 0, 'b', 0, 'o', 0, 'o', 0, 'k', 0};
  const std::string to = {'W', 0, 'o', 0, 'r', 0, 'k', 0, 'b', 0, 'o', 0, 'o', 0, 'x', 0};
  renamed.replace(renamed.find(from), from.size(), to);
  cases.push_back({"other.xls", renamed, L"without a workbook stream"});
  // An Excel 5.0/95 book: the stream is called "Book" (the entry's name length at 64 follows).
  constexpr std::size_t kEntryNameLength = 64;
  std::string biff5 = renamed;
  const std::string book = {'B', 0, 'o', 0, 'o', 0, 'k', 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const std::size_t entry = biff5.find(to);
  biff5.replace(entry, book.size(), book);
  biff5[entry + kEntryNameLength] = 10;
  cases.push_back({"biff5.xls", biff5, L"BIFF5"});
  // An encrypted book: a workbook stream with FILEPASS after its BOF, in a real container.
  {
    Workbook workbook;
    workbook.CreateTable(std::get<sql::CreateTable>(sql::Parse(L"CREATE TABLE T ([A] TEXT)")));
    MemorySink stream;
    workbook.Write(stream);
    auto bytes = stream.Bytes();
    const std::size_t afterBof = biff::kRecordHeaderSize + biff::GetU16(&bytes[2]);
    const auto filePass = biff::Record(biff::kFilePass, std::vector<std::uint8_t>(54, 0));
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(afterBof), filePass.begin(), filePass.end());
    const auto file = m_dir / "encrypted-source.xls";
    WriteCompoundFile(file.string(), nullptr, bytes.size(),
                      [&bytes](Sink& sink) { sink.Write(bytes.data(), bytes.size()); });
    cases.push_back({"encrypted.xls", testing::ReadBytes(file), L"encrypted"});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = m_dir / c.name;
    { std::ofstream(file, std::ios::binary) << c.content; }
    CDatabase db;
    try {
      db.Open(nullptr, false, false, Connect(file));
      ADD_FAILURE() << "the file was accepted";
      db.ExecuteSQL(L"CREATE TABLE T ([A] TEXT)");
      db.Close();
    } catch (const CDBException& e) {
      EXPECT_NE(e.m_strMessage.find(c.reason), std::wstring::npos) << e.what();
      EXPECT_NE(e.m_strMessage.find(text::Utf8ToWide(file.string())), std::wstring::npos) << e.what();
    }
    EXPECT_EQ(testing::ReadBytes(file), c.content);
  }
}

// The file's size is known before it is written, so that a workbook past the 2 GB a compound
// file of 512-byte sectors holds is refused before anything is written: new workbooks with the
// stream in the ministream and out of it, and workbooks with entries of every kind after them.
TEST_F(AppendTest, AFileOverTheSizeLimitIsRefusedBeforeItIsWritten) {
  struct Case {
    std::string sample;  // empty: a new workbook
    int rows;
  };
  std::vector<Case> cases = {{"", 1}, {"", 3000}};
  for (const char* name : kWorkbooks) cases.push_back({name, 1});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sample + " " + std::to_string(c.rows));
    std::unique_ptr<CompoundFile> previous;
    std::unique_ptr<Workbook> workbook = std::make_unique<Workbook>();
    if (!c.sample.empty()) {
      previous = std::make_unique<CompoundFile>((kTestData / c.sample).string());
      workbook = std::make_unique<Workbook>(previous->WorkbookSource());
    }
    workbook->CreateTable(std::get<sql::CreateTable>(sql::Parse(L"CREATE TABLE Sized ([N] INTEGER, [T] TEXT)")));
    for (int i = 0; i < c.rows; ++i) {
      workbook->Insert(
          std::get<sql::Insert>(sql::Parse(L"INSERT INTO Sized VALUES(" + std::to_wstring(i) + L", 'r')")));
    }
    const std::uint64_t size = workbook->StreamSize();
    const std::uint64_t expected = CompoundFileSize(size, previous.get());
    const auto write = [&](Sink& sink) { workbook->Write(sink); };
    const auto file = m_dir / "sized.xls";
    WriteCompoundFile(file.string(), previous.get(), size, write);
    EXPECT_GE(expected, fs::file_size(file));
    EXPECT_LE(expected, fs::file_size(file) + 4 * 512);

    const auto refused = m_dir / "refused.xls";
    { std::ofstream(refused, std::ios::binary) << "old"; }
    file::FileDescriptor fd(::open(refused.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    try {
      WriteCompoundFile(fd.Get(), refused.string(), previous.get(), size, write, expected - 1);
      ADD_FAILURE() << "written past the limit";
    } catch (const CDBException& e) {
      EXPECT_NE(e.m_strMessage.find(L"would exceed 2 GB"), std::wstring::npos) << e.what();
    }
    EXPECT_EQ(testing::ReadBytes(refused), "old");
  }
}

// A stream of more sectors than the header's part of the allocation table lists (the master
// table's) reads back whole, in a file of the size foreseen.
TEST_F(AppendTest, AStreamListedThroughTheMasterTableReadsBackWhole) {
  std::vector<std::uint8_t> bytes(std::size_t{9} << 20);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
  const auto file = m_dir / "large.xls";
  WriteCompoundFile(file.string(), nullptr, bytes.size(), [&](Sink& sink) { sink.Write(bytes.data(), bytes.size()); });
  EXPECT_TRUE(CompoundFile(file.string()).ReadWorkbookStream() == bytes);
  EXPECT_GE(CompoundFileSize(bytes.size(), nullptr), fs::file_size(file));
}

// Every record of a written workbook is one Excel defines, the records that place spooled cells
// and strings at the start of a sector included: in a new workbook of several sheets too large to
// stay in memory, and in the same workbook added to twice, its filler fonts replaced each time
// instead of piling up. The string lengths vary so that every kind of filler comes into play.
TEST_F(AppendTest, EveryRecordWrittenIsOneExcelDefines) {
  // The record ids, and the bytes of the fonts with the filler fonts' mark (outline and shadow).
  const auto records = [](const fs::path& file, std::uint64_t& fillerFontBytes) {
    const std::vector<std::uint8_t> stream = CompoundFile(file.string()).ReadWorkbookStream();
    std::vector<std::uint16_t> ids;
    fillerFontBytes = 0;
    for (std::size_t at = 0; at + biff::kRecordHeaderSize <= stream.size();
         at += biff::kRecordHeaderSize + biff::GetU16(&stream[at + 2])) {
      ids.push_back(biff::GetU16(&stream[at]));
      if (ids.back() == biff::kFont &&
          biff::GetU16(&stream[at + biff::kRecordHeaderSize + biff::kFontGrbit]) & biff::kFontOutline)
        fillerFontBytes += biff::kRecordHeaderSize + biff::GetU16(&stream[at + 2]);
    }
    return ids;
  };
  const auto fill = [](CDatabase& db, const std::wstring& table, int variant) {
    db.ExecuteSQL(L"CREATE TABLE " + table + L" ([I] INTEGER,[S] TEXT)");
    for (int i = 0; i < 3000; ++i) {
      db.ExecuteSQL(L"INSERT INTO " + table + L" VALUES(" + std::to_wstring(i) + L",'" + table + std::to_wstring(i) +
                    std::wstring(static_cast<std::size_t>(variant + i % 5), L'x') + L"')");
    }
  };
  for (int variant = 0; variant < 3; ++variant) {
    const auto file = m_dir / ("defined" + std::to_string(variant) + ".xls");
    for (const wchar_t* added : {L"", L"D", L"E"}) {
      {
        CDatabase db;
        const std::wstring path = text::Utf8ToWide(file.string());
        db.Open(nullptr, false, false,
                *added ? Connect(file)
                       : L"DRIVER={Microsoft Excel Driver (*.xls)};DSN='';CREATE_DB=\"" + path + L"\";DBQ=" + path);
        if (*added)
          fill(db, added, variant);
        else
          for (const wchar_t* table : {L"A", L"B", L"C"}) fill(db, table, variant);
      }
      std::uint64_t fillerFontBytes = 0;
      const auto ids = records(file, fillerFontBytes);
      for (std::uint16_t id : ids) {
        EXPECT_NE(std::find(std::begin(biff::kWrittenRecords), std::end(biff::kWrittenRecords), id),
                  std::end(biff::kWrittenRecords))
            << "record " << std::hex << id << " in " << file;
      }
      // One set of filler fonts: less than a sector and two fonts.
      EXPECT_LT(fillerFontBytes, SpoolFile::kSectorSize + 50) << "filler fonts pile up in " << file;
    }
    const auto lines = DumpXls(file);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("sheet"); }),
              5);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "4\t3000\t0\tnumber\t2999.0"), lines.end());
  }
}

// Earlier filler fonts stay once a cell format uses one: only fonts nothing refers to go.
TEST_F(AppendTest, FillerFontsACellFormatUsesStay) {
  const auto write = [](Workbook& workbook, const std::wstring& table) {
    workbook.CreateTable(std::get<sql::CreateTable>(sql::Parse(L"CREATE TABLE " + table + L" ([S] TEXT)")));
    for (int i = 0; i < 8000; ++i)
      workbook.Insert(std::get<sql::Insert>(
          sql::Parse(L"INSERT INTO " + table + L" VALUES('" + table + L"-" + std::to_wstring(i) + L"')")));
    MemorySink sink;
    workbook.Write(sink);
    return sink.Bytes();
  };
  // The FONT records' data, and where the first XF's font index lies.
  const auto fonts = [](const std::vector<std::uint8_t>& stream, std::size_t* xfFont) {
    std::vector<std::vector<std::uint8_t>> found;
    for (std::size_t at = 0; at + 4 <= stream.size(); at += 4 + biff::GetU16(&stream[at + 2])) {
      const auto data = stream.begin() + static_cast<std::ptrdiff_t>(at + 4);
      if (biff::GetU16(&stream[at]) == biff::kFont) found.emplace_back(data, data + biff::GetU16(&stream[at + 2]));
      if (biff::GetU16(&stream[at]) == biff::kXf && xfFont != nullptr && *xfFont == 0) *xfFont = at + 4;
    }
    return found;
  };
  Workbook first;
  std::vector<std::uint8_t> stream = write(first, L"Old");
  std::size_t xfFont = 0;
  const auto before = fonts(stream, &xfFont);
  const auto filler = std::find_if(before.begin(), before.end(), [](const std::vector<std::uint8_t>& font) {
    return biff::GetU16(&font[biff::kFontGrbit]) & biff::kFontOutline;
  });
  ASSERT_NE(filler, before.end());
  const auto used = static_cast<std::size_t>(filler - before.begin());
  biff::PutU16(&stream[xfFont], static_cast<std::uint16_t>(used < biff::kSkippedFontIndex ? used : used + 1));
  Workbook again(stream);
  const auto after = fonts(write(again, L"New"), nullptr);
  ASSERT_GE(after.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
}

// A workbook that certainly passes its limit ends at the row that takes it there, with an error
// of the file (as a full disk), instead of spooling rows for a file that cannot be written.
TEST_F(AppendTest, TheRowThatTakesTheStreamPastItsLimitIsAnErrorOfTheFile) {
  constexpr std::uint64_t kLimit = 1 << 16;
  CompoundFile previous((kTestData / "profiles.xls").string());
  Workbook workbook(previous.WorkbookSource());
  workbook.LimitStreamTo(kLimit);
  workbook.CreateTable(std::get<sql::CreateTable>(sql::Parse(L"CREATE TABLE Big ([T] TEXT)")));
  int rows = 0;
  try {
    for (; rows < 10000; ++rows) {
      workbook.Insert(std::get<sql::Insert>(sql::Parse(L"INSERT INTO Big VALUES('" + std::wstring(200, L'x') + L"')")));
    }
  } catch (const CDBException& e) {
    EXPECT_EQ(e.m_strSqlState, odbc::errors::state::kIoError);
    EXPECT_NE(e.m_strMessage.find(L"2 GB"), std::wstring::npos) << e.what();
  }
  EXPECT_LT(rows, 10000);
  EXPECT_GT(workbook.StreamSize(), kLimit);
}

TEST_F(AppendTest, DatesFollowAWorkbookThatCountsFrom1904) {
  // A workbook in the 1904 date system: the driver's own, with DATEMODE set.
  Workbook workbook;
  workbook.CreateTable(std::get<sql::CreateTable>(sql::Parse(L"CREATE TABLE Old ([D] DATE)")));
  workbook.Insert(std::get<sql::Insert>(sql::Parse(L"INSERT INTO Old VALUES('2024-03-05')")));
  MemorySink stream;
  workbook.Write(stream);
  auto bytes = stream.Bytes();
  for (std::size_t at = 0; at + 4 <= bytes.size(); at += 4 + biff::GetU16(&bytes[at + 2])) {
    if (biff::GetU16(&bytes[at]) == biff::kDateMode) biff::PutU16(&bytes[at + 4], 1);
  }
  const auto file = m_dir / "1904.xls";
  WriteCompoundFile(file.string(), nullptr, bytes.size(),
                    [&bytes](Sink& sink) { sink.Write(bytes.data(), bytes.size()); });
  {
    CDatabase db;
    db.Open(nullptr, false, false, Connect(file));
    db.ExecuteSQL(L"CREATE TABLE New ([D] DATE)");
    db.ExecuteSQL(L"INSERT INTO New VALUES('2024-03-05 12:00')");
    db.ExecuteSQL(L"INSERT INTO New VALUES('1904-01-02')");
    db.ExecuteSQL(L"INSERT INTO New VALUES('1903-12-31')");
  }
  const auto lines = DumpXls(file);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "1\t1\t0\tdate\t43894.5 2024-03-05 12:00:00"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "1\t2\t0\tdate\t1.0 1904-01-02 00:00:00"), lines.end());
  // Before its first day the 1904 system has no serial: the date is kept as text.
  EXPECT_NE(std::find(lines.begin(), lines.end(), "1\t3\t0\ttext\t1903-12-31 00:00:00"), lines.end());
}

TEST_F(AppendTest, AProcessKilledMidExportLeavesTheFileAsItWas) {
  const auto file = CopyIn(m_dir, "profiles.xls");
  const std::string original = testing::ReadBytes(file);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CDatabase db;
    db.Open(nullptr, false, false, Connect(file));
    db.ExecuteSQL(L"CREATE TABLE Results ([A] INTEGER)");
    for (int i = 0; i < 1000; ++i) db.ExecuteSQL(L"INSERT INTO Results VALUES(" + std::to_wstring(i) + L")");
    ::raise(SIGKILL);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(testing::ReadBytes(file), original);
  EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.Path()), fs::directory_iterator()), 1);
}

TEST_F(AppendTest, LibreOfficeReadsAnAppendedSheet) {
  QUILLON_REQUIRE_TOOL(!std::string(QUILLON_SOFFICE).empty()) << "LibreOffice (soffice) is not installed";
  const auto file = CopyIn(m_dir, "Formate.xls");
  const auto run = [this](const fs::path& input, const std::string& outName) {
    return testing::RunCommand(
        std::string(QUILLON_SOFFICE) + " --headless -env:UserInstallation=file://" + (m_dir / "profile").string() +
        " --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,"
        "-1' --outdir " +
        testing::ShellQuote((m_dir / outName).string()) + " " + testing::ShellQuote(input.string()) + " 2>&1");
  };
  ASSERT_EQ(run(file, "before").status, 0);
  {
    CDatabase db;
    db.Open(nullptr, false, false, Connect(file));
    db.ExecuteSQL(L"CREATE TABLE [Neu] ([Name] TEXT,[Wert] DOUBLE)");
    db.ExecuteSQL(L"INSERT INTO Neu VALUES('\u00c4pfel',2.5)");
  }
  const auto result = run(file, "after");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(testing::ReadBytes(m_dir / "after" / "Formate-Neu.csv"), "Name,Wert\n\xC3\x84pfel,2.5\n");
  for (const auto& entry : fs::directory_iterator(m_dir / "before")) {
    EXPECT_EQ(testing::ReadBytes(m_dir / "after" / entry.path().filename()), testing::ReadBytes(entry.path()))
        << entry.path().filename();
  }
}

TEST_F(AppendTest, AWorkbookGnumericWroteKeepsItsCellsAndGnumericReadsTheNewSheet) {
  QUILLON_REQUIRE_TOOL(!std::string(QUILLON_SSCONVERT).empty()) << "Gnumeric (ssconvert) is not installed";
  const auto ssconvert = [](const fs::path& from, const fs::path& to, const std::string& options = "") {
    return testing::RunCommand(std::string(QUILLON_SSCONVERT) + options + " " + testing::ShellQuote(from.string()) +
                               " " + testing::ShellQuote(to.string()) + " 2>&1");
  };
  const auto csv = m_dir / "made.csv";
  std::ofstream(csv) << "Item,Amount\nK\xC3\xA4se,3.5\nBrot,2\n";
  const auto file = m_dir / "gnumeric.xls";
  ASSERT_EQ(ssconvert(csv, file, " --export-type=Gnumeric_Excel:excel_biff8").status, 0);
  std::string error;
  const auto before = DumpXls(file, &error);
  ASSERT_FALSE(before.empty()) << error;
  {
    CDatabase db;
    db.Open(nullptr, false, false, Connect(file));
    db.ExecuteSQL(L"CREATE TABLE Added ([Name] TEXT,[N] INTEGER)");
    db.ExecuteSQL(L"INSERT INTO Added VALUES('Zo\u00eb',42)");
  }
  const auto after = DumpXls(file, &error);
  ASSERT_FALSE(after.empty()) << error;
  EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin())) << "existing cells changed";
  // Gnumeric reads both sheets back: its own and the one added.
  const auto result = ssconvert(file, m_dir / "back.%n.csv", " -S");
  ASSERT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(testing::ReadBytes(m_dir / "back.0.csv"), "Item,Amount\nK\xC3\xA4se,3.5\nBrot,2\n");
  EXPECT_EQ(testing::ReadBytes(m_dir / "back.1.csv"), "Name,N\nZo\xC3\xAB,42\n");
}

// Statements in three parts: a table with enough rows of every kind that its cells and its
// strings (unique ones and repeats) fill sectors of the work file, then more rows to it and a
// second table, then a few rows to each. Each part but the last ends with a checkpoint when
// `checkpoints` holds; the file's bytes after it are returned, and the connection is closed
// after `parts` parts.
std::vector<std::string> RunParts(const fs::path& file, bool create, int parts, bool checkpoints) {
  const std::wstring path = text::Utf8ToWide(file.string());
  auto connection = MakeExcelDriver()->Connect(
      odbc::ConnectString::Parse((create ? L"CREATE_DB=\"" + path + L"\";" : L"") + L"DBQ=" + path));
  auto& output = dynamic_cast<OutputConnection&>(*connection);
  const auto rows = [&](const wchar_t* table, int from, int to) {
    for (int i = from; i < to; ++i) {
      const std::wstring n = std::to_wstring(i);
      if (std::wstring(table) == L"T") {
        output.ExecuteSQL(L"INSERT INTO T VALUES(" + n + L",'unique text of row " + n + L", long enough to count'," +
                          n + L".5," + std::to_wstring(i % 2) + L",'2024-03-" + std::to_wstring(1 + i % 28) + L"'," +
                          (i % 5 == 0 ? std::wstring(L"NULL") : L"'" + std::wstring(i % 3 ? L"red" : L"blue") + L"'") +
                          L")");
      } else {
        output.ExecuteSQL(L"INSERT INTO U VALUES('" + std::wstring(i % 2 ? L"red" : L"green") + L"'," + n + L")");
      }
    }
  };
  std::vector<std::string> published;
  for (int part = 0; part < parts; ++part) {
    if (part == 0) {
      output.ExecuteSQL(L"CREATE TABLE T ([Id] INTEGER,[Name] TEXT,[Price] DOUBLE,[On] BIT,[When] DATE,[Kind] TEXT)");
      rows(L"T", 0, 2000);
    } else if (part == 1) {
      rows(L"T", 2000, 2050);
      output.ExecuteSQL(L"CREATE TABLE U ([Colour] TEXT,[N] INTEGER)");
      rows(L"U", 0, 40);
    } else {
      rows(L"T", 2050, 2090);
      rows(L"U", 40, 80);
    }
    if (checkpoints && part + 1 < parts) {
      output.Checkpoint();
      published.push_back(testing::ReadBytes(file));
      EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1)
          << "a file beside the workbook";
    }
  }
  output.Close();
  published.push_back(testing::ReadBytes(file));
  return published;
}

// A checkpoint publishes the workbook as Close would write it at that point, read by xlrd, and
// the connection goes on: its tables, also the one from before, take more rows, and the file
// closed at the end is byte for byte the one written without checkpoints.
TEST_F(AppendTest, CheckpointsPublishWhatCloseWouldWriteAndChangeNothingAfter) {
  const auto has = [](const std::vector<std::string>& lines, const std::string& ending) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.ends_with(ending); });
  };
  for (const char* name : {"", "namesdemo.xls", "profiles.xls"}) {
    SCOPED_TRACE(*name ? name : "a new workbook");
    const bool create = *name == '\0';
    const auto prepare = [&](const std::string& folder) {
      const fs::path dir = m_dir / folder;
      fs::create_directories(dir);
      if (create) return dir / "new.xls";
      fs::copy_file(kTestData / name, dir / name);
      fs::permissions(dir / name, fs::perms::owner_read | fs::perms::owner_write);
      return dir / name;
    };
    const std::string folder = create ? "new" : name;
    const auto published = RunParts(prepare(folder + "/checkpoints"), create, 3, true);
    ASSERT_EQ(published.size(), 3u);
    for (int parts = 1; parts <= 3; ++parts) {
      SCOPED_TRACE(parts);
      const std::string& bytes = published[parts - 1];
      EXPECT_TRUE(bytes == RunParts(prepare(folder + "/closed" + std::to_string(parts)), create, parts, false).back())
          << "differs from the workbook closed there";
      const auto copy = m_dir / folder / "read.xls";
      std::ofstream(copy, std::ios::binary | std::ios::trunc) << bytes;
      std::string error;
      const auto lines = DumpXls(copy, &error);
      ASSERT_FALSE(lines.empty()) << error;
      const int t = parts == 1 ? 2000 : parts == 2 ? 2050 : 2090, u = parts == 1 ? 0 : parts == 2 ? 40 : 80;
      const std::string last = "\t" + std::to_string(t) + "\t";
      EXPECT_TRUE(has(lines, "sheet\tT\t" + std::to_string(t + 1) + "\t6"));
      EXPECT_TRUE(has(lines, last + "1\ttext\tunique text of row " + std::to_string(t - 1) + ", long enough to count"));
      EXPECT_TRUE(has(lines, last + "5\ttext\t" + ((t - 1) % 3 ? "red" : "blue")));
      EXPECT_EQ(has(lines, "sheet\tU\t" + std::to_string(u + 1) + "\t2"), u > 0);
      if (u > 0) {
        EXPECT_TRUE(has(lines, "\t" + std::to_string(u) + "\t0\ttext\tred"));
      }
    }
  }
}

}  // namespace
}  // namespace quillon::drivers::excel
