#include "drivers/excel/SharedStrings.h"

#include <algorithm>
#include <functional>

#include "drivers/excel/Biff8.h"
#include "platform/odbc/DBException.h"

namespace quillon::drivers::excel {
namespace {

// Only short strings are cached, and only so many: memory stays bounded whatever the data.
constexpr std::size_t kCacheMaxChars = 64;
constexpr std::size_t kCacheSlots = 1 << 14;  // a power of two
constexpr std::size_t kStringHeaderSize = 3;  // character count (2) and flags (1)
constexpr std::size_t kRunCountSize = 2;
constexpr std::size_t kExtendedSizeSize = 4;

bool FitsInBytes(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x100; });
}
bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// Writes records of at most kMaxRecordData bytes, continuing in CONTINUE records.
class RecordStream {
 public:
  RecordStream(Sink& sink, std::uint16_t id) : m_sink(sink), m_id(id) { m_data.reserve(biff::kMaxRecordData); }
  std::size_t Room() const { return biff::kMaxRecordData - m_data.size(); }
  // Absolute stream position of the next byte, and its offset within the record (header counted).
  std::uint64_t NextPosition() const { return m_sink.Position() + biff::kRecordHeaderSize + m_data.size(); }
  std::uint16_t NextOffset() const { return static_cast<std::uint16_t>(biff::kRecordHeaderSize + m_data.size()); }
  void Put(const std::uint8_t* data, std::size_t size) { m_data.insert(m_data.end(), data, data + size); }
  void PutU8(std::uint8_t v) { m_data.push_back(v); }
  void PutU16(std::uint16_t v) {
    PutU8(static_cast<std::uint8_t>(v));
    PutU8(static_cast<std::uint8_t>(v >> 8));
  }
  void PutU32(std::uint32_t v) {
    PutU16(static_cast<std::uint16_t>(v));
    PutU16(static_cast<std::uint16_t>(v >> 16));
  }
  void Continue() {
    Flush();
    m_id = biff::kContinue;
  }
  void Flush() {
    std::uint8_t header[biff::kRecordHeaderSize];
    biff::WriteU16(header, m_id);
    biff::WriteU16(header + 2, static_cast<std::uint16_t>(m_data.size()));
    m_sink.Write(header, sizeof header);
    m_sink.Write(m_data.data(), m_data.size());
    m_data.clear();
  }

 private:
  Sink& m_sink;
  std::uint16_t m_id;
  std::vector<std::uint8_t> m_data;
};

}  // namespace

std::uint32_t SharedStrings::Add(std::u16string_view text) {
  ++m_references;
  std::size_t slot = kCacheSlots;
  std::uint64_t hash = 0;
  if (text.size() <= kCacheMaxChars) {
    if (m_cacheHashes.empty()) {
      m_cacheHashes.assign(kCacheSlots, 0);
      m_cacheIndexes.assign(kCacheSlots, 0);
      m_cacheTexts.resize(kCacheSlots);
    }
    // One slot per hash: a hit is a repeat, a miss takes the slot over (reusing its storage).
    const std::uint64_t raw = std::hash<std::u16string_view>{}(text);
    slot = raw & (kCacheSlots - 1);
    hash = raw | 1;
    if (m_cacheHashes[slot] == hash && m_cacheTexts[slot] == text) return m_cacheIndexes[slot];
  }
  const std::uint32_t index = m_count;
  Store(text, FitsInBytes(text) ? 0 : biff::kStringHighByte, nullptr, nullptr);
  if (slot != kCacheSlots) {
    m_cacheHashes[slot] = hash;
    m_cacheIndexes[slot] = index;
    m_cacheTexts[slot].assign(text);
  }
  return index;
}

void SharedStrings::AddExisting(std::u16string_view text, std::uint8_t flags, const std::vector<std::uint8_t>& runs,
                                const std::vector<std::uint8_t>& extended) {
  std::uint8_t stored = flags & (biff::kStringRich | biff::kStringExtended);
  if (!FitsInBytes(text)) stored |= biff::kStringHighByte;
  Store(text, stored, &runs, &extended);
}

// Spool layout: u16 characters, u8 flags, [u16 runs], [u32 phonetic bytes], characters (1 or 2
// bytes each), runs, phonetic data: the string as it goes into the table, before splitting.
void SharedStrings::Store(std::u16string_view text, std::uint8_t flags, const std::vector<std::uint8_t>* runs,
                          const std::vector<std::uint8_t>* extended) {
  auto& b = m_scratch;
  b.clear();
  const auto u16 = [&b](std::size_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  u16(text.size());
  b.push_back(flags);
  if (flags & biff::kStringRich) u16(runs->size() / biff::kRichRunSize);
  if (flags & biff::kStringExtended) {
    u16(extended->size());
    u16(extended->size() >> 16);
  }
  if (flags & biff::kStringHighByte) {
    for (char16_t c : text) u16(c);
  } else {
    for (char16_t c : text) b.push_back(static_cast<std::uint8_t>(c));
  }
  if (flags & biff::kStringRich) b.insert(b.end(), runs->begin(), runs->end());
  if (flags & biff::kStringExtended) b.insert(b.end(), extended->begin(), extended->end());
  m_file.Write(b.data(), b.size());
  ++m_count;
}

void SharedStrings::Write(Sink& sink) {
  const std::uint32_t perBucket =
      std::max(biff::kExtSstMinBucket, (m_count + biff::kExtSstMaxBuckets - 1) / biff::kExtSstMaxBuckets);
  std::vector<std::pair<std::uint32_t, std::uint16_t>> buckets;

  RecordStream out(sink, biff::kSst);
  out.PutU32(m_references);
  out.PutU32(m_count);
  m_file.Rewind();
  std::vector<std::uint8_t> body;
  for (std::uint32_t i = 0; i < m_count; ++i) {
    std::uint8_t head[kStringHeaderSize];
    if (!m_file.Read(head, sizeof head)) throw odbc::CDBException(L"The string table spool ended early", L"HY000");
    const std::size_t chars = biff::ReadU16(head);
    const std::uint8_t flags = head[2];
    std::size_t runs = 0, extended = 0;
    std::uint8_t extra[kRunCountSize + kExtendedSizeSize];
    std::size_t extraSize = 0;
    if (flags & biff::kStringRich) {
      m_file.Read(extra + extraSize, kRunCountSize);
      runs = biff::ReadU16(extra + extraSize);
      extraSize += kRunCountSize;
    }
    if (flags & biff::kStringExtended) {
      m_file.Read(extra + extraSize, kExtendedSizeSize);
      extended = biff::ReadU32(extra + extraSize);
      extraSize += kExtendedSizeSize;
    }
    const std::size_t charSize = (flags & biff::kStringHighByte) ? 2 : 1;
    body.resize(chars * charSize + runs * biff::kRichRunSize + extended);
    if (!m_file.Read(body.data(), body.size())) throw odbc::CDBException(L"The string table spool ended early", L"HY000");

    // The header and the first character never split.
    if (out.Room() < kStringHeaderSize + extraSize + (chars ? charSize : 0)) out.Continue();
    if (i % perBucket == 0) buckets.emplace_back(static_cast<std::uint32_t>(out.NextPosition()), out.NextOffset());
    out.Put(head, sizeof head);
    out.Put(extra, extraSize);
    std::size_t done = 0;
    while (done < chars) {
      std::size_t n = std::min(chars - done, out.Room() / charSize);
      // Keep a surrogate pair in one piece, so that readers decoding piece by piece see it whole.
      if (charSize == 2 && n > 1 && done + n < chars &&
          IsHighSurrogate(static_cast<char16_t>(biff::ReadU16(&body[(done + n - 1) * 2])))) {
        --n;
      }
      out.Put(&body[done * charSize], n * charSize);
      done += n;
      if (done < chars) {
        out.Continue();
        out.PutU8(flags & biff::kStringHighByte);
      }
    }
    std::size_t at = chars * charSize;
    for (std::size_t r = 0; r < runs; ++r, at += biff::kRichRunSize) {
      if (out.Room() < biff::kRichRunSize) out.Continue();
      out.Put(&body[at], biff::kRichRunSize);
    }
    std::size_t left = extended;
    while (left > 0) {
      if (out.Room() == 0) out.Continue();
      const std::size_t n = std::min(left, out.Room());
      out.Put(&body[at], n);
      at += n, left -= n;
    }
  }
  out.Flush();

  biff::RecordData ext;
  ext.U16(static_cast<std::uint16_t>(perBucket));
  for (const auto& [position, offset] : buckets) {
    ext.U32(position);
    ext.U16(offset);
    ext.U16(0);
  }
  const auto record = biff::Record(biff::kExtSst, ext.Bytes());
  sink.Write(record.data(), record.size());
}

}  // namespace quillon::drivers::excel
