// Which way to the hot keys each kind of session gets.
#include "platform/hotkeys/hot_key_choice.h"

#include <gtest/gtest.h>

namespace {

using platform::hotkeys::ChooseHotKeys;
using platform::hotkeys::HotKeyEnvironment;
using platform::hotkeys::HotKeyWay;

TEST(HotKeyChoice, ThePortalOnlyInAWaylandSessionWithAWindowAndABus) {
  struct Row {
    HotKeyEnvironment environment;
    HotKeyWay way;
    const char* whyNotPortal;
  };
  // clang-format off
  const Row rows[] = {
      {.environment = {.windowSystem = "xcb", .sessionType = "x11"}, .way = HotKeyWay::kX11Grabs,
       .whyNotPortal = ""},
      {.environment = {.windowSystem = "xcb", .sessionType = "x11", .offBus = "off"},
       .way = HotKeyWay::kX11Grabs, .whyNotPortal = ""},
      {.environment = {.windowSystem = "xcb", .waylandDisplay = "wayland-0"},
       .way = HotKeyWay::kPortal, .whyNotPortal = ""},
      {.environment = {.windowSystem = "wayland-egl", .sessionType = "wayland"},
       .way = HotKeyWay::kPortal, .whyNotPortal = ""},
      {.environment = {.windowSystem = "wayland", .waylandDisplay = "w", .offBus = "no bus"},
       .way = HotKeyWay::kX11Grabs, .whyNotPortal = "no bus"},
      {.environment = {.windowSystem = "offscreen", .waylandDisplay = "w", .sessionType = "wayland"},
       .way = HotKeyWay::kX11Grabs, .whyNotPortal = ""},
  };
  // clang-format on
  for (const Row& row : rows) {
    const auto& [windowSystem, display, session, offBus] = row.environment;
    SCOPED_TRACE(std::string(windowSystem) + " display '" + std::string(display) + "' session '" +
                 std::string(session) + "' off bus '" + std::string(offBus) + "'");
    const auto choice = ChooseHotKeys(row.environment);
    EXPECT_EQ(choice.way, row.way);
    EXPECT_EQ(choice.whyNotPortal, row.whyNotPortal);
  }
}

}  // namespace
