// Test helper, not a test: shows the export dialog with sample contents on a temporary SQLite
// database and writes a picture of it, to look at the layout (run it under xvfb-run).
// Usage: quillon_dialog_snapshot <out.png> [format-index]
#include <QApplication>
#include <QComboBox>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

#include "dialog/TallyraDlg.h"
#include "platform/odbc/Database.h"
#include "resources/DialogTemplate.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <out.png> [format-index]\n", argv[0]);
    return 2;
  }
  QTemporaryDir dir;
  quillon::odbc::CDatabase database;
  database.OpenEx(L"DRIVER=SQLite3;Database=" + (dir.path() + "/snapshot.db").toStdWString() + L";PWD=secret");
  quillon::dialog::CTallyraDlg dialog(&database);
  namespace res = quillon::resources;
  dialog.SetDlgItemText(res::kIdStatement, L"SELECT id, name, price\nFROM Orders\nWHERE price > 10");
  dialog.SetDlgItemText(res::kIdPath, L"/home/user/exports/orders.xls");
  dialog.SetDlgItemText(res::kIdDate, L"%d.%m.%y %H:%M:%S");
  if (argc > 2) {
    auto* format = static_cast<QComboBox*>(dialog.GetDlgItem(res::kIdFormat));
    format->setFocus();
    format->setCurrentIndex(std::atoi(argv[2]));
    emit format->activated(format->currentIndex());
  }
  dialog.AddLogLine(L"Start time: Mon Dec  7 21:00:00 2026");
  dialog.AddLogLine(L"Driver: Microsoft Excel Driver (*.xls)");
  dialog.AddLogLine(L"Rows exported: 70000, elapsed 12 s");
  dialog.show();
  const QString out = QString::fromLocal8Bit(argv[1]);
  QTimer::singleShot(300, [&] {
    dialog.grab().save(out);
    std::printf("%dx%d -> %s\n", dialog.width(), dialog.height(), qPrintable(out));
    app.quit();
  });
  return app.exec();
}
