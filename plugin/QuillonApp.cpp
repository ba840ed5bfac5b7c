#include "plugin/QuillonApp.h"

#include <QApplication>
#include <cstdio>
#include <exception>
#include <mutex>

#include "dialog/TallyraDlg.h"
#include "drivers/BuiltInDrivers.h"
#include "platform/ui/Prompts.h"

namespace quillon::plugin {

CQuillonApp::CQuillonApp() = default;

void CQuillonApp::SetHost(HostContext* host) { m_pHost = host; }

HostContext* CQuillonApp::GetHost() { return m_pHost; }

std::int32_t CQuillonApp::GetKind() { return kKind; }

std::int32_t CQuillonApp::GetLevel() { return kLevel; }

void CQuillonApp::InitInstance() {
  static std::once_flag once;
  std::call_once(once, [] { drivers::RegisterBuiltInDrivers(); });
}

bool CQuillonApp::Execute() {
  try {
    // Through the table entry, as the host would, so that a host's own override is honoured.
    HostContext* host = static_cast<IPlugin*>(this)->GetHost();
    if (host == nullptr) return false;
    ConnectionSource* source = host->GetConnectionSource();
    if (source == nullptr) return false;
    odbc::CDatabase* database = source->GetDatabase();
    if (database == nullptr) return false;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
      std::fprintf(stderr, "quillon: the host has no QApplication to show the dialog in\n");
      return false;
    }
    InitInstance();
    dialog::CTallyraDlg dialog(database, nullptr);
    return dialog.DoModal() == ui::IDOK;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillon: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "quillon: unexpected error\n");
  }
  return false;
}

CQuillonApp& TheApp() {
  static CQuillonApp app;
  return app;
}

}  // namespace quillon::plugin

extern "C" IDatabasePlugin* GetPluginInterface() { return &quillon::plugin::TheApp(); }
