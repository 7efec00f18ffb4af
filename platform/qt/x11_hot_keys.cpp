#include "platform/qt/x11_hot_keys.h"

#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace platform::qt {
namespace {

// Caps Lock is Lock; Num Lock is Mod2 on every common keyboard map.
constexpr std::uint16_t kLockVariants[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                           XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr std::uint16_t kRelevant =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

// Letters and digits only: their key symbols are their lower-case ASCII codes.
xcb_keysym_t KeySymOf(std::uint32_t virtualKey) {
  if (virtualKey >= '0' && virtualKey <= '9') return virtualKey;
  if (virtualKey >= 'A' && virtualKey <= 'Z') return virtualKey - 'A' + 'a';
  return 0;
}

}  // namespace

std::unique_ptr<X11HotKeys> X11HotKeys::Connect(hotkeys::ActivatedHandler onActivated) {
  auto* app = qGuiApp;
  if (app == nullptr || QGuiApplication::platformName() != QStringLiteral("xcb")) return nullptr;
  auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->connection() == nullptr) return nullptr;
  xcb_connection_t* connection = x11->connection();
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  if (screen == nullptr) return nullptr;
  std::unique_ptr<X11HotKeys> keys(
      new X11HotKeys(connection, screen->root, std::move(onActivated)));
  app->installNativeEventFilter(keys.get());
  return keys;
}

X11HotKeys::X11HotKeys(xcb_connection_t* connection, std::uint32_t root,
                       hotkeys::ActivatedHandler onActivated)
    : connection_(connection), root_(root), onActivated_(std::move(onActivated)) {}

X11HotKeys::~X11HotKeys() {
  for (const Grab& grab : grabs_) Ungrab(grab);
  xcb_flush(connection_);
  if (qGuiApp != nullptr) qGuiApp->removeNativeEventFilter(this);
}

std::size_t X11HotKeys::Register(std::span<const hotkeys::HotKey> keys) {
  std::size_t held = 0;
  for (const hotkeys::HotKey& key : keys) held += Take(key) ? 1 : 0;
  return held;
}

bool X11HotKeys::Take(const hotkeys::HotKey& key) {
  const xcb_keysym_t keysym = KeySymOf(key.virtualKey);
  if (keysym == 0) return false;
  xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection_);
  if (symbols == nullptr) return false;
  xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
  const xcb_keycode_t keycode = codes != nullptr ? codes[0] : XCB_NO_SYMBOL;
  std::free(codes);
  xcb_key_symbols_free(symbols);
  if (keycode == XCB_NO_SYMBOL) return false;

  const Grab grab{key.id, keycode};
  bool held = true;
  for (std::uint16_t lock : kLockVariants) {
    const xcb_void_cookie_t cookie =
        xcb_grab_key_checked(connection_, 1, root_, XCB_MOD_MASK_CONTROL | lock, keycode,
                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
      std::free(error);  // BadAccess: another client holds it
      held = false;
    }
  }
  if (!held) {
    Ungrab(grab);
    xcb_flush(connection_);
    return false;
  }
  grabs_.push_back(grab);
  return true;
}

void X11HotKeys::Unregister(std::uint32_t id) {
  std::erase_if(grabs_, [&](const Grab& grab) {
    if (grab.id != id) return false;
    Ungrab(grab);
    return true;
  });
  xcb_flush(connection_);
}

void X11HotKeys::Ungrab(const Grab& grab) {
  for (std::uint16_t lock : kLockVariants)
    xcb_ungrab_key(connection_, grab.keycode, root_, XCB_MOD_MASK_CONTROL | lock);
}

bool X11HotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t" || message == nullptr) return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  const std::uint8_t type = event->response_type & 0x7F;
  if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return false;
  const auto* key = static_cast<const xcb_key_press_event_t*>(message);
  const std::uint16_t state = key->state & kRelevant;
  for (const Grab& grab : grabs_) {
    if (grab.keycode == key->detail && state == XCB_MOD_MASK_CONTROL) {
      const std::uint32_t id = grab.id;  // the handler may unregister it
      if (type == XCB_KEY_PRESS) onActivated_(id);
      return true;
    }
  }
  return false;
}

}  // namespace platform::qt
