#include "platform/odbc/ConnectString.h"

#include "platform/odbc/BuiltInDriverNames.h"
#include "platform/text/Characters.h"
#include "platform/text/WideText.h"

namespace quillon::odbc {
namespace {

constexpr std::wstring_view kOdbcPrefix = L"ODBC;";
// Keys whose value runs to the end of the string.
constexpr std::wstring_view kRestOfStringKeys[] = {key::kDatabase};
constexpr std::wstring_view kPasswordKeys[] = {L"PWD", L"PASSWORD"};

constexpr auto& TrimBlanks = text::TrimSpaceAndTab;

bool IsRestOfStringKey(std::wstring_view key) {
  for (auto k : kRestOfStringKeys) {
    if (text::EqualsIgnoreAsciiCase(key, k)) return true;
  }
  return false;
}

// Reads a braced value starting at `s[pos] == '{'`; "}}" stands for one '}'. Returns the
// position after the closing brace, or npos when the brace is never closed.
std::size_t ReadBraced(std::wstring_view s, std::size_t pos, std::wstring& value) {
  for (std::size_t i = pos + 1; i < s.size(); ++i) {
    if (s[i] == L'}') {
      if (i + 1 < s.size() && s[i + 1] == L'}') {
        value.push_back(L'}');
        ++i;
        continue;
      }
      return i + 1;
    }
    value.push_back(s[i]);
  }
  return std::wstring_view::npos;
}

struct Span {
  std::size_t keyBegin, keyEnd, valueBegin, valueEnd;
};

// Walks the pairs of `s`, calling `visit(key, value, span)` for each.
template <typename Visit>
void WalkPairs(std::wstring_view s, std::size_t start, Visit visit) {
  std::size_t pos = start;
  while (pos < s.size()) {
    const std::size_t eq = s.find(L'=', pos);
    const std::size_t semicolon = s.find(L';', pos);
    if (eq == std::wstring_view::npos || (semicolon != std::wstring_view::npos && semicolon < eq)) {
      // A piece without '=': a key with no value, skipped.
      if (semicolon == std::wstring_view::npos) return;
      pos = semicolon + 1;
      continue;
    }
    const std::wstring key(TrimBlanks(s.substr(pos, eq - pos)));
    std::size_t valueBegin = eq + 1;
    while (valueBegin < s.size() && s[valueBegin] == L' ') ++valueBegin;
    std::wstring value;
    std::size_t next;
    std::size_t valueEnd;
    if (valueBegin < s.size() && s[valueBegin] == L'{' &&
        (valueEnd = ReadBraced(s, valueBegin, value)) != std::wstring_view::npos) {
      next = s.find(L';', valueEnd);
      next = next == std::wstring_view::npos ? s.size() : next + 1;
    } else if (IsRestOfStringKey(key)) {
      valueEnd = s.size();
      value = std::wstring(s.substr(valueBegin));
      next = s.size();
    } else if (valueBegin < s.size() && s[valueBegin] == L'"' &&
               s.find(L'"', valueBegin + 1) != std::wstring_view::npos) {
      const std::size_t close = s.find(L'"', valueBegin + 1);
      value = std::wstring(s.substr(valueBegin + 1, close - valueBegin - 1));
      valueEnd = close + 1;
      next = s.find(L';', valueEnd);
      next = next == std::wstring_view::npos ? s.size() : next + 1;
    } else {
      valueEnd = semicolon == std::wstring_view::npos ? s.size() : semicolon;
      value = std::wstring(TrimBlanks(s.substr(valueBegin, valueEnd - valueBegin)));
      next = semicolon == std::wstring_view::npos ? s.size() : semicolon + 1;
    }
    visit(key, std::move(value), Span{pos, eq, valueBegin, valueEnd});
    pos = next;
  }
}

std::size_t StartOfPairs(std::wstring_view s) {
  return (s.size() >= kOdbcPrefix.size() && text::EqualsIgnoreAsciiCase(s.substr(0, kOdbcPrefix.size()), kOdbcPrefix))
             ? kOdbcPrefix.size()
             : 0;
}

}  // namespace

ConnectString ConnectString::Parse(std::wstring_view text) {
  ConnectString result;
  result.m_text = std::wstring(text);
  WalkPairs(text, StartOfPairs(text), [&](const std::wstring& key, std::wstring value, const Span&) {
    result.m_pairs.emplace_back(key, std::move(value));
  });
  return result;
}

std::optional<std::wstring> ConnectString::Get(std::wstring_view key) const {
  for (const auto& [k, v] : m_pairs) {
    if (text::EqualsIgnoreAsciiCase(k, key)) return v;
  }
  return std::nullopt;
}

std::wstring MaskPassword(std::wstring_view connect) {
  std::wstring masked(connect);
  std::vector<Span> secrets;
  WalkPairs(connect, StartOfPairs(connect), [&](const std::wstring& key, const std::wstring&, const Span& span) {
    for (auto k : kPasswordKeys) {
      if (text::EqualsIgnoreAsciiCase(key, k)) secrets.push_back(span);
    }
  });
  // Replace from the back so earlier spans keep their positions.
  for (auto it = secrets.rbegin(); it != secrets.rend(); ++it) {
    if (it->valueEnd > it->valueBegin) masked.replace(it->valueBegin, it->valueEnd - it->valueBegin, L"********");
  }
  return masked;
}

}  // namespace quillon::odbc
