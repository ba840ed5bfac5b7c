// libquillon.so as a host sees it: loaded with dlopen, reached through its one export and the
// order of its interface's table entries, running its dialog on a real connection.
#include <dlfcn.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/odbc/Database.h"
#include "plugin/PluginInterface.h"
#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

namespace {

using quillon::odbc::CDatabase;

class PluginLibrary {
 public:
  PluginLibrary() : m_handle(dlopen(QUILLON_PLUGIN_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {}
  ~PluginLibrary() {
    if (m_handle != nullptr) dlclose(m_handle);
  }
  IDatabasePlugin* Plugin() const {
    auto entry = reinterpret_cast<GetPluginInterfaceFunction>(dlsym(m_handle, kGetPluginInterfaceSymbol));
    return entry != nullptr ? entry() : nullptr;
  }
  void* m_handle;
};

class Host final : public HostContext, public ConnectionSource {
 public:
  explicit Host(CDatabase* database, bool withSource = true) : m_database(database), m_withSource(withSource) {}
  const wchar_t* GetHostName() override { return L"test host"; }
  ConnectionSource* GetConnectionSource() override { return m_withSource ? this : nullptr; }
  CDatabase* GetDatabase() override { return m_database; }

 private:
  CDatabase* m_database;
  bool m_withSource;
};

// The table of virtual operations exactly as a host written against the entry order sees it.
using Slot = void*;
Slot* TableOf(IDatabasePlugin* plugin) { return *reinterpret_cast<Slot**>(plugin); }

std::vector<std::string> ExportedSymbols() {
  std::vector<std::string> symbols;
  for (const auto& line :
       quillon::testing::RunCommand(std::string("nm -D --defined-only ") + QUILLON_PLUGIN_LIBRARY).Lines()) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name) symbols.push_back(type + " " + name);
  }
  return symbols;
}

TEST(Plugin, ExportsExactlyOneFunction) {
  const std::vector<std::string> expected = {"T GetPluginInterface"};
  EXPECT_EQ(ExportedSymbols(), expected);
}

TEST(Plugin, InterfaceEntriesStandInTheOrderHostsRelyOn) {
  PluginLibrary library;
  ASSERT_NE(library.m_handle, nullptr) << dlerror();
  IDatabasePlugin* plugin = library.Plugin();
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(library.Plugin(), plugin);

  Slot* table = TableOf(plugin);
  const auto setHost = reinterpret_cast<void (*)(IDatabasePlugin*, HostContext*)>(table[0]);
  const auto getHost = reinterpret_cast<HostContext* (*)(IDatabasePlugin*)>(table[1]);
  const auto getKind = reinterpret_cast<std::int32_t (*)(IDatabasePlugin*)>(table[2]);
  const auto execute = reinterpret_cast<bool (*)(IDatabasePlugin*)>(table[3]);
  const auto getLevel = reinterpret_cast<std::int32_t (*)(IDatabasePlugin*)>(table[4]);

  EXPECT_EQ(getKind(plugin), 4);
  EXPECT_EQ(getLevel(plugin), 1);
  Host first(nullptr), second(nullptr);
  setHost(plugin, &first);
  EXPECT_EQ(getHost(plugin), &first);
  setHost(plugin, &second);
  EXPECT_EQ(plugin->GetHost(), &second);
  // No database behind the host: nothing is shown and the answer is no.
  EXPECT_FALSE(execute(plugin));
  EXPECT_EQ(getKind(plugin), 4);
  EXPECT_EQ(getLevel(plugin), 1);
}

TEST(Plugin, ExecuteWithoutHostSourceOrDatabaseReturnsFalse) {
  PluginLibrary library;
  IDatabasePlugin* plugin = library.Plugin();
  ASSERT_NE(plugin, nullptr);
  plugin->SetHost(nullptr);
  EXPECT_EQ(plugin->GetHost(), nullptr);
  EXPECT_FALSE(plugin->Execute());
  Host noSource(nullptr, false);
  plugin->SetHost(&noSource);
  EXPECT_FALSE(plugin->Execute());
  plugin->SetHost(nullptr);
}

class PluginDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    m_database.OpenEx(L"DRIVER=SQLite3;Database=" + (m_dir / "host.db").wstring());
    m_plugin = m_library.Plugin();
    ASSERT_NE(m_plugin, nullptr);
    m_plugin->SetHost(&m_host);
  }
  void TearDown() override {
    if (m_plugin != nullptr) m_plugin->SetHost(nullptr);
  }

  // Runs Execute while `interact` acts on the dialog once it is up; returns Execute's answer.
  bool ExecuteWith(const std::function<void(QWidget&)>& interact) {
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (QWidget* dialog = QApplication::activeModalWidget()) {
        poll.stop();
        interact(*dialog);
      }
    });
    poll.start();
    return m_plugin->Execute();
  }

  quillon::testing::TempDir m_dir;
  CDatabase m_database;
  Host m_host{&m_database};
  PluginLibrary m_library;
  IDatabasePlugin* m_plugin = nullptr;
};

TEST_F(PluginDialog, EscapeEndsWithFalseAndEnterInThePathWithTrue) {
  std::wstring caption, database;
  EXPECT_FALSE(ExecuteWith([&](QWidget& dialog) {
    caption = dialog.windowTitle().toStdWString();
    database = dialog.findChild<QLineEdit*>("control1012")->text().toStdWString();
    QTest::keyClick(&dialog, Qt::Key_Escape);
  }));
  EXPECT_EQ(caption, L"Vantoria");
  EXPECT_NE(database.find((m_dir / "host.db").wstring()), std::wstring::npos) << database;

  EXPECT_TRUE(ExecuteWith([](QWidget& dialog) {
    auto* path = dialog.findChild<QLineEdit*>("control1009");
    path->setFocus();
    QTest::keyClick(path, Qt::Key_Return);
  }));
}

TEST_F(PluginDialog, EachExecuteShowsAFreshDialog) {
  ExecuteWith([](QWidget& dialog) {
    dialog.findChild<QPlainTextEdit*>("control1008")->setPlainText("SELECT 1");
    dialog.findChild<QLineEdit*>("control1009")->setText("/tmp/out.xls");
    QTest::keyClick(&dialog, Qt::Key_Escape);
  });
  std::wstring statement = L"unread", path = L"unread";
  int logLines = -1;
  ExecuteWith([&](QWidget& dialog) {
    statement = dialog.findChild<QPlainTextEdit*>("control1008")->toPlainText().toStdWString();
    path = dialog.findChild<QLineEdit*>("control1009")->text().toStdWString();
    logLines = dialog.findChild<QTreeWidget*>("control1018")->topLevelItemCount();
    QTest::keyClick(&dialog, Qt::Key_Escape);
  });
  EXPECT_EQ(statement, L"");
  EXPECT_EQ(path, L"");
  EXPECT_EQ(logLines, 0);
}

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "plugin_test";
    static char* argv[] = {name, nullptr};
    m_application = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { m_application.reset(); }

 private:
  std::unique_ptr<QApplication> m_application;
};

const auto* const g_qt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
