// System-wide hot keys through key grabs on the X11 root window (also under
// XWayland). Each combination is grabbed with and without Caps Lock and Num Lock,
// so it works whatever the lock keys' state. Window's thread only.
#pragma once

#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/hotkeys/global_hot_keys.h"

struct xcb_connection_t;

namespace platform::qt {

class X11HotKeys final : public hotkeys::GlobalHotKeys, public QAbstractNativeEventFilter {
 public:
  // Null where Qt does not run on X11 (offscreen, Wayland-only).
  static std::unique_ptr<X11HotKeys> Connect(hotkeys::ActivatedHandler onActivated);
  ~X11HotKeys() override;

  // A key is not held when it has no key code here or another client holds it.
  std::size_t Register(std::span<const hotkeys::HotKey> keys) override;
  void Unregister(std::uint32_t id) override;

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  struct Grab {
    std::uint32_t id;
    std::uint8_t keycode;
  };

  X11HotKeys(xcb_connection_t* connection, std::uint32_t root,
             hotkeys::ActivatedHandler onActivated);
  bool Take(const hotkeys::HotKey& key);
  void Ungrab(const Grab& grab);

  xcb_connection_t* connection_;  // owned by Qt
  std::uint32_t root_;
  hotkeys::ActivatedHandler onActivated_;
  std::vector<Grab> grabs_;
};

}  // namespace platform::qt
