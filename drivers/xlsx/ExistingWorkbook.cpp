#include "drivers/xlsx/ExistingWorkbook.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <string_view>
#include <unordered_map>

#include "drivers/xlsx/SpreadsheetML.h"
#include "drivers/xlsx/Styles.h"
#include "drivers/xlsx/ZipWriter.h"
#include "platform/errors/Errors.h"
#include "platform/loader/SharedLibrary.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::xlsx {
namespace {

namespace errors = odbc::errors;

// libxml2, loaded the first time an existing workbook's parts are read: a run that only writes
// new workbooks never maps it. Each pointer is named as the library names it. libxml2 stays
// loaded: the state it keeps for each thread that parsed is released when that thread ends.
constexpr const char* kXmlLibrary = "libxml2.so.2";
struct Xml {
  // The library sets itself up on first use, which two threads must not do at once.
  Xml() { xmlInitParser(); }
  // Releases what the library allocated. Its xmlFree is a variable holding the function.
  void Free(void* memory) const { (*freeFunction)(memory); }

  loader::SharedLibrary library{kXmlLibrary};
  QUILLON_LIBRARY_FUNCTION(xmlInitParser);
  QUILLON_LIBRARY_FUNCTION(xmlReadMemory);
  QUILLON_LIBRARY_FUNCTION(xmlDocGetRootElement);
  QUILLON_LIBRARY_FUNCTION(xmlFreeDoc);
  QUILLON_LIBRARY_FUNCTION(xmlGetNsProp);
  QUILLON_LIBRARY_FUNCTION(xmlGetNoNsProp);
  QUILLON_LIBRARY_FUNCTION(xmlNodeGetContent);
  QUILLON_LIBRARY_FUNCTION(xmlSearchNsByHref);
  QUILLON_LIBRARY_FUNCTION(xmlStrEqual);
  xmlFreeFunc* freeFunction = static_cast<xmlFreeFunc*>(library.Symbol("xmlFree"));
};

// Loads libxml2 once for the process (again on the next call when loading failed); throws
// odbc::errors::LibraryNotLoaded when it cannot.
const Xml& XmlLibrary() {
  static const Xml xml;
  return xml;
}

// Namespaces as libxml2 compares them (C strings).
constexpr const char* kMainNs = sml::kMainNamespace.data();
constexpr const char* kRelationshipsNs = sml::kRelationshipsNamespace.data();
constexpr const char* kPackageRelationshipsNs = sml::kPackageRelationshipsNamespace.data();
constexpr const char* kContentTypesNs = sml::kContentTypesNamespace.data();
constexpr const char* kExtendedPropertiesNs = sml::kExtendedPropertiesNamespace.data();
constexpr const char* kVariantTypesNs = sml::kDocPropsVTypesNamespace.data();
// Strict Open XML's, which the driver does not add to.
constexpr const char* kStrictMainNs = "http://purl.oclc.org/ooxml/spreadsheetml/main";
constexpr std::string_view kStrictOfficeDocumentType =
    "http://purl.oclc.org/ooxml/officeDocument/relationships/officeDocument";

// Content types of a workbook's main part that sheets are added to: a workbook, a template,
// either with macros.
constexpr std::string_view kWorkbookContentTypes[] = {
    sml::kWorkbookContentType,
    "application/vnd.ms-excel.sheet.macroEnabled.main+xml",
    "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml",
    "application/vnd.ms-excel.template.macroEnabled.main+xml",
};

// A part's relationships are in <folder>_rels/<name>.rels.
constexpr std::string_view kRelationshipsFolder = "_rels/";
constexpr std::string_view kRelationshipsSuffix = ".rels";
// The most a part the driver reads may inflate to.
constexpr std::size_t kMaxPartSize = 64u << 20;
// Ids and part numbers are 32-bit; one of the last value leaves none free after it.
constexpr long long kMaxId = 0xFFFFFFFF;

// An attribute of a start tag as it stands in the text: its name and where its value is.
struct AttributeSpan {
  std::string qname;
  std::size_t valueBegin = 0;
  std::size_t valueEnd = 0;
};

// An element as it stands in the text: its start tag [open, openEnd) and end tag [close,
// closeEnd); an empty-element tag has close == closeEnd == openEnd.
struct ElementSpan {
  std::string qname;
  std::size_t open = 0;
  std::size_t openEnd = 0;
  std::size_t close = 0;
  std::size_t closeEnd = 0;
  bool empty = false;
  std::vector<AttributeSpan> attributes;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Finds where each element of well-formed XML (libxml2 has parsed it before) stands, in
// document order. False for markup it does not place: a document type declaration, tags that
// do not nest.
bool ScanElements(const std::string& text, std::vector<ElementSpan>& spans) {
  std::vector<std::size_t> open;
  const auto skipTo = [&text](std::size_t from, std::string_view end) {
    const std::size_t found = text.find(end, from);
    return found == std::string::npos ? found : found + end.size();
  };
  std::size_t i = 0;
  while ((i = text.find('<', i)) != std::string::npos) {
    const std::string_view rest = std::string_view(text).substr(i);
    if (rest.starts_with("<!--")) {
      i = skipTo(i + 4, "-->");
    } else if (rest.starts_with("<![CDATA[")) {
      i = skipTo(i + 9, "]]>");
    } else if (rest.starts_with("<?")) {
      i = skipTo(i + 2, "?>");
    } else if (rest.starts_with("<!")) {
      return false;
    } else if (rest.starts_with("</")) {
      const std::size_t end = text.find('>', i);
      if (end == std::string::npos || open.empty()) return false;
      ElementSpan& span = spans[open.back()];
      std::size_t nameEnd = i + 2;
      while (nameEnd < end && !IsSpace(text[nameEnd])) ++nameEnd;
      if (text.compare(i + 2, nameEnd - i - 2, span.qname) != 0) return false;
      span.close = i;
      span.closeEnd = end + 1;
      open.pop_back();
      i = end + 1;
    } else {
      ElementSpan span;
      span.open = i;
      std::size_t j = i + 1;
      while (j < text.size() && !IsSpace(text[j]) && text[j] != '/' && text[j] != '>') ++j;
      span.qname = text.substr(i + 1, j - i - 1);
      for (;;) {
        while (j < text.size() && IsSpace(text[j])) ++j;
        if (j >= text.size()) return false;
        if (text[j] == '>') {
          span.openEnd = j + 1;
          break;
        }
        if (text.compare(j, 2, "/>") == 0) {
          span.openEnd = span.close = span.closeEnd = j + 2;
          span.empty = true;
          break;
        }
        AttributeSpan attribute;
        const std::size_t nameBegin = j;
        while (j < text.size() && !IsSpace(text[j]) && text[j] != '=') ++j;
        attribute.qname = text.substr(nameBegin, j - nameBegin);
        while (j < text.size() && IsSpace(text[j])) ++j;
        if (j >= text.size() || text[j] != '=') return false;
        ++j;
        while (j < text.size() && IsSpace(text[j])) ++j;
        if (j >= text.size() || (text[j] != '"' && text[j] != '\'')) return false;
        const std::size_t valueEnd = text.find(text[j], j + 1);
        if (valueEnd == std::string::npos) return false;
        attribute.valueBegin = j + 1;
        attribute.valueEnd = valueEnd;
        span.attributes.push_back(std::move(attribute));
        j = valueEnd + 1;
      }
      if (!span.empty) open.push_back(spans.size());
      i = span.openEnd;
      spans.push_back(std::move(span));
    }
    if (i == std::string::npos) return false;
  }
  return open.empty();
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

bool Is(const xmlNode* node, const char* ns, const char* local) {
  return node != nullptr && node->type == XML_ELEMENT_NODE && node->ns != nullptr &&
         XmlLibrary().xmlStrEqual(node->ns->href, BAD_CAST ns) && XmlLibrary().xmlStrEqual(node->name, BAD_CAST local);
}

std::vector<const xmlNode*> Children(const xmlNode* parent, const char* ns, const char* local) {
  std::vector<const xmlNode*> found;
  for (const xmlNode* child = parent != nullptr ? parent->children : nullptr; child != nullptr; child = child->next) {
    if (Is(child, ns, local)) found.push_back(child);
  }
  return found;
}

const xmlNode* Child(const xmlNode* parent, const char* ns, const char* local) {
  const auto found = Children(parent, ns, local);
  return found.empty() ? nullptr : found.front();
}

// An attribute's value (in namespace `ns`, or in none), decoded; empty when absent.
std::string Attribute(const xmlNode* node, const char* name, const char* ns = nullptr) {
  if (node == nullptr) return {};
  const Xml& xml = XmlLibrary();
  xmlChar* value =
      ns != nullptr ? xml.xmlGetNsProp(node, BAD_CAST name, BAD_CAST ns) : xml.xmlGetNoNsProp(node, BAD_CAST name);
  std::string result = value != nullptr ? reinterpret_cast<const char*>(value) : "";
  xml.Free(value);
  return result;
}

std::string Content(const xmlNode* node) {
  const Xml& xml = XmlLibrary();
  xmlChar* value = xml.xmlNodeGetContent(node);
  std::string result = value != nullptr ? reinterpret_cast<const char*>(value) : "";
  xml.Free(value);
  return result;
}

// A whole number of up to 32 bits, or -1.
long long Number(std::string_view text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() ? static_cast<long long>(value) : -1;
}

// The folder of a part name ("xl/" for "xl/workbook.xml"), with its '/'.
std::string FolderOf(const std::string& part) {
  const std::size_t slash = part.rfind('/');
  return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

// The part name (no leading '/') a relationship's target names from a part in `folder`;
// empty when it leaves the package.
std::string ResolveTarget(const std::string& folder, const std::string& target) {
  std::string decoded;
  for (std::size_t i = 0; i < target.size(); ++i) {
    int value = 0;
    if (target[i] == '%' && i + 2 < target.size() &&
        std::from_chars(target.data() + i + 1, target.data() + i + 3, value, 16).ptr == target.data() + i + 3) {
      decoded += static_cast<char>(value);
      i += 2;
    } else {
      decoded += target[i];
    }
  }
  const std::string path = decoded.starts_with('/') ? decoded.substr(1) : folder + decoded;
  std::vector<std::string> segments;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t slash = path.find('/', begin);
    const std::string segment = path.substr(begin, slash - begin);
    if (segment == "..") {
      if (segments.empty()) return {};
      segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    if (slash == std::string::npos) break;
    begin = slash + 1;
  }
  std::string resolved;
  for (const auto& segment : segments) resolved += (resolved.empty() ? "" : "/") + segment;
  return resolved;
}

// A relationship's target from a part in `folder` to `part`: relative when it is in the folder.
std::string TargetFrom(const std::string& folder, const std::string& part) {
  return part.starts_with(folder) ? part.substr(folder.size()) : "/" + part;
}

// The name to give an element added under `parent`: `local` with the parent's prefix.
std::string Prefixed(const ElementSpan& parent, std::string_view local) {
  const std::size_t colon = parent.qname.find(':');
  return (colon == std::string::npos ? std::string() : parent.qname.substr(0, colon + 1)) + std::string(local);
}

// A change of a part's text: `length` bytes at `at` replaced by `text`.
struct Edit {
  std::size_t at = 0;
  std::size_t length = 0;
  std::string text;
};

std::string Applied(std::string text, std::vector<Edit> edits) {
  std::stable_sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at > b.at; });
  for (const auto& edit : edits) text.replace(edit.at, edit.length, edit.text);
  return text;
}

}  // namespace

struct ExistingWorkbook::Part {
  std::string name;
  std::string text;
  xmlDocPtr doc = nullptr;
  std::vector<ElementSpan> spans;
  std::unordered_map<const xmlNode*, std::size_t> order;

  ~Part() {
    if (doc != nullptr) XmlLibrary().xmlFreeDoc(doc);
  }
  const xmlNode* Root() const { return XmlLibrary().xmlDocGetRootElement(doc); }
  const ElementSpan& Span(const xmlNode* node) const { return spans[order.at(node)]; }

  [[noreturn]] void Refuse(std::wstring_view why) const {
    throw PackageRefused(errors::PartNotAddable(text::Utf8ToWide(name), why));
  }

  // Appends `children` (markup) as the last children of `parent`.
  void AppendChildren(const xmlNode* parent, const std::string& children, std::vector<Edit>& edits) const {
    const ElementSpan& span = Span(parent);
    if (span.empty) {
      // "<a .../>" becomes "<a ...>children</a>".
      edits.push_back({span.openEnd - 2, 2, ">" + children + "</" + span.qname + ">"});
    } else {
      edits.push_back({span.close, 0, children});
    }
  }

  // Sets the value of `node`'s attribute `qname` when it has one.
  void SetAttribute(const xmlNode* node, std::string_view qname, const std::string& value,
                    std::vector<Edit>& edits) const {
    for (const auto& attribute : Span(node).attributes) {
      if (attribute.qname == qname)
        edits.push_back({attribute.valueBegin, attribute.valueEnd - attribute.valueBegin, value});
    }
  }
};

namespace {

// A part's tree, read only to look at (none of the checks a part that is rewritten takes).
struct ReadOnlyTree {
  xmlDocPtr doc = nullptr;
  ~ReadOnlyTree() {
    if (doc != nullptr) XmlLibrary().xmlFreeDoc(doc);
  }
  const xmlNode* Root() const { return doc != nullptr ? XmlLibrary().xmlDocGetRootElement(doc) : nullptr; }
};

// The text of a shared or inline string: its <t> elements, and those of its runs.
std::string StringText(const xmlNode* item) {
  std::string text;
  for (const xmlNode* child = item != nullptr ? item->children : nullptr; child != nullptr; child = child->next) {
    if (Is(child, kMainNs, "t")) text += Content(child);
    if (Is(child, kMainNs, "r")) text += Content(Child(child, kMainNs, "t"));
  }
  return text;
}

// The column of a cell reference ("C1": 2), or -1.
long long ColumnOf(std::string_view reference) {
  long long column = 0;
  std::size_t i = 0;
  for (; i < reference.size() && std::isupper(static_cast<unsigned char>(reference[i])); ++i)
    column = column * 26 + (reference[i] - 'A' + 1);
  return i == 0 ? -1 : column - 1;
}

}  // namespace

std::vector<std::vector<std::wstring>> ExistingWorkbook::SheetHeaders() {
  const auto read = [this](const std::string& name) {
    auto tree = std::make_unique<ReadOnlyTree>();
    const ZipEntry* entry = m_zip.Find(name);
    if (entry == nullptr) return tree;
    const std::string text = m_zip.ReadInflated(*entry, kMaxPartSize);
    tree->doc = XmlLibrary().xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                           XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE);
    if (tree->doc == nullptr) {
      throw PackageRefused(
          errors::PackageDamaged(L"its part '" + text::Utf8ToWide(name) + L"' is not well-formed XML"));
    }
    return tree;
  };
  const std::string folder = FolderOf(m_workbookPart);
  std::map<std::string, std::string> targets;  // by relationship id
  std::string sharedStringsPart;
  for (const xmlNode* rel : Children(m_workbookRels->Root(), kPackageRelationshipsNs, "Relationship")) {
    targets[Attribute(rel, "Id")] = ResolveTarget(folder, Attribute(rel, "Target"));
    if (Attribute(rel, "Type") == sml::kSharedStringsRelationship)
      sharedStringsPart = ResolveTarget(folder, Attribute(rel, "Target"));
  }
  std::vector<std::string> strings;
  bool stringsRead = false;
  std::vector<std::vector<std::wstring>> headers;
  for (const xmlNode* sheet : Children(Child(m_workbook->Root(), kMainNs, "sheets"), kMainNs, "sheet")) {
    auto& header = headers.emplace_back();
    const auto target = targets.find(Attribute(sheet, "id", kRelationshipsNs));
    if (target == targets.end()) continue;
    const auto part = read(target->second);
    const xmlNode* data = Child(part->Root(), kMainNs, "sheetData");
    const xmlNode* row = Child(data, kMainNs, "row");
    const std::string rowNumber = row != nullptr ? Attribute(row, "r") : std::string();
    if (row == nullptr || (!rowNumber.empty() && rowNumber != "1")) continue;
    std::vector<std::string> texts;
    long long next = 0;  // cells without a reference follow the one before
    for (const xmlNode* cell : Children(row, kMainNs, "c")) {
      const std::string reference = Attribute(cell, "r");
      const long long column = reference.empty() ? next : ColumnOf(reference);
      if (column < 0 || column >= static_cast<long long>(sml::kMaxColumns)) continue;
      next = column + 1;
      // A cell without a value (formatting alone) is no column.
      if (Child(cell, kMainNs, "v") == nullptr && Child(cell, kMainNs, "is") == nullptr) continue;
      const std::string type = Attribute(cell, "t");
      std::string text;
      if (type == "s") {
        if (!stringsRead && !sharedStringsPart.empty()) {
          const auto shared = read(sharedStringsPart);
          for (const xmlNode* item : Children(shared->Root(), kMainNs, "si")) strings.push_back(StringText(item));
        }
        stringsRead = true;
        const long long index = Number(Content(Child(cell, kMainNs, "v")));
        if (index >= 0 && static_cast<std::size_t>(index) < strings.size()) text = strings[index];
      } else if (type == "inlineStr") {
        text = StringText(Child(cell, kMainNs, "is"));
      } else if (type == "str") {
        text = Content(Child(cell, kMainNs, "v"));
      }
      if (texts.size() <= static_cast<std::size_t>(column)) texts.resize(column + 1);
      texts[column] = std::move(text);
    }
    for (std::size_t c = 0; c < texts.size(); ++c)
      header.push_back(texts[c].empty() ? L"F" + std::to_wstring(c + 1) : text::Utf8ToWide(texts[c]));
  }
  return headers;
}

std::unique_ptr<ExistingWorkbook::Part> ExistingWorkbook::ReadPart(const std::string& name, bool required) {
  const ZipEntry* entry = m_zip.Find(name);
  if (entry == nullptr) {
    if (!required) return nullptr;
    throw PackageRefused(errors::PackageDamaged(L"its part '" + text::Utf8ToWide(name) + L"' is missing"));
  }
  auto part = std::make_unique<Part>();
  part->name = entry->name;
  part->text = m_zip.ReadInflated(*entry, kMaxPartSize);
  const std::wstring wideName = text::Utf8ToWide(part->name);
  if (part->text.find('\0') != std::string::npos) part->Refuse(L"it is not in UTF-8");
  const Xml& xml = XmlLibrary();
  part->doc = xml.xmlReadMemory(part->text.data(), static_cast<int>(part->text.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (part->doc == nullptr || xml.xmlDocGetRootElement(part->doc) == nullptr) {
    throw PackageRefused(errors::PackageDamaged(L"its part '" + wideName + L"' is not well-formed XML"));
  }
  if (part->doc->encoding != nullptr &&
      !SameIgnoringCase(reinterpret_cast<const char*>(part->doc->encoding), "UTF-8")) {
    part->Refuse(L"it is not in UTF-8");
  }
  if (part->doc->intSubset != nullptr || !ScanElements(part->text, part->spans)) {
    part->Refuse(L"it holds a document type declaration or markup this driver does not rewrite");
  }
  // The scan and the tree list the same elements in the same order.
  std::vector<const xmlNode*> pending = {xml.xmlDocGetRootElement(part->doc)};
  while (!pending.empty()) {
    const xmlNode* node = pending.back();
    pending.pop_back();
    const std::size_t index = part->order.size();
    std::string qname = node->ns != nullptr && node->ns->prefix != nullptr
                            ? reinterpret_cast<const char*>(node->ns->prefix) + std::string(":")
                            : std::string();
    qname += reinterpret_cast<const char*>(node->name);
    if (index >= part->spans.size() || part->spans[index].qname != qname) {
      part->Refuse(L"its elements could not be placed in its text");
    }
    part->order.emplace(node, index);
    std::vector<const xmlNode*> children;
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
      if (child->type == XML_ELEMENT_NODE) children.push_back(child);
    }
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
  if (part->order.size() != part->spans.size()) part->Refuse(L"its elements could not be placed in its text");
  return part;
}

ExistingWorkbook::ExistingWorkbook(int fd, std::string path) : m_zip(fd, std::move(path)) {
  if (m_zip.Find(sml::kContentTypesPart) == nullptr || m_zip.Find(sml::kPackageRelsPart) == nullptr) {
    throw PackageRefused(errors::PackageWithoutWorkbook());
  }
  m_contentTypes = ReadPart(std::string(sml::kContentTypesPart), true);
  const auto rootRels = ReadPart(std::string(sml::kPackageRelsPart), true);
  const xmlNode* types = m_contentTypes->Root();
  if (!Is(types, kContentTypesNs, "Types")) m_contentTypes->Refuse(L"its root is not Types");
  if (!Is(rootRels->Root(), kPackageRelationshipsNs, "Relationships")) {
    throw PackageRefused(errors::PackageWithoutWorkbook());
  }
  for (const xmlNode* rel : Children(rootRels->Root(), kPackageRelationshipsNs, "Relationship")) {
    const std::string type = Attribute(rel, "Type");
    if (type == kStrictOfficeDocumentType) throw PackageRefused(errors::StrictWorkbook());
    if (type == sml::kOfficeDocumentRelationship && m_workbookPart.empty()) {
      m_workbookPart = ResolveTarget("", Attribute(rel, "Target"));
    }
    if (type == sml::kExtendedPropertiesRelationship && m_appPart.empty())
      m_appPart = ResolveTarget("", Attribute(rel, "Target"));
  }
  if (m_workbookPart.empty()) throw PackageRefused(errors::PackageWithoutWorkbook());

  // The workbook part's content type: its Override, else the Default of its extension.
  std::string contentType;
  for (const xmlNode* item : Children(types, kContentTypesNs, "Override")) {
    if (SameIgnoringCase(Attribute(item, "PartName"), "/" + m_workbookPart))
      contentType = Attribute(item, "ContentType");
  }
  if (contentType.empty()) {
    const std::string extension = m_workbookPart.substr(m_workbookPart.rfind('.') + 1);
    for (const xmlNode* item : Children(types, kContentTypesNs, "Default")) {
      if (SameIgnoringCase(Attribute(item, "Extension"), extension)) contentType = Attribute(item, "ContentType");
    }
  }
  if (std::find(std::begin(kWorkbookContentTypes), std::end(kWorkbookContentTypes), contentType) ==
      std::end(kWorkbookContentTypes)) {
    throw PackageRefused(errors::PackageWithoutWorkbook());
  }

  m_workbook = ReadPart(m_workbookPart, true);
  m_workbookPart = m_workbook->name;
  const xmlNode* workbook = m_workbook->Root();
  if (Is(workbook, kStrictMainNs, "workbook")) throw PackageRefused(errors::StrictWorkbook());
  if (!Is(workbook, kMainNs, "workbook")) m_workbook->Refuse(L"its root is not a workbook");
  const std::string date1904 = Attribute(Child(workbook, kMainNs, "workbookPr"), "date1904");
  m_base.date1904 = date1904 == "1" || date1904 == "true";
  const xmlNode* sheets = Child(workbook, kMainNs, "sheets");
  if (sheets == nullptr) m_workbook->Refuse(L"it lists no sheets");
  for (const xmlNode* sheet : Children(sheets, kMainNs, "sheet")) {
    m_base.sheetNames.push_back(text::WideToUtf16(text::Utf8ToWide(Attribute(sheet, "name"))));
    const long long id = Number(Attribute(sheet, "sheetId"));
    if (id < 0 || id == kMaxId) m_workbook->Refuse(L"a sheet has no sheetId, or one past the last");
    m_base.nextSheetId = std::max(m_base.nextSheetId, static_cast<std::uint32_t>(id) + 1);
  }

  const std::string folder = FolderOf(m_workbookPart);
  m_workbookRels = ReadPart(folder + std::string(kRelationshipsFolder) + m_workbookPart.substr(folder.size()) +
                                std::string(kRelationshipsSuffix),
                            true);
  m_workbookRelsPart = m_workbookRels->name;
  if (!Is(m_workbookRels->Root(), kPackageRelationshipsNs, "Relationships")) {
    m_workbookRels->Refuse(L"its root is not Relationships");
  }
  for (const xmlNode* rel : Children(m_workbookRels->Root(), kPackageRelationshipsNs, "Relationship")) {
    const std::string id = Attribute(rel, "Id");
    if (id.starts_with(sml::kRelationshipIdPrefix)) {
      const long long number = Number(std::string_view(id).substr(sml::kRelationshipIdPrefix.size()));
      if (number == kMaxId) m_workbookRels->Refuse(L"a relationship id is the last there is");
      if (number >= 0) {
        m_base.nextRelationshipId = std::max(m_base.nextRelationshipId, static_cast<std::uint32_t>(number) + 1);
      }
    }
    if (Attribute(rel, "Type") == sml::kStylesRelationship)
      m_stylesPart = ResolveTarget(folder, Attribute(rel, "Target"));
  }

  // New worksheet parts are numbered past every part named like one, listed or not.
  const std::string_view prefix = sml::kWorksheetPartPrefix;
  const std::string_view suffix = sml::kPartSuffix;
  for (const auto& entry : m_zip.Entries()) {
    const std::string_view name = entry.name;
    if (name.size() > prefix.size() + suffix.size() && SameIgnoringCase(name.substr(0, prefix.size()), prefix) &&
        SameIgnoringCase(name.substr(name.size() - suffix.size()), suffix)) {
      const long long number = Number(name.substr(prefix.size(), name.size() - prefix.size() - suffix.size()));
      if (number == kMaxId)
        throw PackageRefused(errors::PartNotAddable(text::Utf8ToWide(entry.name), L"its number is the last there is"));
      if (number >= 0) m_base.nextPartNumber = std::max(m_base.nextPartNumber, static_cast<std::uint32_t>(number) + 1);
    }
  }

  if (!m_appPart.empty()) {
    m_app = ReadPart(m_appPart, false);
    if (m_app != nullptr) m_appPart = m_app->name;
  }
  ReadStyles();
}

ExistingWorkbook::~ExistingWorkbook() = default;

void ExistingWorkbook::ReadStyles() {
  if (m_stylesPart.empty()) {
    // A workbook without styles gets a new workbook's, related by the next id.
    m_stylesPart = sml::kStylesPart;
    if (m_zip.Find(m_stylesPart) != nullptr) m_workbook->Refuse(L"its styles part is not related to it");
    m_newStyles = NewStylesXml();
    m_base.styles = CellStyles{};
    m_newStylesRelationship = m_base.nextRelationshipId++;
    return;
  }
  const auto styles = ReadPart(m_stylesPart, true);
  m_stylesPart = styles->name;
  const xmlNode* root = styles->Root();
  if (!Is(root, kMainNs, "styleSheet") || styles->Span(root).empty) styles->Refuse(L"its root is not a styleSheet");
  const xmlNode* numFmts = Child(root, kMainNs, "numFmts");
  const xmlNode* fonts = Child(root, kMainNs, "fonts");
  const xmlNode* cellXfs = Child(root, kMainNs, "cellXfs");
  if (fonts == nullptr || cellXfs == nullptr) styles->Refuse(L"it has no fonts or no cell formats");
  const auto fontList = Children(fonts, kMainNs, "font");
  const auto xfList = Children(cellXfs, kMainNs, "xf");
  if (fontList.empty()) styles->Refuse(L"it has no fonts");
  std::vector<Edit> edits;
  // An entry the styles hold already, word for word as this driver adds it (to a workbook it added
  // to before), is used again instead of being added once more.
  const auto indexOf = [&styles](const std::vector<const xmlNode*>& list, std::string_view text) -> long long {
    for (std::size_t i = 0; i < list.size(); ++i) {
      const ElementSpan& span = styles->Span(list[i]);
      if (std::string_view(styles->text).substr(span.open, span.closeEnd - span.open) == text) {
        return static_cast<long long>(i);
      }
    }
    return -1;
  };

  // The header's font: the default font (the first) in bold.
  const ElementSpan& first = styles->Span(fontList.front());
  std::string bold = styles->text.substr(first.open, first.closeEnd - first.open);
  if (Child(fontList.front(), kMainNs, "b") == nullptr) {
    const std::string b = "<" + Prefixed(first, "b") + "/>";
    if (first.empty) {
      bold.replace(first.openEnd - 2 - first.open, 2, ">" + b + "</" + first.qname + ">");
    } else {
      bold.insert(first.openEnd - first.open, b);
    }
  }
  long long boldFont = indexOf(fontList, bold);
  if (boldFont < 0) {
    boldFont = static_cast<long long>(fontList.size());
    styles->AppendChildren(fonts, bold, edits);
    styles->SetAttribute(fonts, "count", std::to_string(fontList.size() + 1), edits);
  }

  // The date, date-time and time formats: one of the same code, else numbered past every custom
  // format there.
  std::uint32_t nextFormat = sml::kFirstCustomNumberFormat;
  const auto formatList = Children(numFmts, kMainNs, "numFmt");
  for (const xmlNode* format : formatList) {
    const long long id = Number(Attribute(format, "numFmtId"));
    if (id >= nextFormat) nextFormat = static_cast<std::uint32_t>(id) + 1;
  }
  const std::string numFmtName =
      numFmts != nullptr ? Prefixed(styles->Span(numFmts), "numFmt") : Prefixed(styles->Span(root), "numFmt");
  std::string added;
  std::size_t addedCount = 0;
  const std::string_view codes[] = {sml::kDateFormatCode, sml::kDateTimeFormatCode, sml::kTimeFormatCode};
  std::uint32_t formatIds[std::size(codes)] = {};
  for (std::size_t i = 0; i < std::size(codes); ++i) {
    long long id = -1;
    for (const xmlNode* format : formatList) {
      if (id < 0 && Attribute(format, "formatCode") == codes[i]) id = Number(Attribute(format, "numFmtId"));
    }
    if (id < 0) {
      id = nextFormat++;
      added +=
          "<" + numFmtName + " numFmtId=\"" + std::to_string(id) + "\" formatCode=\"" + XmlEscaped(codes[i]) + "\"/>";
      ++addedCount;
    }
    formatIds[i] = static_cast<std::uint32_t>(id);
  }
  if (addedCount > 0 && numFmts != nullptr) {
    styles->AppendChildren(numFmts, added, edits);
    styles->SetAttribute(numFmts, "count", std::to_string(formatList.size() + addedCount), edits);
  } else if (addedCount > 0) {
    const std::string name = Prefixed(styles->Span(root), "numFmts");
    edits.push_back({styles->Span(root).openEnd, 0,
                     "<" + name + " count=\"" + std::to_string(addedCount) + "\">" + added + "</" + name + ">"});
  }

  // The cell formats: the same, else after every one there.
  const std::string xf = "<" + Prefixed(styles->Span(cellXfs), "xf");
  const bool hasStyleXf = !Children(Child(root, kMainNs, "cellStyleXfs"), kMainNs, "xf").empty();
  const std::string common = std::string(" fillId=\"0\" borderId=\"0\"") + (hasStyleXf ? " xfId=\"0\"" : "");
  std::vector<std::string> wanted = {xf + " numFmtId=\"0\" fontId=\"" + std::to_string(boldFont) + "\"" + common +
                                     " applyFont=\"1\"/>"};
  for (const std::uint32_t id : formatIds) {
    wanted.push_back(xf + " numFmtId=\"" + std::to_string(id) + "\" fontId=\"0\"" + common +
                     " applyNumberFormat=\"1\"/>");
  }
  added.clear();
  std::size_t appended = 0;
  std::vector<std::uint32_t> indexes;
  for (const auto& text : wanted) {
    long long index = indexOf(xfList, text);
    if (index < 0) {
      index = static_cast<long long>(xfList.size() + appended++);
      added += text;
    }
    indexes.push_back(static_cast<std::uint32_t>(index));
  }
  m_base.styles = {indexes[0], indexes[1], indexes[2], indexes[3]};
  if (appended > 0) {
    styles->AppendChildren(cellXfs, added, edits);
    styles->SetAttribute(cellXfs, "count", std::to_string(xfList.size() + appended), edits);
  }
  // Styles that hold every entry already stay as they are.
  if (!edits.empty()) m_newStyles = Applied(styles->text, std::move(edits));
}

std::map<std::string, std::string> ExistingWorkbook::RewrittenParts(const std::vector<SheetEntry>& sheets) const {
  std::map<std::string, std::string> parts;
  if (!m_newStyles.empty()) parts[m_stylesPart] = m_newStyles;
  const std::string folder = FolderOf(m_workbookPart);

  // [Content_Types].xml: an Override per new worksheet part.
  {
    const xmlNode* types = m_contentTypes->Root();
    const std::string name = Prefixed(m_contentTypes->Span(types), "Override");
    std::string added;
    const auto add = [&](const std::string& part, std::string_view type) {
      added += "<" + name + " PartName=\"/" + XmlEscaped(part) + "\" ContentType=\"" + std::string(type) + "\"/>";
    };
    for (const auto& sheet : sheets) add(WorksheetPart(sheet), sml::kWorksheetContentType);
    if (m_newStylesRelationship != 0) add(m_stylesPart, sml::kStylesContentType);
    std::vector<Edit> edits;
    m_contentTypes->AppendChildren(types, added, edits);
    parts[m_contentTypes->name] = Applied(m_contentTypes->text, std::move(edits));
  }

  // The workbook's relationships: one per new worksheet.
  {
    const xmlNode* root = m_workbookRels->Root();
    const std::string name = Prefixed(m_workbookRels->Span(root), "Relationship");
    std::string added;
    const auto add = [&](std::uint32_t id, std::string_view type, const std::string& part) {
      added += "<" + name + " Id=\"" + std::string(sml::kRelationshipIdPrefix) + std::to_string(id) + "\" Type=\"" +
               std::string(type) + "\" Target=\"" + XmlEscaped(TargetFrom(folder, part)) + "\"/>";
    };
    for (const auto& sheet : sheets) add(sheet.relationship, sml::kWorksheetRelationship, WorksheetPart(sheet));
    if (m_newStylesRelationship != 0) add(m_newStylesRelationship, sml::kStylesRelationship, m_stylesPart);
    std::vector<Edit> edits;
    m_workbookRels->AppendChildren(root, added, edits);
    parts[m_workbookRelsPart] = Applied(m_workbookRels->text, std::move(edits));
  }

  // The workbook: a <sheet> per new sheet, and the autofilters' defined names.
  {
    const xmlNode* workbook = m_workbook->Root();
    const xmlNode* sheetsNode = Child(workbook, kMainNs, "sheets");
    const ElementSpan& sheetsSpan = m_workbook->Span(sheetsNode);
    // The relationship id's attribute needs a prefix bound to its namespace where it stands.
    std::string idName = "r:id";
    std::string declaration = std::string(" xmlns:r=\"") + kRelationshipsNs + "\"";
    if (const xmlNs* ns = XmlLibrary().xmlSearchNsByHref(m_workbook->doc, const_cast<xmlNode*>(sheetsNode),
                                                         BAD_CAST kRelationshipsNs);
        ns != nullptr && ns->prefix != nullptr) {
      idName = reinterpret_cast<const char*>(ns->prefix) + std::string(":id");
      declaration.clear();
    }
    const std::string sheetName = Prefixed(sheetsSpan, "sheet");
    std::string added;
    std::string filters;
    const xmlNode* definedNames = Child(workbook, kMainNs, "definedNames");
    const std::string definedName =
        Prefixed(definedNames != nullptr ? m_workbook->Span(definedNames) : sheetsSpan, "definedName");
    for (const auto& sheet : sheets) {
      added += "<" + sheetName + " name=\"" + XmlEscaped(sheet.name) + "\" sheetId=\"" + std::to_string(sheet.sheetId) +
               "\" " + idName + "=\"" + std::string(sml::kRelationshipIdPrefix) + std::to_string(sheet.relationship) +
               "\"" + declaration + "/>";
      if (!sheet.filterRange.empty()) {
        std::string quoted;
        for (const char c : sheet.name) quoted += c == '\'' ? std::string("''") : std::string(1, c);
        filters += "<" + definedName + " name=\"" + std::string(sml::kFilterDatabaseName) + "\" localSheetId=\"" +
                   std::to_string(sheet.index) + "\" hidden=\"1\">" +
                   XmlEscaped("'" + quoted + "'!" + sheet.filterRange) + "</" + definedName + ">";
      }
    }
    std::vector<Edit> edits;
    m_workbook->AppendChildren(sheetsNode, added, edits);
    if (!filters.empty()) {
      if (definedNames != nullptr) {
        m_workbook->AppendChildren(definedNames, filters, edits);
      } else {
        // definedNames follows sheets, functionGroups and externalReferences.
        std::size_t after = sheetsSpan.closeEnd;
        for (const char* before : {"functionGroups", "externalReferences"}) {
          if (const xmlNode* node = Child(workbook, kMainNs, before))
            after = std::max(after, m_workbook->Span(node).closeEnd);
        }
        const std::string name = Prefixed(sheetsSpan, "definedNames");
        edits.push_back({after, 0, "<" + name + ">" + filters + "</" + name + ">"});
      }
    }
    parts[m_workbookPart] = Applied(m_workbook->text, std::move(edits));
  }

  // docProps/app.xml: the worksheets' count and titles, when it lists them as Excel does;
  // otherwise it stays as it is (it only summarises the workbook).
  if (m_app != nullptr && Is(m_app->Root(), kExtendedPropertiesNs, "Properties")) {
    const xmlNode* pairs =
        Child(Child(m_app->Root(), kExtendedPropertiesNs, "HeadingPairs"), kVariantTypesNs, "vector");
    const xmlNode* titles =
        Child(Child(m_app->Root(), kExtendedPropertiesNs, "TitlesOfParts"), kVariantTypesNs, "vector");
    const auto variants = Children(pairs, kVariantTypesNs, "variant");
    const auto titleList = Children(titles, kVariantTypesNs, "lpstr");
    std::size_t before = 0;
    std::size_t total = 0;
    const xmlNode* count = nullptr;
    long long worksheets = -1;
    bool wellFormed =
        titles != nullptr && Number(Attribute(titles, "size")) == static_cast<long long>(titleList.size());
    for (std::size_t i = 0; wellFormed && i + 1 < variants.size(); i += 2) {
      const xmlNode* heading = Child(variants[i], kVariantTypesNs, "lpstr");
      const xmlNode* number = Child(variants[i + 1], kVariantTypesNs, "i4");
      const long long n = number != nullptr ? Number(Content(number)) : -1;
      if (heading == nullptr || n < 0) {
        wellFormed = false;
      } else if (Content(heading) == sml::kWorksheetsHeading && count == nullptr) {
        count = number;
        worksheets = n;
        before = total;
      }
      total += static_cast<std::size_t>(std::max(n, 0LL));
    }
    if (wellFormed && count != nullptr && total == titleList.size() && !m_app->Span(count).empty) {
      const std::string name = Prefixed(m_app->Span(titles), "lpstr");
      std::string added;
      for (const auto& sheet : sheets) added += "<" + name + ">" + XmlEscaped(sheet.name) + "</" + name + ">";
      std::vector<Edit> edits;
      const std::size_t last = before + static_cast<std::size_t>(worksheets);
      if (last > 0 && last <= titleList.size() && worksheets > 0) {
        edits.push_back({m_app->Span(titleList[last - 1]).closeEnd, 0, added});
      } else if (before < titleList.size()) {
        edits.push_back({m_app->Span(titleList[before]).open, 0, added});
      } else {
        m_app->AppendChildren(titles, added, edits);
      }
      const ElementSpan& countSpan = m_app->Span(count);
      edits.push_back({countSpan.openEnd, countSpan.close - countSpan.openEnd,
                       std::to_string(worksheets + static_cast<long long>(sheets.size()))});
      m_app->SetAttribute(titles, "size", std::to_string(titleList.size() + sheets.size()), edits);
      parts[m_appPart] = Applied(m_app->text, std::move(edits));
    }
  }
  return parts;
}

void ExistingWorkbook::WriteInto(ZipWriter& zip, const std::vector<SheetEntry>& sheets) {
  const auto parts = RewrittenParts(sheets);
  for (const auto& entry : m_zip.Entries()) {
    const auto rewritten = parts.find(entry.name);
    if (rewritten == parts.end()) {
      zip.AddCopy(m_zip, entry);
    } else {
      zip.AddDeflated(entry.name, rewritten->second);
    }
  }
  if (m_newStylesRelationship != 0) zip.AddDeflated(m_stylesPart, m_newStyles);
}

}  // namespace quillon::drivers::xlsx
