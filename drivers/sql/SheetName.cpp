#include "drivers/sql/SheetName.h"

#include "platform/text/Characters.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::sql {
namespace {

constexpr std::u16string_view kForbiddenSheetChars = u"[]:*?/\\";
constexpr std::u16string_view kEmptySheetName = u"Sheet";
constexpr std::u16string_view kReservedSheetName = u"History";  // Excel keeps it for change tracking
constexpr char16_t kSheetNameReplacement = u'_';
constexpr char16_t kFirstHighSurrogate = 0xD800, kLastHighSurrogate = 0xDBFF;

// Cuts to at most `units` UTF-16 units without splitting a surrogate pair.
std::u16string CutUtf16(std::u16string text, std::size_t units) {
  if (text.size() <= units) return text;
  if (units > 0 && text[units - 1] >= kFirstHighSurrogate && text[units - 1] <= kLastHighSurrogate) --units;
  text.resize(units);
  return text;
}

}  // namespace

std::u16string ValidSheetName(std::wstring_view table) {
  std::u16string name = text::WideToUtf16(table);
  for (auto& c : name) {
    if (kForbiddenSheetChars.find(c) != std::u16string_view::npos) c = kSheetNameReplacement;
  }
  if (!name.empty() && name.front() == u'\'') name.front() = kSheetNameReplacement;
  if (!name.empty() && name.back() == u'\'') name.back() = kSheetNameReplacement;
  if (name.empty()) name = kEmptySheetName;
  return CutUtf16(std::move(name), kMaxSheetNameChars);
}

std::u16string UniqueSheetName(std::wstring_view table, const std::function<bool(std::u16string_view)>& taken) {
  std::u16string name = ValidSheetName(table);
  const auto used = [&taken](std::u16string_view n) {
    return text::SameNameIgnoringCase(n, kReservedSheetName) || taken(n);
  };
  if (!used(name)) return name;
  for (int n = 2;; ++n) {
    std::u16string suffix = u"~";
    for (char c : std::to_string(n)) suffix.push_back(static_cast<char16_t>(c));
    std::u16string candidate = CutUtf16(name, kMaxSheetNameChars - suffix.size()) + suffix;
    if (candidate.back() == u'\'') candidate.back() = kSheetNameReplacement;
    if (!used(candidate)) return candidate;
  }
}

}  // namespace quillon::drivers::sql
