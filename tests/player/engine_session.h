// Drives the playback engine the way the window does: one current Player, stopped,
// deleted and replaced by a new one for every file played; Pause, Resume, Stop and
// the display toggles as the File and Options commands issue them; the File menu
// rewritten as the shell rewrites it, and WM_PLAYBACK_ENDED handled as the shell
// handles it. Every call that may block is bounded: a hang aborts the test process
// with the step's name rather than stalling the suite.
//
// Window's thread only (the test's thread). Reusable by any test that wants a shell
// around the engine without a real window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "player/player.h"
#include "tests/support/fake_window.h"
#include "tests/support/playback_doubles.h"

namespace testing_support {

class EngineSession {
 public:
  enum class State { kStopped, kPlaying, kPaused };

  // The window must outlive the session; it becomes shell::mainWindow.
  EngineSession(FakeWindow& window, ScriptedOutputDevices& devices, RecordingDisplayFactory& displays);
  ~EngineSession();  // stops what still plays
  EngineSession(const EngineSession&) = delete;
  EngineSession& operator=(const EngineSession&) = delete;

  // A file chosen anew (drop, dialog): the current Player is stopped and deleted and
  // a new one prepared and started on path, with the display flags copied in.
  void PlayNewFile(const std::u16string& path);
  void Pause();
  void Resume();
  // The Stop command: bounded; nothing happens once the playback asked for a stop.
  void Stop();
  // One display toggle (0 peaks, 1 grids, 2 gradient) of the shell's flags, as the
  // Options command does it.
  void Toggle(int which);

  // Waits (bounded) until the current playback has torn down by itself, leaving its
  // stop event signalled as a natural end leaves it; false on time-out.
  bool WaitEnded();
  // Handles the WM_PLAYBACK_ENDED messages posted since the last call.
  void PumpMessages();

  State state() const { return state_; }
  Player* current() const { return player_.get(); }
  // The output and display states made for the current (or last) Player; null when
  // its preparation made none.
  std::shared_ptr<ScriptedOutputState> lastOutput() const { return lastOutput_; }
  std::shared_ptr<RecordingDisplayState> lastDisplay() const { return lastDisplay_; }

  // Empty when the File menu matches state(); else what differs.
  std::string MenuMismatch() const;
  // Empty when every playback released so far destroyed its output and display.
  std::string LeftoverObjects() const;

 private:
  void StopAndDelete();
  void SetState(State state);  // and the File menu with it

  FakeWindow& window_;
  ScriptedOutputDevices& devices_;
  RecordingDisplayFactory& displays_;
  std::unique_ptr<Player> player_;
  State state_ = State::kStopped;
  std::shared_ptr<ScriptedOutputState> lastOutput_;
  std::shared_ptr<RecordingDisplayState> lastDisplay_;
  std::size_t releasedOutputs_ = 0;   // devices_.created[0, this) belong to released Players
  std::size_t releasedDisplays_ = 0;  // likewise for displays_.created
  std::size_t postedSeen_ = 0;
};

// Runs fn on another thread and waits at most kBound; aborts the process, naming
// step, when it does not return (a deadlock cannot be recovered from in-process).
void Bounded(const char* step, const std::function<void()>& fn);

}  // namespace testing_support
