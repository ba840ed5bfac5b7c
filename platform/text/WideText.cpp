#include "platform/text/WideText.h"

#include <clocale>
#include <cwchar>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillon::text {
namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;
constexpr char32_t kSurrogateFirst = 0xD800;
constexpr char32_t kSurrogateLast = 0xDFFF;
constexpr char32_t kLowSurrogateFirst = 0xDC00;

bool IsSurrogate(char32_t c) { return c >= kSurrogateFirst && c <= kSurrogateLast; }

// A wchar_t that is not a Unicode scalar value is written as U+FFFD.
char32_t Scalar(wchar_t w) {
  const auto c = static_cast<char32_t>(w);
  return (c > kMaxCodePoint || IsSurrogate(c)) ? kReplacementCharacter : c;
}

// One character of UTF-8 text.
struct Utf8Step {
  char32_t character;  // when valid
  int bytes;           // the sequence's length; when invalid, its lead byte and the continuation bytes that were
  bool valid;          // a shortest form of a scalar value, whole before the end
};

// Decodes the character at `p` (before `end`).
Utf8Step DecodeUtf8(const unsigned char* p, const unsigned char* end) {
  const unsigned char lead = *p;
  if (lead < 0x80) return {lead, 1, true};
  int length = 0;
  char32_t c = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, c = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, c = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, c = lead & 0x07, minimum = 0x10000;
  } else {
    return {0, 1, false};
  }
  for (int taken = 1; taken < length; ++taken) {
    if (p + taken >= end || (p[taken] & 0xC0) != 0x80) return {0, taken, false};
    c = (c << 6) | (p[taken] & 0x3F);
  }
  if (c < minimum || c > kMaxCodePoint || IsSurrogate(c)) return {0, length, false};
  return {c, length, true};
}

}  // namespace

std::wstring Utf8ToWide(std::string_view utf8) {
  std::wstring out;
  Utf8ToWide(utf8, out);
  return out;
}

void Utf8ToWide(std::string_view utf8, std::wstring& out) {
  // Never more characters than bytes: decode into place, then cut to the length decoded.
  out.resize(utf8.size());
  wchar_t* to = out.data();
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const auto* end = p + utf8.size();
  while (p < end) {
    // Runs of ASCII, the common case, take no decoding.
    while (p < end && *p < 0x80) *to++ = static_cast<wchar_t>(*p++);
    if (p == end) break;
    const Utf8Step step = DecodeUtf8(p, end);
    *to++ = static_cast<wchar_t>(step.valid ? step.character : kReplacementCharacter);
    p += step.bytes;
  }
  out.resize(static_cast<std::size_t>(to - out.data()));
}

std::size_t ValidUtf8Length(std::string_view bytes) {
  const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* p = begin;
  const auto* end = begin + bytes.size();
  while (p < end) {
    const Utf8Step step = DecodeUtf8(p, end);
    if (!step.valid) break;
    p += step.bytes;
  }
  return static_cast<std::size_t>(p - begin);
}

std::string WideToUtf8(std::wstring_view wide) {
  std::string out(wide.size() * kMaxUtf8Bytes, '\0');
  char* put = out.data();
  for (const wchar_t w : wide) put = PutUtf8(put, Scalar(w));
  out.resize(static_cast<std::size_t>(put - out.data()));
  return out;
}

char* PutUtf8(char* out, char32_t code) {
  if (code < 0x80) {
    *out++ = static_cast<char>(code);
  } else if (code < 0x800) {
    *out++ = static_cast<char>(0xC0 | (code >> 6));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (code >> 12));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (code >> 18));
    *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

std::size_t ValidUtf16Length(std::u16string_view utf16) {
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t unit = utf16[i];
    if (!IsSurrogate(unit)) continue;
    if (unit >= kLowSurrogateFirst || i + 1 == utf16.size() || utf16[i + 1] < kLowSurrogateFirst ||
        utf16[i + 1] > kSurrogateLast)
      return i;
    ++i;
  }
  return utf16.size();
}

std::wstring Utf16ToWide(std::u16string_view utf16) {
  std::wstring out;
  Utf16ToWide(utf16, out);
  return out;
}

void Utf16ToWide(std::u16string_view utf16, std::wstring& out) {
  out.clear();
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char32_t unit = utf16[i];
    if (unit >= kSurrogateFirst && unit < kLowSurrogateFirst && i + 1 < utf16.size() &&
        utf16[i + 1] >= kLowSurrogateFirst && utf16[i + 1] <= kSurrogateLast) {
      const char32_t low = utf16[++i];
      out.push_back(static_cast<wchar_t>(0x10000 + ((unit - kSurrogateFirst) << 10) + (low - kLowSurrogateFirst)));
    } else {
      out.push_back(static_cast<wchar_t>(IsSurrogate(unit) ? kReplacementCharacter : unit));
    }
  }
}

std::u16string WideToUtf16(std::wstring_view wide) {
  std::u16string out;
  WideToUtf16(wide, out);
  return out;
}

void WideToUtf16(std::wstring_view wide, std::u16string& out) {
  // Room for two units a character, then cut to what the buffer form wrote.
  out.resize(2 * wide.size());
  out.resize(WideToUtf16(wide, out.data()));
}

std::size_t WideToUtf16(std::wstring_view wide, char16_t* out) {
  char16_t* to = out;
  const wchar_t* p = wide.data();
  const wchar_t* const end = p + wide.size();
  // Runs of characters all below U+8000 (no bits above the low 15, so no surrogate and no value
  // outside Unicode), eight and then four at a time: each is then its own one unit.
  constexpr auto kAbove15Bits = ~static_cast<char32_t>(0x7FFF);
  constexpr std::ptrdiff_t kQuad = 4;
#if defined(__SSE2__)
  static_assert(sizeof(wchar_t) * kQuad == sizeof(__m128i));
  const __m128i above15Bits = _mm_set1_epi32(static_cast<int>(kAbove15Bits));
  constexpr int kAllBytesEqual = 0xFFFF;
  for (; end - p >= 2 * kQuad; p += 2 * kQuad, to += 2 * kQuad) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + kQuad));
    const __m128i above = _mm_and_si128(_mm_or_si128(low, high), above15Bits);
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(above, _mm_setzero_si128())) != kAllBytesEqual) break;
    // Values of 15 bits pass the signed narrowing unchanged.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_packs_epi32(low, high));
  }
#endif
  for (; end - p >= kQuad; p += kQuad, to += kQuad) {
    const auto a = static_cast<char32_t>(p[0]), b = static_cast<char32_t>(p[1]);
    const auto c = static_cast<char32_t>(p[2]), d = static_cast<char32_t>(p[3]);
    if (((a | b | c | d) & kAbove15Bits) != 0) break;
    to[0] = static_cast<char16_t>(a), to[1] = static_cast<char16_t>(b);
    to[2] = static_cast<char16_t>(c), to[3] = static_cast<char16_t>(d);
  }
  for (const wchar_t w : std::wstring_view(p, static_cast<std::size_t>(end - p))) {
    // Below the surrogates, as nearly all text is, a character is its own one unit.
    const auto c = static_cast<char32_t>(w);
    if (c < kSurrogateFirst) {
      *to++ = static_cast<char16_t>(c);
      continue;
    }
    const char32_t scalar = Scalar(w);
    if (scalar < 0x10000) {
      *to++ = static_cast<char16_t>(scalar);
    } else {
      const char32_t v = scalar - 0x10000;
      *to++ = static_cast<char16_t>(kSurrogateFirst + (v >> 10));
      *to++ = static_cast<char16_t>(kLowSurrogateFirst + (v & 0x3FF));
    }
  }
  return static_cast<std::size_t>(to - out);
}

std::wstring LocaleToWide(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  std::mbstate_t state{};
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    wchar_t w = 0;
    const std::size_t n = std::mbrtowc(&w, p, left, &state);
    if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
      // An invalid or cut-off sequence: one byte becomes U+FFFD and decoding starts afresh.
      out.push_back(static_cast<wchar_t>(kReplacementCharacter));
      state = std::mbstate_t{};
      ++p, --left;
      continue;
    }
    const std::size_t used = n == 0 ? 1 : n;  // an embedded NUL is a character like any other
    out.push_back(w);
    p += used, left -= used;
  }
  return out;
}

std::wstring AsciiUpper(std::wstring_view text) {
  std::wstring out(text);
  for (auto& c : out) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  return out;
}

bool EqualsIgnoreAsciiCase(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() && AsciiUpper(a) == AsciiUpper(b);
}

}  // namespace quillon::text
