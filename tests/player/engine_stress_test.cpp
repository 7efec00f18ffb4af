// Thousands of random command sequences against the engine on scripted devices:
// every step returns within the bound, every playback's output and display are
// destroyed, after every stop or end the File menu shows the engine's state, and a
// file left to end arrived whole, whatever came before it. The run length is a count
// of sequences, so it costs the same on any machine; TONARIA_STRESS_SEQUENCES and
// TONARIA_STRESS_RANDOM change it.
#include <cstdlib>
#include <random>

#include <gtest/gtest.h>
#include <sndfile.h>

#include "app/shell_globals.h"
#include "platform/kernel/text.h"
#include "tests/player/engine_session.h"
#include "tests/support/audio_fixtures.h"
#include "tests/support/message_box_recorder.h"

namespace {

using namespace testing_support;

unsigned EnvOr(const char* name, unsigned fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? static_cast<unsigned>(std::strtoul(value, nullptr, 10)) : fallback;
}

// ThreadSanitizer makes every thread start and lock many times dearer; fewer
// sequences keep that run near the plain one's time while still mixing every step.
#if defined(__SANITIZE_THREAD__)
constexpr unsigned kDefaultSequences = 400;
#else
constexpr unsigned kDefaultSequences = 2000;
#endif

enum class Step { kShort, kLong, kUnknown, kPause, kResume, kStop, kToggle, kLetItEnd, kGrant };

using Pcm = std::vector<std::uint8_t>;

// A WAV of the test signal; its PCM bytes.
Pcm Wav(const std::string& name, int rate, int channels, int frames) {
  const auto pcm = MakeTestSignal(rate, channels, frames, channels + 2);
  EXPECT_TRUE(
      WriteSoundFile(TempPath(name), rate, channels, SF_FORMAT_WAV | SF_FORMAT_PCM_16, pcm));
  return ToBytes(pcm);
}

TEST(EngineStressTest, RandomCommandSequencesNeverHangLeakOrDesynchroniseTheMenu) {
  const unsigned sequences = EnvOr("TONARIA_STRESS_SEQUENCES", kDefaultSequences);
  const unsigned randomStart = EnvOr("TONARIA_STRESS_RANDOM", 20261206);
  std::mt19937 random(randomStart);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  const auto shortBytes = Wav("short.wav", 44100, 2, 1500);  // ends by itself within two reads
  const auto longBytes = Wav("long.wav", 22050, 1, 22050);
  const std::u16string shortPath = platform::FromUtf8(TempPath("short.wav"));
  const std::u16string longPath = platform::FromUtf8(TempPath("long.wav"));
  const std::u16string unknownPath = platform::FromUtf8(TempPath("notes.txt"));
  FakeWindow window;
  ScriptedOutputDevices devices;
  RecordingDisplayFactory displays;
  MessageBoxRecorder boxes;      // "Unknown file type." boxes land here, not on stderr
  const Pcm* playing = nullptr;  // the current file's PCM
  int naturalEnds = 0;
  int pausesReached = 0;

  for (unsigned s = 0; s < sequences; ++s) {
    SCOPED_TRACE("sequence " + std::to_string(s) + ", random start " + std::to_string(randomStart));
    EngineSession session(window, devices, displays);
    // Checks that hold whenever no playback runs: objects released, menu in step.
    const auto expectSettled = [&session](const char* where) {
      session.PumpMessages();
      EXPECT_EQ(session.MenuMismatch(), "") << where;
      EXPECT_EQ(session.LeftoverObjects(), "") << where;
    };
    const auto play = [&](const std::u16string& path, const Pcm* pcm, bool gated) {
      devices.next->gated = gated;
      session.PlayNewFile(path);
      playing = pcm;
    };
    for (int i = 3 + pick(8); i > 0 && !HasFailure(); --i) {
      const std::shared_ptr<ScriptedOutputState> out = session.lastOutput();
      const auto step = static_cast<Step>(pick(9));
      if (step == Step::kShort) play(shortPath, &shortBytes, false);
      // Held at the output's gate, so it is still playing when the next command comes.
      if (step == Step::kLong) play(longPath, &longBytes, true);
      if (step == Step::kUnknown) play(unknownPath, nullptr, false);
      if (step == Step::kResume) session.Resume();
      if (step == Step::kToggle) session.Toggle(pick(3));
      if (step == Step::kGrant && out) out->Grant(std::uniform_int_distribution(0, 9000)(random));
      if (step == Step::kStop) {
        session.Stop();
        expectSettled("after Stop");
      }
      if (step == Step::kPause) {
        session.Pause();
        if (session.state() == EngineSession::State::kPaused && out && out->gated) {
          // Let a Write in progress finish so that the thread reaches its pause: the
          // output is then stopped as often as started. (A Resume and Pause in quick
          // succession may leave the thread in its earlier pause, which is as good.)
          out->Grant(Player::kPcmBytes);
          ASSERT_TRUE(out->WaitUntil([&] {
            return out->stopCalls >= out->startCalls || out->destroyed;
          })) << "the playback thread never paused";
          ++pausesReached;
        }
      }
      if (step == Step::kLetItEnd && session.current() != nullptr &&
          session.state() != EngineSession::State::kPaused) {
        if (out) out->OpenGate();
        ASSERT_TRUE(session.WaitEnded()) << "a playback left to run never ended";
        ++naturalEnds;
        expectSettled("after the file ended by itself");
        EXPECT_EQ(session.state(), EngineSession::State::kStopped);
        EXPECT_EQ(shell::fileReady.load(), 0);
        if (out) {
          std::scoped_lock hold(out->mutex);
          EXPECT_TRUE(out->written == *playing) << "the file did not arrive whole";
        }
      }
    }
    session.Stop();
    expectSettled("at the end of the sequence");
    if (HasFailure()) break;
  }
  EXPECT_EQ(devices.created.size(), displays.created.size())
      << "every playback of a known type made one output and one display";
  RecordProperty("natural_ends", naturalEnds);
  RecordProperty("pauses_reached", pausesReached);
  EXPECT_GT(naturalEnds, 0);
  EXPECT_GT(pausesReached, 0);
}

}  // namespace
