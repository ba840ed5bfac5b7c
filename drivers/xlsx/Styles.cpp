#include "drivers/xlsx/Styles.h"

#include <iterator>

#include "drivers/xlsx/SpreadsheetML.h"

namespace quillon::drivers::xlsx {
namespace {

constexpr unsigned kRegularFont = 0, kBoldFont = 1;
constexpr std::string_view kFont = "<sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/>";

struct NumberFormat {
  unsigned id;
  std::string_view code;
};
constexpr NumberFormat kDateFormat{sml::kFirstCustomNumberFormat, sml::kDateFormatCode};
constexpr NumberFormat kDateTimeFormat{sml::kFirstCustomNumberFormat + 1, sml::kDateTimeFormatCode};
constexpr NumberFormat kTimeFormat{sml::kFirstCustomNumberFormat + 2, sml::kTimeFormatCode};
constexpr NumberFormat kNumberFormats[] = {kDateFormat, kDateTimeFormat, kTimeFormat};

struct CellFormat {
  unsigned numberFormat;  // 0: General
  unsigned font;
};
// The cell formats in the order CellStyles{} gives their indexes.
constexpr CellFormat kCellFormats[] = {{0, kRegularFont},
                                       {0, kBoldFont},
                                       {kDateFormat.id, kRegularFont},
                                       {kDateTimeFormat.id, kRegularFont},
                                       {kTimeFormat.id, kRegularFont}};
constexpr CellStyles kIndexes;
static_assert(kIndexes.header == 1 && kIndexes.date == 2 && kIndexes.dateTime == 3 && kIndexes.time == 4 &&
              std::size(kCellFormats) == 5);

std::string Count(std::size_t n) { return " count=\"" + std::to_string(n) + "\">"; }

}  // namespace

std::string NewStylesXml() {
  std::string xml(sml::kXmlDeclaration);
  xml += "<styleSheet xmlns=\"" + std::string(sml::kMainNamespace) + "\">";
  xml += "<numFmts" + Count(std::size(kNumberFormats));
  for (const NumberFormat& format : kNumberFormats) {
    xml += "<numFmt numFmtId=\"" + std::to_string(format.id) + "\" formatCode=\"" + std::string(format.code) + "\"/>";
  }
  xml += "</numFmts><fonts count=\"2\"><font>" + std::string(kFont) + "</font><font><b/>" + std::string(kFont) +
         "</font></fonts>";
  xml +=
      "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
      "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
      "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
      "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>";
  xml += "<cellXfs" + Count(std::size(kCellFormats));
  for (const CellFormat& format : kCellFormats) {
    xml += "<xf numFmtId=\"" + std::to_string(format.numberFormat) + "\" fontId=\"" + std::to_string(format.font) +
           "\" fillId=\"0\" borderId=\"0\" xfId=\"0\"";
    if (format.font != kRegularFont) xml += " applyFont=\"1\"";
    if (format.numberFormat != 0) xml += " applyNumberFormat=\"1\"";
    xml += "/>";
  }
  xml +=
      "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
      "<dxfs count=\"0\"/><tableStyles count=\"0\"/></styleSheet>";
  return xml;
}

}  // namespace quillon::drivers::xlsx
