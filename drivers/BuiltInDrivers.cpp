#include "drivers/BuiltInDrivers.h"

#include "drivers/excel/ExcelDriver.h"
#include "platform/odbc/DriverRegistry.h"

namespace quillon::drivers {

void RegisterBuiltInDrivers() {
  auto& registry = odbc::DriverRegistry::Instance();
  // Each output driver adds its registration here.
  registry.Register(excel::MakeExcelDriver());
}

}  // namespace quillon::drivers
