// Files reaching the shell: drops, the command line, over-long paths; the late end
// notice of a replaced playback; the About box.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/about_box.h"
#include "app/command_line.h"
#include "app/resources.h"
#include "app/shell_globals.h"
#include "app/win_main.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/audio_fixtures.h"

namespace app_testing {
namespace {

using namespace app;
using testing_support::Narrow;
using testing_support::TempDir;
using testing_support::TempPath;
namespace qt = platform::qt;

class ShellInput : public ShellTest {
 protected:
  // The file was refused with one box saying `message`, and nothing plays.
  void ExpectRefused(const char16_t* message) {
    EXPECT_FALSE(currentPlayer);
    EXPECT_EQ(shell::fileReady.load(), 0);
    EXPECT_EQ(Title(), u"Tonaria");
    ASSERT_EQ(boxes->Count(), 1u);
    const auto box = boxes->Boxes().front();
    EXPECT_EQ(box.text, message);
    EXPECT_EQ(box.caption, u"Error");
    EXPECT_EQ(box.flags, 0x30u);
    EXPECT_EQ(box.owner, app::MainWindow());
  }
};

TEST_F(ShellInput, DropOfTwoFilesStartsNothingAndClearsFileReady) {
  Start();
  shell::fileReady = 1;
  Drop({MakeWav("one.wav"), MakeWav("two.wav")});
  EXPECT_FALSE(currentPlayer);
  EXPECT_EQ(shell::fileReady.load(), 0);
  EXPECT_EQ(Title(), u"Tonaria");
}

TEST_F(ShellInput, DropPlaysAndADropWhileAnotherPlaysReplacesItAndTheOldEndNeverOverwritesTheTitle) {
  Start();
  Drop({MakeWav("first.wav")});
  ASSERT_TRUE(currentPlayer);
  EXPECT_EQ(Title(), u"Tonaria - [first.wav][Playing]");
  EXPECT_EQ(shell::fileReady.load(), 1);
  EXPECT_EQ(boxes->Count(), 0u);
  const std::uint64_t firstSerial = currentPlayer->Serial();
  Drop({MakeWav("second.wav")});
  ASSERT_TRUE(currentPlayer);
  EXPECT_NE(currentPlayer->Serial(), firstSerial);
  // The first playback's end notice is still queued; let it arrive.
  PumpPending();
  Window().SendMessage(WM_PLAYBACK_ENDED, firstSerial, 0);
  EXPECT_EQ(Title(), u"Tonaria - [second.wav][Playing]");
}

TEST_F(ShellInput, DropWhilePausedPlaysTheDroppedFileNotThePausedOne) {
  Start();
  Drop({MakeWav("paused.wav")});
  Command(IDM_PAUSE);
  const std::uint64_t old = currentPlayer->Serial();
  Drop({MakeWav("fresh.wav")});
  ASSERT_TRUE(currentPlayer);
  EXPECT_NE(currentPlayer->Serial(), old);
  EXPECT_TRUE(Narrow(currentPlayer->filePath).ends_with("fresh.wav"));
  EXPECT_EQ(Title(), u"Tonaria - [fresh.wav][Playing]");
}

TEST_F(ShellInput, DropOfAnUnsupportedFileShowsTheMessageAndStartsNothing) {
  Start();
  std::ofstream(TempPath("notes.txt")) << "not audio";
  Drop({TempPath("notes.txt")});
  ExpectRefused(kUnsupportedFileText);
}

TEST_F(ShellInput, OverLongDroppedPathIsRefusedNotCut) {
  Start();
  const std::string dir = TempDir() + "/" + std::string(200, 'd');
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/" + std::string(60, 'f') + ".wav";
  std::ofstream(path) << "x";
  Drop({path});
  ExpectRefused(kPathTooLongText);
  EXPECT_EQ(shell::currentPath[0], u'\0');
}

TEST_F(ShellInput, UnsupportedCommandLineFileShowsTheMessage) {
  Start(u"/tmp/readme.txt");
  ExpectRefused(kUnsupportedFileText);
}

TEST_F(ShellInput, OverLongCommandLinePathIsRefusedNotCut) {
  Start(Wide("/" + std::string(300, 'p') + ".wav"));
  ExpectRefused(kPathTooLongText);
  EXPECT_EQ(shell::currentPath[0], u'\0');
}

struct CommandLineCase {
  const char* name;
  std::u16string commandLine;
  std::u16string expectedPath;
};

class TakePath : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(TakePath, FollowsTheShellsRule) {
  EXPECT_EQ(Narrow(TakePathFromCommandLine(GetParam().commandLine)), Narrow(GetParam().expectedPath));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, TakePath,
    ::testing::Values(
        CommandLineCase{"Empty", u"", u""},
        CommandLineCase{"BareName", u"song.mp3", u"song.mp3"},
        CommandLineCase{"QuotedWithMoreArguments", u"\"/music/my song.wav\" --x other", u"/music/my song.wav"},
        CommandLineCase{"TwoUnquotedPathsSameStart", u"/music/a.wav /music/b.wav", u"/music/a.wav"},
        CommandLineCase{"WindowsPaths", u"C:\\a.mp3 C:\\b.mp3", u"C:\\a.mp3"},
        CommandLineCase{"RepeatedStartInsideOnePath", u"/home/u/hits/x.wav", u"/home/u/hits/x.wav"},
        CommandLineCase{"DifferentStartsAreOnePath", u"/a.wav /b.wav", u"/a.wav /b.wav"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLineOptions, HelpVersionUnknownAndEndOfOptions) {
  const char* help[] = {"tonaria", "x.wav", "--help"};
  EXPECT_EQ(ParseOptions(3, help).action, OptionAction::kHelp);
  const char* version[] = {"tonaria", "--version"};
  EXPECT_EQ(ParseOptions(2, version).action, OptionAction::kVersion);
  const char* unknown[] = {"tonaria", "--loud"};
  const ParsedOptions bad = ParseOptions(2, unknown);
  EXPECT_EQ(bad.action, OptionAction::kUsageError);
  EXPECT_EQ(bad.badOption, "--loud");
  const char* ended[] = {"tonaria", "--", "--help", "b c.wav"};
  const ParsedOptions run = ParseOptions(4, ended);
  EXPECT_EQ(run.action, OptionAction::kRun);
  EXPECT_EQ(run.operands, (std::vector<std::string>{"--help", "b c.wav"}));
  EXPECT_EQ(BuildCommandLine(run.operands), u"--help \"b c.wav\"");
}

TEST_F(ShellInput, CommandLineWithAQuotedPathAndMoreArgumentsPlaysThatPath) {
  const std::string dir = TempDir() + "/with blank";
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/quoted.wav";
  std::filesystem::copy_file(MakeWav("source.wav"), path, std::filesystem::copy_options::overwrite_existing);
  Start(BuildCommandLine({path, "more", "args"}));
  ASSERT_TRUE(currentPlayer);
  EXPECT_EQ(Narrow(shell::currentPath), path);
  EXPECT_EQ(Title(), u"Tonaria - [quoted.wav][Playing]");
  EXPECT_EQ(FileMenu(), kPlayingMenu);
}

TEST_F(ShellInput, CommandLineWithABareNamePlaysWithAnEmptyNamePart) {
  MakeWav("bare.wav");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(TempDir());
  Start(u"bare.wav");
  std::filesystem::current_path(previous);
  ASSERT_TRUE(currentPlayer);
  EXPECT_EQ(devices.created.size(), 1u) << "the bare name is opened and played";
  EXPECT_EQ(Title(), u"Tonaria - [][Playing]");
}

TEST_F(ShellInput, AboutBoxShowsDialog103AndClosesWithOk) {
  Start();
  bool sawTexts = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Tonaria 0.2009.5.6065"));
    QStringList labels;
    for (QLabel* label : dialog->findChildren<QLabel*>()) labels << label->text();
    sawTexts = labels.contains(QStringLiteral("Support mp3, wma, ogg, wav, ape and flac formats.")) &&
               labels.filter(QStringLiteral("libogg & libvorbis [")).size() == 1;
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
      if (button->text() == QStringLiteral("&OK")) button->click();
    }
  });
  QTimer::singleShot(std::chrono::milliseconds(testing_support::kBound).count(), [] {
    if (QWidget* stuck = QApplication::activeModalWidget()) stuck->close();
  });
  Command(IDM_ABOUT);
  EXPECT_TRUE(sawTexts);
}

TEST(AboutDlgProc, HandlesInitOkAndCancelOnly) {
  struct RecordingDialog final : qt::Dialog {
    std::intptr_t ended = -1;
    void EndDialog(std::intptr_t result) override { ended = result; }
    std::u16string ControlText(int) const override { return {}; }
    QDialog* Widget() override { return nullptr; }
  } dialog;
  EXPECT_EQ(AboutDlgProc(&dialog, qt::WM_INITDIALOG, 0, 0), 1);
  EXPECT_EQ(AboutDlgProc(&dialog, qt::WM_COMMAND, 7, 0), 0);
  EXPECT_EQ(dialog.ended, -1);
  EXPECT_EQ(AboutDlgProc(&dialog, qt::WM_COMMAND, 2, 0), 1);
  EXPECT_EQ(dialog.ended, 2);
  EXPECT_EQ(AboutDlgProc(&dialog, qt::WM_COMMAND, 1, 0), 1);
  EXPECT_EQ(dialog.ended, 1);
  EXPECT_EQ(AboutDlgProc(&dialog, qt::WM_PAINT, 0, 0), 0);
}

}  // namespace
}  // namespace app_testing
