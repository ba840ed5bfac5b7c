// Test helper, not a test: shows the export dialog on a temporary SQLite database and writes a
// picture of it, to look at the layout (run it under xvfb-run for a real X server).
// Usage: quillon_dialog_snapshot <out.png> [format-index | initial]
// "initial" shows the dialog as it opens; otherwise it holds sample contents.
#include <QApplication>
#include <QComboBox>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "dialog/TallyraDlg.h"
#include "platform/odbc/Database.h"
#include "resources/DialogTemplate.h"

namespace {

namespace res = quillon::resources;

void FillWithSamples(quillon::dialog::CTallyraDlg& dialog, int format) {
  dialog.SetDlgItemText(res::kIdStatement, L"SELECT id, name, price\nFROM Orders\nWHERE price > 10");
  dialog.SetDlgItemText(res::kIdPath, L"/home/user/exports/orders.xls");
  dialog.SetDlgItemText(res::kIdDate, L"%d.%m.%y %H:%M:%S");
  auto* formats = static_cast<QComboBox*>(dialog.GetDlgItem(res::kIdFormat));
  formats->setCurrentIndex(format);
  emit formats->activated(format);  // as if the user had picked it
  dialog.AddLogLine(L"Start time: Mon Dec  7 21:00:00 2026");
  dialog.AddLogLine(L"Driver: Microsoft Excel Driver (*.xls)");
  dialog.AddLogLine(L"Rows exported: 70000, elapsed 12 s");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <out.png> [format-index | initial]\n", argv[0]);
    return 2;
  }
  QTemporaryDir dir;
  quillon::odbc::CDatabase database;
  database.OpenEx(L"DRIVER=SQLite3;Database=" + (dir.path() + "/snapshot.db").toStdWString() + L";PWD=secret");
  quillon::dialog::CTallyraDlg dialog(&database);
  const bool initial = argc > 2 && std::string_view(argv[2]) == "initial";
  if (!initial) FillWithSamples(dialog, argc > 2 ? std::atoi(argv[2]) : 0);
  dialog.show();
  const QString out = QString::fromLocal8Bit(argv[1]);
  QTimer::singleShot(300, [&] {
    dialog.grab().save(out);
    std::printf("%dx%d -> %s\n", dialog.width(), dialog.height(), qPrintable(out));
    app.quit();
  });
  return app.exec();
}
