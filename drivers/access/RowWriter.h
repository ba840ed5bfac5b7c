// Rows of a table in Jet 4 layout: the column count, the fixed-length data, the variable-length
// data, then the end offset, the variable-column offsets in reverse order, their count and the
// null mask (a set bit meaning "not null"; a Yes/No column's value is its bit).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "drivers/access/Jet4Format.h"
#include "drivers/access/TableDefinition.h"
#include "drivers/access/Value.h"

namespace quillon::drivers::access {

// Receives the bytes of a long value of `column` and the row's size so far, and returns the
// field that goes into the row (see LongValue.h).
using LongValueStore = std::function<std::vector<std::uint8_t>(
    const ColumnSpec& column, std::span<const std::uint8_t> data, std::size_t rowSize)>;

// Room for the longest row a data page takes: rows are encoded one after another into it.
using RowBuffer = std::array<std::uint8_t, jet4::data_page::kMaxRowSize>;

// Encodes one row. Values must already be checked against their columns (RowProblem).
// Throws CDBException "Record is too large." when the row exceeds a page's limit.
std::vector<std::uint8_t> EncodeRow(const TableDefinition& table, std::span<const Value> values,
                                    const LongValueStore& longValues);
// The same into `buffer`, whose first bytes the row is. At most jet4::kMaxColumns columns.
std::span<const std::uint8_t> EncodeRow(const TableDefinition& table, std::span<const Value> values,
                                        const LongValueStore& longValues, RowBuffer& buffer);

// The position of the first of `values` that does not fit its column, with why as a message in
// `problem`; nothing, leaving `problem` as it is, when every value fits. One value a column.
std::optional<std::size_t> RowProblem(std::span<const ColumnSpec> columns, std::span<const Value> values,
                                      std::wstring& problem);

// Decodes the columns of a row that the catalog needs: numbers, Yes/No, dates and Text
// (long values and binary columns come back as Null).
std::vector<Value> DecodeRow(const TableDefinition& table, std::span<const std::uint8_t> row);

}  // namespace quillon::drivers::access
