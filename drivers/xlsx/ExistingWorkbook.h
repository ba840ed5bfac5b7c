// An existing .xlsx workbook that new sheets are added to. At open it reads the package's
// [Content_Types].xml, its relationships (_rels/.rels names the workbook part, wherever it is),
// the workbook part and its relationships, the styles part and docProps/app.xml, and refuses what
// it cannot add to without harm (PackageRefused: not a zip, encrypted, no workbook, Strict Open
// XML, damaged, a part in a shape it cannot change). It tells the names of the sheets there, the
// next free sheetId, worksheet part number and relationship id, and the cell styles new cells use
// (a bold font and the header, date, date-time and time formats, added at the end of the styles'
// lists, so that every index the workbook already uses keeps its meaning; those it holds already,
// as the driver adds them, are used again).
//
// A workbook without a styles part gets a new workbook's (NewStylesXml) added.
//
// At write-out the package is written again into a new zip: every entry in its order, copied raw
// (its compressed bytes as stored) except the parts that change, which are written rewritten in
// their place. A rewritten part is the original text with the new elements inserted into it, so
// everything else in it stays byte for byte; new elements take the namespace prefix their parent
// element uses. xl/sharedStrings.xml is never changed: new cells hold inline strings. The new
// sheets' parts are then added by the writer.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drivers/xlsx/WorkbookParts.h"
#include "drivers/xlsx/ZipReader.h"

namespace quillon::drivers::xlsx {

class ZipWriter;

class ExistingWorkbook {
 public:
  // Reads the package open at `fd` (UTF-8 `path` names it in I/O errors). Throws PackageRefused
  // or odbc::errors::IoError.
  ExistingWorkbook(int fd, std::string path);
  ~ExistingWorkbook();
  ExistingWorkbook(const ExistingWorkbook&) = delete;
  ExistingWorkbook& operator=(const ExistingWorkbook&) = delete;

  // The sheets there, the next free ids and part number, the cell styles new cells use.
  const WorkbookBase& Base() const { return m_base; }

  // The parts that change when `sheets` are added, by part name, with their new text.
  std::map<std::string, std::string> RewrittenParts(const std::vector<SheetEntry>& sheets) const;
  // Writes every entry of the package into `zip` in its order: raw copies, and the parts that
  // change rewritten in their place (and a styles part, when it had none). Throws as ZipWriter
  // does, or PackageRefused for an entry that cannot be read.
  void WriteInto(ZipWriter& zip, const std::vector<SheetEntry>& sheets);

  // Each sheet's first row (row 1) as texts, in the order of Base().sheetNames: a cell without
  // text by Jet's name F1, F2, ...; nothing for a sheet whose first row is empty. Only reads.
  // Throws PackageRefused for a part that cannot be read.
  std::vector<std::vector<std::wstring>> SheetHeaders();

  struct Part;  // a parsed part: its text, tree and element spans

 private:
  std::unique_ptr<Part> ReadPart(const std::string& name, bool required);
  void ReadStyles();

  ZipReader m_zip;
  std::string m_workbookPart;
  std::string m_workbookRelsPart;
  std::string m_stylesPart;
  std::uint32_t m_newStylesRelationship = 0;  // not 0: the styles part is new, related by this rId
  std::string m_appPart;                      // empty when the package has none
  std::unique_ptr<Part> m_contentTypes;
  std::unique_ptr<Part> m_workbook;
  std::unique_ptr<Part> m_workbookRels;
  std::unique_ptr<Part> m_app;
  std::string m_newStyles;  // the styles part with the added entries; empty when it keeps its text
  WorkbookBase m_base;
};

}  // namespace quillon::drivers::xlsx
