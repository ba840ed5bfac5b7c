#include "drivers/xlsx/WorkbookParts.h"

#include <ctime>

#include "drivers/OutputDriver.h"
#include "drivers/xlsx/SpreadsheetML.h"
#include "drivers/xlsx/ZipWriter.h"

namespace quillon::drivers::xlsx {
namespace {

std::string Str(std::string_view text) { return std::string(text); }
std::string Num(std::uint64_t n) { return std::to_string(n); }

std::string Attribute(std::string_view name, std::string_view value) {
  return " " + Str(name) + "=\"" + XmlEscaped(value) + "\"";
}

// The package's own relationships: the workbook and its properties.
std::string PackageRels() {
  std::string xml =
      Str(sml::kXmlDeclaration) + "<Relationships" + Attribute("xmlns", sml::kPackageRelationshipsNamespace) + ">";
  const std::string_view parts[][2] = {{sml::kOfficeDocumentRelationship, sml::kWorkbookPart},
                                       {sml::kCorePropertiesRelationship, sml::kCorePropertiesPart},
                                       {sml::kExtendedPropertiesRelationship, sml::kAppPropertiesPart}};
  std::uint32_t id = 1;
  for (const auto& [type, target] : parts) {
    xml += "<Relationship" + Attribute("Id", Str(sml::kRelationshipIdPrefix) + Num(id++)) + Attribute("Type", type) +
           Attribute("Target", target) + "/>";
  }
  return xml + "</Relationships>";
}

std::string ContentTypes(const std::vector<SheetEntry>& sheets) {
  std::string xml = Str(sml::kXmlDeclaration) + "<Types" + Attribute("xmlns", sml::kContentTypesNamespace) + ">";
  xml += "<Default Extension=\"rels\"" + Attribute("ContentType", sml::kRelationshipsContentType) + "/>";
  xml += "<Default Extension=\"xml\"" + Attribute("ContentType", sml::kXmlContentType) + "/>";
  const auto override = [&xml](std::string_view part, std::string_view type) {
    xml += "<Override" + Attribute("PartName", "/" + Str(part)) + Attribute("ContentType", type) + "/>";
  };
  override(sml::kWorkbookPart, sml::kWorkbookContentType);
  for (const SheetEntry& sheet : sheets) xml += SheetContentType(sheet);
  override(sml::kStylesPart, sml::kStylesContentType);
  override(sml::kCorePropertiesPart, sml::kCorePropertiesContentType);
  override(sml::kAppPropertiesPart, sml::kExtendedPropertiesContentType);
  return xml + "</Types>";
}

// docProps/app.xml: the application, and the sheets' names as Excel lists them.
std::string AppProperties(const std::vector<SheetEntry>& sheets) {
  std::string xml = Str(sml::kXmlDeclaration) + "<Properties" + Attribute("xmlns", sml::kExtendedPropertiesNamespace) +
                    Attribute("xmlns:vt", sml::kDocPropsVTypesNamespace) + ">";
  xml += "<Application>" + XmlEscaped(sml::kApplicationName) + "</Application>";
  xml += "<HeadingPairs><vt:vector size=\"2\" baseType=\"variant\"><vt:variant><vt:lpstr>" +
         XmlEscaped(sml::kWorksheetsHeading) + "</vt:lpstr></vt:variant><vt:variant><vt:i4>" + Num(sheets.size()) +
         "</vt:i4></vt:variant></vt:vector></HeadingPairs>";
  xml += "<TitlesOfParts><vt:vector size=\"" + Num(sheets.size()) + "\" baseType=\"lpstr\">";
  for (const SheetEntry& sheet : sheets) xml += "<vt:lpstr>" + XmlEscaped(sheet.name) + "</vt:lpstr>";
  return xml + "</vt:vector></TitlesOfParts></Properties>";
}

// docProps/core.xml: the author and the time the workbook was made, in UTC.
std::string CoreProperties() {
  const std::time_t now = FileTime();
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::string xml =
      Str(sml::kXmlDeclaration) + "<cp:coreProperties" + Attribute("xmlns:cp", sml::kCorePropertiesNamespace) +
      Attribute("xmlns:dc", sml::kDublinCoreNamespace) + Attribute("xmlns:dcterms", sml::kDublinCoreTermsNamespace) +
      Attribute("xmlns:xsi", sml::kXmlSchemaInstanceNamespace) + ">";
  xml += "<dc:creator>" + XmlEscaped(sml::kApplicationName) + "</dc:creator>";
  for (const char* element : {"dcterms:created", "dcterms:modified"}) {
    xml += "<" + Str(element) + " xsi:type=\"dcterms:W3CDTF\">" + stamp + "</" + element + ">";
  }
  return xml + "</cp:coreProperties>";
}

}  // namespace

namespace {

std::string Workbook(const std::vector<SheetEntry>& sheets) {
  std::string xml = Str(sml::kXmlDeclaration) + "<workbook" + Attribute("xmlns", sml::kMainNamespace) +
                    Attribute("xmlns:r", sml::kRelationshipsNamespace) + ">";
  xml += "<workbookPr/><bookViews><workbookView activeTab=\"0\"/></bookViews><sheets>";
  for (const SheetEntry& sheet : sheets) xml += SheetElement(sheet);
  xml += "</sheets><definedNames>";
  for (const SheetEntry& sheet : sheets) xml += FilterDefinedName(sheet);
  return xml + "</definedNames></workbook>";
}

// xl/_rels/workbook.xml.rels: the sheets, then the styles.
std::string WorkbookRels(const std::vector<SheetEntry>& sheets) {
  std::string xml =
      Str(sml::kXmlDeclaration) + "<Relationships" + Attribute("xmlns", sml::kPackageRelationshipsNamespace) + ">";
  std::uint32_t next = 1;
  for (const SheetEntry& sheet : sheets) {
    xml += SheetRelationship(sheet);
    next = std::max(next, sheet.relationship + 1);
  }
  xml += "<Relationship" + Attribute("Id", Str(sml::kRelationshipIdPrefix) + Num(next)) +
         Attribute("Type", sml::kStylesRelationship) + Attribute("Target", sml::kStylesTarget) + "/>";
  return xml + "</Relationships>";
}

}  // namespace

std::string XmlEscaped(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::vector<SheetEntry> NumberSheets(const WorkbookBase& base, const std::vector<std::string>& names) {
  std::vector<SheetEntry> sheets;
  for (std::size_t i = 0; i < names.size(); ++i) {
    SheetEntry sheet;
    const auto n = static_cast<std::uint32_t>(i);
    sheet.name = names[i];
    sheet.index = static_cast<std::uint32_t>(base.sheetNames.size()) + n;
    sheet.sheetId = base.nextSheetId + n;
    sheet.partNumber = base.nextPartNumber + n;
    sheet.relationship = base.nextRelationshipId + n;
    sheets.push_back(std::move(sheet));
  }
  return sheets;
}

std::string WorksheetPart(const SheetEntry& sheet) {
  return Str(sml::kWorksheetPartPrefix) + Num(sheet.partNumber) + Str(sml::kPartSuffix);
}

std::string SheetElement(const SheetEntry& sheet) {
  return "<sheet" + Attribute("name", sheet.name) + Attribute("sheetId", Num(sheet.sheetId)) +
         Attribute("r:id", Str(sml::kRelationshipIdPrefix) + Num(sheet.relationship)) + "/>";
}

std::string FilterDefinedName(const SheetEntry& sheet) {
  // A sheet name in a reference is quoted, its apostrophes doubled.
  std::string quoted = "'";
  for (char c : sheet.name) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  quoted += "'!" + sheet.filterRange;
  return "<definedName" + Attribute("name", sml::kFilterDatabaseName) + Attribute("localSheetId", Num(sheet.index)) +
         " hidden=\"1\">" + XmlEscaped(quoted) + "</definedName>";
}

std::string SheetRelationship(const SheetEntry& sheet) {
  return "<Relationship" + Attribute("Id", Str(sml::kRelationshipIdPrefix) + Num(sheet.relationship)) +
         Attribute("Type", sml::kWorksheetRelationship) +
         Attribute("Target", Str(sml::kWorksheetTargetPrefix) + Num(sheet.partNumber) + Str(sml::kPartSuffix)) + "/>";
}

std::string SheetContentType(const SheetEntry& sheet) {
  return "<Override" + Attribute("PartName", "/" + WorksheetPart(sheet)) +
         Attribute("ContentType", sml::kWorksheetContentType) + "/>";
}

void WriteNewWorkbookParts(ZipWriter& zip, const std::vector<SheetEntry>& sheets) {
  zip.AddDeflated(sml::kContentTypesPart, ContentTypes(sheets));
  zip.AddDeflated(sml::kPackageRelsPart, PackageRels());
  zip.AddDeflated(sml::kAppPropertiesPart, AppProperties(sheets));
  zip.AddDeflated(sml::kCorePropertiesPart, CoreProperties());
  zip.AddDeflated(sml::kWorkbookPart, Workbook(sheets));
  zip.AddDeflated(sml::kWorkbookRelsPart, WorkbookRels(sheets));
  zip.AddDeflated(sml::kStylesPart, NewStylesXml());
}

}  // namespace quillon::drivers::xlsx
