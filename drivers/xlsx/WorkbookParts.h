// What the package around the sheets holds: the workbook the new sheets join (WorkbookBase:
// empty for a new workbook, read from the file for an existing one), the new sheets as the
// package names them (SheetEntry), and the parts of a new workbook. The pieces for each new sheet
// (its <sheet> element, its relationship, its content type, its AutoFilter's defined name) come
// one function each, so that the parts of an existing workbook can take them in as well.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "drivers/xlsx/Styles.h"

namespace quillon::drivers::xlsx {

class ZipWriter;

// The workbook the driver's sheets are added to.
struct WorkbookBase {
  std::vector<std::u16string> sheetNames;  // the sheets it has, in order (their count is the
                                           // first new sheet's index, localSheetId)
  std::uint32_t nextSheetId = 1;           // the first sheetId no sheet uses
  std::uint32_t nextPartNumber = 1;        // the first N without a part xl/worksheets/sheetN.xml
  std::uint32_t nextRelationshipId = 1;    // the first N without an Id rIdN in workbook.xml.rels
  CellStyles styles;                       // where the driver's cell formats are
  bool date1904 = false;                   // dates count from 1904-01-01
};

// A new sheet as the package names it.
struct SheetEntry {
  std::string name;                // UTF-8
  std::uint32_t index = 0;         // its place among all sheets, from 0 (localSheetId)
  std::uint32_t sheetId = 0;       // <sheet sheetId>
  std::uint32_t partNumber = 0;    // xl/worksheets/sheetN.xml
  std::uint32_t relationship = 0;  // rIdN
  std::string filterRange;         // its AutoFilter's range, absolute: $A$1:$C$10
};

// Names the new sheets (`names` in UTF-8, in order) after the base's sheets, parts and ids.
std::vector<SheetEntry> NumberSheets(const WorkbookBase& base, const std::vector<std::string>& names);

// The worksheet part's path in the package, xl/worksheets/sheetN.xml.
std::string WorksheetPart(const SheetEntry& sheet);
// <sheet name=".." sheetId=".." r:id=".."/> for <sheets>.
std::string SheetElement(const SheetEntry& sheet);
// <definedName name="_xlnm._FilterDatabase" localSheetId=".." hidden="1">'name'!range</definedName>
// for <definedNames>.
std::string FilterDefinedName(const SheetEntry& sheet);
// <Relationship Id="rIdN" Type="..worksheet" Target="worksheets/sheetN.xml"/> for workbook.xml.rels.
std::string SheetRelationship(const SheetEntry& sheet);
// <Override PartName="/xl/worksheets/sheetN.xml" ContentType="..worksheet+xml"/> for
// [Content_Types].xml.
std::string SheetContentType(const SheetEntry& sheet);

// Adds the parts of a new workbook holding `sheets` (all of them new) to `zip`, in the order
// Excel writes them: [Content_Types].xml, _rels/.rels, docProps/app.xml, docProps/core.xml,
// xl/workbook.xml, xl/_rels/workbook.xml.rels, xl/styles.xml. The sheets' own parts follow.
void WriteNewWorkbookParts(ZipWriter& zip, const std::vector<SheetEntry>& sheets);

// Text escaped for XML content and attribute values (& < > " as entities).
std::string XmlEscaped(std::string_view utf8);

}  // namespace quillon::drivers::xlsx
