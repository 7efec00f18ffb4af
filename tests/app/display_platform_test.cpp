// The window system is chosen from what answered, and there is always a way to
// start: every choice ends in Qt's offscreen platform, and no window is said once.
#include "app/display_platform.h"

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "tests/app/shell_fixture.h"

namespace {

using app::ChoosePlatform;
using app::DisplayEnvironment;

// What the environment names and what answered there; Qt's plugins are installed
// unless a row says not.
struct Env {
  const char* display = "";
  const char* wayland = "";
  bool x11 = false;         // an X server answers on display
  bool compositor = false;  // a compositor answers on wayland
  const char* qtPlatform = "";
  bool xcbPlugin = true;
  bool waylandPlugin = true;
};

struct Row {
  const char* what;
  Env env;
  const char* qtPlatform;
  const char* noWindowBecause = nullptr;  // the one stderr line's reason; null: a window
};

TEST(DisplayPlatform, ChoosesX11WhereItAnswersElseWaylandElseNoWindow) {
  const Row rows[] = {
      {.what = "X11 session", .env = {.display = ":0", .x11 = true}, .qtPlatform = "xcb;offscreen"},
      {.what = "XWayland: X11, so the window can be kept above",
       .env = {.display = ":0", .wayland = "wayland-0", .x11 = true, .compositor = true},
       .qtPlatform = "xcb;offscreen"},
      {.what = "Wayland alone",
       .env = {.wayland = "wayland-0", .compositor = true},
       .qtPlatform = "wayland;offscreen"},
      {.what = "a dead X display in a Wayland session",
       .env = {.display = ":9", .wayland = "wayland-0", .compositor = true},
       .qtPlatform = "wayland;offscreen"},
      {.what = "nothing named",
       .env = {},
       .qtPlatform = "offscreen",
       .noWindowBecause = "no display found"},
      {.what = "a dead X display",
       .env = {.display = ":9"},
       .qtPlatform = "offscreen",
       .noWindowBecause = "cannot open display ':9'"},
      {.what = "a dead compositor",
       .env = {.wayland = "w-1"},
       .qtPlatform = "offscreen",
       .noWindowBecause = "cannot connect to Wayland display 'w-1'"},
      {.what = "a dead X display and compositor",
       .env = {.display = ":9", .wayland = "w-1"},
       .qtPlatform = "offscreen",
       .noWindowBecause = "cannot open display ':9', cannot connect to Wayland display 'w-1'"},
      {.what = "Wayland without Qt's plugin",
       .env = {.wayland = "wayland-0", .compositor = true, .waylandPlugin = false},
       .qtPlatform = "offscreen",
       .noWindowBecause = "Qt's Wayland platform plugin is not installed (qt6-wayland)"},
      {.what = "X11 without Qt's plugin falls to Wayland",
       .env = {.display = ":0",
               .wayland = "wayland-0",
               .x11 = true,
               .compositor = true,
               .xcbPlugin = false},
       .qtPlatform = "wayland;offscreen"},
      {.what = "the user's offscreen keeps a window",
       .env = {.display = ":0", .qtPlatform = "offscreen"},
       .qtPlatform = "offscreen"},
      {.what = "the user's Wayland over XWayland",
       .env = {.display = ":0",
               .wayland = "wayland-0",
               .x11 = true,
               .compositor = true,
               .qtPlatform = "wayland"},
       .qtPlatform = "wayland;offscreen"},
      {.what = "the user's list loses what cannot start",
       .env = {.display = ":9",
               .wayland = "wayland-0",
               .compositor = true,
               .qtPlatform = "xcb;wayland"},
       .qtPlatform = "wayland;offscreen"},
      {.what = "the user's list naming offscreen too",
       .env = {.display = ":9", .qtPlatform = "xcb;offscreen"},
       .qtPlatform = "offscreen",
       .noWindowBecause = "no platform of QT_QPA_PLATFORM 'xcb;offscreen' can start here"},
      {.what = "the user's wayland-egl without its compositor",
       .env =
           {.display = ":0", .wayland = "wayland-0", .x11 = true, .qtPlatform = "wayland-egl;xcb"},
       .qtPlatform = "xcb;offscreen"},
      {.what = "the user's platform we cannot check",
       .env = {.display = ":0", .qtPlatform = "vnc"},
       .qtPlatform = "vnc;offscreen"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const Env& e = row.env;
    const app::PlatformChoice choice = ChoosePlatform(DisplayEnvironment{
        e.display, e.wayland, e.qtPlatform, e.x11, e.compositor, e.xcbPlugin, e.waylandPlugin});
    EXPECT_EQ(choice.qtPlatform, row.qtPlatform);
    EXPECT_EQ(choice.window, row.noWindowBecause == nullptr);
    EXPECT_EQ(choice.notice, row.noWindowBecause == nullptr
                                 ? ""
                                 : std::string("tonaria: ") + row.noWindowBecause +
                                       "; running without a window until the playback ends");
  }
}

// The user's own offscreen is a window that nobody sees, not a window system that
// failed to start.
TEST(DisplayPlatform, TheUsersOffscreenIsAWindow) {
  app_testing::EnsureApplication();
  const char* display = std::getenv("DISPLAY");
  const std::string saved = display != nullptr ? display : "";
  setenv("DISPLAY", ":9", 1);  // a display named, but never probed
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  app::DisplayPlatform platform;
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(platform.HasWindow());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  display != nullptr ? setenv("DISPLAY", saved.c_str(), 1) : unsetenv("DISPLAY");
}

}  // namespace
