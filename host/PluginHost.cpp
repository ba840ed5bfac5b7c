#include "host/PluginHost.h"

#include <dlfcn.h>

#include <stdexcept>

namespace quillon::host {
namespace {
constexpr const char* kPluginFileName = "libquillon.so";
}

PluginLibrary::PluginLibrary(const std::filesystem::path& path) {
  m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (m_handle == nullptr) {
    const char* reason = dlerror();
    throw std::runtime_error("cannot load the plug-in " + path.string() + ": " + (reason ? reason : "unknown reason"));
  }
  auto entry = reinterpret_cast<GetPluginInterfaceFunction>(dlsym(m_handle, kGetPluginInterfaceSymbol));
  m_plugin = entry != nullptr ? entry() : nullptr;
  if (m_plugin == nullptr) {
    dlclose(m_handle);
    throw std::runtime_error(path.string() + " is not a Quillon plug-in: it has no " + kGetPluginInterfaceSymbol);
  }
}

PluginLibrary::~PluginLibrary() { dlclose(m_handle); }

std::filesystem::path DefaultPluginPath() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return kPluginFileName;
  return exe.parent_path().parent_path() / "lib" / kPluginFileName;
}

}  // namespace quillon::host
