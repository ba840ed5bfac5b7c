#include "drivers/access/JetText.h"

#include <algorithm>

#include "drivers/access/Jet4Format.h"

namespace quillon::drivers::access {
namespace {

constexpr std::size_t kMarkerSize = sizeof jet4::kCompressedTextMarker;

// A character that compressed text holds in one byte.
constexpr bool FitsOneByte(char16_t c) { return c >= 0x01 && c <= 0xFF; }

}  // namespace

std::vector<std::uint8_t> EncodeJetText(std::u16string_view text, bool mayCompress) {
  std::vector<std::uint8_t> out;
  AppendJetText(text, mayCompress, out);
  return out;
}

void AppendJetText(std::u16string_view text, bool mayCompress, std::vector<std::uint8_t>& out) {
  const std::size_t at = out.size();
  const std::size_t room = std::max(text.size() + kMarkerSize, text.size() * 2);
  out.resize(at + room);
  out.resize(at + *PutJetText(text, mayCompress, out.data() + at, room));
}

std::optional<std::size_t> PutJetText(std::u16string_view text, bool mayCompress, std::uint8_t* out, std::size_t room) {
  const bool compressible = mayCompress && !text.empty();
  if (compressible && text.size() + kMarkerSize <= room) {
    // Each character is written as it is checked: text is compressed far more often than not.
    std::uint8_t* to = out + kMarkerSize;
    std::size_t i = 0;
    for (; i < text.size() && FitsOneByte(text[i]); ++i) to[i] = static_cast<std::uint8_t>(text[i]);
    if (i == text.size()) {
      out[0] = jet4::kCompressedTextMarker[0];
      out[1] = jet4::kCompressedTextMarker[1];
      return text.size() + kMarkerSize;
    }
  } else if (compressible && std::all_of(text.begin(), text.end(), FitsOneByte)) {
    return std::nullopt;  // compressed, it still does not fit
  }
  if (text.size() * 2 > room) return std::nullopt;
  for (char16_t c : text) {
    *out++ = static_cast<std::uint8_t>(c);
    *out++ = static_cast<std::uint8_t>(c >> 8);
  }
  return text.size() * 2;
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
