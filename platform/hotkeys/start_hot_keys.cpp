#include "platform/hotkeys/start_hot_keys.h"

#include <QDBusConnection>
#include <utility>

#include "platform/portal/portal_hot_keys.h"
#include "platform/qt/x11_hot_keys.h"

namespace platform::hotkeys {

std::unique_ptr<GlobalHotKeys> StartHotKeys(const HotKeyChoice& choice,
                                            std::span<const HotKey> keys, const Program& program,
                                            ActivatedHandler onActivated, NoticeHandler onNotice) {
  std::unique_ptr<GlobalHotKeys> grabs = qt::X11HotKeys::Connect(onActivated);
  if (choice.way == HotKeyWay::kPortal) {
    auto portal = std::make_unique<portal::PortalHotKeys>(QDBusConnection::sessionBus(), program,
                                                          std::move(grabs), std::move(onActivated),
                                                          std::move(onNotice));
    portal->Register(keys);
    return portal;
  }
  const std::size_t held = grabs ? grabs->Register(keys) : 0;
  if (!choice.whyNotPortal.empty()) {
    onNotice(FallbackNotice(choice.whyNotPortal, held > 0, keys));
  } else if (grabs && held == 0) {
    // On X11 a grab fails when another client holds the combination: most often a
    // copy of this program started before.
    onNotice("another program holds " + KeysText(keys) + " (a " + program.name +
             " started earlier?), so they are off here; the window keys still work");
  }
  return grabs;
}

}  // namespace platform::hotkeys
