// Reading a workbook stream that already exists: its records one by one, each checked to lie
// inside the stream. The workbook reads its globals, its shared strings and its sheets' ends
// with it, and copies the existing sheets record for record when it writes the new stream.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "drivers/excel/ByteSource.h"

namespace quillon::drivers::excel {

// Walks the records of a stream from a position, checking that each lies inside `end`; the
// current record's data is read into a buffer of its own.
class RecordWalker {
 public:
  RecordWalker(ByteSource& source, std::uint64_t at, std::uint64_t end) : m_source(source), m_at(at), m_end(end) {}
  // Steps to the next record; false at `end`. Throws WorkbookRefused for a record cut off by it.
  bool Next();
  std::uint16_t Id() const { return m_id; }
  std::span<const std::uint8_t> Data() const { return m_data; }
  std::uint64_t Start() const { return m_start; }
  std::uint64_t End() const { return m_at; }

 private:
  ByteSource& m_source;
  std::uint64_t m_at, m_end;
  std::uint64_t m_start = 0;
  std::uint16_t m_id = 0;
  std::vector<std::uint8_t> m_data;
};

}  // namespace quillon::drivers::excel
