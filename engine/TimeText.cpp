#include "engine/TimeText.h"

#include <array>
#include <ctime>
#include <cwchar>

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

}  // namespace quillon::engine
