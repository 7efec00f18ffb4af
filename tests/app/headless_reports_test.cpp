// Without a display: each failure is one line naming the file, and the exit code
// says whether any of the file reached the output.
#include "app/headless_reports.h"

#include <filesystem>

#include "app/shell.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/audio_fixtures.h"

namespace app_testing {
namespace {

using testing_support::TempDir;
using testing_support::TempPath;

TEST(HeadlessReports, OneLineThatNamesTheFileAndSaysWhy) {
  EXPECT_EQ(app::headless::ReportLine(u"/m/a b.wav", u"First.\nSecond."),
            "tonaria: /m/a b.wav: First. Second.\n");
  EXPECT_EQ(app::headless::ReportLine(u"", u"No file."), "tonaria: No file.\n");
  EXPECT_EQ(app::headless::ReportLine(Wide("/m/caf\xE9.wav"), u"x"), "tonaria: /m/caf\xE9.wav: x\n")
      << "a name that is not UTF-8 is written with its own bytes";

  using app::headless::NothingPlayedReason;
  EXPECT_EQ(NothingPlayedReason(TempPath("missing.wav"), shell::Prepared::kNoFormat),
            u"No such file or directory");
  EXPECT_EQ(NothingPlayedReason(TempDir(), shell::Prepared::kNoFormat), u"Is a directory");
}

struct HeadlessCase {
  const char* name;
  int frames;
  std::uint32_t deviceRows;
  int exitCode;
  const char16_t* line;  // the one line written, null for none
};
void PrintTo(const HeadlessCase& c, std::ostream* os) { *os << c.name; }

class HeadlessShell : public ShellTest, public ::testing::WithParamInterface<HeadlessCase> {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    shell::headless = true;
  }
  void TearDown() override {
    ShellTest::TearDown();
    shell::headless = false;
  }
};

TEST_P(HeadlessShell, ExitsZeroOnlyWhenSomeOfTheFileReachedTheOutput) {
  const HeadlessCase& c = GetParam();
  devices.rows = c.deviceRows;
  devices.next->full = false;  // the output takes all it is given
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

INSTANTIATE_TEST_SUITE_P(
    Files, HeadlessShell,
    ::testing::Values(HeadlessCase{"Played", 8820, 1, 0, nullptr},
                      HeadlessCase{"NoFrames", 0, 1, 2,
                                   u"no audio could be decoded from this file"},
                      HeadlessCase{"NoOutput", 8820, 0, 2, u"no sound output could be opened"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace app_testing
