// Without a display: each failure is one line naming the file, and the exit code
// says whether any of the file reached the output.
#include "app/headless_reports.h"

#include <atomic>
#include <thread>

#include "app/shell.h"
#include "platform/ui/message_box.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/audio_fixtures.h"

namespace app_testing {
namespace {

struct LineRow {
  std::u16string file;
  std::u16string message;
  std::string line;
};

TEST(HeadlessReports, EveryReportIsOneLineThatNamesTheFile) {
  const LineRow rows[] = {
      {.file = u"/a b.wav", .message = u"One.\nTwo.", .line = "tonaria: /a b.wav: One. Two.\n"},
      {.file = u"/a.wav", .message = u"1.\r\n2.\r3.", .line = "tonaria: /a.wav: 1.  2. 3.\n"},
      {.file = u"/a\nb.wav", .message = u"x", .line = "tonaria: /a b.wav: x\n"},
      {.file = u"", .message = u"No file.", .line = "tonaria: No file.\n"},
      // A name that is not UTF-8 is written with its own bytes.
      {.file = Wide("/caf\xE9.wav"), .message = u"x", .line = "tonaria: /caf\xE9.wav: x\n"},
  };
  for (const LineRow& row : rows) {
    EXPECT_EQ(app::headless::ReportLine(row.file, row.message), row.line);
  }
}

// Boxes come from the window's thread and the playback thread at once; their lines
// must go out one at a time. The writer notes any call made while another is in it.
std::atomic<int> writersInside{0};
std::atomic<bool> overlapped{false};
std::atomic<int> linesWritten{0};

void DetectingWriter(const std::string&) {
  if (writersInside.fetch_add(1) != 0) overlapped = true;
  for (int i = 0; i < 200; ++i) std::this_thread::yield();  // stays inside a while
  writersInside.fetch_sub(1);
  ++linesWritten;
}

TEST(HeadlessReports, LinesFromTwoThreadsGoOutOneAtATime) {
  linesWritten = 0;
  overlapped = false;
  const platform::ui::MessageBoxSink previous = platform::ui::SetMessageBoxSink({});
  app::headless::InstallReports(DetectingWriter);
  const auto say = [] {
    for (int i = 0; i < 300; ++i) {
      platform::ui::MessageBox(nullptr, u"line", u"Error", platform::ui::MB_ICONEXCLAMATION);
    }
  };
  std::thread other(say);
  say();
  other.join();
  app::headless::InstallReports();  // back to standard error
  platform::ui::SetMessageBoxSink(previous);
  EXPECT_EQ(linesWritten.load(), 600);
  EXPECT_FALSE(overlapped.load()) << "two lines were being written at once";
}

struct HeadlessCase {
  const char* name;
  int frames = 8820;
  std::uint32_t deviceRows = 1;
  int startResult = 1;
  bool deviceFailed = false;
  int exitCode = 0;
  const char16_t* line = nullptr;  // the one line written, null for none
};
void PrintTo(const HeadlessCase& c, std::ostream* os) { *os << c.name; }

class HeadlessShell : public ShellTest, public ::testing::WithParamInterface<HeadlessCase> {};

TEST_P(HeadlessShell, ExitsZeroOnlyWhenTheFilePlayedAndSaysWhyNot) {
  const HeadlessCase& c = GetParam();
  shell::headless = true;  // until the fixture's tear-down
  devices.rows = c.deviceRows;
  devices.next->full = false;  // the output takes all it is given
  devices.next->startResult = c.startResult;
  devices.next->deviceFailed = c.deviceFailed;
  Start(Wide(MakeWav(std::string(c.name) + ".wav", c.frames)));
  std::optional<int> exitCode;
  ASSERT_TRUE(PumpUntil([&] { return (exitCode = platform::qt::TakePendingQuit()).has_value(); }));
  EXPECT_EQ(*exitCode, c.exitCode);
  if (c.line == nullptr) {
    EXPECT_EQ(boxes->Count(), 0u);
  } else {
    ASSERT_EQ(boxes->Count(), 1u);
    EXPECT_EQ(boxes->Boxes().front().text, c.line);
  }
}

const HeadlessCase kHeadlessCases[] = {
    {.name = "Played"},
    {.name = "NoFrames",
     .frames = 0,
     .exitCode = 2,
     .line = u"no audio could be decoded from this file"},
    {.name = "NoOutput",
     .deviceRows = 0,
     .exitCode = 2,
     .line = u"no sound output could be opened"},
    {.name = "OutputDoesNotStart",
     .startResult = 0,
     .exitCode = 2,
     .line = u"the sound output would not start"},
    {.name = "SoundServerGone",
     .deviceFailed = true,
     .exitCode = 3,
     .line = u"the sound server went away"},
};
INSTANTIATE_TEST_SUITE_P(Files, HeadlessShell, ::testing::ValuesIn(kHeadlessCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace app_testing
