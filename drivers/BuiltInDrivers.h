// The output drivers that ship inside Quillon, registered with the ODBC layer by name.
#pragma once

namespace quillon::drivers {

// Registers every built-in driver with DriverRegistry; calling it again changes nothing.
void RegisterBuiltInDrivers();

}  // namespace quillon::drivers
