// Property lists as Jet keeps them in the catalog's LvProp column ("MR2" format): a block of
// the property names, then a block of the values the object itself has.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quillon::drivers::access {

struct Property {
  enum class Type : std::uint8_t { Boolean = 0x01, Long = 0x04, Text = 0x0A };
  std::u16string name;
  Type type = Type::Text;
  std::u16string text;      // Text
  std::int32_t number = 0;  // Boolean (0 or not), Long
};

std::vector<std::uint8_t> EncodeProperties(std::span<const Property> properties);

// The properties Access gives a new Access 2000 database: those of the database itself
// (MSysDb), its summary (SummaryInfo) and its user-defined ones (UserDefined).
std::vector<Property> NewDatabaseProperties();
std::vector<Property> NewSummaryProperties(std::u16string_view title);
std::vector<Property> NewUserDefinedProperties();

}  // namespace quillon::drivers::access
