// One value of an INSERT as the built-in drivers take it: the literal the SQL text would hold,
// already read. The engine hands rows of these to a built-in driver without writing SQL text.
#pragma once

#include <string>

namespace quillon::odbc {

struct Literal {
  enum class Kind { Null, Number, Text };
  Kind kind = Kind::Null;
  std::wstring text;  // a number as written (sign included); text as it is, without quotes
  // A Number the engine wrote itself from an integer or floating value: one number token as the
  // SQL text reads it, so a driver need not scan it again. False for number text a source gave.
  bool wellFormed = false;
  // With wellFormed: `number` is the finite double the text reads as, so a driver need not read it.
  bool holdsNumber = false;
  double number = 0;
};

}  // namespace quillon::odbc
