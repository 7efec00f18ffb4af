// The Qt side of a QtWindow: menu bar, client area and the event handlers that turn
// Qt events into window messages. Window's thread only.
#pragma once

#include <QWidget>
#include <cstdint>
#include <map>
#include <vector>

#include "platform/qt/window_messages.h"

class QAction;
class QMenuBar;

namespace platform::qt {

class QtWindow;

// The client area: draws the latest presented frame, black where there is none.
class ClientView final : public QWidget {
 public:
  ClientView(QtWindow& owner, QWidget* parent);
  // From now on the owner draws this native widget's X window itself; Qt stays out.
  void DrawOnScreen();

 protected:
  QPaintEngine* paintEngine() const override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QtWindow& owner_;
  bool onScreen_ = false;
  std::vector<std::uint32_t> front_;
  int frontWidth_ = 0;
  int frontHeight_ = 0;
};

class MainWidget final : public QWidget {
 public:
  explicit MainWidget(QtWindow& owner);

  void BuildMenuBar();
  void SyncMenuBar();
  ClientView* View() const { return view_; }
  QMenuBar* MenuBar() const { return menuBar_; }
  void SetAccelerators(std::vector<Accelerator> table) { accelerators_ = std::move(table); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QtWindow& owner_;
  QMenuBar* menuBar_ = nullptr;  // owned by this widget (Qt parent)
  ClientView* view_ = nullptr;   // owned by this widget (Qt parent)
  std::map<std::uint32_t, QAction*> actions_;
  std::vector<Accelerator> accelerators_;

  void NoteVisibility();
};

// The classic virtual-key code of a Qt key: letters and digits keep their ASCII
// codes, F1..F12 are 0x70..0x7B; 0 for keys the program has no use for.
std::uint32_t VirtualKeyOf(int qtKey);

}  // namespace platform::qt
