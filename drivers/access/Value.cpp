#include "drivers/access/Value.h"

#include "drivers/sql/ValueCheck.h"

namespace quillon::drivers::access {

double JetDate(int year, int month, int day, int hour, int minute, double second) {
  // Whole days since 1899-12-30, counted as the SQL layer counts date serials.
  const auto days = static_cast<std::int64_t>(sql::DateSerial(sql::DateTime{year, month, day, 0, 0, 0}));
  const double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

}  // namespace quillon::drivers::access
