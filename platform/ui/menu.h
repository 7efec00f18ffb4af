// A window menu as data: items with command identifiers, texts, enable state and
// check marks. Any thread may read or rewrite it; nobody waits for the window
// thread. The window that shows it is told of changes through the listener.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace platform::ui {

inline constexpr std::uint32_t MF_ENABLED = 0x0;
inline constexpr std::uint32_t MF_GRAYED = 0x1;
inline constexpr std::uint32_t MF_DISABLED = 0x2;
inline constexpr std::uint32_t MF_CHECKED = 0x8;
inline constexpr std::uint32_t MF_SEPARATOR = 0x800;
inline constexpr std::uint32_t kMenuItemNotFound = 0xFFFFFFFF;

struct MenuItem {
  std::uint32_t id = 0;  // 0 for a separator
  std::u16string text;   // '&' marks the mnemonic, a tab starts the shortcut hint
  std::uint32_t flags = MF_ENABLED;
};

struct MenuColumn {
  std::u16string title;  // "&File"
  std::vector<MenuItem> items;
};

class Menu {
 public:
  explicit Menu(std::vector<MenuColumn> columns);

  // Rewrites the item with this command identifier; false when there is none.
  bool ModifyMenu(std::uint32_t id, std::uint32_t flags, std::u16string_view text);
  // The item's flags (grayed, disabled, checked), or kMenuItemNotFound.
  std::uint32_t GetMenuState(std::uint32_t id) const;
  std::u16string GetMenuText(std::uint32_t id) const;

  std::vector<MenuColumn> Snapshot() const;

  // Called after every change, on the changing thread; it must not block.
  void SetChangeListener(std::function<void()> listener);

 private:
  mutable std::mutex mutex_;
  std::vector<MenuColumn> columns_;       // guarded by mutex_
  std::function<void()> changeListener_;  // guarded by mutex_
};

}  // namespace platform::ui
