#include "drivers/access/RowWriter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "drivers/access/Bytes.h"
#include "drivers/access/JetText.h"
#include "drivers/sql/ValueCheck.h"
#include "platform/errors/Errors.h"

namespace quillon::drivers::access {
namespace {

using jet4::ColumnType;

constexpr std::size_t NullMaskSize(std::size_t columns) { return (columns + 7) / 8; }

// Bytes at the start of the row buffer cleared in one go for a row's fixed part.
constexpr std::size_t kClearedBlock = 64;

// The refusals of ValueProblem, kept out of line: checking a value that fits builds no string.
[[gnu::noinline, gnu::cold]] bool Refuse(std::wstring& problem, const wchar_t* why) {
  problem = why;
  return true;
}

[[gnu::noinline, gnu::cold]] bool RefuseOutOfRange(std::wstring& problem, std::int64_t low, std::int64_t high) {
  problem = L"is out of range (" + std::to_wstring(low) + L" to " + std::to_wstring(high) + L")";
  return true;
}

[[gnu::noinline, gnu::cold]] bool RefuseTooLong(std::wstring& problem, std::size_t chars, std::size_t holds) {
  problem =
      L"is too long (" + std::to_wstring(chars) + L" characters; the column holds " + std::to_wstring(holds) + L")";
  return true;
}

// True, with why as a message in `problem`, when `value` does not fit `column`.
bool ValueProblem(const ColumnSpec& column, const Value& value, std::wstring& problem) {
  if (value.kind == Value::Kind::Null) return false;
  switch (column.type) {
    case ColumnType::Bit:
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long: {
      if (value.kind != Value::Kind::Integer) return Refuse(problem, L"is not a whole number");
      std::int64_t low = std::numeric_limits<std::int32_t>::min();
      std::int64_t high = std::numeric_limits<std::int32_t>::max();
      if (column.type == ColumnType::Integer) {
        low = std::numeric_limits<std::int16_t>::min();
        high = std::numeric_limits<std::int16_t>::max();
      } else if (column.type == ColumnType::Byte) {
        low = 0;
        high = 255;
      } else if (column.type == ColumnType::Bit) {
        return false;
      }
      if (value.integer < low || value.integer > high) return RefuseOutOfRange(problem, low, high);
      return false;
    }
    case ColumnType::Double:
      // An IEEE double, NaN and the infinities included.
      if (value.kind == Value::Kind::Text) return Refuse(problem, L"is not a number");
      return false;
    case ColumnType::DateTime:
      if (value.kind == Value::Kind::Text) return Refuse(problem, L"is not a number");
      if (value.kind == Value::Kind::Double && !std::isfinite(value.number))
        return Refuse(problem, L"is not a finite number");
      return false;
    case ColumnType::Text:
      if (value.kind != Value::Kind::Text) return Refuse(problem, L"is not text");
      if (value.text.size() * 2 > column.length) return RefuseTooLong(problem, value.text.size(), column.length / 2);
      return false;
    case ColumnType::Memo:
      if (value.kind != Value::Kind::Text) return Refuse(problem, L"is not text");
      if (value.text.size() * 2 > jet4::long_value::kMaxLength) return Refuse(problem, L"is too long for a Memo");
      return false;
    case ColumnType::Ole:
      if (value.kind != Value::Kind::Bytes) return Refuse(problem, L"is not binary");
      if (value.bytes.size() > jet4::long_value::kMaxLength) return Refuse(problem, L"is too long for an OLE Object");
      return false;
    default:
      return Refuse(problem, L"cannot be written to this column type");
  }
}

}  // namespace

std::optional<std::size_t> RowProblem(std::span<const ColumnSpec> columns, std::span<const Value> values,
                                      std::wstring& problem) {
  const std::size_t count = columns.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (ValueProblem(columns[i], values[i], problem)) return i;
  }
  return std::nullopt;
}

std::vector<std::uint8_t> EncodeRow(const TableDefinition& table, std::span<const Value> values,
                                    const LongValueStore& longValues) {
  RowBuffer buffer;
  const auto row = EncodeRow(table, values, longValues, buffer);
  return {row.begin(), row.end()};
}

std::span<const std::uint8_t> EncodeRow(const TableDefinition& table, std::span<const Value> values,
                                        const LongValueStore& longValues, RowBuffer& buffer) {
  const std::size_t columns = table.columns.size();
  const std::size_t varCount = table.varColumns.size();
  if (columns > jet4::kMaxColumns || varCount > jet4::kMaxColumns) {
    throw odbc::errors::RowHasTooManyColumns(jet4::kMaxColumns);
  }
  // The buffer holds a row as long as a page takes: whatever would reach past it is refused
  // before it is written.
  std::size_t size = jet4::row::kColumnCountSize + table.fixedSize;
  if (size > buffer.size()) throw odbc::errors::RecordTooLarge();
  std::uint8_t* const row = buffer.data();
  // A null fixed-length column keeps zeros. A short row's fixed part is cleared as one block of
  // a fixed size, a few stores where clearing its exact length is a call.
  if (size <= kClearedBlock) {
    std::memset(row, 0, kClearedBlock);
  } else {
    std::memset(row, 0, size);
  }
  PutU16(row, static_cast<std::uint16_t>(columns));
  std::array<std::uint8_t, NullMaskSize(jet4::kMaxColumns)> maskBytes{};
  const std::span<std::uint8_t> nullMask(maskBytes.data(), NullMaskSize(columns));
  std::array<std::uint16_t, jet4::kMaxColumns> varOffsets;  // the first varCount are set below

  auto setBit = [&](std::uint16_t number) { nullMask[number / 8] |= static_cast<std::uint8_t>(1u << (number % 8)); };

  for (std::size_t i = 0; i < columns; ++i) {
    const ColumnSpec& column = table.columns[i];
    const Value& value = values[i];
    const bool isNull = value.kind == Value::Kind::Null;
    std::uint8_t* fixed = row + jet4::row::kColumnCountSize + column.fixedOffset;
    switch (column.type) {
      case ColumnType::Bit:
        if (!isNull && value.integer != 0) setBit(column.number);
        continue;
      case ColumnType::Byte:
        if (!isNull) *fixed = static_cast<std::uint8_t>(value.integer);
        break;
      case ColumnType::Integer:
        if (!isNull) PutU16(fixed, static_cast<std::uint16_t>(static_cast<std::int16_t>(value.integer)));
        break;
      case ColumnType::Long:
        if (!isNull) PutU32(fixed, static_cast<std::uint32_t>(static_cast<std::int32_t>(value.integer)));
        break;
      case ColumnType::Double:
      case ColumnType::DateTime:
        if (!isNull)
          PutDouble(fixed, value.kind == Value::Kind::Integer ? static_cast<double>(value.integer) : value.number);
        break;
      default:
        break;
    }
    if (!isNull) setBit(column.number);
  }
  const auto append = [&](std::span<const std::uint8_t> field) {
    if (field.size() > buffer.size() - size) throw odbc::errors::RecordTooLarge();
    std::copy(field.begin(), field.end(), row + size);
    size += field.size();
  };
  // Variable-length data in variable-index order.
  for (std::size_t v = 0; v < varCount; ++v) {
    varOffsets[v] = static_cast<std::uint16_t>(size);
    const ColumnSpec& column = table.columns[table.varColumns[v]];
    const Value& value = values[table.varColumns[v]];
    if (value.kind == Value::Kind::Null) continue;
    if (column.type == ColumnType::Text) {
      const auto written = PutJetText(value.text, true, row + size, buffer.size() - size);
      if (!written) throw odbc::errors::RecordTooLarge();
      size += *written;
    } else if (column.type == ColumnType::Memo) {
      std::vector<std::uint8_t> encoded;
      AppendJetText(value.text, true, encoded);
      append(longValues(column, encoded, size));
    } else if (column.type == ColumnType::Ole && value.kind == Value::Kind::Bytes) {
      append(longValues(column, value.bytes, size));
    }
  }
  // End offset, one offset a variable column, their count.
  constexpr std::size_t kOffset = jet4::row::kVarOffsetSize;
  const std::size_t trailer = varCount > 0 ? kOffset * (varCount + 2) : 0;
  if (size + trailer + nullMask.size() > jet4::data_page::kMaxRowSize) {
    throw odbc::errors::RecordTooLarge();
  }
  if (varCount > 0) {
    PutU16(row + size, static_cast<std::uint16_t>(size));  // end of the variable data
    for (std::size_t v = 0; v < varCount; ++v) PutU16(row + size + kOffset * (varCount - v), varOffsets[v]);
    PutU16(row + size + trailer - kOffset, static_cast<std::uint16_t>(varCount));
    size += trailer;
  }
  // The mask goes as its whole array where the buffer has room for that past the row, for the
  // same reason; only the row's own bytes of it count.
  if (buffer.size() - size >= maskBytes.size()) {
    std::memcpy(row + size, maskBytes.data(), maskBytes.size());
  } else {
    std::memcpy(row + size, nullMask.data(), nullMask.size());
  }
  size += nullMask.size();
  return {row, size};
}

std::vector<Value> DecodeRow(const TableDefinition& table, std::span<const std::uint8_t> row) {
  const std::size_t columns = table.columns.size();
  std::vector<Value> values(columns);
  if (row.size() < 2) return values;
  const std::size_t rowColumns = GetU16(row.data());
  const std::size_t maskSize = NullMaskSize(rowColumns);
  constexpr std::size_t kOffset = jet4::row::kVarOffsetSize;
  if (row.size() < jet4::row::kColumnCountSize + maskSize) return values;
  const std::uint8_t* mask = row.data() + row.size() - maskSize;
  auto bit = [&](std::uint16_t number) { return number < rowColumns && (mask[number / 8] >> (number % 8)) & 1; };

  std::size_t rowVarColumns = 0;
  std::vector<std::uint16_t> offsets;
  if (table.varColumnCount > 0 && row.size() >= maskSize + kOffset) {
    const std::size_t countAt = row.size() - maskSize - kOffset;
    rowVarColumns = GetU16(row.data() + countAt);
    if (countAt >= 2 * (rowVarColumns + 1)) {
      for (std::size_t v = 0; v <= rowVarColumns; ++v) offsets.push_back(GetU16(row.data() + countAt - 2 - 2 * v));
    } else {
      rowVarColumns = 0;
    }
  }
  for (std::size_t i = 0; i < columns; ++i) {
    const ColumnSpec& column = table.columns[i];
    Value& value = values[i];
    if (column.type == ColumnType::Bit) {
      value = Value::Int(bit(column.number) ? 1 : 0);
      continue;
    }
    if (!bit(column.number)) continue;
    if (!jet4::IsVariable(column.type)) {
      const std::size_t at = jet4::row::kColumnCountSize + column.fixedOffset;
      if (at + jet4::FixedSize(column.type) > row.size()) continue;
      const std::uint8_t* p = row.data() + at;
      switch (column.type) {
        case ColumnType::Byte:
          value = Value::Int(*p);
          break;
        case ColumnType::Integer:
          value = Value::Int(static_cast<std::int16_t>(GetU16(p)));
          break;
        case ColumnType::Long:
          value = Value::Int(static_cast<std::int32_t>(GetU32(p)));
          break;
        case ColumnType::Double:
        case ColumnType::DateTime:
          value = Value::Real(GetDouble(p));
          break;
        default:
          break;
      }
    } else if (column.type == ColumnType::Text && column.varIndex < rowVarColumns) {
      const std::size_t start = offsets[column.varIndex];
      const std::size_t end = offsets[column.varIndex + 1];
      if (start <= end && end <= row.size()) value = Value::Str(DecodeJetText(row.subspan(start, end - start)));
    }
  }
  return values;
}

}  // namespace quillon::drivers::access
