// A workbook being written: the globals substream (new, or read from an existing workbook and
// kept record for record), the sheets it already had (copied unchanged at the end), and the
// sheets this driver adds. Reading the existing stream (its globals, sheets and shared strings)
// is in WorkbookReader.cpp; the new globals, the tables and the stream written, in
// WorkbookWriter.cpp.
//
// Sheet names. A table's sheet is named after the table, made valid for Excel by the rule of
// drivers/sql/SheetName.h (rules 1 to 4 there).
// INSERT INTO reaches a table by the name it was created with (any letter case) or by its sheet
// name. A table exists when a table created on this connection or a sheet of the workbook has
// its name, or when a sheet the workbook already had has the name rules 1 to 3 make of it (the
// file keeps sheet names only, so a long name exported again meets its own earlier sheet).
// Tables created on one connection are told apart by their whole names: Results_Sheet0 after a
// long Results gets a sheet of its own by rule 4.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "drivers/excel/ByteSource.h"
#include "drivers/excel/SharedStrings.h"
#include "drivers/excel/Sheet.h"
#include "drivers/excel/WorkbookRefused.h"
#include "drivers/sql/Statement.h"

namespace quillon::drivers::excel {

class Workbook {
 public:
  // A new, empty workbook. Cells and strings spool to `spool` (the file the workbook goes into,
  // see WriteCompoundFile) or, without one, to a temporary file of the workbook's own.
  explicit Workbook(SpoolFile* spool = nullptr);
  // The workbook in `stream` (a "Workbook" stream's bytes). Throws WorkbookRefused when it is not
  // a BIFF8 workbook this driver can add to (encrypted, older version, malformed). Only the
  // globals' records stay in memory; their shared strings are read (and spool as the new ones
  // do) when the first table is created or the stream laid out, which then throw
  // WorkbookRefused for a damaged string table. The existing sheets are read from `stream` again
  // when the workbook is written, so it must stay readable.
  explicit Workbook(std::unique_ptr<ByteSource> stream, SpoolFile* spool = nullptr);
  explicit Workbook(std::vector<std::uint8_t> stream);

  // DATE values of the tables created from now on are read by `pattern` (null: the fixed forms
  // of ValueCheck.h); it must outlive the workbook.
  void ReadDatesBy(const sql::DatePattern* pattern) { m_datePattern = pattern; }
  // Adds the table's sheet and returns the sheet's name. Throws odbc::CDBException ("Table 'X'
  // already exists.", too many columns, a date pattern that cannot be read back, ...), or
  // WorkbookRefused (see the constructor).
  const std::u16string& CreateTable(const sql::CreateTable& statement);
  // A row that takes the stream past `bytes` (counting only what it surely holds) is refused
  // with odbc::errors::FileTooLarge, an error of the file: the file could not be written anyway.
  void LimitStreamTo(std::uint64_t bytes) { m_streamLimit = bytes; }
  // Throws odbc::CDBException (no such table, refused values, a full sheet, a full file).
  void Insert(const sql::Insert& statement);
  // The same for the table and values of an INSERT.
  void Insert(const std::wstring& table, const std::vector<sql::Literal>& values);

  // True when a table was created, so that the file has something new to hold.
  bool Changed() const { return !m_sheets.empty(); }
  // The size of the stream Write writes now.
  std::uint64_t StreamSize();
  // Writes the whole workbook stream.
  void Write(Sink& sink);

  // Sheet names in workbook order, existing ones first.
  std::vector<std::u16string> SheetNames() const;
  // Every sheet with the texts of its first row (a cell without text in it by Jet's name F1, F2,
  // ...; nothing for an empty sheet), and for a sheet added here its table's columns. Reads
  // the existing stream only. Throws WorkbookRefused for a damaged sheet or string table.
  struct ListedSheet {
    std::u16string name;
    std::vector<std::wstring> header;
    const std::vector<sql::ColumnDef>* columns = nullptr;  // a table created here
  };
  std::vector<ListedSheet> ListSheets();

 private:
  struct Record {
    std::uint16_t id;
    std::vector<std::uint8_t> data;
  };
  struct ExistingSheet {
    std::u16string name;
    std::size_t boundSheet;    // index of its BOUNDSHEET in m_globals
    std::uint64_t begin, end;  // its substream in m_stream
  };

  // Reading the existing stream.
  void Parse();
  // Reads the shared strings of the SST record at `first` and its CONTINUE records up to `last`.
  void ParseSst(std::uint64_t first, std::uint64_t last);
  // Reads the existing workbook's shared strings, once, before a table's strings are added or
  // the stream is laid out. Throws WorkbookRefused for a damaged table.
  void ReadExistingStrings();
  // The sheet name a BOUNDSHEET record's data holds.
  static std::u16string BoundSheetName(std::span<const std::uint8_t> data);
  // Sets each existing sheet's substream end; refuses sheets outside the stream or without EOF.
  void FindSheetEnds(std::uint64_t globalsEnd);
  // Refuses a stream with data outside the globals and the sheets' substreams.
  void CheckAccountedFor(std::uint64_t globalsEnd) const;

  // Fonts no cell format uses, after the workbook's own, that move the shared string table to
  // where the stream needs it (see LayOut). Ours are recognised by their fields and names
  // (IsFillerFont); those at the end of the font list that nothing can refer to are dropped when
  // the workbook is written again, so that they do not pile up.
  static bool IsFillerFont(std::span<const std::uint8_t> data);
  // Keeps the earlier filler fonts: something may refer to them.
  void KeepEarlierFillerFonts();
  // Finds earlier filler fonts among the workbook's `fonts` (FONT records in m_globals), cell
  // formats using fonts below `xfFonts`.
  void FindEarlierFillerFonts(const std::vector<std::size_t>& fonts, int xfFonts);

  // Writing the new stream.
  void AddDriverFormats();
  void WriteGlobals(Sink& sink, const std::vector<std::uint32_t>& positions, std::uint64_t* sstStart);
  // Places the sheets' substreams after the globals: each sheet's position (existing ones, then
  // new ones) and the existing sheets in the order they are written; returns the stream's size.
  std::uint64_t LayOut(std::vector<std::uint32_t>& positions, std::vector<std::size_t>& order);
  // Rules 1 to 4 of the sheet names (sql::UniqueSheetName) against this workbook's sheets.
  std::u16string UniqueSheetName(std::wstring_view table) const;
  // The sheet of `table` (by its name or its sheet's), kept as the last target; throws
  // TableFromBefore or NoSuchTable when there is none.
  Sheet* FindTarget(const std::wstring& table);
  // Throws FileTooLarge when the stream's sheets and strings alone pass m_streamLimit.
  void CheckStreamLimit() const;
  bool SheetNameTaken(std::u16string_view name) const;

  std::unique_ptr<SpoolFile> m_ownSpool;  // when the workbook was given none
  SpoolFile& m_spool;
  std::unique_ptr<ByteSource> m_stream;  // the existing workbook stream (none for a new one)
  // Where the existing shared string table lies in m_stream until ReadExistingStrings reads it.
  std::optional<std::pair<std::uint64_t, std::uint64_t>> m_sstRange;
  std::optional<WorkbookRefused> m_sstDamage;  // why that table could not be read
  std::vector<Record> m_globals;               // SST stands as a placeholder record with no data
  // The same range, kept for ListSheets.
  std::optional<std::pair<std::uint64_t, std::uint64_t>> m_sstRecords;
  std::vector<ExistingSheet> m_existing;
  std::vector<std::unique_ptr<Sheet>> m_sheets;
  const sql::DatePattern* m_datePattern = nullptr;
  SharedStrings m_strings{m_spool};
  CellFormats m_formats;
  bool m_new = false;
  std::size_t m_formatAnchor = 0;       // new FORMAT records go after this globals record
  std::size_t m_xfAnchor = 0;           // new XF records go after this one
  std::size_t m_sheetAnchor = 0;        // new BOUNDSHEET records go after this one
  std::size_t m_fontAnchor = SIZE_MAX;  // filler fonts go after this one (none without fonts)
  std::size_t m_fontCount = 0;          // fonts written before the filler fonts
  std::size_t m_lastFont = SIZE_MAX;    // the last FONT record in m_globals
  std::size_t m_fontsRead = 0;          // FONT records in m_globals
  // Earlier filler fonts, dropped: their records in m_globals, and the font index of the first.
  std::size_t m_earlierFillerBegin = 0, m_earlierFillerEnd = 0;
  std::uint16_t m_earlierFillerFont = 0;
  std::vector<std::size_t> m_fillerFonts;  // this stream's filler fonts, as name lengths
  bool m_sstOddFill = false;               // the shared string table carries an empty string
  std::uint16_t m_dateFormat = 0, m_dateTimeFormat = 0;
  std::uint64_t m_streamLimit = UINT64_MAX;
  std::uint64_t m_existingSheetBytes = 0;  // the existing sheets' substreams, all together
  Sheet* m_lastTarget = nullptr;           // the table the last INSERT went to, and the name it used
  std::wstring m_lastTable;
};

}  // namespace quillon::drivers::excel
