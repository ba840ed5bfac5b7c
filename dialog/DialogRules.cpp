#include "dialog/DialogRules.h"

#include <cmath>

#include "engine/ReadOnlyStatement.h"
#include "platform/text/Characters.h"
#include "platform/text/WideText.h"

namespace quillon::dialog {
namespace {
constexpr std::size_t kExtensionLength = 3;
constexpr std::size_t kDigitGroup = 3;
constexpr std::wstring_view kSelectWord = L"SELECT";
constexpr std::wstring_view kExecWord = L"EXEC";

bool BeginsWith(std::wstring_view statement, std::wstring_view word) {
  return text::AsciiUpper(statement.substr(0, word.size())) == word;
}

// `n`'s (not negative) decimal digits, every three from the right parted by ','.
std::wstring GroupedDigits(std::int64_t n) {
  const std::wstring digits = std::to_wstring(n);
  std::wstring grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % kDigitGroup == 0) grouped += L',';
    grouped += digits[i];
  }
  return grouped;
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
  if (type == nullptr) return std::nullopt;
  std::size_t dot = std::wstring_view::npos;
  for (const FormatFileType& known : kFormatFileTypes) {
    const std::size_t length = known.defaultExtension.size() + 1;
    if (path.size() >= length && path[path.size() - length] == L'.' &&
        text::EqualsIgnoreAsciiCase(path.substr(path.size() - length + 1), known.defaultExtension)) {
      dot = path.size() - length;
    }
  }
  if (dot == std::wstring_view::npos && path.size() >= kExtensionLength + 1 &&
      path[path.size() - kExtensionLength - 1] == L'.') {
    dot = path.size() - kExtensionLength - 1;
  }
  if (dot == std::wstring_view::npos) return std::nullopt;
  std::wstring result(path.substr(0, dot + 1));
  result += type->defaultExtension;
  return result;
}

bool IsCheckableStatement(std::wstring_view statement) {
  if (text::TrimAsciiBlanks(statement).empty()) return false;
  if (BeginsWith(statement, kSelectWord) || BeginsWith(statement, kExecWord)) return true;
  return engine::WhyNotReadOnly(std::wstring(statement)).empty();
}

std::wstring ProgressCaptionSuffix(std::int64_t rows, double rowsPerSecond) {
  return L" - " + GroupedDigits(rows) + L" rows, " + GroupedDigits(std::llround(rowsPerSecond)) + L" rows/s";
}

}  // namespace quillon::dialog
