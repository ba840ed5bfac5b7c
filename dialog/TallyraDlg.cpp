#include "dialog/TallyraDlg.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCompleter>
#include <QCursor>
#include <QEventLoop>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <system_error>

#include "dialog/DialogRules.h"
#include "dialog/DialogUnits.h"
#include "dialog/QtPrompts.h"
#include "dialog/UiThread.h"
#include "engine/ExportRun.h"
#include "engine/ReadOnlyStatement.h"
#include "engine/ScriptRunner.h"
#include "engine/TimeText.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/ConnectString.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/Recordset.h"
#include "platform/text/WideText.h"
#include "resources/DialogTemplate.h"
#include "resources/Resources.h"

namespace quillon::dialog {
namespace {

namespace res = quillon::resources;

// The template asks for "MS Shell Dlg" 8 pt; this is the font that stands in for it here.
// The layout is measured in it, so another font would only change the dialog's pixel size.
constexpr auto kDialogFontFamily = "DejaVu Sans";
constexpr const wchar_t* kLogTimePattern = L"%H:%M:%S";
constexpr int kInitialColumnWidth = 10;
constexpr int kIdle = 0;
constexpr int kRunning = 1;
constexpr unsigned kWorkerDone = 1;
constexpr unsigned kWorkerStopped = 0;
constexpr int kWorkerPollMs = 20;
constexpr auto kStartCaption = "Start";
constexpr auto kStopCaption = "Stop";
constexpr const wchar_t* kScriptFilter = L"Script (Tab Delimited) (*.txt)|*.txt||";

// The dialog's own log lines and boxes.
namespace logline {
constexpr std::wstring_view kNotCheckable = L"STMT can't be empty and it must be SELECT type";
constexpr std::wstring_view kCheckedWithRows = L"Statement executed succesfully";
constexpr std::wstring_view kNoDatabase = L"No database connection is open";
constexpr std::wstring_view kUnknownType = L"Unknown type";
constexpr std::wstring_view kUnknownException = L"Unknown exception";
constexpr std::wstring_view kNoWorker = L"Can't start the export thread: ";
}  // namespace logline

QString ObjectNameOf(int id) { return QStringLiteral("control%1").arg(id); }

QString ToQString(std::string_view latin1) {
  return QString::fromLatin1(latin1.data(), static_cast<qsizetype>(latin1.size()));
}

QString TextOf(const QWidget* control) {
  if (const auto* line = qobject_cast<const QLineEdit*>(control)) return line->text();
  if (const auto* lines = qobject_cast<const QPlainTextEdit*>(control)) return lines->toPlainText();
  if (const auto* button = qobject_cast<const QAbstractButton*>(control)) return button->text();
  if (const auto* label = qobject_cast<const QLabel*>(control)) return label->text();
  if (const auto* combo = qobject_cast<const QComboBox*>(control)) return combo->currentText();
  return {};
}

// False when the script file cannot be opened (or names a folder).
bool OpenScript(engine::ScriptFile& file, const std::wstring& path) {
  try {
    file.Open(path);
    return true;
  } catch (const odbc::CDBException&) {
    return false;
  }
}

void SetTextOf(QWidget* control, const QString& text) {
  if (auto* line = qobject_cast<QLineEdit*>(control)) {
    line->setText(text);
    line->setCursorPosition(0);  // show the text from its beginning
  } else if (auto* lines = qobject_cast<QPlainTextEdit*>(control)) {
    lines->setPlainText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    button->setText(text);
  } else if (auto* label = qobject_cast<QLabel*>(control)) {
    label->setText(text);
  }
}

QWidget* MakeEdit(const res::ControlTemplate& t, QWidget* parent) {
  if (res::IsMultiLineEdit(t)) {
    auto* edit = new QPlainTextEdit(parent);
    // Enter is the field's own (a line break); Tab still moves on to the next control.
    edit->setTabChangesFocus(true);
    if (res::HasStyle(t, res::style::kEditAutoHScroll)) edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    if (res::HasStyle(t, res::style::kVScroll)) edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return edit;
  }
  auto* edit = new QLineEdit(parent);
  edit->setReadOnly(res::IsReadOnlyEdit(t));
  return edit;
}

QWidget* MakeStatic(const res::ControlTemplate& t, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  if (res::IsPicture(t)) {
    label->setPixmap(QPixmap(res::BitmapPath(t.image)));
  } else {
    label->setText(ToQString(t.text));
    label->setTextFormat(Qt::PlainText);
  }
  return label;
}

QWidget* MakeButton(const res::ControlTemplate& t, QWidget* parent) {
  auto* button = new QPushButton(ToQString(t.text), parent);
  // Enter presses the focused button and otherwise ends the dialog: no button is a default.
  button->setAutoDefault(false);
  button->setDefault(false);
  // A push-like check box toggles on every click before the click is reported.
  button->setCheckable(res::IsCheckBox(t));
  return button;
}

QWidget* MakeComboBox(const res::ControlTemplate& t, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setEditable(!res::IsDropDownList(t));
  if (t.id == res::kIdFormat) {
    for (std::wstring_view item : res::kFormatItems) {
      combo->addItem(QString::fromWCharArray(item.data(), static_cast<qsizetype>(item.size())));
    }
  }
  if (res::IsSortedCombo(t)) combo->model()->sort(0);
  return combo;
}

QTreeWidget* MakeListView(const res::ControlTemplate& t, QWidget* parent) {
  auto* list = new QTreeWidget(parent);
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setUniformRowHeights(true);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setSelectionMode(res::AllowsMultiSelection(t) ? QAbstractItemView::ExtendedSelection
                                                      : QAbstractItemView::SingleSelection);
  list->setSortingEnabled(false);
  list->header()->setSectionsClickable(res::HasSortHeader(t));
  list->header()->setSectionsMovable(false);
  list->header()->setStretchLastSection(false);
  list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return list;
}

QWidget* MakeControl(const res::ControlTemplate& t, QWidget* parent) {
  switch (t.kind) {
    case res::ControlKind::Edit:
      return MakeEdit(t, parent);
    case res::ControlKind::Static:
      return MakeStatic(t, parent);
    case res::ControlKind::Button:
      return MakeButton(t, parent);
    case res::ControlKind::ComboBox:
      return MakeComboBox(t, parent);
    case res::ControlKind::ListView:
      return MakeListView(t, parent);
  }
  return nullptr;
}

// The control's rectangle in pixels. The substitute font's letters are not shaped like the
// template's, so a single-line control showing text is widened to its text where the template
// is short; none needs more than the gap to its right-hand neighbour. A drop-down list's
// template height includes the dropped list; closed, it is as tall as its text needs.
QRect PlaceControl(const res::ControlTemplate& t, const QWidget* control, BaseUnits base) {
  QRect rect = DialogUnitsToPixels(QRect(t.x, t.y, t.width, t.height), base);
  const bool showsTextLine =
      (t.kind == res::ControlKind::Static && !res::IsPicture(t)) || t.kind == res::ControlKind::ComboBox;
  if (showsTextLine) rect.setWidth(std::max(rect.width(), control->sizeHint().width()));
  if (t.kind == res::ControlKind::ComboBox) rect.setHeight(std::min(rect.height(), control->sizeHint().height()));
  return rect;
}

}  // namespace

CTallyraDlg::CTallyraDlg(odbc::CDatabase* database, QWidget* parent, ui::IPrompts* prompts)
    : QDialog(parent), m_pDatabase(database) {
  if (prompts == nullptr) {
    m_ownPrompts = std::make_unique<QtPrompts>();
    prompts = m_ownPrompts.get();
  }
  m_promptsInstalled = std::make_unique<ui::ScopedPrompts>(*prompts);
  PrepareForCallsFromWorkers();

  CreateControls();
  BindHandlers();
  OnInitDialog();
}

CTallyraDlg::~CTallyraDlg() { WaitForWorker(); }

void CTallyraDlg::CreateControls() {
  const res::DialogTemplate& frame = res::kExportDialog;
  setWindowTitle(ToQString(frame.caption));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  QFont font(QString::fromLatin1(kDialogFontFamily), frame.fontPointSize, frame.fontWeight, frame.fontItalic);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);

  const BaseUnits base = MeasureBaseUnits(this->font());
  setFixedSize(DialogUnitsToPixels(QRect(0, 0, frame.width, frame.height), base).size());

  QWidget* previousTabStop = nullptr;
  for (const res::ControlTemplate& t : res::kExportDialogControls) {
    QWidget* control = MakeControl(t, this);
    if (t.id != res::kNoControlId) control->setObjectName(ObjectNameOf(t.id));
    if (res::IsTabStop(t)) {
      control->setFocusPolicy(Qt::StrongFocus);
      if (previousTabStop != nullptr) setTabOrder(previousTabStop, control);
      previousTabStop = control;
    } else {
      control->setFocusPolicy(Qt::NoFocus);
    }
    control->setGeometry(PlaceControl(t, control, base));
    if (t.id == res::kIdLog) m_listLog = static_cast<QTreeWidget*>(control);
  }
}

void CTallyraDlg::BindHandlers() {
  connect(static_cast<QAbstractButton*>(GetDlgItem(res::kIdBrowse)), &QAbstractButton::clicked, this,
          &CTallyraDlg::OnBrowse);
  // Only a choice by the user counts as a change of format, not a selection by the program.
  connect(static_cast<QComboBox*>(GetDlgItem(res::kIdFormat)), &QComboBox::activated, this,
          &CTallyraDlg::OnFormatChanged);
  // Every change of text counts, the program's as well as the user's.
  connect(static_cast<QPlainTextEdit*>(GetDlgItem(res::kIdStatement)), &QPlainTextEdit::textChanged, this,
          &CTallyraDlg::OnSqlChanged);
  connect(static_cast<QLineEdit*>(GetDlgItem(res::kIdPath)), &QLineEdit::textChanged, this,
          &CTallyraDlg::OnPathChanged);
  // The click has already toggled the Start/Stop button when it is reported.
  connect(static_cast<QAbstractButton*>(GetDlgItem(res::kIdStartStop)), &QAbstractButton::clicked, this,
          &CTallyraDlg::OnStartStop);
  connect(static_cast<QAbstractButton*>(GetDlgItem(res::kIdCheck)), &QAbstractButton::clicked, this,
          &CTallyraDlg::OnCheck);
  connect(static_cast<QAbstractButton*>(GetDlgItem(res::kIdRunScript)), &QAbstractButton::clicked, this,
          &CTallyraDlg::OnRunScript);
  m_listLog->installEventFilter(this);
}

void CTallyraDlg::OnInitDialog() {
  SetDlgItemText(res::kIdDatabase,
                 m_pDatabase != nullptr ? odbc::MaskPassword(m_pDatabase->GetConnect()) : std::wstring());
  static_cast<QComboBox*>(GetDlgItem(res::kIdFormat))->setCurrentIndex(0);

  static_assert(std::tuple_size_v<decltype(m_bitmaps)> == res::kFormatBitmaps.size());
  for (std::size_t i = 0; i < m_bitmaps.size(); ++i) m_bitmaps[i] = QPixmap(res::BitmapPath(res::kFormatBitmaps[i]));

  m_listLog->setHeaderLabels({QStringLiteral("Date"), QStringLiteral("Information")});
  for (int column = 0; column < m_listLog->columnCount(); ++column)
    m_listLog->setColumnWidth(column, kInitialColumnWidth);
  m_listLog->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_listLog->setAllColumnsShowFocus(true);
  SizeLogColumns();

  auto* path = static_cast<QLineEdit*>(GetDlgItem(res::kIdPath));
  auto* completer = new QCompleter(path);
  auto* files = new QFileSystemModel(completer);
  files->setRootPath(QString());
  completer->setModel(files);
  path->setCompleter(completer);

  OnSqlChanged();
  OnPathChanged();
  GetDlgItem(res::kIdStatement)->setFocus();
}

int CTallyraDlg::DoModal() {
  if (parentWidget() == nullptr) {
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) move(screen->availableGeometry().center() - rect().center());
  }
  return exec();
}

QWidget* CTallyraDlg::GetDlgItem(int id) const {
  if (id == res::kNoControlId) return nullptr;
  return findChild<QWidget*>(ObjectNameOf(id), Qt::FindDirectChildrenOnly);
}

std::wstring CTallyraDlg::GetDlgItemText(int id) const {
  std::wstring text;
  RunOnThreadOf(const_cast<CTallyraDlg*>(this), [&] {
    if (const QWidget* control = GetDlgItem(id)) text = TextOf(control).toStdWString();
  });
  return text;
}

void CTallyraDlg::SetDlgItemText(int id, const std::wstring& text) {
  RunOnThreadOf(this, [&] {
    if (QWidget* control = GetDlgItem(id)) SetTextOf(control, QString::fromStdWString(text));
  });
}

int CTallyraDlg::GetFormatSelection() const {
  int selection = -1;
  RunOnThreadOf(const_cast<CTallyraDlg*>(this), [&] {
    if (const auto* combo = qobject_cast<const QComboBox*>(GetDlgItem(res::kIdFormat)))
      selection = combo->currentIndex();
  });
  return selection;
}

void CTallyraDlg::AddLogLine(const std::wstring& text) {
  const std::wstring time = FormatTimeStamp(engine::CurrentTime(), kLogTimePattern);
  RunOnThreadOf(this, [&] {
    auto* line = new QTreeWidgetItem({QString::fromStdWString(time), QString::fromStdWString(text)});
    m_listLog->addTopLevelItem(line);
    SizeLogColumns();
  });
}

std::wstring CTallyraDlg::FormatTimeStamp(std::int64_t time, const wchar_t* pattern) {
  return engine::FormatTimeStamp(time, pattern);
}

void CTallyraDlg::UpdateActionButtons(int fieldId) {
  if (m_bRunning) return;
  const bool hasText = !GetDlgItemText(fieldId).empty();
  for (int id : {res::kIdCheck, res::kIdStartStop}) {
    if (QWidget* button = GetDlgItem(id)) button->setEnabled(hasText);
  }
}

void CTallyraDlg::OnSqlChanged() { UpdateActionButtons(res::kIdStatement); }

void CTallyraDlg::OnPathChanged() { UpdateActionButtons(res::kIdPath); }

void CTallyraDlg::OnBrowse() {
  const FormatFileType* type = FileTypeOf(GetFormatSelection());
  if (type == nullptr) return;
  ui::FileDialogRequest request;
  request.mode = ui::FileDialogRequest::Mode::Save;
  request.filter = FilterOf(*type);
  request.defaultExtension = type->defaultExtension;
  request.confirmOverwrite = true;
  if (const auto chosen = ui::Prompts().FileDialog(request)) SetDlgItemText(res::kIdPath, *chosen);
}

void CTallyraDlg::OnFormatChanged() {
  const std::wstring path = GetDlgItemText(res::kIdPath);
  const int format = GetFormatSelection();
  if (format >= 0 && static_cast<std::size_t>(format) < m_bitmaps.size()) {
    static_cast<QLabel*>(GetDlgItem(res::kIdPicture))->setPixmap(m_bitmaps[static_cast<std::size_t>(format)]);
  }
  if (const auto switched = PathForFormat(path, format)) SetDlgItemText(res::kIdPath, *switched);
}

void CTallyraDlg::PreTranslateLogKey(const QKeyEvent& key) {
  if (!m_listLog->hasFocus()) return;
  if (key.key() == Qt::Key_Delete) {
    qDeleteAll(m_listLog->selectedItems());
  } else if (key.key() == Qt::Key_A && (key.modifiers() & Qt::ControlModifier)) {
    m_listLog->selectAll();
  }
}

void CTallyraDlg::SizeLogColumns() {
  const int columns = m_listLog->columnCount();
  if (columns == 0) return;
  int used = 0;
  for (int column = 0; column < columns; ++column) {
    m_listLog->resizeColumnToContents(column);
    if (column + 1 < columns) used += m_listLog->columnWidth(column);
  }
  // The last column also takes whatever width the others leave. Before the list is first
  // shown its viewport has no size yet; the frame's inside stands in for it.
  const int available =
      m_listLog->isVisible() ? m_listLog->viewport()->width() : m_listLog->maximumViewportSize().width();
  const int last = columns - 1;
  m_listLog->setColumnWidth(last, std::max(m_listLog->columnWidth(last), available - used));
}

void CTallyraDlg::accept() { EndDialog(ui::IDOK); }

void CTallyraDlg::reject() { EndDialog(ui::IDCANCEL); }

void CTallyraDlg::EndDialog(int result) {
  if (WorkerActive()) {
    // The run stops before its next row; the dialog closes when the worker has ended.
    m_closing = true;
    m_pendingClose = result;
    if (m_pDatabase != nullptr) m_pDatabase->Cancel();
    return;
  }
  if (m_worker.joinable()) m_worker.join();  // it has ended: nothing left but its return
  done(result);
}

void CTallyraDlg::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (enter && modifiers == Qt::NoModifier) {
    // Reaches the dialog only when the focused control did not take Enter for itself.
    auto* button = qobject_cast<QAbstractButton*>(focusWidget());
    if (button != nullptr && button->isEnabled()) {
      button->click();
    } else {
      EndDialog(ui::IDOK);
    }
    return;
  }
  QDialog::keyPressEvent(event);  // Escape ends the dialog through reject()
}

bool CTallyraDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_listLog && event->type() == QEvent::KeyPress) {
    PreTranslateLogKey(*static_cast<QKeyEvent*>(event));
  }
  // The key always goes on to the list as well.
  return QDialog::eventFilter(watched, event);
}

void CTallyraDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  SizeLogColumns();  // the list's viewport has its real size now
}

// ---- Export host ----

std::wstring CTallyraDlg::GetDatePattern() { return m_datePattern; }

engine::RowErrorAnswer CTallyraDlg::AnswerRowError(const odbc::CDBException& error) {
  return error.ReportError(ui::MB_OKCANCEL, 0) == ui::IDCANCEL ? engine::RowErrorAnswer::StopCopying
                                                               : engine::RowErrorAnswer::SkipRow;
}

void CTallyraDlg::ReportUnknownType() {
  ui::Prompts().MessageBox(std::wstring(logline::kUnknownType), ui::MB_ICONERROR);
}

bool CTallyraDlg::IsStopRequested() { return m_bStopRequested || m_closing; }

void CTallyraDlg::ShowProgress(std::int32_t totalRows, double rowsPerSecond, const std::wstring&) {
  const QString title =
      ToQString(res::kExportDialog.caption) + QString::fromStdWString(ProgressCaptionSuffix(totalRows, rowsPerSecond));
  RunOnThreadOf(this, [&] { setWindowTitle(title); });
}

bool CTallyraDlg::ExportQuery(const std::wstring& statement, const std::wstring& path, engine::OutputFormat format) {
  m_datePattern = GetDlgItemText(res::kIdDate);
  if (m_pDatabase == nullptr) {
    AddLogLine(std::wstring(logline::kNoDatabase));
    return false;
  }
  return engine::ExportQuery(*m_pDatabase, *this, statement, path, format);
}

// ---- Run control ----

void CTallyraDlg::SetRunningState(int newState) {
  RunOnThreadOf(this, [&] {
    const bool enable = newState == kIdle;
    const bool running = newState == kRunning;
    for (int id : {res::kIdCheck, res::kIdBrowse, res::kIdRunScript}) GetDlgItem(id)->setEnabled(enable);
    auto* startStop = static_cast<QAbstractButton*>(GetDlgItem(res::kIdStartStop));
    startStop->setChecked(running);
    startStop->setText(QString::fromLatin1(running ? kStopCaption : kStartCaption));
    // Every run can be stopped, a script started with empty fields too; afterwards the button
    // is as the fields left it.
    if (running && !m_bRunning) {
      m_startEnabledBeforeRun = startStop->isEnabled();
      startStop->setEnabled(true);
    } else if (!running && m_bRunning) {
      startStop->setEnabled(m_startEnabledBeforeRun);
    }
    for (int id : {res::kIdStatement, res::kIdPath, res::kIdFormat, res::kIdDate}) GetDlgItem(id)->setEnabled(enable);
    if (!running) setWindowTitle(ToQString(res::kExportDialog.caption));  // the run's progress goes
    m_bRunning = running;
  });
}

void CTallyraDlg::OnStartStop() {
  auto* startStop = static_cast<QAbstractButton*>(GetDlgItem(res::kIdStartStop));
  if (!startStop->isChecked()) {
    RequestStop();
    return;
  }
  // A click while the last run is still stopping starts nothing; the button goes on showing
  // that run.
  if (!StartWorker(&CTallyraDlg::ExportThreadProc)) startStop->setChecked(false);
}

bool CTallyraDlg::RunExportFromDialog() {
  const std::wstring statement = GetDlgItemText(res::kIdStatement);
  const std::wstring path = GetDlgItemText(res::kIdPath);
  // The format list's index is the output format; no selection (-1) is FormatUnknown.
  return ExportQuery(statement, path, static_cast<engine::OutputFormat>(GetFormatSelection()));
}

unsigned CTallyraDlg::ExportThreadProc(void* param) {
  auto* dialog = static_cast<CTallyraDlg*>(param);
  dialog->RunGuarded([dialog] {
    dialog->SetRunningState(kRunning);
    dialog->RunExportFromDialog();  // the run has logged its outcome
  });
  return kWorkerDone;
}

void CTallyraDlg::RequestStop() {
  m_bStopRequested = true;
  // A statement still running on the source is cancelled rather than waited for; the run then
  // ends before it creates anything.
  if (WorkerActive() && m_pDatabase != nullptr) m_pDatabase->Cancel();
}

void CTallyraDlg::OnCheck() {
  if (WorkerActive()) return;  // the connection belongs to the run
  const std::wstring statement = GetDlgItemText(res::kIdStatement);
  if (!IsCheckableStatement(statement)) {
    AddLogLine(std::wstring(logline::kNotCheckable));
    return;
  }
  if (m_pDatabase == nullptr) {
    AddLogLine(std::wstring(logline::kNoDatabase));
    return;
  }
  // Check runs the statement, so it refuses the same statements as the export.
  if (const std::wstring why = engine::WhyNotReadOnly(statement); !why.empty()) {
    AddLogLine(why);
    return;
  }
  try {
    odbc::CRecordset recordset(m_pDatabase);
    recordset.Open(odbc::CRecordset::forwardOnly, statement, odbc::CRecordset::readOnly);
    if (!recordset.IsEOF()) AddLogLine(std::wstring(logline::kCheckedWithRows));
    recordset.Close();
  } catch (const odbc::CDBException& e) {
    e.ReportError(ui::MB_OK, 0);
  }
}

// ---- Script runner ----

void CTallyraDlg::OnRunScript() {
  if (WorkerActive()) return;
  // The running state is complete before the worker starts, so the worker's return to idle,
  // however soon it comes, always follows it.
  SetRunningState(kRunning);
  if (!StartWorker(&CTallyraDlg::ScriptThreadProc)) SetRunningState(kIdle);
}

unsigned CTallyraDlg::ScriptThreadProc(void* param) {
  auto* dialog = static_cast<CTallyraDlg*>(param);
  unsigned exitCode = kWorkerStopped;
  dialog->RunGuarded([&] {
    ui::FileDialogRequest request;
    request.mode = ui::FileDialogRequest::Mode::Open;
    request.filter = kScriptFilter;
    const std::optional<std::wstring> chosen = ui::Prompts().FileDialog(request);
    engine::ScriptFile file;
    // A cancelled choice and a file that cannot be opened end the run without a word.
    if (!chosen || !OpenScript(file, *chosen)) {
      exitCode = kWorkerDone;
      return;
    }
    const auto exportRecord = [dialog](const std::wstring& statement, const std::wstring& path,
                                       engine::OutputFormat format) {
      return dialog->ExportQuery(statement, path, format);
    };
    if (engine::RunScript(file, *dialog, exportRecord) == engine::ScriptOutcome::Completed) exitCode = kWorkerDone;
  });
  return exitCode;
}

// ---- The worker thread ----

bool CTallyraDlg::WorkerActive() const { return m_worker.joinable() && !m_workerEnded; }

bool CTallyraDlg::StartWorker(unsigned (*proc)(void*)) {
  if (WorkerActive()) return false;
  if (m_worker.joinable()) m_worker.join();
  m_workerEnded = false;
  // Cleared here, on the thread that takes the Stop click, rather than by the worker: a Stop
  // that comes before the worker has begun is kept.
  m_bStopRequested = false;
  try {
    m_worker = std::thread([this, proc] {
      proc(this);
      // The procedure has ended the run on the user-interface thread (EndRun), unless that very
      // call failed; either way nothing of the worker is left but this return.
      m_workerEnded = true;
    });
  } catch (const std::system_error& e) {
    m_workerEnded = true;
    ReportWorkerFailure(std::wstring(logline::kNoWorker) + text::LocaleToWide(e.what()));
    return false;
  }
  return true;
}

void CTallyraDlg::EndRun() {
  RunOnThreadOf(this, [this] {
    SetRunningState(kIdle);
    // From here on a click may start the next run: the worker does nothing more but return.
    m_workerEnded = true;
    QMetaObject::invokeMethod(this, &CTallyraDlg::ReapWorker, Qt::QueuedConnection);
  });
}

void CTallyraDlg::ReapWorker() {
  if (m_worker.joinable() && m_workerEnded) m_worker.join();
  if (m_worker.joinable() || !m_pendingClose) return;
  const int result = *m_pendingClose;
  m_pendingClose.reset();
  m_closing = false;
  done(result);
}

void CTallyraDlg::WaitForWorker() {
  if (!m_worker.joinable()) return;
  m_closing = true;
  if (!m_workerEnded && m_pDatabase != nullptr) m_pDatabase->Cancel();
  if (!m_workerEnded) {
    // The worker's every call to the dialog arrives through this loop.
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [&] {
      if (m_workerEnded) loop.quit();
    });
    poll.start(kWorkerPollMs);
    loop.exec();
  }
  if (m_worker.joinable()) m_worker.join();  // unless a notice handled meanwhile has joined it
  m_closing = false;
}

template <class Body>
void CTallyraDlg::RunGuarded(Body&& body) {
  try {
    body();
  } catch (const odbc::CDBException& e) {
    ReportWorkerFailure(e.m_strError);
  } catch (const std::exception& e) {
    ReportWorkerFailure(text::LocaleToWide(e.what()));
  } catch (...) {
    ReportWorkerFailure(std::wstring(logline::kUnknownException));
  }
  try {
    EndRun();
  } catch (...) {
    // Only a failure to carry the call over could get here; nothing is left to tell it with.
  }
}

void CTallyraDlg::ReportWorkerFailure(const std::wstring& message) {
  try {
    AddLogLine(message);
    ui::Prompts().MessageBox(message, ui::MB_ICONERROR);
  } catch (...) {
    // Reporting must not end the worker, let alone the process.
  }
}

}  // namespace quillon::dialog
