// The Qt prompts, answered the way a user would from the user-interface thread while the
// caller waits on a worker thread, and the compiled-in banners as files.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <atomic>
#include <functional>
#include <thread>

#include "dialog/QtPrompts.h"
#include "resources/DialogTemplate.h"
#include "resources/Resources.h"

using quillon::dialog::QtPrompts;
namespace res = quillon::resources;
namespace ui = quillon::ui;

namespace {

// The home folder the tests run in, empty at the start.
QString g_home;

// Runs `ask` on a worker thread and `answer` on the first modal window that opens meanwhile.
template <class Result>
Result AskFromWorker(std::function<Result()> ask, std::function<void(QWidget*)> answer) {
  Result result{};
  std::atomic<bool> done{false};
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      poll.stop();
      answer(modal);
      // An answer that failed half-way must not leave the caller waiting for ever.
      if (auto* dialog = qobject_cast<QDialog*>(modal); dialog != nullptr && dialog->isVisible()) dialog->reject();
    }
  });
  poll.start(10);
  std::thread worker([&] {
    result = ask();
    done = true;
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  worker.join();
  return result;
}

struct BmpHeader {
  QByteArray magic;
  qint32 width, height;
  quint16 bitsPerPixel;
  quint32 compression;
};

BmpHeader ReadBmpHeader(const QByteArray& bytes) {
  constexpr int kWidthOffset = 18, kHeightOffset = 22, kBitCountOffset = 28, kCompressionOffset = 30;
  const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
  return {bytes.left(2), qFromLittleEndian<qint32>(data + kWidthOffset),
          qFromLittleEndian<qint32>(data + kHeightOffset), qFromLittleEndian<quint16>(data + kBitCountOffset),
          qFromLittleEndian<quint32>(data + kCompressionOffset)};
}

}  // namespace

class PromptsAndBannersTest : public QObject {
  Q_OBJECT

 private slots:
  void messageBoxFromAWorkerShowsOnTheUiThread() {
    QtPrompts prompts;
    QString caption, text;
    QMessageBox::Icon icon{};
    int buttons = 0;
    const int answer =
        AskFromWorker<int>([&] { return prompts.MessageBox(L"Row refused: 'x'", ui::MB_OKCANCEL | ui::MB_ICONERROR); },
                           [&](QWidget* modal) {
                             auto* box = qobject_cast<QMessageBox*>(modal);
                             QVERIFY(box != nullptr);
                             QVERIFY(box->thread() == QCoreApplication::instance()->thread());
                             caption = box->windowTitle();
                             text = box->text();
                             icon = box->icon();
                             buttons = int(box->buttons().size());
                             box->button(QMessageBox::Cancel)->click();
                           });
    QCOMPARE(answer, ui::IDCANCEL);
    QCOMPARE(caption, QStringLiteral("Vantoria"));
    QCOMPARE(text, QStringLiteral("Row refused: 'x'"));
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(buttons, 2);
  }

  void saveDialogFiltersAndAddsTheDefaultExtension() {
    QTemporaryDir dir;
    QtPrompts prompts;
    ui::FileDialogRequest request;
    request.mode = ui::FileDialogRequest::Mode::Save;
    request.filter = L"Microsoft Access Driver (*.mdb)|*.mdb||";
    request.defaultExtension = L"mdb";
    request.confirmOverwrite = true;
    QStringList filters;
    bool confirms = false;
    const auto chosen = AskFromWorker<std::optional<std::wstring>>(
        [&] { return prompts.FileDialog(request); },
        [&](QWidget* modal) {
          auto* dialog = qobject_cast<QFileDialog*>(modal);
          QVERIFY(dialog != nullptr);
          filters = dialog->nameFilters();
          confirms = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
          QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
          // Typed as a user would, without an extension.
          dialog->findChild<QLineEdit*>("fileNameEdit")->setText(dir.filePath("orders"));
          static_cast<QDialog*>(dialog)->accept();  // as the Save button does
        });
    QCOMPARE(filters, QStringList{"Microsoft Access Driver (*.mdb)"});
    QVERIFY(confirms);
    QVERIFY(chosen.has_value());
    QCOMPARE(QString::fromStdWString(*chosen), dir.filePath("orders.mdb"));

    const auto cancelled = AskFromWorker<std::optional<std::wstring>>(
        [&] { return prompts.FileDialog(request); }, [](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    QVERIFY(!cancelled.has_value());
    // The dialogs kept nothing of theirs: no settings, no history.
    QCOMPARE(QDir(g_home).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList{});
  }

  void filtersBecomeQtNameFilters() {
    using quillon::dialog::ToQtNameFilters;
    QCOMPARE(ToQtNameFilters(L"Text (Tab Delimited) (*.txt)|*.txt||"), QStringList{"Text (Tab Delimited) (*.txt)"});
    QCOMPARE(ToQtNameFilters(L"Scripts|*.txt;*.tsv|All files (*.*)|*.*||"),
             (QStringList{"Scripts (*.txt *.tsv)", "All files (*.*)"}));
    QVERIFY(ToQtNameFilters(L"").isEmpty());
  }

  void bannersAre63By310UncompressedBottomUp24Bit() {
    for (int id : res::kFormatBitmaps) {
      const QString path = res::BitmapPath(id);
      QFile file(path);
      QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
      const BmpHeader header = ReadBmpHeader(file.readAll());
      QCOMPARE(header.magic, QByteArray("BM"));
      QCOMPARE(header.width, res::kBannerWidth);
      QCOMPARE(header.height, res::kBannerHeight);  // positive: bottom-up
      QCOMPARE(int(header.bitsPerPixel), res::kBannerBitsPerPixel);
      QCOMPARE(header.compression, 0u);
      const QImage image(path);
      QCOMPARE(image.size(), QSize(res::kBannerWidth, res::kBannerHeight));
    }
    QVERIFY(res::BitmapPath(1016).isEmpty());
  }

  void eachBannerHasItsFormatsColour() {
    // Below the emblem, the banner's body is green for Excel, magenta for Access, blue for text.
    const auto body = [](int id) { return QImage(res::BitmapPath(id)).pixelColor(res::kBannerWidth / 2, 200); };
    const QColor excel = body(res::kBitmapExcel), access = body(res::kBitmapAccess), text = body(res::kBitmapText);
    QVERIFY(excel.green() > excel.red() && excel.green() > excel.blue());
    QVERIFY(access.red() > access.green() && access.blue() > access.green());
    QVERIFY(text.blue() > text.red() && text.blue() > text.green());
    // The emblem near the top is a white square.
    for (int id : res::kFormatBitmaps) QCOMPARE(QImage(res::BitmapPath(id)).pixelColor(14, 16), QColor(Qt::white));
  }
};

int main(int argc, char** argv) {
  // A home of its own, set before Qt looks for the user's folders, which the prompts must leave
  // as they found it.
  QTemporaryDir home;
  g_home = home.path();
  qputenv("HOME", QFile::encodeName(g_home));
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(g_home + "/.config"));
  QApplication application(argc, argv);
  PromptsAndBannersTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "PromptsAndBannersTest.moc"
