#include "drivers/access/JetText.h"

#include <algorithm>

#include "drivers/access/Jet4Format.h"

namespace quillon::drivers::access {

std::vector<std::uint8_t> EncodeJetText(std::u16string_view text, bool mayCompress) {
  std::vector<std::uint8_t> out;
  AppendJetText(text, mayCompress, out);
  return out;
}

void AppendJetText(std::u16string_view text, bool mayCompress, std::vector<std::uint8_t>& out) {
  const JetTextLayout layout = LayOutJetText(text, mayCompress);
  const std::size_t at = out.size();
  out.resize(at + layout.size);
  PutJetText(text, layout, out.data() + at);
}

JetTextLayout LayOutJetText(std::u16string_view text, bool mayCompress) {
  const bool compressed = mayCompress && !text.empty() &&
                          std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= 0x01 && c <= 0xFF; });
  return {compressed, compressed ? text.size() + sizeof jet4::kCompressedTextMarker : text.size() * 2};
}

void PutJetText(std::u16string_view text, const JetTextLayout& layout, std::uint8_t* out) {
  if (layout.compressed) {
    *out++ = jet4::kCompressedTextMarker[0];
    *out++ = jet4::kCompressedTextMarker[1];
    for (char16_t c : text) *out++ = static_cast<std::uint8_t>(c);
    return;
  }
  for (char16_t c : text) {
    *out++ = static_cast<std::uint8_t>(c);
    *out++ = static_cast<std::uint8_t>(c >> 8);
  }
}

std::u16string DecodeJetText(std::span<const std::uint8_t> bytes) {
  std::u16string out;
  if (bytes.size() > 2 && bytes[0] == jet4::kCompressedTextMarker[0] && bytes[1] == jet4::kCompressedTextMarker[1]) {
    bool compressed = true;
    for (std::size_t i = 2; i < bytes.size();) {
      if (bytes[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        out.push_back(bytes[i++]);
      } else if (i + 1 < bytes.size()) {
        out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
        i += 2;
      } else {
        break;
      }
    }
    return out;
  }
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  return out;
}

}  // namespace quillon::drivers::access
