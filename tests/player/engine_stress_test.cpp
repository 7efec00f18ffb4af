// Thousands of random command sequences against the engine on scripted devices:
// every step returns within the bound, every playback's output and display are
// destroyed, and after every stop or end the File menu shows the engine's state.
// The run length is a count of sequences, so it costs the same on any machine;
// TONARIA_STRESS_SEQUENCES and TONARIA_STRESS_RANDOM change it.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdlib>
#include <random>

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

enum class Step { kPlayShort, kPlayLong, kPlayUnknown, kPause, kResume, kStop, kToggle, kLetItEnd, kGrant };

class EngineStressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto shortPcm = MakeTestSignal(44100, 2, 1500, 3);  // ends by itself within two reads
    const auto longPcm = MakeTestSignal(22050, 1, 22050, 4);
    ASSERT_TRUE(WriteSoundFile(TempPath("short.wav"), 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, shortPcm));
    ASSERT_TRUE(WriteSoundFile(TempPath("long.wav"), 22050, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, longPcm));
    shortBytes = ToBytes(shortPcm);
  }

  // Checks that hold whenever no playback runs: objects released, menu in step.
  void ExpectSettled(EngineSession& session, const std::string& where) {
    session.PumpMessages();
    ASSERT_EQ(session.MenuMismatch(), "") << where;
    ASSERT_EQ(session.LeftoverObjects(), "") << where;
  }

  FakeWindow window;
  ScriptedOutputDevices devices;
  RecordingDisplayFactory displays;
  std::vector<std::uint8_t> shortBytes;
};

TEST_F(EngineStressTest, RandomCommandSequencesNeverHangLeakOrDesynchroniseTheMenu) {
  const unsigned sequences = EnvOr("TONARIA_STRESS_SEQUENCES", kDefaultSequences);
  const unsigned randomStart = EnvOr("TONARIA_STRESS_RANDOM", 20261206);
  std::mt19937 random(randomStart);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  const std::u16string shortPath = platform::FromUtf8(TempPath("short.wav"));
  const std::u16string longPath = platform::FromUtf8(TempPath("long.wav"));
  const std::u16string unknownPath = platform::FromUtf8(TempPath("notes.txt"));
  MessageBoxRecorder boxes;  // "Unknown file type." boxes land here, not on stderr
  int naturalEnds = 0;
  int pausesReached = 0;

  for (unsigned s = 0; s < sequences; ++s) {
    SCOPED_TRACE("sequence " + std::to_string(s) + ", random start " + std::to_string(randomStart));
    EngineSession session(window, devices, displays);
    const int steps = 3 + pick(8);
    for (int i = 0; i < steps; ++i) {
      const auto step = static_cast<Step>(pick(9));
      switch (step) {
        case Step::kPlayShort: session.PlayNewFile(shortPath); break;
        case Step::kPlayLong:
          // Held at the output's gate, so it is still playing when the next command comes.
          devices.next->gated = true;
          session.PlayNewFile(longPath);
          break;
        case Step::kPlayUnknown: session.PlayNewFile(unknownPath); break;
        case Step::kPause:
          session.Pause();
          if (session.state() == EngineSession::State::kPaused && session.lastOutput() &&
              session.lastOutput()->gated) {
            // Let a Write in progress finish so that the thread reaches its pause: the
            // output is then stopped as often as started. (A Resume and Pause in quick
            // succession may leave the thread in its earlier pause, which is as good.)
            auto out = session.lastOutput();
            out->Grant(Player::kPcmBytes);
            ASSERT_TRUE(out->WaitUntil([&] { return out->stopCalls >= out->startCalls || out->destroyed; }))
                << "the playback thread never paused";
            ++pausesReached;
          }
          break;
        case Step::kResume: session.Resume(); break;
        case Step::kStop: session.Stop(); ExpectSettled(session, "after Stop"); break;
        case Step::kToggle: session.Toggle(pick(3)); break;
        case Step::kLetItEnd:
          if (session.current() != nullptr && session.state() != EngineSession::State::kPaused) {
            if (session.lastOutput()) session.lastOutput()->OpenGate();
            ASSERT_TRUE(session.WaitEnded()) << "a playback left to run never ended";
            ++naturalEnds;
            ExpectSettled(session, "after the file ended by itself");
            ASSERT_EQ(session.state(), EngineSession::State::kStopped);
            ASSERT_EQ(shell::fileReady.load(), 0);
          }
          break;
        case Step::kGrant:
          if (session.lastOutput()) session.lastOutput()->Grant(std::uniform_int_distribution<int>(0, 9000)(random));
          break;
      }
    }
    session.Stop();
    ExpectSettled(session, "at the end of the sequence");
  }
  EXPECT_EQ(devices.created.size(), displays.created.size())
      << "every playback of a known type made one output and one display";
  RecordProperty("natural_ends", naturalEnds);
  RecordProperty("pauses_reached", pausesReached);
  EXPECT_GT(naturalEnds, 0);
  EXPECT_GT(pausesReached, 0);
}

TEST_F(EngineStressTest, ShortFilesPlayedBackToBackArriveWhole) {
  EngineSession session(window, devices, displays);
  const std::u16string path = platform::FromUtf8(TempPath("short.wav"));
  for (int i = 0; i < 300; ++i) {
    session.PlayNewFile(path);
    ASSERT_TRUE(session.WaitEnded()) << "play " << i;
    ExpectSettled(session, "play " + std::to_string(i));
    std::scoped_lock hold(session.lastOutput()->mutex);
    ASSERT_TRUE(session.lastOutput()->written == shortBytes) << "play " << i;
  }
}

}  // namespace
