// Makes the hot keys a choice names and asks for the keys.
#pragma once

#include <memory>
#include <span>

#include "platform/hotkeys/global_hot_keys.h"
#include "platform/hotkeys/hot_key_choice.h"

namespace platform::hotkeys {

// Notices say what could not be had, now or when the desktop answers. Null when
// there is no way to any key (no X server and no portal to ask).
std::unique_ptr<GlobalHotKeys> StartHotKeys(const HotKeyChoice& choice,
                                            std::span<const HotKey> keys, const Program& program,
                                            ActivatedHandler onActivated, NoticeHandler onNotice);

}  // namespace platform::hotkeys
