// Files reaching the shell by drops and the command line; the About box.
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

using ShellInput = ShellTest;

TEST_F(ShellInput, ADropOfTwoFilesStartsNothingAndClearsFileReady) {
  Start();
  shell::fileReady = 1;
  Drop({MakeWav("one.wav"), MakeWav("two.wav")});
  EXPECT_FALSE(currentPlayer);
  EXPECT_EQ(shell::fileReady.load(), 0);
  EXPECT_EQ(Title(), u"Tonaria");
}

// A drop replaces what plays or is paused; the replaced playback's late end notice
// never overwrites the title.
TEST_F(ShellInput, ADropReplacesWhatPlaysOrIsPausedAndTheOldEndNoticeChangesNothing) {
  for (const bool paused : {false, true}) {
    SCOPED_TRACE(paused ? "paused" : "playing");
    Start();
    Drop({MakeWav("first.wav")});
    ASSERT_TRUE(currentPlayer);
    EXPECT_EQ(Title(), u"Tonaria - [first.wav][Playing]");
    EXPECT_EQ(shell::fileReady.load(), 1);
    EXPECT_EQ(boxes->Count(), 0u);
    if (paused) Command(IDM_PAUSE);
    const std::uint64_t firstSerial = currentPlayer->Serial();
    Drop({MakeWav("second.wav")});
    ASSERT_TRUE(currentPlayer);
    EXPECT_NE(currentPlayer->Serial(), firstSerial);
    EXPECT_TRUE(Narrow(currentPlayer->filePath).ends_with("second.wav"));
    PumpPending();  // the first playback's end notice is still queued; let it arrive
    Window().SendMessage(WM_PLAYBACK_ENDED, firstSerial, 0);
    EXPECT_EQ(Title(), u"Tonaria - [second.wav][Playing]");
    CloseShell();
  }
}

// A dropped file of another type, or with a path the shell cannot hold whole, is
// refused with one box, and nothing plays. (Named on the command line: e2e_headless.sh.)
TEST_F(ShellInput, UnsupportedAndOverLongFilesAreRefusedNotCut) {
  const std::string notes = TempPath("notes.txt");
  std::ofstream(notes) << "not audio";
  const std::string deep = TempDir() + "/" + std::string(200, 'd');
  std::filesystem::create_directories(deep);
  const std::string overLong = deep + "/" + std::string(60, 'f') + ".wav";
  std::ofstream(overLong) << "x";
  Start();
  for (const auto& [path, message] :
       {std::pair{overLong, kPathTooLongText}, std::pair{notes, kUnsupportedFileText}}) {
    SCOPED_TRACE(path.substr(0, 40));
    boxes->Clear();
    Drop({path});
    EXPECT_FALSE(currentPlayer);
    EXPECT_EQ(shell::fileReady.load(), 0);
    EXPECT_EQ(Title(), u"Tonaria");
    if (message == kPathTooLongText) {
      EXPECT_EQ(shell::currentPath[0], u'\0') << "a path too long is not cut";
    }
    const auto shown = boxes->Boxes();
    EXPECT_EQ(shown.size(), 1u);
    for (const auto& box : shown) {  // every row is checked, whatever an earlier one did
      EXPECT_EQ(box.text, message);
      EXPECT_EQ(box.caption, u"Error");
      EXPECT_EQ(box.flags, 0x30u);
      EXPECT_EQ(box.owner, app::MainWindow());
    }
  }
}

// The command line comes as the shell split it: each argument whole, byte for byte;
// the first file is made absolute.
TEST(CommandLine, GivesTheActionAndTheFirstFileMadeAbsolute) {
  using enum OptionAction;
  struct Row {
    std::vector<const char*> arguments;  // after the program's name
    std::string file = {};               // relative to the current folder unless it starts with '/'
    std::vector<std::string> others = {};
    bool newInstance = false;
    OptionAction action = kRun;
  };
  const Row rows[] = {
      {.arguments = {}},
      {.arguments = {"--new-instance", "a.wav"}, .file = "a.wav", .newInstance = true},
      {.arguments = {"a.wav", "--new-instance", "b.wav"},
       .file = "a.wav",
       .others = {"b.wav"},
       .newInstance = true},
      {.arguments = {"--", "--new-instance"}, .file = "--new-instance"},
      {.arguments = {"./tone.wav"}, .file = "tone.wav"},
      {.arguments = {"say \"hi\".wav"}, .file = "say \"hi\".wav"},
      {.arguments = {"caf\xE9.wav"}, .file = "caf\xE9.wav"},
      {.arguments = {"/music/a b.wav"}, .file = "/music/a b.wav"},
      {.arguments = {"a.wav", "b.wav", "c d.wav"}, .file = "a.wav", .others = {"b.wav", "c d.wav"}},
      {.arguments = {"-"}, .file = "-"},
      {.arguments = {"--", "--help", "-h"}, .file = "--help", .others = {"-h"}},
      {.arguments = {"x.wav", "-h"}, .file = "x.wav", .action = kHelp},
      {.arguments = {"--help"}, .action = kHelp},
      {.arguments = {"--version"}, .action = kVersion},
      {.arguments = {"--loud"}, .action = kUsageError},
      {.arguments = {"-x"}, .action = kUsageError},
  };
  const std::string here = std::filesystem::current_path().string();
  for (const Row& row : rows) {
    std::vector<const char*> argv{"tonaria"};
    argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
    SCOPED_TRACE(::testing::PrintToString(argv));
    const ParsedOptions parsed = ParseOptions(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(parsed.action, row.action);
    EXPECT_EQ(parsed.file,
              row.file.empty() || row.file[0] == '/' ? row.file : here + "/" + row.file);
    EXPECT_EQ(parsed.others, row.others);
    EXPECT_EQ(parsed.newInstance, row.newInstance);
  }
}

// The files after the first are named in one line: the first of them, and a count.
TEST(CommandLine, IgnoredFilesAreNamedInOneLineWithTheirCount) {
  struct Row {
    std::vector<std::string> others;
    std::string named;  // what the line names after its fixed start; none for no line
  };
  const Row rows[] = {
      {.others = {}, .named = ""},
      {.others = {"b.wav"}, .named = "b.wav"},
      {.others = {"b.wav", "c.wav"}, .named = "b.wav and 1 more"},
      {.others = {"b.wav", "c.wav", "d.wav", "e.wav"}, .named = "b.wav and 3 more"},
  };
  for (const Row& row : rows) {
    ParsedOptions options;
    options.others = row.others;
    EXPECT_EQ(IgnoredFilesLine(options),
              row.named.empty() ? "" : "tonaria: one file at a time: ignoring " + row.named + "\n");
  }
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
  bool closedByOk = false;
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
    closedByOk = !dialog->isVisible();
  });
  QTimer::singleShot(std::chrono::milliseconds(testing_support::kBound).count(), [] {
    if (QWidget* stuck = QApplication::activeModalWidget()) stuck->close();
  });
  Command(IDM_ABOUT);
  QApplication::setFont(desktopFont);
  EXPECT_TRUE(closedByOk);
  EXPECT_EQ(pointSize, 9);
  EXPECT_EQ(labels.size(), 7);
  EXPECT_TRUE(labels.contains(QStringLiteral("Support mp3, wma, ogg, wav, ape and flac formats.")));
  EXPECT_EQ(labels.filter(QStringLiteral("libogg & libvorbis [")).size(), 1);
  EXPECT_TRUE(cut.isEmpty()) << "cut off: " << cut.join(QStringLiteral(" | ")).toStdString();
}

TEST(AboutDlgProc, OkAndCancelEndTheDialogAndNothingElseDoes) {
  struct RecordingDialog final : qt::Dialog {
    std::intptr_t ended = -1;
    void EndDialog(std::intptr_t result) override { ended = result; }
    std::u16string ControlText(int) const override { return {}; }
    QDialog* Widget() override { return nullptr; }
  } dialog;
  EXPECT_EQ(AboutDlgProc(&dialog, qt::WM_INITDIALOG, 0, 0), 1);
  EXPECT_EQ(AboutDlgProc(&dialog, qt::WM_COMMAND, 7, 0), 0);
  EXPECT_EQ(dialog.ended, -1);
  for (std::intptr_t id : {2, 1}) {
    EXPECT_EQ(AboutDlgProc(&dialog, qt::WM_COMMAND, id, 0), 1);
    EXPECT_EQ(dialog.ended, id);
  }
}

}  // namespace
}  // namespace app_testing
