// Statements with parameter markers: where the markers are, and each bound value of a row of
// parameters as the literal it stands for (odbc::Literal), which the output drivers take.
//
// Values: numbers (integers, doubles, floats, SQL_NUMERIC_STRUCT, bits) as the shortest text
// that reads back as the same value; text from UTF-8 (SQL_C_CHAR) or UTF-16 (SQL_C_WCHAR);
// dates, times and time stamps as YYYY-MM-DD, HH:MM:SS and YYYY-MM-DD HH:MM:SS, which every
// driver reads without a pattern (a fraction of a second, which the files do not keep, refuses
// the row); binary values as bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "odbcdriver/Handles.h"
#include "platform/odbc/Literal.h"

namespace quillon::odbcdriver {

// The positions of the parameter markers ('?' outside quotes, brackets and comments).
std::vector<std::size_t> FindMarkers(std::wstring_view statement);

// The table of "INSERT INTO table VALUES(?, ..., ?)" whose values are all markers, else nothing.
std::optional<std::wstring> InsertOfMarkersOnly(std::wstring_view statement, std::size_t markers);

// The size of one value of the parameter's C type when it has a fixed size, else 0.
std::size_t FixedSizeOf(const BoundParameter& parameter);

// Whether a length or indicator says the value comes later, through SQLPutData.
bool IsDataAtExecution(SQLLEN indicator);

// The length or indicator of row `row` of bound parameter `number`, bind offset and type
// applied; null when none is bound.
const SQLLEN* IndicatorOf(const Statement& statement, std::size_t number, SQLULEN row);

// Row `row` (from 0) of parameter `number` (from 1) as a literal. Throws odbc::CDBException.
odbc::Literal ReadParameter(const Statement& statement, std::size_t number, SQLULEN row);
// The same into `literal`, replacing all it held and reusing the storage of its text and bytes
// (the rows of an array read into the same literals allocate nothing once those are long enough).
// After a throw `literal` holds an unspecified value.
void ReadParameter(const Statement& statement, std::size_t number, SQLULEN row, odbc::Literal& literal);

// The statement with each marker replaced by its literal's SQL text.
std::wstring FillMarkers(std::wstring_view statement, const std::vector<std::size_t>& markers,
                         const std::vector<odbc::Literal>& values);

}  // namespace quillon::odbcdriver
