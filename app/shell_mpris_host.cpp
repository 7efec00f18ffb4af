#include "app/shell_mpris_host.h"

#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "app/resources.h"
#include "app/shell.h"
#include "app/win_main.h"
#include "app/window_proc.h"
#include "platform/qt/qt_window.h"

namespace app {
namespace {

constexpr auto kSeekPoll = std::chrono::milliseconds(5);
constexpr auto kSeekWatch = std::chrono::seconds(1);
// Far beyond any file (about 35 years), and small enough to turn into frames safely.
constexpr std::int64_t kMaxUs = std::int64_t{1} << 50;

std::int64_t UsToFrames(std::int64_t us, std::int32_t rate) {
  const double clamped = static_cast<double>(std::clamp(us, -kMaxUs, kMaxUs));
  return std::llround(clamped * rate / 1e6);
}

std::int64_t FramesToUs(std::uint64_t frames, std::int32_t rate) {
  if (rate <= 0) return 0;
  return static_cast<std::int64_t>(static_cast<double>(frames) * 1e6 / rate);
}

}  // namespace

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
    const Player* player = shell::currentPlayer.get();
    lengthUs_ = player != nullptr ? FramesToUs(player->LengthInFrames(), player->SampleRate()) : 0;
  }
  if (mprisService) mprisService->NotifyStateChanged();
}

bool ShellMprisHost::CanSeek() const {
  const Player* player = shell::currentPlayer.get();
  return GetPlaybackState() != mpris::PlaybackState::kStopped && player != nullptr &&
         !player->IsStopRequested() && player->CanSeek();
}

std::int64_t ShellMprisHost::PositionUs() const {
  Player* player = shell::currentPlayer.get();
  if (GetPlaybackState() == mpris::PlaybackState::kStopped || player == nullptr) return 0;
  return FramesToUs(player->HeardFrame(), player->SampleRate());
}

void ShellMprisHost::SeekTo(std::int64_t positionUs) {
  if (const Player* player = shell::currentPlayer.get())
    Seek(UsToFrames(positionUs, player->SampleRate()), false);
}

void ShellMprisHost::SeekBy(std::int64_t offsetUs) {
  if (const Player* player = shell::currentPlayer.get())
    Seek(UsToFrames(offsetUs, player->SampleRate()), true);
}

void ShellMprisHost::Seek(std::int64_t frames, bool relative) {
  Player* player = shell::currentPlayer.get();
  if (player == nullptr || player->IsStopRequested() || !player->CanSeek()) return;
  if (!watching_ || watchedSerial_ != player->Serial()) {
    watchedSerial_ = player->Serial();
    seeksSeen_ = player->SeeksCarriedOut();
    seeksAwaited_ = 0;
  }
  player->RequestSeek(frames, relative);
  if (!mprisService) return;
  ++seeksAwaited_;
  watchUntil_ = std::chrono::steady_clock::now() + kSeekWatch;
  if (!watching_) {
    watching_ = true;
    QTimer::singleShot(kSeekPoll, [this] { WatchSeeks(); });
  }
}

void ShellMprisHost::WatchSeeks() {
  Player* player = shell::currentPlayer.get();
  if (player == nullptr || player->Serial() != watchedSerial_ || !mprisService) {
    watching_ = false;
    return;
  }
  const std::uint64_t done = player->SeeksCarriedOut();
  if (done != seeksSeen_) {
    seeksAwaited_ -= std::min(seeksAwaited_, done - seeksSeen_);
    seeksSeen_ = done;
    // A seek past the end ends the file: the controls hear of the stop instead.
    const std::uint64_t length = player->LengthInFrames();
    if (!player->IsStopRequested() && (length == 0 || player->HeardFrame() < length))
      mprisService->NotifySeeked();
  }
  // Quick moves add up into one seek, and a refused one is never counted: the
  // deadline ends the watch for those.
  if (seeksAwaited_ == 0 || std::chrono::steady_clock::now() >= watchUntil_) {
    watching_ = false;
    return;
  }
  QTimer::singleShot(kSeekPoll, [this] { WatchSeeks(); });
}

}  // namespace app
