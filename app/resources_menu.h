// Menu 109 as one table: every item's identifier and text, and how the File
// menu's items look in each playback state. The shell, the engine's tear-down and
// the tests all take the menu from here.
#pragma once

#include <cstdint>
#include <memory>

#include "app/shell_state.h"
#include "platform/ui/menu.h"

namespace app {

inline constexpr std::uint32_t IDM_EXIT = 105;
inline constexpr std::uint32_t IDM_PLAY = 32772;
inline constexpr std::uint32_t IDM_SHOW_PEAKS = 32773;
inline constexpr std::uint32_t IDM_SHOW_GRIDS = 32774;
inline constexpr std::uint32_t IDM_SHOW_GRADIENT = 32777;
inline constexpr std::uint32_t IDM_ABOUT = 32778;
inline constexpr std::uint32_t IDM_PAUSE = 32781;
inline constexpr std::uint32_t IDM_STOP = 32783;

// An item's look: enabled, grayed and disabled (3), or carrying a check mark.
inline constexpr std::uint32_t kItemEnabled = platform::ui::MF_ENABLED;
inline constexpr std::uint32_t kItemGrayed = platform::ui::MF_GRAYED | platform::ui::MF_DISABLED;
inline constexpr std::uint32_t kItemChecked = platform::ui::MF_CHECKED;

// A File-menu item and its flags in each playback state (idle is the menu as loaded).
struct FileMenuItem {
  std::uint32_t id;
  const char16_t* text;
  std::uint32_t idle, playing, paused, stopped;

  constexpr std::uint32_t FlagsIn(shell::PlaybackState state) const {
    switch (state) {
      case shell::PlaybackState::kPlaying:
        return playing;
      case shell::PlaybackState::kPaused:
        return paused;
      case shell::PlaybackState::kStopped:
        return stopped;
      case shell::PlaybackState::kIdle:
        break;
    }
    return idle;
  }
};

inline constexpr FileMenuItem kFileMenu[] = {
    {.id = IDM_PLAY,
     .text = u"&Play\tCtrl+1,A",
     .idle = kItemEnabled,
     .playing = kItemGrayed,
     .paused = kItemEnabled,
     .stopped = kItemEnabled},
    {.id = IDM_PAUSE,
     .text = u"P&ause\tCtrl+2,D",
     .idle = kItemGrayed,
     .playing = kItemEnabled,
     .paused = kItemGrayed,
     .stopped = kItemGrayed},
    {.id = IDM_STOP,
     .text = u"&Stop\tCtrl+3,S",
     .idle = kItemGrayed,
     .playing = kItemEnabled,
     .paused = kItemEnabled,
     .stopped = kItemGrayed},
    {.id = IDM_EXIT,
     .text = u"E&xit\tCtrl+4,X",
     .idle = kItemEnabled,
     .playing = kItemEnabled,
     .paused = kItemEnabled,
     .stopped = kItemEnabled},
};

// The Options and Help items; the Options start checked.
struct MenuText {
  std::uint32_t id;
  const char16_t* text;
};
inline constexpr MenuText kOptionsMenu[] = {
    {.id = IDM_SHOW_PEAKS, .text = u"Show &Peaks"},
    {.id = IDM_SHOW_GRIDS, .text = u"Show &Grids"},
    {.id = IDM_SHOW_GRADIENT, .text = u"Show G&radient"},
};
inline constexpr MenuText kHelpMenu[] = {{.id = IDM_ABOUT, .text = u"About"}};
inline constexpr const char16_t* kMenuTitles[] = {u"&File", u"&Options", u"Help"};

// The text of the item with this identifier; null for none.
const char16_t* MenuItemText(std::uint32_t id);
// The File-menu item with this identifier; null for none.
const FileMenuItem* FindFileMenuItem(std::uint32_t id);
// Menu 109 as loaded: the File menu idle, the Options checked.
std::unique_ptr<platform::ui::Menu> LoadMenu109();

}  // namespace app
