#include "drivers/xlsx/Styles.h"

#include "drivers/xlsx/SpreadsheetML.h"

namespace quillon::drivers::xlsx {
namespace {

constexpr unsigned kDateFormatId = sml::kFirstCustomNumberFormat;
constexpr unsigned kDateTimeFormatId = sml::kFirstCustomNumberFormat + 1;
constexpr unsigned kTimeFormatId = sml::kFirstCustomNumberFormat + 2;
constexpr unsigned kRegularFont = 0, kBoldFont = 1;
constexpr std::string_view kFont = "<sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/>";

std::string NumberFormat(unsigned id, std::string_view code) {
  return "<numFmt numFmtId=\"" + std::to_string(id) + "\" formatCode=\"" + std::string(code) + "\"/>";
}

std::string CellFormat(unsigned numberFormat, unsigned font) {
  std::string xf = "<xf numFmtId=\"" + std::to_string(numberFormat) + "\" fontId=\"" + std::to_string(font) +
                   "\" fillId=\"0\" borderId=\"0\" xfId=\"0\"";
  if (font != kRegularFont) xf += " applyFont=\"1\"";
  if (numberFormat != 0) xf += " applyNumberFormat=\"1\"";
  return xf + "/>";
}

}  // namespace

std::string NewStylesXml() {
  // The cell formats in the order CellStyles{} gives their indexes.
  constexpr CellStyles kIndexes;
  static_assert(kIndexes.header == 1 && kIndexes.date == 2 && kIndexes.dateTime == 3 && kIndexes.time == 4);
  std::string xml(sml::kXmlDeclaration);
  xml += "<styleSheet xmlns=\"" + std::string(sml::kMainNamespace) + "\">";
  xml += "<numFmts count=\"3\">" + NumberFormat(kDateFormatId, sml::kDateFormatCode) +
         NumberFormat(kDateTimeFormatId, sml::kDateTimeFormatCode) + NumberFormat(kTimeFormatId, sml::kTimeFormatCode) +
         "</numFmts>";
  xml +=
      "<fonts count=\"2\"><font>" + std::string(kFont) + "</font><font><b/>" + std::string(kFont) + "</font></fonts>";
  xml +=
      "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
      "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
      "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
      "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>";
  xml += "<cellXfs count=\"5\">" + CellFormat(0, kRegularFont) + CellFormat(0, kBoldFont) +
         CellFormat(kDateFormatId, kRegularFont) + CellFormat(kDateTimeFormatId, kRegularFont) +
         CellFormat(kTimeFormatId, kRegularFont) + "</cellXfs>";
  xml +=
      "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
      "<dxfs count=\"0\"/><tableStyles count=\"0\"/></styleSheet>";
  return xml;
}

}  // namespace quillon::drivers::xlsx
