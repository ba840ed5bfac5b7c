// The workbook stream written anew: the globals of a new workbook, the tables added as sheets,
// and the stream laid out and written, existing sheets included.
#include <algorithm>
#include <span>
#include <string_view>

#include "drivers/excel/Biff8.h"
#include "drivers/excel/ByteSource.h"
#include "drivers/excel/CompoundFile.h"
#include "drivers/excel/Workbook.h"
#include "drivers/excel/WorkbookReader.h"
#include "drivers/sql/SheetName.h"
#include "platform/errors/Errors.h"
#include "platform/text/Characters.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::excel {
namespace {

constexpr std::u16string_view kDateFormatCode = u"yyyy-mm-dd";
constexpr std::u16string_view kDateTimeFormatCode = u"yyyy-mm-dd hh:mm:ss";
constexpr std::u16string_view kFontName = u"Arial";
constexpr std::uint16_t kFontHeight = 200;  // twips: 10 points
constexpr std::uint16_t kFontWeight = 400;
constexpr std::uint16_t kFontColour = 0x7FFF;
constexpr int kFontCount = 4;
constexpr std::uint16_t kCodePageUtf16 = 1200;
constexpr std::size_t kWriteAccessSize = 112;
constexpr std::u16string_view kWriteAccessUser = u"Quillon";
constexpr std::uint16_t kUiVersion = 0x04B0;
// FNGROUPCOUNT: the built-in function groups Excel 97 and later know.
constexpr std::uint16_t kBuiltInFunctionGroups = 0x000E;
// COUNTRY: the user interface's and the system's country codes (1: United States).
constexpr std::uint16_t kCountryCode = 1;
// WINDOW1: position, size, options (tabs and scroll bars shown), first tab, tab ratio.
constexpr std::uint16_t kWindow1Fields[] = {0x01E0, 0x005A, 0x3FCF, 0x2A4E, 0x0038, 0, 0, 1, 0x0258};
// Style XFs: the Normal style, then the 15 Excel always has; XF 15 is the default cell format.
constexpr std::uint16_t kStyleXfType = 0xFFF5;  // locked, style, no parent
constexpr std::uint8_t kStyleXfUsed = 0xF4;
constexpr std::uint16_t kNormalStyleXf = 0x8000;  // built-in style over XF 0
constexpr std::uint8_t kNormalStyleId = 0;
constexpr std::uint8_t kNoOutlineLevel = 0xFF;
constexpr std::size_t kIndexFirstDefColWidth = 12;

// Filler fonts: 10 points, the outline and shadow that only the Macintosh shows and a double
// accounting underline (together the mark of ours: Excel for Windows makes no such font), and a
// real face name in 8-bit characters. The names' lengths run without gaps, so that some set of
// them fills any number of bytes from 50 on, and 25 to 41.
constexpr std::string_view kFillerFontNames[] = {"Arial",
                                                 "Tahoma",
                                                 "Verdana",
                                                 "Consolas",
                                                 "Helvetica",
                                                 "Constantia",
                                                 "Courier New",
                                                 "Trebuchet MS",
                                                 "Comic Sans MS",
                                                 "Lucida Console",
                                                 "Times New Roman",
                                                 "Arial Unicode MS",
                                                 "Palatino Linotype",
                                                 "Century Schoolbook",
                                                 "Lucida Sans Unicode",
                                                 "Microsoft Sans Serif",
                                                 "Arial Rounded MT Bold"};
constexpr std::size_t kShortestFillerName = 5;
constexpr bool FillerNamesRunOn() {
  for (std::size_t i = 0; i < std::size(kFillerFontNames); ++i) {
    if (kFillerFontNames[i].size() != kShortestFillerName + i) return false;
  }
  return true;
}
static_assert(FillerNamesRunOn());
constexpr std::size_t kLongestFillerName = kShortestFillerName + std::size(kFillerFontNames) - 1;
constexpr std::uint64_t kFontRecordBase = biff::kRecordHeaderSize + biff::kFontFixedSize + 2;  // + the name
constexpr std::uint16_t kFillerFontFlags = biff::kFontOutline | biff::kFontShadow;

std::vector<std::uint8_t> FillerFontData(std::string_view name) {
  biff::RecordData font;
  font.U16(kFontHeight);
  font.U16(kFillerFontFlags);
  font.U16(kFontColour);
  font.U16(kFontWeight);
  font.U16(0);  // super/subscript
  font.U8(biff::kUnderlineDoubleAccounting);
  font.U8(0);  // family
  font.U8(0);  // character set
  font.U8(0);
  font.U8(static_cast<std::uint8_t>(name.size()));
  font.U8(0);  // 8-bit characters
  font.Bytes(name.data(), name.size());
  return font.Bytes();
}

// The name lengths of filler fonts of `size` bytes, or of `size` + 512 where no set of them is
// that large; none when `size` is 0 or when they would pass the fonts a workbook holds.
std::vector<std::size_t> FillerFonts(std::uint64_t size, std::size_t fonts) {
  if (size == 0) return {};
  const std::uint64_t shortest = kFontRecordBase + kShortestFillerName, longest = kFontRecordBase + kLongestFillerName;
  if (size < shortest || (size > longest && size < 2 * shortest)) size += SpoolFile::kSectorSize;
  const std::uint64_t count = (size + longest - 1) / longest;
  if (fonts + count > biff::kMaxFonts) return {};
  std::vector<std::size_t> lengths(count, kShortestFillerName);
  std::uint64_t extra = size - count * shortest;
  for (std::size_t& length : lengths) {
    const std::uint64_t more = std::min<std::uint64_t>(extra, kLongestFillerName - kShortestFillerName);
    length += more;
    extra -= more;
  }
  return lengths;
}

bool SameName(std::u16string_view a, std::u16string_view b) { return text::SameNameIgnoringCase(a, b); }

std::u16string ToUtf16(std::wstring_view text) { return text::WideToUtf16(text); }

std::vector<std::uint8_t> XfData(std::uint16_t font, std::uint16_t format, std::uint16_t type, std::uint8_t used) {
  biff::RecordData xf;
  xf.U16(font);
  xf.U16(format);
  xf.U16(type);
  xf.U8(biff::kXfAlignBottom);
  xf.U8(0);  // rotation
  xf.U8(0);  // indent, shrink, direction
  xf.U8(used);
  xf.U32(0);  // borders
  xf.U32(0);
  xf.U16(biff::kXfDefaultPattern);
  return xf.Bytes();
}

std::vector<std::uint8_t> FormatData(std::uint16_t id, std::u16string_view code) {
  biff::RecordData format;
  format.U16(id);
  format.U16(static_cast<std::uint16_t>(code.size()));
  format.U8(biff::kStringHighByte);
  format.Utf16(code);
  return format.Bytes();
}

void Emit(Sink& sink, std::uint16_t id, const std::vector<std::uint8_t>& data) {
  std::uint8_t header[biff::kRecordHeaderSize];
  biff::PutU16(header, id);
  biff::PutU16(header + 2, static_cast<std::uint16_t>(data.size()));
  sink.Write(header, sizeof header);
  if (!data.empty()) sink.Write(data.data(), data.size());
}

}  // namespace

Workbook::Workbook(SpoolFile* spool)
    : m_ownSpool(spool == nullptr ? std::make_unique<SpoolFile>() : nullptr),
      m_spool(spool == nullptr ? *m_ownSpool : *spool),
      m_new(true) {
  const auto add = [this](std::uint16_t id, const std::vector<std::uint8_t>& data) {
    m_globals.push_back({id, data});
    return m_globals.size() - 1;
  };
  add(biff::kBof, biff::BofData(biff::kBofGlobals));
  add(biff::kInterfaceHdr, {static_cast<std::uint8_t>(kUiVersion), static_cast<std::uint8_t>(kUiVersion >> 8)});
  add(biff::kMms, {0, 0});
  add(biff::kInterfaceEnd, {});
  biff::RecordData access;
  access.U16(static_cast<std::uint16_t>(kWriteAccessUser.size()));
  access.U8(0);
  for (char16_t c : kWriteAccessUser) access.U8(static_cast<std::uint8_t>(c));
  while (access.Size() < kWriteAccessSize) access.U8(' ');
  add(biff::kWriteAccess, access.Bytes());
  add(biff::kCodePage, {static_cast<std::uint8_t>(kCodePageUtf16), static_cast<std::uint8_t>(kCodePageUtf16 >> 8)});
  add(biff::kDsf, {0, 0});
  add(biff::kTabId, {});
  add(biff::kFnGroupCount,
      {static_cast<std::uint8_t>(kBuiltInFunctionGroups), static_cast<std::uint8_t>(kBuiltInFunctionGroups >> 8)});
  add(biff::kWindowProtect, {0, 0});
  add(biff::kProtect, {0, 0});
  add(biff::kPassword, {0, 0});
  add(biff::kProt4Rev, {0, 0});
  add(biff::kProt4RevPass, {0, 0});
  biff::RecordData window;
  for (std::uint16_t field : kWindow1Fields) window.U16(field);
  add(biff::kWindow1, window.Bytes());
  add(biff::kBackup, {0, 0});
  add(biff::kHideObj, {0, 0});
  add(biff::kDateMode, {0, 0});
  add(biff::kPrecision, {1, 0});
  add(biff::kRefreshAll, {0, 0});
  add(biff::kBookBool, {0, 0});
  for (int i = 0; i < kFontCount; ++i) {
    biff::RecordData font;
    font.U16(kFontHeight);
    font.U16(0);
    font.U16(kFontColour);
    font.U16(kFontWeight);
    font.U16(0);  // super/subscript
    font.U8(0);   // underline
    font.U8(0);   // family
    font.U8(0);   // character set
    font.U8(0);
    font.U8(static_cast<std::uint8_t>(kFontName.size()));
    font.U8(biff::kStringHighByte);
    font.Utf16(kFontName);
    m_formatAnchor = add(biff::kFont, font.Bytes());
  }
  m_fontAnchor = m_formatAnchor;
  m_fontCount = kFontCount;
  for (std::size_t i = 0; i + 1 < biff::kStyleXfCount; ++i) {
    m_xfAnchor = add(biff::kXf, XfData(0, 0, kStyleXfType, i == 0 ? 0 : kStyleXfUsed));
  }
  m_xfAnchor = add(biff::kXf, XfData(0, 0, biff::kXfCellLocked, 0));
  add(biff::kStyle, {static_cast<std::uint8_t>(kNormalStyleXf), static_cast<std::uint8_t>(kNormalStyleXf >> 8),
                     kNormalStyleId, kNoOutlineLevel});
  // The sheets' BOUNDSHEET records follow USESELFS, and COUNTRY follows them, where Excel puts
  // them (a second writer looks for COUNTRY to place its own link records after it).
  m_sheetAnchor = add(biff::kUsesElfs, {0, 0});
  add(biff::kCountry, {static_cast<std::uint8_t>(kCountryCode), static_cast<std::uint8_t>(kCountryCode >> 8),
                       static_cast<std::uint8_t>(kCountryCode), static_cast<std::uint8_t>(kCountryCode >> 8)});
  add(biff::kSst, {});
  add(biff::kEof, {});
  m_formats.general = static_cast<std::uint16_t>(biff::kStyleXfCount);
  m_dateFormat = biff::kFirstCustomFormat;
  AddDriverFormats();
}

bool Workbook::IsFillerFont(std::span<const std::uint8_t> data) {
  if (data.size() < biff::kFontFixedSize + 2) return false;
  const std::size_t length = data[biff::kFontFixedSize];
  if (length < kShortestFillerName || length > kLongestFillerName) return false;
  const std::vector<std::uint8_t> ours = FillerFontData(kFillerFontNames[length - kShortestFillerName]);
  return std::equal(data.begin(), data.end(), ours.begin(), ours.end());
}

void Workbook::KeepEarlierFillerFonts() {
  m_earlierFillerBegin = m_earlierFillerEnd = 0;
  m_fontAnchor = m_lastFont;
  m_fontCount = m_fontsRead;
}

void Workbook::AddDriverFormats() {
  m_dateTimeFormat = static_cast<std::uint16_t>(m_dateFormat + 1);
  m_formats.date = static_cast<std::uint16_t>(m_formats.general + 1);
  m_formats.dateTime = static_cast<std::uint16_t>(m_formats.general + 2);
}

std::u16string Workbook::UniqueSheetName(std::wstring_view table) const {
  return sql::UniqueSheetName(table, [this](std::u16string_view name) { return SheetNameTaken(name); });
}

bool Workbook::SheetNameTaken(std::u16string_view name) const {
  for (const auto& sheet : m_existing) {
    if (SameName(sheet.name, name)) return true;
  }
  for (const auto& sheet : m_sheets) {
    if (SameName(sheet->Name(), name)) return true;
  }
  return false;
}

const std::u16string& Workbook::CreateTable(const sql::CreateTable& statement) {
  const std::u16string asUtf16 = ToUtf16(statement.table);
  bool exists = SheetNameTaken(asUtf16);
  for (const auto& sheet : m_sheets) exists = exists || SameName(ToUtf16(sheet->Table()), asUtf16);
  const std::u16string valid = sql::ValidSheetName(statement.table);
  for (const auto& sheet : m_existing) exists = exists || SameName(sheet.name, valid);
  if (exists) throw odbc::errors::TableExists(statement.table);
  if (statement.columns.size() > static_cast<std::size_t>(biff::kMaxColumns)) {
    throw odbc::errors::TooManyColumns(statement.table, statement.columns.size(), biff::kMaxColumns);
  }
  for (std::size_t i = 0; i < statement.columns.size(); ++i) {
    if (statement.columns[i].name.size() > biff::kMaxCellChars) {
      throw odbc::errors::ColumnNameTooLong(statement.table);
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (SameName(ToUtf16(statement.columns[i].name), ToUtf16(statement.columns[j].name))) {
        throw odbc::errors::ColumnRepeated(statement.table, statement.columns[i].name);
      }
    }
  }
  sql::CheckDatePatternFor(statement, m_datePattern);
  ReadExistingStrings();
  m_sheets.push_back(std::make_unique<Sheet>(statement.table, UniqueSheetName(statement.table), statement.columns,
                                             m_formats, m_strings, m_spool));
  m_sheets.back()->ReadDatesBy(m_datePattern);
  return m_sheets.back()->Name();
}

void Workbook::Insert(const sql::Insert& statement) { Insert(statement.table, statement.values); }

void Workbook::Insert(const std::wstring& table, const std::vector<sql::Literal>& values) {
  // Rows come table by table: the last target answers most lookups without any conversion.
  Sheet* const target = m_lastTarget != nullptr && table == m_lastTable ? m_lastTarget : FindTarget(table);
  target->AddRow(values);
  CheckStreamLimit();
}

Sheet* Workbook::FindTarget(const std::wstring& table) {
  const std::u16string asUtf16 = ToUtf16(table);
  Sheet* target = nullptr;
  for (const auto& sheet : m_sheets) {
    if (SameName(ToUtf16(sheet->Table()), asUtf16)) target = sheet.get();
  }
  if (target == nullptr) {
    for (const auto& sheet : m_sheets) {
      if (SameName(sheet->Name(), asUtf16)) target = sheet.get();
    }
  }
  if (target == nullptr) {
    for (const auto& sheet : m_existing) {
      if (SameName(sheet.name, asUtf16)) {
        throw odbc::errors::TableFromBefore(table);
      }
    }
    throw odbc::errors::NoSuchTable(table);
  }
  m_lastTarget = target;
  m_lastTable = table;
  return target;
}

namespace {

// Out of line, so that the check each row makes keeps no registers for building the exception.
[[noreturn, gnu::noinline]] void ThrowStreamTooLarge() {
  throw odbc::errors::FileTooLarge(kCompoundFileLimitText, kWorkbookFileText);
}

}  // namespace

void Workbook::CheckStreamLimit() const {
  std::uint64_t bytes = m_strings.BytesSoFar() + m_existingSheetBytes;
  for (const auto& sheet : m_sheets) bytes += sheet->BytesSoFar();
  if (bytes > m_streamLimit) ThrowStreamTooLarge();
}

std::vector<std::u16string> Workbook::SheetNames() const {
  std::vector<std::u16string> names;
  for (const auto& sheet : m_existing) names.push_back(sheet.name);
  for (const auto& sheet : m_sheets) names.push_back(sheet->Name());
  return names;
}

void Workbook::WriteGlobals(Sink& sink, const std::vector<std::uint32_t>& positions, std::uint64_t* sstStart) {
  const std::size_t existing = m_existing.size();
  std::uint16_t maxTab = 0;
  for (std::size_t i = 0; i < m_globals.size(); ++i) {
    const Record& record = m_globals[i];
    if (record.id == biff::kSst && record.data.empty()) {
      if (sstStart != nullptr) *sstStart = sink.Position();
      m_strings.Write(sink, m_sstOddFill);
      continue;
    }
    if (record.id == biff::kBoundSheet) {
      std::vector<std::uint8_t> data = record.data;
      for (std::size_t s = 0; s < existing; ++s) {
        if (m_existing[s].boundSheet == i) biff::PutU32(&data[biff::kBoundSheetPosition], positions[s]);
      }
      Emit(sink, record.id, data);
    } else if (record.id == biff::kTabId) {
      std::vector<std::uint8_t> data = record.data;
      for (std::size_t at = 0; at + 1 < data.size(); at += 2) maxTab = std::max(maxTab, biff::GetU16(&data[at]));
      for (std::size_t s = 0; s < m_sheets.size(); ++s) {
        const auto id = static_cast<std::uint16_t>(maxTab + 1 + s);
        data.push_back(static_cast<std::uint8_t>(id));
        data.push_back(static_cast<std::uint8_t>(id >> 8));
      }
      Emit(sink, record.id, data);
    } else if (i < m_earlierFillerBegin || i >= m_earlierFillerEnd) {
      Emit(sink, record.id, record.data);
    }
    if (i == m_fontAnchor) {
      for (std::size_t length : m_fillerFonts)
        Emit(sink, biff::kFont, FillerFontData(kFillerFontNames[length - kShortestFillerName]));
    }
    if (i == m_formatAnchor) {
      Emit(sink, biff::kFormat, FormatData(m_dateFormat, kDateFormatCode));
      Emit(sink, biff::kFormat, FormatData(m_dateTimeFormat, kDateTimeFormatCode));
    }
    if (i == m_xfAnchor) {
      Emit(sink, biff::kXf, XfData(0, 0, biff::kXfCellLocked, 0));
      Emit(sink, biff::kXf, XfData(0, m_dateFormat, biff::kXfCellLocked, biff::kXfUsedNumberFormat));
      Emit(sink, biff::kXf, XfData(0, m_dateTimeFormat, biff::kXfCellLocked, biff::kXfUsedNumberFormat));
    }
    if (i == m_sheetAnchor) {
      for (std::size_t s = 0; s < m_sheets.size(); ++s) {
        const std::u16string& name = m_sheets[s]->Name();
        biff::RecordData sheet;
        sheet.U32(positions[existing + s]);
        sheet.U8(0);  // visible
        sheet.U8(0);  // worksheet
        sheet.U8(static_cast<std::uint8_t>(name.size()));
        sheet.U8(biff::kStringHighByte);
        sheet.Utf16(name);
        Emit(sink, biff::kBoundSheet, sheet.Bytes());
      }
    }
  }
}

std::uint64_t Workbook::LayOut(std::vector<std::uint32_t>& positions, std::vector<std::size_t>& order) {
  ReadExistingStrings();
  order.resize(m_existing.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [this](std::size_t a, std::size_t b) { return m_existing[a].begin < m_existing[b].begin; });
  std::uint64_t sst = 0;
  bool oddCells = false;  // a new sheet's spooled cells would follow at an odd distance
  const auto place = [&] {
    // The globals' size does not depend on the positions they hold.
    positions.assign(m_existing.size() + m_sheets.size(), 0);
    CountingSink measure;
    WriteGlobals(measure, positions, &sst);
    std::uint64_t at = measure.Position();
    for (std::size_t s : order) {
      positions[s] = static_cast<std::uint32_t>(at);
      at += m_existing[s].end - m_existing[s].begin;
    }
    oddCells = false;
    for (std::size_t s = 0; s < m_sheets.size(); ++s) {
      positions[m_existing.size() + s] = static_cast<std::uint32_t>(at);
      oddCells = oddCells || (m_sheets[s]->Spooled() && at % 2 != 0);
      at += m_sheets[s]->StreamSize(at);
    }
    return at;
  };
  // Spooled records become the stream's sectors where they start one: filler fonts before the
  // shared string table move it there, and keep the sheets after it at even positions (their
  // cells are placed by records of even sizes); where the table fixes the fonts' size, an empty
  // string at its end does that.
  m_fillerFonts.clear();
  m_sstOddFill = false;
  std::uint64_t size = place();
  if (m_strings.Spooled()) {
    const std::uint64_t spoolAt = sst + SharedStrings::kSpoolOffset;
    m_fillerFonts =
        FillerFonts((SpoolFile::kSectorSize - spoolAt % SpoolFile::kSectorSize) % SpoolFile::kSectorSize, m_fontCount);
    size = place();
    if (oddCells) {
      m_sstOddFill = true;
      size = place();
    }
  } else if (oddCells) {
    m_fillerFonts = FillerFonts(kFontRecordBase + kShortestFillerName, m_fontCount);
    size = place();
  }
  return size;
}

std::uint64_t Workbook::StreamSize() {
  std::vector<std::uint32_t> positions;
  std::vector<std::size_t> order;
  return LayOut(positions, order);
}

void Workbook::Write(Sink& sink) {
  std::vector<std::uint32_t> positions;
  std::vector<std::size_t> order;
  if (LayOut(positions, order) > UINT32_MAX) throw odbc::errors::FileTooLarge(L"4 GB", L"an Excel workbook stream");

  WriteGlobals(sink, positions, nullptr);
  for (std::size_t s : order) {
    const auto& sheet = m_existing[s];
    // Sheets go over record for record, unchanged but for the absolute positions their INDEX
    // records hold.
    const auto delta = static_cast<std::int64_t>(positions[s]) - static_cast<std::int64_t>(sheet.begin);
    RecordWalker walk(*m_stream, sheet.begin, sheet.end);
    std::vector<std::uint8_t> index;
    while (walk.Next()) {
      if (walk.Id() == biff::kIndex && delta != 0 && walk.Data().size() >= biff::kIndexDbCellArray) {
        index.assign(walk.Data().begin(), walk.Data().end());
        const auto shift = [&index, delta](std::size_t offset) {
          const std::uint32_t old = biff::GetU32(&index[offset]);
          if (old != 0)
            biff::PutU32(&index[offset], static_cast<std::uint32_t>(static_cast<std::int64_t>(old) + delta));
        };
        shift(kIndexFirstDefColWidth);
        for (std::size_t offset = biff::kIndexDbCellArray; offset + 4 <= index.size(); offset += 4) shift(offset);
        Emit(sink, biff::kIndex, index);
      } else {
        std::uint8_t header[biff::kRecordHeaderSize];
        biff::PutU16(header, walk.Id());
        biff::PutU16(header + 2, static_cast<std::uint16_t>(walk.Data().size()));
        sink.Write(header, sizeof header);
        if (!walk.Data().empty()) sink.Write(walk.Data().data(), walk.Data().size());
      }
    }
  }
  for (std::size_t s = 0; s < m_sheets.size(); ++s) m_sheets[s]->Write(sink, m_new && s == 0);
}

}  // namespace quillon::drivers::excel
