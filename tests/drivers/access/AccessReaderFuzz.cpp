// libFuzzer target: opening an arbitrary file as an Access database, adding a table and a row,
// and writing it out must end in success or a CDBException, never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <fstream>

#include "drivers/access/AccessDatabase.h"
#include "platform/errors/Errors.h"
#include "tests/drivers/access/ReaderHelpers.h"
#include "tests/support/TempDir.h"

using namespace quillon::drivers::access;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const quillon::testing::TempDir dir;
  const auto file = dir / "input.mdb";
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    AccessDatabase database(file);
    database.CreateTable(u"Fuzz", {{u"A", jet4::ColumnType::Long, 0}, {u"B", jet4::ColumnType::Memo, 0}});
    database.Insert(u"Fuzz", {Value::Int(1), Value::Str(std::u16string(5000, u'x'))});
    database.Close();
  } catch (const quillon::odbc::CDBException&) {
    // Refused or damaged: the expected way out for most inputs.
  }
  return 0;
}
