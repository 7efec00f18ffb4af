#include "app/display_platform.h"

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/qt/display_probe.h"

namespace app {
namespace {

constexpr char kNoWindow[] = "running without a window until the playback ends";
constexpr char kOffscreen[] = "offscreen";

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(';', start), list.size());
    if (end > start) entries.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return entries;
}

// A platform of the user's list that we can check is kept only when it would start.
bool Usable(const std::string& key, const DisplayEnvironment& environment) {
  if (key == "xcb") return environment.x11Answers && environment.xcbPlugin;
  if (key.starts_with("wayland")) return environment.waylandAnswers && environment.waylandPlugin;
  return true;
}

PlatformChoice NoWindow(std::string reason) {
  return {kOffscreen, false, "tonaria: " + reason + "; " + kNoWindow};
}

}  // namespace

PlatformChoice ChoosePlatform(const DisplayEnvironment& environment) {
  const DisplayEnvironment& e = environment;
  if (e.display.empty() && e.waylandDisplay.empty()) return NoWindow("no display found");

  if (!e.qtPlatform.empty()) {
    // The user's word wins (offscreen alone keeps a window that nobody sees).
    if (e.qtPlatform == kOffscreen) return {kOffscreen, true, {}};
    std::string kept;
    for (const std::string& key : SplitList(e.qtPlatform)) {
      if (key == kOffscreen || !Usable(key, e)) continue;
      kept += key + ";";
    }
    if (kept.empty())
      return NoWindow("no platform of QT_QPA_PLATFORM '" + e.qtPlatform + "' can start here");
    return {kept + kOffscreen, true, {}};
  }

  if (e.x11Answers && e.xcbPlugin) return {std::string("xcb;") + kOffscreen, true, {}};
  if (e.waylandAnswers && e.waylandPlugin) return {std::string("wayland;") + kOffscreen, true, {}};
  std::string reasons;
  const auto add = [&reasons](const std::string& reason) {
    reasons += (reasons.empty() ? "" : ", ") + reason;
  };
  if (!e.display.empty()) {
    add(e.x11Answers ? "Qt's X11 platform plugin is not installed"
                     : "cannot open display '" + e.display + "'");
  }
  if (!e.waylandDisplay.empty()) {
    add(e.waylandAnswers ? "Qt's Wayland platform plugin is not installed (qt6-wayland)"
                         : "cannot connect to Wayland display '" + e.waylandDisplay + "'");
  }
  return NoWindow(reasons);
}

DisplayPlatform::DisplayPlatform() {
  DisplayEnvironment environment;
  environment.display = Environment("DISPLAY");
  environment.waylandDisplay = Environment("WAYLAND_DISPLAY");
  environment.qtPlatform = Environment("QT_QPA_PLATFORM");
  // Offscreen chosen by the user needs no display: none is probed (a remote one may be slow).
  if (environment.qtPlatform != kOffscreen) {
    x11Probe_ = platform::qt::ProbeX11Display(environment.display);
  }
  environment.x11Answers = x11Probe_ != nullptr;
  environment.waylandAnswers =
      platform::qt::ProbeWaylandDisplay(environment.waylandDisplay, Environment("XDG_RUNTIME_DIR"));
  environment.xcbPlugin = platform::qt::HasPlatformPlugin("xcb");
  environment.waylandPlugin = platform::qt::HasPlatformPlugin("wayland");
  choice_ = ChoosePlatform(environment);
  // Held until Qt connects only where Qt will connect.
  if (choice_.qtPlatform.find("xcb") == std::string::npos) x11Probe_.reset();
  setenv("QT_QPA_PLATFORM", choice_.qtPlatform.c_str(), 1);
  if (!choice_.notice.empty()) std::fprintf(stderr, "%s\n", choice_.notice.c_str());
}

DisplayPlatform::~DisplayPlatform() = default;

bool DisplayPlatform::HasWindow() {
  x11Probe_.reset();  // Qt holds its own connection by now
  if (!choice_.window) return false;
  if (choice_.qtPlatform == kOffscreen ||
      QGuiApplication::platformName() != QLatin1String(kOffscreen))
    return true;
  std::fprintf(stderr, "tonaria: the window system did not start; %s\n", kNoWindow);
  choice_.window = false;
  return false;
}

}  // namespace app
