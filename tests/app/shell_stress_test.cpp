// Random sequences of what a user can do, through the real shell and engine: after
// each step the File menu, title, media controls and engine agree, every finished
// playback is released, and a file left to end arrives whole.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <random>

#include "app/resources.h"
#include "app/shell_globals.h"
#include "app/shell_mpris_host.h"
#include "app/win_main.h"
#include "player/player.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/audio_fixtures.h"

namespace app_testing {
namespace {

using namespace app;

// Thousands of sequences, fewer under the sanitizers, which run many times slower.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultSequences = 200;
#else
constexpr int kDefaultSequences = 1000;
#endif

int EnvOr(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::atoi(value) : fallback;
}

class ShellStress : public ShellTest {
 protected:
  // Menu, title, media controls and engine say the same thing.
  bool Consistent() {
    const std::u16string title = Title();
    const FileMenuFlags menu = FileMenu();
    const Player* player = shell::currentPlayer.get();
    const mpris::PlaybackState status = app::mprisHost.GetPlaybackState();
    if (title.ends_with(u"[Playing]"))
      return menu == kPlayingMenu && status == mpris::PlaybackState::kPlaying &&
             player != nullptr && !player->IsPaused();
    if (title.ends_with(u"[Paused]"))
      return menu == kPausedMenu && status == mpris::PlaybackState::kPaused && player != nullptr &&
             player->IsPaused();
    return menu == kStoppedMenu && status == mpris::PlaybackState::kStopped;
  }

  // The latest output takes a little more, then nothing until the next grant.
  void Trickle(std::uint64_t bytes) {
    auto& state = *devices.created.back();
    std::scoped_lock hold(state.mutex);
    state.full = false;
    state.metered = true;
    state.budget += bytes;
  }

  // Lets the latest output take everything; if it belongs to a playback that is
  // playing, that file ends by itself and must have arrived whole.
  void LetItEnd(const std::vector<std::vector<std::uint8_t>>& files) {
    const auto out = devices.created.back();
    const bool playing = Title().ends_with(u"[Playing]") && !Destroyed(*out);
    out->OpenGate();
    ReleaseLatestOutput();
    if (!playing) return;
    ASSERT_TRUE(PumpUntil([&] { return Destroyed(*out); })) << "a file left to play never ended";
    std::scoped_lock hold(out->mutex);
    EXPECT_TRUE(std::find(files.begin(), files.end(), out->written) != files.end())
        << "the file did not arrive whole (" << out->written.size() << " bytes)";
    ++wholeFiles;
  }
  int wholeFiles = 0;  // files left to end and checked

  static bool Destroyed(const testing_support::ScriptedOutputState& out) {
    std::scoped_lock hold(out.mutex);
    return out.destroyed;
  }

  // Everything is destroyed but the output and display of a playback still on.
  bool Released() {
    const std::u16string title = Title();
    return Unreleased(title.ends_with(u"[Playing]") || title.ends_with(u"[Paused]") ? 1 : 0) == 0;
  }

  // A click on a File menu item: a grayed item cannot be chosen.
  void Click(std::uint32_t id) {
    if ((MenuState(id) & 3) == 0) Command(id);
  }
};

TEST_F(ShellStress, RandomSequencesKeepMenuTitleAndEngineInStep) {
  const std::string longWav = MakeWav("stress-long.wav", 44100);
  const std::string shortWav = MakeWav("stress-short.wav", 2000);
  const std::string text = testing_support::TempPath("stress-notes.txt");
  std::ofstream(text) << "not audio";
  const std::vector<std::vector<std::uint8_t>> files = {
      testing_support::ToBytes(testing_support::MakeTestSignal(44100, 2, 44100)),
      testing_support::ToBytes(testing_support::MakeTestSignal(44100, 2, 2000))};

  std::mt19937 random(EnvOr("TONARIA_STRESS_RANDOM", 1206));
  const auto play = [&](std::optional<std::u16string> answer) {
    dialogAnswer = std::move(answer);  // none: a cancelled dialog, if one is asked for
    Click(IDM_PLAY);
  };
  const std::function<void()> actions[] = {
      [&] { play(Wide(random() % 4 == 0 ? shortWav : longWav)); },
      [&] { play(std::nullopt); },
      [&] { play(Wide(text)); },  // the engine answers "Unknown file type."
      [&] { Click(IDM_PAUSE); },
      [&] { Click(IDM_STOP); },
      [&] { Command(random() % 2 ? IDM_SHOW_PEAKS : IDM_SHOW_GRIDS); },
      [&] { Command(IDM_SHOW_GRADIENT); },
      [&] { Drop({random() % 2 ? longWav : shortWav}); },
      [&] { Drop({text}); },
      [&] {
        Drop({longWav, shortWav});
      },
      [&] { Key('a'); },
      [&] { Key('d'); },
      [&] { Key('s'); },
      [&] {
        if (!devices.created.empty()) LetItEnd(files);
      },
      [&] {
        if (!devices.created.empty()) Trickle(random() % 9000);
      },
  };
  const int sequences = EnvOr("TONARIA_STRESS_SEQUENCES", kDefaultSequences);
  for (int s = 0; s < sequences; ++s) {
    Start();
    for (int step = 0; step < 20; ++step) {
      const auto action =
          std::uniform_int_distribution<std::size_t>(0, std::size(actions) - 1)(random);
      SCOPED_TRACE("sequence " + std::to_string(s) + ", step " + std::to_string(step) +
                   ", action " + std::to_string(action));
      actions[action]();
      ASSERT_TRUE(PumpUntil([&] { return Consistent() && Released(); }))
          << "title " << testing_support::Narrow(Title()) << ", menu " << FileMenu()[0]
          << FileMenu()[1] << FileMenu()[2] << ", " << Unreleased() << " unreleased";
    }
    Command(app::IDM_EXIT);
    ASSERT_TRUE(PumpUntil([&] { return app::MainWindow()->IsDestroyed(); }))
        << "Exit, sequence " << s;
    CloseShell();
    ASSERT_EQ(Unreleased(), 0u) << "outputs or displays outlived Exit, sequence " << s;
  }
  RecordProperty("whole_files", wholeFiles);
  EXPECT_GT(wholeFiles, 0);
}

}  // namespace
}  // namespace app_testing
