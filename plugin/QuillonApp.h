// The plug-in's single object: one instance, alive from the library's load to its unload.
#pragma once

#include "plugin/PluginInterface.h"

namespace quillon::plugin {

class CQuillonApp final : public IDatabasePlugin {
 public:
  static constexpr std::int32_t kKind = 4;
  static constexpr std::int32_t kLevel = 1;

  CQuillonApp();

  void SetHost(HostContext* host) override;
  HostContext* GetHost() override;
  std::int32_t GetKind() override;
  // Runs the export dialog modally on the host's connection; true when it ended with OK.
  // False, without showing anything, when there is no host context, no connection source, no
  // database or no application object to show the dialog in. Never throws.
  bool Execute() override;
  std::int32_t GetLevel() override;

 private:
  // What the library needs before its first dialog: its built-in output drivers and resources.
  static void InitInstance();
};

CQuillonApp& TheApp();

}  // namespace quillon::plugin
