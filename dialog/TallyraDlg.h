// The export dialog "Vantoria": a fixed-size modal dialog, built from the export dialog
// template, in which the user types a statement, picks an output file and a format, and
// watches the time-stamped log of what the module does.
//
// It borrows the host's open database connection for its lifetime and never closes it. The
// controls are reached by their template identifiers; only the log list is held in a member.
// Field texts and the format selection are read from the controls whenever they are needed.
//
// Exports (Start, Run script) run on one worker thread at a time. Everything the worker does to
// the dialog is a blocking call carried over to the user-interface thread, which never waits for
// the worker: it keeps its event loop running, so the dialog stays usable during a run. Closing
// the dialog during a run asks the run to stop (cancelling a statement the source is still
// running) and closes once the worker has ended; the
// destructor, too, waits for the worker (running the event loop meanwhile), so no worker ever
// outlives the dialog.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "engine/ExportHost.h"
#include "engine/OutputFormat.h"
#include "platform/ui/Prompts.h"

class QKeyEvent;
class QTreeWidget;

namespace quillon::odbc {
class CDatabase;
}

namespace quillon::dialog {

class QtPrompts;

class CTallyraDlg : public QDialog, public engine::IExportHost {
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
  void AddLogLine(const std::wstring& text) override;

  // The rest of what an export run asks of the dialog; any thread.
  // The Date field's text as it was when the current export started (the field is disabled
  // while a run is active).
  std::wstring GetDatePattern() override;
  // The driver's message in an OK/Cancel box; OK skips the row, Cancel ends the copying.
  engine::RowErrorAnswer AnswerRowError(const odbc::CDBException& error) override;
  // An error box "Unknown type".
  void ReportUnknownType() override;
  // Whether Stop was pressed, or the dialog is closing, since the run started.
  bool IsStopRequested() override;
  // The rows copied so far and their rate in the window title, after the caption; the idle
  // state puts the caption back.
  void ShowProgress(std::int32_t totalRows, double rowsPerSecond, const std::wstring& table) override;

  // Runs one export from the host's database into `path` (the format at `format`), with its
  // progress in the log; the Date field is read once, here. True when the copying reached the
  // end of the result or was ended in the row-error box. Never throws. Any thread, but it waits
  // for the user-interface thread at every log line: that thread must not wait for it.
  bool ExportQuery(const std::wstring& statement, const std::wstring& path, engine::OutputFormat format);

  // 1: the running state (inputs, Check, "..." and Run script disabled; Start/Stop checked,
  // captioned "Stop" and enabled, so that every run can be stopped); 0: the idle state, with
  // Start/Stop enabled as it was before the run. Any thread.
  void SetRunningState(int newState);
  // Exports the statement field's text into the path field's file in the selected format.
  bool RunExportFromDialog();

  // The worker procedures; `param` is the dialog. They never throw: an exception that escapes a
  // run is logged and shown in an error box, and the dialog returns to idle.
  // One export from the dialog's fields. Returns 1.
  static unsigned ExportThreadProc(void* param);
  // Asks for a script file and runs it. Returns 0 when a record stopped the run, 1 otherwise.
  static unsigned ScriptThreadProc(void* param);

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
  void OnStartStop();
  // Stop: the flag the run reads before each row, and a cancel of the statement it may still be
  // waiting for.
  void RequestStop();
  void OnCheck();
  void OnRunScript();

  // Starts `proc` on the worker thread; false when a run is still active (one at a time) or the
  // thread cannot be started (reported).
  bool StartWorker(unsigned (*proc)(void*));
  bool WorkerActive() const;
  // The worker's last call to the dialog: the idle state, and the worker marked as ended.
  void EndRun();
  // On the user-interface thread once the worker has ended: joins it, and closes the dialog
  // when a close was put off for it.
  void ReapWorker();
  // Asks the run to stop and runs the event loop until the worker has ended; then joins it.
  void WaitForWorker();
  // Runs `body` on the worker; whatever escapes it is logged and shown in an error box. Then
  // EndRun, whatever happened.
  template <class Body>
  void RunGuarded(Body&& body);
  void ReportWorkerFailure(const std::wstring& message);

  // The log list's keys: Delete removes the selected lines, Ctrl+A selects every line.
  void PreTranslateLogKey(const QKeyEvent& key);
  void SizeLogColumns();
  void EndDialog(int result);

  odbc::CDatabase* m_pDatabase;
  std::array<QPixmap, 5> m_bitmaps;  // the banner of each output format
  QTreeWidget* m_listLog = nullptr;
  std::atomic<bool> m_bStopRequested{false};
  std::atomic<bool> m_bRunning{false};

  std::thread m_worker;                   // touched by the user-interface thread only
  std::atomic<bool> m_workerEnded{true};  // set as the worker's run ends (EndRun)
  std::atomic<bool> m_closing{false};     // a close waits for the run to stop
  std::optional<int> m_pendingClose;      // the result of that close
  std::wstring m_datePattern;             // the current export's, read by its thread only
  bool m_startEnabledBeforeRun = false;   // Start/Stop's enabled state before the run (UI thread)

  std::unique_ptr<QtPrompts> m_ownPrompts;
  std::unique_ptr<ui::ScopedPrompts> m_promptsInstalled;
};

}  // namespace quillon::dialog
