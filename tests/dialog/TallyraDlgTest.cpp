// The export dialog as a user meets it, driven through keys and clicks on a real SQLite
// connection.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <deque>
#include <memory>
#include <thread>

#include "dialog/TallyraDlg.h"
#include "platform/odbc/ConnectString.h"
#include "platform/odbc/Database.h"
#include "resources/DialogTemplate.h"
#include "resources/Resources.h"

using quillon::dialog::CTallyraDlg;
namespace res = quillon::resources;
namespace ui = quillon::ui;

namespace {

// Answers file dialogs from a queue and records what was asked.
class ScriptedPrompts final : public ui::IPrompts {
 public:
  int MessageBox(const std::wstring&, unsigned) override { return ui::IDOK; }
  std::optional<std::wstring> FileDialog(const ui::FileDialogRequest& request) override {
    requests.push_back(request);
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::vector<ui::FileDialogRequest> requests;
  std::deque<std::optional<std::wstring>> answers;
};

QImage BannerImage(int bitmapId) { return QImage(res::BitmapPath(bitmapId)).convertToFormat(QImage::Format_RGB32); }

}  // namespace

class TallyraDlgTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_dir;
  std::unique_ptr<quillon::odbc::CDatabase> m_database;
  ScriptedPrompts m_prompts;
  std::unique_ptr<CTallyraDlg> m_dialog;

  void OpenDialog(const std::wstring& extra = L"") {
    m_database = std::make_unique<quillon::odbc::CDatabase>();
    const std::wstring file = (m_dir.path() + "/host.db").toStdWString();
    QVERIFY(m_database->OpenEx(L"DRIVER=SQLite3;Database=" + file + extra));
    m_dialog = std::make_unique<CTallyraDlg>(m_database.get(), nullptr, &m_prompts);
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
  }
  template <class T>
  T* Item(int id) {
    auto* widget = qobject_cast<T*>(m_dialog->GetDlgItem(id));
    if (widget == nullptr) qFatal("control %d missing or of another kind", id);
    return widget;
  }
  bool Enabled(int id) { return m_dialog->GetDlgItem(id)->isEnabled(); }
  QTreeWidget* Log() { return Item<QTreeWidget>(res::kIdLog); }
  QString Path() { return Item<QLineEdit>(res::kIdPath)->text(); }
  QImage Picture() { return Item<QLabel>(res::kIdPicture)->pixmap().toImage().convertToFormat(QImage::Format_RGB32); }
  void ChooseFormatByKey(Qt::Key key) {
    Item<QComboBox>(res::kIdFormat)->setFocus();
    QTest::keyClick(Item<QComboBox>(res::kIdFormat), key);
  }
  void AddLines(int count) {
    for (int i = 0; i < count; ++i) m_dialog->AddLogLine(L"line " + std::to_wstring(i));
  }

 private slots:
  void init() { OpenDialog(); }
  void cleanup() {
    m_dialog.reset();
    m_database.reset();
    m_prompts = ScriptedPrompts();
  }

  void opensIdleWithEmptyFieldsAndLog() {
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Vantoria"));
    QCOMPARE(m_dialog->minimumSize(), m_dialog->maximumSize());
    QVERIFY(!Enabled(res::kIdCheck));
    QVERIFY(!Enabled(res::kIdStartStop));
    for (int id : {res::kIdBrowse, res::kIdRunScript, res::kIdStatement, res::kIdPath, res::kIdFormat, res::kIdDate,
                   res::kIdDatabase, res::kIdLog}) {
      QVERIFY2(Enabled(id), qPrintable(QString::number(id)));
    }
    QCOMPARE(Item<QComboBox>(res::kIdFormat)->count(), 5);
    QCOMPARE(m_dialog->GetFormatSelection(), 0);
    QCOMPARE(m_dialog->GetDlgItemText(res::kIdFormat), L"Microsoft Excel Driver (*.xls)");
    QCOMPARE(Item<QComboBox>(res::kIdFormat)->itemText(2), QStringLiteral("Tab Delimered (*.txt)"));
    QCOMPARE(Item<QComboBox>(res::kIdFormat)->itemText(3), QStringLiteral("Excel Workbook (*.xlsx)"));
    QCOMPARE(Item<QComboBox>(res::kIdFormat)->itemText(4), QStringLiteral("Comma Separated (*.csv)"));
    QVERIFY(Item<QComboBox>(res::kIdFormat)->lineEdit() == nullptr);  // pick only, no typing
    QCOMPARE(Picture(), BannerImage(res::kBitmapExcel));
    QVERIFY(Item<QAbstractButton>(res::kIdStartStop)->isCheckable());
    QCOMPARE(m_dialog->focusWidget(), m_dialog->GetDlgItem(res::kIdStatement));

    auto* database = Item<QLineEdit>(res::kIdDatabase);
    QVERIFY(database->isReadOnly());
    QCOMPARE(database->text().toStdWString(), m_database->GetConnect());
    QVERIFY(database->text().contains(m_dir.path()));

    QCOMPARE(Log()->columnCount(), 2);
    QCOMPARE(Log()->headerItem()->text(0), QStringLiteral("Date"));
    QCOMPARE(Log()->headerItem()->text(1), QStringLiteral("Information"));
    QCOMPARE(Log()->topLevelItemCount(), 0);
    QCOMPARE(Log()->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(Log()->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(!Log()->isSortingEnabled());
  }

  void tabVisitsTheTabStopsInTemplateOrder() {
    QWidget* current = m_dialog->GetDlgItem(res::kIdStatement);
    for (const auto& t : res::kExportDialogControls) {
      if (!res::IsTabStop(t) || t.id == res::kIdStatement) continue;
      current = current->nextInFocusChain();
      while (current->focusPolicy() == Qt::NoFocus) current = current->nextInFocusChain();
      QCOMPARE(current->objectName(), m_dialog->GetDlgItem(t.id)->objectName());
    }
  }

  void databaseFieldMasksThePassword() {
    cleanup();
    OpenDialog(L";PWD=s3cret");
    const QString shown = Item<QLineEdit>(res::kIdDatabase)->text();
    QVERIFY(QString::fromStdWString(m_database->GetConnect()).contains("s3cret"));
    QVERIFY(!shown.contains("s3cret"));
    QCOMPARE(shown.toStdWString(), quillon::odbc::MaskPassword(m_database->GetConnect()));
  }

  void layoutFitsEveryTextWithoutOverlap() {
    QList<QWidget*> controls;
    for (const auto& t : res::kExportDialogControls) {
      QWidget* control = m_dialog->GetDlgItem(t.id);
      if (control == nullptr) {  // static texts have no identifier
        for (auto* label : m_dialog->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
          if (label->text() == QString::fromLatin1(t.text.data(), qsizetype(t.text.size()))) control = label;
      }
      QVERIFY2(control != nullptr, t.text.data());
      QVERIFY(m_dialog->rect().contains(control->geometry()));
      for (QWidget* other : controls) {
        QVERIFY2(!control->geometry().intersects(other->geometry()), t.text.data());
      }
      controls.append(control);
      if (auto* label = qobject_cast<QLabel*>(control); label && !label->text().isEmpty()) {
        QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(), qPrintable(label->text()));
        QVERIFY(label->fontMetrics().height() <= label->height());
      }
      if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        QVERIFY(button->fontMetrics().horizontalAdvance(button->text()) < button->width());
      }
    }
    auto* format = Item<QComboBox>(res::kIdFormat);
    QStyleOptionComboBox option;
    option.initFrom(format);
    const QRect field =
        format->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, format);
    for (int i = 0; i < format->count(); ++i) {
      QVERIFY2(format->fontMetrics().horizontalAdvance(format->itemText(i)) <= field.width(),
               qPrintable(format->itemText(i)));
    }
    const QSize banner = Item<QLabel>(res::kIdPicture)->pixmap().size();
    QVERIFY(banner.width() <= Item<QLabel>(res::kIdPicture)->width());
    QVERIFY(banner.height() <= Item<QLabel>(res::kIdPicture)->height());
  }

  void eachFieldDecidesCheckAndStartByItsOwnText() {
    QTest::keyClicks(Item<QPlainTextEdit>(res::kIdStatement), "S");
    QVERIFY(Enabled(res::kIdCheck));
    QVERIFY(Enabled(res::kIdStartStop));

    auto* path = Item<QLineEdit>(res::kIdPath);
    QTest::keyClicks(path, "/x");
    path->setFocus();
    QTest::keyClick(path, Qt::Key_Backspace);
    QVERIFY(Enabled(res::kIdCheck));
    QTest::keyClick(path, Qt::Key_Backspace);
    QVERIFY(Path().isEmpty());
    QVERIFY(!Enabled(res::kIdCheck));
    QVERIFY(!Enabled(res::kIdStartStop));
    QCOMPARE(m_dialog->GetDlgItemText(res::kIdStatement), L"S");

    // A change made by the program counts as well.
    m_dialog->SetDlgItemText(res::kIdStatement, L"SELECT 1");
    QVERIFY(Enabled(res::kIdCheck));
  }

  void formatSwitchShowsTheBannerAndFollowsTheExtension() {
    m_dialog->SetDlgItemText(res::kIdPath, L"/out/data.csv");
    ChooseFormatByKey(Qt::Key_Down);
    QCOMPARE(m_dialog->GetFormatSelection(), 1);
    QCOMPARE(Path(), QStringLiteral("/out/data.mdb"));
    QCOMPARE(Picture(), BannerImage(res::kBitmapAccess));
    ChooseFormatByKey(Qt::Key_Down);
    QCOMPARE(Path(), QStringLiteral("/out/data.txt"));
    QCOMPARE(Picture(), BannerImage(res::kBitmapText));
    ChooseFormatByKey(Qt::Key_Down);
    QCOMPARE(Path(), QStringLiteral("/out/data.xlsx"));
    QCOMPARE(Picture(), BannerImage(res::kBitmapExcel));
    ChooseFormatByKey(Qt::Key_Down);
    QCOMPARE(Path(), QStringLiteral("/out/data.csv"));  // a four-letter extension of a format goes whole

    m_dialog->SetDlgItemText(res::kIdPath, L"/out/A.B.C");
    ChooseFormatByKey(Qt::Key_Home);
    QCOMPARE(Path(), QStringLiteral("/out/A.xls"));  // the dot decides, not the name
    QCOMPARE(Picture(), BannerImage(res::kBitmapExcel));

    for (const QString& kept : {QStringLiteral("abc"), QStringLiteral("/out/data"), QStringLiteral("/o/d.docx")}) {
      m_dialog->SetDlgItemText(res::kIdPath, kept.toStdWString());
      ChooseFormatByKey(Qt::Key_Down);
      QCOMPARE(Path(), kept);
      ChooseFormatByKey(Qt::Key_Up);
      QCOMPARE(Path(), kept);
    }
  }

  void browseAsksPerFormatAndTakesTheChosenPath() {
    m_prompts.answers = {std::wstring(L"/data/out/sales.xls"), std::nullopt};
    QTest::mouseClick(Item<QAbstractButton>(res::kIdBrowse), Qt::LeftButton);
    QCOMPARE(Path(), QStringLiteral("/data/out/sales.xls"));
    QVERIFY(Enabled(res::kIdCheck));
    QVERIFY(Enabled(res::kIdStartStop));

    ChooseFormatByKey(Qt::Key_Down);
    QTest::mouseClick(Item<QAbstractButton>(res::kIdBrowse), Qt::LeftButton);
    QCOMPARE(Path(), QStringLiteral("/data/out/sales.mdb"));  // cancelled: only the format switch changed it

    QCOMPARE(m_prompts.requests.size(), std::size_t{2});
    const auto& excel = m_prompts.requests[0];
    QVERIFY(excel.mode == ui::FileDialogRequest::Mode::Save);
    QVERIFY(excel.confirmOverwrite);
    QCOMPARE(excel.filter, L"Microsoft Excel Driver (*.xls)|*.xls||");
    QCOMPARE(excel.defaultExtension, L"xls");
    QCOMPARE(m_prompts.requests[1].filter, L"Microsoft Access Driver (*.mdb)|*.mdb||");
    QCOMPARE(m_prompts.requests[1].defaultExtension, L"mdb");

    ChooseFormatByKey(Qt::Key_End);
    QTest::mouseClick(Item<QAbstractButton>(res::kIdBrowse), Qt::LeftButton);
    QCOMPARE(m_prompts.requests.back().filter, L"Comma Separated (*.csv)|*.csv||");
    QCOMPARE(m_prompts.requests.back().defaultExtension, L"csv");
    ChooseFormatByKey(Qt::Key_Up);
    ChooseFormatByKey(Qt::Key_Up);
    QTest::mouseClick(Item<QAbstractButton>(res::kIdBrowse), Qt::LeftButton);
    QCOMPARE(m_prompts.requests.back().filter, L"Text (Tab Delimited) (*.txt)|*.txt||");
    QCOMPARE(m_prompts.requests.back().defaultExtension, L"txt");
  }

  void deleteAndCtrlARunOnTheFocusedLog() {
    AddLines(3);
    Log()->setFocus();
    QTest::keyClick(Log(), Qt::Key_Delete);  // nothing selected
    QCOMPARE(Log()->topLevelItemCount(), 3);

    Log()->topLevelItem(0)->setSelected(true);
    Log()->topLevelItem(2)->setSelected(true);
    m_dialog->GetDlgItem(res::kIdDate)->setFocus();
    QTest::keyClick(m_dialog->GetDlgItem(res::kIdDate), Qt::Key_Delete);  // focus elsewhere
    QCOMPARE(Log()->topLevelItemCount(), 3);

    Log()->setFocus();
    QTest::keyClick(Log(), Qt::Key_Delete);
    QCOMPARE(Log()->topLevelItemCount(), 1);
    QCOMPARE(Log()->topLevelItem(0)->text(1), QStringLiteral("line 1"));

    AddLines(2);
    QTest::keyClick(Log(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(Log()->selectedItems().size(), 3);
    QVERIFY(m_dialog->isVisible());
  }

  void addLogLineFromAWorkerAppendsWithoutScrolling() {
    AddLines(40);
    std::atomic<bool> done{false};
    std::thread worker([&] {
      m_dialog->AddLogLine(L"from the worker");
      done = true;
    });
    QTRY_VERIFY(done.load());  // the user-interface thread keeps its loop running meanwhile
    worker.join();

    QCOMPARE(Log()->topLevelItemCount(), 41);
    QTreeWidgetItem* last = Log()->topLevelItem(40);
    QCOMPARE(last->text(1), QStringLiteral("from the worker"));
    QVERIFY2(QRegularExpression("^([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]$").match(last->text(0)).hasMatch(),
             qPrintable(last->text(0)));
    QCOMPARE(Log()->verticalScrollBar()->value(), 0);
    QVERIFY(Log()->visualItemRect(last).top() > Log()->viewport()->height());
    // The time column fits its text and the last column takes the rest of the width.
    QVERIFY(Log()->columnWidth(0) < Log()->viewport()->width() / 2);
    QVERIFY(Log()->columnWidth(0) + Log()->columnWidth(1) >= Log()->viewport()->width());

    const std::wstring longText(120, L'w');
    m_dialog->AddLogLine(longText);
    QVERIFY(Log()->columnWidth(1) >= Log()->fontMetrics().horizontalAdvance(QString::fromStdWString(longText)));
    QVERIFY(Log()->columnWidth(0) >= Log()->fontMetrics().horizontalAdvance(last->text(0)));
  }

  void enterInTheStatementAddsALine() {
    auto* statement = Item<QPlainTextEdit>(res::kIdStatement);
    QTest::keyClicks(statement, "SELECT 1");
    QTest::keyClick(statement, Qt::Key_Return);
    QTest::keyClicks(statement, "FROM t");
    QCOMPARE(m_dialog->GetDlgItemText(res::kIdStatement), L"SELECT 1\nFROM t");
    QVERIFY(m_dialog->isVisible());
  }

  void enterOnAFocusedButtonPressesIt() {
    auto* browse = Item<QAbstractButton>(res::kIdBrowse);
    browse->setFocus();
    QTest::keyClick(browse, Qt::Key_Return);
    QCOMPARE(m_prompts.requests.size(), std::size_t{1});
    QVERIFY(m_dialog->isVisible());
  }

  void closingKeysEndTheModalDialog_data() {
    QTest::addColumn<int>("control");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("result");
    QTest::newRow("Enter in the path") << res::kIdPath << int(Qt::Key_Return) << ui::IDOK;
    QTest::newRow("keypad Enter in the date") << res::kIdDate << int(Qt::Key_Enter) << ui::IDOK;
    QTest::newRow("Escape in the statement") << res::kIdStatement << int(Qt::Key_Escape) << ui::IDCANCEL;
  }
  void closingKeysEndTheModalDialog() {
    QFETCH(int, control);
    QFETCH(int, key);
    QFETCH(int, result);
    m_dialog->hide();
    m_dialog->SetDlgItemText(res::kIdPath, L"/tmp/out.xls");
    QTimer::singleShot(0, m_dialog.get(), [&] {
      QWidget* target = m_dialog->GetDlgItem(control);
      target->setFocus();
      QTest::keyClick(target, Qt::Key(key));
    });
    QCOMPARE(m_dialog->DoModal(), result);
    QVERIFY(!m_dialog->isVisible());
  }

  void closeBoxCancels() {
    QTimer::singleShot(0, m_dialog.get(), [&] { m_dialog->close(); });
    QCOMPARE(m_dialog->DoModal(), ui::IDCANCEL);
  }
};

QTEST_MAIN(TallyraDlgTest)
#include "TallyraDlgTest.moc"
