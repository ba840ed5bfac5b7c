// Text as Jet 4 stores it: UTF-16LE, or "compressed unicode" (the marker FF FE, then one byte
// a character; a 0x00 byte switches between one- and two-byte characters).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillon::drivers::access {

// Compresses when every character fits one byte (U+0001..U+00FF); otherwise plain UTF-16LE.
// Empty text stays empty.
std::vector<std::uint8_t> EncodeJetText(std::u16string_view text, bool mayCompress);
// The same, appended to `out`.
void AppendJetText(std::u16string_view text, bool mayCompress, std::vector<std::uint8_t>& out);
// The same, written to `out`, which has room for `room` bytes: how many bytes it took, or
// nothing when they would not fit (then what `out` holds is not meaningful).
std::optional<std::size_t> PutJetText(std::u16string_view text, bool mayCompress, std::uint8_t* out, std::size_t room);
std::u16string DecodeJetText(std::span<const std::uint8_t> bytes);

}  // namespace quillon::drivers::access
