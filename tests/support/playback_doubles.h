// Stand-ins for the sound output and the spectrum display, for driving the engine
// in tests. Their state outlives them (the engine's tear-down destroys them), so a
// test keeps a shared pointer to it and reads it afterwards.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "player/playback_collaborators.h"
#include "visual/audio_data_consumer.h"

class Player;

namespace testing_support {

inline constexpr auto kBound = std::chrono::seconds(20);  // no condition in a test waits longer

struct ScriptedOutputState {
  mutable std::mutex mutex;
  std::condition_variable changed;

  // Script, set by the test.
  int startResult = 1;
  bool deviceFailed = false;
  bool full = false;                 // Write takes nothing, as with no room
  std::int64_t unplayed = 0;         // bytes GetPlayedBytes reports as still queued
  std::deque<std::uint32_t> limits;  // per-call caps on what Write takes, used first
  bool gated = false;                // Write waits until Grant covers the whole offer
  bool metered = false;              // Write takes at most budget, without waiting
  std::uint64_t budget = 0;
  bool gateOpen = false;                // once set, budget no longer limits
  std::function<void()> onStop;         // runs in every Stop, on the engine's thread, unlocked
  std::function<void()> onPlayedQuery;  // runs in every GetPlayedBytes, before it answers

  // Record.
  float sampleRate = 0;
  std::uint32_t bytesPerFrame = 0;
  std::uint32_t channels = 0;
  std::vector<std::uint8_t> written;
  int writeCalls = 0;
  int startCalls = 0;
  int stopCalls = 0;
  int playedQueries = 0;
  std::vector<std::size_t> flushedAt;  // size of `written` at each Flush
  bool destroyed = false;

  void Grant(std::uint64_t bytes);
  void OpenGate();
  // Waits (bounded) until predicate holds under the lock; false on time-out.
  bool WaitUntil(const std::function<bool()>& predicate);
};

class ScriptedOutput final : public AudioOutput {
 public:
  explicit ScriptedOutput(std::shared_ptr<ScriptedOutputState> state) : state_(std::move(state)) {}
  ~ScriptedOutput() override;

  int Start() override;
  std::uint32_t Write(const std::uint8_t* data, std::uint32_t byteCount) override;
  void Stop() override;
  void Flush() override;
  std::int64_t GetPlayedBytes() override;
  bool DeviceFailed() const override;
  std::uint32_t QueueTarget() const override { return 88200; }
  std::uint32_t BytesPerFrame() const override { return state_->bytesPerFrame; }

 private:
  std::shared_ptr<ScriptedOutputState> state_;
};

class ScriptedOutputDevices final : public OutputDevices {
 public:
  std::uint32_t rows = 1;
  // The state the next created output gets; a fresh one is made after each creation.
  std::shared_ptr<ScriptedOutputState> next = std::make_shared<ScriptedOutputState>();
  std::vector<std::shared_ptr<ScriptedOutputState>> created;

  std::uint32_t EnumerateOutputDevices() override { return rows; }
  std::uint32_t DeviceRowCount() override { return rows; }
  std::unique_ptr<AudioOutput> CreateAudioOutput(float sampleRate, std::uint32_t bytesPerFrame,
                                                 std::uint32_t channels) override;
};

struct RecordingDisplayState {
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::uint8_t> consumed;
  int consumeCalls = 0;
  int attaches = 0;
  int detaches = 0;
  int pauses = 0;
  int resumes = 0;
  bool destroyed = false;
  std::uint8_t flags[3] = {1, 1, 1};  // peaks, grids, gradient as last seen at destruction

  bool WaitUntil(const std::function<bool()>& predicate);
};

class RecordingDisplay final : public SpectrumDisplay, private AudioDataConsumer {
 public:
  explicit RecordingDisplay(std::shared_ptr<RecordingDisplayState> state)
      : state_(std::move(state)) {}
  ~RecordingDisplay() override;

  void Attach(AudioOutput* output) override;
  void Detach() override;
  AudioDataConsumer* Consumer() override { return active_ ? this : nullptr; }
  bool ConsumerActive() const override { return active_; }
  void PauseDspThread() override;
  void ResumeDspThread() override;

 private:
  void Consume(const std::uint8_t* data, std::uint32_t offset, std::uint32_t length) override;
  void Consume(const std::uint8_t* data, std::uint32_t length) override {
    Consume(data, 0, length);
  }

  std::shared_ptr<RecordingDisplayState> state_;
  bool active_ = false;  // playback thread only
};

class RecordingDisplayFactory final : public DisplayFactory {
 public:
  std::vector<std::shared_ptr<RecordingDisplayState>> created;
  std::unique_ptr<SpectrumDisplay> CreateSpectrumAnalyzer(platform::ui::HWND window) override;
};

// The file the next playback opens, as the shell sets it.
void SetCurrentFile(const std::string& path);
// Waits, bounded, until the playback ends by itself.
bool EndsByItself(Player& player);

}  // namespace testing_support
