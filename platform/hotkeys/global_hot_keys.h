// System-wide hot keys: Ctrl and a key, heard whatever window has focus. There are
// two ways to them, X11 key grabs and the desktop portal's global shortcuts (the
// one way in a Wayland session); ChooseHotKeys picks one. Made, used and destroyed
// on the window's thread; activations and notices come on that thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace platform::hotkeys {

struct HotKey {
  std::uint32_t id;          // what an activation delivers
  std::uint32_t virtualKey;  // with Ctrl: a digit's or capital letter's code, e.g. '1' (0x31)
  const char* name;          // static text; the desktop keeps the user's choice under it
  const char* description;   // static text; what the user is shown, e.g. "Play"
};

// Who asks, as the desktop knows it: its desktop entry's name, and the name users see.
struct Program {
  const char* id;
  const char* name;
};

using ActivatedHandler = std::function<void(std::uint32_t id)>;
// Why some or all keys are off, or work only in part: one line, without a prefix.
using NoticeHandler = std::function<void(const std::string& line)>;

class GlobalHotKeys {
 public:
  virtual ~GlobalHotKeys() = default;  // lets go of every key

  // Asks for the keys; how many it holds at once. One that asks the desktop holds
  // none yet and says through its notices what came of it.
  virtual std::size_t Register(std::span<const HotKey> keys) = 0;
  // Lets go of one key: its activations stop.
  virtual void Unregister(std::uint32_t id) = 0;
};

// The keys as the user types them: "Ctrl+1" for one, "Ctrl+1..4" for a run.
std::string KeysText(std::span<const HotKey> keys);
// X11 grabs stand in where the portal cannot serve: why, and what the grabs came to.
std::string FallbackNotice(std::string_view why, bool grabbed, std::span<const HotKey> keys);

}  // namespace platform::hotkeys
