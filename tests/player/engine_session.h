// Drives the playback engine the way the window does: one current Player, stopped,
// deleted and replaced by a new one for every file played; Pause, Resume, Stop and the
// display flags as the commands issue them; the File menu rewritten as the shell
// rewrites it, and WM_PLAYBACK_ENDED handled as the shell handles it. Every call that
// may block is bounded: a hang aborts the test process with the step's name rather
// than stalling the suite. The window's thread only (the test's thread).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "app/shell_globals.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "platform/ui/menu.h"
#include "player/player.h"
#include "tests/support/fake_window.h"
#include "tests/support/playback_doubles.h"

namespace testing_support {

// Runs fn on another thread and waits at most kBound; aborts the process, naming
// step, when it does not return (a deadlock cannot be recovered from in-process).
inline void Bounded(const char* step, const std::function<void()>& fn) {
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

class EngineSession {
 public:
  enum class State { kStopped, kPlaying, kPaused };

  // The window must outlive the session; it becomes shell::mainWindow.
  EngineSession(FakeWindow& window, ScriptedOutputDevices& devices,
                RecordingDisplayFactory& displays)
      : window_(window), devices_(devices), displays_(displays) {
    shell::mainWindow = &window_;
    shell::fileReady = 0;
    postedSeen_ = window_.Posted().size();
  }
  ~EngineSession() {  // stops what still plays
    Stop();
    StopAndDelete();
    shell::mainWindow = nullptr;
  }
  EngineSession(const EngineSession&) = delete;
  EngineSession& operator=(const EngineSession&) = delete;

  // A file chosen anew (drop, dialog): the current Player is stopped and deleted and
  // a new one prepared and started on path, with the display flags copied in.
  void PlayNewFile(const std::u16string& path) {
    StopAndDelete();
    platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity, path.c_str());
    shell::fileReady = 1;
    const std::size_t outputsBefore = devices_.created.size();
    player_ = std::make_unique<Player>(PlaybackCollaborators{&devices_, &displays_});
    player_->PreparePlayback();
    lastOutput_ = devices_.created.size() > outputsBefore ? devices_.created.back() : nullptr;
    player_->StartPlaybackThread();
    Toggle(-1);
    SetState(State::kPlaying);
  }
  void Pause() {
    if (!player_ || state_ != State::kPlaying) return;  // Pause is grayed otherwise
    player_->PausePlayback();
    SetState(State::kPaused);
  }
  void Resume() {
    if (!player_ || state_ != State::kPaused) return;
    player_->ResumePlayback();
    SetState(State::kPlaying);
  }
  void Stop() {  // nothing happens once the playback asked for a stop
    if (player_ && !player_->IsStopRequested()) StopAndDelete();
    shell::fileReady = 0;
    SetState(State::kStopped);
  }
  // Flips one display flag (0 peaks, 1 grids, 2 gradient; -1 none) and hands the
  // flags to the Player, as the shell does.
  void Toggle(int which) {
    if (!player_) return;  // as the shell: no Player, no change
    std::uint8_t* flags[3] = {&shell::showPeaks, &shell::showGrids, &shell::showGradient};
    if (which >= 0) *flags[which] ^= 1;
    if (player_->HasAnalyzer()) {
      player_->ApplyDisplayFlags(shell::showPeaks, shell::showGrids, shell::showGradient);
    }
  }

  // Waits (bounded) until the current playback has torn down by itself, leaving its
  // stop event signalled as a natural end leaves it; false on time-out.
  bool WaitEnded() {
    if (!player_) return true;
    if (player_->stopEvent->Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kBound)) !=
        platform::WaitResult::kSignalled) {
      return false;
    }
    player_->stopEvent->Set();  // a later Stop finds it as a natural end leaves it
    NoteReleased();
    return true;
  }
  // Handles the WM_PLAYBACK_ENDED messages posted since the last call.
  void PumpMessages() {
    const auto posted = window_.Posted();
    for (; postedSeen_ < posted.size(); ++postedSeen_) {
      const PostedMessage& m = posted[postedSeen_];
      // An end posted by an earlier Player is stale: the window has moved on.
      if (m.message == WM_PLAYBACK_ENDED && player_ && m.wParam == player_->Serial()) {
        SetState(State::kStopped);
      }
    }
  }

  State state() const { return state_; }
  Player* current() const { return player_.get(); }
  // The output made for the current (or last) Player; null if none was.
  std::shared_ptr<ScriptedOutputState> lastOutput() const { return lastOutput_; }

  // Empty when the File menu matches state(); else what differs.
  std::string MenuMismatch() const {
    const auto want = FileMenuFor(state_);
    std::string out;
    for (int i = 0; i < 3; ++i) {
      const std::uint32_t got = window_.GetMenu()->GetMenuState(kFileIds[i]);
      if (got != want[i]) {
        out += platform::ToUtf8(kFileTexts[i]) + " has flags " + std::to_string(got) + "; ";
      }
    }
    return out;
  }
  // Empty when every playback released so far destroyed its output and display.
  std::string LeftoverObjects() const {
    std::string out;
    AddUndestroyed(devices_.created, releasedOutputs_, "output ", out);
    AddUndestroyed(displays_.created, releasedDisplays_, "display ", out);
    return out;
  }

 private:
  static constexpr std::uint32_t kFileIds[3] = {IDM_PLAY, IDM_PAUSE, IDM_STOP};
  static constexpr const char16_t* kFileTexts[3] = {u"&Play\tCtrl+1,A", u"P&ause\tCtrl+2,D",
                                                    u"&Stop\tCtrl+3,S"};

  // Play, Pause and Stop as the shell sets them for a state.
  static std::array<std::uint32_t, 3> FileMenuFor(State state) {
    constexpr std::uint32_t kGrayed = platform::ui::MF_GRAYED | platform::ui::MF_DISABLED;
    return {state == State::kPlaying ? kGrayed : 0u, state == State::kPlaying ? 0u : kGrayed,
            state == State::kStopped ? kGrayed : 0u};
  }
  template <typename States>
  static void AddUndestroyed(const States& states, std::size_t count, const char* what,
                             std::string& out) {
    for (std::size_t i = 0; i < count; ++i) {
      std::scoped_lock hold(states[i]->mutex);
      if (!states[i]->destroyed) out += what + std::to_string(i) + " not destroyed; ";
    }
  }

  void StopAndDelete() {
    if (!player_) return;
    if (!player_->IsStopRequested()) {
      // A gated output would hold the playback thread inside Write; let it through.
      if (lastOutput_) lastOutput_->OpenGate();
      Player* player = player_.get();
      Bounded("StopPlaybackThread", [player] { player->StopPlaybackThread(); });
    }
    NoteReleased();
    player_.reset();
  }
  void SetState(State state) {  // and the File menu with it
    state_ = state;
    const auto flags = FileMenuFor(state);
    for (int i = 0; i < 3; ++i) window_.GetMenu()->ModifyMenu(kFileIds[i], flags[i], kFileTexts[i]);
  }
  void NoteReleased() {
    releasedOutputs_ = devices_.created.size();
    releasedDisplays_ = displays_.created.size();
  }

  FakeWindow& window_;
  ScriptedOutputDevices& devices_;
  RecordingDisplayFactory& displays_;
  std::unique_ptr<Player> player_;
  State state_ = State::kStopped;
  std::shared_ptr<ScriptedOutputState> lastOutput_;
  std::size_t releasedOutputs_ = 0;   // devices_.created[0, this) belong to released Players
  std::size_t releasedDisplays_ = 0;  // likewise for displays_.created
  std::size_t postedSeen_ = 0;
};

}  // namespace testing_support
