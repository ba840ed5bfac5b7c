// Text as Jet 4 stores it: UTF-16LE, or "compressed unicode" (the marker FF FE, then one byte
// a character; a 0x00 byte switches between one- and two-byte characters).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quillon::drivers::access {

// Compresses when every character fits one byte (U+0001..U+00FF); otherwise plain UTF-16LE.
// Empty text stays empty.
std::vector<std::uint8_t> EncodeJetText(std::u16string_view text, bool mayCompress);
// The same, appended to `out`.
void AppendJetText(std::u16string_view text, bool mayCompress, std::vector<std::uint8_t>& out);
// How EncodeJetText stores `text`: compressed or not, in how many bytes.
struct JetTextLayout {
  bool compressed = false;
  std::size_t size = 0;
};
JetTextLayout LayOutJetText(std::u16string_view text, bool mayCompress);
// Writes `text` as `layout` says to `out`, which has room for layout.size bytes.
void PutJetText(std::u16string_view text, const JetTextLayout& layout, std::uint8_t* out);
std::u16string DecodeJetText(std::span<const std::uint8_t> bytes);

}  // namespace quillon::drivers::access
