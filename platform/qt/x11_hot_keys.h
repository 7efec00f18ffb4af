// System-wide key combinations through a key grab on the X11 root window (also
// under XWayland). Each combination is grabbed with and without Caps Lock and
// Num Lock, so it works whatever the lock keys' state. Window's thread only.
#pragma once

#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct xcb_connection_t;

namespace platform::qt {

class X11HotKeys final : public QAbstractNativeEventFilter {
 public:
  using Handler = std::function<void(int id, std::uint32_t modifiers, std::uint32_t virtualKey)>;

  // Null where Qt does not run on X11 (offscreen, Wayland-only).
  static std::unique_ptr<X11HotKeys> Connect(Handler handler);
  ~X11HotKeys() override;

  // False when the key has no key code here or another client holds the combination.
  bool Register(int id, std::uint32_t modifiers, std::uint32_t virtualKey);
  void Unregister(int id);

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  struct Grab {
    int id;
    std::uint8_t keycode;
    std::uint16_t x11Modifiers;  // without the lock keys
    std::uint32_t modifiers;
    std::uint32_t virtualKey;
  };

  X11HotKeys(xcb_connection_t* connection, std::uint32_t root, Handler handler);
  void Ungrab(const Grab& grab);

  xcb_connection_t* connection_;  // owned by Qt
  std::uint32_t root_;
  Handler handler_;
  std::vector<Grab> grabs_;
};

}  // namespace platform::qt
