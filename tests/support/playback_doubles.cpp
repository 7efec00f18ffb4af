#include "tests/support/playback_doubles.h"

#include <algorithm>

#include "app/shell_globals.h"
#include "platform/kernel/strsafe.h"
#include "platform/kernel/text.h"
#include "player/player.h"

namespace testing_support {

void ScriptedOutputState::Grant(std::uint64_t bytes) {
  std::scoped_lock hold(mutex);
  budget += bytes;
  changed.notify_all();
}

void ScriptedOutputState::OpenGate() {
  std::scoped_lock hold(mutex);
  gateOpen = true;
  changed.notify_all();
}

bool ScriptedOutputState::WaitUntil(const std::function<bool()>& predicate) {
  std::unique_lock hold(mutex);
  return changed.wait_for(hold, kBound, predicate);
}

ScriptedOutput::~ScriptedOutput() {
  std::scoped_lock hold(state_->mutex);
  state_->destroyed = true;
  state_->changed.notify_all();
}

int ScriptedOutput::Start() {
  std::scoped_lock hold(state_->mutex);
  ++state_->startCalls;
  state_->changed.notify_all();
  return state_->startResult;
}

std::uint32_t ScriptedOutput::Write(const std::uint8_t* data, std::uint32_t byteCount) {
  std::unique_lock hold(state_->mutex);
  ++state_->writeCalls;
  std::uint64_t take = byteCount;
  if (!state_->limits.empty()) {
    take = std::min<std::uint64_t>(take, state_->limits.front());
    state_->limits.pop_front();
  }
  if (state_->deviceFailed || state_->full) take = 0;
  if (state_->metered && !state_->gateOpen) {
    take = std::min(take, state_->budget);
    state_->budget -= take;
  }
  if (state_->gated && take > 0) {
    // Holds the engine here until the test has granted the whole offer.
    state_->changed.wait(hold, [&] { return state_->gateOpen || state_->budget >= take; });
    if (!state_->gateOpen) state_->budget -= take;
  }
  state_->written.insert(state_->written.end(), data, data + take);
  state_->changed.notify_all();
  return static_cast<std::uint32_t>(take);
}

void ScriptedOutput::Stop() {
  std::function<void()> hook;
  {
    std::scoped_lock hold(state_->mutex);
    ++state_->stopCalls;
    hook = state_->onStop;
    state_->changed.notify_all();
  }
  if (hook) hook();
}

void ScriptedOutput::Flush() {
  std::scoped_lock hold(state_->mutex);
  state_->flushedAt.push_back(state_->written.size());
  state_->unplayed = 0;
  state_->changed.notify_all();
}

std::int64_t ScriptedOutput::GetPlayedBytes() {
  std::function<void()> hook;
  {
    std::scoped_lock hold(state_->mutex);
    hook = state_->onPlayedQuery;
  }
  if (hook) hook();
  std::scoped_lock hold(state_->mutex);
  ++state_->playedQueries;
  state_->changed.notify_all();
  return static_cast<std::int64_t>(state_->written.size()) - state_->unplayed;
}

bool ScriptedOutput::DeviceFailed() const {
  std::scoped_lock hold(state_->mutex);
  return state_->deviceFailed;
}

std::unique_ptr<AudioOutput> ScriptedOutputDevices::CreateAudioOutput(float sampleRate,
                                                                      std::uint32_t bytesPerFrame,
                                                                      std::uint32_t channels) {
  auto state = next;
  next = std::make_shared<ScriptedOutputState>();
  {
    std::scoped_lock hold(state->mutex);
    state->sampleRate = sampleRate;
    state->bytesPerFrame = bytesPerFrame;
    state->channels = channels;
  }
  created.push_back(state);
  return std::make_unique<ScriptedOutput>(state);
}

bool RecordingDisplayState::WaitUntil(const std::function<bool()>& predicate) {
  std::unique_lock hold(mutex);
  return changed.wait_for(hold, kBound, predicate);
}

RecordingDisplay::~RecordingDisplay() {
  std::scoped_lock hold(state_->mutex);
  state_->destroyed = true;
  state_->flags[0] = showPeaks;
  state_->flags[1] = showGrids;
  state_->flags[2] = showGradient;
  state_->changed.notify_all();
}

void RecordingDisplay::Attach(AudioOutput* output) {
  std::scoped_lock hold(state_->mutex);
  ++state_->attaches;
  active_ = output != nullptr;
  state_->changed.notify_all();
}

void RecordingDisplay::Detach() {
  std::scoped_lock hold(state_->mutex);
  if (active_) ++state_->detaches;
  active_ = false;
  state_->changed.notify_all();
}

void RecordingDisplay::PauseDspThread() {
  std::scoped_lock hold(state_->mutex);
  ++state_->pauses;
  state_->changed.notify_all();
}

void RecordingDisplay::ResumeDspThread() {
  std::scoped_lock hold(state_->mutex);
  ++state_->resumes;
  state_->changed.notify_all();
}

void RecordingDisplay::Consume(const std::uint8_t* data, std::uint32_t offset,
                               std::uint32_t length) {
  std::scoped_lock hold(state_->mutex);
  ++state_->consumeCalls;
  state_->consumed.insert(state_->consumed.end(), data + offset, data + offset + length);
  state_->changed.notify_all();
}

std::unique_ptr<SpectrumDisplay> RecordingDisplayFactory::CreateSpectrumAnalyzer(
    platform::ui::HWND) {
  auto state = std::make_shared<RecordingDisplayState>();
  created.push_back(state);
  return std::make_unique<RecordingDisplay>(state);
}

void SetCurrentFile(const std::string& path) {
  platform::StringCchCopyW(shell::currentPath, shell::kPathCapacity,
                           platform::FromUtf8(path).c_str());
}

bool EndsByItself(Player& player) {
  return player.stopEvent->Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kBound)) ==
         platform::WaitResult::kSignalled;
}

}  // namespace testing_support
