#include "engine/OutputFormat.h"

#include "platform/text/WideText.h"

namespace quillon::engine {

OutputFormat FormatFromExtension(std::wstring_view path) {
  const std::size_t dot = path.rfind(L'.');
  const std::wstring extension = text::AsciiUpper(dot == std::wstring_view::npos ? path : path.substr(dot + 1));
  if (extension == L"XLS") return FormatExcel;
  if (extension == L"MDB") return FormatAccess;
  if (extension == L"TXT") return FormatText;
  if (extension == L"XLSX") return FormatXlsx;
  if (extension == L"CSV") return FormatCsv;
  return FormatUnknown;
}

bool IsTypedFormat(OutputFormat format) { return format == FormatXlsx || format == FormatText || format == FormatCsv; }

}  // namespace quillon::engine
