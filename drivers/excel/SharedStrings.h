// The shared string table (SST) of a workbook, laid out as strings arrive: each string goes at
// once into the SST record or the CONTINUE record that follows, as it will stand in the file, so
// that writing the table out is one copy and its size is known without a pass over it.
// Every string a cell refers to gets an index; a fixed-size, direct-mapped cache of short strings
// lets repeats share an entry, other repeats are stored again (the table may hold duplicates).
// Written out at the end as SST with its CONTINUE records, then EXTSST.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/excel/Streams.h"

namespace quillon::drivers::excel {

class SharedStrings {
 public:
  // Closed records spool to `spool`.
  explicit SharedStrings(SpoolFile& spool);
  ~SharedStrings();
  SharedStrings(const SharedStrings&) = delete;
  SharedStrings& operator=(const SharedStrings&) = delete;

  // Spooled records follow the SST record's header and its two counts.
  static constexpr std::size_t kSpoolOffset = 12;

  // A string of `text` (UTF-16); returns its index and counts one reference.
  std::uint32_t Add(std::u16string_view text);
  // The same for wide text, as Add of its UTF-16 (text::WideToUtf16) would give.
  std::uint32_t Add(std::wstring_view text);
  // A string kept from an existing table, with its formatting runs and phonetic data as read.
  void AddExisting(std::u16string_view text, std::uint8_t flags, const std::vector<std::uint8_t>& runs,
                   const std::vector<std::uint8_t>& extended);
  // References held by cells the workbook already had.
  void AddExistingReferences(std::uint32_t count) { m_references += count; }

  std::uint32_t Count() const { return m_count; }
  // Bytes of the table laid out so far: no more than Write writes.
  std::uint64_t BytesSoFar() const { return m_closedBytes + m_recordSize; }

  // True when records filled sectors of the spool: they are the stream's sectors only if SST
  // starts a sector's last 12 bytes (its header and counts), which the caller arranges.
  bool Spooled() const { return !m_file.Runs().empty(); }

  // Writes SST, its CONTINUE records and EXTSST to `sink`, whose position is where the table
  // goes in the workbook stream. `oddFill` adds an empty string no cell refers to, 3 bytes (7
  // when it needs a CONTINUE record of its own), to make the table's size odd or even as the
  // stream after it needs. The same call on a CountingSink gives the size.
  void Write(Sink& sink, bool oddFill = false);

 private:
  struct CacheSlot;
  struct FreeMemory {
    void operator()(void* memory) const;
  };

  // Add of UTF-16 text; `cached`, when given, is set to the cache slot that holds the text
  // afterwards (left alone when none does).
  std::uint32_t AddUtf16(std::u16string_view text, CacheSlot** cached);

  void Store(std::u16string_view text, std::uint8_t flags, const std::vector<std::uint8_t>* runs,
             const std::vector<std::uint8_t>* extended);
  std::size_t Room() const;
  void Put(const std::uint8_t* data, std::size_t size) {
    std::memcpy(m_record.data() + m_recordSize, data, size);
    m_recordSize += size;
  }
  // Closes the open record into the spool and opens a CONTINUE record.
  void Continue();

  // Closed records: the first without its header and its two counts (written at the end, when
  // they are known), the others whole.
  Spool m_file;
  // Per string, where it starts: u32 bytes from the start of SST, u16 offset in its record
  // (EXTSST needs a few of them, chosen only when the count is known).
  TempFile m_starts;
  // The open record's data: its first m_recordSize bytes of room for the most a record holds.
  std::vector<std::uint8_t> m_record;
  std::size_t m_recordSize = 0;
  std::size_t m_firstSize = 0;      // the SST record's data size, once it is closed
  std::uint64_t m_closedBytes = 0;  // closed records' bytes in the stream, headers included
  std::uint32_t m_count = 0;
  std::uint32_t m_references = 0;
  // The cache as one array of slots, each holding its text; allocated on first use, all zero
  // (every slot empty).
  std::unique_ptr<CacheSlot[], FreeMemory> m_cache;
  // By a quick hash of a text: 1 + the cache slot it last went to (0: none).
  std::unique_ptr<std::uint32_t[], FreeMemory> m_lastSlots;
  std::vector<char16_t> m_utf16;  // room for wide text converted to UTF-16
};

}  // namespace quillon::drivers::excel
