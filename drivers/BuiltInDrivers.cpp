#include "drivers/BuiltInDrivers.h"

#include "platform/odbc/DriverRegistry.h"

namespace quillon::drivers {

void RegisterBuiltInDrivers() {
  [[maybe_unused]] auto& registry = odbc::DriverRegistry::Instance();
  // Each output driver adds its registration here.
}

}  // namespace quillon::drivers
