#include "platform/ui/menu.h"

#include <utility>

namespace platform::ui {

Menu::Menu(std::vector<MenuColumn> columns) : columns_(std::move(columns)) {}

bool Menu::ModifyMenu(std::uint32_t id, std::uint32_t flags, std::u16string_view text) {
  std::function<void()> listener;
  {
    std::scoped_lock hold(mutex_);
    MenuItem* found = nullptr;
    for (auto& column : columns_) {
      for (auto& item : column.items) {
        if (item.id == id && (item.flags & MF_SEPARATOR) == 0) found = &item;
      }
    }
    if (found == nullptr) return false;
    found->flags = flags;
    found->text = text;
    listener = changeListener_;
  }
  if (listener) listener();
  return true;
}

std::uint32_t Menu::GetMenuState(std::uint32_t id) const {
  std::scoped_lock hold(mutex_);
  for (const auto& column : columns_) {
    for (const auto& item : column.items) {
      if (item.id == id && (item.flags & MF_SEPARATOR) == 0) return item.flags;
    }
  }
  return kMenuItemNotFound;
}

std::u16string Menu::GetMenuText(std::uint32_t id) const {
  std::scoped_lock hold(mutex_);
  for (const auto& column : columns_) {
    for (const auto& item : column.items) {
      if (item.id == id) return item.text;
    }
  }
  return {};
}

std::vector<MenuColumn> Menu::Snapshot() const {
  std::scoped_lock hold(mutex_);
  return columns_;
}

void Menu::SetChangeListener(std::function<void()> listener) {
  std::scoped_lock hold(mutex_);
  changeListener_ = std::move(listener);
}

}  // namespace platform::ui
