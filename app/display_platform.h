// Which window system the program runs on, chosen on purpose before Qt starts:
// an X server where one answers (only there can the window be kept above), else
// a Wayland compositor, else no window at all. Qt is never left to abort.
#pragma once

#include <memory>
#include <string>

struct xcb_connection_t;

namespace app {

// What the environment names, and what answered there.
struct DisplayEnvironment {
  std::string display;          // DISPLAY
  std::string waylandDisplay;   // WAYLAND_DISPLAY
  std::string qtPlatform;       // QT_QPA_PLATFORM as the user set it; empty: ours to choose
  bool x11Answers = false;      // an X server accepted a connection on DISPLAY
  bool waylandAnswers = false;  // a compositor accepted one on WAYLAND_DISPLAY
  bool xcbPlugin = false;       // Qt's platform plugins are installed
  bool waylandPlugin = false;
};

struct PlatformChoice {
  std::string qtPlatform;  // for QT_QPA_PLATFORM; a list that ends in "offscreen"
  bool window = false;     // false: run as without a display
  std::string notice;      // the one stderr line that says why there is no window
};

PlatformChoice ChoosePlatform(const DisplayEnvironment& environment);

// Reads and probes the environment, sets QT_QPA_PLATFORM and prints the notice.
// Lives until the QApplication exists: it holds the X connection of its probe.
class DisplayPlatform {
 public:
  DisplayPlatform();
  DisplayPlatform(const DisplayPlatform&) = delete;
  DisplayPlatform& operator=(const DisplayPlatform&) = delete;
  ~DisplayPlatform();

  // After the QApplication is made: true when the program has a window. Says
  // once on stderr when Qt had to fall back to no window.
  bool HasWindow();

 private:
  PlatformChoice choice_;
  std::shared_ptr<xcb_connection_t> x11Probe_;
};

}  // namespace app
