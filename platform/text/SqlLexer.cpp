#include "platform/text/SqlLexer.h"

#include "platform/text/Characters.h"

namespace quillon::text {
namespace {

constexpr std::wstring_view kLineComment = L"--";
constexpr std::wstring_view kCommentOpen = L"/*";
constexpr std::wstring_view kCommentClose = L"*/";
constexpr wchar_t kDollar = L'$';
constexpr wchar_t kBackslash = L'\\';

bool StartsAt(std::wstring_view text, std::size_t pos, std::wstring_view what) {
  return text.substr(pos, what.size()) == what;
}

// A /* */ comment starting at `pos`, the ones inside it nested when `nested`.
SqlToken BlockComment(std::wstring_view text, std::size_t pos, bool nested) {
  int depth = 0;
  do {
    if (StartsAt(text, pos, kCommentOpen) && (nested || depth == 0)) {
      ++depth;
      pos += kCommentOpen.size();
    } else if (StartsAt(text, pos, kCommentClose)) {
      --depth;
      pos += kCommentClose.size();
    } else {
      ++pos;
    }
  } while (depth > 0 && pos < text.size());
  return {SqlToken::Kind::Comment, pos, depth == 0};
}

// $$...$$ or $tag$...$tag$ at `pos`; else a parameter such as $name.
SqlToken DollarQuoted(std::wstring_view text, std::size_t pos) {
  std::size_t end = pos + 1;
  while (end < text.size() && text[end] != kDollar && IsSqlWordChar(text[end])) ++end;
  if (end == text.size() || text[end] != kDollar) return {SqlToken::Kind::Parameter, end};
  const std::wstring_view tag = text.substr(pos, end - pos + 1);
  const std::size_t close = text.find(tag, end + 1);
  if (close == std::wstring_view::npos) return {SqlToken::Kind::Quoted, text.size(), false};
  return {SqlToken::Kind::Quoted, close + tag.size()};
}

template <typename Predicate>
std::size_t RunOf(std::wstring_view text, std::size_t pos, Predicate predicate) {
  while (pos < text.size() && predicate(text[pos])) ++pos;
  return pos;
}

}  // namespace

bool IsSqlWordStart(wchar_t c) { return c == L'_' || IsAsciiLetter(c) || c > 0x7F; }
bool IsSqlWordChar(wchar_t c) { return IsSqlWordStart(c) || c == kDollar || IsAsciiDigit(c); }

SqlToken SqlTokenAt(std::wstring_view text, std::size_t pos, const SqlDialect& dialect, std::wstring* content) {
  const wchar_t c = text[pos];
  if (IsAsciiBlank(c)) return {SqlToken::Kind::Blank, RunOf(text, pos, IsAsciiBlank)};
  if (dialect.comments && StartsAt(text, pos, kLineComment)) {
    const std::size_t eol = text.find(L'\n', pos);
    return {SqlToken::Kind::Comment, eol == std::wstring_view::npos ? text.size() : eol};
  }
  if (dialect.comments && StartsAt(text, pos, kCommentOpen)) return BlockComment(text, pos, dialect.nestedComments);
  if (dialect.quotes.find(c) != std::wstring_view::npos) {
    const std::size_t end = EndOfQuoted(text, pos, ClosingQuote(c), content, dialect.backslashEscapes && c == L'\'');
    if (end == std::wstring_view::npos) return {SqlToken::Kind::Quoted, text.size(), false};
    return {SqlToken::Kind::Quoted, end};
  }
  if (dialect.dollarQuotes && c == kDollar && pos + 1 < text.size() &&
      (text[pos + 1] == kDollar || IsSqlWordStart(text[pos + 1]))) {
    return DollarQuoted(text, pos);
  }
  if (IsSqlWordStart(c)) return {SqlToken::Kind::Word, RunOf(text, pos, IsSqlWordChar)};
  if (IsAsciiDigit(c)) {
    return {SqlToken::Kind::Number, RunOf(text, pos, [](wchar_t d) { return IsSqlWordChar(d) || d == L'.'; })};
  }
  return {SqlToken::Kind::Punct, pos + 1};
}

std::size_t EndOfQuoted(std::wstring_view text, std::size_t open, wchar_t close, std::wstring* content,
                        bool backslashEscapes) {
  const wchar_t stops[] = {close, kBackslash};
  const std::wstring_view stopSet(stops, backslashEscapes ? 2 : 1);
  std::size_t pos = open + 1;
  for (;;) {
    // Runs between stops are copied in one go.
    const std::size_t stop = text.find_first_of(stopSet, pos);
    if (stop == std::wstring_view::npos) return stop;
    if (content != nullptr) content->append(text.substr(pos, stop - pos));
    const bool escaped = text[stop] != close;
    const bool doubled = !escaped && stop + 1 < text.size() && text[stop + 1] == close;
    if (!escaped && !doubled) return stop + 1;
    if (stop + 1 >= text.size()) return std::wstring_view::npos;
    if (content != nullptr) {
      if (escaped) content->push_back(text[stop]);
      content->push_back(text[stop + 1]);
    }
    pos = stop + 2;
  }
}

}  // namespace quillon::text
