#include "tests/player/engine_session.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>

#include "app/shell_globals.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "platform/ui/menu.h"

namespace testing_support {

namespace ui = platform::ui;

namespace {

constexpr std::uint32_t kGrayed = ui::MF_GRAYED | ui::MF_DISABLED;
constexpr std::uint32_t kToggleIds[3] = {32773, 32774, 32777};
constexpr const char16_t* kToggleTexts[3] = {u"Show &Peaks", u"Show &Grids", u"Show G&radient"};
constexpr std::uint32_t kFileIds[3] = {IDM_PLAY, IDM_PAUSE, IDM_STOP};
constexpr const char16_t* kFileTexts[3] = {u"&Play\tCtrl+1,A", u"P&ause\tCtrl+2,D", u"&Stop\tCtrl+3,S"};

// Play, Pause and Stop as the shell sets them for a state.
std::array<std::uint32_t, 3> FileMenuFor(EngineSession::State state) {
  const bool playing = state == EngineSession::State::kPlaying;
  return {playing ? kGrayed : 0u, playing ? 0u : kGrayed, state == EngineSession::State::kStopped ? kGrayed : 0u};
}

template <typename States>
void AddUndestroyed(const States& states, std::size_t count, const char* what, std::string& out) {
  for (std::size_t i = 0; i < count; ++i) {
    std::scoped_lock hold(states[i]->mutex);
    if (!states[i]->destroyed) out += std::string(what) + " " + std::to_string(i) + " not destroyed; ";
  }
}

}  // namespace

void Bounded(const char* step, const std::function<void()>& fn) {
  std::packaged_task<void()> task(fn);
  std::future<void> done = task.get_future();
  std::thread runner(std::move(task));
  if (done.wait_for(kBound) != std::future_status::ready) {
    std::fprintf(stderr, "HANG: %s did not return within the bound\n", step);
    std::fflush(stderr);
    std::abort();
  }
  runner.join();
}

EngineSession::EngineSession(FakeWindow& window, ScriptedOutputDevices& devices, RecordingDisplayFactory& displays)
    : window_(window), devices_(devices), displays_(displays) {
  shell::mainWindow = &window_;
  shell::fileReady = 0;
  postedSeen_ = window_.Posted().size();
  const std::uint8_t flags[3] = {shell::showPeaks, shell::showGrids, shell::showGradient};
  for (int i = 0; i < 3; ++i) {
    window_.GetMenu()->ModifyMenu(kToggleIds[i], flags[i] != 0 ? ui::MF_CHECKED : 0u, kToggleTexts[i]);
  }
}

EngineSession::~EngineSession() {
  Stop();
  StopAndDelete();
  shell::mainWindow = nullptr;
}

void EngineSession::StopAndDelete() {
  if (!player_) return;
  if (!player_->IsStopRequested()) {
    // A gated output would hold the playback thread inside Write; let it through.
    if (lastOutput_) lastOutput_->OpenGate();
    Player* player = player_.get();
    Bounded("StopPlaybackThread", [player] { player->StopPlaybackThread(); });
  }
  releasedOutputs_ = devices_.created.size();
  releasedDisplays_ = displays_.created.size();
  player_.reset();
}

void EngineSession::PlayNewFile(const std::u16string& path) {
  StopAndDelete();
  platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity, path.c_str());
  shell::fileReady = 1;

  const std::size_t outputsBefore = devices_.created.size();
  const std::size_t displaysBefore = displays_.created.size();
  player_ = std::make_unique<Player>(PlaybackCollaborators{&devices_, &displays_});
  player_->PreparePlayback();
  lastOutput_ = devices_.created.size() > outputsBefore ? devices_.created.back() : nullptr;
  lastDisplay_ = displays_.created.size() > displaysBefore ? displays_.created.back() : nullptr;
  player_->StartPlaybackThread();
  if (player_->HasAnalyzer()) player_->ApplyDisplayFlags(shell::showPeaks, shell::showGrids, shell::showGradient);
  SetState(State::kPlaying);
}

void EngineSession::Pause() {
  if (!player_ || state_ != State::kPlaying) return;  // Pause is grayed otherwise
  player_->PausePlayback();
  SetState(State::kPaused);
}

void EngineSession::Resume() {
  if (!player_ || state_ != State::kPaused) return;
  player_->ResumePlayback();
  SetState(State::kPlaying);
}

void EngineSession::Stop() {
  if (player_ && !player_->IsStopRequested()) StopAndDelete();
  shell::fileReady = 0;
  SetState(State::kStopped);
}

void EngineSession::Toggle(int which) {
  if (!player_) return;  // as the shell: no Player, no change
  std::uint8_t* flags[3] = {&shell::showPeaks, &shell::showGrids, &shell::showGradient};
  *flags[which] ^= 1;
  if (player_->HasAnalyzer()) player_->ApplyDisplayFlags(shell::showPeaks, shell::showGrids, shell::showGradient);
  window_.GetMenu()->ModifyMenu(kToggleIds[which], *flags[which] != 0 ? ui::MF_CHECKED : 0u, kToggleTexts[which]);
}

bool EngineSession::WaitEnded() {
  if (!player_) return true;
  if (player_->stopEvent->Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kBound)) !=
      platform::WaitResult::kSignalled) {
    return false;
  }
  player_->stopEvent->Set();  // a later Stop finds it as a natural end leaves it
  releasedOutputs_ = devices_.created.size();
  releasedDisplays_ = displays_.created.size();
  return true;
}

void EngineSession::PumpMessages() {
  const auto posted = window_.Posted();
  for (; postedSeen_ < posted.size(); ++postedSeen_) {
    const PostedMessage& m = posted[postedSeen_];
    // An end posted by an earlier Player is stale: the window has moved on.
    if (m.message == WM_PLAYBACK_ENDED && player_ && m.wParam == player_->Serial()) {
      SetState(State::kStopped);
    }
  }
}

void EngineSession::SetState(State state) {
  state_ = state;
  const auto flags = FileMenuFor(state);
  for (int i = 0; i < 3; ++i) window_.GetMenu()->ModifyMenu(kFileIds[i], flags[i], kFileTexts[i]);
}

std::string EngineSession::MenuMismatch() const {
  const ui::Menu* menu = window_.GetMenu();
  const auto want = FileMenuFor(state_);
  const std::uint8_t flags[3] = {shell::showPeaks, shell::showGrids, shell::showGradient};
  std::string out;
  for (int i = 0; i < 3; ++i) {
    const std::uint32_t got = menu->GetMenuState(kFileIds[i]);
    if (got != want[i]) out += platform::ToUtf8(kFileTexts[i]) + " has flags " + std::to_string(got) + "; ";
    const bool checked = (menu->GetMenuState(kToggleIds[i]) & ui::MF_CHECKED) != 0;
    if (checked != (flags[i] != 0)) out += "toggle " + std::to_string(i) + " check mark differs from its flag; ";
  }
  return out;
}

std::string EngineSession::LeftoverObjects() const {
  std::string out;
  AddUndestroyed(devices_.created, releasedOutputs_, "output", out);
  AddUndestroyed(displays_.created, releasedDisplays_, "display", out);
  return out;
}

}  // namespace testing_support
