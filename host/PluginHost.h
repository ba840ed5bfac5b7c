// The host's side of the plug-in boundary: the context it hands to the plug-in, and the loaded
// plug-in library.
#pragma once

#include <filesystem>
#include <string>

#include "plugin/PluginInterface.h"

namespace quillon::host {

// Hands the plug-in the host's open connection, which stays the host's.
class HostConnection final : public HostContext, public ConnectionSource {
 public:
  explicit HostConnection(odbc::CDatabase* database) : m_database(database) {}
  virtual ~HostConnection() = default;

  const wchar_t* GetHostName() override { return L"quillon-host"; }
  ConnectionSource* GetConnectionSource() override { return this; }
  odbc::CDatabase* GetDatabase() override { return m_database; }

 private:
  odbc::CDatabase* m_database;
};

// A plug-in library loaded with dlopen, unloaded when the object goes.
class PluginLibrary {
 public:
  // Loads the library and asks it for its plug-in interface; throws std::runtime_error with a
  // one-line reason when the file cannot be loaded or does not export GetPluginInterface.
  explicit PluginLibrary(const std::filesystem::path& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  IDatabasePlugin& Plugin() const { return *m_plugin; }

 private:
  void* m_handle = nullptr;
  IDatabasePlugin* m_plugin = nullptr;
};

// Where the plug-in is installed beside the host: ../lib/libquillon.so from the executable.
std::filesystem::path DefaultPluginPath();

}  // namespace quillon::host
