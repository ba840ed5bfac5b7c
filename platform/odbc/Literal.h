// One value of an INSERT as the built-in drivers take it: the literal the SQL text would hold,
// already read. The engine hands rows of these to a built-in driver without writing SQL text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::odbc {

struct Literal {
  enum class Kind { Null, Number, Text, Binary };
  Kind kind = Kind::Null;
  // A number as written (sign included); text as it is, without quotes; a binary value as
  // written: 0x and two hexadecimal digits a byte.
  std::wstring text;
  std::vector<std::uint8_t> bytes{};  // Binary: the bytes themselves
  // A Number the engine wrote itself from an integer or floating value: one number token as the
  // SQL text reads it, so a driver need not scan it again. False for number text a source gave.
  bool wellFormed = false;
  // With wellFormed: `number` is the finite double the text reads as, so a driver need not read it.
  bool holdsNumber = false;
  double number = 0;
};

}  // namespace quillon::odbc
