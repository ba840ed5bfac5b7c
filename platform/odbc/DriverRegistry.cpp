#include "platform/odbc/DriverRegistry.h"

#include "platform/text/WideText.h"

namespace quillon::odbc {

bool IBuiltInDriver::ConfigDataSource(unsigned short, const std::vector<std::wstring>&) { return false; }

DriverRegistry& DriverRegistry::Instance() {
  static DriverRegistry registry;
  return registry;
}

void DriverRegistry::Register(std::shared_ptr<IBuiltInDriver> driver) {
  std::lock_guard lock(m_mutex);
  const std::wstring name = driver->Name();
  for (auto& existing : m_drivers) {
    if (text::EqualsIgnoreAsciiCase(existing->Name(), name)) {
      existing = std::move(driver);
      return;
    }
  }
  m_drivers.push_back(std::move(driver));
}

std::shared_ptr<IBuiltInDriver> DriverRegistry::Find(std::wstring_view name) const {
  std::lock_guard lock(m_mutex);
  for (const auto& driver : m_drivers) {
    if (text::EqualsIgnoreAsciiCase(driver->Name(), name)) return driver;
  }
  return nullptr;
}

}  // namespace quillon::odbc
