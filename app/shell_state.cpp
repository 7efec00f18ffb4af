#include "app/shell_state.h"

#include <mutex>

#include "app/resources_menu.h"
#include "app/shell_globals.h"

namespace shell {
namespace {

std::mutex shownLock;  // keeps playbackState and the File menu in step
std::atomic<WindowShows> windowShows{nullptr};

}  // namespace

std::atomic<PlaybackState> playbackState{PlaybackState::kIdle};

void SetWindowShows(WindowShows shows) { windowShows = shows; }

void ShowPlaybackState(PlaybackState state, ShownBy by) {
  {
    std::scoped_lock hold(shownLock);
    playbackState = state;
    platform::ui::HWND window = mainWindow.load();
    if (platform::ui::Menu* menu = window != nullptr ? window->GetMenu() : nullptr) {
      for (const app::FileMenuItem& item : app::kFileMenu) {
        menu->ModifyMenu(item.id, item.FlagsIn(state), item.text);
      }
    }
  }
  const WindowShows shows = windowShows.load();
  if (by == ShownBy::kWindowThread && shows != nullptr) shows(state);
}

bool CommandEnabled(std::uint32_t id) {
  const app::FileMenuItem* item = app::FindFileMenuItem(id);
  return item == nullptr || item->FlagsIn(playbackState.load()) == app::kItemEnabled;
}

}  // namespace shell
