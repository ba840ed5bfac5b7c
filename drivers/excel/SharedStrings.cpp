#include "drivers/excel/SharedStrings.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <new>

#include "drivers/excel/Biff8.h"
#include "platform/errors/Errors.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::excel {
namespace {

// Only short strings are cached, and only so many: memory stays bounded whatever the data.
constexpr std::size_t kCacheMaxChars = 64;
constexpr int kCacheSlotBits = 14;
constexpr std::size_t kCacheSlots = std::size_t{1} << kCacheSlotBits;
constexpr std::size_t kStringHeaderSize = 3;  // character count (2) and flags (1)
constexpr std::size_t kRunCountSize = 2;
constexpr std::size_t kExtendedSizeSize = 4;
constexpr std::size_t kSstCountsSize = 8;  // references and strings, opening the SST record
static_assert(SharedStrings::kSpoolOffset == biff::kRecordHeaderSize + kSstCountsSize);
constexpr std::size_t kStartEntrySize = 6;  // u32 position, u16 offset

bool FitsInBytes(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x100; });
}
bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// Zeroed memory straight from the system: an empty table costs no writes of its own.
void* Zeroed(std::size_t count, std::size_t size) {
  void* memory = std::calloc(count, size);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

// Where a text's cache slot is remembered: a quick hash of its length and of its first and last
// four characters (fewer of a short text), any hash doing so long as it spreads texts (the slot
// is checked against the text). The top bits of a product depend on all the bits multiplied.
constexpr std::uint64_t kQuickKeyMultiplier = 0x9E3779B97F4A7C15;
std::size_t QuickSlot(std::u16string_view text) {
  std::uint64_t first = 0, last = 0;
  constexpr std::size_t kUnits = sizeof first / sizeof(char16_t);
  if (text.size() >= kUnits) {
    std::memcpy(&first, text.data(), sizeof first);
    std::memcpy(&last, text.data() + text.size() - kUnits, sizeof last);
  } else {
    std::memcpy(&first, text.data(), text.size() * sizeof(char16_t));
  }
  const std::uint64_t key = ((first ^ text.size()) * kQuickKeyMultiplier ^ last) * kQuickKeyMultiplier;
  return static_cast<std::size_t>(key >> (std::numeric_limits<std::uint64_t>::digits - kCacheSlotBits));
}

void WriteHeader(Sink& sink, std::uint16_t id, std::size_t size) {
  std::uint8_t header[biff::kRecordHeaderSize];
  biff::PutU16(header, id);
  biff::PutU16(header + 2, static_cast<std::uint16_t>(size));
  sink.Write(header, sizeof header);
}

}  // namespace

struct SharedStrings::CacheSlot {
  std::uint64_t hash = 0;  // 0: empty
  std::uint32_t index = 0;
  std::uint16_t length = 0;
  char16_t text[kCacheMaxChars];
};

SharedStrings::SharedStrings(SpoolFile& spool) : m_file(spool) {
  m_record.resize(biff::kMaxRecordData);
  m_recordSize = kSstCountsSize;  // filled in when written
}

SharedStrings::~SharedStrings() = default;

void SharedStrings::FreeMemory::operator()(void* memory) const { std::free(memory); }

std::size_t SharedStrings::Room() const { return biff::kMaxRecordData - m_recordSize; }

void SharedStrings::Continue() {
  if (m_firstSize == 0) {
    m_firstSize = m_recordSize;
    m_file.Write(m_record.data() + kSstCountsSize, m_recordSize - kSstCountsSize);
  } else {
    std::uint8_t header[biff::kRecordHeaderSize];
    biff::PutU16(header, biff::kContinue);
    biff::PutU16(header + 2, static_cast<std::uint16_t>(m_recordSize));
    m_file.Write(header, sizeof header);
    m_file.Write(m_record.data(), m_recordSize);
  }
  m_closedBytes += biff::kRecordHeaderSize + m_recordSize;
  m_recordSize = 0;
}

std::uint32_t SharedStrings::Add(std::u16string_view text) { return AddUtf16(text, nullptr); }

std::uint32_t SharedStrings::Add(std::wstring_view text) {
  // Never empty, so that even empty text has a buffer to point at (memcmp and memcpy take none
  // that is null, whatever the length).
  if (m_utf16.size() < 2 * text.size() + 1) m_utf16.resize(2 * text.size() + 1);
  const std::u16string_view utf16(m_utf16.data(), text::WideToUtf16(text, m_utf16.data()));
  // A repeat of short text is first looked for in the cache slot it last went to, found by a
  // quick hash: while that slot holds these very units, Add would find them there (a string only
  // ever goes to its own slot), so its index is the answer, without the slower hash.
  std::uint32_t* remembered = nullptr;
  if (utf16.size() <= kCacheMaxChars && m_cache != nullptr) {
    if (m_lastSlots == nullptr)
      m_lastSlots.reset(static_cast<std::uint32_t*>(Zeroed(kCacheSlots, sizeof(std::uint32_t))));
    remembered = &m_lastSlots[QuickSlot(utf16)];
    if (*remembered != 0) {
      const CacheSlot& slot = m_cache[*remembered - 1];
      if (slot.hash != 0 && slot.length == utf16.size() &&
          std::memcmp(slot.text, utf16.data(), utf16.size() * sizeof(char16_t)) == 0) {
        ++m_references;
        return slot.index;
      }
    }
  }
  CacheSlot* cached = nullptr;
  const std::uint32_t index = AddUtf16(utf16, &cached);
  if (remembered != nullptr && cached != nullptr) *remembered = static_cast<std::uint32_t>(cached - m_cache.get()) + 1;
  return index;
}

std::uint32_t SharedStrings::AddUtf16(std::u16string_view text, CacheSlot** cached) {
  ++m_references;
  CacheSlot* slot = nullptr;
  std::uint64_t hash = 0;
  if (text.size() <= kCacheMaxChars) {
    if (m_cache == nullptr) m_cache.reset(static_cast<CacheSlot*>(Zeroed(kCacheSlots, sizeof(CacheSlot))));
    // One slot per hash: a hit is a repeat, a miss takes the slot over.
    const std::uint64_t raw = std::hash<std::u16string_view>{}(text);
    slot = &m_cache[raw & (kCacheSlots - 1)];
    hash = raw | 1;
    if (slot->hash == hash && slot->length == text.size() &&
        std::memcmp(slot->text, text.data(), text.size() * sizeof(char16_t)) == 0) {
      if (cached != nullptr) *cached = slot;
      return slot->index;
    }
  }
  const std::uint32_t index = m_count;
  Store(text, FitsInBytes(text) ? 0 : biff::kStringHighByte, nullptr, nullptr);
  if (slot != nullptr) {
    slot->hash = hash;
    slot->index = index;
    slot->length = static_cast<std::uint16_t>(text.size());
    std::memcpy(slot->text, text.data(), text.size() * sizeof(char16_t));
    if (cached != nullptr) *cached = slot;
  }
  return index;
}

void SharedStrings::AddExisting(std::u16string_view text, std::uint8_t flags, const std::vector<std::uint8_t>& runs,
                                const std::vector<std::uint8_t>& extended) {
  std::uint8_t stored = flags & (biff::kStringRich | biff::kStringExtended);
  if (!FitsInBytes(text)) stored |= biff::kStringHighByte;
  Store(text, stored, &runs, &extended);
}

void SharedStrings::Store(std::u16string_view text, std::uint8_t flags, const std::vector<std::uint8_t>* runs,
                          const std::vector<std::uint8_t>* extended) {
  const std::size_t chars = text.size();
  const std::size_t charSize = (flags & biff::kStringHighByte) ? 2 : 1;
  std::uint8_t head[kStringHeaderSize + kRunCountSize + kExtendedSizeSize];
  std::size_t headSize = kStringHeaderSize;
  biff::PutU16(head, static_cast<std::uint16_t>(chars));
  head[2] = flags;
  const std::size_t runCount = (flags & biff::kStringRich) ? runs->size() / biff::kRichRunSize : 0;
  if (flags & biff::kStringRich) {
    biff::PutU16(head + headSize, static_cast<std::uint16_t>(runCount));
    headSize += kRunCountSize;
  }
  if (flags & biff::kStringExtended) {
    biff::PutU32(head + headSize, static_cast<std::uint32_t>(extended->size()));
    headSize += kExtendedSizeSize;
  }

  // The header and the first character never split.
  if (Room() < headSize + (chars ? charSize : 0)) Continue();
  std::uint8_t start[kStartEntrySize];
  biff::PutU32(start, static_cast<std::uint32_t>(m_closedBytes + biff::kRecordHeaderSize + m_recordSize));
  biff::PutU16(start + 4, static_cast<std::uint16_t>(biff::kRecordHeaderSize + m_recordSize));
  m_starts.Write(start, sizeof start);
  Put(head, headSize);

  std::size_t done = 0;
  while (done < chars) {
    std::size_t n = std::min(chars - done, Room() / charSize);
    // Keep a surrogate pair in one piece, so that readers decoding piece by piece see it whole.
    if (charSize == 2 && n > 1 && done + n < chars && IsHighSurrogate(text[done + n - 1])) --n;
    std::uint8_t* p = m_record.data() + m_recordSize;
    m_recordSize += n * charSize;
    if (charSize == 2) {
      for (std::size_t i = 0; i < n; ++i, p += 2) biff::PutU16(p, text[done + i]);
    } else {
      for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(text[done + i]);
    }
    done += n;
    if (done < chars) {
      Continue();
      m_record[m_recordSize++] = flags & biff::kStringHighByte;
    }
  }
  for (std::size_t r = 0; r < runCount; ++r) {
    if (Room() < biff::kRichRunSize) Continue();
    Put(runs->data() + r * biff::kRichRunSize, biff::kRichRunSize);
  }
  if (flags & biff::kStringExtended) {
    std::size_t at = 0, left = extended->size();
    while (left > 0) {
      if (Room() == 0) Continue();
      const std::size_t n = std::min(left, Room());
      Put(extended->data() + at, n);
      at += n, left -= n;
    }
  }
  ++m_count;
}

void SharedStrings::Write(Sink& sink, bool oddFill) {
  const std::uint64_t sstStart = sink.Position();
  const std::uint8_t empty[kStringHeaderSize] = {};  // no characters, 8-bit, no runs
  const bool fillFits = Room() >= sizeof empty;
  // Where the empty string starts: in the last record, or in a CONTINUE record after it.
  const std::uint64_t fillStart =
      m_closedBytes + biff::kRecordHeaderSize + m_recordSize + (fillFits ? 0 : biff::kRecordHeaderSize);
  const std::uint16_t fillOffset = static_cast<std::uint16_t>(biff::kRecordHeaderSize + (fillFits ? m_recordSize : 0));
  const std::uint32_t count = m_count + (oddFill ? 1 : 0);
  std::uint8_t counts[kSstCountsSize];
  biff::PutU32(counts, m_references);
  biff::PutU32(counts + 4, count);
  const std::size_t inLast = oddFill && fillFits ? sizeof empty : 0;
  if (m_firstSize == 0) {
    WriteHeader(sink, biff::kSst, m_recordSize + inLast);
    sink.Write(counts, sizeof counts);
    sink.Write(m_record.data() + kSstCountsSize, m_recordSize - kSstCountsSize);
  } else {
    WriteHeader(sink, biff::kSst, m_firstSize);
    sink.Write(counts, sizeof counts);
    sink.WriteSpool(m_file);
    WriteHeader(sink, biff::kContinue, m_recordSize + inLast);
    sink.Write(m_record.data(), m_recordSize);
  }
  if (oddFill) {
    if (!fillFits) WriteHeader(sink, biff::kContinue, sizeof empty);
    sink.Write(empty, sizeof empty);
  }

  const std::uint32_t perBucket =
      std::max(biff::kExtSstMinBucket, (count + biff::kExtSstMaxBuckets - 1) / biff::kExtSstMaxBuckets);
  biff::RecordData ext;
  ext.U16(static_cast<std::uint16_t>(perBucket));
  for (std::uint32_t i = 0; i < count; i += perBucket) {
    std::uint8_t start[kStartEntrySize];
    if (i < m_count) {
      m_starts.ReadAt(std::uint64_t{i} * kStartEntrySize, start, sizeof start);
    } else {
      biff::PutU32(start, static_cast<std::uint32_t>(fillStart));
      biff::PutU16(start + 4, fillOffset);
    }
    ext.U32(static_cast<std::uint32_t>(sstStart + biff::GetU32(start)));
    ext.U16(biff::GetU16(start + 4));
    ext.U16(0);  // reserved
  }
  const auto record = biff::Record(biff::kExtSst, ext.Bytes());
  sink.Write(record.data(), record.size());
}

}  // namespace quillon::drivers::excel
