#include "engine/TimeText.h"

#include <array>
#include <ctime>
#include <cwchar>
#include <stdexcept>

namespace quillon::engine {
namespace {
constexpr std::size_t kStampCapacity = 128;  // characters, terminator included
}

std::wstring FormatTimeStamp(std::int64_t time, const wchar_t* pattern) {
  if (pattern == nullptr) return {};
  const auto seconds = static_cast<std::time_t>(time);
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return {};
  std::array<wchar_t, kStampCapacity> buffer{};
  const std::size_t written = std::wcsftime(buffer.data(), buffer.size(), pattern, &local);
  return written == 0 ? std::wstring() : std::wstring(buffer.data(), written);
}

std::int64_t CurrentTime() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::wstring FormatTimeSpan(std::int64_t seconds, const wchar_t* pattern) {
  if (pattern == nullptr) throw std::invalid_argument("FormatTimeSpan: null pattern");
  const std::int64_t days = seconds / 86400;
  const std::int64_t hours = seconds / 3600 - days * 24;
  const std::int64_t minutes = seconds / 60 - (seconds / 3600) * 60;
  const std::int64_t secs = seconds - (seconds / 60) * 60;
  std::wstring out;
  for (const wchar_t* p = pattern; *p != L'\0'; ++p) {
    if (*p != L'%') {
      out.push_back(*p);
      continue;
    }
    bool brief = false;
    if (*++p == L'#') {
      brief = true;
      ++p;
    }
    std::int64_t value = 0;
    switch (*p) {
      case L'D':
        out += std::to_wstring(days);
        continue;
      case L'H':
        value = hours;
        break;
      case L'M':
        value = minutes;
        break;
      case L'S':
        value = secs;
        break;
      case L'%':
        out.push_back(L'%');
        continue;
      default:
        throw std::invalid_argument("FormatTimeSpan: unknown directive in pattern");
    }
    std::array<wchar_t, 32> buffer{};
    std::swprintf(buffer.data(), buffer.size(), brief ? L"%lld" : L"%02lld", static_cast<long long>(value));
    out += buffer.data();
  }
  return out;
}

}  // namespace quillon::engine
