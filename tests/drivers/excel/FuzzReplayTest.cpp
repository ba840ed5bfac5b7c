// A short, deterministic fuzzing run of both fuzz targets inside the test suite: seeds mutated by
// byte flips, truncations, repeats and insertions. Longer runs: the libFuzzer builds.
#include <filesystem>
#include <random>

#include <gtest/gtest.h>

#include "drivers/excel/CompoundFile.h"
#include "drivers/excel/Workbook.h"
#include "drivers/sql/Statement.h"

namespace quillon::drivers {
namespace sql {
int FuzzSqlParser(const std::uint8_t* data, std::size_t size);
}
namespace excel {
int FuzzWorkbookReader(const std::uint8_t* data, std::size_t size);
namespace {

constexpr int kMutationsPerSeed = 1500;

std::vector<std::uint8_t> Mutate(std::vector<std::uint8_t> bytes, std::mt19937& random) {
  const auto pick = [&random](std::size_t n) {
    return n == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };
  const int edits = 1 + static_cast<int>(pick(4));
  for (int e = 0; e < edits; ++e) {
    switch (pick(5)) {
      case 0:
        if (!bytes.empty()) bytes[pick(bytes.size())] ^= static_cast<std::uint8_t>(1u << pick(8));
        break;
      case 1:
        if (!bytes.empty()) bytes[pick(bytes.size())] = static_cast<std::uint8_t>(pick(256));
        break;
      case 2:
        bytes.resize(pick(bytes.size() + 1));
        break;
      case 3: {
        if (bytes.empty()) break;
        const std::size_t from = pick(bytes.size());
        const std::size_t length = std::min<std::size_t>(pick(64) + 1, bytes.size() - from);
        const std::vector<std::uint8_t> chunk(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                              bytes.begin() + static_cast<std::ptrdiff_t>(from + length));
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(pick(bytes.size() + 1)), chunk.begin(), chunk.end());
        break;
      }
      default:
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(pick(bytes.size() + 1)),
                     static_cast<std::uint8_t>(pick(256)));
        break;
    }
  }
  return bytes;
}

TEST(FuzzReplayTest, WorkbookReaderSurvivesMutatedStreams) {
  std::vector<std::vector<std::uint8_t>> seeds;
  {
    Workbook book;
    book.CreateTable(std::get<sql::CreateTable>(sql::Parse(L"CREATE TABLE T ([A] TEXT,[B] DOUBLE)")));
    for (int i = 0; i < 30; ++i) {
      book.Insert(std::get<sql::Insert>(sql::Parse(L"INSERT INTO T VALUES('v" + std::to_wstring(i) + L"',1.5)")));
    }
    MemorySink sink;
    book.Write(sink);
    seeds.push_back(sink.Bytes());
  }
  const std::filesystem::path testData = std::filesystem::path(QUILLON_TESTDATA_DIR) / "xls";
  for (const char* name : {"namesdemo.xls", "Formate.xls", "picture_in_cell.xls"}) {
    if (std::filesystem::exists(testData / name))
      seeds.push_back(CompoundFile((testData / name).string()).ReadWorkbookStream());
  }
  std::mt19937 random(20261207);
  for (const auto& seed : seeds) {
    ASSERT_EQ(FuzzWorkbookReader(seed.data(), seed.size()), 0);
    for (int i = 0; i < kMutationsPerSeed; ++i) {
      const auto input = Mutate(seed, random);
      FuzzWorkbookReader(input.data(), input.size());
    }
  }
}

TEST(FuzzReplayTest, ParserSurvivesMutatedStatements) {
  const std::string seeds[] = {
      "CREATE TABLE dbo_Orders ([ID] INTEGER,[Name] VARCHAR(50),'Unit Price' DOUBLE,[D] DATE,[B] BIT);",
      "INSERT INTO T VALUES(NULL,-1.5e-3,'it''s','5.3.2024 7:8:9','12/31/9999 23:59',32767,\"x\");",
      "INSERT INTO [x y] VALUES('\xF0\x9F\x98\x80',1e308,'2024-02-29')",
  };
  std::mt19937 random(7);
  for (const auto& seed : seeds) {
    const std::vector<std::uint8_t> bytes(seed.begin(), seed.end());
    for (int i = 0; i < kMutationsPerSeed * 4; ++i) {
      const auto input = Mutate(bytes, random);
      sql::FuzzSqlParser(input.data(), input.size());
    }
  }
}

}  // namespace
}  // namespace excel
}  // namespace quillon::drivers
