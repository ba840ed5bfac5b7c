// An existing .xlsx workbook that new sheets are added to. At open it reads the package's
// [Content_Types].xml, its relationships (_rels/.rels names the workbook part, wherever it is),
// the workbook part and its relationships, the styles part and docProps/app.xml, and refuses what
// it cannot add to without harm (PackageRefused: not a zip, encrypted, no workbook, Strict Open
// XML, damaged, a part in a shape it cannot change). It tells the names of the sheets there, the
// next free sheetId, worksheet part number and relationship id, and the cell styles new cells use
// (a bold font and the header, date, date-time and time formats, added at the end of the styles'
// lists, so that every index the workbook already uses keeps its meaning).
//
// At write-out the package is written again into a new zip: every entry in its order, copied raw
// (its compressed bytes as stored) except the parts that change, which are written rewritten in
// their place. A rewritten part is the original text with the new elements inserted into it, so
// everything else in it stays byte for byte; new elements take the namespace prefix their parent
// element uses. xl/sharedStrings.xml is never changed: new cells hold inline strings. The new
// sheets' parts are then added by the writer.
#pragma once

#include <minizip/zip.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drivers/xlsx/ZipReader.h"

namespace quillon::drivers::xlsx {

// The number format codes of the new cells' date, date-time and time styles.
struct NumberFormatCodes {
  std::string date;
  std::string dateTime;
  std::string time;
};

// Indexes into the styles' cellXfs that new cells use.
struct AddedCellStyles {
  std::uint32_t header = 0;  // the default font in bold
  std::uint32_t date = 0;
  std::uint32_t dateTime = 0;
  std::uint32_t time = 0;
};

// A sheet added to the workbook.
struct AddedSheet {
  std::string name;  // UTF-8
  std::uint32_t sheetId = 0;
  std::uint32_t partNumber = 0;      // its part is WorksheetPart(partNumber)
  std::uint32_t relationshipId = 0;  // "rId<relationshipId>" in the workbook's relationships
  std::string filterRange;           // its autofilter's range ("$A$1:$C$9"); empty when none
};

class ExistingWorkbook {
 public:
  // Reads the package open at `fd` (UTF-8 `path` names it in I/O errors). Throws PackageRefused
  // or odbc::errors::IoError.
  ExistingWorkbook(int fd, std::string path, const NumberFormatCodes& formats);
  ~ExistingWorkbook();
  ExistingWorkbook(const ExistingWorkbook&) = delete;
  ExistingWorkbook& operator=(const ExistingWorkbook&) = delete;

  // The sheets' names, in the workbook's order.
  const std::vector<std::string>& SheetNames() const { return m_sheetNames; }
  std::uint32_t NextSheetId() const { return m_nextSheetId; }
  std::uint32_t NextPartNumber() const { return m_nextPartNumber; }
  std::uint32_t NextRelationshipId() const { return m_nextRelationshipId; }
  const AddedCellStyles& CellStyles() const { return m_cellStyles; }
  // Whether its dates count from 1904-01-01 (workbookPr date1904).
  bool Date1904() const { return m_date1904; }
  // The part name (no leading '/') of worksheet part `number`, beside the workbook's others.
  std::string WorksheetPart(std::uint32_t number) const;

  // The parts that change when `sheets` are added, by part name, with their new text.
  std::map<std::string, std::string> RewrittenParts(const std::vector<AddedSheet>& sheets) const;
  // Writes every entry of the package into `zip` in its order: raw copies, and the parts that
  // change rewritten in their place. Throws odbc::errors::IoError naming `path`, or
  // PackageRefused for a part that cannot be read.
  void WriteInto(zipFile zip, const std::vector<AddedSheet>& sheets, const std::string& path);

  struct Part;  // a parsed part: its text, tree and element spans

 private:
  std::unique_ptr<Part> ReadPart(const std::string& name, bool required);
  void ReadStyles(const NumberFormatCodes& formats);

  ZipReader m_zip;
  std::string m_workbookPart;
  std::string m_workbookRelsPart;
  std::string m_stylesPart;
  std::string m_appPart;  // empty when the package has none
  std::unique_ptr<Part> m_contentTypes;
  std::unique_ptr<Part> m_workbook;
  std::unique_ptr<Part> m_workbookRels;
  std::unique_ptr<Part> m_app;
  std::string m_newStyles;  // the styles part with the added entries
  std::vector<std::string> m_sheetNames;
  std::uint32_t m_nextSheetId = 1;
  std::uint32_t m_nextPartNumber = 1;
  std::uint32_t m_nextRelationshipId = 1;
  AddedCellStyles m_cellStyles;
  bool m_date1904 = false;
};

}  // namespace quillon::drivers::xlsx
