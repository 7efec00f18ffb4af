#include "platform/qt/message_boxes.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <atomic>

#include "platform/qt/qt_window.h"
#include "platform/ui/message_box.h"

namespace platform::qt {
namespace {

std::atomic<bool> modalRefused{false};

QMessageBox::Icon IconOf(std::uint32_t flags) {
  switch (flags & 0xF0) {
    case 0x10:
      return QMessageBox::Critical;
    case 0x20:
      return QMessageBox::Question;
    case 0x30:
      return QMessageBox::Warning;
    case 0x40:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

QWidget* OwnerWidget(ui::HWND owner) {
  if (owner == nullptr) owner = ui::GetActiveWindow();
  QtWindow* window = AsQtWindow(owner);
  return window != nullptr && !window->IsDestroyed() ? window->Widget() : nullptr;
}

int ShowBox(ui::HWND owner, std::u16string_view text, std::u16string_view caption,
            std::uint32_t flags) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || modalRefused) return ui::IDOK;
  const QString qtText = QString::fromStdU16String(std::u16string(text));
  const QString qtCaption = QString::fromStdU16String(std::u16string(caption));
  const QMessageBox::Icon icon = IconOf(flags);
  if (QThread::currentThread() == app->thread()) {
    QMessageBox box(icon, qtCaption, qtText, QMessageBox::Ok, OwnerWidget(owner));
    box.exec();
    return ui::IDOK;
  }
  // Another thread: never wait for the window's thread, which may be blocked
  // waiting for this very thread (Stop). The box appears once that thread is free.
  QPointer<QWidget> parent = OwnerWidget(owner);
  QMetaObject::invokeMethod(
      app,
      [parent, icon, qtCaption, qtText] {
        // Qt deletes the box when it is closed.
        auto* box = new QMessageBox(icon, qtCaption, qtText, QMessageBox::Ok, parent.data());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        box->show();
      },
      Qt::QueuedConnection);
  return ui::IDOK;
}

}  // namespace

void InstallMessageBoxes() { ui::SetMessageBoxSink(ShowBox); }

void CloseModalWindows() {
  modalRefused = true;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(widget);
    if (dialog != nullptr && dialog->isVisible()) dialog->done(QDialog::Rejected);
  }
}

bool ModalWindowsRefused() { return modalRefused; }

}  // namespace platform::qt
