// Fuzz target for the statement parser and the value checks: any text either parses or raises
// CDBException, and every parsed value either converts or raises CDBException.
// Built for libFuzzer with -DQUILLON_FUZZ=ON (clang); the driver tests also replay mutations.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "drivers/sql/Statement.h"
#include "drivers/sql/ValueCheck.h"
#include "platform/errors/Errors.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::sql {

int FuzzSqlParser(const std::uint8_t* data, std::size_t size) {
  const std::wstring text = text::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    const Statement statement = Parse(text);
    if (const auto* insert = std::get_if<Insert>(&statement)) {
      for (const ColumnType type : {ColumnType::Text, ColumnType::VarChar, ColumnType::Memo, ColumnType::Double,
                                    ColumnType::Bit, ColumnType::Integer, ColumnType::SmallInt, ColumnType::Date}) {
        const ColumnDef column{L"c", type, 10};
        for (const auto& literal : insert->values) {
          try {
            CheckValue(literal, column, 10);
          } catch (const odbc::CDBException&) {
          }
        }
      }
    }
  } catch (const odbc::CDBException&) {
  }
  return 0;
}

}  // namespace quillon::drivers::sql

#ifdef QUILLON_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return quillon::drivers::sql::FuzzSqlParser(data, size);
}
#endif
