#include "app/resources_menu.h"

#include <vector>

namespace app {

namespace ui = platform::ui;

const FileMenuItem* FindFileMenuItem(std::uint32_t id) {
  for (const FileMenuItem& item : kFileMenu) {
    if (item.id == id) return &item;
  }
  return nullptr;
}

const char16_t* MenuItemText(std::uint32_t id) {
  if (const FileMenuItem* item = FindFileMenuItem(id)) return item->text;
  for (const MenuText& item : kOptionsMenu) {
    if (item.id == id) return item.text;
  }
  for (const MenuText& item : kHelpMenu) {
    if (item.id == id) return item.text;
  }
  return nullptr;
}

std::unique_ptr<ui::Menu> LoadMenu109() {
  std::vector<ui::MenuColumn> columns{
      {kMenuTitles[0], {}}, {kMenuTitles[1], {}}, {kMenuTitles[2], {}}};
  for (const FileMenuItem& item : kFileMenu) {
    columns[0].items.push_back({item.id, item.text, item.FlagsIn(shell::PlaybackState::kIdle)});
  }
  for (const MenuText& item : kOptionsMenu) {
    columns[1].items.push_back({item.id, item.text, kItemChecked});
  }
  for (const MenuText& item : kHelpMenu) {
    columns[2].items.push_back({item.id, item.text, kItemEnabled});
  }
  return std::make_unique<ui::Menu>(std::move(columns));
}

}  // namespace app
