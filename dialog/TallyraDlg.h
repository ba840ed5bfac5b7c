// The export dialog "Vantoria": a fixed-size modal dialog, built from the export dialog
// template, in which the user types a statement, picks an output file and a format, and
// watches the time-stamped log of what the module does.
//
// It borrows the host's open database connection for its lifetime and never closes it. The
// controls are reached by their template identifiers; only the log list is held in a member.
// Field texts and the format selection are read from the controls whenever they are needed.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/ui/Prompts.h"

class QKeyEvent;
class QTreeWidget;

namespace quillon::odbc {
class CDatabase;
}

namespace quillon::dialog {

class QtPrompts;

class CTallyraDlg : public QDialog {
  Q_OBJECT

 public:
  // `database`: the host's open connection, borrowed. `parent`: the owner window, or none.
  // `prompts`: what message boxes and file dialogs go through while the dialog exists; when
  // null, the dialog installs its own Qt prompts for its lifetime. Either way the prompts that
  // were installed before come back when the dialog is destroyed. Builds the controls and
  // initialises them; shows nothing. Needs the QApplication; user-interface thread only.
  explicit CTallyraDlg(odbc::CDatabase* database, QWidget* parent = nullptr, ui::IPrompts* prompts = nullptr);
  ~CTallyraDlg() override;

  CTallyraDlg(const CTallyraDlg&) = delete;
  CTallyraDlg& operator=(const CTallyraDlg&) = delete;

  // Shows the dialog modally, centred over its owner (or the screen), and returns how it
  // ended: ui::IDOK (Enter where the focused control does not take it) or ui::IDCANCEL
  // (Escape, the close box).
  int DoModal();

  // The control with template identifier `id`; null for none.
  QWidget* GetDlgItem(int id) const;
  // The text of an edit field, a button or a label, or the selected item of the format list.
  // Callable from any thread: a worker's call waits while the user-interface thread runs it.
  std::wstring GetDlgItemText(int id) const;
  // Sets the text of an edit field, a button or a label. Any thread, like GetDlgItemText.
  void SetDlgItemText(int id, const std::wstring& text);
  // The format list's selection index (the output format), -1 for none. Any thread.
  int GetFormatSelection() const;

  // Appends one line at the bottom of the log: the local time of the call ("%H:%M:%S") and
  // `text`. Callable from any thread; from a worker it waits while the user-interface thread
  // appends the line, so that thread must keep its event loop running meanwhile. The list is
  // not scrolled to the new line.
  void AddLogLine(const std::wstring& text);

  // `time` (seconds since 1970-01-01 00:00 UTC) as local time by the strftime `pattern`;
  // empty for a null pattern or a time that cannot be written.
  static std::wstring FormatTimeStamp(std::int64_t time, const wchar_t* pattern);

 public slots:
  void accept() override;
  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void CreateControls();
  void BindHandlers();
  void OnInitDialog();

  // Check and Start follow the text of the field that changed last.
  void UpdateActionButtons(int fieldId);
  void OnSqlChanged();
  void OnPathChanged();
  void OnBrowse();
  void OnFormatChanged();

  // The log list's keys: Delete removes the selected lines, Ctrl+A selects every line.
  void PreTranslateLogKey(const QKeyEvent& key);
  void SizeLogColumns();
  void EndDialog(int result);

  odbc::CDatabase* m_pDatabase;
  std::array<QPixmap, 3> m_bitmaps;
  QTreeWidget* m_listLog = nullptr;
  std::atomic<bool> m_bStopRequested{false};
  std::atomic<bool> m_bRunning{false};

  std::unique_ptr<QtPrompts> m_ownPrompts;
  std::unique_ptr<ui::ScopedPrompts> m_promptsInstalled;
};

}  // namespace quillon::dialog
