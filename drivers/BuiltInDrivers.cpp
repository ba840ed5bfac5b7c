#include "drivers/BuiltInDrivers.h"

#include "drivers/access/AccessDriver.h"
#include "drivers/excel/ExcelDriver.h"
#include "drivers/text/TextDriver.h"
#include "drivers/xlsx/XlsxDriver.h"
#include "platform/odbc/DriverRegistry.h"

namespace quillon::drivers {

void RegisterBuiltInDrivers() {
  auto& registry = odbc::DriverRegistry::Instance();
  registry.Register(excel::MakeExcelDriver());
  registry.Register(access::MakeAccessDriver());
  registry.Register(xlsx::MakeXlsxDriver());
  registry.Register(delimited::MakeTextDriver());
  registry.Register(delimited::MakeCsvDriver());
}

}  // namespace quillon::drivers
