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
using shell::currentPlayer;
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

// The command line comes as the shell split it: each argument whole, byte for byte.
struct ArgumentsCase {
  const char* name;
  std::vector<const char*> arguments;  // after the program's name
  OptionAction action;
  std::string file;  // relative to the current folder unless it starts with '/'
  std::vector<std::string> others;
};
void PrintTo(const ArgumentsCase& c, std::ostream* os) { *os << c.name; }

class Arguments : public ::testing::TestWithParam<ArgumentsCase> {};

TEST_P(Arguments, GiveTheActionAndTheFirstFileMadeAbsolute) {
  const ArgumentsCase& c = GetParam();
  std::vector<const char*> argv{"tonaria"};
  argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
  const ParsedOptions parsed = ParseOptions(static_cast<int>(argv.size()), argv.data());
  EXPECT_EQ(parsed.action, c.action);
  const std::string here = std::filesystem::current_path().string();
  const std::string file = c.file.empty() || c.file.front() == '/' ? c.file : here + "/" + c.file;
  EXPECT_EQ(parsed.file, file);
  EXPECT_EQ(parsed.others, c.others);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, Arguments,
    ::testing::Values(
        ArgumentsCase{"None", {}, OptionAction::kRun, "", {}},
        ArgumentsCase{"RelativeName", {"tone.wav"}, OptionAction::kRun, "tone.wav", {}},
        ArgumentsCase{"DotSlash", {"./tone.wav"}, OptionAction::kRun, "tone.wav", {}},
        ArgumentsCase{"QuotesAndBlanksAreTheNames",
                      {"say \"hi\".wav"},
                      OptionAction::kRun,
                      "say \"hi\".wav",
                      {}},
        ArgumentsCase{"NotUtf8", {"caf\xE9.wav"}, OptionAction::kRun, "caf\xE9.wav", {}},
        ArgumentsCase{"AbsoluteKept", {"/music/a b.wav"}, OptionAction::kRun, "/music/a b.wav", {}},
        ArgumentsCase{
            "TwoFilesFirstPlays", {"/a.wav", "/b.wav"}, OptionAction::kRun, "/a.wav", {"/b.wav"}},
        ArgumentsCase{"ManyFiles",
                      {"a.wav", "b.wav", "c d.wav"},
                      OptionAction::kRun,
                      "a.wav",
                      {"b.wav", "c d.wav"}},
        ArgumentsCase{"DashIsAFile", {"-"}, OptionAction::kRun, "-", {}},
        ArgumentsCase{"EndOfOptions", {"--", "--help", "-h"}, OptionAction::kRun, "--help", {"-h"}},
        ArgumentsCase{"ShortHelp", {"x.wav", "-h"}, OptionAction::kHelp, "x.wav", {}},
        ArgumentsCase{"LongHelp", {"--help"}, OptionAction::kHelp, "", {}},
        ArgumentsCase{"Version", {"--version"}, OptionAction::kVersion, "", {}},
        ArgumentsCase{"UnknownLong", {"--loud"}, OptionAction::kUsageError, "", {}},
        ArgumentsCase{"UnknownShort", {"-x"}, OptionAction::kUsageError, "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShellInput, AFileNamedFromItsFolderPlaysUnderItsOwnName) {
  const std::string name = "say \"hi\".wav";
  const std::string path = MakeWav(name);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(TempDir());
  const char* argv[] = {"tonaria", name.c_str(), "second.wav"};
  const ParsedOptions parsed = ParseOptions(3, argv);
  std::filesystem::current_path(previous);
  Start(Wide(parsed.file));
  ASSERT_TRUE(currentPlayer);
  EXPECT_EQ(Narrow(shell::currentPath), std::filesystem::weakly_canonical(path).string());
  EXPECT_EQ(Title(), u"Tonaria - [say \"hi\".wav][Playing]");
  EXPECT_EQ(FileMenu(), kPlayingMenu);
}

// Every line of the About box is whole: measured in the font it is drawn with, the
// text fits its control, and the control lies inside the dialog.
TEST_F(ShellInput, AboutBoxShowsEveryLineWholeInItsNinePointFontAndClosesWithOk) {
  Start();
  // A desktop whose own font is larger than the dialog's.
  const QFont desktopFont = QApplication::font();
  QFont large = desktopFont;
  large.setPointSize(14);
  QApplication::setFont(large);
  QStringList labels;
  QStringList cut;
  int pointSize = 0;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(),
              QStringLiteral("Tonaria ") + QString::fromStdU16String(kVersion));
    pointSize = dialog->font().pointSize();
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
      labels << label->text();
      const QFontMetrics metrics = label->fontMetrics();
      const QRect room = label->contentsRect();
      if (metrics.horizontalAdvance(label->text()) > room.width() ||
          metrics.height() > room.height() || !dialog->rect().contains(label->geometry())) {
        cut << label->text();
      }
    }
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
      if (button->fontMetrics().horizontalAdvance(QStringLiteral("OK")) > button->width())
        cut << button->text();
      if (button->text() == QStringLiteral("&OK")) button->click();
    }
  });
  QTimer::singleShot(std::chrono::milliseconds(testing_support::kBound).count(), [] {
    if (QWidget* stuck = QApplication::activeModalWidget()) stuck->close();
  });
  Command(IDM_ABOUT);
  QApplication::setFont(desktopFont);
  EXPECT_EQ(pointSize, 9);
  EXPECT_EQ(labels.size(), 7);
  EXPECT_TRUE(labels.contains(QStringLiteral("Support mp3, wma, ogg, wav, ape and flac formats.")));
  EXPECT_EQ(labels.filter(QStringLiteral("libogg & libvorbis [")).size(), 1);
  EXPECT_TRUE(cut.isEmpty()) << "cut off: " << cut.join(QStringLiteral(" | ")).toStdString();
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
