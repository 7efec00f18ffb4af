#include "platform/hotkeys/global_hot_keys.h"

namespace platform::hotkeys {

std::string KeysText(std::span<const HotKey> keys) {
  if (keys.empty()) return {};
  std::string text = "Ctrl+" + std::string(1, static_cast<char>(keys.front().virtualKey));
  if (keys.size() > 1) text += ".." + std::string(1, static_cast<char>(keys.back().virtualKey));
  return text;
}

std::string FallbackNotice(std::string_view why, bool grabbed, std::span<const HotKey> keys) {
  std::string line = std::string(why) + "; " + KeysText(keys);
  return line + (grabbed
                     ? " go through X11 key grabs, which work only while an X11 window has focus"
                     : " are off (the window keys still work)");
}

}  // namespace platform::hotkeys
