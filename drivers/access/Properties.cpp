#include "drivers/access/Properties.h"

namespace quillon::drivers::access {
namespace {

constexpr std::uint8_t kSignature[4] = {'M', 'R', '2', 0x00};
constexpr std::uint16_t kNameBlock = 0x0080;
constexpr std::uint16_t kObjectValueBlock = 0x0000;
constexpr std::size_t kBlockHeaderSize = 6;  // u32 length, u16 type
constexpr std::size_t kValueHeaderSize = 8;  // u16 length, flag, type, u16 name index, u16 value length
// The object's own values carry an empty name: a u32 length (of itself and the name) and u16 0.
constexpr std::size_t kUnnamedSize = 6;
// Jet's file version "08.50" and the build Access 2000 writes with it.
constexpr char16_t kAccess2000Version[] = u"08.50";
constexpr std::int32_t kAccess2000Build = 6620;

void AppendU16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  AppendU16(out, static_cast<std::uint16_t>(value));
  AppendU16(out, static_cast<std::uint16_t>(value >> 16));
}

void AppendText(std::vector<std::uint8_t>& out, std::u16string_view text) {
  for (const char16_t c : text) AppendU16(out, c);
}

std::vector<std::uint8_t> ValueBytes(const Property& property) {
  std::vector<std::uint8_t> bytes;
  switch (property.type) {
    case Property::Type::Boolean:
      bytes.push_back(property.number != 0 ? 1 : 0);
      break;
    case Property::Type::Long:
      AppendU32(bytes, static_cast<std::uint32_t>(property.number));
      break;
    case Property::Type::Text:
      AppendText(bytes, property.text);
      break;
  }
  return bytes;
}

}  // namespace

std::vector<std::uint8_t> EncodeProperties(std::span<const Property> properties) {
  std::vector<std::uint8_t> out(std::begin(kSignature), std::end(kSignature));
  std::vector<std::uint8_t> block;
  for (const auto& property : properties) {
    AppendU16(block, static_cast<std::uint16_t>(property.name.size() * 2));
    AppendText(block, property.name);
  }
  AppendU32(out, static_cast<std::uint32_t>(kBlockHeaderSize + block.size()));
  AppendU16(out, kNameBlock);
  out.insert(out.end(), block.begin(), block.end());

  block.clear();
  AppendU32(block, kUnnamedSize);
  AppendU16(block, 0);
  for (std::size_t i = 0; i < properties.size(); ++i) {
    const auto value = ValueBytes(properties[i]);
    AppendU16(block, static_cast<std::uint16_t>(kValueHeaderSize + value.size()));
    block.push_back(0);  // not a DDL property
    block.push_back(static_cast<std::uint8_t>(properties[i].type));
    AppendU16(block, static_cast<std::uint16_t>(i));
    AppendU16(block, static_cast<std::uint16_t>(value.size()));
    block.insert(block.end(), value.begin(), value.end());
  }
  AppendU32(out, static_cast<std::uint32_t>(kBlockHeaderSize + block.size()));
  AppendU16(out, kObjectValueBlock);
  out.insert(out.end(), block.begin(), block.end());
  return out;
}

std::vector<Property> NewDatabaseProperties() {
  return {{u"AccessVersion", Property::Type::Text, kAccess2000Version, 0},
          {u"Build", Property::Type::Long, {}, kAccess2000Build}};
}

std::vector<Property> NewSummaryProperties(std::u16string_view title) {
  return {{u"Title", Property::Type::Text, std::u16string(title), 0}};
}

std::vector<Property> NewUserDefinedProperties() { return {{u"ReplicateProject", Property::Type::Boolean, {}, 1}}; }

}  // namespace quillon::drivers::access
