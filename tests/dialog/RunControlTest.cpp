// Runs from the export dialog: Start and Stop, Check, Run script and closing during a run, driven
// through clicks on the real dialog. The rows go from a SQLite table to an output driver that
// this test registers under the Excel driver's name; it records what reaches it and can hold the
// run at a chosen row, so that a stop or a close always lands in the middle of an export.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "dialog/DialogRules.h"
#include "dialog/TallyraDlg.h"
#include "drivers/BuiltInDrivers.h"
#include "platform/errors/Errors.h"
#include "platform/odbc/Database.h"
#include "platform/odbc/DriverRegistry.h"
#include "resources/DialogTemplate.h"

using quillon::dialog::CTallyraDlg;
namespace odbc = quillon::odbc;
namespace res = quillon::resources;
namespace ui = quillon::ui;

namespace {

// Bounded waits for what a worker does; they end as soon as the condition holds.
constexpr int kWaitMs = 60000;
constexpr int kSourceRows = 100000;

// What reached the output driver, shared between the worker that writes and the test that reads.
class Journal {
  template <class F>
  auto Locked(F&& f) {
    std::lock_guard lock(m_mutex);
    return f();
  }

 public:
  void Opened(std::wstring path) {
    Locked([&] { m_opened.push_back(std::move(path)); });
  }
  void Closed() {
    Locked([&] { ++m_closes; });
  }
  // Counts an INSERT; refuses one that holds the refusal marker; holds the one numbered by
  // HoldAtInsert until Release.
  void Inserting(std::wstring_view statement) {
    std::unique_lock lock(m_mutex);
    if (!m_refuse.empty() && statement.find(m_refuse) != std::wstring_view::npos) {
      throw odbc::CDBException(L"Value refused by the test driver", L"22018");
    }
    if (m_inserts.empty()) m_firstInsert = statement;
    m_inserts.push_back(m_opened.empty() ? L"" : m_opened.back());
    if (static_cast<int>(m_inserts.size()) == m_holdAt) {
      m_holding = true;
      m_changed.wait(lock, [this] { return m_released; });
    }
  }

  void HoldAtInsert(int n) {
    Locked([&] { m_holdAt = n, m_released = false, m_holding = false; });
  }
  void Release() {
    Locked([&] { m_released = true; });
    m_changed.notify_all();
  }
  void RefuseInsertsWith(std::wstring marker) {
    Locked([&] { m_refuse = std::move(marker); });
  }

  bool Holding() {
    return Locked([&] { return m_holding; });
  }
  int Inserts() {
    return Locked([&] { return static_cast<int>(m_inserts.size()); });
  }
  int InsertsInto(const std::wstring& path) {
    return Locked([&] { return static_cast<int>(std::count(m_inserts.begin(), m_inserts.end(), path)); });
  }
  int Closes() {
    return Locked([&] { return m_closes; });
  }
  std::vector<std::wstring> OpenedPaths() {
    return Locked([&] { return m_opened; });
  }
  std::wstring FirstInsert() {
    return Locked([&] { return m_firstInsert; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::wstring> m_opened;
  std::vector<std::wstring> m_inserts;  // the output file of each row
  std::wstring m_firstInsert;
  std::wstring m_refuse;
  int m_closes = 0;
  int m_holdAt = -1;
  bool m_holding = false;
  bool m_released = true;
};

class JournalConnection final : public odbc::IDriverConnection {
 public:
  explicit JournalConnection(std::shared_ptr<Journal> journal) : m_journal(std::move(journal)) {}
  ~JournalConnection() override {
    if (!m_closed) m_journal->Closed();
  }
  void ExecuteSQL(std::wstring_view statement) override {
    if (statement.starts_with(L"INSERT")) m_journal->Inserting(statement);
  }
  void Close() override {
    m_closed = true;
    m_journal->Closed();
  }

 private:
  std::shared_ptr<Journal> m_journal;
  bool m_closed = false;
};

class JournalDriver final : public odbc::IBuiltInDriver {
 public:
  explicit JournalDriver(std::shared_ptr<Journal> journal) : m_journal(std::move(journal)) {}
  std::wstring Name() const override { return L"Microsoft Excel Driver (*.xls)"; }
  std::unique_ptr<odbc::IDriverConnection> Connect(const odbc::ConnectString& connect) override {
    m_journal->Opened(connect.Get(L"DBQ").value_or(L""));
    return std::make_unique<JournalConnection>(m_journal);
  }

 private:
  std::shared_ptr<Journal> m_journal;
};

// Answers message boxes and file dialogs from queues, from whichever thread asks.
class ScriptedPrompts final : public ui::IPrompts {
 public:
  struct Box {
    std::wstring text;
    unsigned type;
  };
  int MessageBox(const std::wstring& text, unsigned type) override {
    std::lock_guard lock(m_mutex);
    m_boxes.push_back({text, type});
    if (m_boxAnswers.empty()) return ui::IDOK;
    const int answer = m_boxAnswers.front();
    m_boxAnswers.pop_front();
    return answer;
  }
  std::optional<std::wstring> FileDialog(const ui::FileDialogRequest& request) override {
    std::lock_guard lock(m_mutex);
    m_requests.push_back(request);
    if (m_fileDialogFails) throw std::runtime_error("the file dialog could not be shown");
    if (m_fileAnswers.empty()) return std::nullopt;
    auto answer = m_fileAnswers.front();
    m_fileAnswers.pop_front();
    return answer;
  }
  void AnswerBoxes(std::deque<int> answers) {
    std::lock_guard lock(m_mutex);
    m_boxAnswers = std::move(answers);
  }
  void AnswerFiles(std::deque<std::optional<std::wstring>> answers) {
    std::lock_guard lock(m_mutex);
    m_fileAnswers = std::move(answers);
  }
  void FailFileDialogs() {
    std::lock_guard lock(m_mutex);
    m_fileDialogFails = true;
  }
  std::vector<Box> Boxes() {
    std::lock_guard lock(m_mutex);
    return m_boxes;
  }
  std::vector<ui::FileDialogRequest> Requests() {
    std::lock_guard lock(m_mutex);
    return m_requests;
  }

 private:
  std::mutex m_mutex;
  std::vector<Box> m_boxes;
  std::deque<int> m_boxAnswers;
  std::vector<ui::FileDialogRequest> m_requests;
  std::deque<std::optional<std::wstring>> m_fileAnswers;
  bool m_fileDialogFails = false;
};

}  // namespace

class RunControlTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_dir;
  std::shared_ptr<Journal> m_journal;
  std::unique_ptr<odbc::CDatabase> m_database;
  std::unique_ptr<ScriptedPrompts> m_prompts;
  std::unique_ptr<CTallyraDlg> m_dialog;

  template <class T = QWidget>
  T* Item(int id) {
    auto* widget = qobject_cast<T*>(m_dialog->GetDlgItem(id));
    if (widget == nullptr) qFatal("control %d missing or of another kind", id);
    return widget;
  }
  QAbstractButton* StartStop() { return Item<QAbstractButton>(res::kIdStartStop); }
  QTreeWidget* Log() { return Item<QTreeWidget>(res::kIdLog); }
  std::wstring Out(const QString& name) { return (m_dir.path() + "/out/" + name).toStdWString(); }
  QStringList LogTexts() {
    QStringList texts;
    for (int i = 0; i < Log()->topLevelItemCount(); ++i) texts << Log()->topLevelItem(i)->text(1);
    return texts;
  }
  bool Logged(const QString& text) { return LogTexts().contains(text); }
  void Click(int id) { QTest::mouseClick(Item<QAbstractButton>(id), Qt::LeftButton); }
  void Fill(const std::wstring& statement, const std::wstring& path) {
    m_dialog->SetDlgItemText(res::kIdStatement, statement);
    m_dialog->SetDlgItemText(res::kIdPath, path);
  }
  // Every control as the idle state leaves it, the Start/Stop button's enabled state aside.
  bool IsIdle() {
    for (int id : {res::kIdCheck, res::kIdBrowse, res::kIdRunScript, res::kIdStatement, res::kIdPath, res::kIdFormat,
                   res::kIdDate}) {
      if (!Item(id)->isEnabled()) return false;
    }
    return !StartStop()->isChecked() && StartStop()->text() == "Start";
  }
  bool ShowsRunning() {
    for (int id : {res::kIdCheck, res::kIdBrowse, res::kIdRunScript, res::kIdStatement, res::kIdPath, res::kIdFormat,
                   res::kIdDate}) {
      if (Item(id)->isEnabled()) return false;
    }
    return StartStop()->text() == "Stop" && Item(res::kIdLog)->isEnabled();
  }
  QString WriteScript(const std::string& bytes) {
    const QString path = m_dir.path() + "/script.txt";
    std::ofstream(path.toStdString(), std::ios::binary) << bytes;
    return path;
  }
  // A script run from the Run script button: the file chosen, the run waited for.
  void RunScript(const std::optional<std::wstring>& chosen) {
    m_prompts->AnswerFiles({chosen});
    Click(res::kIdRunScript);
    QVERIFY(ShowsRunning());  // at once, before the worker starts
    QTRY_VERIFY_WITH_TIMEOUT(IsIdle(), kWaitMs);
  }

 private slots:
  void initTestCase() {
    quillon::drivers::RegisterBuiltInDrivers();
    m_database = std::make_unique<odbc::CDatabase>();
    QVERIFY(m_database->OpenEx(L"DRIVER=SQLite3;Database=" + (m_dir.path() + "/host.db").toStdWString()));
    m_database->ExecuteSQL(L"CREATE TABLE Numbers (n INTEGER, label TEXT, day DATE)");
    m_database->ExecuteSQL(L"WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < " +
                           std::to_wstring(kSourceRows) +
                           L") INSERT INTO Numbers SELECT n, 'row ' || n, '2024-03-05' FROM c");
  }
  void init() {
    // Registered after the shipped drivers, so it stands in for whatever is registered by that name.
    m_journal = std::make_shared<Journal>();
    odbc::DriverRegistry::Instance().Register(std::make_shared<JournalDriver>(m_journal));
    m_prompts = std::make_unique<ScriptedPrompts>();
    m_dialog = std::make_unique<CTallyraDlg>(m_database.get(), nullptr, m_prompts.get());
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
  }
  void cleanup() {
    m_journal->Release();  // a failed test must not leave a worker held
    m_dialog.reset();
    m_prompts.reset();
  }
  void cleanupTestCase() { m_database.reset(); }

  void startThenStopEndsTheRunBetweenRowsAndKeepsTheRowsSoFar() {
    Fill(L"SELECT * FROM Numbers", Out("stopped.xls"));
    m_dialog->SetDlgItemText(res::kIdDate, L"%y/%m/%d");
    m_journal->HoldAtInsert(10);
    Click(res::kIdStartStop);
    QTRY_VERIFY_WITH_TIMEOUT(m_journal->Holding(), kWaitMs);
    QVERIFY(ShowsRunning());
    QVERIFY(StartStop()->isChecked());
    QVERIFY(StartStop()->isEnabled());

    // The log stays the user's during the run.
    QTRY_VERIFY(Logged("Output table created"));
    Log()->setFocus();
    QTest::keyClick(Log(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(Log()->selectedItems().size(), Log()->topLevelItemCount());
    QTest::keyClick(Log(), Qt::Key_Delete);
    QCOMPARE(Log()->topLevelItemCount(), 0);

    Click(res::kIdStartStop);  // Stop
    QVERIFY(!StartStop()->isChecked());
    QVERIFY(ShowsRunning());   // stopping: the caption and the controls wait for the worker
    Click(res::kIdStartStop);  // a click while stopping starts nothing
    QVERIFY(!StartStop()->isChecked());
    m_journal->Release();

    QTRY_VERIFY_WITH_TIMEOUT(Logged("Thread terminated"), kWaitMs);
    QTRY_VERIFY(IsIdle());
    QVERIFY(StartStop()->isEnabled());
    QVERIFY(Logged("Total rows copied: 10"));  // after the stop: the rows kept
    QCOMPARE(m_journal->Inserts(), 10);        // the held row was finished, no further one begun
    QCOMPARE(m_journal->OpenedPaths(), std::vector<std::wstring>{Out("stopped.xls")});
    QTRY_COMPARE(m_journal->Closes(), 1);
    QVERIFY(m_journal->FirstInsert().find(L"'2024/3/5'") != std::wstring::npos);
  }

  void theTitleShowsRowsAndRateWhileARunLastsAndTheCaptionAfter() {
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Vantoria"));
    Fill(L"SELECT n FROM Numbers", Out("progress.xls"));
    m_journal->HoldAtInsert(1100);
    Click(res::kIdStartStop);
    QTRY_VERIFY_WITH_TIMEOUT(m_journal->Holding(), kWaitMs);
    // The first look at the clock, at 1024 rows, always shows.
    const QRegularExpression running("^Vantoria - 1,024 rows, [1-9][0-9,]* rows/s$");
    QVERIFY2(running.match(m_dialog->windowTitle()).hasMatch(), qPrintable(m_dialog->windowTitle()));
    Click(res::kIdStartStop);  // Stop
    m_journal->Release();
    QTRY_VERIFY_WITH_TIMEOUT(IsIdle(), kWaitMs);
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Vantoria"));
    QCOMPARE(quillon::dialog::ProgressCaptionSuffix(1234567, 39999.6),
             std::wstring(L" - 1,234,567 rows, 40,000 rows/s"));
    QCOMPARE(quillon::dialog::ProgressCaptionSuffix(999, 0), std::wstring(L" - 999 rows, 0 rows/s"));
  }

  void aRunEndsByItselfAndARefusedRowIsAnsweredInABox() {
    Fill(L"SELECT n, label FROM Numbers WHERE n <= 5", Out("five.xls"));
    m_journal->RefuseInsertsWith(L"'row 3'");
    Click(res::kIdStartStop);
    QTRY_VERIFY_WITH_TIMEOUT(LogTexts().filter(QRegularExpression("^Elapsed: ")).size() == 1, kWaitMs);
    QTRY_VERIFY(IsIdle());
    QVERIFY(Logged("Total rows copied: 4"));  // OK skipped the refused row
    const auto boxes = m_prompts->Boxes();
    QCOMPARE(boxes.size(), std::size_t{1});
    QCOMPARE(boxes[0].type, ui::MB_OKCANCEL);
    QVERIFY(boxes[0].text.find(L"Value refused by the test driver") != std::wstring::npos);

    m_prompts->AnswerBoxes({ui::IDCANCEL});
    Fill(L"SELECT n, label FROM Numbers WHERE n <= 5", Out("five-cancelled.xls"));
    Click(res::kIdStartStop);
    QTRY_VERIFY_WITH_TIMEOUT(LogTexts().filter(QRegularExpression("^Elapsed: ")).size() == 2, kWaitMs);
    QTRY_VERIFY(IsIdle());
    QVERIFY(Logged("Total rows copied: 2"));  // Cancel ended the copying there
  }

  void checkTriesTheFirstWordOrWhatTheExportRuns() {
    for (const wchar_t* yes :
         {L"select 1", L"EXEC proc", L"SELECTED", L"exec", L" SELECT 1", L"\nWITH a AS (SELECT 1) SELECT 1"}) {
      QVERIFY2(quillon::dialog::IsCheckableStatement(yes), qPrintable(QString::fromWCharArray(yes)));
    }
    for (const wchar_t* no : {L"", L" \t\r\n", L"UPDATE t SET a = 1", L"SEL", L" DELETE FROM t"}) {
      QVERIFY2(!quillon::dialog::IsCheckableStatement(no), qPrintable(QString::fromWCharArray(no)));
    }
  }

  void checkLogsOnlyForRowsAndRefusalsAndReportsDatabaseErrorsInABox() {
    m_dialog->SetDlgItemText(res::kIdStatement, L"select n FROM Numbers");
    Click(res::kIdCheck);
    QCOMPARE(LogTexts(), QStringList{"Statement executed succesfully"});

    m_dialog->SetDlgItemText(res::kIdStatement, L"SELECT n FROM Numbers WHERE n < 0");
    Click(res::kIdCheck);
    QCOMPARE(Log()->topLevelItemCount(), 1);  // ran, no row: nothing to say

    m_dialog->SetDlgItemText(res::kIdStatement, L"UPDATE Numbers SET n = 0");
    Click(res::kIdCheck);
    QCOMPARE(LogTexts().last(), QStringLiteral("STMT can't be empty and it must be SELECT type"));
    QVERIFY(m_prompts->Boxes().empty());
    m_dialog->SetDlgItemText(res::kIdStatement, L"  ");
    Click(res::kIdCheck);
    QCOMPARE(LogTexts().last(), QStringLiteral("STMT can't be empty and it must be SELECT type"));
    // What Start exports, Check runs.
    m_dialog->SetDlgItemText(res::kIdStatement, L"WITH a AS (SELECT 1 AS x) SELECT * FROM a");
    Click(res::kIdCheck);
    QCOMPARE(LogTexts().last(), QStringLiteral("Statement executed succesfully"));

    m_dialog->SetDlgItemText(res::kIdStatement, L"SELECT * FROM Nowhere");
    Click(res::kIdCheck);
    QCOMPARE(Log()->topLevelItemCount(), 4);
    const auto boxes = m_prompts->Boxes();
    QCOMPARE(boxes.size(), std::size_t{1});
    QCOMPARE(boxes[0].type, ui::MB_OK);
    QVERIFY(QString::fromStdWString(boxes[0].text).contains("no such table"));

    // The refused UPDATE never reached the database.
    m_dialog->SetDlgItemText(res::kIdStatement, L"SELECT n FROM Numbers WHERE n = 0");
    Click(res::kIdCheck);
    QCOMPARE(Log()->topLevelItemCount(), 4);
  }

  void checkRefusesWhatTheExportRefusesAndRunsNothing() {
    for (const wchar_t* statement :
         {L"SELECT 1; DELETE FROM Numbers", L"SELECT * INTO Copy FROM Numbers", L"EXEC x; UPDATE Numbers SET n = 0"}) {
      m_dialog->SetDlgItemText(res::kIdStatement, statement);
      Click(res::kIdCheck);
      QVERIFY2(LogTexts().last().startsWith("The statement was not run: "), qPrintable(LogTexts().last()));
    }
    QVERIFY(m_prompts->Boxes().empty());
    m_dialog->SetDlgItemText(res::kIdStatement, L"SELECT n FROM Numbers WHERE n = 1");
    Click(res::kIdCheck);
    QCOMPARE(LogTexts().last(), QStringLiteral("Statement executed succesfully"));
  }

  void aScriptRunsItsRecordsInOrderUntilTheFirstFailure() {
    const std::string out = (m_dir.path() + "/out/").toStdString();
    const QString script = WriteScript("SELECT n FROM Numbers WHERE n <= 2\tfirst of three fields\t" + out +
                                       "one.xls\r\n"
                                       "SELECT n,\r\n  label\r\nFROM Numbers WHERE n <= 3\t" +
                                       out +
                                       "two.XLS\n"
                                       "SELECT n FROM Numbers WHERE n <= 1\t" +
                                       out +
                                       "three.ods\n"
                                       "SELECT n FROM Numbers WHERE n <= 4\t" +
                                       out + "four.xls\n");
    // Right after opening, with both fields empty, Start/Stop is disabled; the run shows it
    // checked as "Stop" and enabled, and gives it back disabled.
    QVERIFY(!StartStop()->isEnabled());
    m_journal->HoldAtInsert(1);
    m_prompts->AnswerFiles({script.toStdWString()});
    Click(res::kIdRunScript);
    QTRY_VERIFY_WITH_TIMEOUT(m_journal->Holding(), kWaitMs);
    QVERIFY(ShowsRunning());
    QVERIFY(StartStop()->isChecked());
    QVERIFY(StartStop()->isEnabled());
    m_journal->Release();
    QTRY_VERIFY_WITH_TIMEOUT(IsIdle(), kWaitMs);
    QVERIFY(!StartStop()->isEnabled());

    const auto requests = m_prompts->Requests();
    QCOMPARE(requests.size(), std::size_t{1});
    QVERIFY(requests[0].mode == ui::FileDialogRequest::Mode::Open);
    QCOMPARE(requests[0].filter, L"Script (Tab Delimited) (*.txt)|*.txt||");

    QCOMPARE(m_journal->OpenedPaths(), (std::vector<std::wstring>{Out("one.xls"), Out("two.XLS")}));
    QCOMPARE(m_journal->InsertsInto(Out("one.xls")), 2);
    QCOMPARE(m_journal->InsertsInto(Out("two.XLS")), 3);  // the three lines ran as one statement
    const QStringList log = LogTexts();
    QCOMPARE(log.filter("Processing file: ").size(), 3);
    QCOMPARE(log.filter("Processing file: ").last(), "Processing file: " + QString::fromStdWString(Out("three.ods")));
    QCOMPARE(log.last(), QStringLiteral("Unknown file extension specified. Please use .XLS,.MDB or .TXT extensions"));
    QVERIFY(!log.join('\n').contains("four.xls"));
  }

  void stopEndsTheWholeScriptEvenWhenTheExportRunningEndsByItself() {
    const std::string out = (m_dir.path() + "/out/").toStdString();
    const QString script = WriteScript("SELECT n FROM Numbers WHERE n <= 1\t" + out +
                                       "first.xls\n"
                                       "SELECT n FROM Numbers WHERE n <= 2\t" +
                                       out + "second.xls\n");
    m_dialog->SetDlgItemText(res::kIdStatement, L"SELECT 1");  // Start/Stop enabled before the run
    QVERIFY(StartStop()->isEnabled());
    m_journal->HoldAtInsert(1);  // the first record's only row: after it the export ends by itself
    m_prompts->AnswerFiles({script.toStdWString()});
    Click(res::kIdRunScript);
    QTRY_VERIFY_WITH_TIMEOUT(m_journal->Holding(), kWaitMs);
    Click(res::kIdStartStop);  // Stop
    m_journal->Release();
    QTRY_VERIFY_WITH_TIMEOUT(IsIdle(), kWaitMs);
    QVERIFY(StartStop()->isEnabled());
    QCOMPARE(m_journal->OpenedPaths(), std::vector<std::wstring>{Out("first.xls")});
    QCOMPARE(LogTexts().last(), QStringLiteral("Thread terminated"));
  }

  void aScriptStartedFromAFreshDialogCanBeStopped() {
    const std::string out = (m_dir.path() + "/out/").toStdString();
    const QString script = WriteScript("SELECT n FROM Numbers\t" + out +
                                       "all.xls\n"
                                       "SELECT n FROM Numbers\t" +
                                       out + "again.xls\n");
    QVERIFY(!StartStop()->isEnabled());  // both fields empty
    m_journal->HoldAtInsert(5);
    m_prompts->AnswerFiles({script.toStdWString()});
    Click(res::kIdRunScript);
    QTRY_VERIFY_WITH_TIMEOUT(m_journal->Holding(), kWaitMs);
    QVERIFY(StartStop()->isEnabled());
    Click(res::kIdStartStop);  // Stop
    QVERIFY(!StartStop()->isChecked());
    m_journal->Release();
    QTRY_VERIFY_WITH_TIMEOUT(IsIdle(), kWaitMs);
    QVERIFY(!StartStop()->isEnabled());  // as the empty fields leave it
    QCOMPARE(m_journal->Inserts(), 5);
    QCOMPARE(m_journal->OpenedPaths(), std::vector<std::wstring>{Out("all.xls")});
    QCOMPARE(LogTexts().mid(LogTexts().size() - 2), QStringList({"Thread terminated", "Total rows copied: 5"}));
  }

  void stopCancelsAStatementTheSourceIsStillRunningAndCreatesNothing() {
    // Far longer than the test waits for anything: only a cancel ends it in time.
    Fill(
        L"WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 2000000000) "
        L"SELECT count(*) AS n FROM c",
        Out("slow.xls"));
    Click(res::kIdStartStop);
    QTRY_VERIFY_WITH_TIMEOUT(Logged("Input database opened"), kWaitMs);
    QTest::qWait(300);         // the statement runs on the source
    Click(res::kIdStartStop);  // Stop
    QTRY_VERIFY_WITH_TIMEOUT(IsIdle(), kWaitMs);
    QCOMPARE(LogTexts().last(), QStringLiteral("Thread terminated"));
    QVERIFY(!Logged("Output table created"));
    QVERIFY(m_prompts->Boxes().empty());
  }

  void aStopRightAfterStartIsNeverLost() {
    // Far longer than the test waits for anything: only the stop ends it in time.
    Fill(
        L"WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 2000000000) "
        L"SELECT count(*) AS n FROM c",
        Out("hasty.xls"));
    for (int attempt = 0; attempt < 3; ++attempt) {
      Click(res::kIdStartStop);  // Start
      Click(res::kIdStartStop);  // Stop, before the worker may have begun
      QTRY_VERIFY_WITH_TIMEOUT(LogTexts().count("Thread terminated") == attempt + 1, kWaitMs);
      QTRY_VERIFY_WITH_TIMEOUT(IsIdle(), kWaitMs);
      QCOMPARE(LogTexts().last(), QStringLiteral("Thread terminated"));
      QVERIFY(!Logged("Output table created"));
    }
    QVERIFY(m_journal->OpenedPaths().empty());  // stopped before the output was opened
    QVERIFY(m_prompts->Boxes().empty());
  }

  void aCancelledOrUnopenableScriptChoiceEndsQuietly() {
    RunScript(std::nullopt);
    RunScript(Out("no-such-script.txt"));
    RunScript(m_dir.path().toStdWString());  // a folder
    QCOMPARE(m_prompts->Requests().size(), std::size_t{3});
    QCOMPARE(Log()->topLevelItemCount(), 0);
    QVERIFY(m_prompts->Boxes().empty());
  }

  void aScriptsRelativePathsCountFromItsOwnFolder() {
    QVERIFY(QDir(m_dir.path()).mkpath("scripts"));
    const QString script = m_dir.path() + "/scripts/relative.txt";
    std::ofstream(script.toStdString(), std::ios::binary) << "SELECT n FROM Numbers WHERE n <= 1\tout/rel.xls\n";
    RunScript(script.toStdWString());
    QCOMPARE(m_journal->OpenedPaths(),
             std::vector<std::wstring>{(m_dir.path() + "/scripts/out/rel.xls").toStdWString()});
  }

  void anExceptionInAWorkerIsReportedAndTheDialogReturnsToIdle() {
    m_prompts->FailFileDialogs();
    Click(res::kIdRunScript);
    QTRY_VERIFY_WITH_TIMEOUT(IsIdle(), kWaitMs);
    QCOMPARE(LogTexts(), QStringList{"the file dialog could not be shown"});
    const auto boxes = m_prompts->Boxes();
    QCOMPARE(boxes.size(), std::size_t{1});
    QCOMPARE(boxes[0].text, L"the file dialog could not be shown");
    QCOMPARE(boxes[0].type, ui::MB_ICONERROR);

    // The dialog goes on working.
    Click(res::kIdRunScript);
    QTRY_VERIFY_WITH_TIMEOUT(IsIdle(), kWaitMs);
    QCOMPARE(m_prompts->Requests().size(), std::size_t{2});
    QCOMPARE(m_prompts->Boxes().size(), std::size_t{2});
  }

  void closingDuringARunStopsItAndClosesWhenTheWorkerHasEnded() {
    Fill(L"SELECT * FROM Numbers", Out("closed.xls"));
    m_journal->HoldAtInsert(5);
    Click(res::kIdStartStop);
    QTRY_VERIFY_WITH_TIMEOUT(m_journal->Holding(), kWaitMs);
    QSignalSpy finished(m_dialog.get(), &QDialog::finished);
    m_dialog->close();
    QVERIFY(m_dialog->isVisible());  // held open until the run has stopped
    QVERIFY(ShowsRunning());
    m_journal->Release();

    QTRY_VERIFY_WITH_TIMEOUT(!m_dialog->isVisible(), kWaitMs);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0][0].toInt(), ui::IDCANCEL);
    QVERIFY(Logged("Thread terminated"));
    QCOMPARE(m_journal->Inserts(), 5);
    QCOMPARE(m_journal->Closes(), 1);
  }

  void destroyingTheDialogDuringARunWaitsForTheWorker() {
    Fill(L"SELECT * FROM Numbers", Out("destroyed.xls"));
    m_journal->HoldAtInsert(3);
    Click(res::kIdStartStop);
    QTRY_VERIFY_WITH_TIMEOUT(m_journal->Holding(), kWaitMs);
    // Released from the event loop that the destructor keeps running while it waits.
    QTimer::singleShot(0, [journal = m_journal] { journal->Release(); });
    m_dialog.reset();
    QCOMPARE(m_journal->Inserts(), 3);
    QCOMPARE(m_journal->Closes(), 1);
  }
};

QTEST_MAIN(RunControlTest)
#include "RunControlTest.moc"
