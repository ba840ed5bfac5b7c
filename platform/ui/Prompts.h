// The one seam through which Quillon asks the user something: message boxes and file dialogs.
// The dialog installs an implementation on Qt widgets, the command line one on the terminal,
// and the tests one that answers from a script. Code that must ask (an error report, a refused
// row, the file dialogs) calls Prompts() and never a toolkit directly.
#pragma once

#include <optional>
#include <string>

namespace quillon::ui {

// Message box types and results, with the values the rest of the code is written against.
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned kButtonsMask = 0xF;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

struct FileDialogRequest {
  enum class Mode { Open, Save };
  Mode mode = Mode::Open;
  // Filter in "Description|pattern|...||" form, e.g. "Microsoft Excel Driver (*.xls)|*.xls||".
  std::wstring filter;
  // Added to a typed name that has no extension; empty for none.
  std::wstring defaultExtension;
  // Save mode: ask before a chosen existing file is overwritten.
  bool confirmOverwrite = false;
};

class IPrompts {
 public:
  virtual ~IPrompts() = default;
  // Shows `text` and returns the button pressed (IDOK or IDCANCEL). Callable from any thread;
  // the implementation carries the call to where it can show the box, and blocks meanwhile.
  virtual int MessageBox(const std::wstring& text, unsigned type) = 0;
  // The full path the user chose, or nothing when the dialog was cancelled. Any thread.
  virtual std::optional<std::wstring> FileDialog(const FileDialogRequest& request) = 0;
};

// The prompts currently installed; when none is, a fallback that writes message boxes to
// standard error, answers IDOK, and cancels file dialogs.
IPrompts& Prompts();

// Installs `prompts` for as long as the guard lives, then restores what was there before.
class ScopedPrompts {
 public:
  explicit ScopedPrompts(IPrompts& prompts);
  ~ScopedPrompts();
  ScopedPrompts(const ScopedPrompts&) = delete;
  ScopedPrompts& operator=(const ScopedPrompts&) = delete;

 private:
  IPrompts* m_previous;
};

}  // namespace quillon::ui
