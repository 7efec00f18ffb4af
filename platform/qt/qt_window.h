// The program's top-level window over Qt Widgets: a menu bar built from a Menu
// model, a client area that shows presented frames, and a window procedure that
// receives every event as a classic window message.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/hotkeys/global_hot_keys.h"
#include "platform/qt/window_messages.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"

class QWidget;

namespace platform::qt {

class MainWidget;
class PostTarget;
class X11FrameSink;

struct WindowClass {
  std::u16string name;
  WindowProc procedure = nullptr;
  std::function<std::unique_ptr<ui::Menu>()> makeMenu;  // may be empty: no menu
  std::string largeIconPath;                            // files; empty = none
  std::string smallIconPath;
};

// Registers a class by name; false when the name is taken or the class is incomplete.
bool RegisterClassEx(const WindowClass& windowClass);
void UnregisterAllClasses();  // tests

struct WindowPlacement {
  int x = 0;
  int y = 0;
  int width = 0;  // the whole window, menu bar included
  int height = 0;
  bool topmost = false;
};

class QtWindow final : public ui::Window {
 public:
  // Makes the window of a registered class and sends it WM_CREATE; null when the
  // class is unknown or there is no QApplication. Window's thread.
  static std::unique_ptr<QtWindow> Create(const std::u16string& className,
                                          const std::u16string& title,
                                          const WindowPlacement& placement);
  ~QtWindow() override;
  QtWindow(const QtWindow&) = delete;
  QtWindow& operator=(const QtWindow&) = delete;

  // platform::ui::Window. Any thread.
  ui::Menu* GetMenu() override { return menu_.get(); }
  ui::ClientSize GetClientSize() const override;
  void PresentFrame(std::span<const std::uint32_t> pixels, int width, int height) override;
  void PresentChangedFrame(std::span<const std::uint32_t> pixels, int width, int height,
                           std::span<const ui::FrameRect> changed) override;
  void PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
  bool ShowsFrames() const override { return framesVisible_.load(std::memory_order_relaxed); }

  // Window's thread only from here on.
  std::intptr_t SendMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
  void Show();
  void SetWindowText(std::u16string_view text);
  std::u16string GetWindowText() const;
  // Sends WM_DESTROY once and hides the window; the object lives on until deleted.
  void DestroyWindow();
  bool IsDestroyed() const { return destroyed_; }
  void DragAcceptFiles(bool accept);
  // Keys that become commands before they reach the procedure as WM_KEYDOWN.
  void SetAccelerators(std::vector<Accelerator> table);
  bool AcceptsFiles() const { return acceptFiles_; }
  // The system-wide hot keys go with the window. Made with HotKeyHandler, they
  // bring each activation to the procedure as WM_HOTKEY with the key's id in wParam.
  hotkeys::ActivatedHandler HotKeyHandler();
  void SetHotKeys(std::unique_ptr<hotkeys::GlobalHotKeys> keys) { hotKeys_ = std::move(keys); }
  void UnregisterHotKey(std::uint32_t id);

  QWidget* Widget() const;
  // Frames handed to PresentFrame so far (any thread).
  std::uint64_t PresentedFrames() const { return presented_.load(); }

  // Called by the widget: brings the Menu's state into the menu bar.
  void SyncMenuBar();
  // Called by the widget: a copy of the picture to paint, if it changed since the last.
  bool CopyFrame(std::vector<std::uint32_t>& into, int& width, int& height);
  // Called by the widget when its area drawn straight to the screen needs repainting.
  void RepaintOnScreen();

 private:
  QtWindow(const WindowClass& windowClass, std::unique_ptr<ui::Menu> menu);

  WindowProc procedure_;
  std::unique_ptr<ui::Menu> menu_;
  std::unique_ptr<MainWidget> widget_;        // window's thread only
  std::shared_ptr<PostTarget> postTarget_;    // any thread; cleared on destruction
  std::atomic<bool> destroyed_{false};        // written by the window's thread
  bool acceptFiles_ = false;                  // window's thread only
  std::atomic<bool> menuSyncPending_{false};  // any thread
  std::atomic<bool> repaintPending_{false};   // any thread
  std::atomic<std::uint64_t> presented_{0};
  std::atomic<bool> framesVisible_{false};  // shown and not minimised; kept by the widget
  std::atomic<int> clientWidth_{0};         // kept by the widget, read by any thread
  std::atomic<int> clientHeight_{0};
  bool presentToQt_ = true;  // false on the offscreen platform: frames are only counted

  std::unique_ptr<hotkeys::GlobalHotKeys> hotKeys_;  // window's thread only

  // The picture, kept whole so that changed frames patch it and a repaint can show it.
  std::mutex frameMutex_;             // guards the fields below
  std::vector<std::uint32_t> frame_;  // 0xFFRRGGBB, as Qt's RGB32 wants
  int frameWidth_ = 0;
  int frameHeight_ = 0;
  bool frameFresh_ = false;             // changed since the widget's last copy
  std::unique_ptr<X11FrameSink> sink_;  // on X11: the picture goes straight to the screen

  // Under frameMutex_: store the frame (or its changed part) and show what changed.
  void StoreFrame(std::span<const std::uint32_t> pixels, int width, int height,
                  std::span<const ui::FrameRect> changed);

  friend class MainWidget;
  friend class ClientView;
};

// Window-handle forms of the calls above, for code that holds an HWND. They do
// nothing (or return 0 / empty) on a window that is not a QtWindow.
QtWindow* AsQtWindow(ui::HWND window);
std::intptr_t SendMessage(ui::HWND window, std::uint32_t message, std::uintptr_t wParam,
                          std::intptr_t lParam);
void SetWindowText(ui::HWND window, std::u16string_view text);
std::u16string GetWindowText(ui::HWND window);
void DestroyWindow(ui::HWND window);

// Ends the message loop with this exit code once control returns to it.
void PostQuitMessage(int exitCode);
// A quit asked for while no loop ran, taken away (tests look at it).
std::optional<int> TakePendingQuit();
// Runs the message loop until PostQuitMessage; returns its exit code.
int RunMessageLoop();

}  // namespace platform::qt
