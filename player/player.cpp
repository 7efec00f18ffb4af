#include "player/player.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "app/shell_globals.h"
#include "app/shell_state.h"
#include "platform/kernel/clock.h"
#include "platform/kernel/strsafe.h"
#include "platform/ui/message_box.h"
#include "player/decoder_factory.h"
#include "visual/audio_data_consumer.h"

namespace ui = platform::ui;

namespace {

constexpr auto kWriteRetry = std::chrono::milliseconds(125);
constexpr auto kPlayOutPoll = std::chrono::milliseconds(10);
constexpr int kPlayOutIdlePolls = 50;  // half a second without progress
constexpr std::uint32_t kSettleAfterTearDownMs = 200;
std::atomic<std::uint64_t> nextSerial{1};

}  // namespace

Player::Player(PlaybackCollaborators with)
    : window(shell::mainWindow.load()), collaborators_(with), serial_(nextSerial.fetch_add(1)) {
  if (collaborators_.outputs == nullptr || collaborators_.displays == nullptr) {
    collaborators_ = DefaultCollaborators();
  }
}

// decoder, output and analyzer are the tear-down's to release; if the thread never
// ran, the unique_ptrs release them here.
Player::~Player() = default;

PlaybackProblem Player::PreparePlayback() {
  filePath[0] = u'\0';
  pcm.fill(0);
  platform::StringCchCopyW(filePath, std::size(filePath), shell::currentPath);

  std::unique_ptr<CDecoder> made = MakeDecoderFor(shell::currentPath);
  if (!made) {
    ui::MessageBox(ui::GetActiveWindow(), u"Unknown file type.", u"Error", ui::MB_ICONEXCLAMATION);
    problem_ = PlaybackProblem::kUnknownType;
    return PlaybackProblem::kUnknownType;
  }
  decoder = std::move(made);
  decoder->SetFile(filePath);
  // What Open says only explains a failure; the engine goes on either way.
  const bool opened = decoder->Open() != 0;
  canSeek_ = decoder->CanSeek();
  lengthInFrames_ = decoder->GetLengthInFrames();
  sampleRate_ = decoder->GetSampleRate();

  analyzer = collaborators_.displays->CreateSpectrumAnalyzer(window);
  collaborators_.outputs->EnumerateOutputDevices();

  const std::int32_t rate = decoder->GetSampleRate();
  const std::int32_t channels = decoder->GetChannels();
  if (collaborators_.outputs->DeviceRowCount() > 0 && rate > 0 && channels > 0) {
    const std::uint32_t blockAlign = channels == 1 ? 2 : 4;
    output = collaborators_.outputs->CreateAudioOutput(static_cast<float>(rate), blockAlign,
                                                       static_cast<std::uint32_t>(channels));
  }
  const PlaybackProblem problem = !opened || rate <= 0 || channels <= 0
                                      ? PlaybackProblem::kCannotOpen
                                  : !output ? PlaybackProblem::kNoOutput
                                            : PlaybackProblem::kNone;
  problem_ = problem;
  return problem;
}

bool Player::StartPlaybackThread() {
  paused = 0;
  stopEvent = std::make_shared<platform::Event>(platform::Event::Reset::kAuto);
  pauseEvent = std::make_shared<platform::Event>(platform::Event::Reset::kManual);
  pauseEvent->Reset();
  try {
    std::thread thread(&Player::PlaybackThreadProc, this, stopEvent);
    threadId = static_cast<std::uint32_t>(std::hash<std::thread::id>{}(thread.get_id()));
    // Nothing joins it: the end of a playback is seen through stopEvent.
    thread.detach();
    return true;
  } catch (const std::system_error&) {
    LeaveLoop();
    TearDown();  // releases what PreparePlayback made and signals stopEvent
    return false;
  }
}

void Player::PausePlayback() {
  // A playback whose thread has left its loop has nobody left to pause.
  std::scoped_lock hold(pauseGate_);
  if (stopRequested || loopLeft_) return;
  paused = 1;
  shell::fileReady = 1;
  pauseEvent->Reset();
  wake_.Set();
}

void Player::ResumePlayback() {
  paused = 0;
  pauseEvent->Set();
  wake_.Set();
}

void Player::StopPlaybackThread() {
  const bool wasPaused = paused != 0;
  stopRequested = 1;
  wake_.Set();
  if (wasPaused) pauseEvent->Set();
  if (stopEvent->Wait() != platform::WaitResult::kSignalled) {
    ui::MessageBox(window, u"An error occurred when wait for stop event.", u"Error",
                   ui::MB_ICONEXCLAMATION);
  }
}

void Player::RequestSeek(std::int64_t frames, bool relative) {
  if (!canSeek_) return;
  seeks_.Post({frames, relative});
  wake_.Set();
  if (paused && pauseEvent) pauseEvent->Set();
}

std::uint64_t Player::HeardFrame() {
  std::scoped_lock hold(lock);
  if (!output) return heard_.FrameAt(0, 0);
  return heard_.FrameAt(output->GetPlayedBytes(), output->BytesPerFrame());
}

void Player::ApplyDisplayFlags(std::uint8_t peaks, std::uint8_t grids, std::uint8_t gradient) {
  std::scoped_lock hold(lock);
  if (!analyzer) return;
  analyzer->showPeaks = peaks;
  analyzer->showGrids = grids;
  analyzer->showGradient = gradient;
}

bool Player::HasAnalyzer() {
  std::scoped_lock hold(lock);
  return analyzer != nullptr;
}

void Player::PlaybackThreadProc(Player* player, std::shared_ptr<platform::Event> stopEvent) {
  player->RunPlayback();
  // The Player may be gone from here on; only our own reference to the event remains.
  stopEvent.reset();
  platform::SleepMs(kSettleAfterTearDownMs);
}

void Player::RunPlayback() {
  // Even a playback that cannot start goes through the tear-down, so the decoder
  // and display are released, the menu is reset and a later Stop does not block.
  if (!output || output->Start() == 0) {
    if (output) problem_ = PlaybackProblem::kOutputDidNotStart;
    LeaveLoop();
    TearDown();
    return;
  }
  analyzer->Attach(output.get());

  for (;;) {
    if (!HonourPause()) break;
    if (stopRequested) break;
    if (seeks_.Pending()) CarryOutSeek();

    if (fileEnded_) {
      // The file is decoded; what is still queued in the output plays out first,
      // so the end of the file is heard. A stop or a pause is still noticed.
      if (QueuePlayedOut()) {
        if (!blockPlayed_ && Problem() == PlaybackProblem::kNone)
          problem_ = PlaybackProblem::kNoAudio;
        break;
      }
      continue;
    }
    pcm.fill(0);
    const std::uint32_t n = decoder->Read(pcm.data(), kPcmBytes);
    if (n == 0) {
      fileEnded_ = true;
      continue;
    }
    std::uint32_t taken = 0;
    if (!WriteBlock(n, &taken)) break;
    if (taken == 0) continue;
    blockPlayed_ = true;
    if (analyzer->Consumer() != nullptr && analyzer->ConsumerActive())
      analyzer->Consumer()->Consume(pcm.data(), taken);
  }
  LeaveLoop();
  TearDown();
}

bool Player::HonourPause() {
  if (!paused) return true;
  output->Stop();
  analyzer->PauseDspThread();
  for (;;) {
    const platform::WaitResult woke = pauseEvent->Wait();
    if (woke == platform::WaitResult::kAbandoned || woke == platform::WaitResult::kTimedOut)
      return false;
    // paused is left to the window's thread (Resume clears it): clearing it here
    // would lose a Pause made again between this wake-up and the next turn.
    pauseEvent->Reset();
    if (stopRequested) {
      analyzer->Detach();
      return false;
    }
    // A seek made while paused is carried out at once, so the position shows it;
    // the output stays stopped and the new place is heard on Play.
    if (seeks_.Pending()) CarryOutSeek();
    if (!paused) break;
  }
  output->Start();
  analyzer->ResumeDspThread();
  return true;
}

void Player::CarryOutSeek() {
  const std::optional<SeekMailbox::Request> request = seeks_.Take();
  if (!request) return;
  std::int64_t target = request->frames;
  if (request->relative) target += static_cast<std::int64_t>(HeardFrame());
  if (target < 0) target = 0;
  const std::int32_t result = decoder->SeekToFrame(static_cast<std::uint64_t>(target));
  if (result == CDecoder::kSeekRefused) return;  // nothing moved: play on
  const bool wasPaused = paused != 0;
  output->Stop();
  output->Flush();
  heard_.Rebase(static_cast<std::uint64_t>(target), output->GetPlayedBytes());
  fileEnded_ = result != CDecoder::kSeekLanded;
  lastPlayedBytes_ = -1;
  idlePolls_ = 0;
  restartedIdle_ = false;
  if (!wasPaused) output->Start();
  ++seeksDone_;
}

void Player::LeaveLoop() {
  std::scoped_lock hold(pauseGate_);
  loopLeft_ = true;
  // A Pause that came in just before the end has nothing to pause: Play must start
  // the file anew rather than resume a playback without a thread.
  paused = 0;
}

bool Player::QueuePlayedOut() {
  if (output->DeviceFailed()) {
    problem_ = PlaybackProblem::kDeviceLost;
    return true;
  }
  const std::int64_t played = output->GetPlayedBytes();
  if (played >= bytesWritten_) return true;
  if (played != lastPlayedBytes_) {
    lastPlayedBytes_ = played;
    idlePolls_ = 0;
    restartedIdle_ = false;
  } else if (++idlePolls_ >= kPlayOutIdlePolls) {
    // Not moving: a lost device comes back through Start, and while it cannot, the
    // wait goes on at the write loop's pace until it is gone for good. A device that
    // is there but still does not move after that must not hold the playback open.
    if (restartedIdle_) return true;
    if (output->Start() == 0) {
      if (output->DeviceFailed()) problem_ = PlaybackProblem::kDeviceLost;
      wake_.Wait(kWriteRetry);
      return DeviceLost();
    }
    restartedIdle_ = true;
    idlePolls_ = 0;
  }
  wake_.Wait(kPlayOutPoll);
  return false;
}

bool Player::WriteBlock(std::uint32_t byteCount, std::uint32_t* taken) {
  std::uint32_t offset = 0;
  std::uint32_t remaining = byteCount;
  const std::uint64_t seeksBefore = seeksDone_;
  for (;;) {
    const std::uint32_t took = output->Write(pcm.data() + offset, remaining);
    bytesWritten_ += took;
    *taken += took;
    remaining -= took;
    if (remaining == 0) return true;
    offset += took;
    // The rest of the block belongs to the place being left.
    if (seeks_.Pending()) return true;
    // A dead device or a stop asked for meanwhile ends the retries: neither may hang Stop.
    if (output->DeviceFailed()) {
      problem_ = PlaybackProblem::kDeviceLost;
      return false;
    }
    if (stopRequested) return false;
    if (!paused) wake_.Wait(kWriteRetry);
    if (stopRequested || !HonourPause()) return false;
    if (seeksDone_ != seeksBefore) return true;  // carried out while paused
  }
}

void Player::TearDown() {
  {
    std::scoped_lock hold(lock);
    if (output) output->Stop();
    if (analyzer) analyzer->Detach();
    output.reset();  // DestroyAudioOutput
    decoder.reset();
    analyzer.reset();
    shell::ShowPlaybackState(shell::PlaybackState::kStopped, shell::ShownBy::kTearDown);
  }
  shell::fileReady = 0;
  if (window != nullptr) window->PostMessage(WM_PLAYBACK_ENDED, serial_, 0);
  stopEvent->Set();  // the last thing done with this Player
}
