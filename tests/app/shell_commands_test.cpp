// Play, Pause, Stop, their keys and hot keys, and the display toggles.
#include <QAction>
#include <QMessageBox>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

#include "app/resources.h"
#include "app/shell_globals.h"
#include "app/shell_mpris_host.h"
#include "platform/qt/message_boxes.h"
#include "platform/ui/message_box.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/audio_fixtures.h"

namespace app_testing {
namespace {

using namespace app;
using shell::currentPlayer;
using testing_support::TempPath;
namespace ui = platform::ui;
namespace qt = platform::qt;

class ShellCommands : public ShellTest {
 protected:
  // Plays a WAV chosen in the open dialog with the A key.
  void PlayFromDialog() {
    path = MakeWav("commands.wav");
    dialogAnswer = Wide(path);
    Key('a');
    ASSERT_TRUE(currentPlayer);
  }
  void StartPlaying() {
    Start();
    PlayFromDialog();
  }
  void HotKey(std::uint32_t id) { Window().SendMessage(qt::WM_HOTKEY, id, 0); }
  std::string path;
};

// Every state is shown alike in the title, the File menu, the media controls and the
// engine, with one playback throughout: resuming neither asks for a file nor starts anew.
struct StateRow {
  const char* keys;  // pressed once a file plays
  const char* word;
  FileMenuFlags menu;
  mpris::PlaybackState status;
  std::uint32_t refused = 0;  // a hot key sent last, whose grayed item changes nothing
};
void PrintTo(const StateRow& row, std::ostream* os) { *os << row.word << row.keys; }

using enum mpris::PlaybackState;
class ShellStates : public ShellCommands, public ::testing::WithParamInterface<StateRow> {};

TEST_P(ShellStates, ShowTheSameInTitleMenuMediaControlsAndEngine) {
  const StateRow& row = GetParam();
  StartPlaying();
  for (const char* key = row.keys; *key != '\0'; ++key) Key(*key);
  if (row.refused != 0) HotKey(row.refused);
  EXPECT_EQ(Title(), u"Tonaria - [commands.wav][" + Wide(row.word) + u"]");
  EXPECT_EQ(FileMenu(), row.menu);
  EXPECT_EQ(mprisHost.GetPlaybackState(), row.status);
  EXPECT_EQ(devices.created.size(), 1u);
  EXPECT_EQ(dialogRequests.size(), 1u);
  // Stop releases the Player and forgets the file.
  EXPECT_EQ(currentPlayer != nullptr, row.status != kStopped);
  EXPECT_EQ(currentPlayer != nullptr && currentPlayer->IsPaused(), row.status == kPaused);
  EXPECT_EQ(shell::fileReady.load(), row.status == kStopped ? 0 : 1);
}

const StateRow kStates[] = {
    {.keys = "", .word = "Playing", .menu = kPlayingMenu, .status = kPlaying, .refused = IDM_PLAY},
    {.keys = "d", .word = "Paused", .menu = kPausedMenu, .status = kPaused, .refused = IDM_PAUSE},
    {.keys = "da", .word = "Playing", .menu = kPlayingMenu, .status = kPlaying},
    {.keys = "s", .word = "Stopped", .menu = kStoppedMenu, .status = kStopped},
    {.keys = "ds", .word = "Stopped", .menu = kStoppedMenu, .status = kStopped},
};
INSTANTIATE_TEST_SUITE_P(Keys, ShellStates, ::testing::ValuesIn(kStates), [](const auto& info) {
  return std::string(info.param.word) + "_" + info.param.keys;
});

// Keys and hot keys are refused while their File menu item is grayed; other keys,
// unknown hot keys and the About accelerator change nothing; X exits.
TEST_F(ShellCommands, WhenIdleOnlyPlayAndExitKeysAct) {
  Start();
  Key('d');
  Key('s');
  Key('q');
  PressKey(Qt::Key_Slash, Qt::AltModifier, "/");  // command 104: default processing
  HotKey(4242);
  EXPECT_EQ(Title(), u"Tonaria");
  EXPECT_EQ(FileMenu(), kStoppedMenu);
  EXPECT_FALSE(Window().IsDestroyed());
  Key('x');
  EXPECT_TRUE(Window().IsDestroyed());
}

TEST_F(ShellCommands, CancelledOpenDialogStartsNothingAndItsFilterShowsEachPatternOnce) {
  Start();
  dialogAnswer = std::nullopt;
  Command(IDM_PLAY);
  ASSERT_EQ(dialogRequests.size(), 1u);
  const qt::OpenFileName& request = dialogRequests.front();
  // Texts that name their pattern already are shown as they are, not with it twice.
  EXPECT_EQ(qt::QtFilterOf(request).toStdString(),
            "All supported files (*.mp3 *.wav *.ogg *.wma *.ape *.flac);;MP3 files(*.mp3);;Wave "
            "files(*.wav);;Ogg vorbis files(*.ogg);;WMA files(*.wma);;APE files(*.ape);;FLAC "
            "files(*.flac)");
  EXPECT_EQ(request.filterIndex, 1);
  EXPECT_EQ(request.flags, 0x1800u);
  EXPECT_EQ(request.initialDir, u"") << "the first dialog leaves the folder to the dialog";
  EXPECT_EQ(shell::currentPath[0], u'\0');
  EXPECT_FALSE(currentPlayer);
  EXPECT_EQ(Title(), u"Tonaria");
  EXPECT_EQ(FileMenu(), kStoppedMenu);
}

// The dialog opens where the file chosen last came from, whichever way it came;
// a cancelled dialog changes nothing.
TEST_F(ShellCommands, TheOpenDialogStartsInTheFolderOfTheFileChosenLast) {
  for (const char* folder : {"album one", "album two"}) {
    std::filesystem::create_directories(TempPath(folder));
  }
  const std::string fromCommandLine = MakeWav("album one/a.wav");
  Start(Wide(fromCommandLine));
  Key('s');
  const std::string fromDialog = MakeWav("album two/b.wav");
  dialogAnswer = Wide(fromDialog);
  Command(IDM_PLAY);
  Key('s');
  dialogAnswer = std::nullopt;
  Command(IDM_PLAY);
  Command(IDM_PLAY);
  Drop({fromCommandLine});
  Key('s');
  Command(IDM_PLAY);

  const std::u16string one = Wide(TempPath("album one/"));
  const std::u16string two = Wide(TempPath("album two/"));
  std::vector<std::u16string> folders;
  for (const qt::OpenFileName& request : dialogRequests) folders.push_back(request.initialDir);
  EXPECT_EQ(folders, (std::vector<std::u16string>{one, two, two, one}));
}

TEST_F(ShellCommands, TogglesBeforeTheFirstPlaybackChangeNothing) {
  Start();
  for (std::uint32_t id : {IDM_SHOW_PEAKS, IDM_SHOW_GRIDS, IDM_SHOW_GRADIENT}) {
    Command(id);
    EXPECT_EQ(MenuState(id), kItemChecked) << id;
  }
  EXPECT_EQ(shell::showPeaks + shell::showGrids + shell::showGradient, 3);
}

// Once a file plays, a toggle flips the flag, the check mark and the analyser's field,
// and the next playback takes the flags too.
TEST_F(ShellCommands, TogglesFlipFlagCheckMarkAndTheAnalysersField) {
  StartPlaying();
  for (std::uint32_t id : {IDM_SHOW_PEAKS, IDM_SHOW_GRADIENT, IDM_SHOW_GRADIENT, IDM_SHOW_GRIDS}) {
    Command(id);
  }
  EXPECT_EQ(shell::showPeaks, 0);
  EXPECT_EQ(MenuState(IDM_SHOW_PEAKS), kItemEnabled);
  EXPECT_EQ(Window().GetMenu()->GetMenuText(IDM_SHOW_PEAKS), MenuItemText(IDM_SHOW_PEAKS));
  EXPECT_EQ(MenuState(IDM_SHOW_GRADIENT), kItemChecked);

  for (const char* playback : {"the toggled playback", "a new playback"}) {
    SCOPED_TRACE(playback);
    auto display = displays.created.back();
    Command(IDM_STOP);
    {
      std::scoped_lock hold(display->mutex);
      ASSERT_TRUE(display->destroyed);
      EXPECT_EQ(display->flags[0], 0) << "showPeaks reaches the analyser";
      EXPECT_EQ(display->flags[1], 0);
      EXPECT_EQ(display->flags[2], 1);
    }
    Command(IDM_PLAY);  // asks again: the dialog answers the same file
    ASSERT_TRUE(currentPlayer);
  }
}

TEST_F(ShellCommands, AFileEndingByItselfShowsStoppedAndTogglesStillWork) {
  StartPlaying();
  QAction* play = FindAction(Window().Widget(), QString::fromStdU16String(MenuItemText(IDM_PLAY)));
  ASSERT_NE(play, nullptr);
  PumpPending();
  EXPECT_FALSE(play->isEnabled());
  ReleaseLatestOutput();
  ASSERT_TRUE(WaitForTitleEnding(u"[Stopped]"));
  // The tear-down rewrote the menu from the playback thread; the menu bar follows.
  EXPECT_TRUE(PumpUntil([&] { return play->isEnabled(); }));
  EXPECT_EQ(Title(), u"Tonaria - [commands.wav][Stopped]");
  EXPECT_EQ(FileMenu(), kStoppedMenu);
  EXPECT_EQ(shell::fileReady.load(), 0);
  Command(IDM_SHOW_GRIDS);  // toggles still work without an analyser
  EXPECT_EQ(MenuState(IDM_SHOW_GRIDS), kItemEnabled);
  ASSERT_TRUE(currentPlayer) << "the ended Player stays until replaced";
  EXPECT_FALSE(currentPlayer->HasAnalyzer());
}

TEST_F(ShellCommands, ThePrivateMessageSetsFileReadyWithOneAlone) {
  Start();
  Window().SendMessage(WM_SET_FILE_READY, 1, 0);
  EXPECT_EQ(shell::fileReady.load(), 1);
  Window().SendMessage(WM_SET_FILE_READY, 7, 0);
  EXPECT_EQ(shell::fileReady.load(), 0);
}

TEST_F(ShellCommands, CommandsFromANestedLoopDuringPlayAreRefused) {
  Start();
  dialogAnswer = u"/tmp/unknown.xyz";  // the engine answers with "Unknown file type."
  std::vector<std::u16string> shown;
  auto previous = ui::SetMessageBoxSink(
      [&](ui::HWND, std::u16string_view text, std::u16string_view, std::uint32_t) {
        shown.emplace_back(text);
        // What a key pressed while the box is up would do.
        for (std::uint32_t id : {IDM_PAUSE, IDM_PLAY, IDM_STOP}) {
          Window().SendMessage(qt::WM_COMMAND, id, 0);
        }
        return ui::IDOK;
      });
  Command(IDM_PLAY);
  ui::SetMessageBoxSink(previous);
  ASSERT_EQ(shown, (std::vector<std::u16string>{u"Unknown file type."}));
  EXPECT_EQ(dialogRequests.size(), 1u);
  ASSERT_TRUE(currentPlayer);
  EXPECT_TRUE(WaitForTitleEnding(u"[Stopped]")) << "a playback that cannot start ends at once";
}

// A playback that ends because the sound went away for good is not a file that
// ended: the window says so in a box, once.
TEST_F(ShellCommands, APlaybackCutShortByALostDeviceSaysSoInABox) {
  devices.next->full = false;
  devices.next->deviceFailed = true;
  StartPlaying();
  ASSERT_TRUE(WaitForTitleEnding(u"[Stopped]"));
  ASSERT_TRUE(PumpUntil([&] { return boxes->Count() > 0; }));
  const std::vector<testing_support::RecordedBox> shown = boxes->Boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, u"The sound server went away; playback stopped.");
  EXPECT_EQ(shown[0].caption, u"Error");
  EXPECT_EQ(shown[0].owner, &Window());
  EXPECT_TRUE(currentPlayer->DeviceLost());
}

// A box asked for on the playback thread during the tear-down, as a decoder's
// close-time notice is, while the window's thread waits in Stop.
TEST_F(ShellCommands, ABoxAskedForDuringTheTearDownDoesNotDeadlockStop) {
  std::atomic<int> answer{-1};
  devices.next->onStop = [&answer] {
    answer = ui::MessageBox(nullptr, u"Closing notice.", u"Error", ui::MB_ICONEXCLAMATION);
  };
  qt::InstallMessageBoxes();
  StartPlaying();
  std::promise<void> stopped;
  std::thread watchdog([done = stopped.get_future()] {
    if (done.wait_for(testing_support::kBound) == std::future_status::ready) return;
    std::fprintf(stderr, "Stop deadlocked with the playback thread's message box\n");
    std::abort();
  });
  Command(IDM_STOP);
  stopped.set_value();
  watchdog.join();
  EXPECT_TRUE(Title().ends_with(u"[Stopped]"));
  EXPECT_EQ(answer.load(), ui::IDOK) << "the playback thread's box answers at once";
  // Once the window's thread is free, the box is shown there.
  QMessageBox* shown = WaitForBox(QStringLiteral("Closing notice."));
  ui::SetMessageBoxSink({});
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->windowTitle(), QStringLiteral("Error"));
  EXPECT_EQ(shown->icon(), QMessageBox::Warning);
  shown->close();
}

}  // namespace
}  // namespace app_testing
