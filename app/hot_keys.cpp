#include "app/hot_keys.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/resources.h"
#include "app/shell_mpris_host.h"
#include "platform/portal/global_shortcuts.h"

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
// Which hot keys hold an X11 grab standing in for a portal shortcut without a key.
bool grabbedForPortal[std::size(kHotKeys)] = {};

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

// "Pause (Ctrl+2) and Stop (Ctrl+3)"
std::string Listed(const std::vector<const HotKey*>& keys) {
  std::string text;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (i > 0) text += i + 1 == keys.size() ? " and " : ", ";
    text += std::string(keys[i]->description) + " (Ctrl+" + static_cast<char>(keys[i]->virtualKey) +
            ")";
  }
  return text;
}

// The portal's shortcuts that have no key go through X11 grabs where an X server
// answers, and those that got one let go of theirs (the desktop's key fires then).
// The keys still without either, for the one line that says so.
std::vector<const HotKey*> FollowAssignment(qt::QtWindow& window) {
  const std::vector<QString> unassigned = portalKeys->Unassigned();
  std::vector<const HotKey*> missing;
  for (std::size_t i = 0; i < std::size(kHotKeys); ++i) {
    const HotKey& key = kHotKeys[i];
    const bool hasKey = std::find(unassigned.begin(), unassigned.end(), QLatin1String(key.name)) ==
                        unassigned.end();
    if (hasKey && grabbedForPortal[i]) {
      window.UnregisterHotKey(static_cast<int>(key.id));
      grabbedForPortal[i] = false;
    } else if (!hasKey && !grabbedForPortal[i]) {
      grabbedForPortal[i] =
          window.RegisterHotKey(static_cast<int>(key.id), qt::MOD_CONTROL, key.virtualKey);
    }
    if (!hasKey) missing.push_back(&key);
  }
  return missing;
}

void SayUnassigned(const std::vector<const HotKey*>& missing) {
  const bool grabbed = std::any_of(std::begin(grabbedForPortal), std::end(grabbedForPortal),
                                   [](bool held) { return held; });
  std::fprintf(stderr,
               "tonaria: the desktop has not given keys to %s; assign them to Tonaria in the "
               "desktop's shortcut settings (until then %s)\n",
               Listed(missing).c_str(),
               grabbed ? "they go through X11 key grabs, which work only while an X11 window "
                         "has focus"
                       : "they are off; the window keys still work");
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
    // On X11 a grab fails when another client holds the combination: most often a
    // Tonaria started before this one.
    if (!GrabX11Keys(window) && platformName == QLatin1String("xcb")) {
      std::fputs(
          "tonaria: another program holds Ctrl+1..4 (a Tonaria started earlier?), so they are "
          "off here; the window keys still work\n",
          stderr);
    }
    return;
  }
  if (MediaControlsTurnedOff()) {
    FallBack(window, "TONARIA_NO_MPRIS=1 keeps the program off D-Bus and the desktop portal");
    return;
  }
  if (!sessionBusAllowed) {
    FallBack(window, "no session bus to reach the desktop's global shortcuts");
    return;
  }
  portalKeys = std::make_unique<portal::GlobalShortcuts>(
      QDBusConnection::sessionBus(), QStringLiteral("org.tonaria.Tonaria"),
      [&window](const QString& name) { OnPortalKey(window, name); },
      [&window](portal::Outcome outcome, const std::string& detail) {
        if (outcome == portal::Outcome::kUnassigned) {
          SayUnassigned(FollowAssignment(window));
        } else if (outcome == portal::Outcome::kDenied) {
          // The user said no: grabbing the keys behind the desktop's back would overrule that.
          SayKeysAreOff(detail);
        } else if (outcome != portal::Outcome::kBound) {
          FallBack(window, detail);
        }
      });
  portalKeys->SetAssignmentHandler([&window] { FollowAssignment(window); });
  std::vector<portal::Shortcut> shortcuts;
  for (const HotKey& key : kHotKeys) {
    shortcuts.push_back(
        {QLatin1String(key.name), QLatin1String(key.description),
         QStringLiteral("CTRL+%1").arg(QChar(static_cast<char16_t>(key.virtualKey)))});
  }
  portalKeys->Bind(std::move(shortcuts));
}

void ReleaseHotKeys() {
  portalKeys.reset();
  std::fill(std::begin(grabbedForPortal), std::end(grabbedForPortal), false);
}

}  // namespace app
