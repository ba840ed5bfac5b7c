#include "drivers/access/HeaderPage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include "drivers/access/Jet4Format.h"

namespace quillon::drivers::access {
namespace {

namespace hdr = jet4::header;

std::array<std::uint8_t, hdr::kMaskedLength> MaskKeystream() {
  std::array<std::uint8_t, 256> s{};
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(i);
  std::size_t j = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    j = (j + s[i] + hdr::kMaskKey[i % sizeof hdr::kMaskKey]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  std::array<std::uint8_t, hdr::kMaskedLength> out{};
  std::size_t a = 0;
  std::size_t b = 0;
  for (auto& byte : out) {
    a = (a + 1) & 0xFF;
    b = (b + s[a]) & 0xFF;
    std::swap(s[a], s[b]);
    byte = s[(s[a] + s[b]) & 0xFF];
  }
  return out;
}

// The password area of a database without password holds the whole part of the creation date
// repeated; a password is stored XORed with the same pattern.
void PasswordMask(double creationDate, std::uint8_t* out) {
  const auto whole = static_cast<std::uint32_t>(static_cast<std::int32_t>(std::floor(creationDate)));
  for (std::size_t i = 0; i < hdr::kPasswordLength; i += 4) PutU32(out + i, whole);
}

bool HasSignature(std::span<const std::uint8_t> page, const char* signature) {
  const std::size_t length = std::strlen(signature) + 1;
  return page.size() >= hdr::kSignatureOffset + length &&
         std::memcmp(page.data() + hdr::kSignatureOffset, signature, length) == 0;
}

}  // namespace

void ToggleHeaderMask(Page& page) {
  static const auto keystream = MaskKeystream();
  for (std::size_t i = 0; i < keystream.size(); ++i) page[hdr::kMaskedOffset + i] ^= keystream[i];
}

Page BuildHeaderPage(double creationDate) {
  Page page{};
  std::copy(std::begin(hdr::kMagic), std::end(hdr::kMagic), page.begin());
  std::memcpy(page.data() + hdr::kSignatureOffset, hdr::kJetSignature, sizeof hdr::kJetSignature);
  page[hdr::kVersionOffset] = hdr::kVersionJet4;
  PutU16(page.data() + hdr::kCodePageOffset, hdr::kCodePage1252);
  PutU32(page.data() + hdr::kEncodingKeyOffset, 0);
  PasswordMask(creationDate, page.data() + hdr::kPasswordOffset);
  PutU16(page.data() + hdr::kSortOrderOffset, hdr::kSortOrderGeneral);
  PutDouble(page.data() + hdr::kCreationDateOffset, creationDate);
  ToggleHeaderMask(page);
  PutU32(page.data() + hdr::kEngineVersionOffset, hdr::kEngineVersion);
  std::memcpy(page.data() + hdr::kEngineVersionTextOffset, hdr::kEngineVersionText, sizeof hdr::kEngineVersionText);
  return page;
}

std::wstring HeaderPageProblem(std::span<const std::uint8_t> firstPage, std::uint64_t fileSize) {
  constexpr const wchar_t* kNotDatabase = L"it is not an Access database";
  if (firstPage.size() < jet4::kPageSize ||
      !std::equal(std::begin(hdr::kMagic), std::end(hdr::kMagic), firstPage.begin())) {
    return kNotDatabase;
  }
  if (HasSignature(firstPage, hdr::kAceSignature)) {
    return L"it is an Access 2007 or later database (.accdb); only Access 2000-2003 (Jet 4) databases can be "
           L"written";
  }
  if (!HasSignature(firstPage, hdr::kJetSignature)) return kNotDatabase;
  const std::uint8_t version = firstPage[hdr::kVersionOffset];
  if (version == hdr::kVersionJet3) {
    return L"it is an Access 97 (Jet 3) database; only Access 2000-2003 (Jet 4) databases can be written";
  }
  if (version != hdr::kVersionJet4) {
    return L"it is an Access 2007 or later database; only Access 2000-2003 (Jet 4) databases can be written";
  }
  if (fileSize % jet4::kPageSize != 0) {
    return L"it is not a complete Access database (its size is not a whole number of pages)";
  }
  // The catalog's definition is the last of the pages every database starts with.
  if (const std::uint64_t pages = fileSize / jet4::kPageSize; pages <= jet4::catalog::kTdefPage) {
    return L"it is not a complete Access database (it ends after page " + std::to_wstring(pages - 1) +
           L", before its catalog on page " + std::to_wstring(jet4::catalog::kTdefPage) + L")";
  }
  Page page{};
  std::copy_n(firstPage.begin(), page.size(), page.begin());
  ToggleHeaderMask(page);
  if (GetU32(page.data() + hdr::kEncodingKeyOffset) != 0) {
    return L"it is encrypted";
  }
  std::uint8_t mask[hdr::kPasswordLength];
  PasswordMask(GetDouble(page.data() + hdr::kCreationDateOffset), mask);
  for (std::size_t i = 0; i < hdr::kPasswordLength; ++i) {
    if ((page[hdr::kPasswordOffset + i] ^ mask[i]) != 0) return L"it is protected by a password";
  }
  return {};
}

}  // namespace quillon::drivers::access
