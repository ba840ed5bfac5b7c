// The shared string table (SST) of a workbook, spooled to a temporary file as strings arrive.
// Every string a cell refers to gets an index; a fixed-size, direct-mapped cache of short strings
// lets repeats share an entry, other repeats are stored again (the table may hold duplicates).
// Written out at the end as SST with its CONTINUE records, then EXTSST.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/excel/Streams.h"

namespace quillon::drivers::excel {

class SharedStrings {
 public:
  // A string of `text` (UTF-16); returns its index and counts one reference.
  std::uint32_t Add(std::u16string_view text);
  // A string kept from an existing table, with its formatting runs and phonetic data as read.
  void AddExisting(std::u16string_view text, std::uint8_t flags, const std::vector<std::uint8_t>& runs,
                   const std::vector<std::uint8_t>& extended);
  // References held by cells the workbook already had.
  void AddExistingReferences(std::uint32_t count) { m_references += count; }

  std::uint32_t Count() const { return m_count; }

  // Writes SST, its CONTINUE records and EXTSST to `sink`, whose position is where SST starts
  // in the workbook stream. The same sequence of calls on a CountingSink gives the size.
  void Write(Sink& sink);

 private:
  void Store(std::u16string_view text, std::uint8_t flags, const std::vector<std::uint8_t>* runs,
             const std::vector<std::uint8_t>* extended);

  TempFile m_file;
  std::uint32_t m_count = 0;
  std::uint32_t m_references = 0;
  // The cache in three arrays, so that a lookup reads only the small hash array until a hash
  // matches. A hash of 0 marks an empty slot.
  std::vector<std::uint64_t> m_cacheHashes;
  std::vector<std::uint32_t> m_cacheIndexes;
  std::vector<std::u16string> m_cacheTexts;
  std::vector<std::uint8_t> m_scratch;
};

}  // namespace quillon::drivers::excel
