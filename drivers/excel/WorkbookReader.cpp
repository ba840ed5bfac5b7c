// The workbook stream that already exists: its globals kept record for record, its shared
// strings (read when first needed), and where each existing sheet's substream lies.
#include "drivers/excel/WorkbookReader.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>

#include "drivers/excel/Biff8.h"
#include "drivers/excel/ByteSource.h"
#include "drivers/excel/Workbook.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::excel {
namespace {

// Bytes read at a time where a stream must hold only padding.
constexpr std::size_t kPaddingChunk = 1 << 16;

// A stream that contradicts itself, and one of a kind this driver does not add to.
[[noreturn]] void Damaged(std::wstring_view what) { throw WorkbookRefused(odbc::errors::WorkbookDamaged(what)); }
[[noreturn]] void NotAddable(std::wstring_view why) { throw WorkbookRefused(odbc::errors::WorkbookNotAddable(why)); }

// Reads the SST's strings across its CONTINUE records, fetching each record as it is needed.
class SstReader {
 public:
  explicit SstReader(RecordWalker& walk) : m_walk(walk) {}
  std::uint8_t Byte() {
    while (m_at >= m_walk.Data().size()) NextPiece();
    return m_walk.Data()[m_at++];
  }
  std::uint16_t U16() {
    const std::uint8_t lo = Byte();
    return static_cast<std::uint16_t>(lo | (Byte() << 8));
  }
  std::uint32_t U32() {
    const std::uint32_t lo = U16();
    return lo | (static_cast<std::uint32_t>(U16()) << 16);
  }
  void Bytes(std::size_t count, std::vector<std::uint8_t>& out) {
    out.clear();
    while (count > 0) {
      while (m_at >= m_walk.Data().size()) NextPiece();
      const auto piece = m_walk.Data();
      const std::size_t n = std::min(count, piece.size() - m_at);
      out.insert(out.end(), piece.begin() + static_cast<std::ptrdiff_t>(m_at),
                 piece.begin() + static_cast<std::ptrdiff_t>(m_at + n));
      m_at += n, count -= n;
    }
  }
  // Characters go on in a CONTINUE record after a byte that says their width anew.
  void Chars(std::size_t count, bool wide, std::u16string& out) {
    out.clear();
    while (count > 0) {
      if (m_at >= m_walk.Data().size()) {
        NextPiece();
        wide = (Byte() & biff::kStringHighByte) != 0;
        continue;
      }
      const auto piece = m_walk.Data();
      if (wide) {
        if (piece.size() - m_at < 2) Damaged(L"a character of the shared string table is split");
        out.push_back(static_cast<char16_t>(biff::GetU16(&piece[m_at])));
        m_at += 2;
      } else {
        out.push_back(piece[m_at++]);
      }
      --count;
    }
  }

 private:
  void NextPiece() {
    if (!m_walk.Next() || m_walk.Id() != biff::kContinue) Damaged(L"the shared string table ends early");
    m_at = 0;
  }
  RecordWalker& m_walk;
  std::size_t m_at = 0;
};

}  // namespace

bool RecordWalker::Next() {
  if (m_at >= m_end) return false;
  if (m_end - m_at < biff::kRecordHeaderSize) Damaged(L"a record is cut off at the end of the stream");
  std::uint8_t header[biff::kRecordHeaderSize];
  m_source.Read(m_at, header, sizeof header);
  m_start = m_at;
  m_id = biff::GetU16(header);
  const std::size_t length = biff::GetU16(header + 2);
  if (m_end - m_at - biff::kRecordHeaderSize < length) Damaged(L"a record runs past the end of the stream");
  m_data.resize(length);
  m_source.Read(m_at + biff::kRecordHeaderSize, m_data.data(), length);
  m_at += biff::kRecordHeaderSize + length;
  return true;
}

Workbook::Workbook(std::vector<std::uint8_t> stream) : Workbook(std::make_unique<MemorySource>(std::move(stream))) {}

Workbook::Workbook(std::unique_ptr<ByteSource> stream, SpoolFile* spool)
    : m_ownSpool(spool == nullptr ? std::make_unique<SpoolFile>() : nullptr),
      m_spool(spool == nullptr ? *m_ownSpool : *spool),
      m_stream(std::move(stream)) {
  Parse();
}

void Workbook::Parse() {
  ByteSource& bytes = *m_stream;
  RecordWalker walk(bytes, 0, bytes.Size());
  if (!walk.Next() || walk.Id() != biff::kBof || walk.Data().size() < 4)
    Damaged(L"the workbook stream does not start with BOF");
  if (biff::GetU16(walk.Data().data()) != biff::kBiff8Version) {
    NotAddable(L"it is not an Excel 97-2003 (BIFF8) workbook");
  }
  if (biff::GetU16(walk.Data().data() + 2) != biff::kBofGlobals)
    Damaged(L"the workbook stream does not start with its globals");
  m_globals.push_back({walk.Id(), {walk.Data().begin(), walk.Data().end()}});

  std::size_t xfCount = 0, lastFont = 0, firstXf = 0;
  std::vector<std::size_t> fonts;  // the FONT records' places in m_globals
  int xfFonts = 0;                 // fonts below this index are those cell formats use
  bool sawFormat = false, sawEof = false, sawSst = false;
  std::uint16_t maxFormat = 0;
  bool pending = false;  // the walker already stands on a record not yet looked at
  while (pending || walk.Next()) {
    pending = false;
    const auto id = walk.Id();
    const auto data = walk.Data();
    if (id == biff::kFilePass) NotAddable(L"it is encrypted (protected with a password)");
    if (id == biff::kBof) Damaged(L"the globals substream holds a nested BOF");
    if (id == biff::kSst) {
      if (sawSst) Damaged(L"it holds two shared string tables");
      sawSst = true;
      if (data.size() < 8) Damaged(L"its shared string table is too short");
      // The table is the SST record and the CONTINUE records after it, used by its strings or not.
      const std::uint64_t first = walk.Start();
      std::uint64_t last = walk.End();
      bool more = false;
      while ((more = walk.Next()) && walk.Id() == biff::kContinue) last = walk.End();
      pending = more;
      // Read when the first table is created: a refused table costs no copy of the strings.
      m_sstRange = {first, last};
      m_sstRecords = m_sstRange;
      m_globals.push_back({biff::kSst, {}});
      continue;
    }
    if (id == biff::kExtSst) continue;  // rebuilt with the table
    m_globals.push_back({id, {data.begin(), data.end()}});
    const std::size_t index = m_globals.size() - 1;
    switch (id) {
      case biff::kDateMode:
        m_formats.date1904 = data.size() >= 2 && biff::GetU16(data.data()) == 1;
        break;
      case biff::kFont:
        lastFont = index;
        fonts.push_back(index);
        break;
      case biff::kFormat:
        if (data.size() >= 2) maxFormat = std::max(maxFormat, biff::GetU16(data.data()));
        m_formatAnchor = index;
        sawFormat = true;
        break;
      case biff::kXf:
        if (data.size() >= 2) xfFonts = std::max(xfFonts, biff::GetU16(data.data()) + 1);
        if (xfCount++ == 0) firstXf = index;
        m_xfAnchor = index;
        break;
      case biff::kBoundSheet:
        m_existing.push_back({BoundSheetName(data), index, biff::GetU32(data.data()), 0});
        m_sheetAnchor = index;
        break;
      default:
        break;
    }
    if (id == biff::kEof) {
      sawEof = true;
      break;
    }
  }
  if (!sawEof) Damaged(L"its globals substream has no end (EOF)");
  if (xfCount == 0) Damaged(L"it has no cell formats (XF)");
  if (xfCount + 3 > biff::kMaxXfs) NotAddable(L"it has too many cell formats to add any");
  if (m_existing.empty()) NotAddable(L"it has no sheets");
  if (maxFormat >= UINT16_MAX - 2) NotAddable(L"its number format ids leave no room for more");
  if (!sawFormat) m_formatAnchor = firstXf > 0 ? firstXf - 1 : lastFont;
  if (!sawSst) m_globals.insert(m_globals.end() - 1, Record{biff::kSst, {}});
  const std::size_t globalsEnd = walk.End();
  FindEarlierFillerFonts(fonts, xfFonts);

  FindSheetEnds(globalsEnd);
  CheckAccountedFor(globalsEnd);
  for (const auto& sheet : m_existing) m_existingSheetBytes += sheet.end - sheet.begin;
  m_formats.general = static_cast<std::uint16_t>(xfCount);
  m_dateFormat = static_cast<std::uint16_t>(std::max<int>(maxFormat + 1, biff::kFirstCustomFormat));
  AddDriverFormats();
}

void Workbook::ReadExistingStrings() {
  // A table that could not be read stays refused: what was read of it is not to be written.
  if (m_sstDamage) throw *m_sstDamage;
  if (!m_sstRange) return;
  try {
    ParseSst(m_sstRange->first, m_sstRange->second);
  } catch (const WorkbookRefused& e) {
    m_sstDamage = e;
    throw;
  }
  m_sstRange.reset();
}

void Workbook::ParseSst(std::uint64_t first, std::uint64_t last) {
  RecordWalker walk(*m_stream, first, last);
  walk.Next();
  SstReader reader(walk);
  m_strings.AddExistingReferences(reader.U32());
  const std::uint32_t count = reader.U32();
  std::u16string chars;
  std::vector<std::uint8_t> runs, extended;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint16_t length = reader.U16();
    const std::uint8_t flags = reader.Byte();
    const std::size_t runCount = (flags & biff::kStringRich) ? reader.U16() : 0;
    const std::size_t extSize = (flags & biff::kStringExtended) ? reader.U32() : 0;
    reader.Chars(length, (flags & biff::kStringHighByte) != 0, chars);
    reader.Bytes(runCount * biff::kRichRunSize, runs);
    for (std::size_t at = 0; at < runs.size() && m_earlierFillerEnd > m_earlierFillerBegin; at += biff::kRichRunSize) {
      if (biff::GetU16(&runs[at + biff::kRichRunFont]) >= m_earlierFillerFont) KeepEarlierFillerFonts();
    }
    reader.Bytes(extSize, extended);
    m_strings.AddExisting(chars, flags, runs, extended);
  }
}

void Workbook::FindEarlierFillerFonts(const std::vector<std::size_t>& fonts, int xfFonts) {
  m_fontsRead = fonts.size();
  m_lastFont = fonts.empty() ? SIZE_MAX : fonts.back();
  KeepEarlierFillerFonts();
  // Ours end the font list, in a row, and no cell format uses them.
  std::size_t kept = fonts.size();
  while (kept > 0 && IsFillerFont(m_globals[fonts[kept - 1]].data)) --kept;
  const std::size_t fillers = fonts.size() - kept;
  if (fillers == 0 || kept == 0 || fonts.back() - fonts[kept] + 1 != fillers) return;
  const std::size_t firstIndex = kept < biff::kSkippedFontIndex ? kept : kept + 1;
  if (firstIndex < static_cast<std::size_t>(xfFonts)) return;
  m_earlierFillerBegin = fonts[kept];
  m_earlierFillerEnd = fonts.back() + 1;
  m_earlierFillerFont = static_cast<std::uint16_t>(firstIndex);
  m_fontAnchor = fonts[kept - 1];
  m_fontCount = kept;
}

std::vector<Workbook::ListedSheet> Workbook::ListSheets() {
  std::vector<ListedSheet> sheets;
  // Per sheet, its first row: by column, a shared string's index or a text of its own.
  struct HeaderCell {
    std::size_t column;
    std::optional<std::uint32_t> sst;
    std::u16string text;
  };
  std::vector<std::vector<HeaderCell>> headers;
  std::uint32_t sstNeeded = 0;
  for (const auto& sheet : m_existing) {
    auto& cells = headers.emplace_back();
    RecordWalker walk(*m_stream, sheet.begin, sheet.end);
    while (walk.Next()) {
      const auto data = walk.Data();
      const bool cell = walk.Id() == biff::kLabelSst || walk.Id() == biff::kLabel || walk.Id() == biff::kNumber ||
                        walk.Id() == biff::kRk || walk.Id() == biff::kBoolErr || walk.Id() == biff::kFormula ||
                        walk.Id() == biff::kMulRk;
      if (!cell || data.size() < biff::kCellHeaderSize) continue;
      // Rows come in ascending order: the first cell below the first row ends it.
      if (biff::GetU16(&data[biff::kCellRow]) != 0) break;
      if (walk.Id() == biff::kMulRk) {
        const std::size_t last = biff::GetU16(&data[data.size() - biff::kMulRkLastColumnFromEnd]);
        for (std::size_t column = biff::GetU16(&data[biff::kCellColumn]);
             column <= last && column < static_cast<std::size_t>(biff::kMaxColumns); ++column)
          cells.push_back({column, std::nullopt, {}});
        continue;
      }
      HeaderCell header{biff::GetU16(&data[biff::kCellColumn]), std::nullopt, {}};
      if (header.column >= static_cast<std::size_t>(biff::kMaxColumns)) continue;
      if (walk.Id() == biff::kLabelSst && data.size() >= biff::kLabelSstIndex + 4) {
        header.sst = biff::GetU32(&data[biff::kLabelSstIndex]);
        sstNeeded = std::max(sstNeeded, *header.sst + 1);
      } else if (walk.Id() == biff::kLabel && data.size() >= biff::kLabelText + 3) {
        const std::size_t length = biff::GetU16(&data[biff::kLabelText]);
        const bool wide = (data[biff::kLabelText + 2] & biff::kStringHighByte) != 0;
        const std::size_t from = biff::kLabelText + 3;
        for (std::size_t i = 0; i < length && from + (i + 1) * (wide ? 2 : 1) <= data.size(); ++i) {
          header.text.push_back(wide ? static_cast<char16_t>(biff::GetU16(&data[from + i * 2]))
                                     : static_cast<char16_t>(data[from + i]));
        }
      }
      cells.push_back(std::move(header));
    }
  }
  std::vector<std::u16string> strings;
  if (sstNeeded > 0 && m_sstRecords) {
    RecordWalker walk(*m_stream, m_sstRecords->first, m_sstRecords->second);
    walk.Next();
    SstReader reader(walk);
    reader.U32();
    const std::uint32_t count = std::min(reader.U32(), sstNeeded);
    std::vector<std::uint8_t> skipped;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint16_t length = reader.U16();
      const std::uint8_t flags = reader.Byte();
      const std::size_t runCount = (flags & biff::kStringRich) ? reader.U16() : 0;
      const std::size_t extSize = (flags & biff::kStringExtended) ? reader.U32() : 0;
      reader.Chars(length, (flags & biff::kStringHighByte) != 0, strings.emplace_back());
      reader.Bytes(runCount * biff::kRichRunSize + extSize, skipped);
    }
  }
  for (std::size_t s = 0; s < m_existing.size(); ++s) {
    ListedSheet& listed = sheets.emplace_back(ListedSheet{m_existing[s].name, {}, nullptr});
    for (const auto& cell : headers[s]) {
      if (listed.header.size() <= cell.column) listed.header.resize(cell.column + 1);
      const std::u16string* text = cell.sst ? (*cell.sst < strings.size() ? &strings[*cell.sst] : nullptr) : &cell.text;
      if (text != nullptr) listed.header[cell.column] = text::Utf16ToWide(*text);
    }
    for (std::size_t c = 0; c < listed.header.size(); ++c) {
      if (listed.header[c].empty()) listed.header[c] = L"F" + std::to_wstring(c + 1);
    }
  }
  for (const auto& sheet : m_sheets) sheets.push_back({sheet->Name(), {}, &sheet->Columns()});
  return sheets;
}

std::u16string Workbook::BoundSheetName(std::span<const std::uint8_t> data) {
  if (data.size() < biff::kBoundSheetName + 2) Damaged(L"a sheet entry (BOUNDSHEET) is too short");
  const std::size_t length = data[biff::kBoundSheetName];
  const bool wide = (data[biff::kBoundSheetName + 1] & biff::kStringHighByte) != 0;
  if (data.size() < biff::kBoundSheetName + 2 + length * (wide ? 2 : 1)) Damaged(L"a sheet name is cut off");
  std::u16string name;
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint8_t* p = &data[biff::kBoundSheetName + 2 + i * (wide ? 2 : 1)];
    name.push_back(wide ? static_cast<char16_t>(biff::GetU16(p)) : static_cast<char16_t>(*p));
  }
  return name;
}

void Workbook::FindSheetEnds(std::uint64_t globalsEnd) {
  // Each sheet's substream: from its BOF to the EOF that closes it (charts inside nest).
  const std::uint64_t size = m_stream->Size();
  for (auto& sheet : m_existing) {
    const std::uint64_t at = sheet.begin;
    if (at < globalsEnd || at >= size) Damaged(L"a sheet's stream position lies outside the workbook stream");
    RecordWalker walk(*m_stream, at, size);
    if (!walk.Next() || walk.Id() != biff::kBof) Damaged(L"a sheet's stream position does not point at a BOF");
    // Charts and text boxes (and rich text cells) refer to fonts by index.
    if (walk.Data().size() < 4 || biff::GetU16(walk.Data().data() + 2) != biff::kBofWorksheet) KeepEarlierFillerFonts();
    int depth = 1;
    while (depth > 0) {
      if (!walk.Next()) Damaged(L"a sheet has no end (EOF)");
      const auto id = walk.Id();
      if (id == biff::kBof) ++depth;
      if (id == biff::kEof) --depth;
      if (id == biff::kBof || id == biff::kTxo || id == biff::kRString || id == biff::kChartFbi ||
          id == biff::kChartFbi2 || id == biff::kChartFontX)
        KeepEarlierFillerFonts();
    }
    sheet.end = walk.End();
  }
}

void Workbook::CheckAccountedFor(std::uint64_t globalsEnd) const {
  // A substream that no sheet entry leads to would be dropped by the rewrite: only padding (zero
  // bytes) may lie between and after the sheets.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
  for (const auto& sheet : m_existing) ranges.emplace_back(sheet.begin, sheet.end);
  std::sort(ranges.begin(), ranges.end());
  ranges.emplace_back(m_stream->Size(), m_stream->Size());
  std::uint64_t at = globalsEnd;
  std::vector<std::uint8_t> chunk;
  for (const auto& [begin, end] : ranges) {
    if (begin < at) Damaged(L"two of its sheet entries (BOUNDSHEET) lead to the same sheet");
    while (at < begin) {
      chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(begin - at, kPaddingChunk)));
      m_stream->Read(at, chunk.data(), chunk.size());
      if (std::any_of(chunk.begin(), chunk.end(), [](std::uint8_t b) { return b != 0; })) {
        Damaged(L"it holds data that no sheet entry (BOUNDSHEET) accounts for; its sheet list may be damaged");
      }
      at += chunk.size();
    }
    at = end;
  }
}

}  // namespace quillon::drivers::excel
