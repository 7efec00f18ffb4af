#include "platform/qt/open_file_dialog.h"

#include <QFileDialog>
#include <QStringList>
#include <mutex>

#include "platform/qt/message_boxes.h"
#include "platform/qt/qt_window.h"

namespace platform::qt {
namespace {

std::mutex dialogMutex;
OpenFileDialog replacement;  // guarded by dialogMutex

std::optional<std::u16string> QtDialog(const OpenFileName& request) {
  if (ModalWindowsRefused()) return std::nullopt;
  QtWindow* owner = AsQtWindow(request.owner);
  QFileDialog dialog(owner != nullptr ? owner->Widget() : nullptr);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode((request.flags & OFN_FILEMUSTEXIST) != 0 ? QFileDialog::ExistingFile
                                                              : QFileDialog::AnyFile);
  const QStringList filters = QtFilterOf(request).split(QStringLiteral(";;"));
  dialog.setNameFilters(filters);
  const int index = request.filterIndex - 1;
  if (index >= 0 && index < filters.size()) dialog.selectNameFilter(filters.at(index));
  if (!request.initialDir.empty()) {
    dialog.setDirectory(QString::fromStdU16String(request.initialDir));
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first().toStdU16String();
}

}  // namespace

QString QtFilterOf(const OpenFileName& request) {
  QStringList parts;
  for (const auto& [text, patterns] : request.filter) {
    QString qtPatterns = QString::fromStdU16String(patterns);
    qtPatterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    // Qt takes the patterns from the parentheses that end the text; a text that
    // already ends with them ("MP3 files(*.mp3)") is shown as it is.
    const QString shown = QString::fromStdU16String(text);
    const QString tail = QStringLiteral("(%1)").arg(qtPatterns);
    parts << (shown.endsWith(tail) ? shown : QStringLiteral("%1 %2").arg(shown, tail));
  }
  return parts.join(QStringLiteral(";;"));
}

std::optional<std::u16string> GetOpenFileName(const OpenFileName& request) {
  OpenFileDialog dialog;
  {
    std::scoped_lock hold(dialogMutex);
    dialog = replacement;
  }
  return dialog ? dialog(request) : QtDialog(request);
}

OpenFileDialog SetOpenFileDialog(OpenFileDialog dialog) {
  std::scoped_lock hold(dialogMutex);
  return std::exchange(replacement, std::move(dialog));
}

}  // namespace platform::qt
