// Sheet names of workbooks (.xls and .xlsx alike). A table's sheet is named after the table,
// made valid for Excel by a fixed rule:
//   1. each of [ ] : * ? / \ becomes '_', and so does an apostrophe at the start or the end;
//   2. an empty name becomes "Sheet";
//   3. a name longer than 31 UTF-16 units keeps its first 31 (30 when the 31st would split a
//      character outside the Basic Multilingual Plane);
//   4. a name another sheet already has (ignoring letter case), or the name History that Excel
//      reserves, is cut to leave room for "~N" and gets the smallest N from 2 up that makes it
//      unique.
// Letter case is compared as text::SameNameIgnoringCase does.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace quillon::drivers::sql {

// The most UTF-16 units a sheet name holds.
inline constexpr std::size_t kMaxSheetNameChars = 31;

// Rules 1 to 3.
std::u16string ValidSheetName(std::wstring_view table);
// Rules 1 to 4: `taken` says whether a sheet already has a name (ignoring letter case).
std::u16string UniqueSheetName(std::wstring_view table, const std::function<bool(std::u16string_view)>& taken);

}  // namespace quillon::drivers::sql
