#include "platform/ui/menu.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

using namespace platform::ui;

TEST(MenuModel, ItemsAreRewrittenByCommandIdentifierAndTheListenerHearsFromAnyThread) {
  Menu menu({{u"&Things", {{1, u"&One", MF_ENABLED}, {2, u"T&wo", MF_GRAYED}}},
             {u"Opt", {{3, u"X", MF_CHECKED}}}});
  std::atomic<int> heard{0};
  menu.SetChangeListener([&] { ++heard; });
  EXPECT_EQ(menu.GetMenuState(2), MF_GRAYED);
  std::thread other([&] { EXPECT_TRUE(menu.ModifyMenu(2, MF_ENABLED, u"T&wo\tCtrl+2")); });
  other.join();
  EXPECT_EQ(heard.load(), 1);
  EXPECT_EQ(menu.GetMenuState(2), MF_ENABLED);
  EXPECT_EQ(menu.GetMenuText(2), u"T&wo\tCtrl+2");
  EXPECT_EQ(menu.GetMenuState(3), MF_CHECKED);
  EXPECT_FALSE(menu.ModifyMenu(99, 0, u"none"));
  EXPECT_EQ(menu.GetMenuState(99), kMenuItemNotFound);
}
