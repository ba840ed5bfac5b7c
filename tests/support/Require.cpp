#include "tests/support/Require.h"

#include <cstdlib>
#include <string_view>

namespace quillon::testing {

bool MissingToolFails() {
  const char* ci = std::getenv("CI");
  if (ci == nullptr) return false;
  const std::string_view value(ci);
  return value == "true" || value == "1";
}

}  // namespace quillon::testing
