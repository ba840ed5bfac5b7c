// Message boxes and file dialogs on Qt widgets. Callable from any thread: the box is shown on
// the application's user-interface thread while the caller waits, so that thread must keep
// its event loop running (a modal dialog's loop does).
#pragma once

#include <QStringList>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ui/Prompts.h"

namespace quillon::dialog {

class QtPrompts final : public ui::IPrompts {
 public:
  // Made on the user-interface thread, it readies that thread for the calls of workers.
  QtPrompts();

  // Buttons OK, or OK and Cancel (MB_OKCANCEL); the error icon for MB_ICONERROR. The caption
  // is the dialog's, "Vantoria". Returns IDOK or IDCANCEL; closing an OK-only box is OK.
  int MessageBox(const std::wstring& text, unsigned type) override;
  // The full chosen path; nothing when cancelled. A save dialog adds the default extension
  // to a name typed without one and, when asked, confirms overwriting an existing file.
  std::optional<std::wstring> FileDialog(const ui::FileDialogRequest& request) override;
};

// A "Description|pattern|...||" filter as Qt name filters ("Description (pattern)"); several
// patterns of one entry, separated by ';', become one space-separated list.
QStringList ToQtNameFilters(std::wstring_view filter);

}  // namespace quillon::dialog
