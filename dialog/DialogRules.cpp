#include "dialog/DialogRules.h"

#include "platform/text/WideText.h"

namespace quillon::dialog {
namespace {
constexpr std::size_t kExtensionLength = 3;
constexpr std::wstring_view kSelectWord = L"SELECT";
constexpr std::wstring_view kExecWord = L"EXEC";

bool BeginsWith(std::wstring_view statement, std::wstring_view word) {
  return text::AsciiUpper(statement.substr(0, word.size())) == word;
}
}  // namespace

std::wstring FilterOf(const FormatFileType& type) {
  std::wstring filter(type.description);
  filter.append(L"|*.").append(type.defaultExtension).append(L"||");
  return filter;
}

const FormatFileType* FileTypeOf(int format) {
  if (format < 0 || static_cast<std::size_t>(format) >= kFormatFileTypes.size()) return nullptr;
  return &kFormatFileTypes[static_cast<std::size_t>(format)];
}

std::optional<std::wstring> PathForFormat(std::wstring_view path, int format) {
  const FormatFileType* type = FileTypeOf(format);
  if (type == nullptr || path.size() < kExtensionLength + 1) return std::nullopt;
  const std::size_t dot = path.size() - kExtensionLength - 1;
  if (path[dot] != L'.') return std::nullopt;
  std::wstring result(path.substr(0, dot + 1));
  result += type->defaultExtension;
  return result;
}

bool IsCheckableStatement(std::wstring_view statement) {
  return !statement.empty() && (BeginsWith(statement, kSelectWord) || BeginsWith(statement, kExecWord));
}

}  // namespace quillon::dialog
