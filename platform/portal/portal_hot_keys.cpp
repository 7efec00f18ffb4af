#include "platform/portal/portal_hot_keys.h"

#include <algorithm>
#include <utility>

namespace platform::portal {

PortalHotKeys::PortalHotKeys(QDBusConnection bus, const hotkeys::Program& program,
                             std::unique_ptr<hotkeys::GlobalHotKeys> grabs,
                             hotkeys::ActivatedHandler onActivated, hotkeys::NoticeHandler onNotice)
    : programName_(program.name),
      grabs_(std::move(grabs)),
      onActivated_(std::move(onActivated)),
      onNotice_(std::move(onNotice)),
      shortcuts_(
          std::move(bus), QString::fromUtf8(program.id),
          [this](const QString& name) { OnActivated(name); },
          [this](Outcome outcome, const std::string& detail) { OnFinished(outcome, detail); }) {
  shortcuts_.SetAssignmentHandler([this] { FollowAssignment(); });
}

PortalHotKeys::~PortalHotKeys() = default;

std::size_t PortalHotKeys::Register(std::span<const hotkeys::HotKey> keys) {
  if (!keys_.empty()) return 0;
  allKeys_.assign(keys.begin(), keys.end());
  std::vector<Shortcut> shortcuts;
  for (const hotkeys::HotKey& key : keys) {
    keys_.push_back({key});
    shortcuts.push_back(
        {QString::fromUtf8(key.name), QString::fromUtf8(key.description),
         QStringLiteral("CTRL+%1").arg(QChar(static_cast<char16_t>(key.virtualKey)))});
  }
  shortcuts_.Bind(std::move(shortcuts));
  return 0;
}

void PortalHotKeys::Unregister(std::uint32_t id) {
  for (Key& key : keys_) {
    if (key.key.id != id) continue;
    key.released = true;
    if (key.grabbed && grabs_) grabs_->Unregister(id);
    key.grabbed = false;
  }
}

void PortalHotKeys::OnActivated(const QString& name) {
  for (const Key& key : keys_) {
    if (!key.released && name == QLatin1String(key.key.name)) onActivated_(key.key.id);
  }
}

void PortalHotKeys::OnFinished(Outcome outcome, const std::string& detail) {
  if (outcome == Outcome::kBound) return;
  if (outcome == Outcome::kUnassigned) {
    SayUnassigned(FollowAssignment());
  } else if (outcome == Outcome::kDenied) {
    // The user said no: grabbing the keys behind the desktop's back would overrule that.
    onNotice_(hotkeys::FallbackNotice(detail, false, allKeys_));
  } else {
    bool grabbed = false;
    for (Key& key : keys_) {
      key.grabbed = !key.released && grabs_ && grabs_->Register({&key.key, 1}) == 1;
      grabbed = grabbed || key.grabbed;
    }
    onNotice_(hotkeys::FallbackNotice(detail, grabbed, allKeys_));
  }
}

std::vector<const PortalHotKeys::Key*> PortalHotKeys::FollowAssignment() {
  const std::vector<QString> unassigned = shortcuts_.Unassigned();
  std::vector<const Key*> missing;
  for (Key& key : keys_) {
    const bool hasKey = std::find(unassigned.begin(), unassigned.end(),
                                  QLatin1String(key.key.name)) == unassigned.end();
    if (hasKey && key.grabbed) {
      grabs_->Unregister(key.key.id);
      key.grabbed = false;
    } else if (!hasKey && !key.grabbed && !key.released && grabs_) {
      key.grabbed = grabs_->Register({&key.key, 1}) == 1;
    }
    if (!hasKey) missing.push_back(&key);
  }
  return missing;
}

void PortalHotKeys::SayUnassigned(const std::vector<const Key*>& missing) {
  const bool grabbed =
      std::any_of(keys_.begin(), keys_.end(), [](const Key& key) { return key.grabbed; });
  // "Pause (Ctrl+2) and Stop (Ctrl+3)"
  std::string listed;
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i > 0) listed += i + 1 == missing.size() ? " and " : ", ";
    listed += std::string(missing[i]->key.description) + " (" +
              hotkeys::KeysText({&missing[i]->key, 1}) + ")";
  }
  onNotice_("the desktop has not given keys to " + listed + "; assign them to " + programName_ +
            " in the desktop's shortcut settings (until then " +
            (grabbed ? "they go through X11 key grabs, which work only while an X11 window "
                       "has focus"
                     : "they are off; the window keys still work") +
            ")");
}

}  // namespace platform::portal
