// A typed value for one column of a row, as the database layer takes it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::drivers::access {

struct Value {
  enum class Kind { Null, Integer, Double, Text, Bytes };
  Kind kind = Kind::Null;
  std::int64_t integer = 0;  // Integer, Long, Yes/No (0 or not)
  double number = 0;         // Double, Date/Time (a Jet date: days since 1899-12-30)
  std::u16string text;
  std::vector<std::uint8_t> bytes;  // OLE

  static Value Null() { return {}; }
  static Value Int(std::int64_t v) { return {Kind::Integer, v, 0, {}, {}}; }
  static Value Real(double v) { return {Kind::Double, 0, v, {}, {}}; }
  static Value Str(std::u16string v) { return {Kind::Text, 0, 0, std::move(v), {}}; }
  static Value Bytes(std::vector<std::uint8_t> v) { return {Kind::Bytes, 0, 0, {}, std::move(v)}; }
};

// The Jet date value of a calendar date and time (proleptic Gregorian). Before 1899-12-30 the
// whole part counts days back and the fraction is still the time of day, as Jet stores it.
double JetDate(int year, int month, int day, int hour = 0, int minute = 0, double second = 0);

}  // namespace quillon::drivers::access
