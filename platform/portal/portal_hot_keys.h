// The hot keys through the desktop portal's global shortcuts. Where the portal
// cannot serve, and for each shortcut the desktop has given no key yet, X11 grabs
// (where an X server answers) stand in until it has one. Window's thread only.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "platform/hotkeys/global_hot_keys.h"
#include "platform/portal/global_shortcuts.h"

namespace platform::portal {

class PortalHotKeys final : public hotkeys::GlobalHotKeys {
 public:
  // grabs: X11 key grabs to stand in; null where there is no X server.
  PortalHotKeys(QDBusConnection bus, const hotkeys::Program& program,
                std::unique_ptr<hotkeys::GlobalHotKeys> grabs,
                hotkeys::ActivatedHandler onActivated, hotkeys::NoticeHandler onNotice);
  ~PortalHotKeys() override;  // ends the portal session

  // Binds the keys as shortcuts; none is held before the desktop answers. Once only.
  std::size_t Register(std::span<const hotkeys::HotKey> keys) override;
  void Unregister(std::uint32_t id) override;

 private:
  struct Key {
    hotkeys::HotKey key;
    bool grabbed = false;   // an X11 grab stands in for its shortcut
    bool released = false;  // let go of: its activations stop
  };

  void OnFinished(Outcome outcome, const std::string& detail);
  void OnActivated(const QString& name);
  // Grabs the keys whose shortcuts have no key and lets go of the grabs of those
  // that got one (the desktop's key fires then); the keys left without either.
  std::vector<const Key*> FollowAssignment();
  void SayUnassigned(const std::vector<const Key*>& missing);

  std::string programName_;
  std::unique_ptr<hotkeys::GlobalHotKeys> grabs_;
  hotkeys::ActivatedHandler onActivated_;
  hotkeys::NoticeHandler onNotice_;
  std::vector<Key> keys_;
  std::vector<hotkeys::HotKey> allKeys_;  // as registered, for the notices
  GlobalShortcuts shortcuts_;             // last: its handlers use the fields above
};

}  // namespace platform::portal
