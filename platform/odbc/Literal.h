// One value of an INSERT as the built-in drivers take it: the literal the SQL text would hold,
// already read. The engine hands rows of these to a built-in driver without writing SQL text.
#pragma once

#include <string>

namespace quillon::odbc {

struct Literal {
  enum class Kind { Null, Number, Text };
  Kind kind = Kind::Null;
  std::wstring text;  // a number as written (sign included); text as it is, without quotes
};

}  // namespace quillon::odbc
