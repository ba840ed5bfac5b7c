#include "drivers/BuiltInDrivers.h"

#include "drivers/access/AccessDriver.h"
#include "platform/odbc/DriverRegistry.h"

namespace quillon::drivers {

void RegisterBuiltInDrivers() {
  auto& registry = odbc::DriverRegistry::Instance();
  // Each output driver adds its registration here.
  registry.Register(std::make_shared<access::AccessDriver>());
}

}  // namespace quillon::drivers
