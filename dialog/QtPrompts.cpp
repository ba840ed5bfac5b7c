#include "dialog/QtPrompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QString>
#include <memory>

#include "dialog/UiThread.h"

namespace quillon::dialog {
namespace {

constexpr unsigned kIconMask = 0xF0;
constexpr unsigned kIconQuestion = 0x20;
constexpr unsigned kIconWarning = 0x30;
constexpr unsigned kIconInformation = 0x40;
constexpr auto kCaption = "Vantoria";

QMessageBox::Icon IconOf(unsigned type) {
  switch (type & kIconMask) {
    case ui::MB_ICONERROR:
      return QMessageBox::Critical;
    case kIconQuestion:
      return QMessageBox::Question;
    case kIconWarning:
      return QMessageBox::Warning;
    case kIconInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

// Boxes open over the window the user is working in, so they appear centred on it.
QWidget* OwnerWindow() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

// Where no settings file can be made: a path below a file that is not a folder.
constexpr auto kSettingsNowhere = "/dev/null";
// The settings QFileDialog keeps its state in.
constexpr auto kFileDialogSettings = "QtProject";

// Deletes a file dialog without letting it save its state. QFileDialog writes its history,
// sidebar and last folder into the user's "QtProject" settings (~/.config/QtProject.conf) from
// its destructor, whatever its options, while Quillon keeps no settings: for that moment the
// user's settings folder is one no file can be made in, and then what it was again.
struct DeleteWithoutSavingState {
  void operator()(QFileDialog* dialog) const {
    const QString userFolder =
        QFileInfo(QSettings(QSettings::NativeFormat, QSettings::UserScope, QString::fromLatin1(kFileDialogSettings))
                      .fileName())
            .path();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromLatin1(kSettingsNowhere));
    delete dialog;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, userFolder);
  }
};

}  // namespace

QStringList ToQtNameFilters(std::wstring_view filter) {
  QStringList parts = QString::fromWCharArray(filter.data(), static_cast<qsizetype>(filter.size())).split(u'|');
  QStringList result;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts[i];
    if (description.isEmpty()) break;  // "||" ends the list
    const QString patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts).join(u' ');
    const QString suffix = QStringLiteral("(%1)").arg(patterns);
    // Qt reads the patterns from the last parentheses of the entry.
    result.append(description.endsWith(suffix) ? description : QStringLiteral("%1 %2").arg(description, suffix));
  }
  return result;
}

QtPrompts::QtPrompts() {
  const QCoreApplication* application = QCoreApplication::instance();
  if (application != nullptr && application->thread() == QThread::currentThread()) PrepareForCallsFromWorkers();
}

int QtPrompts::MessageBox(const std::wstring& text, unsigned type) {
  int answer = ui::IDOK;
  if (QCoreApplication::instance() == nullptr) return answer;  // no user interface to ask
  RunOnThreadOf(QCoreApplication::instance(), [&] {
    QMessageBox box(OwnerWindow());
    box.setWindowTitle(QString::fromLatin1(kCaption));
    box.setText(QString::fromStdWString(text));
    box.setIcon(IconOf(type));
    const bool withCancel = (type & ui::kButtonsMask) == ui::MB_OKCANCEL;
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    QPushButton* cancel = withCancel ? box.addButton(QMessageBox::Cancel) : nullptr;
    box.setDefaultButton(ok);
    box.setEscapeButton(withCancel ? cancel : ok);
    box.exec();
    answer = box.clickedButton() == ok ? ui::IDOK : ui::IDCANCEL;
  });
  return answer;
}

std::optional<std::wstring> QtPrompts::FileDialog(const ui::FileDialogRequest& request) {
  std::optional<std::wstring> chosen;
  if (QCoreApplication::instance() == nullptr) return chosen;
  RunOnThreadOf(QCoreApplication::instance(), [&] {
    const bool save = request.mode == ui::FileDialogRequest::Mode::Save;
    const std::unique_ptr<QFileDialog, DeleteWithoutSavingState> dialog(
        new QFileDialog(OwnerWindow(), save ? QFileDialog::tr("Save As") : QFileDialog::tr("Open")));
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    const QStringList filters = ToQtNameFilters(request.filter);
    if (!filters.isEmpty()) dialog->setNameFilters(filters);
    dialog->setDefaultSuffix(QString::fromStdWString(request.defaultExtension));
    dialog->setOption(QFileDialog::DontConfirmOverwrite, !(save && request.confirmOverwrite));
    if (dialog->exec() != QDialog::Accepted) return;
    const QStringList files = dialog->selectedFiles();
    if (!files.isEmpty()) chosen = files.first().toStdWString();
  });
  return chosen;
}

}  // namespace quillon::dialog
