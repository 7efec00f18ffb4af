#include "app/shell_mpris_host.h"

#include <cstdlib>
#include <string_view>

#include "app/resources.h"
#include "app/shell.h"
#include "app/win_main.h"
#include "app/window_proc.h"
#include "platform/qt/qt_window.h"

namespace app {

ShellMprisHost mprisHost;
bool sessionBusAllowed = true;
std::unique_ptr<mpris::MprisService> mprisService;

bool MediaControlsTurnedOff() {
  const char* value = std::getenv("TONARIA_NO_MPRIS");
  return value != nullptr && std::string_view(value) == "1";
}

bool ShellMprisHost::SendCommand(std::uint32_t commandId) { return RemoteCommand(commandId); }

void ShellMprisHost::OpenFile(const std::u16string& path) { RemoteOpenFile(path); }

void ShellMprisHost::Quit() {
  if (platform::qt::QtWindow* window = MainWindow()) {
    window->SendMessage(platform::qt::WM_COMMAND, IDM_EXIT, 0);
  }
}

mpris::PlaybackState ShellMprisHost::GetPlaybackState() const {
  switch (shell::playbackState.load()) {
    case shell::PlaybackState::kPlaying:
      return mpris::PlaybackState::kPlaying;
    case shell::PlaybackState::kPaused:
      return mpris::PlaybackState::kPaused;
    default:
      return mpris::PlaybackState::kStopped;
  }
}

void ShellMprisHost::StateShown() {
  if (shell::playbackState.load() == shell::PlaybackState::kPlaying) {
    path_ = shell::currentPath;
    name_ = shell::currentFileName;
  }
  if (mprisService) mprisService->NotifyStateChanged();
}

}  // namespace app
