#include "platform/qt/main_widget.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/qt/drop_files.h"
#include "platform/qt/qt_window.h"

namespace platform::qt {

std::uint32_t VirtualKeyOf(int qtKey) {
  if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)) {
    return static_cast<std::uint32_t>(qtKey);
  }
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12)
    return 0x70 + static_cast<std::uint32_t>(qtKey - Qt::Key_F1);
  switch (qtKey) {
    case Qt::Key_Escape:
      return 0x1B;
    case Qt::Key_Space:
      return 0x20;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return 0x0D;
    case Qt::Key_Left:
      return 0x25;
    case Qt::Key_Up:
      return 0x26;
    case Qt::Key_Right:
      return 0x27;
    case Qt::Key_Down:
      return 0x28;
    default:
      return 0;
  }
}

ClientView::ClientView(QtWindow& owner, QWidget* parent) : QWidget(parent), owner_(owner) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
}

void ClientView::DrawOnScreen() {
  onScreen_ = true;
  setAttribute(Qt::WA_PaintOnScreen);
  setAttribute(Qt::WA_NoSystemBackground);
}

QPaintEngine* ClientView::paintEngine() const {
  return onScreen_ ? nullptr : QWidget::paintEngine();
}

void ClientView::paintEvent(QPaintEvent*) {
  if (onScreen_) {
    owner_.RepaintOnScreen();
    owner_.SendMessage(WM_PAINT, 0, 0);
    return;
  }
  owner_.CopyFrame(front_, frontWidth_, frontHeight_);
  QPainter painter(this);
  if (front_.empty()) {
    painter.fillRect(rect(), Qt::black);
  } else {
    const QImage image(reinterpret_cast<const uchar*>(front_.data()), frontWidth_, frontHeight_,
                       frontWidth_ * 4, QImage::Format_RGB32);
    painter.drawImage(0, 0, image);
    if (frontWidth_ < width())
      painter.fillRect(frontWidth_, 0, width() - frontWidth_, height(), Qt::black);
    if (frontHeight_ < height())
      painter.fillRect(0, frontHeight_, width(), height() - frontHeight_, Qt::black);
  }
  painter.end();
  owner_.SendMessage(WM_PAINT, 0, 0);
}

void ClientView::resizeEvent(QResizeEvent*) {
  owner_.clientWidth_ = width();
  owner_.clientHeight_ = height();
}

MainWidget::MainWidget(QtWindow& owner) : owner_(owner) {
  auto* layout = new QVBoxLayout(this);  // Qt parent owns layout, bar and view
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  menuBar_ = new QMenuBar(this);
  menuBar_->setNativeMenuBar(false);
  layout->setMenuBar(menuBar_);
  view_ = new ClientView(owner, this);
  layout->addWidget(view_, 1);
  setFocusPolicy(Qt::StrongFocus);
}

void MainWidget::BuildMenuBar() {
  ui::Menu* menu = owner_.GetMenu();
  if (menu == nullptr) {
    menuBar_->hide();
    return;
  }
  for (const ui::MenuColumn& column : menu->Snapshot()) {
    QMenu* popup = menuBar_->addMenu(QString::fromStdU16String(column.title));
    for (const ui::MenuItem& item : column.items) {
      if ((item.flags & ui::MF_SEPARATOR) != 0 || item.id == 0) {
        popup->addSeparator();
        continue;
      }
      // Text after a tab is shown by Qt as the shortcut hint, as intended.
      QAction* action = popup->addAction(QString::fromStdU16String(item.text));
      const std::uint32_t id = item.id;
      connect(action, &QAction::triggered, this, [this, id] {
        owner_.SendMessage(WM_COMMAND, id, 0);
        SyncMenuBar();  // the model decides the check mark, not Qt's own toggle
      });
      actions_[id] = action;
    }
  }
  SyncMenuBar();
}

void MainWidget::SyncMenuBar() {
  ui::Menu* menu = owner_.GetMenu();
  if (menu == nullptr) return;
  for (const ui::MenuColumn& column : menu->Snapshot()) {
    for (const ui::MenuItem& item : column.items) {
      auto found = actions_.find(item.id);
      if (found == actions_.end()) continue;
      QAction* action = found->second;
      action->setText(QString::fromStdU16String(item.text));
      action->setEnabled((item.flags & (ui::MF_GRAYED | ui::MF_DISABLED)) == 0);
      const bool checked = (item.flags & ui::MF_CHECKED) != 0;
      if (checked) action->setCheckable(true);
      if (action->isCheckable()) action->setChecked(checked);
    }
  }
}

void MainWidget::keyPressEvent(QKeyEvent* event) {
  const bool alt = (event->modifiers() & Qt::AltModifier) != 0;
  const QString text = event->text();
  for (const Accelerator& accelerator : accelerators_) {
    const bool sameCharacter =
        (text.size() == 1 && text.at(0).unicode() == accelerator.character) ||
        event->key() == static_cast<int>(accelerator.character);
    if (accelerator.alt == alt && sameCharacter) {
      owner_.SendMessage(WM_COMMAND, accelerator.command, 0);
      return;
    }
  }
  const std::uint32_t virtualKey = VirtualKeyOf(event->key());
  if (virtualKey == 0 || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) != 0) {
    QWidget::keyPressEvent(event);
    return;
  }
  owner_.SendMessage(WM_KEYDOWN, virtualKey, 0);
}

// Frames are worth drawing only while someone can see them.
void MainWidget::NoteVisibility() { owner_.framesVisible_ = isVisible() && !isMinimized(); }

void MainWidget::showEvent(QShowEvent*) { NoteVisibility(); }

void MainWidget::hideEvent(QHideEvent*) { NoteVisibility(); }

void MainWidget::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowStateChange) NoteVisibility();
  QWidget::changeEvent(event);
}

void MainWidget::closeEvent(QCloseEvent* event) {
  // The procedure decides; by default a close request destroys the window.
  event->ignore();
  if (!owner_.IsDestroyed()) owner_.SendMessage(WM_CLOSE, 0, 0);
}

void MainWidget::dragEnterEvent(QDragEnterEvent* event) {
  if (owner_.AcceptsFiles() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWidget::dragMoveEvent(QDragMoveEvent* event) {
  if (owner_.AcceptsFiles() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWidget::dropEvent(QDropEvent* event) {
  if (!owner_.AcceptsFiles() || !event->mimeData()->hasUrls()) return;
  DropFiles drop;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) drop.paths.push_back(url.toLocalFile().toStdU16String());
  }
  if (drop.paths.empty()) return;
  event->acceptProposedAction();
  owner_.SendMessage(WM_DROPFILES, reinterpret_cast<std::uintptr_t>(&drop), 0);
}

}  // namespace platform::qt
