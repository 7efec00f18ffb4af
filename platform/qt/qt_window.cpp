#include "platform/qt/qt_window.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QMenuBar>
#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>
#include <algorithm>
#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

#include "platform/qt/main_widget.h"
#include "platform/qt/x11_frame_sink.h"

namespace platform::qt {

// Where other threads post work for the window's thread. The work waits in a queue
// of our own and an eventfd wakes the window's thread: the hand-off is ordered by a
// plain mutex, which the thread checker sees (Qt's own queued calls synchronise in
// ways it cannot). Cleared before the widget goes, so a late post finds nobody.
class PostTarget {
 public:
  explicit PostTarget(QObject* receiver)
      : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), receiver_(receiver) {
    if (wakeFd_ < 0) return;  // Qt's queued calls then carry the work
    // A child of the receiver: made and destroyed on the window's thread.
    auto* notifier =
        new QSocketNotifier(static_cast<qintptr>(wakeFd_), QSocketNotifier::Read, receiver);
    QObject::connect(notifier, &QSocketNotifier::activated, receiver, [this] { RunPosted(); });
  }
  PostTarget(const PostTarget&) = delete;
  PostTarget& operator=(const PostTarget&) = delete;
  ~PostTarget() {
    if (wakeFd_ >= 0) ::close(wakeFd_);
  }

  template <typename Fn>
  void Post(Fn&& work) {
    std::scoped_lock hold(mutex_);
    if (receiver_ == nullptr) return;
    if (wakeFd_ < 0) {
      QMetaObject::invokeMethod(receiver_, std::forward<Fn>(work), Qt::QueuedConnection);
      return;
    }
    queue_.emplace_back(std::forward<Fn>(work));
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
  }
  void Clear() {
    std::scoped_lock hold(mutex_);
    receiver_ = nullptr;
    queue_.clear();
  }

 private:
  // Window's thread. Work may open a nested event loop, which runs later posts.
  void RunPosted() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &count, sizeof count);
    std::deque<std::function<void()>> work;
    {
      std::scoped_lock hold(mutex_);
      if (receiver_ == nullptr) return;
      work.swap(queue_);
    }
    for (auto& item : work) item();
  }

  const int wakeFd_;
  std::mutex mutex_;
  QObject* receiver_;                        // guarded by mutex_
  std::deque<std::function<void()>> queue_;  // guarded by mutex_
};

namespace {

std::mutex classMutex;
std::map<std::u16string, WindowClass>& Classes() {
  static std::map<std::u16string, WindowClass> classes;  // guarded by classMutex
  return classes;
}

}  // namespace

bool RegisterClassEx(const WindowClass& windowClass) {
  if (windowClass.name.empty() || windowClass.procedure == nullptr) return false;
  std::scoped_lock hold(classMutex);
  return Classes().emplace(windowClass.name, windowClass).second;
}

void UnregisterAllClasses() {
  std::scoped_lock hold(classMutex);
  Classes().clear();
}

std::intptr_t DefWindowProc(ui::HWND window, std::uint32_t message, std::uintptr_t, std::intptr_t) {
  if (message == WM_CLOSE) DestroyWindow(window);
  return 0;
}

QtWindow::QtWindow(const WindowClass& windowClass, std::unique_ptr<ui::Menu> menu)
    : procedure_(windowClass.procedure), menu_(std::move(menu)) {}

std::unique_ptr<QtWindow> QtWindow::Create(const std::u16string& className,
                                           const std::u16string& title,
                                           const WindowPlacement& placement) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return nullptr;
  WindowClass windowClass;
  {
    std::scoped_lock hold(classMutex);
    auto found = Classes().find(className);
    if (found == Classes().end()) return nullptr;
    windowClass = found->second;
  }
  std::unique_ptr<QtWindow> window(
      new QtWindow(windowClass, windowClass.makeMenu ? windowClass.makeMenu() : nullptr));
  window->presentToQt_ = QGuiApplication::platformName() != QStringLiteral("offscreen");
  window->widget_ = std::make_unique<MainWidget>(*window);
  MainWidget& widget = *window->widget_;
  window->postTarget_ = std::make_shared<PostTarget>(&widget);

  Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint;
  if (placement.topmost) flags |= Qt::WindowStaysOnTopHint;
  widget.setWindowFlags(flags);
  widget.setWindowTitle(QString::fromStdU16String(title));
  QIcon icon;
  if (!windowClass.largeIconPath.empty())
    icon.addFile(QString::fromStdString(windowClass.largeIconPath));
  if (!windowClass.smallIconPath.empty())
    icon.addFile(QString::fromStdString(windowClass.smallIconPath));
  if (!icon.isNull()) widget.setWindowIcon(icon);
  widget.BuildMenuBar();
  widget.setFixedSize(placement.width, placement.height);
  widget.move(placement.x, placement.y);

  if (window->menu_) {
    std::weak_ptr<PostTarget> target = window->postTarget_;
    QtWindow* self = window.get();
    window->menu_->SetChangeListener([self, target] {
      if (self->menuSyncPending_.exchange(true)) return;  // one queued sync covers many changes
      if (auto live = target.lock()) {
        live->Post([self] {
          self->menuSyncPending_ = false;
          self->SyncMenuBar();
        });
      }
    });
  }
  window->SendMessage(WM_CREATE, 0, 0);
  return window;
}

QtWindow::~QtWindow() {
  if (menu_) menu_->SetChangeListener({});
  if (postTarget_) postTarget_->Clear();
  hotKeys_.reset();
  {
    std::scoped_lock hold(frameMutex_);  // a frame being sent finishes first
    sink_.reset();
  }
  widget_.reset();  // Qt drops the events still queued for it
}

ui::ClientSize QtWindow::GetClientSize() const {
  return {clientWidth_.load(), clientHeight_.load()};
}

void QtWindow::PresentFrame(std::span<const std::uint32_t> pixels, int width, int height) {
  const ui::FrameRect all{0, 0, width, height};
  PresentChangedFrame(pixels, width, height, {&all, 1});
}

void QtWindow::PresentChangedFrame(std::span<const std::uint32_t> pixels, int width, int height,
                                   std::span<const ui::FrameRect> changed) {
  ++presented_;
  if (!presentToQt_ || width <= 0 || height <= 0) return;
  if (pixels.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) return;
  bool repaint = false;
  {
    std::scoped_lock hold(frameMutex_);
    const bool whole = width != frameWidth_ || height != frameHeight_;  // a new picture
    const ui::FrameRect all{0, 0, width, height};
    StoreFrame(pixels, width, height, whole ? std::span<const ui::FrameRect>(&all, 1) : changed);
    repaint = sink_ == nullptr && frameFresh_;
  }
  if (!repaint || repaintPending_.exchange(true)) return;  // a repaint is already on its way
  postTarget_->Post([this] {
    repaintPending_ = false;
    widget_->View()->update();
  });
}

void QtWindow::StoreFrame(std::span<const std::uint32_t> pixels, int width, int height,
                          std::span<const ui::FrameRect> changed) {
  frame_.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  frameWidth_ = width;
  frameHeight_ = height;
  std::size_t kept = 0;
  std::array<ui::FrameRect, 64> shown;
  bool sendAll = false;  // too many rectangles to send one by one
  for (const ui::FrameRect& c : changed) {
    const ui::FrameRect r{std::max(c.left, 0), std::max(c.top, 0), std::min(c.right, width),
                          std::min(c.bottom, height)};
    if (r.left >= r.right || r.top >= r.bottom) continue;
    // Qt's RGB32 wants the top byte set; X ignores it.
    for (int y = r.top; y < r.bottom; ++y) {
      const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + r.left;
      const std::uint32_t* in = pixels.data() + at;
      std::uint32_t* out = frame_.data() + at;
      for (int x = 0; x < r.right - r.left; ++x) out[x] = in[x] | 0xFF000000u;
    }
    if (kept < shown.size()) {
      shown[kept++] = r;
    } else {
      sendAll = true;
    }
  }
  if (kept == 0) return;  // nothing changed
  frameFresh_ = true;
  if (sendAll) shown[0] = {0, 0, width, height}, kept = 1;
  if (sink_ != nullptr) sink_->Put(frame_.data(), width, {shown.data(), kept});
}

bool QtWindow::CopyFrame(std::vector<std::uint32_t>& into, int& width, int& height) {
  std::scoped_lock hold(frameMutex_);
  if (!frameFresh_) return false;
  into = frame_;
  width = frameWidth_;
  height = frameHeight_;
  frameFresh_ = false;
  return true;
}

void QtWindow::RepaintOnScreen() {
  std::scoped_lock hold(frameMutex_);
  if (sink_ == nullptr || frame_.empty()) return;  // the window's black background shows
  const ui::FrameRect all{0, 0, frameWidth_, frameHeight_};
  sink_->Put(frame_.data(), frameWidth_, {&all, 1});
}

void QtWindow::PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  postTarget_->Post([this, message, wParam, lParam] { SendMessage(message, wParam, lParam); });
}

std::intptr_t QtWindow::SendMessage(std::uint32_t message, std::uintptr_t wParam,
                                    std::intptr_t lParam) {
  if (destroyed_ && message != WM_DESTROY) return 0;
  return procedure_(this, message, wParam, lParam);
}

void QtWindow::Show() {
  ClientView* view = widget_->View();
  if (QGuiApplication::platformName() == QStringLiteral("xcb") && sink_ == nullptr &&
      view->devicePixelRatioF() == 1.0) {
    // On X11 the client area gets an X window of its own, and frames go straight to it
    // (unscaled: a scaled screen keeps Qt's path, which scales the picture).
    view->setAttribute(Qt::WA_NativeWindow);
    if (auto sink = X11FrameSink::Open(static_cast<std::uint32_t>(view->winId()))) {
      view->DrawOnScreen();
      std::scoped_lock hold(frameMutex_);
      sink_ = std::move(sink);
    }
  }
  widget_->show();
  if (presentToQt_) widget_->raise();  // the offscreen platform has no stacking order
}

void QtWindow::SetWindowText(std::u16string_view text) {
  widget_->setWindowTitle(QString::fromStdU16String(std::u16string(text)));
}

std::u16string QtWindow::GetWindowText() const { return widget_->windowTitle().toStdU16String(); }

void QtWindow::DestroyWindow() {
  if (destroyed_) return;
  destroyed_ = true;
  procedure_(this, WM_DESTROY, 0, 0);
  // hotKeys_ stays: a hot key may be what destroyed us, and its filter is still on the stack.
  widget_->hide();
}

void QtWindow::DragAcceptFiles(bool accept) {
  acceptFiles_ = accept;
  widget_->setAcceptDrops(accept);
}

void QtWindow::SetAccelerators(std::vector<Accelerator> table) {
  widget_->SetAccelerators(std::move(table));
}

hotkeys::ActivatedHandler QtWindow::HotKeyHandler() {
  return [this](std::uint32_t id) { SendMessage(WM_HOTKEY, id, 0); };
}

void QtWindow::UnregisterHotKey(std::uint32_t id) {
  if (hotKeys_) hotKeys_->Unregister(id);
}

QWidget* QtWindow::Widget() const { return widget_.get(); }

void QtWindow::SyncMenuBar() { widget_->SyncMenuBar(); }

QtWindow* AsQtWindow(ui::HWND window) { return dynamic_cast<QtWindow*>(window); }

std::intptr_t SendMessage(ui::HWND window, std::uint32_t message, std::uintptr_t wParam,
                          std::intptr_t lParam) {
  QtWindow* qtWindow = AsQtWindow(window);
  return qtWindow != nullptr ? qtWindow->SendMessage(message, wParam, lParam) : 0;
}

void SetWindowText(ui::HWND window, std::u16string_view text) {
  if (QtWindow* qtWindow = AsQtWindow(window)) qtWindow->SetWindowText(text);
}

std::u16string GetWindowText(ui::HWND window) {
  QtWindow* qtWindow = AsQtWindow(window);
  return qtWindow != nullptr ? qtWindow->GetWindowText() : std::u16string();
}

void DestroyWindow(ui::HWND window) {
  if (QtWindow* qtWindow = AsQtWindow(window)) qtWindow->DestroyWindow();
}

namespace {
// Window's thread only.
bool loopRunning = false;
std::optional<int> pendingQuit;
}  // namespace

void PostQuitMessage(int exitCode) {
  // Like the classic quit message, a quit asked for before the loop runs ends it as
  // soon as it starts; one asked for while no loop will run is kept for the next.
  if (loopRunning) {
    QCoreApplication::exit(exitCode);
  } else if (!pendingQuit) {
    pendingQuit = exitCode;
  }
}

std::optional<int> TakePendingQuit() { return std::exchange(pendingQuit, std::nullopt); }

int RunMessageLoop() {
  if (QCoreApplication::instance() == nullptr) return 0;
  if (std::optional<int> code = TakePendingQuit()) return *code;
  loopRunning = true;
  const int exitCode = QCoreApplication::exec();
  loopRunning = false;
  return exitCode;
}

}  // namespace platform::qt
