// Rows of a table in Jet 4 layout: the column count, the fixed-length data, the variable-length
// data, then the end offset, the variable-column offsets in reverse order, their count and the
// null mask (a set bit meaning "not null"; a Yes/No column's value is its bit).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "drivers/access/TableDefinition.h"
#include "drivers/access/Value.h"

namespace quillon::drivers::access {

// Receives the bytes of a long value of `column` and the row's size so far, and returns the
// field that goes into the row (see LongValue.h).
using LongValueStore = std::function<std::vector<std::uint8_t>(
    const ColumnSpec& column, std::span<const std::uint8_t> data, std::size_t rowSize)>;

// Encodes one row. Values must already be checked against their columns (ValueProblem).
// Throws CDBException "Record is too large." when the row exceeds a page's limit.
std::vector<std::uint8_t> EncodeRow(const TableDefinition& table, std::span<const Value> values,
                                    const LongValueStore& longValues);
// The same into `row`, reusing its storage. At most jet4::kMaxColumns columns.
void EncodeRow(const TableDefinition& table, std::span<const Value> values, const LongValueStore& longValues,
               std::vector<std::uint8_t>& row);

// Why `value` does not fit `column`, as a message; an empty string when it fits.
std::wstring ValueProblem(const ColumnSpec& column, const Value& value);

// Decodes the columns of a row that the catalog needs: numbers, Yes/No, dates and Text
// (long values and binary columns come back as Null).
std::vector<Value> DecodeRow(const TableDefinition& table, std::span<const std::uint8_t> row);

}  // namespace quillon::drivers::access
