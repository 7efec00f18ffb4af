#include "tests/app/mpris/fake_host.h"

#include "platform/kernel/text.h"
#include "player/player.h"
#include "tests/support/fake_window.h"

namespace mpris_testing {

using mpris::PlaybackState;
using platform::ui::MF_DISABLED;
using platform::ui::MF_ENABLED;
using platform::ui::MF_GRAYED;

FakeHost::FakeHost(std::function<void(const std::string&)> log, std::function<void()> quit)
    : log_(std::move(log)), quit_(std::move(quit)), menu_(testing_support::MakeProgramMenu()) {}

bool FakeHost::SendCommand(std::uint32_t commandId) {
  const std::uint32_t menuState = menu_->GetMenuState(commandId);
  if (menuState == platform::ui::kMenuItemNotFound || (menuState & (MF_GRAYED | MF_DISABLED))) {
    log_("command " + std::to_string(commandId) + " refused");
    return false;
  }
  log_("command " + std::to_string(commandId) + " accepted");
  switch (commandId) {
    case IDM_PLAY:
      if (!fileReady_) {
        log_("dialog cancelled");  // the open dialog, which nobody answers here
        return true;
      }
      PlayCurrentFile();
      break;
    case IDM_PAUSE:
      fileReady_ = true;
      Changed(PlaybackState::kPaused);
      break;
    case IDM_STOP:
      fileReady_ = false;
      Changed(PlaybackState::kStopped);
      break;
    default:
      break;
  }
  return true;
}

void FakeHost::OpenFile(const std::u16string& path) {
  log_("open " + platform::ToUtf8(path));
  path_ = path;
  const std::size_t slash = path.find_last_of(u'/');
  name_ = slash == std::u16string::npos ? path : path.substr(slash + 1);
  fileReady_ = true;
  PlayCurrentFile();
}

void FakeHost::Quit() {
  log_("quit");
  quit_();
}

std::int64_t FakeHost::TrackLengthUs() const {
  const bool wav = path_.size() > 4 && path_.ends_with(u".wav");
  return wav ? 2'500'000 : 0;
}

void FakeHost::EndOfFile() {
  if (state_ != PlaybackState::kPlaying) return;
  log_("ended");
  fileReady_ = false;
  Changed(PlaybackState::kStopped);
}

// Resumes a paused playback, or starts the current file afresh.
void FakeHost::PlayCurrentFile() { Changed(PlaybackState::kPlaying); }

void FakeHost::SetFileMenu(PlaybackState state) {
  constexpr std::uint32_t kOff = MF_GRAYED | MF_DISABLED;
  const bool playing = state == PlaybackState::kPlaying;
  menu_->ModifyMenu(IDM_PLAY, playing ? kOff : MF_ENABLED, u"&Play\tCtrl+1,A");
  menu_->ModifyMenu(IDM_PAUSE, playing ? MF_ENABLED : kOff, u"P&ause\tCtrl+2,D");
  menu_->ModifyMenu(IDM_STOP, state == PlaybackState::kStopped ? kOff : MF_ENABLED,
                    u"&Stop\tCtrl+3,S");
}

void FakeHost::Changed(PlaybackState state) {
  state_ = state;
  SetFileMenu(state);
  if (notify_) notify_();
}

}  // namespace mpris_testing
