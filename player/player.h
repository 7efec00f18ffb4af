// The playback engine: one Player per playback. The window's thread prepares,
// starts, pauses, resumes and stops it; the playback thread decodes, writes to the
// output, feeds the display and finally releases everything itself.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "app/resources_menu.h"
#include "decoders/decoder.h"
#include "platform/kernel/event.h"
#include "platform/ui/window.h"
#include "player/playback_collaborators.h"
#include "player/playback_problem.h"
#include "player/seek_mailbox.h"

// Posted to the window when a playback's tear-down has finished, however it ended;
// wParam is the Player's Serial(). The window may have moved on to a newer Player.
inline constexpr std::uint32_t WM_PLAYBACK_ENDED = 0x8001;

// The File menu's commands, for those who send them (the media controls).
using app::IDM_PAUSE;
using app::IDM_PLAY;
using app::IDM_STOP;

class Player {
 public:
  static constexpr std::uint32_t kPcmBytes = 16000;

  explicit Player(PlaybackCollaborators with = DefaultCollaborators());
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;
  ~Player();

  // Window's thread: copy the shell's path, make the decoder, display and output.
  // Says why the playback cannot start (kNone when it can); Problem() keeps it.
  PlaybackProblem PreparePlayback();
  // Window's thread: start the playback thread; false when it could not start
  // (the playback's objects are then already released).
  bool StartPlaybackThread();
  void PausePlayback();
  void ResumePlayback();
  // Asks the thread to stop and waits until its tear-down is done.
  void StopPlaybackThread();

  // Any thread: asks the playback thread to move to a frame (relative: from the one
  // being heard). Carried out between blocks; before 0 means 0, past the end ends the
  // file as its natural end does; a pause stays. A stream that cannot seek ignores it.
  void RequestSeek(std::int64_t frames, bool relative);
  // Fixed once prepared: whether the file can seek, its length in frames (0: unknown)
  // and its rate.
  bool CanSeek() const { return canSeek_; }
  std::uint64_t LengthInFrames() const { return lengthInFrames_; }
  std::int32_t SampleRate() const { return sampleRate_; }
  // Any thread: the frame of the file being heard now (a seek asked for and not yet
  // carried out is not counted).
  std::uint64_t HeardFrame();
  // Seeks carried out so far (refused ones not counted); counted once the output has
  // dropped what it held.
  std::uint64_t SeeksCarriedOut() const { return seeksDone_.load(); }

  // Copies the shell's display flags into this playback's analyser, if it still has
  // one. Window's thread; safe against the tear-down destroying the analyser.
  void ApplyDisplayFlags(std::uint8_t peaks, std::uint8_t grids, std::uint8_t gradient);
  bool HasAnalyzer();

  bool IsPaused() const { return paused.load() != 0; }
  bool IsStopRequested() const { return stopRequested.load() != 0; }
  std::uint64_t Serial() const { return serial_; }
  // Why this playback could not start or, once it has ended, why it ended before
  // its file did; kNone when neither. Any thread.
  PlaybackProblem Problem() const { return problem_.load(); }
  bool DeviceLost() const { return Problem() == PlaybackProblem::kDeviceLost; }

  // Fields, in the engine's own order. decoder, output and analyzer are made on the
  // window's thread before the playback thread starts, and released by that thread.
  char16_t filePath[260] = {};
  std::unique_ptr<CDecoder> decoder;
  std::unique_ptr<AudioOutput> output;
  std::unique_ptr<SpectrumDisplay> analyzer;
  platform::ui::HWND window = nullptr;
  std::atomic<std::uint8_t> stopRequested{0};  // written by the window's thread only
  std::atomic<std::uint8_t> paused{0};         // window's thread, and the thread on wake-up
  std::array<std::uint8_t, kPcmBytes> pcm{};   // playback thread only, once started
  std::uint32_t threadId = 0;
  // Shared with the thread so that signalling them never touches a freed Player.
  std::shared_ptr<platform::Event> stopEvent;   // auto reset; set once, by the tear-down
  std::shared_ptr<platform::Event> pauseEvent;  // manual reset
  std::mutex lock;  // held by the tear-down, and by the shell's access to analyzer

 private:
  static void PlaybackThreadProc(Player* player, std::shared_ptr<platform::Event> stopEvent);
  void RunPlayback();
  // Offers the block until the output took all of it, or a seek is asked for; false
  // when playback must end. Adds what was taken to bytesWritten_ and *taken.
  bool WriteBlock(std::uint32_t byteCount, std::uint32_t* taken);
  // If a Pause is asked for: stops the output and waits for Play or Stop. False
  // when playback must end.
  bool HonourPause();
  // Takes a waiting seek and carries it out: the decoder moves, the output drops
  // what it holds, the heard position follows; a stopped output stays stopped.
  void CarryOutSeek();
  // Marks the loop as left, so that no Pause is accepted any more.
  void LeaveLoop();
  // After the last block: true once the output has played everything written.
  bool QueuePlayedOut();
  void TearDown();

  PlaybackCollaborators collaborators_;
  const std::uint64_t serial_;
  // Set by Pause, Play and Stop, so that the thread's retry and play-out waits end
  // at once: a command takes effect within milliseconds, not at the next retry.
  platform::Event wake_{platform::Event::Reset::kAuto};
  // A Pause is taken only while the thread is still in its loop: PausePlayback and
  // LeaveLoop decide under pauseGate_, so a Pause cannot slip past the loop's end.
  std::mutex pauseGate_;
  bool loopLeft_ = false;  // guarded by pauseGate_
  // Set by PreparePlayback, then by the playback thread when it ends early.
  std::atomic<PlaybackProblem> problem_{PlaybackProblem::kNone};
  std::atomic<std::uint64_t> seeksDone_{0};  // counted by the playback thread
  SeekMailbox seeks_;
  HeardPosition heard_;
  // Set by PreparePlayback, before the thread starts.
  bool canSeek_ = false;
  std::uint64_t lengthInFrames_ = 0;
  std::int32_t sampleRate_ = 0;
  // Playback thread only.
  bool fileEnded_ = false;    // the decoder has delivered its last block
  bool blockPlayed_ = false;  // the output has taken some of the file
  std::int64_t bytesWritten_ = 0;
  std::int64_t lastPlayedBytes_ = -1;
  int idlePolls_ = 0;
  bool restartedIdle_ = false;
};
