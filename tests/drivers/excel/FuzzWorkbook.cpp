// Fuzz target for the workbook reader: any workbook stream is either refused (WorkbookRefused) or
// read; a stream that was read lists its sheets, takes a new sheet, and the result reads again.
// Built for libFuzzer with -DQUILLON_FUZZ=ON (clang); the driver tests also replay mutations.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "drivers/excel/Workbook.h"
#include "drivers/sql/Statement.h"
#include "platform/errors/Errors.h"

namespace quillon::drivers::excel {

int FuzzWorkbookReader(const std::uint8_t* data, std::size_t size) {
  try {
    Workbook book(std::vector<std::uint8_t>(data, data + size));
    try {
      book.ListSheets();  // the catalog reads header rows that no other step reads
    } catch (const odbc::CDBException&) {
    }
    try {
      book.CreateTable(std::get<sql::CreateTable>(sql::Parse(L"CREATE TABLE Fuzzed_Table ([A] TEXT,[B] DATE)")));
      book.Insert(std::get<sql::Insert>(sql::Parse(L"INSERT INTO Fuzzed_Table VALUES('x','1.1.2000')")));
    } catch (const odbc::CDBException&) {
      return 0;  // e.g. the name is taken
    }
    MemorySink sink;
    book.Write(sink);
    try {
      Workbook again(sink.Bytes());
      again.StreamSize();  // reads its strings
    } catch (const WorkbookRefused&) {
      std::abort();  // what the driver writes it must read back
    }
  } catch (const WorkbookRefused&) {
  }
  return 0;
}

}  // namespace quillon::drivers::excel

#ifdef QUILLON_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return quillon::drivers::excel::FuzzWorkbookReader(data, size);
}
#endif
