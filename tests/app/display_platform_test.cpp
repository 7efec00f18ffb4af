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

// Where no window can be had, the reason the one stderr line gives.
struct Row {
  const char* what;
  DisplayEnvironment environment;
  const char* qtPlatform;
  const char* noWindowBecause = nullptr;  // null: a window
};

DisplayEnvironment Env(const char* display, bool x11, const char* wayland, bool compositor,
                       const char* qtPlatform = "", bool xcbPlugin = true,
                       bool waylandPlugin = true) {
  return {display, wayland, qtPlatform, x11, compositor, xcbPlugin, waylandPlugin};
}

TEST(DisplayPlatform, ChoosesX11WhereItAnswersElseWaylandElseNoWindow) {
  const Row rows[] = {
      {"X11 session", Env(":0", true, "", false), "xcb;offscreen"},
      {"XWayland: X11, so the window can be kept above", Env(":0", true, "wayland-0", true),
       "xcb;offscreen"},
      {"Wayland alone", Env("", false, "wayland-0", true), "wayland;offscreen"},
      {"a dead X display in a Wayland session", Env(":9", false, "wayland-0", true),
       "wayland;offscreen"},
      {"nothing named", Env("", false, "", false), "offscreen", "no display found"},
      {"a dead X display", Env(":9", false, "", false), "offscreen", "cannot open display ':9'"},
      {"a dead compositor", Env("", false, "w-1", false), "offscreen",
       "cannot connect to Wayland display 'w-1'"},
      {"a dead X display and compositor", Env(":9", false, "w-1", false), "offscreen",
       "cannot open display ':9', cannot connect to Wayland display 'w-1'"},
      {"Wayland without Qt's plugin", Env("", false, "wayland-0", true, "", true, false),
       "offscreen", "Qt's Wayland platform plugin is not installed (qt6-wayland)"},
      {"X11 without Qt's plugin falls to Wayland",
       Env(":0", true, "wayland-0", true, "", false, true), "wayland;offscreen"},
      {"the user's offscreen keeps a window", Env(":0", false, "", false, "offscreen"),
       "offscreen"},
      {"the user's Wayland over XWayland", Env(":0", true, "wayland-0", true, "wayland"),
       "wayland;offscreen"},
      {"the user's list loses what cannot start",
       Env(":9", false, "wayland-0", true, "xcb;wayland"), "wayland;offscreen"},
      {"the user's list naming offscreen too", Env(":9", false, "", false, "xcb;offscreen"),
       "offscreen", "no platform of QT_QPA_PLATFORM 'xcb;offscreen' can start here"},
      {"the user's wayland-egl without its compositor",
       Env(":0", true, "wayland-0", false, "wayland-egl;xcb"), "xcb;offscreen"},
      {"the user's platform we cannot check", Env(":0", false, "", false, "vnc"), "vnc;offscreen"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const app::PlatformChoice choice = ChoosePlatform(row.environment);
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
