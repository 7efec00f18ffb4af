#include "app/hot_keys.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/resources.h"
#include "app/shell_mpris_host.h"
#include "platform/portal/global_shortcuts.h"
#include "platform/portal/session_bus.h"

namespace app {
namespace {

namespace qt = platform::qt;
namespace portal = platform::portal;

struct HotKey {
  std::uint32_t id;
  std::uint32_t virtualKey;  // Ctrl and this digit
  const char* name;          // the portal's id for it
  const char* description;
};

constexpr HotKey kHotKeys[] = {
    {IDM_PLAY, 0x31, "play", "Play"},
    {IDM_PAUSE, 0x32, "pause", "Pause"},
    {IDM_STOP, 0x33, "stop", "Stop"},
    {IDM_EXIT, 0x34, "exit", "Exit"},
};

std::unique_ptr<portal::GlobalShortcuts> portalKeys;

bool InWaylandSession() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  const char* session = std::getenv("XDG_SESSION_TYPE");
  return (display != nullptr && display[0] != '\0') ||
         (session != nullptr && std::string_view(session) == "wayland");
}

// Failures are ignored: another program may hold a combination, and the window
// keys and the menu still work. True when any key was grabbed.
bool GrabX11Keys(qt::QtWindow& window) {
  bool any = false;
  for (const HotKey& key : kHotKeys) {
    any = window.RegisterHotKey(static_cast<int>(key.id), qt::MOD_CONTROL, key.virtualKey) || any;
  }
  return any;
}

void SayKeysAreOff(const std::string& why) {
  std::fprintf(stderr, "tonaria: %s; Ctrl+1..4 are off (the window keys still work)\n",
               why.c_str());
}

void FallBack(qt::QtWindow& window, const std::string& why) {
  if (GrabX11Keys(window)) {
    std::fprintf(stderr,
                 "tonaria: %s; Ctrl+1..4 go through X11 key grabs, which work only while an X11 "
                 "window has focus\n",
                 why.c_str());
  } else {
    SayKeysAreOff(why);
  }
}

void OnPortalKey(qt::QtWindow& window, const QString& name) {
  for (const HotKey& key : kHotKeys) {
    if (name == QLatin1String(key.name)) {
      window.SendMessage(qt::WM_HOTKEY, key.id,
                         static_cast<std::intptr_t>((key.virtualKey << 16) | qt::MOD_CONTROL));
    }
  }
}

}  // namespace

void RegisterHotKeys(qt::QtWindow& window) {
  const QString platformName = QGuiApplication::platformName();
  const bool onScreen =
      platformName == QLatin1String("xcb") || platformName.startsWith(QLatin1String("wayland"));
  if (!onScreen || !InWaylandSession()) {
    GrabX11Keys(window);
    return;
  }
  if (MediaControlsTurnedOff()) {
    FallBack(window, "TONARIA_NO_MPRIS=1 keeps the program off D-Bus and the desktop portal");
    return;
  }
  if (!portal::SessionBusConfigured()) {
    FallBack(window, "no session bus to reach the desktop's global shortcuts");
    return;
  }
  portalKeys = std::make_unique<portal::GlobalShortcuts>(
      QDBusConnection::sessionBus(), QStringLiteral("org.tonaria.Tonaria"),
      [&window](const QString& name) { OnPortalKey(window, name); },
      [&window](portal::Outcome outcome, const std::string& detail) {
        if (outcome == portal::Outcome::kDenied) {
          // The user said no: grabbing the keys behind the desktop's back would overrule that.
          SayKeysAreOff(detail);
        } else if (outcome != portal::Outcome::kBound) {
          FallBack(window, detail);
        }
      });
  std::vector<portal::Shortcut> shortcuts;
  for (const HotKey& key : kHotKeys) {
    shortcuts.push_back(
        {QLatin1String(key.name), QLatin1String(key.description),
         QStringLiteral("CTRL+%1").arg(QChar(static_cast<char16_t>(key.virtualKey)))});
  }
  portalKeys->Bind(std::move(shortcuts));
}

void ReleaseHotKeys() { portalKeys.reset(); }

}  // namespace app
