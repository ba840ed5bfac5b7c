// The names and limits of an Office Open XML workbook (SpreadsheetML in an OPC zip package) that
// the .xlsx driver writes: part paths, namespaces, content types, relationship types, number
// format codes, the sheet's limits and the zip entries' settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillon::drivers::xlsx::sml {

// --- Parts of the package (zip entry names, without the leading '/') ---
inline constexpr std::string_view kContentTypesPart = "[Content_Types].xml";
inline constexpr std::string_view kPackageRelsPart = "_rels/.rels";
inline constexpr std::string_view kAppPropertiesPart = "docProps/app.xml";
inline constexpr std::string_view kCorePropertiesPart = "docProps/core.xml";
inline constexpr std::string_view kWorkbookPart = "xl/workbook.xml";
inline constexpr std::string_view kWorkbookRelsPart = "xl/_rels/workbook.xml.rels";
inline constexpr std::string_view kStylesPart = "xl/styles.xml";
// xl/worksheets/sheet<N>.xml; a workbook relationship's target is relative to xl/.
inline constexpr std::string_view kWorksheetPartPrefix = "xl/worksheets/sheet";
inline constexpr std::string_view kWorksheetTargetPrefix = "worksheets/sheet";
inline constexpr std::string_view kStylesTarget = "styles.xml";
inline constexpr std::string_view kPartSuffix = ".xml";
inline constexpr std::string_view kRelationshipIdPrefix = "rId";

// --- XML ---
inline constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
inline constexpr std::string_view kMainNamespace = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline constexpr std::string_view kRelationshipsNamespace =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr std::string_view kPackageRelationshipsNamespace =
    "http://schemas.openxmlformats.org/package/2006/relationships";
inline constexpr std::string_view kContentTypesNamespace =
    "http://schemas.openxmlformats.org/package/2006/content-types";
inline constexpr std::string_view kExtendedPropertiesNamespace =
    "http://schemas.openxmlformats.org/officeDocument/2006/extended-properties";
inline constexpr std::string_view kDocPropsVTypesNamespace =
    "http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes";
inline constexpr std::string_view kCorePropertiesNamespace =
    "http://schemas.openxmlformats.org/package/2006/metadata/core-properties";
inline constexpr std::string_view kDublinCoreNamespace = "http://purl.org/dc/elements/1.1/";
inline constexpr std::string_view kDublinCoreTermsNamespace = "http://purl.org/dc/terms/";
inline constexpr std::string_view kXmlSchemaInstanceNamespace = "http://www.w3.org/2001/XMLSchema-instance";

// --- Content types ---
inline constexpr std::string_view kRelationshipsContentType =
    "application/vnd.openxmlformats-package.relationships+xml";
inline constexpr std::string_view kXmlContentType = "application/xml";
inline constexpr std::string_view kWorkbookContentType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
inline constexpr std::string_view kWorksheetContentType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";
inline constexpr std::string_view kStylesContentType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml";
inline constexpr std::string_view kCorePropertiesContentType =
    "application/vnd.openxmlformats-package.core-properties+xml";
inline constexpr std::string_view kExtendedPropertiesContentType =
    "application/vnd.openxmlformats-officedocument.extended-properties+xml";

// --- Relationship types ---
inline constexpr std::string_view kOfficeDocumentRelationship =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
inline constexpr std::string_view kCorePropertiesRelationship =
    "http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties";
inline constexpr std::string_view kExtendedPropertiesRelationship =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/extended-properties";
inline constexpr std::string_view kWorksheetRelationship =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";
inline constexpr std::string_view kStylesRelationship =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles";
inline constexpr std::string_view kSharedStringsRelationship =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings";

// --- Names and properties ---
// The hidden defined name that holds a sheet's AutoFilter range.
inline constexpr std::string_view kFilterDatabaseName = "_xlnm._FilterDatabase";
inline constexpr std::string_view kApplicationName = "Quillon";
inline constexpr std::string_view kWorksheetsHeading = "Worksheets";

// --- Number formats: the first id a workbook may define, and the driver's codes ---
inline constexpr unsigned kFirstCustomNumberFormat = 164;
inline constexpr std::string_view kDateFormatCode = "yyyy-mm-dd";
inline constexpr std::string_view kDateTimeFormatCode = "yyyy-mm-dd hh:mm:ss";
inline constexpr std::string_view kTimeFormatCode = "hh:mm:ss";

// --- Cells ---
// Cell types (the t attribute).
inline constexpr std::string_view kBooleanCell = "b";
inline constexpr std::string_view kErrorCell = "e";
inline constexpr std::string_view kInlineStringCell = "inlineStr";
// The error a number without a value shows (NaN, the infinities).
inline constexpr std::string_view kNumError = "#NUM!";
// A character XML cannot hold (or an underscore that would be read as starting one) is written
// as _xHHHH_, four hexadecimal digits of its UTF-16 unit.
inline constexpr std::string_view kEscapeStart = "_x";
inline constexpr char kEscapeEnd = '_';
inline constexpr std::size_t kEscapeHexDigits = 4;

// --- Sheet names: control characters (below the first printable one) become the replacement ---
inline constexpr wchar_t kFirstPrintable = 0x20;
inline constexpr wchar_t kSheetNameReplacement = L'_';

// --- Limits of a worksheet ---
inline constexpr std::uint32_t kMaxRows = 1048576;  // the header row included
// Whole numbers below this (15 digits, the precision a cell shows) are written as integers.
inline constexpr double kMaxExactWholeNumber = 1e15;
inline constexpr std::uint32_t kMaxColumns = 16384;
inline constexpr std::size_t kMaxCellChars = 32767;  // UTF-16 units of a cell's text
inline constexpr int kColumnLetters = 26;

// Excel's first day (serial 1) is 1900-01-01; it counts a 29 February 1900 that never was, so its
// serials agree with days since 1899-12-30 only from 1900-03-01 (serial 61) on. A workbook that
// counts from 1904 has its serials this many days lower.
inline constexpr double kFirstExcelDay = 2.0;     // 1900-01-01 in days since 1899-12-30
inline constexpr double kFirstTrueSerial = 61.0;  // 1900-03-01
inline constexpr double k1904Offset = 1462.0;

// --- Column widths (in characters of the default font's digits) ---
inline constexpr double kMinColumnWidth = 8.43;  // Excel's default width
inline constexpr double kMaxColumnWidth = 80.0;
inline constexpr double kColumnWidthPadding = 2.0;
inline constexpr double kHeaderWidthPadding = 4.0;  // bold, and the AutoFilter's button beside the name
// Rows of a sheet held back as text to fit its column widths before the sheet is streamed, and
// the most text held back for them.
inline constexpr std::uint32_t kWidthSampleRows = 100;
inline constexpr std::size_t kWidthSampleBytes = 4 << 20;

// --- Zip entries ---
// Sizes at or above this need the zip64 extension.
inline constexpr std::uint64_t kZip32Limit = 0xFFFFFFFFu;
// zlib's raw deflate (no zlib header): negative window bits.
inline constexpr int kRawDeflateWindowBits = -15;
inline constexpr int kDeflateMemoryLevel = 8;

}  // namespace quillon::drivers::xlsx::sml
