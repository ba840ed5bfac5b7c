// Conversions between the wide text used throughout Quillon (std::wstring, UTF-32 on Linux)
// and the encodings found at its edges: UTF-8 (files, narrow ODBC drivers, Qt) and UTF-16
// (SQLWCHAR, file formats). Every conversion is exact for valid input; an invalid sequence
// becomes U+FFFD and never stops the conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::text {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

std::wstring Utf8ToWide(std::string_view utf8);
// The same into `out`, replacing its contents and reusing its storage.
void Utf8ToWide(std::string_view utf8, std::wstring& out);
std::string WideToUtf8(std::wstring_view wide);
// The most bytes a character takes in UTF-8.
inline constexpr std::size_t kMaxUtf8Bytes = 4;
// Puts `code` (up to 21 bits, taken as it is) at `out` in UTF-8; returns the end of what it put.
char* PutUtf8(char* out, char32_t code);
// The length of the longest prefix of `bytes` that is valid UTF-8 and ends between characters:
// bytes.size() exactly when all of it is.
std::size_t ValidUtf8Length(std::string_view bytes);
// The number of leading code units of `utf16` before its first unpaired surrogate:
// utf16.size() exactly when it is all valid UTF-16.
std::size_t ValidUtf16Length(std::u16string_view utf16);

std::wstring Utf16ToWide(std::u16string_view utf16);
// The same into `out`, replacing its contents and reusing its storage.
void Utf16ToWide(std::u16string_view utf16, std::wstring& out);
std::u16string WideToUtf16(std::wstring_view wide);
// The same into `out`, replacing its contents and reusing its storage.
void WideToUtf16(std::wstring_view wide, std::u16string& out);
// The same at `out`, which has room for two units a character; returns the units written.
std::size_t WideToUtf16(std::wstring_view wide, char16_t* out);

// Text in the process locale's codeset, decoded as the locale says (UTF-8 on a normal system).
// A character that does not decode becomes U+FFFD.
std::wstring LocaleToWide(std::string_view bytes);

// Letter case for ASCII only: SQL keywords and file extensions, never user text.
std::wstring AsciiUpper(std::wstring_view text);
bool EqualsIgnoreAsciiCase(std::wstring_view a, std::wstring_view b);

}  // namespace quillon::text
